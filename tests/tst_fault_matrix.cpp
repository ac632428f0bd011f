// Every request the tool sends, failed in every way the simulated bus can
// fail it, one row each, at the lowest part that shows what the failure
// does: the command channel, the window's reads, the pairing dialog, the
// upgrade engine. Each row checks the requests that went out, the result,
// and that the unit works again (plugged back first when it was pulled
// out); a few go through the whole tool. Timeouts answer at once.
#include "testsupport.h"
#include "fault_support.h"
#include "settings_harness.h"
#include "upgrade_support.h"

#include "binding_dialog.h"
#include "mainpage.h"
#include "poll_control.h"
#include "request_codes.h"
#include "unit_connection.h"

#include <QtCharts/QSplineSeries>

using namespace testsupport;
using namespace upgrade_support;
using Verdict = CommandChannel::Verdict;
using Stage = updateThread::Stage;

namespace {

constexpr int kBulk = sim::SimDevice::kBulk, kUnplug = int(sim::Fault::Unplug), kShort = int(sim::Fault::Short);
const int kFaults[] = {LIBUSB_ERROR_IO, LIBUSB_ERROR_NO_DEVICE, LIBUSB_ERROR_TIMEOUT, LIBUSB_ERROR_PIPE, kShort,
                       kUnplug};

QString fault_name(int f)
{
    return QMap<int, QString>{{-1, "io"}, {-4, "nodevice"}, {-7, "timeout"}, {-9, "pipe"}, {kShort, "short"}}
        .value(f, "unplug");
}

QString code_name(int code) { return code == kBulk ? QString("bulk") : QString::number(code, 16).toUpper(); }
bool fails(int f) { return f != kShort; } // a short answer is no failure
int fault_rc(int f) { return f == kUnplug ? LIBUSB_ERROR_NO_DEVICE : f; } // what the caller gets back

// Every device plugged in the current row (the unit comes back as a new one
// after the MCU2 restart), and the unit whose restart the engine waits for.
std::mutex g_devices_mutex;
std::vector<std::shared_ptr<sim::SimDevice>> g_devices;
std::atomic<sim::SimUnit*> g_restarting_unit{nullptr};

std::shared_ptr<sim::SimDevice> plug_fast(const std::shared_ptr<sim::SimUnit>& unit)
{
    auto dev = sim::VirtualBus::instance().plug(unit);
    dev->setInstantTimeouts(true);
    std::lock_guard<std::mutex> lock(g_devices_mutex);
    g_devices.push_back(dev);
    return dev;
}

// What the row's devices saw after the first `from` transfers, in order.
std::vector<sim::Transfer> transfers(size_t from = 0)
{
    std::vector<sim::Transfer> all;
    std::lock_guard<std::mutex> lock(g_devices_mutex);
    for (const auto& d : g_devices)
        for (const sim::Transfer& t : d->log())
            all.push_back(t);
    std::stable_sort(all.begin(), all.end(), [](auto& a, auto& b) { return a.t_us < b.t_us; });
    return {all.begin() + long(std::min(from, all.size())), all.end()};
}

// As tokens: code, "=xx" for a one-byte OUT payload, "!" when it failed.
QString wire_since(size_t from) { return tokens(transfers(from)).join(' '); }

// A unit on the bus with a connection open on it.
struct Rig
{
    std::shared_ptr<sim::SimUnit> unit = make_ground_unit();
    std::shared_ptr<sim::SimDevice> dev = plug_fast(unit);
    UnitConnection conn;
    bool open() { return conn.open() == 0; }
    // After an unplug the close still finishes; plugged back, it opens.
    bool replug() { return conn.close() == 0 && !conn.handle() && plug_fast(unit) && open(); }
};

// A setting as the window sends it. Kinds: 'a' acknowledged, 'n' without
// acknowledgement, 'q' quick handshake holding the poll, 'b' one that does
// not (the pairing start), 'u' unconfirmed.
struct Setting { uint8_t code; char kind; int settle; const char* text; const char* payload_hex; };

const Setting kSettings[] = {
    {req::RegionPower, 'a', 1000, "Set power", "3c"},       {req::ConfigByte, 'a', 2000, "SET ANTENNA 1", "01"},
    {req::Bandwidth, 'a', 1000, "Set channel bandwidth", "01"}, {req::TddRatio, 'a', 1000, "Set TDD Ratio", "00"},
    {req::UplinkMode, 'a', 1000, "Set UPLINK MODE", "01"},  {req::Antenna, 'a', 1000, "Set Antenna 0", "10"},
    {req::Datalink, 'n', 1000, "datalink from usb", "5a"},  {req::EncryptEnable, 'a', 2000, "disable encry", "00"},
    {req::GroundIdentity, 'a', 2000, "ground send and recv", "01"},
    {req::EncryptKey, 'a', 2000, "encrypmt key", "000000003031323334353637383961626364656600000000000000000000000000000000"},
    {req::Frequency, 'q', 1300, "set freq failed", "6e090000"}, {req::FreqHop, 'q', 1300, "set freq_hop failed", "01"},
    {req::Downlink, 'q', 2300, "set downlink failed", "03"}, {req::RcMode, 'q', 1000, "set ppm  failed", "01"},
    {req::BaudRate, 'q', 1000, "set COM baundrate failed", "01"}, {req::Bind, 'b', 0, "set bind failed", "01"},
    {req::TestMode, 'u', 0, "", "00000080"},
};

// The records the window reads at the connection (3), then in a poll tick.
const QList<int> kReads{req::Identity,   req::DeviceInfo, req::SoftwareInfo, req::DevStatus,    req::Scan,
                        req::DevStatus2, req::ProStatus,  req::SoftwareInfo, req::Identity};

// An upgrade request, the image part whose run sends it, and the stage that
// run fails at when the request is lost for good.
struct UpgradeUse { int code; uint32_t type; Stage stage; };

const UpgradeUse kUpgrade[] = {
    {0xB0, kMcu1, Stage::Erase}, {0xB1, kMcu1, Stage::Program}, {0xB2, kFpga, Stage::Erase},
    {0xB3, kFpga, Stage::Program}, {0xB4, kBoot, Stage::Erase}, {0xB5, kBoot, Stage::Program},
    {0xB6, kKernel, Stage::Erase}, {0xB7, kKernel, Stage::Program}, {0xB8, kFs, Stage::Erase},
    {0xB9, kFs, Stage::Program}, {req::UpgradeStatus, kKernel, Stage::WaitErase}, {kBulk, kMcu1, Stage::Program},
    {req::UpgradeDataCheck, kMcu1, Stage::Check}, {req::ProgramEdid, kEdid, Stage::Program},
    {req::EraseHi3798, kHi3798, Stage::Erase}, {req::ProgramHiImage, kHi3516, Stage::Program},
    {req::EraseMcu2, kMcu2, Stage::Erase}, {req::ProgramMcu2, kMcu2, Stage::Program},
    {req::RestartMcu2, kMcu2, Stage::Prepare}, {req::CheckMcu2, kMcu2, Stage::Check},
    {req::FifoStatus, kHi3516, Stage::Program}, {req::CheckHi3798, kHi3798, Stage::Check},
    {req::Hi3798Result, kHi3798, Stage::Check}, {req::PreparationStatus, kHi3516, Stage::Program},
    {req::UpgradeFinished, kMcu1, Stage::None}, {req::CommandStatus, kMcu1, Stage::WaitErase}};

// The MCU2's requests after its restart go to the unit as it comes back.
bool after_restart(int c) { return c == req::EraseMcu2 || c == req::ProgramMcu2 || c == req::CheckMcu2; }

// Rows: every item of a table (those with a name) x every fault.
void fault_rows(int items, const std::function<QString(int)>& name)
{
    QTest::addColumn<int>("item");
    QTest::addColumn<int>("fault");
    for (int i = 0; i < items; ++i)
        for (int f : name(i).isEmpty() ? QList<int>() : QList<int>(std::begin(kFaults), std::end(kFaults)))
            QTest::newRow(qPrintable(name(i) + ' ' + fault_name(f))) << i << f;
}

int unknown_labels(QWidget* w, const char* pattern)
{
    int n = 0;
    for (QLabel* l : w->findChildren<QLabel*>(QRegularExpression(pattern)))
        n += l->text() == "unknow";
    return n;
}

} // namespace

