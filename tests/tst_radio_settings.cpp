// The radio link settings through the main window's widgets, watched on the
// simulated unit: request, payload, status reads, settle time, the poll
// paused meanwhile, the debug lines, and the unit's state afterwards.
#include "settings_harness.h"
#include "ui_wireless_video_link.h"

#include <QPushButton>
#include <QSignalSpy>

using namespace harness;
using testsupport::DebugCapture;

using WindowSetup = std::function<void(Window&)>;
Q_DECLARE_METATYPE(WindowSetup)

namespace {


QString describe(const std::vector<sim::Transfer>& ts)
{
    QStringList parts;
    for (const auto& t : ts)
        parts << QStringLiteral("%1 %2 [%3] @%4ms")
                     .arg(t.bmRequestType == kOut ? "OUT" : "IN")
                     .arg(t.bRequest, 2, 16, QChar('0'))
                     .arg(QString(data_of(t).toHex(' ')))
                     .arg(ms(t.t_us));
    return parts.join(", ");
}

// Samples the poll timer while a setting is under way.
class PollWatch : public QObject
{
public:
    explicit PollWatch(Wireless_Video_Link* w)
    {
        connect(&timer, &QTimer::timeout, this, [this, w] {
            if (!w->poll_timer()->isActive())
                ++stopped;
            else
                ++running;
        });
        timer.start(50);
    }
    int stopped = 0;
    int running = 0;

private:
    QTimer timer;
};

// The quick handshake: the setting, one status read 300 ms later, nothing
// else until the settle time after that read has passed, then the poll
// runs again.
void check_quick(Window& h, const std::vector<sim::Transfer>& after, uint8_t request, const QByteArray& payload,
                 int settle_ms)
{
    QVERIFY2(after.size() == 2, qPrintable(describe(after)));
    QCOMPARE(int(after[0].bmRequestType), int(kOut));
    QCOMPARE(int(after[0].bRequest), int(request));
    QCOMPARE(data_of(after[0]), payload);
    QCOMPARE(after[0].timeout_ms, 2000u);
    QCOMPARE(int(after[1].bmRequestType), int(kIn));
    QCOMPARE(int(after[1].bRequest), int(sim::kReqCommandStatus));
    QCOMPARE(after[1].timeout_ms, 2000u);
    const int64_t gap = ms(after[1].t_us - after[0].end_us);
    QVERIFY2(gap >= 295 && gap < 800, qPrintable(QString::number(gap)));
    const int64_t settled = ms(sim::VirtualBus::instance().nowUs() - after[1].end_us);
    QVERIFY2(settled >= settle_ms - 5, qPrintable(QString::number(settled)));
    QVERIFY(h.w->poll_timer()->isActive());
}

// send_set_command with acknowledgement: the setting, status reads 400 ms
// apart until done (one read for a unit that answers at once), the settle
// time, the poll again.
void check_acked(Window& h, const std::vector<sim::Transfer>& after, uint8_t request, const QByteArray& payload,
                 int reads, int settle_ms)
{
    QVERIFY2(int(after.size()) == 1 + reads, qPrintable(describe(after)));
    QCOMPARE(int(after[0].bmRequestType), int(kOut));
    QCOMPARE(int(after[0].bRequest), int(request));
    QCOMPARE(data_of(after[0]), payload);
    QCOMPARE(after[0].timeout_ms, 2000u);
    for (int i = 1; i <= reads; ++i) {
        QCOMPARE(int(after[size_t(i)].bRequest), int(sim::kReqCommandStatus));
        const int64_t gap = ms(after[size_t(i)].t_us - after[size_t(i - 1)].end_us);
        QVERIFY2(gap >= 395 && gap < 900, qPrintable(QString::number(gap)));
    }
    const int64_t settled = ms(sim::VirtualBus::instance().nowUs() - after.back().end_us);
    QVERIFY2(settled >= settle_ms - 5, qPrintable(QString::number(settled)));
    QVERIFY(h.w->poll_timer()->isActive());
}

} // namespace

class RadioSettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { testsupport::reset_bus(); }
    void cleanup() { testsupport::reset_bus(); }

    void frequency_payload_data();
    void frequency_payload();
    void frequency_without_channel_sends_nothing_data();
    void frequency_without_channel_sends_nothing();
    void frequency_without_device_logs_only();
    void hopping_buttons_data();
    void hopping_buttons();
    void set_freq_hop_leaves_poll_alone();
    void downlink_entry_sends_code_data();
    void downlink_entry_sends_code();
    void downlink_rejected_logs_failure();
    void current_downlink_selects_entry_data();
    void current_downlink_selects_entry();
    void region_and_power_data();
    void region_and_power();
    void configuration_byte_data();
    void configuration_byte();
    void factory_restore_data();
    void factory_restore();
    void antenna_selection_data();
    void antenna_selection();
    void unconfirmed_setting_times_out();
    void widgetless_settings_data();
    void widgetless_settings();
    void test_mode_word();
    void nothing_sent_without_device();
};

void RadioSettingsTest::frequency_payload_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("mhz");
    QTest::newRow("2.4 GHz first channel") << 0 << 0 << bytes({0x6C, 0x09, 0, 0}) << 2412;
    QTest::newRow("2.4 GHz 2390") << 0 << 14 << bytes({0x56, 0x09, 0, 0}) << 2390;
    QTest::newRow("2.4 GHz 2495") << 0 << 15 << bytes({0xBF, 0x09, 0, 0}) << 2495;
    QTest::newRow("5.8 GHz index 6") << 12 << 6 << bytes({0xAD, 0x16, 0, 0}) << 5805;
    QTest::newRow("1.4 GHz index 6") << 4 << 6 << bytes({0xCD, 0x05, 0, 0}) << 1485;
}

void RadioSettingsTest::frequency_payload()
{
    QFETCH(int, model);
    QFETCH(int, index);
    QFETCH(QByteArray, payload);
    QFETCH(int, mhz);
    Window h(model);
    QVERIFY(h.opened);
    h.show_page(h.ui->page_frequency);
    QVERIFY(h.ui->comboBox_freq->count() > index);
    DebugCapture capture;
    PollWatch watch(h.w.get());
    const size_t m = h.mark();
    activate(h.ui->comboBox_freq, index);
    check_quick(h, h.since(m), sim::kReqFrequency, payload, 1300);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(watch.stopped >= 20); // 1.6 s of 50 ms samples
    QCOMPARE(watch.running, 0);
    QVERIFY(capture.contains(QStringLiteral("set freq: %1").arg(mhz)));
    QVERIFY(!capture.contains("set freq failed"));
    QVERIFY(!capture.contains("set freq error"));
    // The next poll shows what the unit now uses.
    QTRY_COMPARE(h.ui->label_FREQ->text(), QString::number(mhz));
}

void RadioSettingsTest::frequency_without_channel_sends_nothing_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("band");
    QTest::newRow("index past the 2.4 GHz list") << 16 << 24;
    QTest::newRow("unknown band") << 0 << 0;
}

void RadioSettingsTest::frequency_without_channel_sends_nothing()
{
    QFETCH(int, index);
    QFETCH(int, band);
    Window h;
    QVERIFY(h.opened);
    h.w->poll_timer()->stop(); // the poll would set the band back
    h.w->band_code = band;
    DebugCapture capture;
    const size_t m = h.mark();
    emit h.ui->comboBox_freq->activated(index);
    QVERIFY2(h.since(m).empty(), qPrintable(describe(h.since(m))));
    QCOMPARE(lines(capture), (QStringList{"set freq error", "set freq: 0"}));
    QCOMPARE(h.link().settingCount(sim::kReqFrequency), 0);
}

void RadioSettingsTest::frequency_without_device_logs_only()
{
    auto w = std::make_unique<Wireless_Video_Link>();
    DebugCapture capture;
    emit w->form()->comboBox_freq->activated(1);
    QCOMPARE(lines(capture), QStringList{"set freq: 2417"});
}

void RadioSettingsTest::hopping_buttons_data()
{
    QTest::addColumn<bool>("automatic");
    QTest::newRow("manual") << false;
    QTest::newRow("auto") << true;
}

