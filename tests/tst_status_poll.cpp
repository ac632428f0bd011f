// What the unit's records make of the window, against the simulated unit:
// the identity read at the connection, then one poll tick per row (what the
// pages show, what a failed read leaves alone), the loss rate and the band
// scan's curve. Record bytes and profiles are tested in tst_records, every
// read's transfer faults in tst_fault_matrix.
#include "settings_harness.h"
#include "ui_wireless_video_link.h"

#include "request_codes.h"
#include "status_records.h"

#include <QLayout>
#include <QRegularExpression>
#include <QSignalSpy>
#include <libusb.h>
#include <numeric>

using namespace harness;
using testsupport::DebugCapture;

using Unit = std::function<void(sim::SimUnit&)>;
using Prep = std::function<void(Wireless_Video_Link&, sim::SimDevice&)>;
using Check = std::function<bool(Wireless_Video_Link&)>;
Q_DECLARE_METATYPE(Unit)
Q_DECLARE_METATYPE(Prep)
Q_DECLARE_METATYPE(Check)

namespace {

Prep on_link(std::function<void(sim::SimLink&)> f)
{
    return [=](Wireless_Video_Link&, sim::SimDevice& d) { f(d.unit().link()); };
}
Prep with(std::function<void(sim::LinkSettings&)> f)
{
    return on_link([=](sim::SimLink& l) { l.updateSettings(f); });
}

Unit unit(sim::SimUnit::Type type, int variant, uint32_t mcu2, int model = 0)
{
    return [=](sim::SimUnit& u) {
        u.configure(type, "QL24G0000001", 0x020304, variant, 2, 3, mcu2);
        u.setModelIndex(model);
    };
}

// What the identity decided, as one line.
QString decided(Wireless_Video_Link& w)
{
    const auto* ui = w.form();
    const QComboBox* freq = ui->comboBox_freq;
    const auto* series = w.scan_series_object();
    const QPointF end = series->count() ? series->at(series->count() - 1) : QPointF();
    int qam = 0;
    for (int i = 0; i < ui->comboBox_downlink->count(); ++i)
        qam += ui->comboBox_downlink->itemText(i) == "16QAM_1/2 (7.52Mbps)";
    return QString("type %1, %2 to %3, 16QAM x%4, %5-%6 x%7 to %8/%9, power %10%11, mask %12")
        .arg(w.unit_type).arg(freq->count()).arg(freq->itemText(freq->count() - 1))
        .arg(qam).arg(w.scan_axis_x()->min()).arg(w.scan_axis_x()->max()).arg(series->count()).arg(end.x())
        .arg(end.y()).arg(w.power_level).arg(w.power_offset_flag ? " offset" : "").arg(w.feature_mask);
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
        w->show();
    }

    void cleanup()
    {
        w.reset();
        dev.reset();
        testsupport::reset_bus();
    }

