// The "Simulated unit" window drives the running tool (start page, watcher, main window): its presets,
// USB button, identity, distance, pairing button and faults change what the tool shows.
#include "bus_watch.h"
#include "settings_harness.h"
#include "ui_wireless_video_link.h" // named here so that the form is generated for this test

#include "mainpage.h"
#include "sim_control_window.h"

#include <QCheckBox>
#include <QSlider>
#include <QtEndian>

using namespace testsupport;
using Up = sim::SimUpgrade;

constexpr int kSwapTimeoutMs = 8000;

class SimControlTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<MainPage> page;
    std::unique_ptr<SimControlWindow> control;
    Wireless_Video_Link* w = nullptr;
    Ui::Wireless_Video_Link* ui = nullptr;

    // A control of the control window, by its object name.
    template <class T>
    T* c(const char* name) const { return control->findChild<T*>(QLatin1String(name)); }

    // Picks the entry carrying `data` as the user would.
    static void choose(QComboBox* box, int data) { harness::activate(box, box->findData(data)); }

    bool connected() const { return harness::connected(w); }

    // Start page, main window and control window; a preset's button plugs its unit in.
    void start(const char* preset = "pushButton_preset_healthy")
    {
        page = std::make_unique<MainPage>();
        page->show();
        w = page->main_window();
        ui = w->form();
        control = std::make_unique<SimControlWindow>();
        control->show();
        c<QPushButton>(preset)->click();
        QTRY_VERIFY_WITH_TIMEOUT(connected(), kSwapTimeoutMs);
    }

