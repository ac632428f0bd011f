// The window adapting itself to the unit's identity: unit type, firmware
// generation, model band, hardware variant, chart and serial label.
#include "testsupport.h"

#include "mainpage.h"
#include "ui_wireless_video_link.h"
#include "wireless_video_link.h"

#include <QApplication>
#include <QLayout>
#include <QTest>
#include <QtCharts/QSplineSeries>
#include <QtCharts/QValueAxis>
#include <memory>

using namespace testsupport;

class IdentityTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Wireless_Video_Link> w;
    Ui::Wireless_Video_Link* ui = nullptr;

    QStringList items(QComboBox* box)
    {
        QStringList l;
        for (int i = 0; i < box->count(); ++i)
            l << box->itemText(i);
        return l;
    }

    int config_bottom_margin() { return ui->widget_config_2->layout()->contentsMargins().bottom(); }

private slots:
    void init()
    {
        reset_bus();
        w = std::make_unique<Wireless_Video_Link>();
        w->show();
        ui = w->form();
    }

    void cleanup()
    {
        w.reset();
        reset_bus();
    }

    void version_word_decides_unit_and_rows_data()
    {
        QTest::addColumn<uint>("word");
        QTest::addColumn<int>("unitType");
        QTest::addColumn<QString>("typeText");
        QTest::addColumn<bool>("datalinkRow");
        QTest::addColumn<bool>("identityRow");
        QTest::addColumn<bool>("configureButton");
        QTest::addColumn<bool>("groundGroup");
        QTest::newRow("0x1440 ground extended, no datalink") << 0x1440u << 2 << "Ground" << false << true << true << true;
        QTest::newRow("0x3000 ground basic") << 0x3000u << 2 << "Ground" << false << false << true << true;
        QTest::newRow("0x3440 ground extended datalink") << 0x3440u << 2 << "Ground" << true << true << true << true;
        QTest::newRow("0x2440 air extended datalink") << 0x2440u << 1 << "Air" << true << true << true << false;
        QTest::newRow("0x0000 air basic") << 0x0000u << 1 << "Air" << false << false << false << false;
    }

    void version_word_decides_unit_and_rows()
    {
        QFETCH(uint, word);
        QFETCH(int, unitType);
        QFETCH(QString, typeText);
        QFETCH(bool, datalinkRow);
        QFETCH(bool, identityRow);
        QFETCH(bool, configureButton);
        QFETCH(bool, groundGroup);
        DebugCapture capture;
        w->set_func_from_version(word);
        QCOMPARE(w->unit_type, unitType);
        QCOMPARE(ui->label_info_dev->text(), typeText);
        QCOMPARE(!ui->label_Datalink_I->isHidden(), datalinkRow);
        QCOMPARE(!ui->radioButton_usb->isHidden(), datalinkRow);
        QCOMPARE(!ui->radioButton_uart->isHidden(), datalinkRow);
        QCOMPARE(!ui->label_Guc_mode->isHidden(), identityRow);
        QCOMPARE(!ui->radioButton_RO->isHidden(), identityRow);
        QCOMPARE(!ui->pushButton_configure->isHidden(), configureButton);
        QCOMPARE(!ui->groupBox_g_status->isHidden(), groundGroup);
        QVERIFY(capture.contains("set_func_from_version"));
        QVERIFY(capture.contains(QString("devt %1").arg((word >> 12) & 15)));
    }

    void unknown_unit_nibble_keeps_type()
    {
        w->set_func_from_version(0x1440);
        w->set_func_from_version(0x4440);
        QCOMPARE(ui->label_info_dev->text(), QString("unknow"));
        QCOMPARE(w->unit_type, 2);
    }

    void air_decision_switches_to_information_page()
    {
        ui->pushButton_status->click();
        QCOMPARE(ui->stackedWidget->currentWidget(), ui->page_status);
        w->set_func_from_version(0x2000);
        QCOMPARE(ui->stackedWidget->currentWidget(), ui->page_info);
        // Already an air unit: the page is left alone.
        ui->pushButton_Update->click();
        w->set_func_from_version(0x2000);
        QCOMPARE(ui->stackedWidget->currentWidget(), ui->page_update);
    }

    void config_margin_moves_once_each_way()
    {
        const int start = config_bottom_margin();
        w->set_func_from_version(0x3000); // basic
        const int basic = config_bottom_margin();
        QCOMPARE(basic, start <= 99 ? start + 220 : start);
        w->set_func_from_version(0x3000);
        QCOMPARE(config_bottom_margin(), basic);
        w->set_func_from_version(0x3440); // extended
        QCOMPARE(config_bottom_margin(), basic > 100 ? 40 : basic);
        const int extended = config_bottom_margin();
        w->set_func_from_version(0x3440);
        QCOMPARE(config_bottom_margin(), extended);
    }

    void device_info_flag_data()
    {
        QTest::addColumn<int>("byte3");
        QTest::addColumn<int>("flag");
        QTest::addColumn<int>("unitType");
        QTest::addColumn<QString>("typeText");
        QTest::newRow("air shown") << 0x80 << 1 << 1 << "Air";
        QTest::newRow("ground shown") << 0x00 << 1 << 2 << "Ground";
        QTest::newRow("not shown") << 0x80 << 0 << 0 << "";
    }

    void device_info_flag()
    {
        QFETCH(int, byte3);
        QFETCH(int, flag);
        QFETCH(int, unitType);
        QFETCH(QString, typeText);
        ui->label_info_dev->clear();
        unsigned char info[4] = {0xAB, 0x0C, 0x00, uint8_t(byte3)};
        w->setdev_info(info, flag);
        QCOMPARE(w->unit_type, unitType);
        QCOMPARE(ui->label_info_dev->text(), typeText);
        QCOMPARE(ui->label_info_fpga->text(), QString("cab"));
    }

    void model_band_rebuilds_channel_list_once()
    {
        // 2.4 GHz keeps the layout's own list.
        unsigned char soft24[4] = {0x23, 0x01, 0x00, 0x00};
        const QStringList layout = items(ui->comboBox_freq);
        DebugCapture capture;
        w->setsof_info(soft24);
        QCOMPARE(items(ui->comboBox_freq), layout);
        QCOMPARE(w->band_code, 24);
        QCOMPARE(w->power_level, 28);

        unsigned char soft25[4] = {0x00, 0x51, 0x01, 0x00};
        w->setsof_info(soft25);
        QCOMPARE(w->band_code, 25);
        QCOMPARE(w->power_level, 33);
        QVERIFY(w->power_offset_flag);
        const QStringList l25 = items(ui->comboBox_freq);
        QCOMPARE(l25.size(), 14);
        QCOMPARE(l25.first(), QString("Chanel 1 (2512MHz)"));
        QCOMPARE(l25.last(), QString("Chanel 14 (2577MHz)"));
        QCOMPARE(w->scan_axis_x()->min(), 2500.0);
        QCOMPARE(w->scan_axis_x()->max(), 2600.0);
        QCOMPARE(capture.count("2.5g mark"), 1);

        // Every second the poll hands the same record: nothing is rebuilt.
        ui->comboBox_freq->setCurrentIndex(5);
        w->setsof_info(soft25);
        QCOMPARE(ui->comboBox_freq->currentIndex(), 5);
        QCOMPARE(capture.count("2.5g mark"), 1);

        unsigned char soft14[4] = {0x00, 0x40, 0x00, 0x00};
        w->setsof_info(soft14);
        QCOMPARE(ui->stackedWidget_freq->currentWidget(), ui->page_blank);
        QCOMPARE(items(ui->comboBox_freq).last(), QString("Chanel 7 (1485MHz)"));

        unsigned char unknown[4] = {0x00, 0xC0, 0x01, 0x00};
        w->setsof_info(unknown);
        QCOMPARE(w->band_code, 0);
        QCOMPARE(items(ui->comboBox_freq).size(), 7);
    }

    void hardware_variant_data()
    {
        QTest::addColumn<int>("variant");
        QTest::addColumn<int>("unitType");
        QTest::addColumn<bool>("has16Qam");
        QTest::addColumn<bool>("bbTemp");
        QTest::addColumn<bool>("airCounters");
        QTest::addColumn<bool>("antennaChoice");
        QTest::addColumn<int>("mask");
        QTest::addColumn<int>("channels");
        QTest::newRow("1") << 1 << 2 << true << true << true << false << 1 << 16;
        QTest::newRow("2") << 2 << 2 << true << true << true << false << 2 << 16;
        QTest::newRow("3") << 3 << 2 << true << true << true << false << 8 << 16;
        QTest::newRow("4 ground") << 4 << 2 << false << false << false << false << 12 << 15;
        QTest::newRow("4 air") << 4 << 1 << false << false << true << false << 12 << 15;
        QTest::newRow("5") << 5 << 2 << false << false << false << true << 4 << 16;
        QTest::newRow("6") << 6 << 2 << false << false << false << false << 12 << 16;
    }

    void hardware_variant()
    {
        QFETCH(int, variant);
        QFETCH(int, unitType);
        QFETCH(bool, has16Qam);
        QFETCH(bool, bbTemp);
        QFETCH(bool, airCounters);
        QFETCH(bool, antennaChoice);
        QFETCH(int, mask);
        QFETCH(int, channels);
        w->unit_type = unitType;
        w->set_ui_feature_from_mcu1(variant);
        QCOMPARE(ui->comboBox_downlink->findText("16QAM_1/2 (7.52Mbps)") >= 0, has16Qam);
        QCOMPARE(!ui->label_g_BB_TEMP->isHidden(), bbTemp);
        QCOMPARE(!ui->label_A_BB_TEMP->isHidden(), bbTemp);
        QCOMPARE(!ui->label_a_packets_send->isHidden(), airCounters);
        QCOMPARE(!ui->label_a_buf_overflow_l->isHidden(), airCounters);
        QCOMPARE(!ui->pushButton_antenna_1->isHidden(), antennaChoice);
        QCOMPARE(w->feature_mask, mask);
        QCOMPARE(ui->comboBox_freq->count(), channels);
        // Applying it again does not add a second 16QAM entry.
        w->set_ui_feature_from_mcu1(variant);
        QVERIFY(ui->comboBox_downlink->count() <= 9);
    }

    void variant_out_of_table_changes_nothing()
    {
        const int mask = w->feature_mask;
        const int entries = ui->comboBox_downlink->count();
        w->set_ui_feature_from_mcu1(0);
        w->set_ui_feature_from_mcu1(7);
        QCOMPARE(w->feature_mask, mask);
        QCOMPARE(ui->comboBox_downlink->count(), entries);
    }

    void chart_start_points_data()
    {
        QTest::addColumn<int>("band");
        QTest::addColumn<int>("points");
        QTest::addColumn<int>("firstX");
        QTest::addColumn<int>("lastX");
        QTest::addColumn<int>("endIndex");
        QTest::addColumn<bool>("region");
        QTest::newRow("24") << 24 << 16 << 2400 << 2500 << 16 << true;
        QTest::newRow("25") << 25 << 16 << 2512 << 2600 << 16 << false;
        QTest::newRow("14") << 14 << 7 << 1400 << 1500 << 7 << false;
        QTest::newRow("58") << 58 << 7 << 5730 << 5830 << 7 << false;
    }

    void chart_start_points()
    {
        QFETCH(int, band);
        QFETCH(int, points);
        QFETCH(int, firstX);
        QFETCH(int, lastX);
        QFETCH(int, endIndex);
        QFETCH(bool, region);
        w->band_code = band;
        w->set_freq_chart_from_version();
        auto* series = w->scan_series_object();
        QVERIFY(series->chart());
        QCOMPARE(series->count(), points);
        QCOMPARE(int(series->at(0).x()), firstX);
        QCOMPARE(int(series->at(0).y()), 0);
        QCOMPARE(int(series->at(2).y()), -12);
        QCOMPARE(int(series->at(points - 1).x()), lastX);
        QCOMPARE(int(series->at(points - 1).y()), -100);
        QCOMPARE(w->chart_points()[size_t(endIndex)].mhz, lastX);
        QCOMPARE(w->chart_points()[size_t(endIndex)].dbm, -100);
        QCOMPARE(w->scan_axis_x()->max(), double(lastX));
        QCOMPARE(!ui->comboBox_region->isHidden(), region);
        // Twice: still the same number of points, series attached once.
        w->set_freq_chart_from_version();
        QCOMPARE(series->count(), points);
    }

    void serial_label_read_on_request()
    {
        auto unit = make_ground_unit();
        auto record = unit->identityRecord();
        for (int i = 0; i < 8; ++i)
            record[size_t(24 + i)] = "V2.0.11"[i];
        unit->setIdentityRecord(record);
        auto dev = plug(unit);
        QVERIFY(w->open_device(true) == 0);
        w->on_pushButton_GET_SN_clicked();
        QCOMPARE(w->serial_number, QString("QL24G0000001"));
        QVERIFY(ui->label_sn->text().startsWith("SN:QL24G0000001-"));
        QVERIFY(ui->label_sn->text().endsWith("-3440-V2.0.11"));
        QCOMPARE(w->hi3798_version, QString("V2.0.11"));
        QVERIFY(w->poll_timer()->isActive());

        // A failed refresh keeps what was shown.
        const QString shown = ui->label_sn->text();
        DebugCapture capture;
        dev->failNext(0xE3, -7);
        w->on_pushButton_GET_SN_clicked();
        QVERIFY(capture.contains("get SN number failed"));
        QCOMPARE(ui->label_sn->text(), shown);
        QVERIFY(w->poll_timer()->isActive());
        w->open_device(false);
    }

    void unit_without_serial_is_unknow()
    {
        auto unit = make_ground_unit();
        auto record = unit->identityRecord();
        std::fill(record.begin(), record.begin() + 12, 0);
        unit->setIdentityRecord(record);
        plug(unit);
        QCOMPARE(w->open_device(true), 0);
        w->on_pushButton_GET_SN_clicked();
        QCOMPARE(w->serial_number, QString("unknow"));
        w->open_device(false);
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    init_resources();
    IdentityTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_identity.moc"