    // The records read at the connection (the reads named in "unread"
    // fail) and what the window makes of them; then three polls (a ground
    // unit alone is scanned, and nothing is rebuilt), the serial read
    // (which decides what the connection could not), and the same version
    // word once more, which moves nothing.
    void identity_data()
    {
        QTest::addColumn<Unit>("unit");
        QTest::addColumn<QString>("unread");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("decided");
        QTest::addColumn<int>("scans"); // in three polls; -1: not checked
        QTest::addColumn<QString>("then"); // shown after the serial read
        auto row = [](const char* name, Unit u, const QString& shown, const QString& decided, int scans = 3,
                      const char* then = "", const char* unread = "") {
            QTest::newRow(name) << u << QString(unread) << shown << decided << scans << QString(then);
        };
        using T = sim::SimUnit;
        const QString rsv = "16 to Channel RSV (2495MHz), 16QAM ", chart = ", 2400-2500 x16 to 2500/-100, power 28, ";
        const QString ground = "type 2, " + rsv + "x1" + chart + "mask 1";
        const QString air = "type 1, " + rsv + "x1" + chart + "mask 1";
        row("ground 0x3440, variant 1, 2.4 GHz", unit(T::GroundUnit, 1, 0x3440),
            "label_info_dev=Ground; label_info_fpga=20304; label_info_firm=1.2.3; label_Datalink_I?=shown; "
            "radioButton_usb?=shown; radioButton_uart?=shown; radioButton_RO?=shown; groupBox_g_status?=shown; "
            "pushButton_status?=shown; pushButton_frequency?=shown; label_g_BB_TEMP?=shown; "
            "label_a_packets_send?=shown; pushButton_antenna_1?=hidden; comboBox_region?=shown",
            ground, 3, "label_info_dev=Ground");
        row("ground 0x1440: extended, no datalink", unit(T::GroundUnit, 1, 0x1440),
            "label_info_dev=Ground; label_Datalink_I?=hidden; radioButton_uart?=hidden; label_Guc_mode?=shown; "
            "radioButton_RO?=shown; pushButton_configure?=shown; groupBox_g_status?=shown", ground);
        row("ground 0x3000: basic", unit(T::GroundUnit, 1, 0x3000), "label_info_dev=Ground; radioButton_usb?=hidden; "
            "label_Guc_mode?=hidden; pushButton_configure?=shown; groupBox_g_status?=shown", ground);
        row("air 0x2440: extended, datalink", unit(T::AirUnit, 1, 0x2440),
            "label_info_dev=Air; radioButton_usb?=shown; label_Guc_mode?=shown; pushButton_configure?=shown; "
            "groupBox_g_status?=hidden; pushButton_status?=hidden; pushButton_frequency?=hidden",
            air, 0, "label_info_dev=Air");
        row("air 0x0000: basic", unit(T::AirUnit, 1, 0x0000), "label_info_dev=Air; label_Datalink_I?=hidden; "
            "radioButton_RO?=hidden; pushButton_configure?=hidden; groupBox_g_status?=hidden", air, 0);
        row("variant 4, ground: no channel 7, no 16QAM", unit(T::GroundUnit, 4, 0x3440),
            "label_g_BB_TEMP?=hidden; label_A_BB_TEMP?=hidden; label_a_buf_overflow_l?=hidden",
            "type 2, 15 to Channel RSV (2495MHz), 16QAM x0" + chart + "mask 12");
        row("variant 5, ground: antenna groups", unit(T::GroundUnit, 5, 0x3440),
            "pushButton_antenna_1?=shown; label_a_packets_send?=hidden", "type 2, " + rsv + "x0" + chart + "mask 4");
        row("2.5 GHz model 21: power with offset", unit(T::GroundUnit, 1, 0x3440, 21),
            "comboBox_region?=hidden; stackedWidget_freq?=shown",
            "type 2, 14 to Chanel 14 (2577MHz), 16QAM x1, 2500-2600 x16 to 2600/-100, power 33 offset, mask 1");
        row("1.4 GHz model 4: no scan page", unit(T::GroundUnit, 1, 0x3440, 4), "comboBox_region?=hidden",
            "type 2, 7 to Chanel 7 (1485MHz), 16QAM x1, 1400-1500 x7 to 1500/-100, power 28, mask 1");
        row("5.8 GHz model 12", unit(T::GroundUnit, 1, 0x3440, 12), "comboBox_region?=hidden",
            "type 2, 7 to Chanel 7 (5805MHz), 16QAM x1, 5730-5830 x7 to 5830/-100, power 28, mask 1");
        // An unknown model changes neither list nor range; no curve starts.
        row("unknown model 28", unit(T::GroundUnit, 1, 0x3440, 28), "",
            "type 2, " + rsv + "x1, 2400-2500 x0 to 0/0, power 28, mask 1");
        // The identity unreadable: the device record decides.
        row("identity unreadable, ground", unit(T::GroundUnit, 1, 0x3440),
            "label_info_dev=Ground; label_info_fpga=20304", ground, 3, "", "E3");
        // Nothing read decides nothing: no ground-only request; the serial
        // read decides later.
        row("identity and device record unread, air", unit(T::AirUnit, 1, 0x2440),
            "label_info_dev=unknow; pushButton_frequency?=hidden", "type 0" + ground.mid(6), 0,
            "label_info_dev=Air; pushButton_frequency?=hidden", "E3 E0");
        row("unknown unit nibble: the serial read asks the device record", unit(T::GroundUnit, 1, 0x4440),
            "label_info_dev=unknow", "type 0" + ground.mid(6), -1,
            "label_info_dev=Ground; pushButton_frequency?=shown");
    }
    void identity()
    {
        QFETCH(Unit, unit);
        QFETCH(QString, unread);
        QFETCH(QString, shown);
        QFETCH(QString, decided);
        QFETCH(int, scans);
        QFETCH(QString, then);
        auto u = testsupport::make_ground_unit();
        unit(*u);
        dev = testsupport::plug(u);
        for (const QString& code : unread.split(' ', Qt::SkipEmptyParts))
            dev->failNext(code.toInt(nullptr, 16), LIBUSB_ERROR_IO);
        auto* ui = w->form();
        ui->pushButton_status->click();
        QCOMPARE(w->open_device(true), 0);
        w->poll_timer()->stop();
        QCOMPARE(mismatches(w.get(), shown), QString());
        QCOMPARE(::decided(*w), decided);
        // An air unit's page is the information page.
        QCOMPARE(ui->stackedWidget->currentWidget() == ui->page_info, decided.startsWith("type 1"));
        DebugCapture capture;
        dev->clearLog();
        for (int i = 0; i < 3; ++i)
            w->poll_status();
        const auto codes = dev->requestCodes();
        QVERIFY(scans < 0 || int(std::count(codes.begin(), codes.end(), req::Scan)) == scans);
        QCOMPARE(lines(capture).filter(QRegularExpression(" mark$")), QStringList());
        w->on_pushButton_GET_SN_clicked();
        QCOMPARE(mismatches(w.get(), then), QString());
        // The same word again: the type, groups and page stay.
        int type = w->unit_type;
        ui->pushButton_Update->click();
        w->set_func_from_version(rec::le32(w->identity_block().data() + 20));
        QCOMPARE(ui->stackedWidget->currentWidget(), ui->page_update);
        QCOMPARE(w->unit_type, type);
        // Connected again: decided the same, nothing added twice.
        if (unread.isEmpty()) {
            w->open_device(false);
            QCOMPARE(w->open_device(true), 0);
            QCOMPARE(::decided(*w), decided);
            QCOMPARE(mismatches(w.get(), shown), QString());
        }
        // An unknown unit nibble says so, and keeps the type decided.
        type = w->unit_type;
        w->set_func_from_version(0x4440);
        QCOMPARE(ui->label_info_dev->text() + ' ' + QString::number(w->unit_type), "unknow " + QString::number(type));
        // A variant out of the table changes neither mask nor rate list.
        const auto kept = QPair(w->feature_mask, ui->comboBox_downlink->count());
        for (int variant : {0, 7})
            w->set_ui_feature_from_mcu1(variant);
        QCOMPARE(QPair(w->feature_mask, ui->comboBox_downlink->count()), kept);
    }