private slots:
    void initTestCase() { init_resources(); }

    void cleanup()
    {
        control.reset();
        Wireless_Video_Link* window = page ? page->main_window() : nullptr;
        page.reset();
        delete window;
        reset_bus();
        QTRY_COMPARE(sim::BusWatch::instance().liveHandles(), 0);
    }

    // What the tool shows once the unit is (back) on the bus: type, band, first channel, firmware, the
    // ground unit's pages, extended firmware's mode choice, variant 5's antenna choice, the serial label.
    void unit_reaches_the_tool_data()
    {
        QTest::addColumn<QString>("road"); // a preset's button, the identity edited, or the USB button
        QTest::addColumn<QString>("shown");
        const QString healthy =
            "Ground 2 24, Channel 1 (2412MHz), 1.2.3, pages, modes, -, SN:QL24G0000001-20304-0-3440";
        QTest::newRow("2.4 GHz ground unit, healthy link") << "pushButton_preset_healthy" << healthy;
        QTest::newRow("air unit attached") << "pushButton_preset_air"
            << "Air 1 24, Channel 1 (2412MHz), 1.2.3, -, modes, -, SN:QL24A0000001-80020304-0-2440";
        QTest::newRow("5.8 GHz") << "pushButton_preset_58"
            << "Ground 2 58, Chanel 1 (5745MHz), 1.2.3, pages, modes, -, SN:QL58G0000001-20304-0-3440";
        QTest::newRow("old firmware") << "pushButton_preset_old"
            << "Ground 2 24, Channel 1 (2412MHz), 1.0.2, pages, -, -, SN:QL24G0000001-10207-0-3210";
        QTest::newRow("identity edited: the unit swapped") << "identity"
            << "Ground 2 24, Channel 1 (2412MHz), 5.2.3, pages, modes, antennas, SN:QL24G0000001-20304-0-3440-V1.0.5";
        QTest::newRow("unplugged and plugged in") << "usb" << healthy;
    }

    void unit_reaches_the_tool()
    {
        QFETCH(QString, road);
        QFETCH(QString, shown);
        const bool preset = road.startsWith("pushButton");
        start(preset ? qPrintable(road) : "pushButton_preset_healthy");
        QPushButton* plug = c<QPushButton>("pushButton_plug");
        if (road == "identity") {
            choose(c<QComboBox>("comboBox_variant"), 5);
            c<QCheckBox>("checkBox_hi3798")->setChecked(true);
            QCOMPARE(c<QLabel>("label_plug_state")->text(), QString("Swapping the unit..."));
        } else if (road == "usb") {
            QCOMPARE(plug->text(), QString("Unplug"));
            plug->click();
            QCOMPARE(c<QLabel>("label_plug_state")->text() + ", " + plug->text(), QString("Unplugged, Plug in"));
        }
        if (!preset) {
            QTRY_COMPARE_WITH_TIMEOUT(ui->label_connect->text(), QString("DisConnected"), kSwapTimeoutMs);
            QVERIFY(!w->device_handle());
            if (road == "usb")
                plug->click();
            QTRY_VERIFY_WITH_TIMEOUT(connected(), kSwapTimeoutMs);
        }
        w->on_pushButton_GET_SN_clicked(); // the poll reads it every fourth tick
        const QStringList got{ui->label_info_dev->text() + QString(" %1 %2").arg(w->unit_type).arg(w->band_code),
                              ui->comboBox_freq->itemText(0), ui->label_info_firm->text(),
                              ui->pushButton_frequency->isHidden() ? "-" : "pages",
                              ui->radioButton_RT->isHidden() ? "-" : "modes",
                              ui->pushButton_antenna_1->isHidden() ? "-" : "antennas", ui->label_sn->text()};
        QCOMPARE(got.join(", "), shown);
    }

    // The weak-link preset, distance slider and peer's switch move the readings, without a swap.
    void link_controls_move_the_readings()
    {
        start();
        auto poll = [&](int times) { while (times--) w->poll_status(); };
        poll(4);
        auto g_rssi = [&] { return ui->label_test_g_rssi->text().mid(1).chopped(3).toInt(); }; // "-58dBm" -> 58
        const int near_rssi = g_rssi();
        QVERIFY2(near_rssi > 0, qPrintable(ui->label_test_g_rssi->text()));
        QCOMPARE(ui->label_lostp->text(), QString("0%"));
        c<QPushButton>("pushButton_preset_weak")->click();
        QVERIFY(connected());
        poll(12);
        QVERIFY2(g_rssi() > near_rssi + 20, qPrintable(ui->label_test_g_rssi->text()));
        const double loss = ui->label_lostp->text().chopped(1).toDouble();
        QVERIFY2(loss > 1.0 && loss < 50.0, qPrintable(ui->label_lostp->text()));
        QCOMPARE(ui->label_a_Distance->text(), QString("17000m"));

        c<QSlider>("horizontalSlider_distance")->setValue(SimControlWindow::sliderForDistance(2000));
        const double metres = control->unit()->link().airDistance();
        QVERIFY(qAbs(metres - 2000) < 20);
        QCOMPARE(c<QLabel>("label_distance")->text(), QString("%1 km").arg(metres / 1000, 0, 'f', 2));
        poll(1);
        QCOMPARE(ui->label_a_Distance->text(), QString("%1m").arg(qRound(metres)));
        c<QCheckBox>("checkBox_peer_present")->setChecked(false);
        poll(1);
        QCOMPARE(int(w->kept_dev_status()[32]), 0xFF); // ground RSSI: no reading
        QVERIFY(c<QLabel>("label_link")->text().startsWith("Link down"));
    }

    // Twice under the fault, then once more after "Accept settings".
    void setting_faults_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("results");
        QTest::newRow("unit rejects settings") << "pushButton_preset_rejects" << "failed failed done";
        QTest::newRow("reject next setting") << "pushButton_reject_next" << "failed done done";
        QTest::newRow("ignore next setting") << "pushButton_ignore_next" << "timeout done done";
    }

    void setting_faults()
    {
        QFETCH(QString, control);
        QFETCH(QString, results);
        start();
        c<QPushButton>(qPrintable(control))->click();
        QVERIFY(connected());
        harness::WaitLog waits; // the acknowledgement's waits, not waited
        DebugCapture capture;
        for (int i = 0; i < 3; ++i) {
            if (i == 2)
                c<QPushButton>("pushButton_accept")->click();
            w->on_comboBox_region_activated(0);
            QTRY_VERIFY(c<QLabel>("label_last_setting")->text().startsWith("Last setting: request 0xC2"));
        }
        QVERIFY(!c<QCheckBox>("checkBox_reject_all")->isChecked());
        QCOMPARE(capture.lines().filter("Set Set power ").replaceInStrings("Set Set power ", "").join(' '), results);
    }

    // What the tool does with the press is tested in tst_pairing.
    void pairing_button_presses_the_units_button()
    {
        control = std::make_unique<SimControlWindow>();
        QVERIFY(!control->unit()->link().pairingActive());
        c<QPushButton>("pushButton_pair")->click();
        QVERIFY(control->unit()->link().pairingActive());
    }

    // The unit's side of an MCU1 upgrade after the step was chosen; set back, the next runs through.
    void upgrade_fault_data()
    {
        QTest::addColumn<SimControlWindow::UpgradeFault>("step");
        QTest::addColumn<QString>("outcome"); // erased, program failed, check passed
        QTest::newRow("nowhere") << SimControlWindow::Nowhere << "1 0 1";
        QTest::newRow("erase") << SimControlWindow::EraseNeverDone << "0 0 1";
        QTest::newRow("programming") << SimControlWindow::ProgramFails << "1 1 1";
        QTest::newRow("data check") << SimControlWindow::CheckRefused << "1 0 0";
    }

    void upgrade_fault()
    {
        QFETCH(SimControlWindow::UpgradeFault, step);
        QFETCH(QString, outcome);
        control = std::make_unique<SimControlWindow>();
        choose(c<QComboBox>("comboBox_upgrade_step"), int(step));
        QCOMPARE(c<QComboBox>("comboBox_upgrade_target")->isEnabled(), step != SimControlWindow::Nowhere);
        if (step != SimControlWindow::Nowhere)
            choose(c<QComboBox>("comboBox_upgrade_target"), int(Up::Mcu1));
        sim::SimUnit& unit = *control->unit();
        uint8_t word[4] = {}, mcu1 = 0x10;
        std::vector<uint8_t> chunk(64, 0x5A);
        auto status_bit = [&](int bit) {
            unit.control(sim::kVendorIn, Up::kReqStatusWord, 0, 0, word, 4);
            return int(qFromLittleEndian<quint32>(word) >> bit & 1);
        };
        for (const QString& want : {outcome, QString("1 0 1")}) {
            QCOMPARE(unit.control(sim::kVendorOut, Up::kReqEraseMcu1, 0, 0, nullptr, 0), 0);
            for (int i = 0; i < 5; ++i)
                status_bit(0);
            const int erased = status_bit(Up::eraseDoneBit(Up::Mcu1));
            QCOMPARE(unit.control(sim::kVendorOut, Up::kReqProgramMcu1, 0, 0, nullptr, 0), 0);
            QCOMPARE(unit.bulk(sim::kBulkOutEndpoint, chunk.data(), int(chunk.size())), 64);
            const int failed = status_bit(Up::programFailedBit(Up::Mcu1));
            const bool checked = unit.control(sim::kVendorOut, Up::kReqDataCheck, 0, 0, &mcu1, 1) == 1;
            QCOMPARE(QString("%1 %2 %3").arg(erased).arg(failed).arg(checked), want);
            choose(c<QComboBox>("comboBox_upgrade_step"), int(SimControlWindow::Nowhere));
            QCOMPARE(c<QLabel>("label_upgrade")->text(), QString("Upgrades run through."));
        }
    }
};

QTEST_MAIN(SimControlTest)
#include "tst_sim_control.moc"
