// One copy per user and id: later starts see the running copy and their
// message reaches it; stale sockets and simultaneous starts are survived.
//
// The test binary is its own helper process: started with --serve or --send
// it plays another copy of the application instead of running the tests.
#include "single_application.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QWidget>
#include <QtEndian>
#include <QtTest>

#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

void say(const QByteArray& line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Helper process: one more copy that stays up until its first message, which
// it prints (hex) before it quits.
int serve(const QString& id, int& argc, char** argv)
{
    SingleApplication app(id, argc, argv);
    if (app.isRunning()) {
        say("running");
        return 0;
    }
    QObject::connect(&app, &SingleApplication::messageReceived, &app, [&app](const QString& message) {
        say("message " + message.toUtf8().toHex());
        app.quit();
    });
    say("primary");
    return app.exec();
}

// Helper process: a later start that sends its standard input as message.
// Exit code 0 delivered, 2 not delivered, 3 nobody running.
int send(const QString& id, int timeout, int& argc, char** argv)
{
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return 4;
    const QString message = QString::fromUtf8(in.readAll());
    SingleApplication app(id, argc, argv);
    if (!app.isRunning())
        return 3;
    return app.sendMessage(message, timeout) ? 0 : 2;
}

// The test process's own application object; it shows how many receivers
// the activation link has.
class ProbeApplication : public SingleApplication
{
public:
    using SingleApplication::SingleApplication;
    int messageReceivers() const { return receivers(SIGNAL(messageReceived(QString))); }
};

ProbeApplication* the_app()
{
    return static_cast<ProbeApplication*>(QCoreApplication::instance());
}

QString the_id;

QString socket_path(const QString& id)
{
    return QDir(QDir::tempPath()).filePath(single_instance_server_name(id));
}

QProcess* start_helper(QObject* parent, const QStringList& args)
{
    auto* p = new QProcess(parent);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start(QCoreApplication::applicationFilePath(), args);
    return p;
}

// Runs a --send helper to the end, the event loop turning meanwhile so that
// this process can answer it. Returns its exit code, -1 when it hung.
int run_sender(const QString& id, const QByteArray& message, int timeout = 5000)
{
    QProcess* p = start_helper(nullptr, {QStringLiteral("--send"), id, QString::number(timeout)});
    p->write(message);
    p->closeWriteChannel();
    const QDeadlineTimer deadline(timeout + 10000);
    while (p->state() != QProcess::NotRunning && !deadline.hasExpired())
        QTest::qWait(10);
    const bool ended = p->state() == QProcess::NotRunning;
    const int code = ended && p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1;
    if (!ended) {
        p->kill();
        p->waitForFinished();
    }
    delete p;
    return code;
}

// The first line a helper prints, or an empty string after 10 s.
QByteArray first_line(QProcess* p)
{
    QDeadlineTimer deadline(10000);
    while (!p->canReadLine() && !deadline.hasExpired() && p->state() != QProcess::NotRunning)
        QTest::qWait(10);
    return p->readLine().trimmed();
}

void stop(QProcess* p)
{
    if (p->state() != QProcess::NotRunning) {
        p->kill();
        p->waitForFinished();
    }
}

// Leaves a socket file that nobody listens on, as a crash would.
bool make_dead_socket(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    if (size_t(name.size()) >= sizeof(addr.sun_path)) {
        ::close(fd);
        return false;
    }
    std::memcpy(addr.sun_path, name.constData(), size_t(name.size()));
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    ::close(fd);
    return bound;
}

QByteArray frame(const QByteArray& payload)
{
    QByteArray header(4, '\0');
    qToBigEndian<quint32>(quint32(payload.size()), header.data());
    return header + payload;
}

} // namespace

class TestSingleApplication : public QObject
{
    Q_OBJECT

private slots:
    void firstCopyIsNotRunning()
    {
        QVERIFY(!the_app()->isRunning());
        QVERIFY(!the_app()->sendMessage(QStringLiteral("to nobody"), 100));
        // Only this user may talk to the running copy.
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
                                          | QFile::WriteOther | QFile::ExeOther;
        QVERIFY(QFile::exists(socket_path(the_id)));
        QCOMPARE(QFile::permissions(socket_path(the_id)) & others, QFile::Permissions());
    }