class FaultMatrix : public QObject
{
    Q_OBJECT

    std::unique_ptr<MainPage> page;

private slots:
    void initTestCase()
    {
        init_resources();
        g_divisor = 1000000; // the engine's pauses pass at once, but the MCU2 is back before it looks
        g_before_sleep = [](int ms) {
            if (sim::SimUnit* unit = g_restarting_unit.load(); unit && ms == upgrade_timing::kMcu2ResetWaitMs)
                unit->upgrade().waitRestartIdle(std::chrono::seconds(3));
        };
        updateThread::set_sleep_function(&test_sleep);
    }

    void cleanup()
    {
        Binding_Dialog::set_test_clock(nullptr);
        reset_bus();
        std::lock_guard<std::mutex> lock(g_devices_mutex);
        g_devices.clear();
    }

    void cleanupTestCase() { page.reset(); }

    // Each setting's own request, then its status read, failed.
    void channel_data()
    {
        fault_rows(2 * int(std::size(kSettings)), [](int i) {
            const Setting& s = kSettings[i / 2];
            const bool status = i % 2 && QString("aqb").contains(s.kind);
            return i % 2 && !status ? QString() : code_name(s.code) + ' ' + code_name(status ? 0xF8 : s.code);
        });
    }

    void channel()
    {
        QFETCH(int, item);
        QFETCH(int, fault);
        const Setting& s = kSettings[item / 2];
        const int target = item % 2 ? int(req::CommandStatus) : s.code;
        Rig rig;
        QVERIFY(rig.open());
        QTimer timer;
        PollControl poll(&timer);
        poll.set_connected(true);
        CommandChannel channel(&rig.conn, &poll);
        harness::WaitLog waits;
        // A "done" left from the setting before: a failed one must not be
        // taken for confirmed.
        const unsigned char baud = 2, down = 0;
        channel.quick_handshake(req::BaudRate, &baud, 1, "primer", 0, false);
        QCOMPARE(channel.last_verdict(), Verdict::Done);
        waits.clear();
        const size_t mark = rig.dev->log().size();
        const int taken_before = rig.unit->link().settingCount(s.code);
        QByteArray data = QByteArray::fromHex(s.payload_hex);
        auto* bytes = reinterpret_cast<unsigned char*>(data.data());
        const auto length = uint16_t(data.size());
        rig.dev->failNext(target, fault);
        DebugCapture capture;
        int rc = 0;
        if (s.kind == 'a' || s.kind == 'n')
            rc = channel.send_set_command(bytes, length, s.code, s.text, s.kind == 'a', s.settle);
        else if (s.kind == 'u')
            rc = channel.send_unconfirmed(s.code, bytes, length, true);
        else
            channel.quick_handshake(s.code, bytes, length, s.text, s.settle, s.kind == 'q');

        const bool lost = target == s.code && fails(fault); // the unit never got it
        const bool status_lost = target != s.code && fails(fault);
        const bool again = target != s.code && !fails(fault); // an empty status answer is asked again
        QString wire = code_name(s.code) + (length == 1 ? "=" + data.toHex().toUpper() : "") + (lost ? "!" : "");
        QString want_waits, line;
        Verdict verdict = lost || status_lost ? Verdict::Failed : Verdict::Done;
        int want_rc = lost || status_lost ? fault_rc(fault) : 0;
        if (s.kind == 'n' || s.kind == 'u') {
            verdict = lost ? Verdict::Failed : Verdict::Sent;
            want_waits = lost || s.kind == 'u' ? "" : QString::number(s.settle);
            if (s.kind == 'u' && !lost)
                want_rc = length - (fault == kShort ? 1 : 0); // the bytes sent
        } else if (s.kind == 'a' && !lost) {
            wire += status_lost ? " F8!" : again ? " F8 F8" : " F8";
            want_waits = status_lost ? QString("400") : QString(again ? "400 400 %1" : "400 %1").arg(s.settle);
            line = status_lost ? "" : QString("Set %1 done").arg(s.text);
        } else if (s.kind != 'a') {
            // The status byte is read whatever became of the request; the
            // setting counts only when both went through in full.
            wire += status_lost || (lost && fault == kUnplug) ? " F8!" : " F8";
            verdict = target == s.code && !lost ? Verdict::Done : Verdict::Failed;
            want_rc = 0;
            want_waits = s.settle ? QString("300 %1").arg(s.settle) : QString("300");
            line = verdict == Verdict::Done ? "" : s.text;
        }
        QCOMPARE(wire_since(mark), wire);
        QCOMPARE(int(channel.last_verdict()), int(verdict));
        QCOMPARE(rc, want_rc);
        QCOMPARE(rig.unit->link().settingCount(s.code) - taken_before, lost ? 0 : 1);
        QCOMPARE(waits.text(), want_waits);
        QCOMPARE(harness::lines(capture).filter(QRegularExpression("^[Ss]et ")),
                 line.isEmpty() ? QStringList() : QStringList{line});
        for (const sim::Transfer& t : rig.dev->log())
            QCOMPARE(t.timeout_ms, usb::kSettingTimeoutMs);
        QVERIFY(timer.isActive()); // the poll runs again: nothing told it the unit has gone
        // Plugged back after an unplug, the next setting goes through.
        QVERIFY(fault != kUnplug || rig.replug());
        QCOMPARE(channel.send_set_command(&down, 1, req::TddRatio, "again", true, 0), 0);
        QVERIFY(channel.last_verdict() == Verdict::Done && timer.isActive());
    }

