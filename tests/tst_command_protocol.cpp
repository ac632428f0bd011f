// How a setting reaches the unit, one row per kind of request and answer:
// the requests on the wire, the waits, the judgement line and verdict, and
// the poll afterwards; then the poll's pause in real time.
#include "settings_harness.h"
#include "ui_wireless_video_link.h"

#include "request_codes.h"

using namespace harness;
using testsupport::DebugCapture;
using Verdict = CommandChannel::Verdict;
Q_DECLARE_METATYPE(Verdict)

class CommandProtocolTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Window> h;

private slots:
    void init()
    {
        testsupport::reset_bus();
        h = std::make_unique<Window>();
        QVERIFY(h->opened);
        QVERIFY(h->w->poll_timer()->isActive());
    }
    void cleanup() { h.reset(); }

    void setting_data()
    {
        QTest::addColumn<QString>("call");   // acked, unacked, quick, quick-no-pause
        QTest::addColumn<QString>("answer"); // what the unit or the bus does
        QTest::addColumn<int>("rc");
        QTest::addColumn<QString>("wire");
        QTest::addColumn<QString>("waits");
        QTest::addColumn<QStringList>("debug");
        QTest::addColumn<Verdict>("verdict");
        QTest::addColumn<bool>("polling"); // the poll timer afterwards
        const QStringList none;
        // Status reads 400 ms apart, at most three, then the settle time.
        QTest::newRow("done at once") << "acked" << "" << 0 << "C2:3c F8" << "400 100" << QStringList{"Set region done"}
                                      << Verdict::Done << true;
        QTest::newRow("rejected: stops at once") << "acked" << "reject" << 0 << "C2:3c F8" << "400 100"
                                                 << QStringList{"Set region failed"} << Verdict::Rejected << true;
        QTest::newRow("silent: three reads") << "acked" << "ignore" << 0 << "C2:3c F8 F8 F8" << "400 400 400 100"
                                             << QStringList{"Set region timeout"} << Verdict::Unconfirmed << true;
        QTest::newRow("unknown answer") << "acked" << "0x80" << 0 << "C2:3c F8 F8 F8" << "400 400 400 100"
                                        << QStringList{"Set region unknow error"} << Verdict::Unconfirmed << true;
        QTest::newRow("done on the third read") << "acked" << "third" << 0 << "C2:3c F8 F8 F8" << "400 400 400 100"
                                                << QStringList{"Set region done"} << Verdict::Done << true;
        // A failed transfer ends the setting: no verdict line, no settle
        // time; the unit is still there, so its status is still polled.
        QTest::newRow("setting stalls") << "acked" << "C2 -9" << -9 << "C2:3c!" << "" << none << Verdict::Failed
                                        << true;
        QTest::newRow("setting times out") << "acked" << "C2 -7" << -7 << "C2:3c!" << "" << none << Verdict::Failed
                                           << true;
        QTest::newRow("status read fails") << "acked" << "F8 -1" << -1 << "C2:3c F8!" << "400" << none
                                           << Verdict::Failed << true;
        QTest::newRow("status read: unit gone") << "acked" << "F8 -4" << -4 << "C2:3c F8!" << "400" << none
                                                << Verdict::Failed << true;
        QTest::newRow("no acknowledgement asked") << "unacked" << "" << 0 << "C2:3c" << "100" << none << Verdict::Sent
                                                  << true;
        QTest::newRow("no unit") << "acked" << "closed" << 0 << "" << "" << none << Verdict::NotSent << false;
        // One status read 300 ms later; the failure text unless done.
        QTest::newRow("quick, done") << "quick" << "" << -999 << "C2:3c F8" << "300 200" << none << Verdict::Done
                                     << true;
        QTest::newRow("quick, rejected") << "quick" << "reject" << -999 << "C2:3c F8" << "300 200"
                                         << QStringList{"no luck"} << Verdict::Rejected << true;
        QTest::newRow("quick, not yet") << "quick" << "ignore" << -999 << "C2:3c F8" << "300 200"
                                        << QStringList{"no luck"} << Verdict::Unconfirmed << true;
        QTest::newRow("quick, status read fails") << "quick" << "F8 -7" << -999 << "C2:3c F8!" << "300 200"
                                                  << QStringList{"no luck"} << Verdict::Failed << true;
        // A setting that never reached the unit is not done, even when the
        // status byte still says so for the one before.
        QTest::newRow("quick, setting fails") << "quick" << "C2 -9" << -999 << "C2:3c! F8" << "300 200"
                                              << QStringList{"no luck"} << Verdict::Failed << true;
        // Left to the caller: the timer stays as it was, stopped here.
        QTest::newRow("quick, no pause") << "quick-no-pause" << "stopped" << -999 << "C2:3c F8" << "300 200" << none
                                         << Verdict::Done << false;
    }

    void setting()
    {
        QFETCH(QString, call);
        QFETCH(QString, answer);
        QFETCH(int, rc);
        QFETCH(QString, wire);
        QFETCH(QString, waits);
        QFETCH(QStringList, debug);
        QFETCH(Verdict, verdict);
        QFETCH(bool, polling);
        sim::SimLink& link = h->link();
        if (answer == "reject")
            link.rejectNextSettings();
        else if (answer == "ignore")
            link.ignoreNextSettings();
        else if (answer == "0x80")
            link.answerNextSettingsWith(0x80);
        else if (answer == "third")
            link.setStatusReadsUntilDone(3);
        else if (answer == "closed")
            h->w->open_device(false);
        else if (answer == "stopped")
            h->w->poll_timer()->stop();
        else if (!answer.isEmpty())
            h->dev->failNext(answer.section(' ', 0, 0).toInt(nullptr, 16), answer.section(' ', 1).toInt());
        WaitLog log;
        DebugCapture capture;
        const size_t m = h->mark();
        const unsigned char payload = 0x3C;
        int got = -999;
        if (call == "acked" || call == "unacked")
            got = h->w->send_set_command(&payload, 1, req::RegionPower, "region", call == "acked", 100);
        else
            h->w->quick_handshake(req::RegionPower, &payload, 1, "no luck", 200, call == "quick");
        QCOMPARE(got, rc);
        QCOMPARE(harness::wire(h->since(m)), wire);
        for (const sim::Transfer& t : h->since(m))
            QCOMPARE(t.timeout_ms, 2000u);
        QCOMPARE(log.text(), waits);
        QCOMPARE(lines(capture), debug);
        QCOMPARE(h->w->command_channel()->last_verdict(), verdict);
        QCOMPARE(h->w->poll_timer()->isActive(), polling);
    }

    // In real time, with ticks every 50 ms: none falls between the setting
    // and the end of its settle time.
    void poll_is_paused_for_the_whole_setting()
    {
        h->w->poll_timer()->setInterval(50);
        QTest::qWait(120);
        const int64_t t0 = sim::VirtualBus::instance().nowUs();
        const unsigned char payload = 1;
        h->w->send_set_command(&payload, 1, req::FreqHop, "hop", true, 500);
        const int64_t t1 = sim::VirtualBus::instance().nowUs();
        QVERIFY(t1 - t0 >= 900000); // the waits are real here
        for (const auto& t : h->dev->log())
            if (t.bRequest == req::DevStatus)
                QVERIFY(t.t_us < t0 || t.t_us > t1 - 1000);
        QVERIFY(h->w->poll_timer()->isActive());
    }

    // The unit gone during the settle time: the poll stays stopped.
    void unplug_during_settle_keeps_poll_stopped()
    {
        QTimer::singleShot(100, h->w.get(), [this] {
            sim::VirtualBus::instance().unplug(h->dev);
            h->w->deal_dev_disconnected(); // as the watcher would
        });
        const unsigned char payload = 1;
        h->w->send_set_command(&payload, 1, req::FreqHop, "hop", false, 400);
        QVERIFY(!h->w->device_handle());
        QVERIFY(!h->w->poll_timer()->isActive());
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    testsupport::init_resources();
    CommandProtocolTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_command_protocol.moc"
