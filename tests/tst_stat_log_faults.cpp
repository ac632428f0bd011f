// The statistics log when its database cannot be written: a folder that
// cannot be written, a file another SQLite process holds locked, a file
// that is no database. Each time the failure is reported as the log's
// debug lines, the poll goes on once a second without the window freezing,
// and the rows written before the fault are still there afterwards.
#include "testsupport.h"
#include "fault_support.h"

#include "stat_log.h"
#include "ui_wireless_video_link.h"
#include "wireless_video_link.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace testsupport;

namespace {
const char kTable[] = "SNQL24G0000001";
const char kReader[] = "reader";
// Set in the environment of the copy of this program that holds the lock.
const char kHolderVariable[] = "QUORLAN_LOCK_HOLDER_DB";

// The copy of this program that plays the other SQLite process: it takes
// an exclusive transaction on the file, says "locked", and keeps it until
// its standard input closes.
int hold_lock(const QString& path)
{
    static int argc = 1;
    static char name[] = "holder";
    static char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        db.setDatabaseName(path);
        if (!db.open())
            return 2;
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("BEGIN EXCLUSIVE"))) {
            std::fprintf(stderr, "%s\n", qPrintable(q.lastError().text()));
            return 3;
        }
        std::printf("locked\n");
        std::fflush(stdout);
        std::string line;
        std::getline(std::cin, line);
        q.exec(QStringLiteral("COMMIT"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    return 0;
}

// Root writes anywhere: a folder without write permission stops it only
// once this thread has put down the capabilities that override file
// permissions. The SQLite calls of the log run on this (the main) thread.
class PermissionsApply
{
public:
    PermissionsApply()
    {
        if (geteuid() != 0)
            return;
        header.version = _LINUX_CAPABILITY_VERSION_3;
        header.pid = 0;
        if (syscall(SYS_capget, &header, saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved[0], saved[1]};
        const uint32_t drop = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);
        reduced[0].effective &= ~drop;
        active = syscall(SYS_capset, &header, reduced) == 0;
    }
    ~PermissionsApply()
    {
        if (active)
            syscall(SYS_capset, &header, saved);
    }
    PermissionsApply(const PermissionsApply&) = delete;
    PermissionsApply& operator=(const PermissionsApply&) = delete;

private:
    __user_cap_header_struct header{};
    __user_cap_data_struct saved[2]{};
    bool active = false;
};

bool debug_has_line(const DebugCapture& capture, const QString& text)
{
    for (const QString& line : capture.lines())
        if (line.trimmed() == text.trimmed())
            return true;
    return false;
}

int debug_count(const DebugCapture& capture, const QString& text)
{
    int n = 0;
    for (const QString& line : capture.lines())
        if (line.trimmed() == text.trimmed())
            ++n;
    return n;
}

bool debug_mentions(const DebugCapture& capture, const QString& part)
{
    for (const QString& line : capture.lines())
        if (line.contains(part, Qt::CaseInsensitive))
            return true;
    return false;
}

// The rows of the log table as "time|freq", read through a connection of
// their own.
QStringList rows_of(const QString& path)
{
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(kReader));
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("select time, freq from \"%1\" order by time").arg(kTable))) {
                while (q.next())
                    rows << q.value(0).toString() + QLatin1Char('|') + q.value(1).toString();
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QLatin1String(kReader));
    return rows;
}

int status_reads(const std::shared_ptr<sim::SimDevice>& dev)
{
    int n = 0;
    for (uint8_t c : dev->requestCodes())
        if (c == sim::kReqDevStatus)
            ++n;
    return n;
}
} // namespace

class StatLogFaultsTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir root;
    QString original_dir;
    QString folder;
    int folder_counter = 0;
    std::unique_ptr<Wireless_Video_Link> w;
    std::shared_ptr<sim::SimDevice> dev;
    std::unique_ptr<QProcess> holder;

    QString db_path() const { return QDir(folder).absoluteFilePath(QStringLiteral("log.db")); }

    // A connected ground unit, polled by the window's own timer.
    void connect_unit()
    {
        dev = plug();
        QCOMPARE(w->open_device(true), 0);
        w->on_pushButton_GET_SN_clicked();
        QCOMPARE(w->serial_number, QString(kTable).mid(2));
        QVERIFY(w->poll_timer()->isActive());
    }

    // Waits for `n` more poll ticks that read the status and measures the
    // longest time the window's event loop stood still meanwhile.
    qint64 run_ticks(int n)
    {
        Heartbeat heart;
        heart.start();
        const int target = status_reads(dev) + n;
        const bool ok = wait_for([&] { return status_reads(dev) >= target; }, 1500 * n + 6000);
        // Let the last tick finish (its insert comes after the read).
        QTest::qWait(50);
        const qint64 gap = heart.stop();
        if (!ok)
            return -1;
        return gap;
    }

    void start_holder()
    {
        holder = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QLatin1String(kHolderVariable), db_path());
        holder->setProcessEnvironment(env);
        holder->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        holder->start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(holder->waitForStarted(5000));
        QVERIFY(wait_for([&] {
            holder->waitForReadyRead(10);
            return holder->canReadLine() || holder->state() != QProcess::Running;
        }, 10000));
        QCOMPARE(QString::fromLatin1(holder->readLine()).trimmed(), QString("locked"));
    }

    void release_holder()
    {
        if (!holder)
            return;
        holder->closeWriteChannel();
        QVERIFY(holder->waitForFinished(5000));
        QCOMPARE(holder->exitCode(), 0);
        holder.reset();
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
        folder = root.filePath(QString::number(++folder_counter));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QDir::setCurrent(folder));
        w = std::make_unique<Wireless_Video_Link>();
    }

    void cleanup()
    {
        if (holder) {
            holder->closeWriteChannel();
            holder->waitForFinished(5000);
            holder.reset();
        }
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        w.reset(); // closes the log
        dev.reset();
        reset_bus();
        QDir::setCurrent(original_dir);
    }

    void folder_not_writable_from_the_start()
    {
        connect_unit();
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        PermissionsApply permissions;
        DebugCapture capture;
        w->form()->checkBox_record->setChecked(true);
        QVERIFY(!w->record_enabled);
        QVERIFY(capture.contains("failed to connect."));
        QVERIFY(debug_has_line(capture, "creat record file failed!"));
        QVERIFY(!w->form()->checkBox_record->isChecked());
        QVERIFY(!QFileInfo::exists(db_path()));

        // The poll goes on, without a log.
        const qint64 gap = run_ticks(2);
        QVERIFY(gap >= 0);
        QVERIFY2(gap < 800, qPrintable(QString::number(gap)));
        QVERIFY(!debug_has_line(capture, "record log failed!"));
        QVERIFY(w->poll_timer()->isActive());
    }

    void folder_becomes_read_only_while_recording()
    {
        connect_unit();
        DebugCapture capture;
        w->form()->checkBox_record->setChecked(true);
        QVERIFY(w->record_enabled);
        QVERIFY(run_ticks(2) >= 0);
        const QStringList before = rows_of(db_path());
        QVERIFY2(before.size() >= 1, qPrintable(before.join(",")));
        QVERIFY(!debug_has_line(capture, "record log failed!"));

        {
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
            PermissionsApply permissions;
            capture.clear();
            const qint64 gap = run_ticks(2);
            QVERIFY(gap >= 0);
            QVERIFY2(gap < 800, qPrintable(QString::number(gap)));
            // Every tick says so and keeps recording on.
            QVERIFY2(debug_count(capture, "record log failed!") >= 2, qPrintable(capture.lines().join(" | ")));
            QVERIFY(w->record_enabled);
            QVERIFY(w->form()->checkBox_record->isChecked());
            QVERIFY(w->poll_timer()->isActive());
            QVERIFY(!w->form()->label_FREQ->text().isEmpty());
        }
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        // Writable again: the next ticks go in; the earlier rows are intact.
        capture.clear();
        QVERIFY(run_ticks(2) >= 0);
        const QStringList after = rows_of(db_path());
        QCOMPARE(after.mid(0, before.size()), before);
        QVERIFY2(after.size() >= before.size() + 1, qPrintable(after.join(",")));
    }

    void database_locked_by_another_process()
    {
        connect_unit();
        DebugCapture capture;
        w->form()->checkBox_record->setChecked(true);
        QVERIFY(w->record_enabled);
        QVERIFY(run_ticks(2) >= 0);
        const QStringList before = rows_of(db_path());
        QVERIFY(before.size() >= 1);

        start_holder();
        capture.clear();
        // Another program's transaction must not freeze the window: the
        // poll is once a second and each of its reads waits 300 ms at most.
        const qint64 gap = run_ticks(3);
        QVERIFY(gap >= 0);
        QVERIFY2(gap < 800, qPrintable(QString("the window stood still for %1 ms").arg(gap)));
        QVERIFY2(debug_count(capture, "record log failed!") >= 2, qPrintable(capture.lines().join(" | ")));
        QVERIFY(debug_mentions(capture, "locked"));
        QVERIFY(w->record_enabled);
        QVERIFY(w->poll_timer()->isActive());
        release_holder();

        capture.clear();
        QVERIFY(run_ticks(2) >= 0);
        const QStringList after = rows_of(db_path());
        QCOMPARE(after.mid(0, before.size()), before);
        QVERIFY2(after.size() >= before.size() + 1, qPrintable(after.join(",")));
    }

    void recording_switched_on_while_locked()
    {
        // The table cannot be made while the other process holds the file;
        // once it lets go, the rows must go in without switching again.
        connect_unit();
        {
            // An empty database of another program.
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("maker"));
            db.setDatabaseName(db_path());
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("create table other(x int)")));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("maker"));
        start_holder();

        DebugCapture capture;
        Heartbeat heart;
        heart.start();
        w->form()->checkBox_record->setChecked(true);
        const qint64 switching = heart.stop();
        QVERIFY2(switching < 800, qPrintable(QString("switching on took %1 ms").arg(switching)));
        QVERIFY(w->record_enabled); // table creation failing leaves recording on
        QVERIFY(!capture.contains("table created!"));
        const qint64 gap = run_ticks(2);
        QVERIFY(gap >= 0);
        QVERIFY2(gap < 800, qPrintable(QString::number(gap)));
        QVERIFY(debug_has_line(capture, "record log failed!"));
        release_holder();

        capture.clear();
        QVERIFY(run_ticks(2) >= 0);
        QVERIFY2(rows_of(db_path()).size() >= 1, qPrintable(capture.lines().join(" | ")));
        QVERIFY(w->record_enabled);
    }

    void file_that_is_not_a_database()
    {
        connect_unit();
        QByteArray junk;
        for (int i = 0; i < 300; ++i)
            junk += "This file belongs to another program and is no database. ";
        {
            QFile f(db_path());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(junk);
        }
        DebugCapture capture;
        w->form()->checkBox_record->setChecked(true);
        // Opening the file succeeds; making the table does not, which is
        // reported and leaves recording on.
        QVERIFY(!capture.contains("table created!"));
        QVERIFY(debug_mentions(capture, "not a database"));
        const qint64 gap = run_ticks(2);
        QVERIFY(gap >= 0);
        QVERIFY2(gap < 800, qPrintable(QString::number(gap)));
        if (w->record_enabled)
            QVERIFY(debug_count(capture, "record log failed!") >= 2);
        QVERIFY(w->poll_timer()->isActive());
        QVERIFY(!w->form()->label_FREQ->text().isEmpty());

        // The other program's file is left as it was.
        w->form()->checkBox_record->setChecked(false);
        QFile f(db_path());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), junk);
        QVERIFY(!QFileInfo::exists(db_path() + QStringLiteral("-journal")));
    }
};

int main(int argc, char** argv)
{
    const QByteArray holder_db = qgetenv(kHolderVariable);
    if (!holder_db.isEmpty())
        return hold_lock(QString::fromLocal8Bit(holder_db));
    QApplication app(argc, argv);
    init_resources();
    StatLogFaultsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_stat_log_faults.moc"
