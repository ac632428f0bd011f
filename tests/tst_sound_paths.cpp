// The poll's pauses, the channel list a unit gets, an identity that cannot
// be read, and the device handle shared with the upgrade engine: the paths
// where the window once froze, sent the wrong bytes or used a closed handle.
#include "settings_harness.h"
#include "ui_wireless_video_link.h"
#include "upgrade_support.h"

#include "link_tables.h"
#include "poll_control.h"
#include "request_codes.h"
#include "unit_connection.h"

#include <QComboBox>
#include <QGroupBox>
#include <QTimer>

using namespace harness;
using namespace upgrade_support;

namespace {

int count_requests(const std::vector<sim::Transfer>& log, uint8_t code)
{
    return int(std::count_if(log.begin(), log.end(), [code](const sim::Transfer& t) {
        return t.kind == sim::Transfer::Control && t.bRequest == code;
    }));
}

QByteArray out_data(const std::vector<sim::Transfer>& log, uint8_t code)
{
    for (const sim::Transfer& t : log)
        if (t.kind == sim::Transfer::Control && t.bRequest == code && !(t.bmRequestType & 0x80))
            return QByteArray(reinterpret_cast<const char*>(t.data.data()), int(t.data.size()));
    return {};
}

std::shared_ptr<sim::SimUnit> variant4_unit()
{
    auto unit = std::make_shared<sim::SimUnit>();
    unit->configure(sim::SimUnit::GroundUnit, "QL24G0000004", 0x020304, 4, 1, 0, 0x3440);
    return unit;
}

} // namespace

class SoundPaths : public QObject
{
    Q_OBJECT

private slots:
    void init() { reset_bus(); }
    void cleanup()
    {
        updateThread::set_sleep_function(nullptr);
        reset_bus();
    }

