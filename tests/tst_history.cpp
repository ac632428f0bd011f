// The history window reads the statistics log back: rows put on the time
// line (also those of earlier versions without a date), split into
// recordings, loss per interval, CSV, and files it must refuse without
// touching them. The logs are written with the log's own statements.
#include "history_data.h"
#include "history_reader.h"
#include "history_window.h"
#include "stat_log.h"
#include "ui_history_window.h"

#include <QApplication>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QtCharts/QLineSeries>
#include <cmath>

using namespace history;

namespace {

using Row = QPair<QString, statlog::LogRecord>; // the time column, the others

// Runs statements on the file through a connection of the test's own, then
// `insert` once per row.
void sql(const QString& path, const QStringList& statements, const QVector<Row>& rows = {}, const QString& insert = {})
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "writer");
        db.setDatabaseName(path);
        QVERIFY(db.open() && db.transaction()); // one sync to the disk, whatever its load
        QSqlQuery q(db);
        for (const QString& s : statements)
            QVERIFY2(q.exec(s), qPrintable(q.lastError().text() + " in " + s));
        for (const Row& r : rows) {
            QVERIFY(q.prepare(insert));
            q.bindValue(":time", r.first);
            for (const Field& f : fields())
                q.bindValue(QLatin1Char(':') + QLatin1String(f.name), f.get(r.second));
            QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
        }
        QVERIFY(db.commit());
    }
    QSqlDatabase::removeDatabase("writer");
}

// The log's own statements, for any table name, control characters and all.
void write_log(const QString& path, const QString& table, const QVector<Row>& rows)
{
    auto on_table = [&](QString model) { return model.replace("\"T\"", LogFile::quote(table)); };
    sql(path, {on_table(statlog::create_statement("T"))}, rows, on_table(statlog::insert_statement("T")));
}

statlog::LogRecord rec(int g_rssi_1, uint32_t g_pass = 0, uint32_t g_fail = 0, uint32_t link = kLinkUp)
{
    statlog::LogRecord r;
    r.g_rssi_1 = g_rssi_1;
    r.g_ldpc_pass = g_pass;
    r.g_ldpc_fail = g_fail;
    r.grd_link_status = link;
    return r;
}

QString iso(qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms).toString(Qt::ISODate); }

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class HistoryTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    // The tool's own log in the test's folder: an early row, then a
    // recording of four with a link drop.
    QString own_log()
    {
        QDir::setCurrent(dir.path());
        const QString path = statlog::database_path();
        QFile::remove(path);
        write_log(path, "SNQL24G0000001",
                  {{"2024-05-01 09:00:00", rec(40)}, {"2024-05-01 10:00:00", rec(50, 100, 0)},
                   {"2024-05-01 10:00:01", rec(0xFF, 190, 10, 2)}, {"2024-05-01 10:00:02", rec(52, 190, 10, 2)},
                   {"2024-05-01 10:00:03", rec(53, 290, 10)}});
        return path;
    }

