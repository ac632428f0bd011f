// One copy per user and id: later starts see the running copy and their
// message reaches it; stale sockets and simultaneous starts are survived.
// Started with --serve or --send, the test binary plays another copy of the
// application instead of running the tests.
#include "testsupport.h"

#include "single_application.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QWidget>
#include <QtEndian>
#include <QtTest>
#include <cstdio>

using testsupport::wait_for;

namespace {

void say(const QByteArray& line) { std::printf("%s\n", line.constData()); std::fflush(stdout); }

// Another copy that stays up until its first message, which it prints (hex).
int serve(const QString& id, int& argc, char** argv)
{
    SingleApplication app(id, argc, argv);
    say(app.isRunning() ? "running" : "primary"); // messages wait for the event loop
    QObject::connect(&app, &SingleApplication::messageReceived, &app, [&app](const QString& message) {
        say("message " + message.toUtf8().toHex());
        app.quit();
    });
    return app.isRunning() ? 0 : app.exec();
}

// A later start that sends its standard input: exit code 0 delivered, 2 not
// delivered, 3 nobody running.
int send(const QString& id, int timeout, int& argc, char** argv)
{
    QFile in;
    const QString message = in.open(stdin, QIODevice::ReadOnly) ? QString::fromUtf8(in.readAll()) : "unread";
    SingleApplication app(id, argc, argv);
    return !app.isRunning() ? 3 : app.sendMessage(message, timeout) ? 0 : 2;
}

// The test process's own application; it shows how many receivers the
// activation link has.
class ProbeApplication : public SingleApplication
{
public:
    using SingleApplication::SingleApplication;
    int messageReceivers() const { return receivers(SIGNAL(messageReceived(QString))); }
};

ProbeApplication* the_app() { return static_cast<ProbeApplication*>(QCoreApplication::instance()); }

QString the_id;

QProcess* start_helper(QObject* parent, const QStringList& args)
{
    auto* p = new QProcess(parent);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start(QCoreApplication::applicationFilePath(), args);
    return p;
}

void stop(QProcess* p)
{
    p->kill(); // nothing once it has ended
    p->waitForFinished();
}

// Runs a --send helper to its end, the event loop turning meanwhile so that
// this process can answer it. Its exit code, -1 when it hung.
int run_sender(const QString& id, const QByteArray& message, int timeout = 5000)
{
    std::unique_ptr<QProcess> p(start_helper(nullptr, {"--send", id, QString::number(timeout)}));
    p->write(message);
    p->closeWriteChannel();
    const bool ended = wait_for([&] { return p->state() == QProcess::NotRunning; }, timeout + 10000);
    stop(p.get());
    return ended && p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1;
}

// The first line a helper prints, or an empty one after 10 s.
QByteArray first_line(QProcess* p)
{
    wait_for([p] { return p->canReadLine() || p->state() == QProcess::NotRunning; }, 10000);
    return p->readLine().trimmed();
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
        QVERIFY(!the_app()->sendMessage("to nobody", 100));
        // Only this user may talk to the running copy: no bits for group or others.
        const QString path = QDir(QDir::tempPath()).filePath(single_instance_server_name(the_id));
        QVERIFY(QFile::exists(path));
        QCOMPARE(QFile::permissions(path) & 0x0077, QFile::Permissions());
    }