    // Steps: c/d connect/disconnect, S/s setting pause/resume, U/u upgrade,
    // P/p pairing. The poll runs exactly while connected and nothing holds it.
    void poll_pauses_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<bool>("running");
        QTest::newRow("connected") << "c" << true;
        QTest::newRow("never connected") << "Ss" << false;
        QTest::newRow("a setting ends") << "cSs" << true;
        QTest::newRow("a setting ends during an upgrade") << "cUSs" << false;
        QTest::newRow("upgrade ends after a setting ran in it") << "cUSsu" << true;
        QTest::newRow("upgrade ends while a setting still waits") << "cUSu" << false;
        QTest::newRow("nested settings") << "cSSs" << false;
        QTest::newRow("nested settings end") << "cSSss" << true;
        QTest::newRow("unplugged in a setting") << "cSds" << false;
        QTest::newRow("re-plugged during an upgrade") << "cUdc" << false;
        QTest::newRow("re-plugged, upgrade ended") << "cUdcu" << true;
        QTest::newRow("pairing") << "cP" << false;
        QTest::newRow("pairing ends, upgrade resumed twice") << "cPpuu" << true;
        QTest::newRow("resume without pause") << "css" << true;
    }

    void poll_pauses()
    {
        QFETCH(QString, steps);
        QFETCH(bool, running);
        QTimer timer;
        timer.setInterval(1000);
        PollControl poll(&timer);
        for (QChar c : steps) {
            switch (c.toLatin1()) {
            case 'c': poll.set_connected(true); break;
            case 'd': poll.set_connected(false); break;
            case 'S': poll.pause(PollControl::Setting); break;
            case 's': poll.resume(PollControl::Setting); break;
            case 'U': poll.pause(PollControl::Upgrade); break;
            case 'u': poll.resume(PollControl::Upgrade); break;
            case 'P': poll.pause(PollControl::Pairing); break;
            case 'p': poll.resume(PollControl::Pairing); break;
            }
        }
        QCOMPARE(timer.isActive(), running);
        QCOMPARE(timer.interval(), 1000);
    }

    // The window's list of a variant-4 unit, plugged in three times: the
    // same list each time, and the entry chosen sends its own MHz.
    void variant4_list_on_the_wire_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QByteArray>("payload");
        QTest::newRow("Channel 8") << "Channel 8 (2447MHz)" << QByteArray::fromHex("8f090000");
        QTest::newRow("Channel 6, before the gap") << "Channel 6 (2437MHz)" << QByteArray::fromHex("85090000");
        QTest::newRow("Channel RSV 2495") << "Channel RSV (2495MHz)" << QByteArray::fromHex("bf090000");
    }

    void variant4_list_on_the_wire()
    {
        QFETCH(QString, entry);
        QFETCH(QByteArray, payload);
        auto unit = variant4_unit();
        auto dev = plug(unit);
        Wireless_Video_Link w;
        QComboBox* box = w.form()->comboBox_freq;
        for (int plugs = 0; plugs < 3; ++plugs) {
            QCOMPARE(w.open_device(true), 0);
            QCOMPARE(box->count(), 15);
            QCOMPARE(box->findText("Channel 7 (2442MHz)"), -1);
            QCOMPARE(w.open_device(false), 0);
        }
        QCOMPARE(w.open_device(true), 0);
        const int index = box->findText(entry);
        QVERIFY(index >= 0);
        dev->clearLog();
        activate(box, index);
        QCOMPARE(out_data(dev->log(), sim::kReqFrequency), payload);
    }

    // 0xE3 and 0xE0 both fail at the connection of an air unit: nothing is
    // decided, no ground-only request is sent, and the next identity read
    // makes the window an air unit's.
    void unread_identity_decides_nothing()
    {
        auto unit = std::make_shared<sim::SimUnit>();
        unit->configure(sim::SimUnit::AirUnit, "QL24A0000001", 0x020304, 1, 2, 3, 0x2440);
        auto dev = plug(unit);
        dev->failNext(sim::kReqIdentity, LIBUSB_ERROR_IO);
        dev->failNext(sim::kReqDeviceInfo, LIBUSB_ERROR_IO);
        Wireless_Video_Link w;
        w.show();
        QCOMPARE(w.open_device(true), 0);
        QCOMPARE(w.unit_type, 0);
        QCOMPARE(w.form()->label_info_dev->text(), QString("unknow"));
        QVERIFY(w.form()->pushButton_frequency->isHidden());
        for (int i = 0; i < 3; ++i)
            w.poll_status();
        QCOMPARE(count_requests(dev->log(), sim::kReqScan), 0);

        w.on_pushButton_GET_SN_clicked();
        QCOMPARE(w.unit_type, 1);
        QCOMPARE(w.form()->label_info_dev->text(), QString("Air"));
        w.poll_status();
        QCOMPARE(count_requests(dev->log(), sim::kReqScan), 0);
    }

    // While the engine runs, no control reaches the unit; afterwards the
    // poll runs at its period whatever was clicked meanwhile.
    void nothing_but_the_engine_during_an_upgrade()
    {
        updateThread::set_sleep_function(&test_sleep);
        g_divisor = 50;
        Window h;
        QVERIFY(h.opened);
        QTemporaryDir dir;
        h.ui->lineEdit_file->setText(write_file(dir, "image.bin", build_image({{kMcu1, payload(3000, 7)}})));
        h.dev->setLatency(std::chrono::milliseconds(20));
        h.ui->pushButton_upgrade->click();
        QVERIFY(!h.ui->groupBox_technician->isEnabled());
        QVERIFY(!h.ui->widget_encry->isEnabled());
        const size_t m = h.mark();
        // The slots themselves, as a shortcut or a signal would reach them.
        h.w->on_comboBox_bandwidth_activated(1);
        h.w->on_radioButton_up_mode_clicked();
        h.w->on_radioButton_ARQ_enable_clicked();
        h.w->on_radioButton_antenna_0_clicked();
        h.w->on_TestMode_clicked(true);
        h.w->on_set_encrypt_key(QString(16, QLatin1Char('k')));
        h.w->set_BindMode(true);
        h.w->on_pushButton_GET_SN_clicked();
        for (uint8_t code : {sim::kReqBandwidth, sim::kReqTddRatio, sim::kReqConfigByte, sim::kReqAntenna,
                             sim::kReqTestMode, sim::kReqEncryptKey, sim::kReqBind, sim::kReqIdentity,
                             sim::kReqDevStatus})
            QVERIFY2(count_requests(h.since(m), code) == 0, qPrintable(QString::number(code, 16)));
        QVERIFY(!h.w->poll_timer()->isActive());
        QVERIFY(wait_for([&] { return h.ui->pushButton_upgrade->isEnabled(); }, 30000));
        QCOMPARE(h.ui->label_update_message->text(), QString("Upgrade success"));
        QVERIFY(h.w->poll_timer()->isActive());
        QCOMPARE(h.w->poll_timer()->interval(), 1000);
        QVERIFY(h.wait_poll());
    }

    // The two orderings where a handle was used after its close, held at
    // the point of danger: the unit is closed while the engine's transfer
    // is in flight, and the watcher's "connected" comes right after the
    // engine's own reopen at the MCU2 restart.
    void handle_shared_with_the_engine_data()
    {
        QTest::addColumn<QString>("ordering");
        QTest::newRow("closed while the engine transfers") << "close";
        QTest::newRow("watcher reopens after the MCU2 restart") << "reopen";
    }

    void handle_shared_with_the_engine()
    {
        QFETCH(QString, ordering);
        updateThread::set_sleep_function(&test_sleep);
        g_divisor = 50;
        auto unit = make_ground_unit();
        unit->upgrade().setRestartTiming(std::chrono::milliseconds(5), std::chrono::milliseconds(20));
        auto dev = plug(unit);
        Wireless_Video_Link w;
        QCOMPARE(w.open_device(true), 0);
        QTemporaryDir dir;
        const QByteArray mcu1 = payload(4000, 3), mcu2 = payload(1500, 4);
        const QByteArray image = ordering == "close" ? build_image({{kMcu1, mcu1}})
                                                     : build_image({{kMcu2, mcu2}, {kMcu1, mcu1}});
        w.form()->lineEdit_file->setText(write_file(dir, "image.bin", image));

        if (ordering == "close")
            dev->setLatency(std::chrono::milliseconds(150));
        BoxAnswerer boxes; // "Please restart device."
        dev->holdTransfers(true);
        w.form()->pushButton_upgrade->click();
        auto* engine = w.findChild<updateThread*>();
        QVERIFY(engine);
        QObject context;
        if (ordering == "close") {
            // Once a chunk is on its way: the window closes the unit.
            QObject::connect(engine, &updateThread::refresh_horizen_value, &context, [&](int value) {
                if (value > 0 && w.device_handle())
                    w.deal_dev_disconnected();
            });
        } else {
            // After the window's own reopen, the watcher's late "connected".
            QObject::connect(engine, &updateThread::mcu2_update, &context, [&](bool open) {
                if (open)
                    w.auto_connect_dev();
            });
        }
        dev->holdTransfers(false);
        QVERIFY(wait_for([&] { return w.form()->pushButton_upgrade->isEnabled(); }, 60000));

        QCOMPARE(sim::VirtualBus::instance().closedHandleUses(), 0);
        if (ordering == "close") {
            QVERIFY(w.form()->label_update_message->text() != QLatin1String("Upgrade success"));
            QVERIFY(!w.poll_timer()->isActive());
        } else {
            QCOMPARE(w.form()->label_update_message->text(), QString("Upgrade success"));
            QCOMPARE(unit->upgrade().flashed(Up::Mcu1), bytes(mcu1));
            QCOMPARE(unit->upgrade().flashed(Up::Mcu2), bytes(mcu2));
            QVERIFY(w.poll_timer()->isActive());
            QCOMPARE(sim::VirtualBus::instance().liveHandles(), 1);
        }
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    testsupport::init_resources();
    SoundPaths test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sound_paths.moc"
