// The statistics log: one row per poll in "log.db" of the working
// directory, in a table named after the unit's serial number, with the
// values of that poll bound as the log's columns. Every test runs in a
// fresh working directory and reads the file back through its own
// connection, as any SQLite tool would.
#include "testsupport.h"

#include "stat_log.h"
#include "ui_wireless_video_link.h"
#include "wireless_video_link.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace testsupport;

namespace {
const char kReader[] = "reader";

// The exact statements, with the table name still to fill in.
const char kCreate[] =
    "create table %1(time VARCHAR(20) primary key, freq Smallint, G_LDPC_PASS int, G_LDPC_FAIL int, "
    "G_RSSI_1 Tinyint, G_RSSI_2 Tinyint, G_SNR Tinyint, G_rf_power Tinyint, A_LDPC_PASS int, "
    "A_LDPC_FAIL int, A_RSSI_1 Tinyint, A_RSSI_2 Tinyint,A_SNR Tinyint, A_rx_power Tinyint, downlink "
    "Tinyint, range int,a_VGA Tinyint, g_VGA Tinyint, grd_link_status Tinyint, air_link_status "
    "Tinyint,eth_lost_packet int, eth_rev_packet int, antenna_status Tinyint, current_antenna Tinyint)";
const char kInsert[] =
    "insert into %1(time, freq, G_LDPC_PASS, G_LDPC_FAIL, G_RSSI_1, G_RSSI_2, G_SNR, G_rf_power, "
    "A_LDPC_PASS, A_LDPC_FAIL, A_RSSI_1, A_RSSI_2, A_SNR, A_rx_power, downlink, range, a_VGA, g_VGA, "
    "grd_link_status, air_link_status, eth_lost_packet, eth_rev_packet,antenna_status, "
    "current_antenna) values (:time, :freq, :G_LDPC_PASS, :G_LDPC_FAIL, :G_RSSI_1, :G_RSSI_2,:G_SNR, "
    ":G_rf_power, :A_LDPC_PASS, :A_LDPC_FAIL, :A_RSSI_1, :A_RSSI_2,:A_SNR, :A_rx_power, :downlink, "
    ":range, :a_VGA, :g_VGA,:grd_link_status, :air_link_status, :eth_lost_packet, "
    ":eth_rev_packet,:antenna_status, :current_antenna)";

using Row = QMap<QString, QVariant>;

// Rows of a table, read through a separate connection on the file.
QList<Row> rows_of(const QString& table)
{
    QList<Row> rows;
    {
        QSqlDatabase db = QSqlDatabase::database(kReader);
        QSqlQuery q(db);
        QString quoted = table;
        quoted.replace('"', "\"\"");
        if (!q.exec(QString("select * from \"%1\" order by time").arg(quoted)))
            return rows;
        while (q.next()) {
            Row row;
            const QSqlRecord r = q.record();
            for (int i = 0; i < r.count(); ++i)
                row.insert(r.fieldName(i), r.value(i));
            rows << row;
        }
    }
    return rows;
}

QStringList tables()
{
    QStringList names;
    QSqlQuery q(QSqlDatabase::database(kReader));
    q.exec("select name from sqlite_master where type = 'table' order by name");
    while (q.next())
        names << q.value(0).toString();
    return names;
}

bool default_connection_open()
{
    return QSqlDatabase::contains(QSqlDatabase::defaultConnection)
           && QSqlDatabase::database(QSqlDatabase::defaultConnection, false).isOpen();
}

// Polls are one a second; the time key has whole seconds.
void wait_next_second()
{
    const QString now = statlog::current_time_key();
    QVERIFY(wait_for([&] { return statlog::current_time_key() != now; }, 1500));
}

bool debug_has_line(const DebugCapture& capture, const QString& start)
{
    for (const QString& line : capture.lines()) {
        if (line.trimmed() == start.trimmed())
            return true;
    }
    return false;
}

statlog::LogRecord sample_record(uint32_t freq)
{
    statlog::LogRecord r;
    r.freq = freq;
    r.g_ldpc_pass = 7;
    return r;
}
} // namespace

class StatLogTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir root;
    QString original_dir;
    int dir_counter = 0;
    std::unique_ptr<Wireless_Video_Link> w;
    std::shared_ptr<sim::SimDevice> dev;

    void open_reader()
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", kReader);
        db.setDatabaseName(QDir::current().absoluteFilePath("log.db"));
        QVERIFY(db.open());
    }

    // A connected ground unit whose poll runs only when the test says so.
    void connect_unit()
    {
        auto unit = make_ground_unit();
        dev = plug(unit);
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

private slots:
    void initTestCase()
    {
        init_resources();
        QVERIFY(root.isValid());
        original_dir = QDir::currentPath();
    }

    void cleanupTestCase()
    {
        QDir::setCurrent(original_dir);
    }

    void init()
    {
        reset_bus();
        const QString dir = root.filePath(QString::number(++dir_counter));
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(QDir::setCurrent(dir));
        w = std::make_unique<Wireless_Video_Link>();
    }

    void cleanup()
    {
        w.reset(); // closes the log
        dev.reset();
        reset_bus();
        QSqlDatabase::removeDatabase(kReader);
    }

    void table_names_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("identifier");
        QTest::newRow("serial") << "QL24G0000001" << "SNQL24G0000001" << "\"SNQL24G0000001\"";
        QTest::newRow("empty") << "" << "SNUnknown" << "\"SNUnknown\"";
        QTest::newRow("quote") << "x\"; DROP TABLE" << "SNx\"; DROP TABLE" << "\"SNx\"\"; DROP TABLE\"";
        QTest::newRow("control characters") << QString("a\nb") + QChar(0) << QString("SNa\nb") + QChar(0)
                                            << "\"SNa_b_\"";
    }

    void table_names()
    {
        QFETCH(QString, serial);
        QFETCH(QString, table);
        QFETCH(QString, identifier);
        QCOMPARE(statlog::table_name(serial), table);
        QCOMPARE(statlog::quoted_identifier(table), identifier);
    }

    void statements_are_the_log_layout()
    {
        QCOMPARE(statlog::create_statement("SN123"), QString(kCreate).arg("\"SN123\""));
        QCOMPARE(statlog::insert_statement("SN123"), QString(kInsert).arg("\"SN123\""));
    }

    void record_from_status_bytes()
    {
        unsigned char st[64] = {};
        unsigned char st2[16] = {};
        auto put32 = [&](int off, uint32_t v) {
            for (int i = 0; i < 4; ++i)
                st[off + i] = uint8_t(v >> (8 * i));
        };
        put32(0, 5805);
        put32(4, 4000000000u);
        put32(8, 11);
        put32(12, 0x800000FCu);
        put32(16, 12);
        put32(20, 13);
        st[24] = 6;
        st[30] = 21;
        st[31] = 0xF0; // g_VGA -16
        st[32] = 0xFF;
        st[33] = 22;
        st[34] = 0x81; // a_VGA -127
        st[35] = 55;
        put32(36, 4);
        put32(40, 3);
        put32(44, 0xFFFFFFFFu);
        put32(48, 1234);
        put32(52, 99);
        put32(56, 0xFFFFFFFEu);
        st[60] = 0x21;
        st2[4] = 57;
        st2[5] = 200;

        const statlog::LogRecord r = statlog::make_log_record(st, st2);
        QCOMPARE(r.freq, 5805u);
        QCOMPARE(r.g_ldpc_pass, 4000000000u);
        QCOMPARE(r.g_ldpc_fail, 11u);
        QCOMPARE(r.g_rf_power, int(0x800000FCu));
        QCOMPARE(r.a_ldpc_pass, 12u);
        QCOMPARE(r.a_ldpc_fail, 13u);
        QCOMPARE(r.downlink, 6);
        QCOMPARE(r.g_snr, 21);
        QCOMPARE(r.g_vga, 240); // the raw byte, not -16
        QCOMPARE(r.g_rssi_1, 255);
        QCOMPARE(r.a_snr, 22);
        QCOMPARE(r.a_vga, 129);
        QCOMPARE(r.a_rssi_1, 55);
        QCOMPARE(r.grd_link_status, 4u);
        QCOMPARE(r.air_link_status, 3u);
        QCOMPARE(r.a_rx_power, -1);
        QCOMPARE(r.range, 1234u);
        QCOMPARE(r.eth_lost_packet, 99u);
        QCOMPARE(r.eth_rev_packet, 0xFFFFFFFEu);
        QCOMPARE(r.antenna_status, 1);
        QCOMPARE(r.current_antenna, 2);
        QCOMPARE(r.a_rssi_2, 57);
        QCOMPARE(r.g_rssi_2, 200);
    }

    void poll_writes_one_row_with_its_values()
    {
        connect_unit();
        sim::SimLink& link = dev->unit().link();
        link.setAutoAdvance(false);
        link.setFrequency(2437);
        link.setGroundLdpc(4000000000u, 17);
        link.setAirLdpc(300, 4);
        link.setGroundRssi(45, 47);
        link.setAirRssi(50, 0xFF);
        link.setSnr(20, 21);
        link.setVga(-16, -3);
        link.setGroundRfPowerWord(0xABCD00E5u);
        link.setAirPowerWord(0x1234567Fu);
        link.setDownlinkCode(5);
        link.setRange(1234);
        link.setLinkStatus(4, 3);
        link.setEthCounters(9, 0xFFFFFFF0u);
        link.setAntennaByte(0x11);

        DebugCapture capture;
        w->set_record_enabled(true);
        QVERIFY(w->record_enabled);
        QVERIFY(capture.contains("table created!"));
        QVERIFY(QFileInfo::exists("log.db"));
        QVERIFY(w->form()->checkBox_record->isChecked());

        const QString before = statlog::current_time_key();
        poll_once();
        const QString after = statlog::current_time_key();
        QVERIFY(!debug_has_line(capture, "record log failed!"));

        open_reader();
        QVERIFY(tables().contains("SNQL24G0000001"));
        const QList<Row> rows = rows_of("SNQL24G0000001");
        QCOMPARE(rows.size(), 1);
        const Row& r = rows.first();
        QCOMPARE(r.size(), 24);
        const QString time = r["time"].toString();
        QVERIFY2(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$").match(time).hasMatch(),
                 qPrintable(time));
        QVERIFY(time >= before && time <= after);
        QCOMPARE(r["freq"].toLongLong(), 2437);
        QCOMPARE(r["G_LDPC_PASS"].toLongLong(), 4000000000LL);
        QCOMPARE(r["G_LDPC_FAIL"].toLongLong(), 17);
        QCOMPARE(r["G_RSSI_1"].toLongLong(), 45);
        QCOMPARE(r["G_RSSI_2"].toLongLong(), 47);
        QCOMPARE(r["G_SNR"].toLongLong(), 20);
        QCOMPARE(r["G_rf_power"].toLongLong(), qlonglong(int32_t(0xABCD00E5u)));
        QCOMPARE(r["A_LDPC_PASS"].toLongLong(), 300);
        QCOMPARE(r["A_LDPC_FAIL"].toLongLong(), 4);
        QCOMPARE(r["A_RSSI_1"].toLongLong(), 50);
        QCOMPARE(r["A_RSSI_2"].toLongLong(), 255);
        QCOMPARE(r["A_SNR"].toLongLong(), 21);
        QCOMPARE(r["A_rx_power"].toLongLong(), 0x1234567FLL);
        QCOMPARE(r["downlink"].toLongLong(), 5);
        QCOMPARE(r["range"].toLongLong(), 1234);
        QCOMPARE(r["a_VGA"].toLongLong(), 253);
        QCOMPARE(r["g_VGA"].toLongLong(), 240);
        QCOMPARE(r["grd_link_status"].toLongLong(), 4);
        QCOMPARE(r["air_link_status"].toLongLong(), 3);
        QCOMPARE(r["eth_lost_packet"].toLongLong(), 9);
        QCOMPARE(r["eth_rev_packet"].toLongLong(), 0xFFFFFFF0LL);
        QCOMPARE(r["antenna_status"].toLongLong(), 1);
        QCOMPARE(r["current_antenna"].toLongLong(), 1);

        // One more poll a second later: one more row.
        wait_next_second();
        link.setGroundRssi(60, 61);
        poll_once();
        const QList<Row> two = rows_of("SNQL24G0000001");
        QCOMPARE(two.size(), 2);
        QCOMPARE(two.at(1)["G_RSSI_1"].toLongLong(), 60);
        QCOMPARE(two.at(1)["G_RSSI_2"].toLongLong(), 61);
        QVERIFY(two.at(1)["time"].toString() > two.at(0)["time"].toString());
    }

    void rssi_2_comes_from_the_last_good_secondary_record()
    {
        connect_unit();
        sim::SimLink& link = dev->unit().link();
        link.setAutoAdvance(false);
        link.setGroundRssi(40, 41);
        link.setAirRssi(42, 43);
        poll_once(); // keeps 41 and 43
        w->set_record_enabled(true);
        link.setGroundRssi(50, 51);
        link.setAirRssi(52, 53);
        dev->failNext(0xE7, -7);
        poll_once();
        open_reader();
        const QList<Row> rows = rows_of("SNQL24G0000001");
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.at(0)["G_RSSI_1"].toLongLong(), 50);
        QCOMPARE(rows.at(0)["G_RSSI_2"].toLongLong(), 41);
        QCOMPARE(rows.at(0)["A_RSSI_1"].toLongLong(), 52);
        QCOMPARE(rows.at(0)["A_RSSI_2"].toLongLong(), 43);
    }

    void no_rows_while_recording_is_off()
    {
        connect_unit();
        poll_once();
        QVERIFY(!QFileInfo::exists("log.db"));
        w->set_record_enabled(true);
        w->set_record_enabled(false);
        QVERIFY(!w->record_enabled);
        QVERIFY(!default_connection_open());
        wait_next_second();
        poll_once();
        open_reader();
        QCOMPARE(rows_of("SNQL24G0000001").size(), 0);
    }

    void empty_serial_logs_into_unknown()
    {
        QVERIFY(w->serial_number.isEmpty());
        w->set_record_enabled(true);
        QVERIFY(w->record_enabled);
        QCOMPARE(statlog::current_table(), QString("SNUnknown"));
        QCOMPARE(w->insert_log_row(), 0);
        open_reader();
        QVERIFY(tables().contains("SNUnknown"));
        QCOMPARE(rows_of("SNUnknown").size(), 1);
    }

    void switching_on_twice_is_harmless()
    {
        connect_unit();
        w->set_record_enabled(true);
        DebugCapture capture;
        w->set_record_enabled(true); // the table exists: the create fails quietly
        QVERIFY(w->record_enabled);
        QVERIFY(!capture.contains("table created!"));
        QVERIFY(!debug_has_line(capture, "creat record file failed!"));
        poll_once();
        QVERIFY(!debug_has_line(capture, "record log failed!"));
        open_reader();
        QCOMPARE(rows_of("SNQL24G0000001").size(), 1);
    }

    void database_that_cannot_be_opened_leaves_recording_off()
    {
        QVERIFY(QDir().mkdir("log.db")); // a directory where the file should be
        DebugCapture capture;
        w->form()->checkBox_record->setChecked(true);
        QVERIFY(!w->record_enabled);
        QVERIFY(capture.contains("failed to connect."));
        QVERIFY(debug_has_line(capture, "creat record file failed!"));
        // The switch shows that recording is off.
        QVERIFY(!w->form()->checkBox_record->isChecked());

        // Once the file can be made, the same switch works.
        QVERIFY(QDir().rmdir("log.db"));
        w->form()->checkBox_record->setChecked(true);
        QVERIFY(w->record_enabled);
        QVERIFY(QFileInfo(QStringLiteral("log.db")).isFile());
    }

    void failed_insert_keeps_recording_on()
    {
        connect_unit();
        w->set_record_enabled(true);
        DebugCapture capture;

        // Two polls within one second: the second row's key is taken.
        wait_next_second();
        poll_once();
        poll_once();
        QVERIFY(debug_has_line(capture, "record log failed!"));
        QVERIFY(w->record_enabled);

        // The database closed under the log: reported, recording stays on.
        capture.clear();
        QSqlDatabase::database(QSqlDatabase::defaultConnection, false).close();
        QCOMPARE(w->insert_log_row(), -1);
        QVERIFY(capture.contains("open db file failed"));
        QVERIFY(w->record_enabled);

        // Switched on again, the next second's poll goes in.
        w->set_record_enabled(true);
        wait_next_second();
        poll_once();
        open_reader();
        QCOMPARE(rows_of("SNQL24G0000001").size(), 2);
    }

    void rows_of_another_day_or_run_are_kept()
    {
        w->serial_number = "QL24G0000009";
        w->set_record_enabled(true);
        QCOMPARE(statlog::insert_row(sample_record(1), "2026-03-01 10:00:00"), 0);
        // Same time of day, next day.
        QCOMPARE(statlog::insert_row(sample_record(2), "2026-03-02 10:00:00"), 0);
        // A later run: recording switched off and on again, same table.
        w->set_record_enabled(false);
        w->set_record_enabled(true);
        QCOMPARE(statlog::insert_row(sample_record(3), "2026-03-03 10:00:00"), 0);
        // The same second twice is still one row.
        QCOMPARE(statlog::insert_row(sample_record(4), "2026-03-03 10:00:00"), -1);
        open_reader();
        const QList<Row> rows = rows_of("SNQL24G0000009");
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows.at(0)["freq"].toInt(), 1);
        QCOMPARE(rows.at(2)["freq"].toInt(), 3);
        // The column holds the date: today's rows carry today's date.
        QVERIFY(statlog::current_time_key().startsWith(QDate::currentDate().toString("yyyy-MM-dd ")));
    }

    void hostile_serial_cannot_change_the_statements_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::newRow("quote and drop") << "x\"; DROP TABLE SNvictim; --";
        QTest::newRow("quote at the end") << "x\"";
        QTest::newRow("single quote") << "a'b";
        QTest::newRow("semicolon") << "a;b";
        QTest::newRow("backtick and bracket") << "a`b]c[";
        QTest::newRow("dot") << "main.SNvictim";
        QTest::newRow("space and paren") << "a (b";
        QTest::newRow("comment") << "--";
        QTest::newRow("control") << "a\tb\n";
    }

    void hostile_serial_cannot_change_the_statements()
    {
        QFETCH(QString, serial);
        // A table of another unit, with a row in it.
        w->serial_number = "victim";
        w->set_record_enabled(true);
        QCOMPARE(statlog::insert_row(sample_record(11), "2026-01-01 00:00:00"), 0);
        w->set_record_enabled(false);

        w->serial_number = serial;
        DebugCapture capture;
        w->set_record_enabled(true);
        QVERIFY(w->record_enabled);
        QVERIFY(capture.contains("table created!"));
        QCOMPARE(w->insert_log_row(), 0);
        QCOMPARE(statlog::insert_row(sample_record(12), "2026-01-01 00:00:01"), 0);

        open_reader();
        const QStringList names = tables();
        QCOMPARE(names.size(), 2);
        QVERIFY(names.contains("SNvictim"));
        QCOMPARE(rows_of("SNvictim").size(), 1);
        QString expected = "SN" + serial;
        for (QChar& c : expected) {
            if (c.unicode() < 0x20)
                c = '_';
        }
        QVERIFY2(names.contains(expected), qPrintable(names.join(" | ")));
        QCOMPARE(rows_of(expected).size(), 2);
    }

    void record_switch_on_the_status_page()
    {
        QCheckBox* box = w->form()->checkBox_record;
        QCOMPARE(box->text(), QString("Record statistics"));
        QVERIFY(w->form()->page_status->isAncestorOf(box));
        QVERIFY(!box->isChecked());
        box->click();
        QVERIFY(w->record_enabled);
        QVERIFY(default_connection_open());
        box->click();
        QVERIFY(!w->record_enabled);
        QVERIFY(!default_connection_open());
        // Switched from code, the box follows.
        w->set_record_enabled(true);
        QVERIFY(box->isChecked());
    }

    void window_teardown_closes_the_log()
    {
        w->set_record_enabled(true);
        QVERIFY(default_connection_open());
        w.reset();
        QVERIFY(!default_connection_open());
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    StatLogTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_stat_log.moc"