    void reads_data()
    {
        fault_rows(kReads.size(), [](int i) { return code_name(kReads[i]) + (i < 3 ? " connect" : " poll"); });
    }

    void reads()
    {
        QFETCH(int, item);
        QFETCH(int, fault);
        const bool poll = item >= 3, failed = fails(fault);
        const int code = kReads[item];
        auto unit = make_ground_unit();
        auto dev = plug_fast(unit);
        Wireless_Video_Link w;
        Ui::Wireless_Video_Link* ui = w.form();
        DebugCapture capture;
        if (poll || code == req::SoftwareInfo)
            QCOMPARE(w.open_device(true), 0);
        if (poll) {
            w.on_pushButton_GET_SN_clicked();
            w.poll_status();
            std::array<uint8_t, sim::kScanLen> m{};
            m.fill(77); // a new spectrum the failing scan must not draw
            unit->link().setScanMagnitudes(m);
        } else if (code == req::SoftwareInfo) {
            // A 5.8 GHz unit where a 2.4 GHz one was: a band taken from a
            // failed read, or one only the poll corrects, shows.
            QCOMPARE(w.open_device(false), 0);
            unit->setModelIndex(12);
        }
        const QString shown = ui->label_sn->text() + w.serial_number + ui->label_info_firm->text();
        const int band = w.band_code;
        const QList<QPointF> points = w.scan_series_object()->points();
        dev->failNext(code, fault);
        size_t mark = dev->log().size();
        // Connects, or ticks until the fault is hit (the identity is read
        // every fourth tick).
        for (int tick = 0; tick < 4 && !wire_since(mark).contains(code_name(code)); ++tick) {
            mark = dev->log().size();
            capture.clear();
            QCOMPARE(poll ? (w.poll_status(), 0) : w.open_device(true), 0);
        }
        QStringList expected = QString(poll ? "E6 F9 E7 A1 E1" : "E3 E0 E1").split(' ');
        if (poll && wire_since(mark).contains("E3"))
            expected << "E3";
        if (code == req::DevStatus && failed)
            expected = QStringList{"E6"}; // the tick ends at once
        // The failed read is marked, and after an unplug every later one.
        const int at = int(expected.indexOf(code_name(code)));
        for (int i = at; failed && i < expected.size(); ++i)
            expected[i] += i == at || fault == kUnplug ? "!" : "";
        QCOMPARE(wire_since(mark), expected.join(' '));

        const bool no_identity = code == req::Identity && failed;
        QVERIFY(fault == kUnplug || capture.contains("get SN number failed") == no_identity);
        if (!poll && fault != kUnplug) {
            QVERIFY(harness::connected(&w) && w.unit_type == 2 && ui->label_info_dev->text() == "Ground");
            QCOMPARE(capture.contains("dv.mcu2_version 13376"), !no_identity);
        }
        if (!poll && code == req::SoftwareInfo && fault != kUnplug) {
            QVERIFY2(ui->label_info_firm->text() != "0.0.0", "a failed read shown as version");
            w.poll_status(); // band, channels and chart are the unit's once the poll has read it
            QCOMPARE(w.band_code, 58);
            QCOMPARE(ui->comboBox_freq->count(), 7);
            QCOMPARE(ui->comboBox_freq->itemText(0), QString("Chanel 1 (5745MHz)"));
            const QList<QPointF> chart = w.scan_series_object()->points();
            QVERIFY(chart.size() == 7 && std::all_of(chart.begin(), chart.end(), [](const QPointF& p) {
                        return p.x() >= 5730 && p.x() <= 5830;
                    }));
            QCOMPARE(ui->label_info_firm->text(), QString("1.2.3"));
        }
        if (poll && code == req::Scan) {
            // A failed scan leaves the last curve; a short one draws the 15
            // of 16 channels it measured.
            const QList<QPointF> now = w.scan_series_object()->points();
            for (int i = 0; i < now.size(); ++i)
                QCOMPARE(now[i].y(), failed || i == 15 ? points[i].y() : -77.0);
        } else if (poll && code == req::DevStatus2) {
            QCOMPARE(capture.contains(QString("dev_status2 ret %1").arg(fault_rc(fault))), failed);
            QCOMPARE(unknown_labels(&w, "^label_([AG]_(BB|PA)_TEMP|test_[ag]_rssi_2)$"), failed ? 6 : 0);
        } else if (poll && code == req::ProStatus) {
            QCOMPARE(capture.contains(QString("pro stat ret %1").arg(fault_rc(fault))), failed);
            QCOMPARE(unknown_labels(&w, "^label_[ag]_(buf_overflow|packets?_(recv|send|discard|submitted|retransmit))$"),
                     failed ? 12 : 0);
        } else if (poll) { // a failed version or identity read changes nothing
            QCOMPARE(w.band_code, band);
            QCOMPARE(ui->label_sn->text() + w.serial_number + ui->label_info_firm->text(), shown);
        }
        // Polling until the watcher's unplug closes; then plugged back.
        QVERIFY(w.poll_timer()->isActive());
        if (fault == kUnplug) {
            w.deal_dev_disconnected();
            QVERIFY(!w.poll_timer()->isActive() && ui->label_connect->text() == "DisConnected");
            plug_fast(unit);
            w.auto_connect_dev();
        }
        QVERIFY(harness::connected(&w) && w.poll_timer()->isActive());
        unsigned char buf[64];
        QCOMPARE(usb_vendor_transfer(w.device_handle(), usb::kDirIn, 1, req::DevStatus, 0, 0, buf, 64, 300), 64);
    }

