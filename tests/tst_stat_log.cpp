// The statistics log: one row per poll in "log.db" of the working
// directory, in a table named after the unit's serial number, read back
// through a connection of its own as any SQLite tool would; and the log
// when its database cannot be written.
#include "testsupport.h"

#include "history_data.h"
#include "stat_log.h"
#include "ui_wireless_video_link.h"
#include "wireless_video_link.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include <csignal>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace testsupport;

namespace {

// Root writes anywhere: a folder without write permission stops it only
// once this thread has put down the capabilities that override file
// permissions. The log's SQLite calls run on this thread.
struct PermissionsApply
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2]{};
    bool active = false;
    PermissionsApply()
    {
        if (geteuid() != 0 || syscall(SYS_capget, &header, saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved[0], saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        active = syscall(SYS_capset, &header, reduced) == 0;
    }
    ~PermissionsApply()
    {
        if (active)
            syscall(SYS_capset, &header, saved);
    }
};

// The log's columns but the time, as "name=value ...", in the table's order.
QString text_of(const statlog::LogRecord& r)
{
    QStringList out;
    for (const history::Field& f : history::fields())
        out << QString("%1=%2").arg(f.name).arg(f.get(r));
    return out.join(' ');
}

// The rows a statement gives on "log.db", read through a read-only
// connection of its own: the first column alone, or "name=value" of the
// others (the time left out) as text_of writes them.
QStringList query(const QString& statement, bool values = false)
{
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "reader");
        db.setDatabaseName(QDir::current().absoluteFilePath("log.db"));
        db.setConnectOptions("QSQLITE_OPEN_READONLY");
        QSqlQuery q(db);
        for (bool ok = db.open() && q.exec(statement); ok && q.next();) {
            QStringList fields;
            for (int i = values ? 1 : 0; i < (values ? q.record().count() : 1); ++i)
                fields << (values ? q.record().fieldName(i) + '=' : QString()) + q.value(i).toString();
            rows << fields.join(' ');
        }
    }
    QSqlDatabase::removeDatabase("reader");
    return rows;
}

QStringList rows_of(const QString& table, bool values = false)
{
    return query(QString("select * from %1 order by time").arg(statlog::quoted_identifier(table)), values);
}

QStringList tables() { return query("select name from sqlite_master where type = 'table' order by name"); }

bool log_open() { return QSqlDatabase::database(QSqlDatabase::defaultConnection, false).isOpen(); }

// How many debug lines hold `part`, in any case.
int mentions(const DebugCapture& capture, const QString& part)
{
    return capture.lines().filter(part, Qt::CaseInsensitive).size();
}

} // namespace

class StatLogTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir root;
    QString original_dir, folder;
    int dir_counter = 0;
    std::unique_ptr<Wireless_Video_Link> w;
    std::shared_ptr<sim::SimDevice> dev;
    QSqlDatabase locker; // another connection holding the file locked, as another program would
    const QString kTable = "SNQL24G0000001";

    // A connected ground unit whose poll runs only when the test says so.
    void connect_unit()
    {
        dev = plug();
        QCOMPARE(w->open_device(true), 0);
        w->on_pushButton_GET_SN_clicked();
        w->poll_timer()->stop();
        QCOMPARE(w->serial_number, QString("QL24G0000001"));
    }

    void poll_once()
    {
        w->poll_status();
        w->poll_timer()->stop(); // the serial refresh restarts it
    }

    void end_faults()
    {
        if (locker.isValid()) {
            locker.close();
            locker = QSqlDatabase();
            QSqlDatabase::removeDatabase("locker");
        }
        const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &unlimited);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

