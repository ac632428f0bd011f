// Settings, one row each: the command channel's rules through the window's
// entry points, then every control (the user's act, the unit's answer, the
// exact requests, the waits, the debug lines, the result strip, what the
// next poll shows), then the encryption panel. Payload bytes are tested in
// tst_records, transfer faults in tst_fault_matrix. Waits are recorded,
// never waited; "+" marks one during which the poll was running.
#include "settings_harness.h"
#include "ui_wireless_video_link.h" // the test's own uic run needs it named here

#include "encry_form.h"
#include "poll_control.h"
#include "request_codes.h"

#include <QSignalSpy>
#include <QTranslator>

using namespace harness;
using testsupport::DebugCapture;

using Unit = std::function<void(sim::SimUnit&)>;
using Act = std::function<void(Window&)>;
Q_DECLARE_METATYPE(Unit)
Q_DECLARE_METATYPE(Act)

namespace {

// What the result strip says, by a letter of the tables.
QString strip(const QString& code)
{
    static const QStringList texts{
        "Setting confirmed by the unit.", "Setting sent to the unit.",
        "The unit rejected the setting; it keeps its previous value, which the page shows again at the next reading.",
        "The unit did not confirm the setting in time; the page shows what it reports.",
        "The setting did not reach the unit.", "Not sent: no unit is connected.", "Not sent: an upgrade is running."};
    return code.isEmpty() ? QString() : texts.value(QString("CSRUFNL").indexOf(code));
}

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
    return [=](Window& h) { show(h, page); activate(h.w->findChild<QComboBox*>(box), index); };
}
Act press(const QString& page, const QString& button)
{
    return [=](Window& h) { show(h, page); click(h.w->findChild<QAbstractButton*>(button)); };
}
Act then(Act first, Act second)
{
    return [=](Window& h) { first(h); second(h); };
}
const Act refuse = [](Window& h) { h.link().rejectNextSettings(); };
const Act ignore = [](Window& h) { h.link().ignoreNextSettings(); };
const Act stop = [](Window& h) { h.w->poll_timer()->stop(); };

// Region and power (C2) straight through the window's entry points.
Act region(const QString& how)
{
    return [=](Window& h) {
        const unsigned char payload = 0x3C;
        if (how.startsWith("quick"))
            h.w->quick_handshake(req::RegionPower, &payload, 1, "no luck", 200, how == "quick");
        else
            QCOMPARE(h.w->send_set_command(&payload, 1, req::RegionPower, "region", how == "acked", 100), 0);
    };
}

const Unit plain = [](sim::SimUnit&) {};
Unit model(int index)
{
    return [=](sim::SimUnit& u) { u.setModelIndex(index); };
}
Unit with(std::function<void(sim::LinkSettings&)> f)
{
    return [=](sim::SimUnit& u) { u.link().updateSettings(f); };
}
// Firmware generation (hardware variant) 5 has the antenna group buttons.
Unit generation(int variant, int config = 0x01)
{
    return [=](sim::SimUnit& u) {
        u.configure(sim::SimUnit::GroundUnit, "QL24G0000001", 0x020304, variant, 2, 3, 0x3440);
        u.link().updateSettings([&](sim::LinkSettings& s) { s.setConfigByte(uint8_t(config)); });
    };
}

// Keys with spaces and symbols, as a user may type them.
QString chars(int n)
{
    return QString("A b#C d$E f%G h&I j*K l(M n)O p=Q r?S t!U v~W x@Y z^").repeated(2).left(n);
}

