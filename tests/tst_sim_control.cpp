// The "Simulated unit" control window drives the tool: its presets, USB
// button, identity choices, distance, pairing button and faults change what
// the running tool (start page, watcher thread, main window) shows.
#include "bus_watch.h"
#include "settings_harness.h"

#include "mainpage.h"
#include "sim_control_window.h"

#include <QCheckBox>
#include <QRegularExpression>
#include <QSlider>

using namespace testsupport;
using Up = sim::SimUpgrade;

namespace {
constexpr int kSwapTimeoutMs = 8000;

// "-58dBm" -> 58
int rssi_magnitude(const QString& text)
{
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^-(\\d+)dBm$")).match(text);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// One vendor request straight to the unit, as the upgrade engine sends it.
int out_request(sim::SimUnit& unit, uint8_t request, std::vector<uint8_t> data = {})
{
    return unit.control(sim::kVendorOut, request, 0, 0, data.empty() ? nullptr : data.data(), uint16_t(data.size()));
}

uint32_t status_word(sim::SimUnit& unit)
{
    uint8_t w[4] = {};
    unit.control(sim::kVendorIn, Up::kReqStatusWord, 0, 0, w, 4);
    return uint32_t(w[0]) | uint32_t(w[1]) << 8 | uint32_t(w[2]) << 16 | uint32_t(w[3]) << 24;
}
} // namespace

class SimControlTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<MainPage> page;
    std::unique_ptr<SimControlWindow> control;
    Wireless_Video_Link* w = nullptr;
    Ui::Wireless_Video_Link* ui = nullptr;

    // A control of the control window, by its object name.
    template <class T>
    T* c(const char* name) const
    {
        T* widget = control->findChild<T*>(QLatin1String(name));
        if (!widget)
            qFatal("no %s in the control window", name);
        return widget;
    }

    // Picks the entry carrying `data` as the user would.
    static void choose(QComboBox* box, int data)
    {
        QVERIFY(box->findData(data) >= 0);
        harness::activate(box, box->findData(data));
    }

    bool connected() const { return harness::connected(w); }

    QPushButton* preset_button(SimControlWindow::Preset preset) const
    {
        for (QPushButton* b : control->findChildren<QPushButton*>())
            if (b->text() == SimControlWindow::presetName(preset))
                return b;
        return nullptr;
    }

    // Start page, main window and control window; the healthy 2.4 GHz
    // ground unit plugged in through the window and connected.
    void start_connected()
    {
        page = std::make_unique<MainPage>();
        page->show();
        w = page->main_window();
        ui = w->form();
        control = std::make_unique<SimControlWindow>();
        control->show();
        QPushButton* healthy = preset_button(SimControlWindow::HealthyGround24);
        QVERIFY(healthy);
        healthy->click();
        QTRY_VERIFY_WITH_TIMEOUT(connected(), kSwapTimeoutMs);
        QCOMPARE(ui->label_info_dev->text(), QString("Ground"));
    }

    // Waits until the tool has let go of the unit and taken it again.
    bool wait_reconnected(const std::function<bool()>& also)
    {
        return wait_for([&] { return connected() && also(); }, kSwapTimeoutMs);
    }

    void poll(int times)
    {
        for (int i = 0; i < times; ++i)
            w->poll_status();
    }

private slots:
    void initTestCase() { init_resources(); }
    void init() { reset_bus(); }

    void cleanup()
    {
        control.reset();
        Wireless_Video_Link* window = page ? page->main_window() : nullptr;
        page.reset();
        delete window;
        w = nullptr;
        ui = nullptr;
        reset_bus();
        QTRY_COMPARE(sim::BusWatch::instance().liveHandles(), 0);
    }

    void presets_reach_the_tool_data()
    {
        QTest::addColumn<SimControlWindow::Preset>("preset");
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("ground_pages");
        QTest::addColumn<int>("band");
        QTest::addColumn<QString>("first_channel");
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<bool>("extended");
        QTest::addColumn<QString>("serial");

        QTest::newRow("2.4 GHz ground unit, healthy link")
            << SimControlWindow::HealthyGround24 << "Ground" << true << 24 << "Channel 1 (2412MHz)"
            << "1.2.3" << true << "QL24G0000001";
        QTest::newRow("air unit attached") << SimControlWindow::AirUnit << "Air" << false << 24
                                           << "Channel 1 (2412MHz)" << "1.2.3" << true << "QL24A0000001";
        QTest::newRow("5.8 GHz") << SimControlWindow::Ground58 << "Ground" << true << 58
                                 << "Chanel 1 (5745MHz)" << "1.2.3" << true << "QL58G0000001";
        QTest::newRow("old firmware") << SimControlWindow::OldFirmware << "Ground" << true << 24
                                      << "Channel 1 (2412MHz)" << "1.0.2" << false << "QL24G0000001";
    }

    void presets_reach_the_tool()
    {
        QFETCH(SimControlWindow::Preset, preset);
        QFETCH(QString, type);
        QFETCH(bool, ground_pages);
        QFETCH(int, band);
        QFETCH(QString, first_channel);
        QFETCH(QString, firmware);
        QFETCH(bool, extended);
        QFETCH(QString, serial);

        start_connected();
        preset_button(preset)->click();
        QVERIFY(wait_reconnected([&] { return w->band_code == band && ui->label_info_dev->text() == type
                                              && ui->label_info_firm->text() == firmware; }));
        QVERIFY(control->isPlugged());
        QCOMPARE(ui->pushButton_frequency->isHidden(), !ground_pages);
        QCOMPARE(w->unit_type, ground_pages ? 2 : 1);
        QCOMPARE(ui->comboBox_freq->itemText(0), first_channel);
        // Extended firmware offers the ground unit's mode choice; basic hides it.
        QCOMPARE(ui->radioButton_RT->isHidden(), !extended);
        w->on_pushButton_GET_SN_clicked(); // the poll reads it every fourth tick
        QCOMPARE(w->serial_number, serial);
    }

