// Start-up as a user sees it: this process plays the running demo (same application id), the real
// demo is started as the second instance; the tool for a real unit is not held back by it.
#include "testsupport.h"

#include "single_application.h"

#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

using testsupport::wait_for;

class StartupTest : public QObject
{
    Q_OBJECT

    SingleApplication* app() { return static_cast<SingleApplication*>(qApp); }

private slots:
    // A second demo hands its message to this one and ends, raising the minimised window; the tool
    // starts as the first copy of its own id. A hidden window staying hidden: tst_single_application.
    void second_start_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("the demo again: exits and raises the first") << QStringLiteral(QUORLAN_DEMO_PATH);
        QTest::newRow("the tool: not held back by the demo") << QStringLiteral(QUORLAN_TOOL_PATH);
    }

    void second_start()
    {
        QFETCH(QString, program);
        const bool demo = program == QUORLAN_DEMO_PATH;
        QWidget window;
        app()->setActivationWindow(&window, true);
        window.showMinimized();
        QVERIFY(window.windowState() & Qt::WindowMinimized);
        QSignalSpy received(app(), &SingleApplication::messageReceived);
        QProcess second;
        qputenv("QT_QPA_PLATFORM", "offscreen"); // the second inherits it
        second.start(program, QStringList());
        QVERIFY(second.waitForStarted(5000));
        if (demo) {
            // Our event loop turns meanwhile, so that the message is received.
            QVERIFY(wait_for([&] { return second.state() == QProcess::NotRunning; }, 10000));
            QVERIFY(second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0);
            QTRY_COMPARE(received.count(), 1);
            QCOMPARE(received.at(0).at(0).toString(), QString("raise_window_noop"));
            QTRY_VERIFY(!(window.windowState() & Qt::WindowMinimized));
            QVERIFY(window.isVisible());
        } else {
            QLocalSocket probe; // the tool's own server answers once it runs
            QVERIFY(wait_for([&] {
                probe.connectToServer(single_instance_server_name("korvend_version001"));
                return probe.waitForConnected(50) || second.state() == QProcess::NotRunning;
            }, 10000));
            QCOMPARE(second.state(), QProcess::Running);
            QCOMPARE(received.count(), 0);
            second.kill();
            second.waitForFinished();
        }
        app()->setActivationWindow(nullptr, false);
    }
};

int main(int argc, char** argv)
{
    SingleApplication app(QStringLiteral("korvend_version001_simulated"), argc, argv);
    if (app.isRunning()) {
        qWarning("another instance of the tool runs for this user; cannot test start-up");
        return 1;
    }
    testsupport::init_resources();
    StartupTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startup.moc"