    void dialog_data() { fault_rows(1, [](int) { return QString("E6"); }); }

    // The pairing dialog's status read: a failed one ends the pairing as
    // failed; a short one still holds the bound byte.
    void dialog()
    {
        QFETCH(int, fault);
        Rig rig;
        rig.unit->link().setBindByte(1);
        rig.dev->failNext(req::DevStatus, fault);
        QVERIFY(rig.open());
        Binding_Dialog::set_test_clock([](int) {}); // the result's pause passes at once
        Binding_Dialog dialog;
        dialog.set_dev_handle(rig.conn.handle());
        bool done = false;
        connect(&dialog, &Binding_Dialog::bind_done, this, [&] { done = true; });
        dialog.get_bstatus();
        QCOMPARE(wire_since(0), QString(fails(fault) ? "E6!" : "E6"));
        QCOMPARE(done, fails(fault));
        if (!done)
            dialog.deal_timer();
        QVERIFY(done);
        QCOMPARE(dialog.was_bound(), !fails(fault));
        QCOMPARE(dialog.findChild<QLabel*>("label")->text(), QString(fails(fault) ? "Bind failed" : "Bind success"));
    }

    void upgrade_data() { fault_rows(int(std::size(kUpgrade)), [](int i) { return code_name(kUpgrade[i].code); }); }

