// Every setting the window sends, one row each: what the user does on which
// page, the unit's answers, and then the exact requests on the wire, the
// command channel's waits, the debug lines, and what the next poll shows.
// The handshake's own rules (status reads, judgement, paused poll) are
// tested below the window, in tst_command_protocol.
#include "settings_harness.h"
#include "ui_wireless_video_link.h" // the test's own uic run needs it named here

using namespace harness;
using testsupport::DebugCapture;

using Unit = std::function<void(sim::SimUnit&)>;
using Act = std::function<void(Window&)>;
Q_DECLARE_METATYPE(Unit)
Q_DECLARE_METATYPE(Act)

namespace {

void show(Window& h, const QString& page)
{
    if (page == "test")
        h.w->on_test_show_clicked();
    else
        h.ui->stackedWidget->setCurrentWidget(h.w->findChild<QWidget*>(page));
    Window::lay_out();
}

Act pick(const QString& page, const QString& box, int index)
{
    return [=](Window& h) {
        show(h, page);
        activate(h.w->findChild<QComboBox*>(box), index);
    };
}

Act press(const QString& page, const QString& button)
{
    return [=](Window& h) {
        show(h, page);
        click(h.w->findChild<QAbstractButton*>(button));
    };
}

Act call(std::function<void(Wireless_Video_Link&)> f)
{
    return [=](Window& h) { f(*h.w); };
}

// The unit refuses, ignores or answers the next setting so.
Act answer(std::function<void(sim::SimLink&)> f, Act then)
{
    return [=](Window& h) {
        f(h.link());
        then(h);
    };
}
const auto refuse = [](sim::SimLink& l) { l.rejectNextSettings(1); };

const Unit plain = [](sim::SimUnit&) {};
Unit antenna(int byte)
{
    return [=](sim::SimUnit& u) { u.link().setAntennaByte(uint8_t(byte)); };
}
// Firmware generation 5 has the antenna group buttons.
Unit generation5(int config)
{
    return [=](sim::SimUnit& u) {
        u.configure(sim::SimUnit::GroundUnit, "QL24G0000001", 0x020304, 5, 2, 3, 0x3440);
        u.link().setConfigByte(uint8_t(config));
    };
}

} // namespace

class RadioSettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { testsupport::reset_bus(); }
    void cleanup() { testsupport::reset_bus(); }

    void setting_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<Unit>("unit");
        QTest::addColumn<Act>("act");
        QTest::addColumn<QString>("wire");
        QTest::addColumn<QString>("waits");
        QTest::addColumn<QStringList>("debug");
        QTest::addColumn<QString>("after"); // once the poll has run again
        auto row = [](const char* name, int model, Unit unit, Act act, const char* wire, const char* waits,
                      QStringList debug, const char* after) {
            QTest::newRow(name) << model << unit << act << QString(wire) << QString(waits) << debug << QString(after);
        };
        const QString freq = "page_frequency", config = "page_config", test = "test";

        // Frequency: 4 bytes of MHz, one status read 300 ms later.
        row("frequency 2412", 0, plain, pick(freq, "comboBox_freq", 0), "C0:6c090000 F8", "300 1300",
            {"set freq: 2412"}, "label_FREQ=2412");
        row("frequency 2390", 0, plain, pick(freq, "comboBox_freq", 14), "C0:56090000 F8", "300 1300",
            {"set freq: 2390"}, "label_FREQ=2390");
        row("frequency 2495", 0, plain, pick(freq, "comboBox_freq", 15), "C0:bf090000 F8", "300 1300",
            {"set freq: 2495"}, "label_FREQ=2495");
        row("frequency 5805", 12, plain, pick(freq, "comboBox_freq", 6), "C0:ad160000 F8", "300 1300",
            {"set freq: 5805"}, "label_FREQ=5805");
        row("frequency 1485", 4, plain, pick(freq, "comboBox_freq", 6), "C0:cd050000 F8", "300 1300",
            {"set freq: 1485"}, "label_FREQ=1485");
        // The poll would set the band back; stopped, nothing is sent.
        row("frequency: index past the list", 0, plain, call([](Wireless_Video_Link& w) {
                w.poll_timer()->stop();
                emit w.form()->comboBox_freq->activated(16);
            }), "", "", {"set freq error", "set freq: 0"}, "");
        row("frequency: unknown band", 0, plain, call([](Wireless_Video_Link& w) {
                w.poll_timer()->stop();
                w.band_code = 0;
                emit w.form()->comboBox_freq->activated(0);
            }), "", "", {"set freq error", "set freq: 0"}, "");
        row("hopping on", 0, [](sim::SimUnit& u) { u.link().setFrequencyMode(0); }, press(freq, "pushButton_auto"),
            "CA:01 F8", "300 1300", {}, "comboBox_freq!=disabled");
        row("hopping off", 0, [](sim::SimUnit& u) { u.link().setFrequencyMode(1); },
            press(freq, "pushButton_manual"), "CA:00 F8", "300 1300", {}, "comboBox_freq!=enabled");
        // Called by the pairing: the list and the poll are left alone.
        row("hopping refused, from code", 0, plain, answer(refuse, call([](Wireless_Video_Link& w) {
                w.form()->comboBox_freq->setEnabled(true);
                w.set_FreqHop(true);
            })), "CA:01 F8", "300", {"set freq_hop failed"}, "comboBox_freq!=enabled");

        // Downlink: entries of the trimmed list map to rate codes.
        row("downlink entry 2", 0, plain, pick(config, "comboBox_downlink", 2), "C4:03 F8", "300 2300",
            {"index 3"}, "comboBox_downlink=2");
        row("downlink entry 6", 0, plain, pick(config, "comboBox_downlink", 6), "C4:08 F8", "300 2300",
            {"index 8"}, "comboBox_downlink=6");
        row("downlink refused", 0, plain, answer(refuse, pick(config, "comboBox_downlink", 1)), "C4:01 F8",
            "300 2300", {"index 1", "set downlink failed"}, "");

        // Region and power in one byte, acknowledged.
        row("region GITEIK, 33 with offset", 24, plain, pick(freq, "comboBox_region", 2), "C2:5f F8", "400 1000",
            {"set power:  95", "Set Set power done"}, "comboBox_region=2");
        row("region CE, 28", 0, plain, pick(freq, "comboBox_region", 1), "C2:3c F8", "400 1000",
            {"set power:  60", "Set Set power done"}, "comboBox_region=1");

        // The configuration byte: ARQ, antenna group, factory restore.
        row("antenna group 1", 0, generation5(0x05), press(freq, "pushButton_antenna_1"), "A0:01 F8", "400 2000",
            {"Set SET ANTENNA 1 done"}, "pushButton_antenna_1=on");
        row("antenna group 2", 0, generation5(0x01), press(freq, "pushButton_antenna_2"), "A0:05 F8", "400 2000",
            {"Set SET ANTENNA 2 done"}, "pushButton_antenna_2=on");
        row("ARQ off", 0, generation5(0x05), press(test, "radioButton_ARQ_disable"), "A0:04 F8", "400 2000",
            {"Set SET ARQ ENABLE done"}, "");
        row("ARQ on", 0, generation5(0x04), press(test, "radioButton_ARQ_enable"), "A0:05 F8", "400 2000",
            {"Set SET ARQ ENABLE done"}, "");
        const Unit restorable = [](sim::SimUnit& u) {
            u.link().setConfigByte(0x04);
            u.link().setBaudIndex(0);
        };
        auto restore = [](QMessageBox::StandardButton reply) {
            return Act([=](Window& h) {
                h.w->poll_timer()->stop(); // the question's event loop would poll
                BoxAnswerer boxes(reply);
                press("page_config", "pushButton_restore")(h);
                QCOMPARE(boxes.texts(), QStringList{"restore: Are you sure you want to restore factory settings?"});
                QCOMPARE(boxes.seen[0].buttons, QMessageBox::Yes | QMessageBox::No);
                QVERIFY(!boxes.seen[0].parent && (boxes.seen[0].flags & Qt::MSWindowsFixedSizeDialogHint));
            });
        };
        row("factory restore", 0, restorable, restore(QMessageBox::Yes), "A0:06 F8", "400 2000",
            {"Set SET ARQ ENABLE done", "YES"}, "comboBox_RadioRate=2");
        row("factory restore declined", 0, restorable, restore(QMessageBox::No), "", "", {"NO"}, "");

        // Antennas, from the byte the unit last reported; refused, so that
        // each control's failure line shows.
        row("automatic antenna off", 0, antenna(0x11), answer(refuse, press(test, "radioButton_diable_antenna")),
            "EA:10 F8", "400 1000", {"Set disable antenna failed"}, "");
        row("first antenna", 0, antenna(0x11), answer(refuse, press(test, "radioButton_antenna_0")), "EA:01 F8",
            "300 1000", {"disable antenna  failed"}, "");
        row("second antenna", 0, antenna(0x00), answer(refuse, press(test, "radioButton_antenna_1")), "EA:10 F8",
            "300 1000", {"disable antenna  failed"}, "");
        row("second antenna, automatic kept", 0, antenna(0x11), press(test, "radioButton_antenna_1"), "EA:11 F8",
            "300 1000", {}, "");
        row("automatic antenna on", 0, antenna(0x10), answer(refuse, press(test, "radioButton_enable_antenna")),
            "EA:11 F8", "300 1000", {"enable antenna failed"}, "");

        // The technician's controls on the test page.
        row("bandwidth entry 2", 0, plain, pick(test, "comboBox_bandwidth", 2), "C6:02 F8", "400 1000",
            {"set bandwidth:  2", "Set Set channel bandwidth done"}, "");
        row("bandwidth index cut to a byte", 0, plain,
            call([](Wireless_Video_Link& w) { w.on_comboBox_bandwidth_activated(0x102); }), "C6:02 F8", "400 1000",
            {"set bandwidth:  2", "Set Set channel bandwidth done"}, "");
        row("TDD up", 0, plain, press(test, "radioButton_up_mode"), "C8:01 F8", "400 1000",
            {"set bandwidth:  1", "Set Set TDD Ratio done"}, "");
        row("TDD down", 0, plain, press(test, "radioButton_down_mode"), "C8:00 F8", "400 1000",
            {"set bandwidth:  0", "Set Set TDD Ratio done"}, "");
        row("uplink entry 3", 0, plain, pick(test, "comboBox_uplink", 3), "D4:03 F8", "400 1000",
            {"Set Set UPLINK MODE done"}, "");
        row("uplink unconfirmed", 0, plain,
            answer([](sim::SimLink& l) { l.ignoreNextSettings(1); }, pick(test, "comboBox_uplink", 2)),
            "D4:02 F8 F8 F8", "400 400 400 1000", {"Set Set UPLINK MODE timeout"}, "");
        // The test-mode word: rate in byte 2, on/off in bit 31, unconfirmed.
        row("test mode word", 0, plain, [](Window& h) {
                press("test", "TestMode")(h);
                pick("test", "comboBox_test_downlink", 9)(h);
                h.w->on_comboBox_test_downlink_activated(11);
                press("test", "TestMode")(h);
            }, "E8:00000080 E8:0000c080 E8:0000c000", "", {"index 9", "index 11", "downlink error"}, "");
        row("test downlink entries", 0, plain, [](Window& h) {
                for (int entry : {1, 4, 8, 10})
                    pick("test", "comboBox_test_downlink", entry)(h);
            }, "E8:00001000 E8:00004000 E8:00008000 E8:0000f000", "", {"index 1", "index 4", "index 8", "index 10"},
            "");

        // The Configure page's interfaces.
        row("baud 57600", 0, plain, pick(config, "comboBox_RadioRate", 1), "CD:01 F8", "300 1000", {},
            "comboBox_RadioRate=1");
        row("baud 9600", 0, plain, pick(config, "comboBox_RadioRate", 0), "CD:00 F8", "300 1000", {},
            "comboBox_RadioRate=0");
        row("baud refused", 0, plain, answer(refuse, pick(config, "comboBox_RadioRate", 1)), "CD:01 F8",
            "300 1000", {"set COM baundrate failed"}, "comboBox_RadioRate=2");
        const Unit sbus = [](sim::SimUnit& u) { u.link().setRcMode(0); };
        const Unit ppm = [](sim::SimUnit& u) { u.link().setRcMode(1); };
        row("PPM", 0, sbus, press(config, "radioButton_ppm"), "EB:01 F8", "300 1000", {}, "radioButton_ppm=on");
        row("S.Bus", 0, ppm, press(config, "radioButton_sbus"), "EB:00 F8", "300 1000", {}, "radioButton_sbus=on");
        row("PPM refused", 0, sbus, answer(refuse, press(config, "radioButton_ppm")), "EB:01 F8", "300 1000",
            {"set ppm  failed"}, "radioButton_ppm=off");
        row("S.Bus refused", 0, ppm, answer(refuse, press(config, "radioButton_sbus")), "EB:00 F8", "300 1000",
            {"set sbus  failed"}, "radioButton_sbus=off");
        // The datalink setting asks for no acknowledgement.
        row("datalink USB", 0, [](sim::SimUnit& u) { u.link().setDatalinkUsb(false); },
            press(config, "radioButton_usb"), "EE:5a", "1000", {}, "radioButton_usb=on");
        row("datalink UART", 0, [](sim::SimUnit& u) { u.link().setDatalinkUsb(true); },
            press(config, "radioButton_uart"), "EE:a5", "1000", {}, "radioButton_uart=on");
        // The identity row shows with the multi settings (antenna group 2).
        auto identity = [](bool observer) {
            return Unit([=](sim::SimUnit& u) {
                u.link().setConfigByte(0x05);
                u.link().setObserver(!observer);
            });
        };
        row("Observer", 0, identity(true), press(config, "radioButton_RO"), "F0:01 F8", "400 2000",
            {"Set ground send and recv done"}, "radioButton_RO=on");
        row("Observer, done on the third read", 0, identity(true),
            answer([](sim::SimLink& l) { l.setStatusReadsUntilDone(3); }, press(config, "radioButton_RO")),
            "F0:01 F8 F8 F8", "400 400 400 2000", {"Set ground send and recv done"}, "");
        row("Pilot refused", 0, identity(false), answer(refuse, press(config, "radioButton_RT")), "F0:00 F8",
            "400 2000", {"Set ground send and recv failed"}, "");
        row("Pilot, unknown answer", 0, identity(false),
            answer([](sim::SimLink& l) { l.answerNextSettingsWith(0x80); }, press(config, "radioButton_RT")),
            "F0:00 F8 F8 F8", "400 400 400 2000", {"Set ground send and recv unknow error"}, "");
    }

    void setting()
    {
        QFETCH(int, model);
        QFETCH(Unit, unit);
        QFETCH(Act, act);
        QFETCH(QString, wire);
        QFETCH(QString, waits);
        QFETCH(QStringList, debug);
        QFETCH(QString, after);
        Window h(model, unit);
        QVERIFY(h.opened);
        h.w->poll_timer()->setInterval(20); // the next poll sooner
        QVERIFY(h.wait_poll());
        WaitLog log;
        DebugCapture capture;
        const size_t m = h.mark();
        act(h);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(harness::wire(h.since(m)), wire);
        QCOMPARE(log.text(), waits);
        QCOMPARE(lines(capture), debug);
        for (const sim::Transfer& t : h.since(m))
            QCOMPARE(t.timeout_ms, 2000u);
        if (!wire.isEmpty())
            QVERIFY(h.w->poll_timer()->isActive());
        QTRY_VERIFY2(mismatches(h.w.get(), after).isEmpty(), qPrintable(mismatches(h.w.get(), after)));
    }

    // The rate code the unit reports selects its entry of the trimmed
    // list; a code without an entry changes nothing, a neighbour stands in
    // for the two rates the list leaves out.
    void current_downlink_selects_entry_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("entry");
        QTest::newRow("code 8") << 8 << 6;
        QTest::newRow("code 9 changes nothing") << 9 << 4;
        QTest::newRow("code 2 shows its neighbour") << 2 << 2;
        QTest::newRow("code 6 shows its neighbour") << 6 << 4;
    }
    void current_downlink_selects_entry()
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

    // A unit on the bus that the window never opened: every setting leaves
    // the bus and the poll alone.
    void nothing_sent_without_device()
    {
        auto dev = testsupport::plug();
        auto w = std::make_unique<Wireless_Video_Link>();
        w->show();
        BoxAnswerer boxes(QMessageBox::Yes);
        DebugCapture capture;
        auto* ui = w->form();
        activate(ui->comboBox_downlink, 2);
        activate(ui->comboBox_region, 1);
        activate(ui->comboBox_RadioRate, 1);
        emit ui->comboBox_freq->activated(1);
        w->set_FreqHop(true);
        for (const char* slot : {"on_radioButton_antenna_0_clicked", "on_radioButton_antenna_1_clicked",
                                 "on_radioButton_enable_antenna_clicked", "on_radioButton_diable_antenna_clicked",
                                 "on_radioButton_ARQ_enable_clicked", "on_radioButton_ARQ_disable_clicked",
                                 "on_pushButton_antenna_1_clicked", "on_pushButton_antenna_2_clicked",
                                 "on_radioButton_up_mode_clicked", "on_spinBox_power_editingFinished",
                                 "on_pushButton_restore_clicked"})
            QVERIFY2(QMetaObject::invokeMethod(w.get(), slot), slot);
        w->on_comboBox_bandwidth_activated(1);
        w->on_comboBox_uplink_activated(1);
        w->on_TestMode_clicked(true);
        w->on_comboBox_test_downlink_activated(3);
        for (QRadioButton* b : {ui->radioButton_ppm, ui->radioButton_sbus, ui->radioButton_usb,
                                ui->radioButton_uart, ui->radioButton_RO, ui->radioButton_RT})
            b->click();
        QCOMPARE(boxes.seen.size(), 1);
        QVERIFY(dev->log().empty());
        QVERIFY(!w->poll_timer()->isActive());
        for (const QString& line : lines(capture))
            QVERIFY2(!line.startsWith("Set ") && !line.endsWith("failed"), qPrintable(line));
        QVERIFY(capture.contains("YES"));
        QVERIFY(capture.contains("set freq: 2417"));
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    testsupport::init_resources();
    RadioSettingsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_radio_settings.moc"