    // A later start with a message: the sender's exit code.
    void laterStart_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("code");
        QTest::newRow("raise") << "" << "raise_window_noop" << 0;
        QTest::newRow("empty") << "" << QString() << 0;
        QTest::newRow("non-ASCII") << "" << QStringLiteral("配对 → ok, Grüße") << 0;
        QTest::newRow("300 KB") << "" << QString(300 * 1024, 'x') << 0;
        QTest::newRow("over 1 MiB") << "" << QString(1100 * 1024, 'y') << 2;
        QTest::newRow("another id is independent") << "-other" << "hello" << 3;
    }

    void laterStart()
    {
        QFETCH(QString, id);
        QFETCH(QString, message);
        QFETCH(int, code);
        QSignalSpy received(the_app(), &SingleApplication::messageReceived);
        QCOMPARE(run_sender(the_id + id, message.toUtf8()), code);
        QTest::qWait(code ? 50 : 0);
        QTRY_COMPARE(received.count(), code ? 0 : 1);
        QCOMPARE(received.value(0).value(0).toString(), code ? QString() : message);
    }

    // What a crash can leave behind does not block the next start; of two
    // copies started at once exactly one becomes the running one.
    void staleSocketDoesNotBlockStart_data()
    {
        QTest::addColumn<QString>("leftover");
        QTest::newRow("copy killed: its socket file, nobody listening") << "killed";
        QTest::newRow("plain file") << "file";
        QTest::newRow("two copies started at once") << "race";
    }

    void staleSocketDoesNotBlockStart()
    {
        QFETCH(QString, leftover);
        const QString id = the_id + "-stale-" + leftover;
        const QString path = QDir(QDir::tempPath()).filePath(single_instance_server_name(id));
        for (int round = 0; leftover == "race" && round < 10; ++round) {
            const QString race = id + QString::number(round);
            QProcess* a = start_helper(this, {"--serve", race});
            QProcess* b = start_helper(this, {"--serve", race});
            QByteArrayList lines{first_line(a), first_line(b)};
            std::sort(lines.begin(), lines.end());
            stop(a);
            stop(b);
            QLocalServer::removeServer(single_instance_server_name(race));
            QCOMPARE(lines, (QByteArrayList{"primary", "running"}));
        }
        if (leftover == "race")
            return;
        if (leftover == "killed") {
            QProcess* crashed = start_helper(this, {"--serve", id});
            QCOMPARE(first_line(crashed), QByteArray("primary"));
            crashed->kill(); // SIGKILL: no chance to clean up
            QVERIFY(crashed->waitForFinished());
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("left over") > 0);
        }
        QVERIFY(QFile::exists(path));

        QProcess* next = start_helper(this, {"--serve", id});
        QCOMPARE(first_line(next), QByteArray("primary"));
        QCOMPARE(run_sender(id, "after the crash"), 0);
        QCOMPARE(first_line(next), "message " + QByteArray("after the crash").toHex());
        QTRY_COMPARE(next->state(), QProcess::NotRunning);
        QVERIFY(next->exitStatus() == QProcess::NormalExit && next->exitCode() == 0);
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
        const QStringList three{"first", QString(), QStringLiteral("dritte Nachricht ✓")};
        const QByteArray framed = frame(three[0].toUtf8()) + frame({}) + frame(three[2].toUtf8());
        for (int piece : {1, 3, 7, 0})
            QTest::newRow(piece ? qPrintable(QString("%1 bytes at a time").arg(piece)) : "all at once")
                << framed << piece << three;
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
            for (int at = 0; at < bytes.size(); at += piece ? piece : bytes.size()) {
                socket.write(bytes.mid(at, piece ? piece : bytes.size()));
                socket.flush();
                QTest::qWait(2);
            }
            QTest::qWait(messages.isEmpty() ? 50 : 0);
            if (bytes.startsWith(char(0xff)))
                QTRY_COMPARE(socket.state(), QLocalSocket::UnconnectedState);
            QTRY_COMPARE(received.count(), messages.size());
            QTRY_COMPARE(socket.bytesAvailable(), qint64(messages.size())); // one answer each
        }
        QCOMPARE(received.count(), messages.size());
        for (int i = 0; i < messages.size(); ++i)
            QCOMPARE(received.at(i).at(0).toString(), messages.at(i));
        if (messages.isEmpty()) {
            QCOMPARE(run_sender(the_id, "still there"), 0);
            QTRY_COMPARE(received.count(), 1);
        }
    }

    // Which window a message raises and activates: the registered one (the
    // later of two), only when registered with activation, never one still
    // hidden; asked directly, the target is raised all the same. (A later
    // start's message raising the window: tst_startup.)
    void activation_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("raised");
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
        const bool linked = how != "no activation" && how != "direct";
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
        the_app()->setActivationWindow(&window, linked);
        QCOMPARE(the_app()->messageReceivers(), receivers + (linked ? 1 : 0));
        if (how == "direct")
            the_app()->activateWindow();
        else
            emit the_app()->messageReceived("raise_window_noop");
        QTest::qWait(raised ? 0 : 50);
        QTRY_VERIFY(window.isMinimized() == (!raised && how != "hidden"));
        QCOMPARE(window.isVisible(), how != "hidden");
        QTRY_VERIFY(!raised || window.isActiveWindow());
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