    void upgrade()
    {
        QFETCH(int, item);
        QFETCH(int, fault);
        const UpgradeUse u = kUpgrade[item];
        auto unit = make_ground_unit();
        // The MCU2 restart: off the bus, back as a new device, which gets
        // the row's fault when the request goes to it.
        unit->upgrade().setRestartTiming(std::chrono::milliseconds(1), std::chrono::milliseconds(5));
        unit->upgrade().setRestartHandler([u, fault](bool present) {
            std::unique_lock<std::mutex> lock(g_devices_mutex);
            const auto last = g_devices.back();
            lock.unlock();
            if (!present)
                sim::VirtualBus::instance().unplug(last);
            else if (auto d = plug_fast(last->unitPtr()); after_restart(u.code))
                d->failNext(u.code, fault);
        });
        g_restarting_unit = unit.get();
        auto first = plug_fast(unit);
        if (!after_restart(u.code))
            first->failNext(u.code, fault);
        QTemporaryDir dir;
        const QByteArray data = payload(u.type == kHi3516 ? 100 : 1100, u.code);
        Harness h;
        Events ev;
        QVERIFY(h.open() && h.run(write_file(dir, "image.bin", build_image({{u.type, data}})), ev));
        g_restarting_unit = nullptr;

        const auto log = transfers();
        const QString seq = sequence(tokens(log, true));
        const bool hit = std::any_of(log.begin(), log.end(), [&](const sim::Transfer& t) {
            const bool bulk = t.kind == sim::Transfer::Bulk;
            const bool shortened = bulk ? t.result == 0 && t.data.size() == 1023
                                        : t.result == std::max(t.wLength - 1, 0);
            return (u.code == kBulk ? bulk : !bulk && t.bRequest == u.code)
                   && (fault == kShort ? shortened : t.result == fault_rc(fault));
        });
        QVERIFY2(hit, qPrintable("the fault hit no request: " + seq));
        // Lost for good: the unit pulled out, or a chunk it took in part.
        // Anything else is tried again and the run goes through.
        const bool success =
            (fault != kUnplug && !(fault == kShort && u.code == kBulk)) || u.code == req::UpgradeFinished;
        QCOMPARE(ev.messages().contains("Upgrade success"), success);
        QCOMPARE(h.failed_stage, success ? Stage::None : u.stage);
        QCOMPARE(h.failed_type, success ? 0u : u.type);
        if (success) {
            QVERIFY(ev.last_message() == "Upgrade success" && ev.progress().last() == 100);
            QVERIFY2(unit->upgrade().flashed(sim_target(u.type)) == bytes(data), qPrintable(seq));
            if (u.code == req::RestartMcu2 && fault < 0)
                QCOMPARE(unit->upgrade().restarts(), 0); // the unit never got it
        } else { // no closing flags that claim success
            QVERIFY2(!seq.contains(QRegularExpression("F5=..( |$)")), qPrintable(seq));
        }
        QVERIFY(unit->upgrade().waitRestartIdle(std::chrono::seconds(3)));
    }