    // The Configure page's margin moves once each way, however often the
    // same word comes.
    void config_margin_moves_once_each_way()
    {
        auto margin = [&] { return w->form()->widget_config_2->layout()->contentsMargins().bottom(); };
        const int start = margin();
        QList<int> got;
        for (uint word : {0x3000u, 0x3000u, 0x3440u, 0x3440u}) {
            w->set_func_from_version(word);
            got << margin();
        }
        const int basic = start <= 99 ? start + 220 : start;
        QCOMPARE(got, (QList<int>{basic, basic, basic > 100 ? 40 : basic, basic > 100 ? 40 : basic}));
    }

    // The serial label on request, a unit without a serial number, and the
    // refresh at every fourth tick.
    void serial_label_read_on_request()
    {
        auto unit = testsupport::make_ground_unit();
        auto record = unit->identityRecord();
        for (int i = 0; i < 8; ++i)
            record[size_t(24 + i)] = uint8_t("V2.0.11"[i]);
        unit->setIdentityRecord(record);
        dev = testsupport::plug(unit);
        QCOMPARE(w->open_device(true), 0);
        w->on_pushButton_GET_SN_clicked();
        QCOMPARE(w->serial_number + ' ' + w->hi3798_version, QString("QL24G0000001 V2.0.11"));
        QCOMPARE(w->form()->label_sn->text(), QString("SN:QL24G0000001-20304-0-3440-V2.0.11"));
        w->open_device(false);
        std::fill(record.begin(), record.begin() + 12, 0);
        unit->setIdentityRecord(record);
        QCOMPARE(w->open_device(true), 0);
        w->on_pushButton_GET_SN_clicked();
        QCOMPARE(w->serial_number, QString("unknow"));
        w->poll_timer()->stop();
        dev->clearLog();
        for (int i = 0; i < 8; ++i)
            w->poll_status();
        const auto codes = dev->requestCodes();
        QCOMPARE(std::count(codes.begin(), codes.end(), req::Identity), 2);
    }