private slots:
    void initTestCase()
    {
        init_resources();
        original_dir = QDir::currentPath();
        // A file grown past the size limit fails its write instead of
        // ending the process, as on a full disk.
        signal(SIGXFSZ, SIG_IGN);
    }
    void cleanupTestCase() { QDir::setCurrent(original_dir); }

    void init()
    {
        reset_bus();
        folder = root.filePath(QString::number(++dir_counter));
        QVERIFY(QDir().mkpath(folder) && QDir::setCurrent(folder));
        w = std::make_unique<Wireless_Video_Link>();
    }

    void cleanup()
    {
        end_faults();
        w.reset(); // closes the log
        QVERIFY(!log_open());
        dev.reset();
        reset_bus();
    }

    // Bytes widened without sign extension, words whole, and bound as such.
    void record_from_status_bytes()
    {
        const QByteArray st = QByteArray::fromHex("ad160000 00286bee 0b000000 fc000080 0c000000 0d000000 06000000 "
                                                  "000015f0 ff168137 04000000 03000000 ffffffff d2040000 63000000 "
                                                  "feffffff 21000000");
        const QByteArray st2 = QByteArray::fromHex("00000000 39c80000 00000000 00000000");
        const statlog::LogRecord record = statlog::make_log_record(reinterpret_cast<const unsigned char*>(st.data()),
                                                                   reinterpret_cast<const unsigned char*>(st2.data()));
        QCOMPARE(statlog::open_log("X"), 0);
        QCOMPARE(statlog::insert_row(record, "2026-01-01 00:00:00"), 0);
        QCOMPARE(rows_of("SNX", true), QStringList{text_of(record)});
        QCOMPARE(text_of(record),
                 QString("freq=5805 G_LDPC_PASS=4000000000 G_LDPC_FAIL=11 G_RSSI_1=255 G_RSSI_2=200 G_SNR=21 "
                         "G_rf_power=-2147483396 A_LDPC_PASS=12 A_LDPC_FAIL=13 A_RSSI_1=55 A_RSSI_2=57 A_SNR=22 "
                         "A_rx_power=-1 downlink=6 range=1234 a_VGA=129 g_VGA=240 grd_link_status=4 "
                         "air_link_status=3 eth_lost_packet=99 eth_rev_packet=4294967294 antenna_status=1 "
                         "current_antenna=2"));
    }

    // Whatever the serial number, its rows go into a table of its own whose
    // name no serial can end, and no other table changes; rows of another
    // day or run stay, one per second.
    void serial_tables_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("identifier");
        QTest::newRow("serial") << "QL24G0000001" << "\"SNQL24G0000001\"";
        QTest::newRow("empty: SNUnknown") << "" << "\"SNUnknown\"";
        QTest::newRow("quote") << "x\"; DROP TABLE SNvictim; --" << "\"SNx\"\"; DROP TABLE SNvictim; --\"";
        QTest::newRow("x\"") << "x\"" << "\"SNx\"\"\"";
        for (const char* s : {"a'b", "a;b", "a`b]c[", "main.SNvictim", "a (b", "--"})
            QTest::newRow(s) << QString(s) << QString("\"SN%1\"").arg(s);
        QTest::newRow("control characters") << "a\tb\n" + QString(QChar(0)) << "\"SNa_b__\"";
    }

    void serial_tables()
    {
        QFETCH(QString, serial);
        QFETCH(QString, identifier);
        const QString table = serial.isEmpty() ? "SNUnknown" : "SN" + serial;
        QCOMPARE(statlog::table_name(serial), table);
        QCOMPARE(statlog::quoted_identifier(table), identifier);
        w->serial_number = "victim";
        w->set_record_enabled(true);
        QCOMPARE(statlog::insert_row(statlog::LogRecord(), "2026-03-01 10:00:00"), 0);
        w->set_record_enabled(false);
        w->serial_number = serial;
        w->set_record_enabled(true);
        QCOMPARE(statlog::current_table(), table);
        QCOMPARE(statlog::insert_row(statlog::LogRecord(), "2026-03-01 10:00:00"), 0);
        QCOMPARE(statlog::insert_row(statlog::LogRecord(), "2026-03-02 10:00:00"), 0);
        w->set_record_enabled(false);
        w->set_record_enabled(true);
        QCOMPARE(w->insert_log_row(), 0);
        // The same second twice (the poll's timer is a coarse one) is still
        // one row, and no failure that would stop recording.
        QCOMPARE(statlog::insert_row(statlog::LogRecord(), "2026-03-02 10:00:00"), 0);
        const QString stored = identifier.mid(1, identifier.size() - 2).replace("\"\"", "\"");
        QVERIFY2(tables().contains(stored) && tables().size() == 2, qPrintable(tables().join(" | ")));
        QCOMPARE(rows_of("SNvictim").size(), 1);
        const QStringList rows = rows_of(stored);
        QCOMPARE(rows.mid(0, 2), (QStringList{"2026-03-01 10:00:00", "2026-03-02 10:00:00"}));
        QVERIFY(rows.size() == 3 && rows[2].startsWith(QDate::currentDate().toString("yyyy-MM-dd ")));
    }

    // Through the window: the record switch, a row per poll, the second
    // RSSI of the last secondary record that could be read.
    void poll_writes_one_row_per_poll()
    {
        connect_unit();
        sim::SimLink& link = dev->unit().link();
        link.pin([&](sim::Pins& p) { p.groundRssi1 = 45; p.groundRssi2 = 47; p.airRssi1 = 50; p.airRssi2 = 0xFF; });
        poll_once();
        QVERIFY(!QFileInfo::exists("log.db")); // recording is off

        DebugCapture capture;
        QCheckBox* box = w->form()->checkBox_record;
        QVERIFY(w->form()->page_status->isAncestorOf(box));
        box->click();
        QVERIFY(w->record_enabled && log_open() && capture.contains("table created!"));
        link.pin([&](sim::Pins& p) { p.groundRssi1 = 50; p.groundRssi2 = 51; p.airRssi1 = 52; p.airRssi2 = 53; });
        dev->failNext(sim::kReqDevStatus2, -7);
        const QString before = statlog::current_time_key();
        poll_once();
        const QStringList times = rows_of(kTable);
        QCOMPARE(times.size(), 1);
        QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$").match(times[0]).hasMatch());
        QVERIFY(times[0] >= before && times[0] <= statlog::current_time_key());
        const QString row = rows_of(kTable, true).value(0);
        QVERIFY2(row.contains("G_RSSI_1=50 G_RSSI_2=47 ") && row.contains("A_RSSI_1=52 A_RSSI_2=255 "),
                 qPrintable(row));
        QCOMPARE(mentions(capture, "record log failed!"), 0);

        // Switched on again the table exists: quietly, no second table.
        capture.clear();
        w->set_record_enabled(true);
        QVERIFY(!capture.contains("table created!") && !mentions(capture, "creat record file failed"));
        box->click();
        QVERIFY(!w->record_enabled && !log_open());
        poll_once();
        QCOMPARE(rows_of(kTable).size(), 1);
        w->set_record_enabled(true);
        QVERIFY(box->isChecked());
        // Two polls within one second of the clock: recording goes on.
        for (int tries = 0; tries < 5; ++tries) {
            const QString second = statlog::current_time_key();
            poll_once();
            poll_once();
            if (second == statlog::current_time_key() || !w->record_enabled)
                break;
        }
        QVERIFY(w->record_enabled);
    }

    // A fault of the database switches recording off, with the reason beside
    // the switch and in the debug lines; no fault holds the window for long
    // (SQLite would wait five seconds on a lock); rows written before stay,
    // and rows go in again once the fault is gone and recording is back on.
    void faults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("while_recording");
        QTest::addColumn<QString>("problem"); // shown beside the switch
        QTest::addColumn<QString>("mention");
        const QString open = "Not recording: ", row = "Recording stopped: ";
        QTest::newRow("folder not writable from the start") << "read-only" << false << open << "failed to connect.";
        QTest::newRow("a folder where the file should be") << "folder" << false << open << "failed to connect.";
        QTest::newRow("folder becomes read-only") << "read-only" << true << row << "record log failed!";
        // Writes past a file-size limit fail as on a full disk.
        QTest::newRow("disk full") << "full" << true << row << "disk I/O error";
        QTest::newRow("locked by another program") << "locked" << true << row << "locked";
        QTest::newRow("switched on while locked") << "locked" << false << row << "locked";
        QTest::newRow("a file that is no database") << "junk" << false << row << "not a database";
        QTest::newRow("the serial's table with other columns") << "foreign" << false << row << "has no column named";
        // A constraint failure is a fault unless it is the time key's own.
        QTest::newRow("the serial's table with a column it cannot fill")
            << "not null" << false << row << "NOT NULL constraint failed";
        QTest::newRow("database closed under the log") << "closed" << true << row << "open db file failed";
    }

    void faults()
    {
        QFETCH(QString, fault);
        QFETCH(bool, while_recording);
        QFETCH(QString, problem);
        connect_unit();
        QStringList before;
        if (while_recording) {
            w->set_record_enabled(true);
            QCOMPARE(statlog::insert_row(statlog::LogRecord(), "2026-01-01 00:00:00"), 0);
            QCOMPARE((before = rows_of(kTable)).size(), 1);
        }
        std::unique_ptr<PermissionsApply> permissions;
        const rlimit full{512, RLIM_INFINITY};
        QFile file("log.db");
        if (fault == "read-only") {
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
            permissions = std::make_unique<PermissionsApply>();
        } else if (fault == "folder") {
            QVERIFY(QDir().mkdir("log.db"));
        } else if (fault == "full") {
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &full), 0);
        } else if (fault == "locked" || fault == "foreign" || fault == "not null") {
            locker = QSqlDatabase::addDatabase("QSQLITE", "locker");
            locker.setDatabaseName(QDir::current().absoluteFilePath("log.db"));
            QVERIFY(locker.open());
            // Not recording yet: the file is a database of another program,
            // a foreign one with a table of the serial's name.
            QString other = fault == "foreign" ? kTable + "(a int, b text)" : "other(x int)";
            if (fault == "not null")
                other = statlog::create_statement(kTable).mid(13).replace("current_antenna Tinyint)",
                                                                          "current_antenna Tinyint, extra int not null)");
            QVERIFY(while_recording || QSqlQuery(locker).exec("create table " + other));
            QVERIFY(fault != "foreign" || QSqlQuery(locker).exec("insert into " + kTable + " values (7, 'kept')"));
            QVERIFY(fault != "locked" || QSqlQuery(locker).exec("BEGIN EXCLUSIVE"));
        } else if (fault == "junk") {
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray("Not a database. ").repeated(900)) > 0);
        } else if (fault == "closed") {
            QSqlDatabase::database(QSqlDatabase::defaultConnection, false).close();
        }

        file.close();
        QByteArray kept; // a file of another program, left as it was
        if ((fault == "junk" || fault == "foreign" || fault == "not null") && file.open(QIODevice::ReadOnly))
            kept = file.readAll();
        file.close();
        DebugCapture capture;
        QElapsedTimer clock;
        clock.start();
        if (!while_recording)
            w->form()->checkBox_record->setChecked(true);
        poll_once();
        poll_once();
        QVERIFY2(clock.elapsed() < 4000, qPrintable(QString("the window stood still for %1 ms").arg(clock.elapsed())));
        // Recording goes off at the first failure and says why.
        QVERIFY(!w->record_enabled && !w->form()->checkBox_record->isChecked());
        auto* reason = w->findChild<QLabel*>("label_record_problem");
        QVERIFY(reason && !reason->isHidden() && reason->text().startsWith(problem));
        QFETCH(QString, mention);
        QVERIFY2(mentions(capture, mention), qPrintable(capture.lines().join(" | ")));
        QVERIFY(!capture.contains("table created!"));
        const bool at_open = problem.startsWith("Not");
        QCOMPARE(mentions(capture, "creat record file failed!"), at_open ? 1 : 0);
        QCOMPARE(mentions(capture, "record log failed!"), at_open ? 0 : 1);

        permissions.reset();
        end_faults();
        if (!kept.isEmpty()) {
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), kept);
            QVERIFY(!QFileInfo::exists("log.db-journal"));
            return;
        }
        QVERIFY(fault != "folder" || QDir().rmdir("log.db"));
        // Switched on again, the next poll's row goes in after the earlier ones.
        w->set_record_enabled(true);
        QVERIFY(reason->isHidden());
        poll_once();
        const QStringList after = rows_of(kTable);
        QCOMPARE(after.mid(0, before.size()), before);
        QCOMPARE(after.size(), before.size() + 1);
    }
};

QTEST_MAIN(StatLogTest)
#include "tst_stat_log.moc"
