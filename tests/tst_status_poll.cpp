// One poll tick against the simulated unit, one row each: the unit's state
// or a failing read, then the requests of the tick, what the pages show and
// what a failed read leaves alone; and the band scan's curve. What the
// record bytes mean is tested below the window, in tst_records.
#include "settings_harness.h"
#include "ui_wireless_video_link.h"

#include "request_codes.h"

#include <QRegularExpression>
#include <QSignalSpy>

using namespace harness;
using testsupport::DebugCapture;

using Prep = std::function<void(Wireless_Video_Link&, sim::SimDevice&)>;
using Check = std::function<bool(Wireless_Video_Link&)>;
Q_DECLARE_METATYPE(Prep)
Q_DECLARE_METATYPE(Check)

namespace {

// The tick's requests, without the serial refresh of every fourth tick.
QString tick_wire(const std::vector<sim::Transfer>& log)
{
    return wire(log).remove(QRegularExpression("E3 ?")).trimmed();
}

std::array<uint8_t, 16> ramp(int from)
{
    std::array<uint8_t, 16> m{};
    for (int i = 0; i < 16; ++i)
        m[size_t(i)] = uint8_t(from + i);
    return m;
}

Prep on_link(std::function<void(sim::SimLink&)> f)
{
    return [=](Wireless_Video_Link&, sim::SimDevice& d) { f(d.unit().link()); };
}

} // namespace

class StatusPollTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Wireless_Video_Link> w;
    std::shared_ptr<sim::SimDevice> dev;

    // A unit whose poll runs only when the test says so.
    void connect_unit(int model = 0)
    {
        auto unit = testsupport::make_ground_unit();
        unit->setModelIndex(model);
        dev = testsupport::plug(unit);
        QCOMPARE(w->open_device(true), 0);
        w->poll_timer()->stop();
        dev->unit().link().setAutoAdvance(false);
        dev->clearLog();
    }

    QList<QPointF> curve() const { return w->scan_series_object()->points(); }