    void tick_data()
    {
        QTest::addColumn<Prep>("prep");
        QTest::addColumn<QString>("codes"); // "": not checked
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("debug"); // a line the tick must write
        QTest::addColumn<Check>("check");
        auto row = [](const char* name, Prep prep, const char* codes, const QString& shown, Check check = {},
                      const char* debug = "") {
            QTest::newRow(name) << prep << QString(codes) << shown << QString(debug) << check;
        };
        auto rssi = [](int ground, int air, int bind) {
            return on_link([=](sim::SimLink& l) {
                l.pin([&](sim::Pins& p) {
                    p.groundRssi1 = p.groundRssi2 = uint8_t(ground);
                    p.airRssi1 = p.airRssi2 = uint8_t(air);
                });
                l.setBindByte(uint8_t(bind));
            });
        };
        row("RSSI 30/60, bound", rssi(30, 60, 1), "E6 F9 E7 A1 E1",
            "progressBar_ground_rssi=70; progressBar_ground_rssi_2=70; progressBar_air_rssi=40; "
            "progressBar_air_rssi_2=40; progressBar_ground_rssi%=-30 dBm; label_test_g_rssi=-30dBm; "
            "label_test_g_rssi_2=-30dBm; label_bind_status=Binded");
        row("RSSI 101", rssi(101, 101, 1), "",
            "progressBar_ground_rssi=0; progressBar_air_rssi=0; progressBar_ground_rssi%=-101 dBm; "
            "label_test_g_rssi=-101dBm");
        row("no ground reading", rssi(255, 40, 1), "",
            "progressBar_ground_rssi=0; progressBar_ground_rssi%=0%; label_test_g_rssi=-255dBm; "
            "progressBar_air_rssi=60");
        row("unbound: no air reading", rssi(50, 40, 0), "",
            "progressBar_air_rssi=0; progressBar_air_rssi_2=0; label_bind_status=unBinded");
        row("pairing: air still shown", rssi(50, 40, 2), "", "progressBar_air_rssi=60; label_bind_status=unBinded");
        auto temperature = [](int t) {
            return on_link([=](sim::SimLink& l) { l.setTemperatures(int8_t(t), int8_t(t), int8_t(t), int8_t(t)); });
        };
        row("76 degrees: red", temperature(76), "",
            QString::fromUtf8("label_a_BB_TEMP$=color:red;; label_g_BB_TEMP$=color:red;; label_a_PA_TEMP$=color:red;; "
                              "label_g_PA_TEMP$=color:red;; label_g_PA_TEMP=76 ℃; label_G_PA_TEMP=76 ℃"));
        row("-10 degrees: green", temperature(-10), "",
            QString::fromUtf8("label_a_BB_TEMP$=color:green;; label_g_PA_TEMP$=color:green;; label_a_BB_TEMP=-10 ℃"));
        row("settings shown from the records", [](Wireless_Video_Link& w, sim::SimDevice& d) {
                d.unit().link().updateSettings([&](sim::LinkSettings& s) {
                    s.frequency = 2437; s.frequencyMode = 0; s.baudIndex = 0xFF; s.rcMode = 0; s.antennaByte = 0x11;
                    s.downlinkCode = 8;
                    s.setRegionPower(2, 31);
                    s.setFlag(sim::kFlagDatalinkUsb, true);
                    s.setFlag(sim::kFlagObserver, true);
                    s.setProfile(2);
                    s.setEncryption(true, 1);
                });
                d.unit().link().pin([&](sim::Pins& p) { p.range = 1234; p.uplinkKbps = 512; p.downlinkKbps = 6280; });
                w.power_offset_flag = true;
            }, "",
            "label_FREQ=2437; label_MHZ=MHz; label_frequency_l=2437MHz; pushButton_manual=on; "
            "comboBox_freq!=enabled; comboBox_region=2; label_RFPOWER=33dBm; comboBox_RadioRate=2; "
            "label_test_bandrate=115200bps; radioButton_sbus=on; radioButton_usb=on; radioButton_RO=on; "
            "comboBox_profile=1; label_antenna_sta=enable; label_current_ant=RF2; label_a_Distance=1234m; "
            "label_distance_l=1234m; label_uplink_rate_2=512Kbit/s; label_downlink_rate=6280Kbit/s; "
            "label_test_downlink=7.52Mbps; comboBox_downlink=6; radioButton_AES256=on");
        row("hopping, profile 0, PPM, 460800 baud", with([](sim::LinkSettings& s) {
                s.frequencyMode = 1; s.rcMode = 1; s.baudIndex = 4;
                s.setProfile(0);
            }), "", "pushButton_auto=on; comboBox_freq!=disabled; comboBox_profile=-1; radioButton_ppm=on; "
                    "label_test_bandrate=460800bps");
        // A rate without an entry of the list leaves the one shown.
        row("downlink code 9: entry kept", [](Wireless_Video_Link& w, sim::SimDevice& d) {
                d.unit().link().updateSettings([&](sim::LinkSettings& s) { s.downlinkCode = 9; });
                w.form()->comboBox_downlink->setCurrentIndex(4);
            }, "", "comboBox_downlink=4; label_test_downlink=unknow");
        auto powers = [](int unit_type) {
            return Prep([=](Wireless_Video_Link& w, sim::SimDevice& d) {
                with([](sim::LinkSettings& s) { s.groundPowerWord = 20; s.airPowerWord = 25; })(w, d);
                w.unit_type = unit_type;
            });
        };
        row("ground unit: the air unit's power", powers(2), "", "label_RF_Power_l=25dBm");
        row("air unit: its own power, no scan", powers(1), "E6 E7 A1 E1",
            "label_RF_Power_l=20dBm; label_RFPOWER=20dBm");
        auto counters = [](int mask) {
            return Prep([=](Wireless_Video_Link& w, sim::SimDevice& d) {
                d.unit().link().setEthCounters(11, 22);
                w.feature_mask = mask;
            });
        };
        row("datalink counters", counters(4), "", "label_datalink_recv=11; label_datalink_send=22");
        row("Ethernet counters", counters(1), "", "label_ETH_LOST_l=11; label_RECV_l=22");
        // The tick ends at the failed first read and shows nor casts anything.
        row("failed first read changes nothing", [](Wireless_Video_Link& w, sim::SimDevice& d) {
                d.unit().link().pin([&](sim::Pins& p) { p.groundRssi1 = p.groundRssi2 = 40; });
                w.poll_status();
                d.unit().link().updateSettings([&](sim::LinkSettings& s) { s.frequency = 2462; });
                d.unit().link().pin([&](sim::Pins& p) { p.groundRssi1 = p.groundRssi2 = 90; });
                d.failNext(req::DevStatus, LIBUSB_ERROR_IO);
            }, "E6!", "label_FREQ=2412; progressBar_ground_rssi=60");
        auto config = [](int byte) { return with([=](sim::LinkSettings& s) { s.setConfigByte(uint8_t(byte)); }); };
        row("configuration byte: group 2, multi settings", config(0x05), "",
            "pushButton_antenna_2=on; comboBox_profile?=shown",
            [](Wireless_Video_Link& w) { return w.pro_config_byte == 0x05 && (w.feature_mask & 2); });
        row("configuration byte: group 1", config(0x01), "", "pushButton_antenna_1=on; comboBox_profile?=hidden",
            [](Wireless_Video_Link& w) { return w.pro_config_byte == 0x01 && !(w.feature_mask & 2); });
        // The byte of a failed counters read is not taken.
        row("failed counters read keeps the byte", [](Wireless_Video_Link& w, sim::SimDevice& d) {
                d.unit().link().updateSettings([&](sim::LinkSettings& s) { s.setConfigByte(0x01); });
                w.poll_status();
                d.unit().link().updateSettings([&](sim::LinkSettings& s) { s.setConfigByte(0x04); });
                d.failNext(req::ProStatus, LIBUSB_ERROR_IO);
            }, "E6 F9 E7 A1! E1", "pushButton_antenna_1=on; label_g_packets_send=unknow",
            [](Wireless_Video_Link& w) { return w.pro_config_byte == 0x01; }, "pro stat ret -1");
        auto loss = [](int status) {
            return Prep([=](Wireless_Video_Link& w, sim::SimDevice& d) {
                d.unit().link().setGroundLdpc(900, 100);
                d.unit().link().pin([&](sim::Pins& p) { p.groundLink = p.airLink = uint32_t(status); });
                w.form()->label_lostp->setText("x");
            });
        };
        row("loss rate while linked", loss(4), "", "label_lostp=10%");
        row("no loss rate while searching", loss(2), "", "label_lostp=x");
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
        // The tick's requests, without the serial refresh of every fourth tick.
        if (!codes.isEmpty())
            QCOMPARE(wire(log).remove(QRegularExpression("E3 ?")).trimmed(), codes);
        for (const sim::Transfer& t : log)
            QVERIFY(t.bmRequestType == kIn && t.wValue == 0 && t.wIndex == 0
                    && t.timeout_ms == (t.bRequest == req::Scan ? 2000u : 300u));
        QCOMPARE(mismatches(w.get(), shown), QString());
        QVERIFY2(debug.isEmpty() || capture.contains(debug), qPrintable(capture.lines().join(" | ")));
        QVERIFY(!check || check(*w));
        // The ground RSSI goes to the signal bar once per read status.
        QCOMPARE(cast.count(), codes.startsWith("E6!") ? 0 : 1);
    }