void RadioSettingsTest::hopping_buttons()
{
    QFETCH(bool, automatic);
    Window h(0, [&](sim::SimUnit& u) { u.link().setFrequencyMode(automatic ? 0 : 1); });
    QVERIFY(h.opened);
    h.show_page(h.ui->page_frequency);
    QVERIFY(h.wait_poll());
    QCOMPARE(h.ui->comboBox_freq->isEnabled(), automatic);
    QPushButton* button = automatic ? h.ui->pushButton_auto : h.ui->pushButton_manual;
    QVERIFY(button->isVisible());
    DebugCapture capture;
    const size_t m = h.mark();
    click(button);
    check_quick(h, h.since(m), sim::kReqFreqHop, bytes({automatic ? 1 : 0}), 1300);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(h.ui->comboBox_freq->isEnabled(), !automatic);
    QVERIFY(!capture.contains("set freq_hop failed"));
    QCOMPARE(int(h.link().frequencyMode()), automatic ? 1 : 0);

    // Without a unit the list still follows the button; nothing is sent.
    auto bare = std::make_unique<Wireless_Video_Link>();
    bare->show();
    bare->form()->stackedWidget->setCurrentWidget(bare->form()->page_frequency);
    QPushButton* same = automatic ? bare->form()->pushButton_auto : bare->form()->pushButton_manual;
    bare->form()->comboBox_freq->setEnabled(automatic);
    const size_t before = h.mark();
    click(same);
    QCOMPARE(bare->form()->comboBox_freq->isEnabled(), !automatic);
    QCOMPARE(h.mark(), before);
}

void RadioSettingsTest::set_freq_hop_leaves_poll_alone()
{
    Window h;
    QVERIFY(h.opened);
    h.ui->comboBox_freq->setEnabled(true);
    h.link().rejectNextSettings(1);
    DebugCapture capture;
    const size_t m = h.mark();
    h.w->set_FreqHop(true);
    const auto after = h.since(m);
    QVERIFY2(after.size() == 2, qPrintable(describe(after)));
    QCOMPARE(data_of(after[0]), bytes({1}));
    QCOMPARE(int(after[1].bRequest), int(sim::kReqCommandStatus));
    QVERIFY(h.w->poll_timer()->isActive());
    QVERIFY(h.ui->comboBox_freq->isEnabled());
    QCOMPARE(lines(capture), QStringList{"set freq_hop failed"});
}

void RadioSettingsTest::downlink_entry_sends_code_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("full_index");
    QTest::newRow("entry 2") << 2 << 3 << 3;
    QTest::newRow("entry 6") << 6 << 8 << 8;
}

void RadioSettingsTest::downlink_entry_sends_code()
{
    QFETCH(int, entry);
    QFETCH(int, code);
    QFETCH(int, full_index);
    Window h;
    QVERIFY(h.opened);
    QCOMPARE(h.ui->comboBox_downlink->count(), 7);
    DebugCapture capture;
    const size_t m = h.mark();
    activate(h.ui->comboBox_downlink, entry);
    check_quick(h, h.since(m), sim::kReqDownlink, bytes({code}), 2300);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(lines(capture), QStringList{QStringLiteral("index %1").arg(full_index)});
    QCOMPARE(int(h.link().downlinkCode()), code);
    // The poll moves the list to the unit's rate: the same entry.
    h.ui->comboBox_downlink->setCurrentIndex(0);
    QTRY_COMPARE(h.ui->comboBox_downlink->currentIndex(), entry);
}

void RadioSettingsTest::downlink_rejected_logs_failure()
{
    Window h;
    QVERIFY(h.opened);
    h.link().rejectNextSettings(1);
    DebugCapture capture;
    const size_t m = h.mark();
    activate(h.ui->comboBox_downlink, 1);
    check_quick(h, h.since(m), sim::kReqDownlink, bytes({1}), 2300);
    QCOMPARE(lines(capture), (QStringList{"index 1", "set downlink failed"}));
}

void RadioSettingsTest::current_downlink_selects_entry_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("entry");
    QTest::newRow("code 8") << 8 << 6;
    QTest::newRow("code 9 changes nothing") << 9 << 4;
    QTest::newRow("code 2 shows its neighbour") << 2 << 2;
    QTest::newRow("code 6 shows its neighbour") << 6 << 4;
}

void RadioSettingsTest::current_downlink_selects_entry()
{
    QFETCH(int, code);
    QFETCH(int, entry);
    Window h;
    QVERIFY(h.opened);
    h.w->poll_timer()->stop();
    h.ui->comboBox_downlink->setCurrentIndex(4);
    h.w->set_current_downlink(code);
    QCOMPARE(h.ui->comboBox_downlink->currentIndex(), entry);
}

