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

    int run_second_instance(qint64* took, const QString& program = QStringLiteral(QUORLAN_DEMO_PATH),
                            int wait_ms = 10000)
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
        *took = clock.elapsed();
        if (second.exitStatus() != QProcess::NormalExit)
            return -101;
        return second.exitCode();
    }

private slots:
    void the_tool_is_not_held_back_by_the_demo()
    {
        // With the demo running, the tool for a real unit starts and stays.
        qint64 took = 0;
        QCOMPARE(run_second_instance(&took, QStringLiteral(QUORLAN_TOOL_PATH), 3000), -102);
    }

    // Whether a hidden window stays hidden: tst_single_application.
    void second_start_exits_and_raises_first()
    {
        QWidget window;
        app()->setActivationWindow(&window, true);
        window.show();
        window.showMinimized();
        QVERIFY(window.windowState() & Qt::WindowMinimized);
        QSignalSpy received(app(), &SingleApplication::messageReceived);

        qint64 took = 0;
        QCOMPARE(run_second_instance(&took), 0); // ends by itself within the wait
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(received.at(0).at(0).toString(), QString("raise_window_noop"));
        QTRY_VERIFY(!(window.windowState() & Qt::WindowMinimized));
        QVERIFY(window.isVisible());
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
