// How a setting reaches the unit: the request, the command status reads
// and their judgement, the settle time and the paused poll.
#include "testsupport.h"

#include "request_codes.h"
#include "sim_link.h"
#include "wireless_video_link.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <memory>

using namespace testsupport;

class CommandProtocolTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Wireless_Video_Link> w;
    std::shared_ptr<sim::SimDevice> dev;

    sim::SimLink& link() { return dev->unit().link(); }

    std::vector<sim::Transfer> after(int64_t t0)
    {
        std::vector<sim::Transfer> out;
        for (const auto& t : dev->log())
            if (t.t_us >= t0)
                out.push_back(t);
        return out;
    }

    static int count_of(const std::vector<sim::Transfer>& log, uint8_t request)
    {
        int n = 0;
        for (const auto& t : log)
            n += t.bRequest == request;
        return n;
    }

private slots:
    void init()
    {
        reset_bus();
        dev = plug();
        w = std::make_unique<Wireless_Video_Link>();
        QCOMPARE(w->open_device(true), 0);
        QVERIFY(w->poll_timer()->isActive());
        w->poll_timer()->stop(); // the test drives the ticks itself
    }

    void cleanup()
    {
        w.reset();
        dev.reset();
        reset_bus();
    }

    void judgement_of_the_status_byte_data()
    {
        QTest::addColumn<int>("behaviour");
        QTest::addColumn<int>("reads");
        QTest::addColumn<QString>("line");
        QTest::newRow("done first read") << 0 << 1 << "Set region done";
        QTest::newRow("rejected stops at once") << 1 << 1 << "Set region failed";
        QTest::newRow("silent three reads") << 2 << 3 << "Set region timeout";
        QTest::newRow("unknown answer") << 3 << 3 << "Set region unknow error";
        QTest::newRow("done on the third read") << 4 << 3 << "Set region done";
    }

    void judgement_of_the_status_byte()
    {
        QFETCH(int, behaviour);
        QFETCH(int, reads);
        QFETCH(QString, line);
        switch (behaviour) {
        case 1: link().rejectNextSettings(); break;
        case 2: link().ignoreNextSettings(); break;
        case 3: link().answerNextSettingsWith(0x80); break;
        case 4: link().setStatusReadsUntilDone(3); break;
        default: break;
        }
        DebugCapture capture;
        const int64_t t0 = sim::VirtualBus::instance().nowUs();
        const unsigned char payload = 0x3C;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(w->send_set_command(&payload, 1, req::RegionPower, "region", true, 100), 0);
        const qint64 took = clock.elapsed();
        const auto log = after(t0);
        QCOMPARE(int(log.front().bRequest), int(req::RegionPower));
        QCOMPARE(int(log.front().bmRequestType), 0x41);
        QCOMPARE(log.front().timeout_ms, 2000u);
        QCOMPARE(log.front().data, std::vector<uint8_t>{0x3C});
        QCOMPARE(count_of(log, req::CommandStatus), reads);
        QCOMPARE(int(log.size()), 1 + reads);
        // Each status read comes 400 ms after the previous exchange.
        for (size_t i = 1; i < log.size(); ++i) {
            QCOMPARE(int(log[i].bmRequestType), 0xC1);
            QVERIFY2(log[i].t_us - log[i - 1].end_us >= 399000, qPrintable(QString::number(log[i].t_us - log[i - 1].end_us)));
        }
        QVERIFY(took >= 400 * reads + 100);
        QCOMPARE(capture.count(line), 1);
        QVERIFY(w->poll_timer()->isActive());
    }

    void no_acknowledgement_reads_nothing()
    {
        const int64_t t0 = sim::VirtualBus::instance().nowUs();
        DebugCapture capture;
        const unsigned char usb = 0x5A;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(w->send_set_command(&usb, 1, req::Datalink, "datalink from usb", false, 300), 0);
        QVERIFY(clock.elapsed() >= 300);
        const auto log = after(t0);
        QCOMPARE(int(log.size()), 1);
        QCOMPARE(count_of(log, req::CommandStatus), 0);
        QVERIFY(capture.lines().filter("datalink").isEmpty());
        QVERIFY(w->poll_timer()->isActive());
    }

    void poll_is_paused_for_the_whole_setting()
    {
        // Ticks would read 0xE6: none may fall between the setting and the
        // end of its settle time.
        w->poll_timer()->setInterval(50);
        w->poll_timer()->start();
        QTest::qWait(120);
        const int64_t t0 = sim::VirtualBus::instance().nowUs();
        const unsigned char payload = 1;
        w->send_set_command(&payload, 1, req::FreqHop, "hop", true, 500);
        const int64_t t1 = sim::VirtualBus::instance().nowUs();
        for (const auto& t : dev->log())
            if (t.bRequest == req::DevStatus)
                QVERIFY(t.t_us < t0 || t.t_us > t1 - 1000);
        QVERIFY(w->poll_timer()->isActive());
    }

    void transfer_failure_ends_setting_but_not_poll_data()
    {
        QTest::addColumn<int>("failing");
        QTest::addColumn<int>("code");
        QTest::newRow("setting pipe") << int(req::RegionPower) << -9;
        QTest::newRow("setting timeout") << int(req::RegionPower) << -7;
        QTest::newRow("status read io") << int(req::CommandStatus) << -1;
        QTest::newRow("status read gone") << int(req::CommandStatus) << -4;
    }

    void transfer_failure_ends_setting_but_not_poll()
    {
        QFETCH(int, failing);
        QFETCH(int, code);
        w->poll_timer()->start();
        dev->failNext(failing, code);
        DebugCapture capture;
        const unsigned char payload = 0x3C;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(w->send_set_command(&payload, 1, req::RegionPower, "region", true, 5000), code);
        // No verdict and no settle time; the unit is still there, so its
        // status keeps being polled.
        QVERIFY(clock.elapsed() < 4500);
        QVERIFY(w->poll_timer()->isActive());
        QVERIFY(capture.lines().filter("Set region").isEmpty());
    }

    void no_device_does_nothing()
    {
        w->open_device(false);
        dev->clearLog();
        const unsigned char payload = 1;
        QCOMPARE(w->send_set_command(&payload, 1, req::FreqHop, "hop", true, 1000), 0);
        QVERIFY(dev->log().empty());
        QVERIFY(!w->poll_timer()->isActive());
    }

    void quick_handshake_data()
    {
        QTest::addColumn<int>("behaviour");
        QTest::addColumn<bool>("failureLine");
        QTest::newRow("done") << 0 << false;
        QTest::newRow("rejected") << 1 << true;
        QTest::newRow("not yet") << 2 << true;
        QTest::newRow("status read fails") << 3 << true;
    }

    void quick_handshake()
    {
        QFETCH(int, behaviour);
        QFETCH(bool, failureLine);
        if (behaviour == 1)
            link().rejectNextSettings();
        else if (behaviour == 2)
            link().ignoreNextSettings();
        else if (behaviour == 3)
            dev->failNext(req::CommandStatus, -7);
        w->poll_timer()->start();
        DebugCapture capture;
        const int64_t t0 = sim::VirtualBus::instance().nowUs();
        const unsigned char baud = 1;
        QElapsedTimer clock;
        clock.start();
        w->quick_handshake(req::BaudRate, &baud, 1, "set COM baundrate failed", 200, true);
        QVERIFY(clock.elapsed() >= 500);
        const auto log = after(t0);
        QCOMPARE(int(log.size()), 2); // one setting, one status read, nothing else
        QCOMPARE(int(log[0].bRequest), int(req::BaudRate));
        QCOMPARE(int(log[1].bRequest), int(req::CommandStatus));
        QVERIFY(log[1].t_us - log[0].end_us >= 299000);
        QCOMPARE(capture.contains("set COM baundrate failed"), failureLine);
        QVERIFY(w->poll_timer()->isActive());
    }

    void quick_handshake_without_pause_leaves_timer_alone()
    {
        const unsigned char on = 1;
        w->quick_handshake(req::Bind, &on, 1, "set bind failed", 0, false);
        QVERIFY(!w->poll_timer()->isActive());
        w->poll_timer()->start();
        w->quick_handshake(req::Bind, &on, 1, "set bind failed", 0, false);
        QVERIFY(w->poll_timer()->isActive());
    }

    void unplug_during_settle_keeps_poll_stopped()
    {
        // The watcher is not running here; the window is told directly.
        QTimer::singleShot(100, w.get(), [this] {
            sim::VirtualBus::instance().unplug(dev);
            w->deal_dev_disconnected();
        });
        const unsigned char payload = 1;
        w->send_set_command(&payload, 1, req::FreqHop, "hop", false, 400);
        QVERIFY(!w->device_handle());
        QVERIFY(!w->poll_timer()->isActive());
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    init_resources();
    CommandProtocolTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_command_protocol.moc"