    // "pass/fail" of each poll, and the rate shown.
    void loss_rate_over_ten_polls_data()
    {
        QTest::addColumn<QString>("counters");
        QTest::addColumn<QString>("shown");
        QString ten, twelve;
        for (int i = 1; i <= 10; ++i)
            ten += QString("%1/%2 ").arg(90 * i).arg(10 * i);
        for (int i = 1; i <= 12; ++i)
            twelve += i <= 2 ? QString("0/%1 ").arg(50 * i) : QString("%1/100 ").arg(100 * (i - 2));
        QTest::newRow("ten polls 10%") << ten.trimmed() << "10%";
        QTest::newRow("first call uses raw counters") << "300/100" << "25%";
        QTest::newRow("no packets") << "0/0" << "N/A";
        // The two early polls full of failures have left the window.
        QTest::newRow("old deltas leave the window") << twelve.trimmed() << "0%";
    }
    void loss_rate_over_ten_polls()
    {
        QFETCH(QString, counters);
        QFETCH(QString, shown);
        for (const QString& poll : counters.split(' '))
            w->caculate_packet_lost_rate(poll.section('/', 1).toUInt(), poll.section('/', 0, 0).toUInt());
        QCOMPARE(w->form()->label_lostp->text(), shown);
    }

    // The scan record moves the curve's points on the band's channel grid
    // (the 5.8 GHz band only its 7 of 16); a window without a unit sends
    // nothing. Other bands and failed reads: tst_records, tst_fault_matrix.
    void scan_data()
    {
        QTest::addColumn<int>("model"); // -1: plugged, never opened; -2: opened and closed again
        QTest::addColumn<QString>("grid"); // "points moved: first+step"; "": none
        QTest::newRow("2.4 GHz") << 0 << "16: 2407+5";
        QTest::newRow("5.8 GHz") << 12 << "7: 5745+10";
        QTest::newRow("never opened") << -1 << "";
        QTest::newRow("closed") << -2 << "";
    }
    void scan()
    {
        QFETCH(int, model);
        QFETCH(QString, grid);
        const int channels = grid.section(':', 0, 0).toInt(), first = grid.section(' ', 1).section('+', 0, 0).toInt(),
                  step = grid.section('+', 1).toInt();
        auto ramp = [](int from) {
            std::array<uint8_t, sim::kScanLen> m{};
            std::iota(m.begin(), m.end(), uint8_t(from));
            return m;
        };
        connect_unit(std::max(model, 0));
        dev->unit().link().setScanMagnitudes(ramp(60));
        w->scan_freq();
        const QList<QPointF> before = curve();
        const auto table = w->chart_points();
        if (model == -1)
            w = std::make_unique<Wireless_Video_Link>();
        if (model == -2)
            w->open_device(false);
        dev->unit().link().setScanMagnitudes(ramp(30));
        dev->clearLog();
        const QList<QPointF> shown = curve();
        w->scan_freq();
        const auto log = dev->log();
        QCOMPARE(int(log.size()), model < 0 ? 0 : 1);
        if (model < 0) {
            QCOMPARE(curve(), shown);
            return;
        }
        QVERIFY(log[0].bRequest == req::Scan && log[0].bmRequestType == kIn && log[0].wLength == 16
                && log[0].wValue == 0 && log[0].wIndex == 0 && log[0].timeout_ms == 2000u);
        QCOMPARE(curve().size(), before.size());
        for (int i = 0; i < int(table.size()); ++i) {
            const bool moved = i < channels;
            const auto& p = w->chart_points()[size_t(i)];
            const auto& was = table[size_t(i)];
            QCOMPARE(QPair(p.mhz, p.dbm), moved ? QPair(first + i * step, -(30 + i)) : QPair(was.mhz, was.dbm));
            if (i < before.size())
                QCOMPARE(curve().at(i), moved ? QPointF(first + i * step, -(30 + i)) : before.at(i));
        }
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