void RadioSettingsTest::region_and_power_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("region");
    QTest::addColumn<int>("byte");
    QTest::newRow("GITEIK, level 33 with offset") << 24 << 2 << 0x5F;
    QTest::newRow("CE, level 28") << 0 << 1 << 0x3C;
}

void RadioSettingsTest::region_and_power()
{
    QFETCH(int, model);
    QFETCH(int, region);
    QFETCH(int, byte);
    Window h(model);
    QVERIFY(h.opened);
    h.show_page(h.ui->page_frequency);
    DebugCapture capture;
    const size_t m = h.mark();
    activate(h.ui->comboBox_region, region);
    check_acked(h, h.since(m), sim::kReqRegionPower, bytes({byte}), 1, 1000);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(lines(capture), (QStringList{QStringLiteral("set power:  %1").arg(byte), "Set Set power done"}));
    QCOMPARE(h.link().groundRfPowerWord() & 0xFF, uint32_t(byte));
    h.ui->comboBox_region->setCurrentIndex(0);
    QTRY_COMPARE(h.ui->comboBox_region->currentIndex(), region);
}

void RadioSettingsTest::configuration_byte_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("sent");
    QTest::addColumn<QString>("name");
    QTest::newRow("ARQ disable") << "radioButton_ARQ_disable" << 0x05 << 0x04 << "SET ARQ ENABLE";
    QTest::newRow("antenna group 1") << "pushButton_antenna_1" << 0x05 << 0x01 << "SET ANTENNA 1";
    QTest::newRow("antenna group 2") << "pushButton_antenna_2" << 0x01 << 0x05 << "SET ANTENNA 2";
    QTest::newRow("ARQ enable") << "radioButton_ARQ_enable" << 0x04 << 0x05 << "SET ARQ ENABLE";
}

void RadioSettingsTest::configuration_byte()
{
    QFETCH(QString, control);
    QFETCH(int, before);
    QFETCH(int, sent);
    QFETCH(QString, name);
    Window h(0, [&](sim::SimUnit& u) {
        // Firmware generation 5 has the antenna group buttons.
        u.configure(sim::SimUnit::GroundUnit, "QL24G0000001", 0x020304, 5, 2, 3, 0x3440);
        u.link().setConfigByte(uint8_t(before));
    });
    QVERIFY(h.opened);
    QVERIFY(h.wait_poll());
    QCOMPARE(int(h.w->pro_config_byte), before);
    DebugCapture capture;
    const size_t m = h.mark();
    if (control == "pushButton_antenna_1") {
        h.show_page(h.ui->page_frequency);
        click(h.ui->pushButton_antenna_1);
    } else if (control == "pushButton_antenna_2") {
        h.show_page(h.ui->page_frequency);
        click(h.ui->pushButton_antenna_2);
    } else {
        // No widget of this name in the layout: reached by a direct call.
        QVERIFY(QMetaObject::invokeMethod(h.w.get(), qPrintable("on_" + control + "_clicked")));
    }
    check_acked(h, h.since(m), sim::kReqConfigByte, bytes({sent}), 1, 2000);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(lines(capture), QStringList{QStringLiteral("Set %1 done").arg(name)});
    // Kept as read until the next poll reads the unit's byte back.
    QTRY_COMPARE(int(h.w->pro_config_byte), sent);
}

void RadioSettingsTest::factory_restore_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("line");
    QTest::newRow("yes") << int(QMessageBox::Yes) << "YES";
    QTest::newRow("no") << int(QMessageBox::No) << "NO";
}

