// One poll tick against the simulated unit: what each record byte does to
// the pages, and what a failed read leaves alone.
#include "testsupport.h"

#include "request_codes.h"
#include "sim_link.h"
#include "ui_wireless_video_link.h"
#include "wireless_video_link.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace testsupport;

class StatusPollTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Wireless_Video_Link> w;
    Ui::Wireless_Video_Link* ui = nullptr;
    std::shared_ptr<sim::SimDevice> dev;

    sim::SimLink& link() { return dev->unit().link(); }

    void connect_unit(std::shared_ptr<sim::SimUnit> unit = make_ground_unit())
    {
        dev = plug(unit);
        QCOMPARE(w->open_device(true), 0);
        w->poll_timer()->stop();
        link().setAutoAdvance(false);
    }

private slots:
    void init()
    {
        reset_bus();
        w = std::make_unique<Wireless_Video_Link>();
        ui = w->form();
        connect_unit();
    }

    void cleanup()
    {
        w.reset();
        dev.reset();
        reset_bus();
    }

    void tick_reads_records_in_order()
    {
        dev->clearLog();
        w->poll_status();
        std::vector<uint8_t> codes = dev->requestCodes();
        // The serial refresh runs on the first tick of the process only if
        // the counter is at a multiple of four; the order of the rest is fixed.
        const std::vector<uint8_t> start{req::DevStatus, req::Scan, req::DevStatus2, req::ProStatus,
                                         req::SoftwareInfo};
        QVERIFY(codes.size() >= start.size());
        QCOMPARE(std::vector<uint8_t>(codes.begin(), codes.begin() + 5), start);
        for (const auto& t : dev->log()) {
            QCOMPARE(int(t.bmRequestType), 0xC1);
            QCOMPARE(t.timeout_ms, t.bRequest == req::Scan ? 2000u : 300u);
        }
    }

    void serial_refreshed_every_fourth_tick()
    {
        int reads = 0;
        for (int i = 0; i < 8; ++i) {
            dev->clearLog();
            w->poll_status();
            const auto codes = dev->requestCodes();
            reads += int(std::count(codes.begin(), codes.end(), req::Identity));
        }
        QCOMPARE(reads, 2);
        QVERIFY(ui->label_sn->text().startsWith("SN:QL24G0000001-"));
    }

    void rssi_bars_data()
    {
        QTest::addColumn<int>("ground");
        QTest::addColumn<int>("air");
        QTest::addColumn<int>("bind");
        QTest::addColumn<int>("groundBar");
        QTest::addColumn<int>("airBar");
        QTest::addColumn<QString>("groundFormat");
        QTest::addColumn<QString>("groundText");
        QTest::newRow("30/60 bound") << 30 << 60 << 1 << 70 << 40 << "-30 dBm" << "-30dBm";
        QTest::newRow("101 bound") << 101 << 101 << 1 << 0 << 0 << "-101 dBm" << "-101dBm";
        QTest::newRow("no reading") << 255 << 40 << 1 << 0 << 60 << "%p%" << "-255dBm";
        QTest::newRow("unbound zeroes air") << 50 << 40 << 0 << 50 << 0 << "-50 dBm" << "-50dBm";
        QTest::newRow("bind 2 still shows air") << 50 << 40 << 2 << 50 << 60 << "-50 dBm" << "-50dBm";
    }

    void rssi_bars()
    {
        QFETCH(int, ground);
        QFETCH(int, air);
        QFETCH(int, bind);
        QFETCH(int, groundBar);
        QFETCH(int, airBar);
        QFETCH(QString, groundFormat);
        QFETCH(QString, groundText);
        link().setGroundRssi(uint8_t(ground), uint8_t(ground));
        link().setAirRssi(uint8_t(air), uint8_t(air));
        link().setBindByte(uint8_t(bind));
        QSignalSpy cast(w.get(), &Wireless_Video_Link::cast_rssi);
        w->poll_status();
        QCOMPARE(ui->progressBar_ground_rssi->value(), groundBar);
        QCOMPARE(ui->progressBar_ground_rssi_2->value(), groundBar);
        QCOMPARE(ui->progressBar_air_rssi->value(), airBar);
        QCOMPARE(ui->progressBar_air_rssi_2->value(), airBar);
        QCOMPARE(ui->progressBar_ground_rssi->format(), groundFormat);
        QCOMPARE(ui->label_test_g_rssi->text(), groundText);
        QCOMPARE(ui->label_test_g_rssi_2->text(), groundText);
        QCOMPARE(ui->label_bind_status->text(), QString(bind == 1 ? "Binded" : "unBinded"));
        QCOMPARE(cast.count(), 1);
        QCOMPARE(cast.at(0).at(0).toInt(), ground);
    }

    void temperatures_coloured_data()
    {
        QTest::addColumn<int>("t");
        QTest::addColumn<QString>("style");
        QTest::newRow("75 green") << 75 << "color:green;";
        QTest::newRow("76 red") << 76 << "color:red;";
        QTest::newRow("-10 green") << -10 << "color:green;";
    }

    void temperatures_coloured()
    {
        QFETCH(int, t);
        QFETCH(QString, style);
        link().setTemperatures(int8_t(t), int8_t(t), int8_t(t), int8_t(t));
        w->poll_status();
        for (QLabel* l : {ui->label_a_BB_TEMP, ui->label_g_BB_TEMP, ui->label_a_PA_TEMP, ui->label_g_PA_TEMP}) {
            QCOMPARE(l->styleSheet(), style);
            QCOMPARE(l->text(), QString::number(t) + QString::fromUtf8(" ℃"));
        }
        QCOMPARE(ui->label_G_PA_TEMP->text(), QString::number(t) + QString::fromUtf8(" ℃"));
    }

    void settings_shown_from_records()
    {
        link().setFrequency(2437);
        link().setFrequencyMode(0);
        link().setRegionPower(2, 31);
        link().setBaudIndex(0xFF);
        link().setRcMode(0);
        link().setDatalinkUsb(true);
        link().setObserver(true);
        link().setProfile(2);
        link().setAntennaByte(0x11);
        link().setRange(1234);
        link().setRates(512, 6280);
        link().setDownlinkCode(8);
        w->power_offset_flag = true;
        QSignalSpy encMode(w.get(), &Wireless_Video_Link::set_encry_model);
        link().setEncryption(true, 1);
        w->poll_status();
        QCOMPARE(ui->label_FREQ->text(), QString("2437"));
        QCOMPARE(ui->label_MHZ->text(), QString("MHz"));
        QCOMPARE(ui->label_frequency_l->text(), QString("2437MHz"));
        QVERIFY(ui->pushButton_manual->isChecked());
        QVERIFY(ui->comboBox_freq->isEnabled());
        QCOMPARE(ui->comboBox_region->currentIndex(), 2);
        QCOMPARE(ui->label_RFPOWER->text(), QString("33dBm"));
        QCOMPARE(ui->comboBox_RadioRate->currentIndex(), 2);
        QCOMPARE(ui->label_test_bandrate->text(), QString("115200bps"));
        QVERIFY(ui->radioButton_sbus->isChecked());
        QVERIFY(ui->radioButton_usb->isChecked());
        QVERIFY(ui->radioButton_RO->isChecked());
        QCOMPARE(ui->comboBox_profile->currentIndex(), 1);
        QCOMPARE(ui->label_antenna_sta->text(), QString("enable"));
        QCOMPARE(ui->label_current_ant->text(), QString("RF2"));
        QCOMPARE(ui->label_a_Distance->text(), QString("1234m"));
        QCOMPARE(ui->label_distance_l->text(), QString("1234m"));
        QCOMPARE(ui->label_uplink_rate_2->text(), QString("512Kbit/s"));
        QCOMPARE(ui->label_downlink_rate->text(), QString("6280Kbit/s"));
        QCOMPARE(ui->label_test_downlink->text(), QString("7.52Mbps"));
        QCOMPARE(ui->comboBox_downlink->currentIndex(), 6);
        QCOMPARE(encMode.count(), 1);
        QCOMPARE(encMode.at(0).at(0).toInt(), 1);

        link().setFrequencyMode(1);
        link().setProfile(0);
        link().setRcMode(1);
        w->poll_status();
        QVERIFY(ui->pushButton_auto->isChecked());
        QVERIFY(!ui->comboBox_freq->isEnabled());
        QCOMPARE(ui->comboBox_profile->currentIndex(), -1);
        QVERIFY(ui->radioButton_ppm->isChecked());
    }

    void air_power_depends_on_unit_type()
    {
        link().setGroundRfPowerWord(20);
        link().setAirPowerWord(25);
        w->unit_type = 2;
        w->poll_status();
        QCOMPARE(ui->label_RF_Power_l->text(), QString("25dBm"));
        w->unit_type = 1;
        dev->clearLog();
        w->poll_status();
        QCOMPARE(ui->label_RF_Power_l->text(), QString("20dBm"));
        QCOMPARE(ui->label_RFPOWER->text(), QString("20dBm"));
        // No scan with an air unit attached.
        const auto codes = dev->requestCodes();
        QVERIFY(std::find(codes.begin(), codes.end(), req::Scan) == codes.end());
    }

    void datalink_counters_by_feature()
    {
        link().setEthCounters(11, 22);
        w->feature_mask = 4;
        w->poll_status();
        QCOMPARE(ui->label_datalink_recv->text(), QString("11"));
        QCOMPARE(ui->label_datalink_send->text(), QString("22"));
        w->feature_mask = 1;
        link().setEthCounters(33, 44);
        w->poll_status();
        QCOMPARE(ui->label_ETH_LOST_l->text(), QString("33"));
        QCOMPARE(ui->label_RECV_l->text(), QString("44"));
    }

    void failed_first_read_changes_nothing()
    {
        w->poll_status();
        const QString freq = ui->label_FREQ->text();
        const int bar = ui->progressBar_ground_rssi->value();
        link().setFrequency(2462);
        link().setGroundRssi(90, 90);
        dev->failNext(req::DevStatus, -7);
        dev->clearLog();
        QSignalSpy cast(w.get(), &Wireless_Video_Link::cast_rssi);
        w->poll_status();
        QCOMPARE(dev->requestCodes(), std::vector<uint8_t>{req::DevStatus});
        QCOMPARE(ui->label_FREQ->text(), freq);
        QCOMPARE(ui->progressBar_ground_rssi->value(), bar);
        QCOMPARE(cast.count(), 0);
    }

    void failed_second_read_marks_unknown_and_goes_on()
    {
        DebugCapture capture;
        dev->failNext(req::DevStatus2, -9);
        dev->clearLog();
        w->poll_status();
        QVERIFY(capture.contains("dev_status2 ret -9"));
        for (QLabel* l : {ui->label_A_BB_TEMP, ui->label_A_PA_TEMP, ui->label_G_BB_TEMP, ui->label_G_PA_TEMP,
                          ui->label_test_a_rssi_2, ui->label_test_g_rssi_2})
            QCOMPARE(l->text(), QString("unknow"));
        const auto codes = dev->requestCodes();
        QVERIFY(std::find(codes.begin(), codes.end(), req::ProStatus) != codes.end());
        QVERIFY(std::find(codes.begin(), codes.end(), req::SoftwareInfo) != codes.end());
    }

    void failed_version_read_keeps_band()
    {
        // The buffer of a failed version read must not be taken for a
        // version: the band and channel list stay.
        link().setFrequency(5805);
        dev->failNext(req::SoftwareInfo, -7);
        const int channels = ui->comboBox_freq->count();
        w->poll_status();
        QCOMPARE(w->band_code, 24);
        QCOMPARE(ui->comboBox_freq->count(), channels);
    }

    void packet_counters_and_config_byte()
    {
        link().setProCounter(sim::SimLink::ProCounter(1), 5);
        link().setConfigByte(0x05);
        w->poll_status();
        QCOMPARE(int(w->pro_config_byte), 0x05);
        QVERIFY(ui->pushButton_antenna_2->isChecked());
        QVERIFY(w->feature_mask & 2);
        QVERIFY(!ui->comboBox_profile->isHidden());

        link().setConfigByte(0x01);
        w->poll_status();
        QVERIFY(ui->pushButton_antenna_1->isChecked());
        QVERIFY(!(w->feature_mask & 2));
        QVERIFY(ui->comboBox_profile->isHidden());

        // A failed read leaves the group buttons and the byte alone.
        dev->failNext(req::ProStatus, -7);
        DebugCapture capture;
        link().setConfigByte(0x04);
        w->poll_status();
        QVERIFY(capture.contains("pro stat ret -7"));
        QVERIFY(ui->pushButton_antenna_1->isChecked());
        QCOMPARE(int(w->pro_config_byte), 0x01);
        QCOMPARE(ui->label_g_packets_send->text(), QString("unknow"));
    }

    void loss_rate_over_ten_polls_data()
    {
        QTest::addColumn<QList<int>>("passes");
        QTest::addColumn<QList<int>>("fails");
        QTest::addColumn<QString>("shown");
        QList<int> p, f;
        for (int i = 1; i <= 10; ++i) {
            p << 90 * i;
            f << 10 * i;
        }
        QTest::newRow("ten polls 10%") << p << f << "10%";
        QTest::newRow("first call uses raw counters") << QList<int>{300} << QList<int>{100} << "25%";
        QTest::newRow("no packets") << QList<int>{0} << QList<int>{0} << "N/A";
        QList<int> p2, f2;
        for (int i = 1; i <= 12; ++i) {
            p2 << (i <= 2 ? 0 : 100 * (i - 2));
            f2 << (i <= 2 ? 50 * i : 100);
        }
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
        QCOMPARE(ui->label_lostp->text(), shown);
    }

    void loss_rate_from_poll_only_when_linked()
    {
        link().setGroundLdpc(900, 100);
        link().setLinkStatus(2, 2);
        ui->label_lostp->setText("x");
        w->poll_status();
        QCOMPARE(ui->label_lostp->text(), QString("x"));
        link().setLinkStatus(4, 4);
        w->poll_status();
        QCOMPARE(ui->label_lostp->text(), QString("10%"));
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    init_resources();
    StatusPollTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_status_poll.moc"