private slots:
    void split_recordings_data()
    {
        QTest::addColumn<QVector<int>>("seconds");
        QTest::addColumn<QString>("recordings"); // first-last:duration in s
        QTest::newRow("no rows") << QVector<int>{} << "";
        QTest::newRow("one row") << QVector<int>{0} << "0-0:0";
        QTest::newRow("one a second") << QVector<int>{0, 1, 2} << "0-2:2";
        QTest::newRow("gap of 10 s") << QVector<int>{0, 10} << "0-1:10";
        QTest::newRow("gap of 11 s") << QVector<int>{0, 11} << "0-0:0 1-1:0";
        QTest::newRow("three") << QVector<int>{0, 1, 2, 30, 31, 100} << "0-2:2 3-4:1 5-5:0";
    }

    void split_recordings()
    {
        QFETCH(QVector<int>, seconds);
        QVector<Sample> samples;
        for (int s : seconds)
            samples.append({1700000000000LL + s * 1000LL, false, {}});
        QStringList got;
        for (const Recording& r : history::split_recordings(samples))
            got << QString("%1-%2:%3").arg(r.first).arg(r.last).arg(r.duration_ms() / 1000);
        QTEST(got.join(' '), "recordings");
    }

    void loss_per_interval_data()
    {
        QTest::addColumn<QString>("counters"); // pass and fail before, pass and fail after
        QTest::addColumn<double>("percent");   // NaN: no blocks
        QTest::newRow("no blocks") << "5 5 5 5" << double(NAN);
        QTest::newRow("none lost") << "0 0 100 0" << 0.0;
        QTest::newRow("a quarter lost") << "0 0 75 25" << 25.0;
        QTest::newRow("all lost") << "10 10 10 20" << 100.0;
        QTest::newRow("pass counter wraps") << "0xFFFFFFF0 0 0x3C 24" << 24.0;
        QTest::newRow("fail counter wraps") << "0 0xFFFFFFFE 98 0" << 2.0;
        // 50,000,000 failed: the percentage's product wraps in 32 bits, as
        // on the status page.
        QTest::newRow("product wraps") << "0 0 0 50000000" << double(float(705032704u) / 5e7f);
    }

    void loss_per_interval()
    {
        QFETCH(QString, counters);
        QFETCH(double, percent);
        uint32_t c[4];
        for (int i = 0; i < 4; ++i)
            c[i] = counters.split(' ').at(i).toUInt(nullptr, 0);
        const double got = interval_loss(c[0], c[1], c[2], c[3]);
        QVERIFY2(std::isnan(percent) ? std::isnan(got) : got == percent, qPrintable(QString::number(got)));
    }

    void old_format_times_data()
    {
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QStringList>("placed"); // * marks an assumed date
        QTest::newRow("dated") << QStringList{"2024-05-01 10:00:00"} << QStringList{"2024-05-01T10:00:00"};
        QTest::newRow("time of day") << QStringList{"10:00:00", "10:00:01"}
                                     << QStringList{"2024-06-09T10:00:00*", "2024-06-09T10:00:01*"};
        QTest::newRow("past midnight") << QStringList{"23:59:59", "00:00:00"}
                                       << QStringList{"2024-06-08T23:59:59*", "2024-06-09T00:00:00*"};
        QTest::newRow("mixed") << QStringList{"09:00:00", "2024-05-01 10:00:00"}
                               << QStringList{"2024-06-09T09:00:00*", "2024-05-01T10:00:00"};
        QTest::newRow("unreadable") << QStringList{"24:00:00", "10:00", "2024-13-01 10:00:00", "now", ""}
                                    << QStringList{"-", "-", "-", "-", "-"};
    }

    void old_format_times()
    {
        QFETCH(QStringList, keys);
        QVector<TimeKey> parsed;
        for (const QString& k : keys)
            parsed << parse_time_key(k);
        const QVector<Placed> got = place_times(parsed, QDate(2024, 6, 9));
        QStringList texts;
        for (int i = 0; i < got.size(); ++i)
            texts << (parsed.at(i).kind == TimeKey::Invalid ? "-" : iso(got[i].ms) + (got[i].date_assumed ? "*" : ""));
        QTEST(texts, "placed");
    }

    // One line per sample: the log's columns in its order, unsigned words
    // whole, and whether the date was assumed.
    void csv()
    {
        Sample s{QDateTime(QDate(2024, 5, 1), QTime(10, 0)).toMSecsSinceEpoch(), false, rec(52, 4000000000u, 7, 0)};
        s.rec.freq = 5805;
        s.rec.g_rssi_2 = 200;
        s.rec.g_snr = -5;
        s.rec.g_rf_power = 4;
        s.rec.eth_rev_packet = 0xFFFFFFFFu;
        const Sample undated{s.ms + 1000, true, s.rec};
        const QString values = ",5805,4000000000,7,52,200,-5,4,0,0,0,0,0,0,0,0,0,0,0,0,0,4294967295,0,0,";
        QCOMPARE(csv_text({s, undated}, history::split_recordings({s, undated}).first()),
                 "time,freq,G_LDPC_PASS,G_LDPC_FAIL,G_RSSI_1,G_RSSI_2,G_SNR,G_rf_power,A_LDPC_PASS,A_LDPC_FAIL,"
                 "A_RSSI_1,A_RSSI_2,A_SNR,A_rx_power,downlink,range,a_VGA,g_VGA,grd_link_status,air_link_status,"
                 "eth_lost_packet,eth_rev_packet,antenna_status,current_antenna,date_assumed\n2024-05-01T10:00:00"
                     + values + "0\n2024-05-01T10:00:01" + values + "1\n");
    }

    // Files the window must read or refuse with a clear message, never
    // changing a byte or the modification time.
    void files_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message"); // of the open, or else of the load of the first table
        QTest::addColumn<int>("rows");        // loaded from the first table; -1 none
        QTest::newRow("missing") << "missing" << "does not exist" << -1;
        QTest::newRow("folder") << "folder" << "is not a file" << -1;
        QTest::newRow("empty") << "empty" << "" << -1;
        QTest::newRow("not a database") << "garbage" << "not an SQLite database, or it is damaged" << -1;
        QTest::newRow("damaged pages") << "damaged" << "damaged" << -1;
        QTest::newRow("locked") << "locked" << "locked by another program" << -1;
        QTest::newRow("foreign") << "foreign" << "lacks the columns time, freq" << -1;
        QTest::newRow("missing column") << "missing column" << "lacks the columns G_RSSI_2." << -1;
        QTest::newRow("extra column") << "extra column" << "" << 2;
        QTest::newRow("quote") << "SN\"; DROP TABLE t; --" << "" << 2;
        QTest::newRow("dots and spaces") << "SN a.b [c] 'd'" << "" << 2;
        QTest::newRow("control characters") << "SN\nx\ty" << "" << 2;
        QTest::newRow("rows of an earlier version") << "old" << "" << 2;
    }

    void files()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        static int n = 0;
        const QString path = dir.filePath(QString("f%1.db").arg(++n));
        const QVector<Row> two{{"2024-05-01 10:00:00", rec(50)}, {"2024-05-01 10:00:01", rec(51)}};
        QString create = statlog::create_statement("SN1");
        QFile f(path);
        QSqlDatabase locker;
        if (kind == "folder") {
            QVERIFY(QDir().mkpath(path));
        } else if (kind == "empty" || kind == "garbage") {
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(QByteArray(kind == "garbage" ? 4096 : 0, '\x5a')) >= 0);
        } else if (kind == "damaged") {
            QVector<Row> many;
            for (int i = 0; i < 500; ++i)
                many.append({QDateTime(QDate(2024, 5, 1), QTime(10, 0).addSecs(i)).toString("yyyy-MM-dd hh:mm:ss"),
                             rec(i)});
            write_log(path, "SN1", many);
            QVERIFY(f.open(QIODevice::ReadWrite) && f.seek(4096 + 100)); // the table's pages follow the schema's
            f.write(QByteArray(8192, '\xff'));
        } else if (kind == "locked") {
            write_log(path, "SN1", two);
            locker = QSqlDatabase::addDatabase("QSQLITE", "locker");
            locker.setDatabaseName(path);
            QVERIFY(locker.open() && QSqlQuery(locker).exec("BEGIN EXCLUSIVE"));
        } else if (kind == "foreign") {
            sql(path, {"create table people(name text, age int)", "insert into people values('a', 1)"});
        } else if (kind == "missing column") {
            sql(path, {create.replace("G_RSSI_2 Tinyint, ", "")});
        } else if (kind == "extra column") {
            sql(path, {create.replace("freq Smallint", "note text, freq Smallint")}, two,
                statlog::insert_statement("SN1"));
        } else if (kind == "old") {
            write_log(path, "SN1", {{"23:59:59", rec(50)}, {"00:00:00", rec(51)}});
            QVERIFY(f.open(QIODevice::ReadWrite)
                    && f.setFileTime(QDateTime(QDate(2024, 6, 9), QTime(12, 0)), QFileDevice::FileModificationTime));
        } else if (kind != "missing") {
            write_log(path, kind, two);
        }
        f.close();
        const QFileInfo before(path);
        const QByteArray bytes_before = contents(path);
        const QStringList files_before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

        int loaded = -1;
        QString said;
        {
            LogFile log(path);
            if (!log.open(&said)) {
                QVERIFY(!said.isEmpty());
            } else if (!log.tables().isEmpty()) {
                QVERIFY(!kind.startsWith("SN") || log.tables().first().name == kind);
                const LoadResult r = log.load(log.tables().first().name);
                said = r.error;
                if (r.error.isEmpty()) {
                    loaded = r.samples.size();
                    QCOMPARE(r.samples.last().rec.g_rssi_1, 51);
                    QVERIFY(kind != "old" || (iso(r.samples.first().ms) == "2024-06-08T23:59:59"
                                              && r.samples.first().date_assumed));
                }
            }
        }
        locker.close();
        locker = QSqlDatabase();
        QSqlDatabase::removeDatabase("locker");
        QVERIFY2(message.isEmpty() ? said.isEmpty() : said.contains(message), qPrintable(said));
        QTEST(loaded, "rows");
        const QFileInfo after(path);
        QCOMPARE(after.exists(), before.exists());
        QCOMPARE(after.lastModified(), before.lastModified());
        QCOMPARE(contents(path), bytes_before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), files_before);
    }

    // The window on a generated log: the file chosen through its dialog,
    // the latest recording plotted point for point, and the tool's
    // recording going on meanwhile.
    void window_plots_the_latest_recording()
    {
        const QString path = own_log();
        HistoryWindow w;
        w.open_dialog = [&](QWidget*, const QString&, const QString&, const QString&) { return path; };
        w.form()->pushButton_open->click();
        QVERIFY2(w.message().isEmpty(), qPrintable(w.message()));
        QCOMPARE(w.form()->treeWidget_units->topLevelItem(0)->text(0), QString("QL24G0000001"));
        QCOMPARE(w.recordings().size(), 2);
        QCOMPARE(w.form()->treeWidget_recordings->currentIndex().row(), 1);
        auto plotted = [&](SeriesId id) {
            QStringList out;
            for (const QPointF& p : w.series(id)->pointsVector())
                out << QDateTime::fromMSecsSinceEpoch(qint64(p.x())).toString("hh:mm:ss") + "="
                           + (std::isnan(p.y()) ? QString("gap") : QString::number(p.y()));
            return out.join(' ');
        };
        QCOMPARE(plotted(GroundRssi1), QString("10:00:00=-50 10:00:01=gap 10:00:02=-52 10:00:03=-53"));
        QCOMPARE(plotted(GroundLoss), QString("10:00:00=gap 10:00:01=10 10:00:02=gap 10:00:03=0"));
        QVERIFY(w.form()->plainTextEdit_summary->toPlainText().contains("Link drops (ground unit): 1"));

        QCOMPARE(statlog::open_log("QL24G0000001"), 0);
        QCOMPARE(statlog::insert_row(rec(54), "2024-05-01 10:00:04"), 0);
        statlog::close_log();
        w.reload();
        QCOMPARE(w.recordings().last().last, 5);
    }

    // Where an export may go: never onto the log it shows (by any path),
    // and a file that cannot be written is said so; the log stays as it was.
    void exports_data()
    {
        QTest::addColumn<QString>("kind"); // csv or png
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("message"); // empty: saved
        const QString onto_log = "The export would replace the log itself; choose another file.";
        QTest::newRow("CSV to a new file") << "csv" << "out.csv" << "Saved ";
        QTest::newRow("PNG to a new file") << "png" << "out.png" << "Saved ";
        QTest::newRow("CSV onto the log") << "csv" << "log.db" << onto_log;
        QTest::newRow("PNG onto the log") << "png" << "log.db" << onto_log;
        QTest::newRow("CSV onto the log through a link") << "csv" << "link.db" << onto_log;
        QTest::newRow("CSV into a missing folder") << "csv" << "missing/out.csv" << "cannot be written";
        QTest::newRow("cancelled") << "csv" << "" << "";
    }

    void exports()
    {
        QFETCH(QString, kind);
        QFETCH(QString, target);
        QFETCH(QString, message);
        const QString path = own_log();
        QFile::remove(dir.filePath("link.db"));
        QVERIFY(QFile::link(path, dir.filePath("link.db")));
        QFile::remove(dir.filePath("out.csv"));
        const QByteArray log_before = contents(path);
        HistoryWindow w;
        QVERIFY(w.open_file(path));
        const QString chosen = target.isEmpty() ? QString() : dir.filePath(target);
        w.save_dialog = [&](QWidget*, const QString&, const QString&, const QString&) { return chosen; };
        QCOMPARE(kind == "csv" ? w.export_csv() : w.save_png(), message.startsWith("Saved"));
        QVERIFY2(w.message().contains(message), qPrintable(w.message()));
        QCOMPARE(contents(path), log_before);
        if (target == "out.csv") { // the recording shown: a header and its four rows
            const QList<QByteArray> lines = contents(chosen).split('\n');
            QVERIFY(lines.size() == 6 && lines[1].startsWith("2024-05-01T10:00:00,0,100,0,50,"));
        }
    }
};

QTEST_MAIN(HistoryTest)
#include "tst_history.moc"