    void end_to_end_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("fault");
        QTest::newRow("setting timeout") << int(req::RegionPower) << int(LIBUSB_ERROR_TIMEOUT);
        QTest::newRow("setting unplug") << int(req::RegionPower) << kUnplug;
        QTest::newRow("poll unplug") << int(req::DevStatus) << kUnplug;
    }

    // The whole tool: the watcher opens the window on the unit, the window
    // polls and takes settings; after the failure it shows what became of
    // it, and after a re-plug it connects, polls and takes a setting again.
    void end_to_end()
    {
        QFETCH(int, code);
        QFETCH(int, fault);
        auto unit = make_ground_unit();
        auto dev = plug_fast(unit);
        if (!page) {
            page = std::make_unique<MainPage>();
            page->scan_timer()->setInterval(10); // a faster watcher; the same scan
            page->show();
        }
        Wireless_Video_Link* w = page->main_window();
        auto polling = [&] { return harness::connected(w) && w->poll_timer()->isActive(); };
        QVERIFY(wait_for(polling, 5000));
        harness::WaitLog waits;
        Heartbeat heart;
        heart.start();
        dev->failNext(code, fault);
        if (code == req::DevStatus)
            w->poll_timer()->setInterval(20);
        else
            harness::activate(w->form()->comboBox_region, 1);
        QVERIFY(wait_for([&] { return fault == kUnplug ? !w->device_handle() : wire_since(0).contains("C2=3C!"); },
                         5000));
        const qint64 gap = heart.stop(); // nothing held the event loop meanwhile
        QVERIFY2(gap <= 1000, qPrintable(QString::number(gap)));
        QVERIFY(code == req::DevStatus || w->findChild<QLabel*>("label_setting_result")->text()
                                              == "The setting did not reach the unit.");
        QCOMPARE(polling(), fault != kUnplug);
        if (fault == kUnplug) { // closed and no longer polled: nothing more goes to the unit
            QCOMPARE(w->form()->label_connect->text(), QString("DisConnected"));
            const size_t tried = dev->log().size();
            QTest::qWait(100);
            QCOMPARE(dev->log().size(), tried);
        }
        sim::VirtualBus::instance().unplug(dev);
        QVERIFY(wait_for([&] { return !w->device_handle(); }, 5000));
        // Plugged back: connected, polling at its period, taking a setting.
        plug_fast(unit);
        QVERIFY(wait_for(polling, 5000));
        QCOMPARE(w->poll_timer()->interval(), 1000);
        const int polled = unit->link().devStatusReads();
        w->poll_status();
        w->on_TestMode_clicked(true);
        QVERIFY(unit->link().devStatusReads() > polled && (unit->link().settings().testWord[3] & 0x80) && polling());
        w->on_TestMode_clicked(false);
        reset_bus();
        QVERIFY(wait_for([&] { return !w->device_handle(); }, 5000));
    }
};

QTEST_MAIN(FaultMatrix)
#include "tst_fault_matrix.moc"