    // A later start with a message: the sender's exit code (0 delivered,
    // 2 not delivered, 3 nobody running under that id).
    void laterStart_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("code");
        QTest::newRow("raise") << "" << QStringLiteral("raise_window_noop") << 0;
        QTest::newRow("empty") << "" << QString() << 0;
        QTest::newRow("non-ASCII") << "" << QStringLiteral("配对 → ok, Grüße") << 0;
        QTest::newRow("300 KB") << "" << QString(300 * 1024, QLatin1Char('x')) << 0;
        QTest::newRow("over 1 MiB") << "" << QString(1100 * 1024, QLatin1Char('y')) << 2;
        QTest::newRow("another id is independent") << "-other" << QStringLiteral("hello") << 3;
    }

    void laterStart()
    {
        QFETCH(QString, id);
        QFETCH(QString, message);
        QFETCH(int, code);
        QSignalSpy received(the_app(), &SingleApplication::messageReceived);
        QCOMPARE(run_sender(the_id + id, message.toUtf8()), code);
        if (code == 0) {
            QTRY_COMPARE(received.count(), 1);
            QCOMPARE(received.at(0).at(0).toString(), message);
        } else {
            QTest::qWait(50);
            QCOMPARE(received.count(), 0);
        }
    }

    // What a crash can leave behind does not block the next start.
    void staleSocketDoesNotBlockStart_data()
    {
        QTest::addColumn<QString>("leftover");
        QTest::newRow("copy killed") << QStringLiteral("killed");
        QTest::newRow("dead socket file") << QStringLiteral("socket");
        QTest::newRow("plain file") << QStringLiteral("file");
        QTest::newRow("two copies started at once") << QStringLiteral("race");
    }

    void staleSocketDoesNotBlockStart()
    {
        QFETCH(QString, leftover);
        const QString id = the_id + QStringLiteral("-stale-") + leftover;
        const QString path = socket_path(id);
        if (leftover == QLatin1String("race")) {
            // Of simultaneous starts exactly one becomes the running copy.
            for (int round = 0; round < 10; ++round) {
                const QString race = id + QString::number(round);
                QProcess* a = start_helper(this, {QStringLiteral("--serve"), race});
                QProcess* b = start_helper(this, {QStringLiteral("--serve"), race});
                QByteArrayList lines{first_line(a), first_line(b)};
                std::sort(lines.begin(), lines.end());
                stop(a);
                stop(b);
                QLocalServer::removeServer(single_instance_server_name(race));
                QCOMPARE(lines, (QByteArrayList{"primary", "running"}));
            }
            return;
        }
        if (leftover == QLatin1String("killed")) {
            QProcess* crashed = start_helper(this, {QStringLiteral("--serve"), id});
            QCOMPARE(first_line(crashed), QByteArray("primary"));
            crashed->kill(); // SIGKILL: no chance to clean up
            QVERIFY(crashed->waitForFinished());
        } else if (leftover == QLatin1String("socket")) {
            QVERIFY(make_dead_socket(path));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("left over");
        }
        QVERIFY(QFile::exists(path));

        QProcess* next = start_helper(this, {QStringLiteral("--serve"), id});
        QCOMPARE(first_line(next), QByteArray("primary"));
        QCOMPARE(run_sender(id, "after the crash"), 0);
        QCOMPARE(first_line(next), "message " + QByteArray("after the crash").toHex());
        QTRY_COMPARE(next->state(), QProcess::NotRunning);
        QCOMPARE(next->exitStatus(), QProcess::NormalExit);
        QCOMPARE(next->exitCode(), 0);
        QVERIFY(!QFile::exists(path)); // a clean exit leaves nothing behind
    }

    // Bytes on the socket as a sender might write them: whole messages in
    // pieces of any size arrive whole, one answer each; a length over the
    // limit or a message cut short drops the connection, and the channel
    // still works for the next copy.
    void socketBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("piece"); // 0: all at once
        QTest::addColumn<QStringList>("messages");
        const QStringList three{QStringLiteral("first"), QString(), QStringLiteral("dritte Nachricht ✓")};
        QByteArray framed;
        for (const QString& m : three)
            framed += frame(m.toUtf8());
        QTest::newRow("1 byte at a time") << framed << 1 << three;
        QTest::newRow("3 bytes at a time") << framed << 3 << three;
        QTest::newRow("7 bytes at a time") << framed << 7 << three;
        QTest::newRow("all at once") << framed << 0 << three;
        QTest::newRow("length over the limit") << QByteArray::fromHex("ffffffff") + "garbage" << 0 << QStringList();
        QTest::newRow("cut short") << frame("never finished").left(9) << 0 << QStringList();
    }

    void socketBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, piece);
        QFETCH(QStringList, messages);
        QSignalSpy received(the_app(), &SingleApplication::messageReceived);
        {
            QLocalSocket socket;
            socket.connectToServer(single_instance_server_name(the_id));
            QVERIFY(socket.waitForConnected(2000));
            const int size = piece > 0 ? piece : bytes.size();
            for (int at = 0; at < bytes.size(); at += size) {
                socket.write(bytes.mid(at, size));
                socket.flush();
                QTest::qWait(2);
            }
            if (messages.isEmpty()) {
                QTest::qWait(50);
                if (bytes.startsWith(char(0xff)))
                    QTRY_COMPARE(socket.state(), QLocalSocket::UnconnectedState);
            } else {
                QTRY_COMPARE(received.count(), messages.size());
                QTRY_COMPARE(socket.bytesAvailable(), qint64(messages.size())); // one answer each
            }
        }
        QCOMPARE(received.count(), messages.size());
        for (int i = 0; i < messages.size(); ++i)
            QCOMPARE(received.at(i).at(0).toString(), messages.at(i));
        if (messages.isEmpty()) {
            QCOMPARE(run_sender(the_id, "still there"), 0);
            QTRY_COMPARE(received.count(), 1);
        }
    }

    // Which window a message raises: the registered one (the later of two),
    // only when registered with activation, never one still hidden; asked
    // directly, the target is raised all the same.
    void activation_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("raised");
        QTest::newRow("a later start raises and activates the window") << "sender" << true;
        QTest::newRow("a hidden window stays hidden") << "hidden" << false;
        QTest::newRow("the second registration replaces the first") << "two" << true;
        QTest::newRow("registered without activation") << "no activation" << false;
        QTest::newRow("asked directly") << "direct" << true;
    }

    void activation()
    {
        QFETCH(QString, how);
        QFETCH(bool, raised);
        const int receivers = the_app()->messageReceivers();
        QWidget other, first, window;
        if (how != "hidden") {
            other.show();
            QVERIFY(QTest::qWaitForWindowExposed(&other));
            first.showMinimized();
            window.showMinimized();
            QTRY_VERIFY(window.isMinimized() && first.isMinimized());
            other.activateWindow();
            QTRY_VERIFY(other.isActiveWindow());
        }
        if (how == "two")
            the_app()->setActivationWindow(&first, true);
        the_app()->setActivationWindow(&window, how != "no activation" && how != "direct");
        QCOMPARE(the_app()->messageReceivers(), receivers + (how == "no activation" || how == "direct" ? 0 : 1));
        if (how == "sender" || how == "hidden")
            QCOMPARE(run_sender(the_id, "raise_window_noop"), 0);
        else if (how == "direct")
            the_app()->activateWindow();
        else
            emit the_app()->messageReceived(QStringLiteral("raise_window_noop"));
        if (raised) {
            QTRY_VERIFY(!window.isMinimized() && window.isVisible());
            if (how == "sender")
                QTRY_VERIFY(window.isActiveWindow());
        } else {
            QTest::qWait(50);
            QCOMPARE(window.isVisible(), how != "hidden");
            QCOMPARE(window.isMinimized(), how != "hidden");
        }
        QVERIFY(how == "hidden" || first.isMinimized());
        the_app()->setActivationWindow(nullptr, false);
        QCOMPARE(the_app()->messageReceivers(), receivers);
    }
};

int main(int argc, char** argv)
{
    if (argc >= 3 && qstrcmp(argv[1], "--serve") == 0)
        return serve(QString::fromLocal8Bit(argv[2]), argc, argv);
    if (argc >= 4 && qstrcmp(argv[1], "--send") == 0)
        return send(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt(), argc, argv);

    the_id = QStringLiteral("quorlan-test-%1").arg(QCoreApplication::applicationPid());
    ProbeApplication app(the_id, argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestSingleApplication tests;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tests, argc, argv);
}

#include "tst_single_application.moc"
