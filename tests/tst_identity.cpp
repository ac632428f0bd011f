// The window applying the unit's identity: unit type and firmware
// generation, model band, hardware variant, chart and serial label. What
// the records and profiles decide is tested below the window, in
// tst_records and tst_unit_profile; here, that the window shows it, once.
#include "settings_harness.h"
#include "ui_wireless_video_link.h"

#include <QLayout>

using namespace harness;
using testsupport::DebugCapture;

class IdentityTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Wireless_Video_Link> w;
    Ui::Wireless_Video_Link* ui = nullptr;

    int config_bottom_margin() { return ui->widget_config_2->layout()->contentsMargins().bottom(); }

private slots:
    void init()
    {
        testsupport::reset_bus();
        w = std::make_unique<Wireless_Video_Link>();
        w->show();
        ui = w->form();
    }

    void cleanup()
    {
        w.reset();
        testsupport::reset_bus();
    }

    void version_word_data()
    {
        QTest::addColumn<uint>("word");
        QTest::addColumn<int>("unit_type");
        QTest::addColumn<QString>("shown");
        QTest::newRow("0x1440 ground extended, no datalink")
            << 0x1440u << 2
            << "label_info_dev=Ground; label_Datalink_I?=hidden; radioButton_uart?=hidden; label_Guc_mode?=shown; "
               "radioButton_RO?=shown; pushButton_configure?=shown; groupBox_g_status?=shown";
        QTest::newRow("0x3000 ground basic")
            << 0x3000u << 2 << "label_info_dev=Ground; radioButton_usb?=hidden; label_Guc_mode?=hidden; "
                               "pushButton_configure?=shown; groupBox_g_status?=shown";
        QTest::newRow("0x3440 ground extended datalink")
            << 0x3440u << 2 << "label_Datalink_I?=shown; radioButton_usb?=shown; radioButton_uart?=shown; "
                               "radioButton_RO?=shown";
        QTest::newRow("0x2440 air extended datalink")
            << 0x2440u << 1 << "label_info_dev=Air; radioButton_usb?=shown; label_Guc_mode?=shown; "
                               "pushButton_configure?=shown; groupBox_g_status?=hidden";
        QTest::newRow("0x0000 air basic") << 0x0000u << 1
                                          << "label_info_dev=Air; label_Datalink_I?=hidden; radioButton_RO?=hidden; "
                                             "pushButton_configure?=hidden; groupBox_g_status?=hidden";
    }
    void version_word()
    {
        QFETCH(uint, word);
        QFETCH(int, unit_type);
        QFETCH(QString, shown);
        DebugCapture capture;
        w->set_func_from_version(word);
        QCOMPARE(w->unit_type, unit_type);
        QCOMPARE(mismatches(w.get(), shown), QString());
        QVERIFY(capture.contains(QString("devt %1").arg((word >> 12) & 15)));
        // An unknown unit nibble afterwards keeps the type.
        w->set_func_from_version(0x4440);
        QCOMPARE(ui->label_info_dev->text(), QString("unknow"));
        QCOMPARE(w->unit_type, unit_type);
    }

    void air_decision_switches_to_information_page()
    {
        ui->pushButton_status->click();
        w->set_func_from_version(0x2000);
        QCOMPARE(ui->stackedWidget->currentWidget(), ui->page_info);
        // Already an air unit: the page is left alone.
        ui->pushButton_Update->click();
        w->set_func_from_version(0x2000);
        QCOMPARE(ui->stackedWidget->currentWidget(), ui->page_update);
    }

    // The Configure page's margin moves once each way, however often the
    // poll hands the same word.
    void config_margin_moves_once_each_way()
    {
        const int start = config_bottom_margin();
        w->set_func_from_version(0x3000); // basic
        const int basic = config_bottom_margin();
        QCOMPARE(basic, start <= 99 ? start + 220 : start);
        w->set_func_from_version(0x3000);
        QCOMPARE(config_bottom_margin(), basic);
        w->set_func_from_version(0x3440); // extended
        const int extended = config_bottom_margin();
        QCOMPARE(extended, basic > 100 ? 40 : basic);
        w->set_func_from_version(0x3440);
        QCOMPARE(config_bottom_margin(), extended);
    }

    void device_info_flag_data()
    {
        QTest::addColumn<int>("byte3");
        QTest::addColumn<int>("flag");
        QTest::addColumn<int>("unit_type");
        QTest::addColumn<QString>("text");
        QTest::newRow("air shown") << 0x80 << 1 << 1 << "Air";
        QTest::newRow("ground shown") << 0x00 << 1 << 2 << "Ground";
        QTest::newRow("not shown") << 0x80 << 0 << 0 << "";
    }
    void device_info_flag()
    {
        QFETCH(int, byte3);
        QFETCH(int, flag);
        QFETCH(int, unit_type);
        QFETCH(QString, text);
        ui->label_info_dev->clear();
        unsigned char info[4] = {0xAB, 0x0C, 0x00, uint8_t(byte3)};
        w->setdev_info(info, flag);
        QCOMPARE(w->unit_type, unit_type);
        QCOMPARE(ui->label_info_dev->text(), text);
        QCOMPARE(ui->label_info_fpga->text(), QString("cab"));
    }

    // The band of the model rebuilds the channel list and the chart when it
    // changes, and only then: the poll hands the same record every second.
    void model_band_rebuilds_channel_list_once()
    {
        DebugCapture capture;
        unsigned char soft25[4] = {0x00, 0x51, 0x01, 0x00};
        w->setsof_info(soft25);
        QCOMPARE(w->band_code, 25);
        QCOMPARE(w->power_level, 33);
        QVERIFY(w->power_offset_flag);
        QCOMPARE(ui->comboBox_freq->count(), 14);
        QCOMPARE(ui->comboBox_freq->itemText(13), QString("Chanel 14 (2577MHz)"));
        QCOMPARE(w->scan_axis_x()->min(), 2500.0);
        ui->comboBox_freq->setCurrentIndex(5);
        w->setsof_info(soft25);
        QCOMPARE(ui->comboBox_freq->currentIndex(), 5);
        QCOMPARE(capture.count("2.5g mark"), 1);

        unsigned char soft14[4] = {0x00, 0x40, 0x00, 0x00};
        w->setsof_info(soft14);
        QCOMPARE(ui->stackedWidget_freq->currentWidget(), ui->page_blank);
        QCOMPARE(ui->comboBox_freq->itemText(ui->comboBox_freq->count() - 1), QString("Chanel 7 (1485MHz)"));
        unsigned char unknown[4] = {0x00, 0xC0, 0x01, 0x00};
        w->setsof_info(unknown);
        QCOMPARE(w->band_code, 0);
    }

    // The variant's features, applied twice: still one 16QAM entry; a
    // variant out of the table changes nothing.
    void hardware_variant_data()
    {
        QTest::addColumn<int>("variant");
        QTest::addColumn<int>("unit_type");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("channels");
        QTest::newRow("1") << 1 << 2 << "label_g_BB_TEMP?=shown; label_a_packets_send?=shown; "
                                        "pushButton_antenna_1?=hidden" << 16;
        QTest::newRow("4 ground") << 4 << 2 << "label_g_BB_TEMP?=hidden; label_A_BB_TEMP?=hidden; "
                                               "label_a_buf_overflow_l?=hidden" << 15;
        QTest::newRow("5") << 5 << 2 << "pushButton_antenna_1?=shown; label_a_packets_send?=hidden" << 16;
    }
    void hardware_variant()
    {
        QFETCH(int, variant);
        QFETCH(int, unit_type);
        QFETCH(QString, shown);
        QFETCH(int, channels);
        w->unit_type = unit_type;
        for (int i = 0; i < 2; ++i)
            w->set_ui_feature_from_mcu1(variant);
        QCOMPARE(mismatches(w.get(), shown), QString());
        QCOMPARE(ui->comboBox_freq->count(), channels);
        int qam = 0;
        for (int i = 0; i < ui->comboBox_downlink->count(); ++i)
            qam += ui->comboBox_downlink->itemText(i) == "16QAM_1/2 (7.52Mbps)";
        QCOMPARE(qam, variant <= 3 ? 1 : 0);
        const int mask = w->feature_mask;
        const int entries = ui->comboBox_downlink->count();
        w->set_ui_feature_from_mcu1(0);
        w->set_ui_feature_from_mcu1(7);
        QCOMPARE(w->feature_mask, mask);
        QCOMPARE(ui->comboBox_downlink->count(), entries);
    }

    // The starting curve of the band's chart, set up twice: still the same
    // points, the series attached once.
    void chart_start_points_data()
    {
        QTest::addColumn<int>("band");
        QTest::addColumn<int>("points");
        QTest::addColumn<int>("last_x");
        QTest::newRow("2.4 GHz") << 24 << 16 << 2500;
        QTest::newRow("5.8 GHz") << 58 << 7 << 5830;
    }
    void chart_start_points()
    {
        QFETCH(int, band);
        QFETCH(int, points);
        QFETCH(int, last_x);
        w->band_code = band;
        for (int i = 0; i < 2; ++i)
            w->set_freq_chart_from_version();
        auto* series = w->scan_series_object();
        QVERIFY(series->chart());
        QCOMPARE(series->count(), points);
        QCOMPARE(series->at(points - 1), QPointF(last_x, -100));
        QCOMPARE(w->chart_points()[size_t(points)].mhz, last_x);
        QCOMPARE(w->scan_axis_x()->max(), double(last_x));
        QCOMPARE(!ui->comboBox_region->isHidden(), band == 24);
    }

    void serial_label_read_on_request()
    {
        auto unit = testsupport::make_ground_unit();
        auto record = unit->identityRecord();
        for (int i = 0; i < 8; ++i)
            record[size_t(24 + i)] = uint8_t("V2.0.11"[i]);
        unit->setIdentityRecord(record);
        auto dev = testsupport::plug(unit);
        QCOMPARE(w->open_device(true), 0);
        w->on_pushButton_GET_SN_clicked();
        QCOMPARE(w->serial_number, QString("QL24G0000001"));
        QCOMPARE(ui->label_sn->text(), QString("SN:QL24G0000001-20304-0-3440-V2.0.11"));
        QCOMPARE(w->hi3798_version, QString("V2.0.11"));
        // A failed refresh keeps what was shown; the poll goes on.
        DebugCapture capture;
        dev->failNext(0xE3, -7);
        w->on_pushButton_GET_SN_clicked();
        QVERIFY(capture.contains("get SN number failed"));
        QCOMPARE(ui->label_sn->text(), QString("SN:QL24G0000001-20304-0-3440-V2.0.11"));
        QVERIFY(w->poll_timer()->isActive());
        w->open_device(false);

        // A unit without a serial number.
        std::fill(record.begin(), record.begin() + 12, 0);
        unit->setIdentityRecord(record);
        QCOMPARE(w->open_device(true), 0);
        w->on_pushButton_GET_SN_clicked();
        QCOMPARE(w->serial_number, QString("unknow"));
        w->open_device(false);
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    testsupport::init_resources();
    IdentityTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_identity.moc"