// The encryption panel, driven by steps: "click128", "click256",
// "report<n>", "status<n>", "type:<n>", "fill:<n>" (set without typing),
// "set".
struct Panel
{
    Encry_Form* form;
    QRadioButton* aes128 = form->findChild<QRadioButton*>("radioButton_AES128");
    QRadioButton* aes256 = form->findChild<QRadioButton*>("radioButton_AES256");
    QLineEdit* key = form->findChild<QLineEdit*>("lineEdit_encry");
    QAbstractButton* set = form->findChild<QAbstractButton*>("pushButton_encry");
    void steps(const QString& list)
    {
        for (const QString& s : list.split(' ')) {
            if (s.startsWith("click"))
                click(s == "click128" ? aes128 : aes256);
            else if (s.startsWith("report"))
                form->set_encry_mode(s.mid(6).toInt());
            else if (s.startsWith("status"))
                form->set_encry_status(s.mid(6).toInt());
            else if (s.startsWith("type:"))
                QTest::keyClicks(key, chars(s.mid(5).toInt()));
            else if (s.startsWith("fill:"))
                key->setText(chars(s.mid(5).toInt()));
            else if (s == "set")
                QTest::mouseClick(set, Qt::LeftButton);
        }
    }
};

Act from_panel(const QString& steps)
{
    return [=](Window& h) {
        // The layout keeps the panel hidden; it is used as it would show.
        show(h, "page_config");
        h.ui->widget_encry->show();
        Panel{h.ui->widget_encry}.steps(steps);
        // Choosing a mode leaves the live display running.
        QVERIFY(h.w->poll_timer()->isActive());
    };
}

// The key request: mode, three pad bytes, the key, zeros up to 36 bytes.
QString key_wire(int mode, const QString& key)
{
    QByteArray payload(36, 0);
    payload[0] = char(mode);
    payload.replace(4, key.size(), key.toLatin1());
    return "ED:" + payload.toHex() + " F8";
}

} // namespace

class RadioSettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { testsupport::reset_bus(); }
    void cleanup() { testsupport::reset_bus(); }

    // Steps: c/d connect/disconnect, S/s setting pause/resume, U/u upgrade,
    // P/p pairing. The poll runs exactly while connected and nothing holds
    // it; each holder resumes only its own reason.
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
            const auto reason = PollControl::Reason(QString("SsUuPp").indexOf(c) / 2);
            if (c == 'c' || c == 'd')
                poll.set_connected(c == 'c');
            else if (c.isUpper())
                poll.pause(reason);
            else
                poll.resume(reason);
        }
        QCOMPARE(timer.isActive(), running);
        QCOMPARE(timer.interval(), 1000);
    }

    // "wire|waits|debug lines apart by /|strip letter|after": what the
    // next poll shows, or "stopped" for a poll that must have stopped.
    void setting_data()
    {
        QTest::addColumn<Unit>("unit");
        QTest::addColumn<Act>("act");
        QTest::addColumn<QString>("expect");
        auto row = [](const char* name, Act act, const QString& expect, Unit unit = plain) {
            QTest::newRow(name) << unit << act << expect;
        };
        const QString F = "page_frequency", C = "page_config", T = "test";
        auto freq = [&](int index) { return pick(F, "comboBox_freq", index); };

        // The channel: status reads 400 ms apart, at most three, then the
        // settle time; no acknowledgement asked, the settle time alone.
        const Act acked = region("acked");
        row("done at once", acked, "C2:3c F8|400 100|Set region done|C|");
        row("rejected: stops at once", then(refuse, acked), "C2:3c F8|400 100|Set region failed|R|");
        row("silent: three reads", then(ignore, acked), "C2:3c F8 F8 F8|400 400 400 100|Set region timeout|U|");
        row("unknown answer", then([](Window& h) { h.link().answerNextSettingsWith(0x80); }, acked),
            "C2:3c F8 F8 F8|400 400 400 100|Set region unknow error|U|");
        row("done on the third read", then([](Window& h) { h.link().setStatusReadsUntilDone(3); }, acked),
            "C2:3c F8 F8 F8|400 400 400 100|Set region done|C|");
        row("no acknowledgement asked", region("unacked"), "C2:3c|100||S|");
        row("no unit", then([](Window& h) { h.w->open_device(false); }, acked), "||Released Interface|N|stopped");
        row("during an upgrade", then([](Window& h) { h.w->poll_control()->pause(PollControl::Upgrade); }, acked),
            "|||L|stopped");
        // The unit gone during the settle time: the poll stays stopped.
        row("unplugged in the settle time", then([](Window& h) {
                WaitLog::during() = [&h, seen = WaitLog::during()](int ms) {
                    seen(ms);
                    sim::VirtualBus::instance().unplug(h.dev);
                    h.w->deal_dev_disconnected(); // as the watcher would
                };
            }, region("unacked")), "C2:3c|100|Released Interface|S|stopped");
        // The quick handshake: one status read 300 ms later; the failure
        // text unless done.
        row("quick, done", region("quick"), "C2:3c F8|300 200||C|");
        row("quick, rejected", then(refuse, region("quick")), "C2:3c F8|300 200|no luck|R|");
        row("quick, not yet", then(ignore, region("quick")), "C2:3c F8|300 200|no luck|U|");
        // Left to the caller: the poll goes on, or stays stopped, as it was.
        row("quick, no pause", region("quick-no-pause"), "C2:3c F8|300+ 200+||C|");
        row("quick, no pause, stopped", then(stop, region("quick-no-pause")), "C2:3c F8|300 200||C|stopped");

        // Frequency: 4 bytes of MHz, one status read 300 ms later.
        row("frequency 2412", freq(0), "C0:6c090000 F8|300 1300|set freq: 2412|C|label_FREQ=2412");
        row("frequency 2390", freq(14), "C0:56090000 F8|300 1300|set freq: 2390|C|label_FREQ=2390");
        row("frequency 2495", freq(15), "C0:bf090000 F8|300 1300|set freq: 2495|C|label_FREQ=2495");
        row("frequency 5805", freq(6), "C0:ad160000 F8|300 1300|set freq: 5805|C|label_FREQ=5805", model(12));
        row("frequency 1485", freq(6), "C0:cd050000 F8|300 1300|set freq: 1485|C|label_FREQ=1485", model(4));
        // Variant 4 lacks channel 7: plugged in three times, the list is
        // the same each time, and the entry after the gap sends its MHz.
        row("variant 4, channel 8", [](Window& h) {
                for (int plugs = 0; plugs < 3; ++plugs) {
                    h.w->open_device(false);
                    QCOMPARE(h.w->open_device(true), 0);
                    QCOMPARE(h.ui->comboBox_freq->count(), 15);
                    QCOMPARE(h.ui->comboBox_freq->findText("Channel 7 (2442MHz)"), -1);
                }
                DebugCapture().clear(); // the reconnections' lines
                pick("page_frequency", "comboBox_freq", h.ui->comboBox_freq->findText("Channel 8 (2447MHz)"))(h);
            }, QString("E3 E0 E1 ").repeated(3) + "C0:8f090000 F8|300 1300|set freq: 2447|C|label_FREQ=2447",
            generation(4));
        // The poll would set the band back; stopped, nothing is sent.
        row("frequency: index past the list", then(stop, [](Window& h) { emit h.ui->comboBox_freq->activated(16); }),
            "||set freq error/set freq: 0||");
        row("frequency: unknown band", then(stop, [](Window& h) {
                h.w->band_code = 0;
                emit h.ui->comboBox_freq->activated(0);
            }), "||set freq error/set freq: 0||");
        row("hopping on", press(F, "pushButton_auto"), "CA:01 F8|300 1300||C|comboBox_freq!=disabled",
            with([](sim::LinkSettings& s) { s.frequencyMode = 0; }));
        row("hopping off", press(F, "pushButton_manual"), "CA:00 F8|300 1300||C|comboBox_freq!=enabled",
            with([](sim::LinkSettings& s) { s.frequencyMode = 1; }));
        // Called by the pairing: the list and the poll are left alone.
        row("hopping refused, from code", then(refuse, [](Window& h) {
                h.ui->comboBox_freq->setEnabled(true);
                h.w->set_FreqHop(true);
            }), "CA:01 F8|300+|set freq_hop failed|R|comboBox_freq!=enabled");

        // Downlink: entries of the trimmed list map to rate codes.
        row("downlink entry 2", pick(C, "comboBox_downlink", 2), "C4:03 F8|300 2300|index 3|C|comboBox_downlink=2");
        row("downlink entry 6", pick(C, "comboBox_downlink", 6), "C4:08 F8|300 2300|index 8|C|comboBox_downlink=6");
        row("downlink refused", then(refuse, pick(C, "comboBox_downlink", 1)),
            "C4:01 F8|300 2300|index 1/set downlink failed|R|");

        // Region and power in one byte, acknowledged.
        row("region GITEIK, 33 with offset", pick(F, "comboBox_region", 2),
            "C2:5f F8|400 1000|set power:  95/Set Set power done|C|comboBox_region=2", model(24));
        row("region CE, 28", pick(F, "comboBox_region", 1),
            "C2:3c F8|400 1000|set power:  60/Set Set power done|C|comboBox_region=1");

        // The configuration byte as last reported, with one bit changed.
        row("antenna group 1", press(F, "pushButton_antenna_1"),
            "A0:01 F8|400 2000|Set SET ANTENNA 1 done|C|pushButton_antenna_1=on", generation(5, 0x05));
        row("antenna group 2", press(F, "pushButton_antenna_2"),
            "A0:05 F8|400 2000|Set SET ANTENNA 2 done|C|pushButton_antenna_2=on", generation(5, 0x01));
        row("ARQ off", press(T, "radioButton_ARQ_disable"), "A0:04 F8|400 2000|Set SET ARQ ENABLE done|C|",
            generation(5, 0x05));
        row("ARQ on", press(T, "radioButton_ARQ_enable"), "A0:05 F8|400 2000|Set SET ARQ ENABLE done|C|",
            generation(5, 0x04));
        // Factory restore asks first (no parent, fixed size, Enter means No).
        const Unit restorable = with([](sim::LinkSettings& s) { s.setConfigByte(0x04); s.baudIndex = 0; });
        auto restore = [](QMessageBox::StandardButton reply, bool enter = false) {
            return Act([=](Window& h) {
                h.w->poll_timer()->stop(); // the question's event loop would poll
                BoxAnswerer boxes(reply);
                boxes.enter = enter;
                press("page_config", "pushButton_restore")(h);
                QCOMPARE(boxes.texts(), QStringList{"restore: Are you sure you want to restore factory settings?"});
                QCOMPARE(boxes.seen[0].buttons, QMessageBox::Yes | QMessageBox::No);
                QVERIFY(!boxes.seen[0].parent && (boxes.seen[0].flags & Qt::MSWindowsFixedSizeDialogHint));
            });
        };
        row("factory restore", restore(QMessageBox::Yes),
            "A0:06 F8|400 2000|Set SET ARQ ENABLE done/YES|C|comboBox_RadioRate=2", restorable);
        row("factory restore declined", restore(QMessageBox::No), "||NO||", restorable);
        row("factory restore: Enter means No", restore(QMessageBox::Yes, true), "||NO||", restorable);

        // Antennas, from the byte the unit last reported; refused, so that
        // each control's failure line shows.
        auto antenna = [](int byte) { return with([=](sim::LinkSettings& s) { s.antennaByte = uint8_t(byte); }); };
        row("automatic antenna off", then(refuse, press(T, "radioButton_diable_antenna")),
            "EA:10 F8|400 1000|Set disable antenna failed|R|", antenna(0x11));
        row("first antenna", then(refuse, press(T, "radioButton_antenna_0")),
            "EA:01 F8|300 1000|disable antenna  failed|R|", antenna(0x11));
        row("second antenna", then(refuse, press(T, "radioButton_antenna_1")),
            "EA:10 F8|300 1000|disable antenna  failed|R|", antenna(0x00));
        row("second antenna, automatic kept", press(T, "radioButton_antenna_1"), "EA:11 F8|300 1000||C|",
            antenna(0x11));
        row("automatic antenna on", then(refuse, press(T, "radioButton_enable_antenna")),
            "EA:11 F8|300 1000|enable antenna failed|R|", antenna(0x10));

        // The technician's controls on the test page.
        const QString bandwidth = "C6:02 F8|400 1000|set bandwidth:  2/Set Set channel bandwidth done|C|";
        row("bandwidth entry 2", pick(T, "comboBox_bandwidth", 2), bandwidth);
        row("bandwidth index cut to a byte", [](Window& h) { h.w->on_comboBox_bandwidth_activated(0x102); }, bandwidth);
        row("TDD up", press(T, "radioButton_up_mode"), "C8:01 F8|400 1000|set bandwidth:  1/Set Set TDD Ratio done|C|");
        row("TDD down", press(T, "radioButton_down_mode"),
            "C8:00 F8|400 1000|set bandwidth:  0/Set Set TDD Ratio done|C|");
        row("uplink entry 3", pick(T, "comboBox_uplink", 3), "D4:03 F8|400 1000|Set Set UPLINK MODE done|C|");
        row("uplink unconfirmed", then(ignore, pick(T, "comboBox_uplink", 2)),
            "D4:02 F8 F8 F8|400 400 400 1000|Set Set UPLINK MODE timeout|U|");
        // The test-mode word: rate in byte 2, on/off in bit 31, unconfirmed.
        row("test mode word", [](Window& h) {
                press("test", "TestMode")(h);
                pick("test", "comboBox_test_downlink", 9)(h);
                h.w->on_comboBox_test_downlink_activated(11);
                press("test", "TestMode")(h);
            }, "E8:00000080 E8:0000c080 E8:0000c000||index 9/index 11/downlink error|S|");
        row("test downlink entries", [](Window& h) {
                for (int entry : {1, 4, 8, 10})
                    pick("test", "comboBox_test_downlink", entry)(h);
            }, "E8:00001000 E8:00004000 E8:00008000 E8:0000f000||index 1/index 4/index 8/index 10|S|");

        // The Configure page's interfaces.
        row("baud 57600", pick(C, "comboBox_RadioRate", 1), "CD:01 F8|300 1000||C|comboBox_RadioRate=1");
        row("baud 9600", pick(C, "comboBox_RadioRate", 0), "CD:00 F8|300 1000||C|comboBox_RadioRate=0");
        row("baud refused", then(refuse, pick(C, "comboBox_RadioRate", 1)),
            "CD:01 F8|300 1000|set COM baundrate failed|R|comboBox_RadioRate=2");
        const Unit sbus = with([](sim::LinkSettings& s) { s.rcMode = 0; });
        const Unit ppm = with([](sim::LinkSettings& s) { s.rcMode = 1; });
        row("PPM", press(C, "radioButton_ppm"), "EB:01 F8|300 1000||C|radioButton_ppm=on", sbus);
        row("S.Bus", press(C, "radioButton_sbus"), "EB:00 F8|300 1000||C|radioButton_sbus=on", ppm);
        row("PPM refused", then(refuse, press(C, "radioButton_ppm")),
            "EB:01 F8|300 1000|set ppm  failed|R|radioButton_ppm=off", sbus);
        row("S.Bus refused", then(refuse, press(C, "radioButton_sbus")),
            "EB:00 F8|300 1000|set sbus  failed|R|radioButton_sbus=off", ppm);
        // The datalink setting asks for no acknowledgement.
        row("datalink USB", press(C, "radioButton_usb"), "EE:5a|1000||S|radioButton_usb=on",
            with([](sim::LinkSettings& s) { s.setFlag(sim::kFlagDatalinkUsb, false); }));
        row("datalink UART", press(C, "radioButton_uart"), "EE:a5|1000||S|radioButton_uart=on",
            with([](sim::LinkSettings& s) { s.setFlag(sim::kFlagDatalinkUsb, true); }));
        // The identity row shows with the multi settings (antenna group 2).
        auto identity = [](bool observer) {
            return with([=](sim::LinkSettings& s) { s.setConfigByte(0x05); s.setFlag(sim::kFlagObserver, !observer); });
        };
        row("Observer", press(C, "radioButton_RO"),
            "F0:01 F8|400 2000|Set ground send and recv done|C|radioButton_RO=on", identity(true));
        row("Pilot refused", then(refuse, press(C, "radioButton_RT")),
            "F0:00 F8|400 2000|Set ground send and recv failed|R|", identity(false));

        // Link encryption: the panel's key, checked again by the window.
        const Unit encrypted = with([](sim::LinkSettings& s) { s.setEncryption(true, 0); });
        row("AES256 key from the panel", from_panel("click256 type:32 set"),
            key_wire(1, chars(32)) + "|400 2000|Set encrypmt key done|C|radioButton_AES256=on", encrypted);
        row("AES128 key from the panel", from_panel("click128 type:16 set"),
            key_wire(0, chars(16)) + "|400 2000|Set encrypmt key done|C|", encrypted);
        row("accented letters", [](Window& h) {
                BoxAnswerer boxes(QMessageBox::Yes);
                h.w->on_set_encrypt_key(chars(30) + QString::fromUtf8("éü"));
                QCOMPARE(boxes.texts(), QStringList{"warning: The key may only contain printable ASCII characters"});
            }, "||key character invalid||", encrypted);
        row("20 characters", [](Window& h) { h.w->on_set_encrypt_key(chars(20)); }, "||key length invalid||",
            encrypted);
        row("encryption on: nothing to send", [](Window& h) { emit h.ui->widget_encry->enable_encry(true); }, "||||",
            encrypted);
        row("encryption off", [](Window& h) { emit h.ui->widget_encry->enable_encry(false); },
            "EF:00 F8|400 2000|Set disable encry done|C|", encrypted);
    }
    void setting()
    {
        QFETCH(Unit, unit);
        QFETCH(Act, act);
        QFETCH(QString, expect);
        const QStringList e = expect.split('|');
        Window h(0, unit);
        QVERIFY(h.opened);
        h.w->poll_status(); // the unit's state in the window
        // No tick of its own within the row, however slow the machine (a
        // question box's event loop would run it); soon after it.
        h.w->poll_timer()->setInterval(3600 * 1000);
        WaitLog waits; // recorded, "+" where the poll went on meanwhile
        QStringList seen;
        WaitLog::during() = [&](int ms) { seen << QString::number(ms) + (h.w->poll_timer()->isActive() ? "+" : ""); };
        DebugCapture capture;
        const size_t m = h.mark();
        act(h);
        if (QTest::currentTestFailed())
            return;
        h.w->poll_timer()->setInterval(20);
        QCOMPARE(wire(h.since(m)), e[0]);
        // Every request of a setting: vendor type, no value or index, 2 s
        // (the identity reads of a reconnection aside).
        for (const sim::Transfer& t : h.since(m))
            QVERIFY2((t.bRequest >= 0xE0 && t.bRequest <= 0xE3)
                         || (t.bmRequestType == (t.bRequest == sim::kReqCommandStatus ? kIn : kOut) && t.wValue == 0
                             && t.wIndex == 0 && t.timeout_ms == 2000u),
                     qPrintable(QString::number(t.bRequest, 16)));
        QCOMPARE(seen.join(' '), e[1]);
        QCOMPARE(lines(capture), e[2].split('/', Qt::SkipEmptyParts));
        QCOMPARE(h.w->findChild<QLabel*>("label_setting_result")->text(), strip(e[3]));
        if (e[4] == "stopped")
            QVERIFY(!h.w->poll_timer()->isActive());
        else if (!e[0].isEmpty())
            QVERIFY(h.w->poll_timer()->isActive());
        const QString after = e[4] == "stopped" ? "" : e[4];
        QTRY_VERIFY2(mismatches(h.w.get(), after).isEmpty(), qPrintable(mismatches(h.w.get(), after)));
    }

    // A unit on the bus that the window never opened: every setting slot
    // (the pairing's aside) leaves the bus and the poll alone.
    void nothing_sent_without_device()
    {
        auto dev = testsupport::plug();
        auto w = std::make_unique<Wireless_Video_Link>();
        w->show();
        BoxAnswerer boxes(QMessageBox::Yes);
        DebugCapture capture;
        const QMetaObject* mo = w->metaObject();
        const int first = mo->indexOfSlot("on_comboBox_freq_activated(int)");
        const int last = mo->indexOfSlot("on_set_encrypt_enable(bool)");
        QVERIFY(first > 0 && last > first + 30);
        for (int i = first; i <= last; ++i) {
            const QMetaMethod m = mo->method(i);
            const int type = m.parameterCount() ? m.parameterType(0) : int(QMetaType::Void);
            if (m.name().toLower().contains("bind")) // the pairing: tst_pairing's
                continue;
            const bool ok = type == QMetaType::Int    ? m.invoke(w.get(), Q_ARG(int, 1))
                            : type == QMetaType::Bool ? m.invoke(w.get(), Q_ARG(bool, true))
                            : type == QMetaType::QString ? m.invoke(w.get(), Q_ARG(QString, chars(16)))
                                                         : m.invoke(w.get());
            QVERIFY2(ok, m.methodSignature());
        }
        QCOMPARE(boxes.seen.size(), 1);
        QVERIFY(dev->log().empty());
        QVERIFY(!w->poll_timer()->isActive());
        for (const QString& line : lines(capture))
            QVERIFY2(!line.startsWith("Set ") && !line.endsWith("failed"), qPrintable(line));
        QVERIFY(capture.contains("YES") && capture.contains("set freq: 2417"));
    }

    // The panel's rules for modes and keys: the mode signals, the length of
    // the key signalled (-1 none), the warning, the mode checked (0 none, the
    // field read-only) and the length of the field's text.
    void panel_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("expect"); // "signals sent checked length|warning"
        QTest::newRow("no mode: typing refused, set does nothing") << "type:5 set" << "0 -1 0 0";
        QTest::newRow("no mode: a key already there is not sent") << "fill:16 set" << "0 -1 0 16";
        QTest::newRow("AES128, 16") << "click128 type:16 set" << "1 16 128 16";
        QTest::newRow("AES128, 15") << "click128 type:15 set" << "1 -1 128 15|Key length must be 16";
        QTest::newRow("AES128, empty") << "click128 set" << "1 -1 128 0|Key length must be 16";
        QTest::newRow("AES128, 17th refused") << "click128 type:17" << "1 -1 128 16";
        QTest::newRow("AES256, 32") << "click256 type:32 set" << "1 32 256 32";
        QTest::newRow("AES256, 31") << "click256 type:31 set" << "1 -1 256 31|Key length must be 32";
        QTest::newRow("AES256, 16") << "click256 type:16 set" << "1 -1 256 16|Key length must be 32";
        QTest::newRow("AES256, 33rd refused") << "click256 type:33" << "1 -1 256 32";
        QTest::newRow("unit mode 0, 16") << "report0 type:16 set" << "0 16 128 16";
        QTest::newRow("unit mode 1, 32") << "report1 type:32 set" << "0 32 256 32";
        QTest::newRow("unit mode 1, 20") << "report1 type:20 set" << "0 -1 256 20|Key length must be 32";
        QTest::newRow("unit mode 2: none") << "report2" << "0 -1 0 0";
        QTest::newRow("unit mode -1: none") << "report-1" << "0 -1 0 0";
        QTest::newRow("report, then the user") << "report1 click128" << "1 -1 128 0";
        // The poll goes on while the user types: the unit's report must not
        // undo a choice not yet sent.
        QTest::newRow("the user's choice holds against the report") << "click256 report0" << "1 -1 256 0";
        QTest::newRow("unknown report keeps the choice") << "click256 report7" << "1 -1 256 0";
        QTest::newRow("status reports change nothing") << "status1 status0" << "0 -1 0 0";
    }
    void panel()
    {
        QFETCH(QString, steps);
        QFETCH(QString, expect);
        const QStringList n = expect.section('|', 0, 0).split(' ');
        const QString warning = expect.section('|', 1);
        const int sent = n[1].toInt(), checked = n[2].toInt();
        Encry_Form form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        Panel p{&form};
        BoxAnswerer boxes(QMessageBox::Yes);
        QSignalSpy changed(&form, &Encry_Form::change_encry_mode);
        QSignalSpy keys(&form, &Encry_Form::set_encry);
        QSignalSpy enables(&form, &Encry_Form::enable_encry);
        p.steps(steps);
        QCOMPARE(changed.count(), n[0].toInt());
        QCOMPARE(keys.count(), sent < 0 ? 0 : 1);
        if (sent >= 0)
            QCOMPARE(keys.at(0).at(0).toString(), chars(sent));
        QCOMPARE(enables.count(), 0);
        QCOMPARE(boxes.texts(), warning.isEmpty() ? QStringList() : QStringList{"warning: " + warning});
        if (!warning.isEmpty())
            QCOMPARE(boxes.seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Yes));
        QCOMPARE(p.aes128->isChecked(), checked == 128);
        QCOMPARE(p.aes256->isChecked(), checked == 256);
        QCOMPARE(p.key->isReadOnly(), checked == 0);
        QCOMPARE(p.key->maxLength(), checked == 256 ? 32 : 16);
        QCOMPARE(p.key->text(), chars(n[3].toInt()));
    }

    void panel_painted_and_retranslated()
    {
        Encry_Form form;
        form.setStyleSheet("Encry_Form { background-color: rgb(10, 200, 30); }");
        const QImage img = form.grab().toImage();
        // The bottom-right corner lies in the layout's margin, outside every child.
        QCOMPARE(QColor(img.pixel(img.width() - 2, img.height() - 2)), QColor(10, 200, 30));
        Panel p{&form};
        p.set->setText("changed");
        p.aes128->setText("changed");
        QEvent change(QEvent::LanguageChange);
        QCoreApplication::sendEvent(&form, &change);
        QCOMPARE(p.set->text() + ' ' + p.aes128->text(), QString("Set AES128"));
    }

    // In the window: offered while a unit is connected only; the unit's
    // report moves it without a signal of its own, so nothing is sent back;
    // the key is hidden until shown and its length counted; the warning
    // follows the language.
    void panel_in_the_window()
    {
        Window h(0, with([](sim::LinkSettings& s) { s.setEncryption(true, 1); }));
        QVERIFY(h.opened);
        h.w->poll_timer()->setInterval(20);
        Panel p{h.ui->widget_encry};
        QSignalSpy changes(p.form, &Encry_Form::change_encry_mode);
        h.ui->pushButton_configure->click();
        QVERIFY(h.ui->widget_encry->isVisible());
        QVERIFY(h.wait_poll());
        QVERIFY(p.aes256->isChecked() && !p.key->isReadOnly() && p.key->maxLength() == 32);
        QCOMPARE(changes.count(), 0);
        QVERIFY(h.w->poll_timer()->isActive());

        h.w->poll_timer()->stop();
        click(p.aes128);
        QCOMPARE(p.key->echoMode(), QLineEdit::Password);
        p.key->setText("abc");
        QCOMPARE(h.ui->widget_encry->findChild<QLabel*>("label_key_count")->text(), QString("3/16"));
        h.ui->widget_encry->findChild<QCheckBox*>("checkBox_show_key")->setChecked(true);
        QCOMPARE(p.key->echoMode(), QLineEdit::Normal);

        QTranslator translator;
        QVERIFY(translator.load(":/WirelessVideo_CH.qm"));
        QCoreApplication::installTranslator(&translator);
        BoxAnswerer boxes(QMessageBox::Yes);
        h.w->on_set_encrypt_key(chars(15) + QChar(0xE9));
        QCoreApplication::removeTranslator(&translator);
        QCOMPARE(boxes.texts(), QStringList{QString::fromUtf8("警告: 密码只能包含可打印的ASCII字符")});

        sim::VirtualBus::instance().unplug(h.dev);
        h.w->deal_dev_disconnected();
        QVERIFY(h.ui->widget_encry->isHidden());
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
