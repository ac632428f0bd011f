// Start-up as a user sees it: this test process plays the running demo
// (same application id), and the real demo executable is started as the
// second instance; the tool for a real unit is not held back by it.
#include "testsupport.h"

#include "single_application.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

class StartupTest : public QObject
{
    Q_OBJECT

private:
    SingleApplication* app() { return static_cast<SingleApplication*>(qApp); }

    int run_second_instance(const QString& program, int wait_ms)
    {
        QProcess second;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        second.setProcessEnvironment(env);
        QElapsedTimer clock;
        clock.start();
        second.start(program, QStringList());
        if (!second.waitForStarted(5000))
            return -100;
        // Keep our event loop turning so the message can be received.
        while (second.state() != QProcess::NotRunning && clock.elapsed() < wait_ms)
            QTest::qWait(10);
        if (second.state() != QProcess::NotRunning) {
            second.kill();
            second.waitForFinished();
            return -102;
        }
        return second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -101;
    }

private slots:
    // With the demo running (this process): a second demo hands its
    // message to it and ends, raising the minimised window; the tool for
    // a real unit starts and stays. Whether a hidden window stays hidden:
    // tst_single_application.
    void second_start_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<int>("code"); // -102: still running at the end of the wait
        QTest::newRow("the demo again: exits and raises the first") << QStringLiteral(QUORLAN_DEMO_PATH) << 0;
        QTest::newRow("the tool: not held back by the demo") << QStringLiteral(QUORLAN_TOOL_PATH) << -102;
    }

    void second_start()
    {
        QFETCH(QString, program);
        QFETCH(int, code);
        QWidget window;
        app()->setActivationWindow(&window, true);
        window.show();
        window.showMinimized();
        QVERIFY(window.windowState() & Qt::WindowMinimized);
        QSignalSpy received(app(), &SingleApplication::messageReceived);
        QCOMPARE(run_second_instance(program, code == 0 ? 10000 : 3000), code);
        if (code == 0) {
            QTRY_COMPARE(received.count(), 1);
            QCOMPARE(received.at(0).at(0).toString(), QString("raise_window_noop"));
            QTRY_VERIFY(!(window.windowState() & Qt::WindowMinimized));
            QVERIFY(window.isVisible());
        } else {
            QCOMPARE(received.count(), 0);
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