private slots:
    void init()
    {
        testsupport::reset_bus();
        w = std::make_unique<Wireless_Video_Link>();
    }

    void cleanup()
    {
        w.reset();
        dev.reset();
        testsupport::reset_bus();
    }

    void tick_data()
    {
        QTest::addColumn<Prep>("prep");
        QTest::addColumn<QString>("codes"); // "": not checked
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("debug"); // a line the tick must write
        QTest::addColumn<Check>("check");
        const Check none;
        auto rssi = [](int ground, int air, int bind) {
            return on_link([=](sim::SimLink& l) {
                l.setGroundRssi(uint8_t(ground), uint8_t(ground));
                l.setAirRssi(uint8_t(air), uint8_t(air));
                l.setBindByte(uint8_t(bind));
            });
        };
        QTest::newRow("RSSI 30/60, bound")
            << rssi(30, 60, 1) << "E6 F9 E7 A1 E1"
            << "progressBar_ground_rssi=70; progressBar_ground_rssi_2=70; progressBar_air_rssi=40; "
               "progressBar_air_rssi_2=40; progressBar_ground_rssi%=-30 dBm; label_test_g_rssi=-30dBm; "
               "label_test_g_rssi_2=-30dBm; label_bind_status=Binded"
            << "" << none;
        QTest::newRow("RSSI 101") << rssi(101, 101, 1) << ""
                                  << "progressBar_ground_rssi=0; progressBar_air_rssi=0; "
                                     "progressBar_ground_rssi%=-101 dBm; label_test_g_rssi=-101dBm"
                                  << "" << none;
        QTest::newRow("no ground reading") << rssi(255, 40, 1) << ""
                                           << "progressBar_ground_rssi=0; progressBar_ground_rssi%=0%; "
                                              "label_test_g_rssi=-255dBm; progressBar_air_rssi=60"
                                           << "" << none;
        QTest::newRow("unbound: no air reading")
            << rssi(50, 40, 0) << "" << "progressBar_air_rssi=0; progressBar_air_rssi_2=0; label_bind_status=unBinded"
            << "" << none;
        QTest::newRow("pairing: air still shown")
            << rssi(50, 40, 2) << "" << "progressBar_air_rssi=60; label_bind_status=unBinded" << "" << none;
        auto temperature = [](int t) {
            return on_link([=](sim::SimLink& l) { l.setTemperatures(int8_t(t), int8_t(t), int8_t(t), int8_t(t)); });
        };
        QTest::newRow("76 degrees: red")
            << temperature(76) << ""
            << QString::fromUtf8("label_a_BB_TEMP$=color:red;; label_g_BB_TEMP$=color:red;; label_a_PA_TEMP$=color:red;; "
                                 "label_g_PA_TEMP$=color:red;; label_g_PA_TEMP=76 ℃; label_G_PA_TEMP=76 ℃")
            << "" << none;
        QTest::newRow("-10 degrees: green")
            << temperature(-10) << ""
            << QString::fromUtf8("label_a_BB_TEMP$=color:green;; label_g_PA_TEMP$=color:green;; label_a_BB_TEMP=-10 ℃")
            << "" << none;
        QTest::newRow("settings shown from the records")
            << Prep([](Wireless_Video_Link& w, sim::SimDevice& d) {
                   sim::SimLink& l = d.unit().link();
                   l.setFrequency(2437);
                   l.setFrequencyMode(0);
                   l.setRegionPower(2, 31);
                   l.setBaudIndex(0xFF);
                   l.setRcMode(0);
                   l.setDatalinkUsb(true);
                   l.setObserver(true);
                   l.setProfile(2);
                   l.setAntennaByte(0x11);
                   l.setRange(1234);
                   l.setRates(512, 6280);
                   l.setDownlinkCode(8);
                   l.setEncryption(true, 1);
                   w.power_offset_flag = true;
               })
            << ""
            << "label_FREQ=2437; label_MHZ=MHz; label_frequency_l=2437MHz; pushButton_manual=on; "
               "comboBox_freq!=enabled; comboBox_region=2; label_RFPOWER=33dBm; comboBox_RadioRate=2; "
               "label_test_bandrate=115200bps; radioButton_sbus=on; radioButton_usb=on; radioButton_RO=on; "
               "comboBox_profile=1; label_antenna_sta=enable; label_current_ant=RF2; label_a_Distance=1234m; "
               "label_distance_l=1234m; label_uplink_rate_2=512Kbit/s; label_downlink_rate=6280Kbit/s; "
               "label_test_downlink=7.52Mbps; comboBox_downlink=6; radioButton_AES256=on"
            << "" << none;
        QTest::newRow("hopping, profile 0, PPM, 460800 baud")
            << on_link([](sim::SimLink& l) {
                   l.setFrequencyMode(1);
                   l.setProfile(0);
                   l.setRcMode(1);
                   l.setBaudIndex(4);
               })
            << "" << "pushButton_auto=on; comboBox_freq!=disabled; comboBox_profile=-1; radioButton_ppm=on; "
                     "label_test_bandrate=460800bps"
            << "" << none;
        auto powers = [](int unit_type) {
            return Prep([=](Wireless_Video_Link& w, sim::SimDevice& d) {
                d.unit().link().setGroundRfPowerWord(20);
                d.unit().link().setAirPowerWord(25);
                w.unit_type = unit_type;
            });
        };
        QTest::newRow("ground unit: the air unit's power") << powers(2) << "" << "label_RF_Power_l=25dBm" << ""
                                                           << none;
        QTest::newRow("air unit: its own power, no scan")
            << powers(1) << "E6 E7 A1 E1" << "label_RF_Power_l=20dBm; label_RFPOWER=20dBm" << "" << none;
        auto counters = [](int mask) {
            return Prep([=](Wireless_Video_Link& w, sim::SimDevice& d) {
                d.unit().link().setEthCounters(11, 22);
                w.feature_mask = mask;
            });
        };
        QTest::newRow("datalink counters") << counters(4) << "" << "label_datalink_recv=11; label_datalink_send=22"
                                           << "" << none;
        QTest::newRow("Ethernet counters") << counters(1) << "" << "label_ETH_LOST_l=11; label_RECV_l=22" << ""
                                           << none;
        QTest::newRow("failed first read changes nothing")
            << Prep([](Wireless_Video_Link& w, sim::SimDevice& d) {
                   d.unit().link().setGroundRssi(40, 40);
                   w.poll_status();
                   d.unit().link().setFrequency(2462);
                   d.unit().link().setGroundRssi(90, 90);
                   d.failNext(req::DevStatus, -7);
               })
            << "E6!" << "label_FREQ=2412; progressBar_ground_rssi=60" << "" << none;
        QTest::newRow("failed second read: unknown, and on")
            << Prep([](Wireless_Video_Link&, sim::SimDevice& d) { d.failNext(req::DevStatus2, -9); })
            << "E6 F9 E7! A1 E1"
            << "label_A_BB_TEMP=unknow; label_A_PA_TEMP=unknow; label_G_BB_TEMP=unknow; label_G_PA_TEMP=unknow; "
               "label_test_a_rssi_2=unknow; label_test_g_rssi_2=unknow"
            << "dev_status2 ret -9" << none;
        // The buffer of a failed version read is no version.
        QTest::newRow("failed version read keeps the band")
            << Prep([](Wireless_Video_Link&, sim::SimDevice& d) { d.failNext(req::SoftwareInfo, -7); })
            << "E6 F9 E7 A1 E1!" << "" << ""
            << Check([](Wireless_Video_Link& w) { return w.band_code == 24 && w.form()->comboBox_freq->count() == 16; });
        auto config = [](int byte) {
            return on_link([=](sim::SimLink& l) { l.setConfigByte(uint8_t(byte)); });
        };
        QTest::newRow("configuration byte: group 2, multi settings")
            << config(0x05) << "" << "pushButton_antenna_2=on; comboBox_profile?=shown" << ""
            << Check([](Wireless_Video_Link& w) { return w.pro_config_byte == 0x05 && (w.feature_mask & 2); });
        QTest::newRow("configuration byte: group 1")
            << config(0x01) << "" << "pushButton_antenna_1=on; comboBox_profile?=hidden" << ""
            << Check([](Wireless_Video_Link& w) { return w.pro_config_byte == 0x01 && !(w.feature_mask & 2); });
        QTest::newRow("failed counters read keeps the byte")
            << Prep([](Wireless_Video_Link& w, sim::SimDevice& d) {
                   d.unit().link().setConfigByte(0x01);
                   w.poll_status();
                   d.unit().link().setConfigByte(0x04);
                   d.failNext(req::ProStatus, -7);
               })
            << "E6 F9 E7 A1! E1" << "pushButton_antenna_1=on; label_g_packets_send=unknow" << "pro stat ret -7"
            << Check([](Wireless_Video_Link& w) { return w.pro_config_byte == 0x01; });
        auto loss = [](int status) {
            return Prep([=](Wireless_Video_Link& w, sim::SimDevice& d) {
                d.unit().link().setGroundLdpc(900, 100);
                d.unit().link().setLinkStatus(uint32_t(status), uint32_t(status));
                w.form()->label_lostp->setText("x");
            });
        };
        QTest::newRow("loss rate while linked") << loss(4) << "" << "label_lostp=10%" << "" << none;
        QTest::newRow("no loss rate while searching") << loss(2) << "" << "label_lostp=x" << "" << none;
    }

    void tick()
    {
        QFETCH(Prep, prep);
        QFETCH(QString, codes);
        QFETCH(QString, shown);
        QFETCH(QString, debug);
        QFETCH(Check, check);
        connect_unit();
        prep(*w, *dev);
        const size_t m = dev->log().size();
        QSignalSpy cast(w.get(), &Wireless_Video_Link::cast_rssi);
        DebugCapture capture;
        w->poll_status();
        const auto all = dev->log();
        const std::vector<sim::Transfer> log(all.begin() + long(m), all.end());
        if (!codes.isEmpty())
            QCOMPARE(tick_wire(log), codes);
        for (const sim::Transfer& t : log)
            QVERIFY(t.bmRequestType == kIn && t.timeout_ms == (t.bRequest == req::Scan ? 2000u : 300u));
        QCOMPARE(mismatches(w.get(), shown), QString());
        QVERIFY2(debug.isEmpty() || capture.contains(debug), qPrintable(capture.lines().join(" | ")));
        QVERIFY(!check || check(*w));
        // The ground RSSI goes to the signal bar once per read status.
        QCOMPARE(cast.count(), codes.startsWith("E6!") ? 0 : 1);
    }

    void serial_refreshed_every_fourth_tick()
    {
        connect_unit();
        for (int i = 0; i < 8; ++i)
            w->poll_status();
        const auto codes = dev->requestCodes();
        QCOMPARE(std::count(codes.begin(), codes.end(), req::Identity), 2);
        QVERIFY(w->form()->label_sn->text().startsWith("SN:QL24G0000001-"));
    }

    void loss_rate_over_ten_polls_data()
    {
        QTest::addColumn<QList<int>>("passes");
        QTest::addColumn<QList<int>>("fails");
        QTest::addColumn<QString>("shown");
        QList<int> p, f, p2, f2;
        for (int i = 1; i <= 10; ++i) {
            p << 90 * i;
            f << 10 * i;
        }
        for (int i = 1; i <= 12; ++i) {
            p2 << (i <= 2 ? 0 : 100 * (i - 2));
            f2 << (i <= 2 ? 50 * i : 100);
        }
        QTest::newRow("ten polls 10%") << p << f << "10%";
        QTest::newRow("first call uses raw counters") << QList<int>{300} << QList<int>{100} << "25%";
        QTest::newRow("no packets") << QList<int>{0} << QList<int>{0} << "N/A";
        // The two early polls full of failures have left the window.
        QTest::newRow("old deltas leave the window") << p2 << f2 << "0%";
    }
    void loss_rate_over_ten_polls()
    {
        QFETCH(QList<int>, passes);
        QFETCH(QList<int>, fails);
        QFETCH(QString, shown);
        for (int i = 0; i < passes.size(); ++i)
            w->caculate_packet_lost_rate(uint(fails[i]), uint(passes[i]));
        QCOMPARE(w->form()->label_lostp->text(), shown);
    }

    // The scan record moves the curve's points on the band's channel grid;
    // bytes past the band's channels, a band without a scan and a failed
    // read (which must not draw the band at 0 dBm) leave them alone.
    void scan_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("channels"); // points moved; 0: none
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("step");
        QTest::newRow("2.4 GHz") << 0 << 0 << 16 << 2407 << 5;
        QTest::newRow("2.5 GHz") << 20 << 0 << 16 << 2512 << 5;
        QTest::newRow("5.8 GHz") << 12 << 0 << 7 << 5745 << 10;
        QTest::newRow("1.4 GHz: no curve") << 4 << 0 << 0 << 0 << 0;
        QTest::newRow("timeout") << 0 << -7 << 0 << 0 << 0;
        QTest::newRow("pipe") << 0 << -9 << 0 << 0 << 0;
        QTest::newRow("I/O error") << 0 << -1 << 0 << 0 << 0;
    }
    void scan()
    {
        QFETCH(int, model);
        QFETCH(int, fault);
        QFETCH(int, channels);
        QFETCH(int, first);
        QFETCH(int, step);
        connect_unit(model);
        dev->unit().link().setScanMagnitudes(ramp(60));
        w->scan_freq();
        const QList<QPointF> before = curve();
        const auto table_before = w->chart_points();
        dev->unit().link().setScanMagnitudes(ramp(30));
        if (fault)
            dev->failNext(req::Scan, fault);
        dev->clearLog();
        w->scan_freq();
        const auto log = dev->log();
        QCOMPARE(int(log.size()), 1);
        QVERIFY(log[0].bRequest == req::Scan && log[0].bmRequestType == kIn && log[0].wLength == 16
                && log[0].wValue == 0 && log[0].wIndex == 0 && log[0].timeout_ms == 2000u);
        QCOMPARE(curve().size(), before.size());
        for (int i = 0; i < int(table_before.size()); ++i) {
            const bool moved = i < channels;
            QCOMPARE(w->chart_points()[size_t(i)].mhz, moved ? first + i * step : table_before[size_t(i)].mhz);
            QCOMPARE(w->chart_points()[size_t(i)].dbm, moved ? -(30 + i) : table_before[size_t(i)].dbm);
            if (i < before.size())
                QCOMPARE(curve().at(i), moved ? QPointF(first + i * step, -(30 + i)) : before.at(i));
        }
    }

    void scan_without_device_sends_nothing()
    {
        dev = testsupport::plug(); // plugged, never opened
        const QList<QPointF> before = curve();
        w->scan_freq();
        QVERIFY(dev->log().empty());
        QCOMPARE(curve(), before);
        QCOMPARE(w->open_device(true), 0);
        w->open_device(false); // opened and closed again
        dev->clearLog();
        const QList<QPointF> shown = curve();
        w->scan_freq();
        QVERIFY(dev->log().empty());
        QCOMPARE(curve(), shown);
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    testsupport::init_resources();
    StatusPollTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_status_poll.moc"