    void editing_the_identity_swaps_the_unit()
    {
        start_connected();
        QVERIFY(ui->pushButton_antenna_1->isHidden()); // variant 1 has no antenna choice
        choose(c<QComboBox>("comboBox_variant"), 5);
        c<QCheckBox>("checkBox_hi3798")->setChecked(true);
        QCOMPARE(c<QLabel>("label_plug_state")->text(), QString("Swapping the unit..."));
        QTRY_VERIFY_WITH_TIMEOUT(!connected(), kSwapTimeoutMs);
        QVERIFY(wait_reconnected([&] { return w->feature_mask == 4; }));
        QVERIFY(!ui->pushButton_antenna_1->isHidden());
        QCOMPARE(ui->label_info_firm->text(), QString("5.2.3"));
        w->on_pushButton_GET_SN_clicked();
        QVERIFY2(ui->label_sn->text().endsWith("-V1.0.5"), qPrintable(ui->label_sn->text()));
    }

    // The weak-link preset, the distance slider and the peer's switch move
    // the readings the tool shows, without swapping the unit.
    void link_controls_move_the_readings()
    {
        start_connected();
        poll(4);
        const int near_rssi = rssi_magnitude(ui->label_test_g_rssi->text());
        QVERIFY2(near_rssi > 0, qPrintable(ui->label_test_g_rssi->text()));
        QCOMPARE(ui->label_lostp->text(), QString("0%"));
        preset_button(SimControlWindow::WeakLink)->click();
        QVERIFY(connected());
        poll(12);
        QVERIFY2(rssi_magnitude(ui->label_test_g_rssi->text()) > near_rssi + 20, qPrintable(ui->label_test_g_rssi->text()));
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

    void unplug_button_disconnects_the_tool()
    {
        start_connected();
        QCOMPARE(c<QPushButton>("pushButton_plug")->text(), QString("Unplug"));
        c<QPushButton>("pushButton_plug")->click();
        QTRY_COMPARE_WITH_TIMEOUT(ui->label_connect->text(), QString("DisConnected"), kSwapTimeoutMs);
        QVERIFY(!w->device_handle());
        QCOMPARE(c<QLabel>("label_plug_state")->text(), QString("Unplugged"));
        QCOMPARE(c<QPushButton>("pushButton_plug")->text(), QString("Plug in"));

        c<QPushButton>("pushButton_plug")->click();
        QTRY_VERIFY_WITH_TIMEOUT(connected(), kSwapTimeoutMs);
    }

    void setting_faults_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::newRow("unit rejects settings") << "pushButton_preset_rejects" << "failed" << "failed";
        QTest::newRow("reject next setting") << "pushButton_reject_next" << "failed" << "done";
        QTest::newRow("ignore next setting") << "pushButton_ignore_next" << "timeout" << "done";
    }

    void setting_faults()
    {
        QFETCH(QString, control);
        QFETCH(QString, first);
        QFETCH(QString, second);
        start_connected();
        this->control->findChild<QPushButton*>(control)->click();
        QVERIFY(connected());
        harness::WaitLog waits; // the acknowledgement's waits, not waited
        DebugCapture capture;
        // Twice under the fault, then once more after "Accept settings".
        const QStringList results{first, second, "done"};
        for (int i = 0; i < 3; ++i) {
            if (i == 2) {
                c<QPushButton>("pushButton_accept")->click();
                QVERIFY(!c<QCheckBox>("checkBox_reject_all")->isChecked());
            }
            const QString& result = results[i];
            capture.clear();
            w->on_comboBox_region_activated(0);
            QVERIFY2(capture.contains("Set Set power " + result), qPrintable(capture.lines().join('\n')));
            QTRY_VERIFY(c<QLabel>("label_last_setting")->text().startsWith("Last setting: request 0xC2"));
        }
    }

    // What the tool does with the press is tested in tst_pairing.
    void pairing_button_presses_the_units_button()
    {
        control = std::make_unique<SimControlWindow>();
        QVERIFY(!control->unit()->link().pairingActive());
        c<QPushButton>("pushButton_pair")->click();
        QVERIFY(control->unit()->link().pairingActive());
    }

    // The unit's side of an MCU1 upgrade, as the engine drives it, after the
    // step was chosen in the window; set back, the next one runs through.
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
        for (const QString& want : {outcome, QString("1 0 1")}) {
            sim::SimUnit& unit = *control->unit();
            QCOMPARE(out_request(unit, Up::kReqEraseMcu1), 0);
            for (int i = 0; i < 5; ++i)
                status_word(unit);
            const bool erased = status_word(unit) & (1u << Up::eraseDoneBit(Up::Mcu1));
            QCOMPARE(out_request(unit, Up::kReqProgramMcu1), 0);
            std::vector<uint8_t> chunk(64, 0x5A);
            QCOMPARE(unit.bulk(sim::kBulkOutEndpoint, chunk.data(), int(chunk.size())), 64);
            const bool failed = status_word(unit) & (1u << Up::programFailedBit(Up::Mcu1));
            const bool checked = out_request(unit, Up::kReqDataCheck, {0x10}) == 1;
            QCOMPARE(QString("%1 %2 %3").arg(erased).arg(failed).arg(checked), want);
            choose(c<QComboBox>("comboBox_upgrade_step"), int(SimControlWindow::Nowhere));
            QCOMPARE(c<QLabel>("label_upgrade")->text(), QString("Upgrades run through."));
        }
    }
};

QTEST_MAIN(SimControlTest)
#include "tst_sim_control.moc"