void RadioSettingsTest::factory_restore()
{
    QFETCH(int, answer);
    QFETCH(QString, line);
    Window h(0, [](sim::SimUnit& u) {
        u.link().setConfigByte(0x04);
        u.link().setBaudIndex(0);
    });
    QVERIFY(h.opened);
    QVERIFY(h.wait_poll());
    h.show_page(h.ui->page_config);
    QVERIFY(h.ui->pushButton_restore->isVisible());
    // The question is asked with the poll running; keep it out of the log.
    h.w->poll_timer()->stop();
    BoxAnswerer boxes{QMessageBox::StandardButton(answer)};
    DebugCapture capture;
    const size_t m = h.mark();
    click(h.ui->pushButton_restore);
    QCOMPARE(boxes.seen.size(), 1);
    QCOMPARE(boxes.seen[0].title, QString("restore"));
    QCOMPARE(boxes.seen[0].text, QString("Are you sure you want to restore factory settings?"));
    QCOMPARE(boxes.seen[0].buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(boxes.seen[0].icon, QMessageBox::NoIcon);
    QVERIFY(!boxes.seen[0].parent);
    QVERIFY(boxes.seen[0].flags & Qt::MSWindowsFixedSizeDialogHint);
    if (answer == QMessageBox::No) {
        QVERIFY2(h.since(m).empty(), qPrintable(describe(h.since(m))));
        QCOMPARE(lines(capture), QStringList{"NO"});
        QCOMPARE(int(h.link().baudIndex()), 0);
        return;
    }
    check_acked(h, h.since(m), sim::kReqConfigByte, bytes({0x06}), 1, 2000);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(lines(capture), (QStringList{"Set SET ARQ ENABLE done", line}));
    // The unit is back at its defaults, and the next poll shows it.
    QCOMPARE(int(h.link().baudIndex()), 2);
    QTRY_COMPARE(h.ui->comboBox_RadioRate->currentIndex(), 2);
}

void RadioSettingsTest::antenna_selection_data()
{
    QTest::addColumn<int>("reported");
    QTest::addColumn<QString>("slot");
    QTest::addColumn<int>("sent");
    QTest::addColumn<bool>("acked");
    QTest::addColumn<QString>("failure");
    QTest::newRow("disable automatic") << 0x11 << "on_radioButton_diable_antenna_clicked" << 0x10 << true << "";
    QTest::newRow("first antenna") << 0x11 << "on_radioButton_antenna_0_clicked" << 0x01 << false
                                   << "disable antenna  failed";
    QTest::newRow("second antenna") << 0x00 << "on_radioButton_antenna_1_clicked" << 0x10 << false
                                    << "disable antenna  failed";
    QTest::newRow("enable automatic") << 0x10 << "on_radioButton_enable_antenna_clicked" << 0x11 << false
                                      << "enable antenna failed";
}

void RadioSettingsTest::antenna_selection()
{
    QFETCH(int, reported);
    QFETCH(QString, slot);
    QFETCH(int, sent);
    QFETCH(bool, acked);
    QFETCH(QString, failure);
    Window h(0, [&](sim::SimUnit& u) { u.link().setAntennaByte(uint8_t(reported)); });
    QVERIFY(h.opened);
    QVERIFY(h.wait_poll());
    QCOMPARE(int(h.w->kept_dev_status()[60]), reported);
    // The unit refuses, so the failure line of each style shows.
    h.link().rejectNextSettings(1);
    DebugCapture capture;
    const size_t m = h.mark();
    QVERIFY(QMetaObject::invokeMethod(h.w.get(), qPrintable(slot)));
    if (acked) {
        check_acked(h, h.since(m), sim::kReqAntenna, bytes({sent}), 1, 1000);
        QCOMPARE(lines(capture), QStringList{"Set disable antenna failed"});
    } else {
        check_quick(h, h.since(m), sim::kReqAntenna, bytes({sent}), 1000);
        QCOMPARE(lines(capture), QStringList{failure});
    }
}

void RadioSettingsTest::unconfirmed_setting_times_out()
{
    Window h;
    QVERIFY(h.opened);
    h.link().ignoreNextSettings(1);
    DebugCapture capture;
    const size_t m = h.mark();
    h.w->on_comboBox_uplink_activated(2);
    check_acked(h, h.since(m), sim::kReqUplinkMode, bytes({2}), 3, 1000);
    QCOMPARE(lines(capture), QStringList{"Set Set UPLINK MODE timeout"});
}

void RadioSettingsTest::widgetless_settings_data()
{
    QTest::addColumn<WindowSetup>("action");
    QTest::addColumn<int>("request");
    QTest::addColumn<int>("sent");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("bandwidth")
        << WindowSetup([](Window& h) { h.w->on_comboBox_bandwidth_activated(0x102); }) << int(sim::kReqBandwidth)
        << 2 << QStringList{"set bandwidth:  2", "Set Set channel bandwidth done"};
    QTest::newRow("TDD up") << WindowSetup([](Window& h) { h.w->on_radioButton_up_mode_clicked(); })
                            << int(sim::kReqTddRatio) << 1
                            << QStringList{"set bandwidth:  1", "Set Set TDD Ratio done"};
    QTest::newRow("TDD down") << WindowSetup([](Window& h) { h.w->on_radioButton_down_mode_clicked(); })
                              << int(sim::kReqTddRatio) << 0
                              << QStringList{"set bandwidth:  0", "Set Set TDD Ratio done"};
}

void RadioSettingsTest::widgetless_settings()
{
    QFETCH(WindowSetup, action);
    QFETCH(int, request);
    QFETCH(int, sent);
    QFETCH(QStringList, expected);
    Window h;
    QVERIFY(h.opened);
    DebugCapture capture;
    const size_t m = h.mark();
    action(h);
    check_acked(h, h.since(m), uint8_t(request), bytes({sent}), 1, 1000);
    QCOMPARE(lines(capture), expected);
}

void RadioSettingsTest::test_mode_word()
{
    Window h;
    QVERIFY(h.opened);
    DebugCapture capture;
    size_t m = h.mark();
    h.w->on_TestMode_clicked(true);
    auto after = h.since(m);
    QVERIFY2(after.size() == 1, qPrintable(describe(after)));
    QCOMPARE(int(after[0].bRequest), int(sim::kReqTestMode));
    QCOMPARE(data_of(after[0]), bytes({0, 0, 0, 0x80}));
    QVERIFY(h.w->poll_timer()->isActive());

    m = h.mark();
    h.w->on_comboBox_test_downlink_activated(9);
    after = h.since(m);
    QVERIFY2(after.size() == 1, qPrintable(describe(after)));
    QCOMPARE(data_of(after[0]), bytes({0, 0, 0xC0, 0x80}));

    m = h.mark();
    h.w->on_comboBox_test_downlink_activated(11);
    QVERIFY(h.since(m).empty());

    m = h.mark();
    h.w->on_TestMode_clicked(false);
    after = h.since(m);
    QVERIFY2(after.size() == 1, qPrintable(describe(after)));
    QCOMPARE(data_of(after[0]), bytes({0, 0, 0xC0, 0}));
    QCOMPARE(lines(capture), (QStringList{"index 9", "index 11", "downlink error"}));
    QCOMPARE(h.link().testWord(), (std::array<uint8_t, 4>{0, 0, 0xC0, 0}));
}

void RadioSettingsTest::nothing_sent_without_device()
{
    // A unit is on the bus but the window never opened it: every setting
    // must leave the bus alone and the poll timer untouched.
    auto unit = testsupport::make_ground_unit();
    auto dev = testsupport::plug(unit);
    auto w = std::make_unique<Wireless_Video_Link>();
    w->show();
    BoxAnswerer boxes(QMessageBox::Yes);
    DebugCapture capture;
    auto* ui = w->form();
    activate(ui->comboBox_downlink, 2);
    activate(ui->comboBox_region, 1);
    w->set_FreqHop(true);
    w->on_radioButton_antenna_0_clicked();
    w->on_radioButton_antenna_1_clicked();
    w->on_radioButton_enable_antenna_clicked();
    w->on_radioButton_diable_antenna_clicked();
    w->on_radioButton_ARQ_enable_clicked();
    w->on_radioButton_ARQ_disable_clicked();
    w->on_pushButton_antenna_1_clicked();
    w->on_pushButton_antenna_2_clicked();
    w->on_comboBox_bandwidth_activated(1);
    w->on_radioButton_up_mode_clicked();
    w->on_comboBox_uplink_activated(1);
    w->on_TestMode_clicked(true);
    w->on_comboBox_test_downlink_activated(3);
    w->on_spinBox_power_editingFinished();
    ui->stackedWidget->setCurrentWidget(ui->page_config);
    click(ui->pushButton_restore);
    QCOMPARE(boxes.seen.size(), 1);
    QVERIFY(dev->log().empty());
    QVERIFY(!w->poll_timer()->isActive());
    for (const QString& line : lines(capture))
        QVERIFY2(!line.startsWith("Set ") && !line.endsWith("failed"), qPrintable(line));
    QVERIFY(capture.contains("YES"));
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    testsupport::init_resources();
    RadioSettingsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_radio_settings.moc"
