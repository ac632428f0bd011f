// Every request the tool sends, failed in every way the bus can fail it,
// while the tool does what sends that request: through the real start
// page, watcher, window, poll, settings, pairing and Update page. One row
// per cell; for each the process lives on, the window's event loop never
// stands still longer than the request's own timeout, the window shows
// what the failure handling of that operation says, and after the unit is
// pulled out and plugged in again the tool connects, polls and takes a
// setting as before.
//
// The cells wait the protocol's real settle times and timeouts, so
// matrix() runs them in several copies of this program at once (most of
// the time is waiting, not work) and counts what held. One cell runs by
// itself with: tst_fault_matrix "cell:C2 region timeout".
#include "testsupport.h"
#include "fault_support.h"
#include "sharded_cells.h"
#include "upgrade_support.h"

#include "antenna_check.h"
#include "binding_dialog.h"
#include "enable_switch.h"
#include "encry_form.h"
#include "hotplug_thread.h"
#include "mainpage.h"
#include "request_codes.h"
#include "ui_wireless_video_link.h"
#include "update_thread.h"
#include "wireless_video_link.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMap>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QtCharts/QSplineSeries>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

using namespace testsupport;
using namespace upgrade_support;

namespace {

// ------------------------------------------------------------ the cells

constexpr int kBulk = sim::SimDevice::kBulk;

// What the tool is doing when the request fails.
enum class Act {
    Connect,   // plug-in: identity records
    Poll,      // one poll tick
    Setting,   // a setting through send_set_command
    Quick,     // a setting through the quick handshake
    TestMode,  // the test-mode word, no status read
    Bind,      // the pairing switch
    BindTick,  // the pairing dialog's status read
    Upgrade,   // the Update page
};

struct Action
{
    const char* name;
    Act kind;
    uint8_t request;   // the setting request of this action (settings only)
    const char* line;  // debug name (send_set_command) or failure text (quick)
    int settle_ms;
    bool ack = true;
};

const Action kActions[] = {
    {"connect", Act::Connect, 0, "", 0},
    {"poll", Act::Poll, 0, "", 0},
    {"region", Act::Setting, req::RegionPower, "Set power", 1000},
    {"antenna group", Act::Setting, req::ConfigByte, "SET ANTENNA 1", 2000},
    {"bandwidth", Act::Setting, req::Bandwidth, "Set channel bandwidth", 1000},
    {"tdd", Act::Setting, req::TddRatio, "Set TDD Ratio", 1000},
    {"uplink", Act::Setting, req::UplinkMode, "Set UPLINK MODE", 1000},
    {"antenna test", Act::Setting, req::Antenna, "Set Antenna 0", 1000},
    {"datalink", Act::Setting, req::Datalink, "datalink from usb", 1000, false},
    {"observer", Act::Setting, req::GroundIdentity, "ground send and recv", 2000},
    {"key", Act::Setting, req::EncryptKey, "encrypmt key", 2000},
    {"encryption off", Act::Setting, req::EncryptEnable, "disable encry", 2000},
    {"frequency", Act::Quick, req::Frequency, "set freq failed", 1300},
    {"hopping", Act::Quick, req::FreqHop, "set freq_hop failed", 1300},
    {"downlink", Act::Quick, req::Downlink, "set downlink failed", 2300},
    {"baud", Act::Quick, req::BaudRate, "set COM baundrate failed", 1000},
    {"rc mode", Act::Quick, req::RcMode, "set ppm  failed", 1000},
    {"test mode", Act::TestMode, req::TestMode, "", 0},
    {"pairing", Act::Bind, req::Bind, "set bind failed", 0},
    {"pairing dialog", Act::BindTick, 0, "", 0},
    {"upgrade", Act::Upgrade, 0, "", 0},
};

const Action* action_named(const QString& name)
{
    for (const Action& a : kActions)
        if (name == QLatin1String(a.name))
            return &a;
    return nullptr;
}

// Request code (or kBulk) and the action that sends it.
struct Use
{
    int code;
    const char* action;
};

const Use kUses[] = {
    // Records read at connection and by the poll.
    {req::Identity, "connect"},
    {req::DeviceInfo, "connect"},
    {req::SoftwareInfo, "connect"},
    {req::DevStatus, "poll"},
    {req::Scan, "poll"},
    {req::DevStatus2, "poll"},
    {req::ProStatus, "poll"},
    {req::SoftwareInfo, "poll"},
    {req::Identity, "poll"},
    // Settings.
    {req::RegionPower, "region"},
    {req::ConfigByte, "antenna group"},
    {req::Bandwidth, "bandwidth"},
    {req::TddRatio, "tdd"},
    {req::UplinkMode, "uplink"},
    {req::Antenna, "antenna test"},
    {req::Datalink, "datalink"},
    {req::GroundIdentity, "observer"},
    {req::EncryptKey, "key"},
    {req::EncryptEnable, "encryption off"},
    {req::CommandStatus, "region"},
    {req::Frequency, "frequency"},
    {req::FreqHop, "hopping"},
    {req::Downlink, "downlink"},
    {req::BaudRate, "baud"},
    {req::RcMode, "rc mode"},
    {req::CommandStatus, "rc mode"},
    {req::TestMode, "test mode"},
    {req::Bind, "pairing"},
    {req::DevStatus, "pairing dialog"},
    // The upgrade.
    {0xB0, "upgrade"},
    {0xB1, "upgrade"},
    {0xB2, "upgrade"},
    {0xB3, "upgrade"},
    {0xB4, "upgrade"},
    {0xB5, "upgrade"},
    {0xB6, "upgrade"},
    {0xB7, "upgrade"},
    {0xB8, "upgrade"},
    {0xB9, "upgrade"},
    {req::UpgradeStatus, "upgrade"},
    {req::UpgradeDataCheck, "upgrade"},
    {req::ProgramEdid, "upgrade"},
    {req::EraseHi3798, "upgrade"},
    {req::ProgramHiImage, "upgrade"},
    {req::EraseMcu2, "upgrade"},
    {req::ProgramMcu2, "upgrade"},
    {req::RestartMcu2, "upgrade"},
    {req::CheckMcu2, "upgrade"},
    {req::FifoStatus, "upgrade"},
    {req::CheckHi3798, "upgrade"},
    {req::Hi3798Result, "upgrade"},
    {req::PreparationStatus, "upgrade"},
    {req::UpgradeFinished, "upgrade"},
    {req::CommandStatus, "upgrade"},
    {kBulk, "upgrade"},
};

const int kFaults[] = {LIBUSB_ERROR_IO, LIBUSB_ERROR_NO_DEVICE, LIBUSB_ERROR_TIMEOUT, LIBUSB_ERROR_PIPE,
                       sim::kFaultShort, sim::kFaultUnplug};

QString fault_name(int fault)
{
    switch (fault) {
    case LIBUSB_ERROR_IO: return QStringLiteral("io");
    case LIBUSB_ERROR_NO_DEVICE: return QStringLiteral("nodevice");
    case LIBUSB_ERROR_TIMEOUT: return QStringLiteral("timeout");
    case LIBUSB_ERROR_PIPE: return QStringLiteral("pipe");
    case sim::kFaultShort: return QStringLiteral("short");
    case sim::kFaultUnplug: return QStringLiteral("unplug");
    default: return QString::number(fault);
    }
}

QString code_name(int code)
{
    return code == kBulk ? QStringLiteral("bulk") : QString::number(code, 16).toUpper();
}

struct Cell
{
    int code;
    const Action* action;
    int fault;
    QString tag() const
    {
        return QStringLiteral("%1 %2 %3").arg(code_name(code), QLatin1String(action->name), fault_name(fault));
    }
    bool transfer_error() const { return fault < 0; }
    bool unplug() const { return fault == sim::kFaultUnplug; }
    bool short_answer() const { return fault == sim::kFaultShort; }
};

QList<Cell> all_cells()
{
    QList<Cell> cells;
    for (const Use& u : kUses)
        for (int f : kFaults)
            cells << Cell{u.code, action_named(QLatin1String(u.action)), f};
    return cells;
}

// The timeout of the request in the operation that sends it (ms): what a
// -7 holds the calling thread for.
int request_timeout(const Cell& c)
{
    switch (c.action->kind) {
    case Act::Connect:
    case Act::BindTick: return 300;
    case Act::Poll: return c.code == req::Scan ? 2000 : 300;
    case Act::Upgrade: return 0; // the engine's own thread
    default: return 2000;
    }
}

// A rough duration (ms), to share the cells out evenly.
int cost_of(const Cell& c)
{
    const int timeout = c.fault == LIBUSB_ERROR_TIMEOUT ? request_timeout(c) : 0;
    const int recovery = 700;
    switch (c.action->kind) {
    case Act::Connect:
    case Act::Poll: return 800 + timeout + recovery;
    case Act::Setting: return 800 + c.action->settle_ms + timeout + recovery;
    case Act::Quick: return 300 + c.action->settle_ms + timeout + recovery;
    case Act::TestMode: return 200 + timeout + recovery;
    case Act::Bind:
    case Act::BindTick: return 4500 + timeout + recovery;
    case Act::Upgrade: {
        int t = 7000 + recovery;
        if (c.fault == LIBUSB_ERROR_TIMEOUT)
            t += c.code == kBulk ? 5000 : 2000;
        if (c.code >= 0xD0 && c.code <= 0xD3)
            t += 600;
        return t;
    }
    }
    return 1000;
}

// Set by main(): whether this run was asked for cells by name.
bool g_cells_named = false;

// ------------------------------------------------------------ the world

// Closes every message box that shows up and remembers its text.
class BoxCloser : public QObject
{
public:
    QStringList texts;
    BoxCloser()
    {
        connect(&tick, &QTimer::timeout, this, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(w);
                if (!box || !box->isVisible())
                    continue;
                texts << box->text();
                QAbstractButton* b = box->button(QMessageBox::Ok);
                if (!b && !box->buttons().isEmpty())
                    b = box->buttons().first();
                if (b)
                    b->click();
            }
        });
        tick.start(20);
    }

private:
    QTimer tick;
};

// Images of one target each: a full chunk and a final transfer.
struct ImageFor
{
    uint32_t type;
    int size;
};

ImageFor image_for(int code)
{
    switch (code) {
    case 0xB2:
    case 0xB3: return {kFpga, 1100};
    case 0xB4:
    case 0xB5: return {kBoot, 1100};
    case 0xB6:
    case 0xB7:
    case req::UpgradeStatus: return {kKernel, 1100};
    case 0xB8:
    case 0xB9: return {kFs, 1100};
    case req::ProgramEdid: return {kEdid, 1100};
    case req::EraseHi3798:
    case req::CheckHi3798:
    case req::Hi3798Result: return {kHi3798, 1100};
    case req::ProgramHiImage:
    case req::FifoStatus:
    case req::PreparationStatus: return {kHi3516, 100};
    case req::EraseMcu2:
    case req::ProgramMcu2:
    case req::RestartMcu2:
    case req::CheckMcu2: return {kMcu2, 1100};
    default: return {kMcu1, 1100}; // B0, B1, BC, F5, F8, bulk
    }
}

// The MCU2's requests after its restart go to the unit as it comes back.
bool after_restart(int code)
{
    return code == req::EraseMcu2 || code == req::ProgramMcu2 || code == req::CheckMcu2;
}

// One unit, one start page with its watcher and window, for the whole run
// of this process.
struct World
{
    std::unique_ptr<MainPage> page;
    Wireless_Video_Link* w = nullptr;
    Ui::Wireless_Video_Link* ui = nullptr;
    std::shared_ptr<sim::SimUnit> unit;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<BoxCloser> boxes;
    int model = 0;

    // Devices the unit has been during the current cell (it becomes a new
    // one on every plug-in, also when its MCU2 restarts).
    std::mutex devices_mutex;
    std::vector<std::shared_ptr<sim::SimDevice>> devices;
    // A fault for the unit as it comes back from the MCU2 restart.
    int restart_code = 0;
    int restart_fault = 0;

    int connects = 0;
    int disconnects = 0;

    std::shared_ptr<sim::SimDevice> plug_unit()
    {
        auto d = sim::VirtualBus::instance().plug(unit);
        std::lock_guard<std::mutex> lock(devices_mutex);
        devices.push_back(d);
        return d;
    }

    std::shared_ptr<sim::SimDevice> current()
    {
        for (const auto& d : sim::VirtualBus::instance().devices())
            if (d->unitPtr() == unit && d->plugged())
                return d;
        return nullptr;
    }

    std::vector<sim::Transfer> transfers()
    {
        std::vector<std::shared_ptr<sim::SimDevice>> devs;
        {
            std::lock_guard<std::mutex> lock(devices_mutex);
            devs = devices;
        }
        std::vector<sim::Transfer> all;
        for (const auto& d : devs) {
            const auto log = d->log();
            all.insert(all.end(), log.begin(), log.end());
        }
        std::stable_sort(all.begin(), all.end(),
                         [](const sim::Transfer& a, const sim::Transfer& b) { return a.t_us < b.t_us; });
        return all;
    }

    void forget_devices()
    {
        std::vector<std::shared_ptr<sim::SimDevice>> keep;
        if (auto d = current())
            keep.push_back(d);
        for (const auto& d : keep)
            d->clearLog();
        std::lock_guard<std::mutex> lock(devices_mutex);
        devices = keep;
    }

    bool connected() const
    {
        return w->device_handle() && ui->label_connect->text() == QLatin1String("Connected");
    }
    bool disconnected() const
    {
        return !w->device_handle() && ui->label_connect->text() == QLatin1String("DisConnected");
    }
};

World* g_world = nullptr;

int count_ok(const std::vector<sim::Transfer>& log, uint8_t code)
{
    int n = 0;
    for (const sim::Transfer& t : log)
        if (t.kind == sim::Transfer::Control && t.bRequest == code && t.result >= 0)
            ++n;
    return n;
}

// Whether the cell's fault has hit a transfer of its request.
bool fault_hit(const Cell& c, const std::vector<sim::Transfer>& log)
{
    for (const sim::Transfer& t : log) {
        const bool match = c.code == kBulk ? t.kind == sim::Transfer::Bulk
                                           : t.kind == sim::Transfer::Control && t.bRequest == c.code;
        if (!match)
            continue;
        if (c.unplug() && t.result == LIBUSB_ERROR_NO_DEVICE)
            return true;
        if (c.transfer_error() && t.result == c.fault)
            return true;
        if (c.short_answer()) {
            // The first full chunk, one byte short.
            if (t.kind == sim::Transfer::Bulk && t.result == 0 && t.data.size() == 1023)
                return true;
            if (t.kind == sim::Transfer::Control && t.wLength > 0 && t.result == t.wLength - 1)
                return true;
            // A request without data cannot come short: it went through.
            if (t.kind == sim::Transfer::Control && t.wLength == 0 && t.result == 0)
                return true;
        }
    }
    return false;
}

bool has_line_starting(const DebugCapture& capture, const QString& start)
{
    for (const QString& l : capture.lines())
        if (l.trimmed().startsWith(start))
            return true;
    return false;
}

bool has_line(const DebugCapture& capture, const QString& text)
{
    for (const QString& l : capture.lines())
        if (l.trimmed() == text)
            return true;
    return false;
}

QStringList judgement_lines(const DebugCapture& capture, const QString& name)
{
    QStringList out;
    for (const QString& verdict : {QStringLiteral("done"), QStringLiteral("timeout"), QStringLiteral("failed"),
                                   QStringLiteral("unknow error")}) {
        const QString l = QStringLiteral("Set %1 %2").arg(name, verdict);
        if (has_line(capture, l))
            out << l;
    }
    return out;
}

QList<QLabel*> temperature_labels(Ui::Wireless_Video_Link* ui)
{
    return {ui->label_A_BB_TEMP, ui->label_A_PA_TEMP, ui->label_G_BB_TEMP,
            ui->label_G_PA_TEMP, ui->label_test_a_rssi_2, ui->label_test_g_rssi_2};
}

QList<QLabel*> counter_labels(Ui::Wireless_Video_Link* ui)
{
    return {ui->label_g_buf_overflow,      ui->label_g_packet_recv,         ui->label_g_packets_send,
            ui->label_g_packets_discard,   ui->label_g_packets_submitted,   ui->label_g_packets_retransmit,
            ui->label_a_buf_overflow,      ui->label_a_packet_recv,         ui->label_a_packets_send,
            ui->label_a_packets_discard,   ui->label_a_packets_submitted,   ui->label_a_packets_retransmit};
}

QList<QPointF> series_points(Wireless_Video_Link* w)
{
    return w->scan_series_object()->points();
}

} // namespace

class FaultMatrix : public QObject
{
    Q_OBJECT

private:
    World& world() { return *g_world; }

    void make_world()
    {
        if (g_world)
            return;
        g_world = new World;
        World& wd = *g_world;
        wd.unit = make_ground_unit();
        wd.unit->setHi3798Version("V1.0.0");
        wd.unit->link().setPairingDelayReads(1);
        wd.dir = std::make_unique<QTemporaryDir>();
        QVERIFY(wd.dir->isValid());
        // The unit's MCU2 restart: it drops off the bus and comes back as
        // a new device, which is the one a post-restart fault goes to.
        wd.unit->upgrade().setRestartTiming(std::chrono::milliseconds(5), std::chrono::milliseconds(30));
        wd.unit->upgrade().setRestartHandler([&wd](bool present) {
            auto& bus = sim::VirtualBus::instance();
            if (!present) {
                if (auto d = wd.current())
                    bus.unplug(d);
                return;
            }
            auto d = wd.plug_unit();
            if (wd.restart_code)
                d->failNext(wd.restart_code, wd.restart_fault);
        });
        updateThread::set_sleep_function(&test_sleep);
        g_divisor = 10;
        // The engine's pauses run ten times faster here; on a loaded
        // machine the window may then not have reopened the unit after
        // the MCU2 restart before the engine looks for the new handle,
        // which the real 4.6 s leave ample time for. Wait for the reopen
        // (bounded) so a cell does not depend on the machine's load.
        g_before_sleep = [&wd](int ms) {
            if (ms != upgrade_timing::kMcu2ReopenWaitMs)
                return;
            QElapsedTimer clock;
            clock.start();
            while (clock.elapsed() < 3000) {
                const auto d = wd.current();
                if (d && d->interfaceClaimed())
                    return;
                QThread::msleep(2);
            }
        };

        wd.page = std::make_unique<MainPage>();
        // A faster watcher: the cells plug and unplug the unit hundreds of
        // times. Its scan is the same.
        wd.page->scan_timer()->setInterval(10);
        wd.page->show();
        wd.w = wd.page->main_window();
        wd.ui = wd.w->form();
        QObject::connect(wd.w, &Wireless_Video_Link::dev_connect_status, wd.w, [&wd](bool on) {
            if (on)
                ++wd.connects;
            else
                ++wd.disconnects;
        });
        wd.boxes = std::make_unique<BoxCloser>();
        wd.plug_unit();
        QVERIFY(wait_for([&] { return wd.connected(); }, 5000));
        wd.w->on_pushButton_GET_SN_clicked();
    }

    // Reconnects with the unit as the cell wants it.
    void use_model(int model)
    {
        World& wd = world();
        if (wd.model == model && wd.connected())
            return;
        wd.unit->setModelIndex(model);
        wd.model = model;
        if (auto d = wd.current())
            sim::VirtualBus::instance().unplug(d);
        QVERIFY(wait_for([&] { return wd.disconnected(); }, 5000));
        wd.plug_unit();
        QVERIFY(wait_for([&] { return wd.connected() && wd.w->poll_timer()->isActive(); }, 5000));
    }

    void settle_world()
    {
        World& wd = world();
        if (auto* check = AntennaCheck::existing())
            check->hide();
        sim::SimLink& link = wd.unit->link();
        link.clearSettingFaults();
        link.clearScanOverrides();
        link.setPairingDelayReads(1);
        link.setBindByte(1);
        wd.restart_code = 0;
        wd.restart_fault = 0;
        wd.forget_devices();
    }

    // After the cell: out, in, connected, polling, a setting taken.
    void recover()
    {
        World& wd = world();
        QVERIFY2(wait_for([&] { return !wd.w->binding_in_progress && !wd.w->upgrade_running(); },
                          60000),
                 "the window is still busy");
        if (auto d = wd.current())
            sim::VirtualBus::instance().unplug(d);
        QVERIFY2(wait_for([&] { return wd.disconnected(); }, 5000), "not disconnected after unplug");
        {
            std::lock_guard<std::mutex> lock(wd.devices_mutex);
            for (const auto& d : wd.devices)
                d->clearFaults();
        }
        wd.restart_code = 0;
        auto dev = wd.plug_unit();
        QVERIFY2(wait_for([&] { return wd.connected() && wd.w->poll_timer()->isActive(); }, 5000),
                 "not connected again after plug-in");
        QCOMPARE(wd.w->poll_timer()->interval(), 1000);
        // Polls: a quicker tick shows the timer drives the poll.
        const int reads = count_ok(dev->log(), req::DevStatus);
        wd.w->poll_timer()->setInterval(20);
        QVERIFY2(wait_for([&] { return count_ok(dev->log(), req::DevStatus) >= reads + 2; }, 3000),
                 "no poll after reconnection");
        wd.w->poll_timer()->setInterval(1000);
        // Takes a setting.
        wd.w->on_TestMode_clicked(true);
        QVERIFY(wd.unit->link().testWord()[3] & 0x80);
        wd.w->on_TestMode_clicked(false);
        QVERIFY(!(wd.unit->link().testWord()[3] & 0x80));
        QVERIFY(wd.w->poll_timer()->isActive());
        QVERIFY(wd.connected());
    }

    // --- the actions ---------------------------------------------------------

    void run_connect(const Cell& c, const DebugCapture& capture)
    {
        World& wd = world();
        use_model(0);
        if (c.code == req::SoftwareInfo) {
            // A 5.8 GHz unit where a 2.4 GHz one was: a band taken from a
            // failed read, or one that only the poll corrects, shows.
            wd.unit->setModelIndex(12);
            wd.model = 12;
        }
        if (auto d = wd.current())
            sim::VirtualBus::instance().unplug(d);
        QVERIFY(wait_for([&] { return wd.disconnected(); }, 5000));
        wd.forget_devices();
        const int connects = wd.connects;
        // Nothing reaches the window before this returns to the event loop.
        auto dev = wd.plug_unit();
        dev->failNext(c.code, c.fault);
        Heartbeat heart;
        heart.start();
        QVERIFY(wait_for([&] { return wd.connects > connects; }, 5000));
        if (c.unplug())
            QVERIFY(wait_for([&] { return wd.disconnected(); }, 5000));
        const qint64 gap = heart.stop();
        check_gap(c, gap);
        QVERIFY2(fault_hit(c, wd.transfers()), "the fault hit no request");

        if (c.unplug()) {
            QVERIFY(!wd.w->poll_timer()->isActive());
            return;
        }
        QVERIFY(wd.connected());
        QVERIFY(wd.w->poll_timer()->isActive());
        QCOMPARE(wd.w->unit_type, 2);
        QCOMPARE(wd.ui->label_info_dev->text(), QString("Ground"));
        if (c.code == req::Identity && c.transfer_error())
            QVERIFY(has_line(capture, "get SN number failed"));
        else
            QVERIFY(capture.contains("dv.mcu2_version 13376"));
        if (c.code == req::SoftwareInfo) {
            // A failed read is no version.
            QVERIFY2(wd.ui->label_info_firm->text() != QLatin1String("0.0.0"), "a failed read shown as version");
            // The band, channel list and chart are the unit's once the poll
            // has read the record.
            const int reads = count_ok(dev->log(), req::SoftwareInfo);
            wd.w->poll_timer()->setInterval(20);
            QVERIFY(wait_for([&] { return count_ok(dev->log(), req::SoftwareInfo) >= reads + 2; }, 3000));
            wd.w->poll_timer()->setInterval(1000);
            QCOMPARE(wd.w->band_code, 58);
            QCOMPARE(wd.ui->comboBox_freq->count(), 7);
            QCOMPARE(wd.ui->comboBox_freq->itemText(0), QString("Chanel 1 (5745MHz)"));
            const QList<QPointF> pts = series_points(wd.w);
            QCOMPARE(pts.size(), 7);
            for (const QPointF& p : pts)
                QVERIFY2(p.x() >= 5730 && p.x() <= 5830,
                         qPrintable(QString("a chart point at %1 MHz on the 5.8 GHz chart").arg(p.x())));
            QCOMPARE(wd.ui->label_info_firm->text(), QString("1.2.3"));
        }
    }

    struct PollSnapshot
    {
        bool taken = false;
        QStringList temperatures, counters;
        QString sn, firm;
        int band = 0;
        QList<QPointF> points;
        std::vector<sim::Transfer> log;
    };

    void run_poll(const Cell& c, const DebugCapture& capture)
    {
        World& wd = world();
        use_model(0);
        Ui::Wireless_Video_Link* ui = wd.ui;
        auto dev = wd.current();
        QVERIFY(dev);
        // What the window shows before the failing tick.
        const QString sn_before = ui->label_sn->text();
        const QString serial_before = wd.w->serial_number;
        const QString firm_before = ui->label_info_firm->text();
        const int band_before = wd.w->band_code;
        const QList<QPointF> points_before = series_points(wd.w);
        if (c.code == req::Scan) {
            // A new spectrum: the failing read must neither draw it nor a
            // flat line at 0 dBm.
            std::array<uint8_t, sim::kScanLen> m{};
            m.fill(77);
            wd.unit->link().setScanMagnitudes(m);
        }
        PollSnapshot snap;
        QObject ctx;
        // After poll_status in the same timer emission: the failing tick
        // has just ended.
        QObject::connect(wd.w->poll_timer(), &QTimer::timeout, &ctx, [&] {
            if (snap.taken)
                return;
            const auto log = wd.transfers();
            if (!fault_hit(c, log))
                return;
            snap.taken = true;
            snap.log = log;
            for (QLabel* l : temperature_labels(ui))
                snap.temperatures << l->text();
            for (QLabel* l : counter_labels(ui))
                snap.counters << l->text();
            snap.sn = ui->label_sn->text();
            snap.firm = ui->label_info_firm->text();
            snap.band = wd.w->band_code;
            snap.points = series_points(wd.w);
        });
        dev->failNext(c.code, c.fault);
        Heartbeat heart;
        heart.start();
        wd.w->poll_timer()->setInterval(20);
        if (c.unplug()) {
            QVERIFY(wait_for([&] { return wd.disconnected(); }, 5000));
        } else {
            QVERIFY2(wait_for([&] { return snap.taken; }, 5000), "the fault hit no request");
            const int after = count_ok(wd.transfers(), req::DevStatus);
            QVERIFY2(wait_for([&] { return count_ok(wd.transfers(), req::DevStatus) >= after + 2; }, 5000),
                     "the poll stopped");
        }
        const qint64 gap = heart.stop();
        if (wd.w->poll_timer()->isActive())
            wd.w->poll_timer()->setInterval(1000);
        check_gap(c, gap);
        QVERIFY2(fault_hit(c, wd.transfers()), "the fault hit no request");
        if (c.unplug()) {
            QVERIFY(!wd.w->poll_timer()->isActive());
            return;
        }
        QVERIFY(wd.w->poll_timer()->isActive());

        // Where the fault was, and what came after it in the same tick.
        const auto& log = snap.log;
        int at = -1;
        for (int i = int(log.size()) - 1; i >= 0; --i) {
            const sim::Transfer& t = log[size_t(i)];
            if (t.bRequest == c.code && t.kind == sim::Transfer::Control
                && (t.result < 0 || (c.short_answer() && t.result == t.wLength - 1))) {
                at = i;
                break;
            }
        }
        QVERIFY(at >= 0);
        const uint8_t next = size_t(at + 1) < log.size() ? log[size_t(at + 1)].bRequest : 0;

        const bool failed = c.transfer_error();
        const QString unknow = QStringLiteral("unknow");
        switch (c.code) {
        case req::DevStatus:
            if (failed) {
                // The tick ends at once: nothing else read, nothing shown.
                QVERIFY2(next == 0 || next == req::DevStatus, qPrintable(QString::number(next, 16)));
                QVERIFY(!has_line_starting(capture, "dev_status2 ret"));
            } else {
                QVERIFY2(next == req::Scan, qPrintable(QString::number(next, 16)));
            }
            break;
        case req::Scan:
            QCOMPARE(next, uint8_t(req::DevStatus2)); // the tick goes on
            if (failed) {
                // The last curve stays.
                QCOMPARE(snap.points, points_before);
            } else {
                // 15 of 16 channels measured: those are drawn.
                for (int i = 0; i < 15 && i < snap.points.size(); ++i)
                    if (snap.points[i].x() < 2500)
                        QCOMPARE(snap.points[i].y(), -77.0);
            }
            break;
        case req::DevStatus2:
            QCOMPARE(next, uint8_t(req::ProStatus));
            if (failed) {
                QVERIFY(has_line(capture, QStringLiteral("dev_status2 ret %1").arg(c.fault)));
                QCOMPARE(snap.temperatures, QStringList(QVector<QString>(6, unknow).toList()));
            } else {
                for (const QString& t : snap.temperatures)
                    QVERIFY2(t != unknow, qPrintable(t));
            }
            break;
        case req::ProStatus:
            QCOMPARE(next, uint8_t(req::SoftwareInfo));
            if (failed) {
                QVERIFY(has_line(capture, QStringLiteral("pro stat ret %1").arg(c.fault)));
                QCOMPARE(snap.counters, QStringList(QVector<QString>(12, unknow).toList()));
            } else {
                for (const QString& t : snap.counters)
                    QVERIFY2(t != unknow, qPrintable(t));
            }
            break;
        case req::SoftwareInfo:
            // A failed version read is no version: band and text stay.
            QCOMPARE(snap.band, band_before);
            QCOMPARE(snap.firm, firm_before);
            break;
        case req::Identity:
            if (failed)
                QVERIFY(has_line(capture, "get SN number failed"));
            QCOMPARE(snap.sn, sn_before);
            QCOMPARE(wd.w->serial_number, serial_before);
            break;
        default: QFAIL("no poll check for this request");
        }
    }

    // Clicks or calls what sends the action's setting.
    void trigger_setting(const Action& a)
    {
        World& wd = world();
        Ui::Wireless_Video_Link* ui = wd.ui;
        const QString name = QLatin1String(a.name);
        auto activate = [](QComboBox* box, int index) {
            QVERIFY(QMetaObject::invokeMethod(box, "activated", Q_ARG(int, index)));
        };
        if (name == "region")
            activate(ui->comboBox_region, 1);
        else if (name == "antenna group")
            ui->pushButton_antenna_1->click();
        else if (name == "bandwidth")
            wd.w->on_comboBox_bandwidth_activated(1);
        else if (name == "tdd")
            wd.w->on_radioButton_down_mode_clicked();
        else if (name == "uplink")
            wd.w->on_comboBox_uplink_activated(1);
        else if (name == "antenna test")
            ui->pushButton_antenna_test->click();
        else if (name == "datalink")
            ui->radioButton_usb->click();
        else if (name == "observer")
            ui->radioButton_RO->click();
        else if (name == "key") {
            QWidget* form = ui->widget_encry;
            form->findChild<QRadioButton*>("radioButton_AES128")->click();
            form->findChild<QLineEdit*>("lineEdit_encry")->setText("0123456789abcdef");
            form->findChild<QPushButton*>("pushButton_encry")->click();
        } else if (name == "encryption off")
            emit ui->widget_encry->enable_encry(false);
        else if (name == "frequency")
            activate(ui->comboBox_freq, 2);
        else if (name == "hopping")
            ui->pushButton_auto->click();
        else if (name == "downlink")
            activate(ui->comboBox_downlink, 3);
        else if (name == "baud")
            activate(ui->comboBox_RadioRate, 1);
        else if (name == "rc mode")
            ui->radioButton_ppm->click();
        else if (name == "test mode")
            wd.w->on_TestMode_clicked(true);
        else
            QFAIL("unknown setting");
    }

    void run_setting(const Cell& c, const DebugCapture& capture)
    {
        World& wd = world();
        use_model(0);
        const Action& a = *c.action;
        auto dev = wd.current();
        QVERIFY(dev);
        sim::SimLink& link = wd.unit->link();
        if (a.kind == Act::Quick || a.kind == Act::Setting) {
            // A status byte of "done" left from the setting before.
            const unsigned char baud = 2;
            wd.w->quick_handshake(req::BaudRate, &baud, 1, "primer", 0, false);
            QVERIFY(wd.w->poll_timer()->isActive());
        }
        const int sent_before = link.settingCount(a.request);
        const bool on_request = c.code == a.request;
        dev->failNext(c.code, c.fault);
        Heartbeat heart;
        heart.start();
        trigger_setting(a);
        if (c.unplug())
            QVERIFY(wait_for([&] { return wd.disconnected(); }, 5000));
        const qint64 gap = heart.stop();
        check_gap(c, gap);
        QVERIFY2(fault_hit(c, wd.transfers()), "the fault hit no request");
        const int sent = link.settingCount(a.request) - sent_before;
        // A request that failed never reached the unit; a short one did.
        if (on_request)
            QCOMPARE(sent, c.short_answer() ? 1 : 0);
        else
            QCOMPARE(sent, 1);

        const QString line = QLatin1String(a.line);
        if (c.unplug())
            QVERIFY(!wd.w->poll_timer()->isActive());

        switch (a.kind) {
        case Act::Setting: {
            const QStringList verdicts = judgement_lines(capture, line);
            if (c.unplug() || c.transfer_error()) {
                // The failed transfer ends the operation: no verdict, no
                // settle time; the poll goes on while the unit is there.
                QVERIFY2(verdicts.isEmpty(), qPrintable(verdicts.join(",")));
                QCOMPARE(wd.w->poll_timer()->isActive(), !c.unplug());
            } else {
                if (a.ack)
                    QCOMPARE(verdicts, QStringList{QStringLiteral("Set %1 done").arg(line)});
                else
                    QVERIFY(verdicts.isEmpty());
                QVERIFY(wd.w->poll_timer()->isActive());
            }
            break;
        }
        case Act::Quick:
            // Whatever failed, the status byte was not read as "done" for
            // this setting; a short request still reached the unit.
            if (on_request && c.short_answer())
                QVERIFY2(!has_line(capture, line), "a setting the unit took reported as failed");
            else
                QVERIFY2(has_line(capture, line), qPrintable("no \"" + line + "\""));
            if (!c.unplug())
                QVERIFY(wd.w->poll_timer()->isActive());
            if (a.request == req::FreqHop)
                QVERIFY(!wd.ui->comboBox_freq->isEnabled());
            if (a.request == req::Frequency)
                QVERIFY(has_line_starting(capture, "set freq:"));
            break;
        case Act::TestMode:
            if (!c.unplug())
                QVERIFY(wd.w->poll_timer()->isActive());
            wd.w->on_TestMode_clicked(false);
            break;
        default: QFAIL("not a setting");
        }
    }

    void run_bind(const Cell& c, const DebugCapture& capture)
    {
        World& wd = world();
        use_model(0);
        auto dev = wd.current();
        QVERIFY(dev);
        const bool dialog_fault = c.action->kind == Act::BindTick;
        QStringList results;
        bool injected = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            auto* dialog = wd.w->findChild<Binding_Dialog*>();
            if (!dialog)
                return;
            if (dialog_fault && !injected) {
                if (auto d = wd.current())
                    d->failNext(c.code, c.fault);
                injected = true;
            }
            const QString text = dialog->findChild<QLabel*>("label")->text();
            if (results.isEmpty() || results.last() != text)
                results << text;
        });
        watch.start(5);
        if (!dialog_fault)
            dev->failNext(c.code, c.fault);
        const int boxes_before = wd.boxes->texts.size();
        Heartbeat heart;
        heart.start();
        QTest::mouseClick(wd.ui->switch_bind, Qt::LeftButton);
        QVERIFY(wait_for([&] { return !wd.w->binding_in_progress && has_line(capture, "bind done"); }, 15000));
        if (c.unplug())
            QVERIFY(wait_for([&] { return wd.disconnected(); }, 5000));
        const qint64 gap = heart.stop();
        watch.stop();
        check_gap(c, gap);
        QVERIFY2(fault_hit(c, wd.transfers()), "the fault hit no request");

        if (!dialog_fault) {
            QCOMPARE(has_line(capture, "set bind failed"), !c.short_answer());
            if (c.unplug()) {
                QVERIFY(wd.boxes->texts.mid(boxes_before).contains("Device has been pulled out!"));
            } else if (c.short_answer()) {
                QVERIFY2(results.contains("Bind success"), qPrintable(results.join(",")));
            } else {
                // The start never reached the unit; the dialog follows
                // the bound state the unit reports (still bound here).
                QVERIFY2(!results.isEmpty(), "no pairing dialog");
            }
        } else {
            if (c.short_answer())
                QVERIFY2(results.contains("Bind success"), qPrintable(results.join(",")));
            else
                QVERIFY2(results.contains("Bind failed"), qPrintable(results.join(",")));
        }
        QCOMPARE(wd.w->poll_timer()->isActive(), !c.unplug());
    }

    void run_upgrade(const Cell& c, const DebugCapture& capture)
    {
        Q_UNUSED(capture);
        World& wd = world();
        use_model(0);
        Ui::Wireless_Video_Link* ui = wd.ui;
        wd.w->on_pushButton_GET_SN_clicked(); // the HI3798's version
        QCOMPARE(wd.w->hi3798_version, QString("V1.0.0"));
        const ImageFor img = image_for(c.code);
        const QByteArray data = payload(img.size, c.code);
        ui->lineEdit_file->setText(write_file(*wd.dir, QStringLiteral("image.bin"), build_image({{img.type, data}})));
        auto dev = wd.current();
        QVERIFY(dev);
        if (after_restart(c.code)) {
            wd.restart_code = c.code;
            wd.restart_fault = c.fault;
        } else {
            dev->failNext(c.code, c.fault);
        }
        const int restarts = wd.unit->upgrade().restarts();
        Events ev;
        QObject ctx;
        Heartbeat heart;
        heart.start();
        // The engine starts at the click; its first request waits until
        // the observers are attached, or a loaded machine loses its first
        // signals.
        dev->holdTransfers(true);
        ui->pushButton_upgrade->click();
        auto* engine = wd.w->findChild<updateThread*>();
        QVERIFY(engine);
        watch(engine, &ctx, &ev);
        dev->holdTransfers(false);
        QVERIFY(wait_for([&] { return ui->pushButton_upgrade->isEnabled(); }, 90000));
        const qint64 gap = heart.stop();
        check_gap(c, gap);
        const auto log = wd.transfers();
        QVERIFY2(fault_hit(c, log), qPrintable("the fault hit no request: " + sequence(tokens(log, true))));

        const QStringList toks = tokens(log, true);
        const bool fatal = c.unplug() || (c.short_answer() && c.code == kBulk);
        const bool succeeded = !fatal || c.code == req::UpgradeFinished;
        const QString wire = sequence(toks);
        // The window is given back in every case.
        for (QWidget* control : {static_cast<QWidget*>(ui->comboBox_downlink), static_cast<QWidget*>(ui->pushButton_upgrade),
                                 static_cast<QWidget*>(ui->Select_file_button), static_cast<QWidget*>(ui->comboBox_freq),
                                 static_cast<QWidget*>(ui->pushButton_status), static_cast<QWidget*>(ui->switch_bind)})
            // Unlocked; greyed only with its page while no unit is there.
            QVERIFY2(!control->testAttribute(Qt::WA_ForceDisabled) && (control->isEnabled() || !wd.connected()),
                     qPrintable(control->objectName()));
        // Polling again exactly when a unit is there to poll.
        QCOMPARE(wd.w->poll_timer()->isActive(), wd.connected());
        if (succeeded) {
            QCOMPARE(ui->label_update_message->text(), QString("Upgrade success"));
            QCOMPARE(ui->progressBar->value(), 100);
            QVERIFY2(wd.unit->upgrade().flashed(sim_target(img.type)) == bytes(data), qPrintable(wire));
            if (c.code == req::RestartMcu2 && c.transfer_error())
                QCOMPARE(wd.unit->upgrade().restarts(), restarts); // the unit never got it
        } else {
            QVERIFY2(!ev.messages().contains("Upgrade success"), qPrintable(wire));
            QVERIFY(ui->label_update_message->text() != QLatin1String("Upgrade success"));
            for (const QString& t : toks)
                QVERIFY2(!(t.startsWith("F5") && !t.endsWith('!')),
                         qPrintable("the run ended in a claim of success: " + wire));
        }
        if (c.unplug()) {
            QVERIFY(wd.disconnected());
        } else {
            QVERIFY(wd.connected());
            // The poll is back.
            const int reads = count_ok(wd.transfers(), req::DevStatus);
            QVERIFY(wait_for([&] { return count_ok(wd.transfers(), req::DevStatus) > reads; }, 3000));
        }
    }

    void check_gap(const Cell& c, qint64 gap)
    {
        // The request's own timeout, plus what a loaded machine may add to
        // the handful of transfers and repaints around it.
        const int allowed = (c.fault == LIBUSB_ERROR_TIMEOUT ? request_timeout(c) : 0) + 1000;
        std::printf("CELL-GAP %s: %lld ms (allowed %d)\n", qPrintable(c.tag()), static_cast<long long>(gap),
                    allowed);
        std::fflush(stdout);
        QVERIFY2(gap <= allowed,
                 qPrintable(QString("the window stood still for %1 ms (allowed %2)").arg(gap).arg(allowed)));
    }

private slots:
    void cell_data()
    {
        QTest::addColumn<int>("index");
        if (!g_cells_named) {
            QTest::newRow("all") << -1; // matrix() runs them, in several processes
            return;
        }
        const QList<Cell> cells = all_cells();
        for (int i = 0; i < cells.size(); ++i)
            QTest::newRow(qPrintable(cells[i].tag())) << i;
    }

    void cell()
    {
        QFETCH(int, index);
        if (index < 0)
            QSKIP("the cells run in matrix()");
        const Cell c = all_cells().at(index);
        std::printf("CELL-START %s\n", qPrintable(c.tag()));
        std::fflush(stdout);
        make_world();
        if (QTest::currentTestFailed())
            return;
        settle_world();
        {
            DebugCapture capture;
            switch (c.action->kind) {
            case Act::Connect: run_connect(c, capture); break;
            case Act::Poll: run_poll(c, capture); break;
            case Act::Setting:
            case Act::Quick:
            case Act::TestMode: run_setting(c, capture); break;
            case Act::Bind:
            case Act::BindTick: run_bind(c, capture); break;
            case Act::Upgrade: run_upgrade(c, capture); break;
            }
        }
        const bool failed = QTest::currentTestFailed();
        recover();
        if (failed)
            return;
    }

    void matrix()
    {
        if (g_cells_named)
            QSKIP("cells named on the command line");
        const QList<Cell> cells = all_cells();
        QStringList tags;
        QList<int> costs;
        for (const Cell& c : cells) {
            tags << c.tag();
            costs << cost_of(c);
        }
        int workers = qEnvironmentVariableIntValue("QUORLAN_MATRIX_WORKERS");
        if (workers <= 0)
            workers = 8;
        const ShardedRun r = run_sharded(QStringLiteral("FaultMatrix"), QStringLiteral("cell"), tags, costs, workers);
        for (const QString& p : r.problems)
            std::printf("  %s\n", qPrintable(p));
        std::printf("longest stand-still of the window: %lld ms (%s)\n", static_cast<long long>(r.longest_gap),
                    qPrintable(r.longest_gap_row));
        std::printf("fault matrix: %d cells run, %d held (%d processes, %.0f s)\n", r.run, r.held, workers,
                    r.seconds);
        std::fflush(stdout);
        QVERIFY2(r.in_time, "the cells did not finish in time");
        QCOMPARE(r.held, r.run);
    }
};

int main(int argc, char** argv)
{
    g_cells_named = rows_named(argc, argv, "cell");
    QApplication app(argc, argv);
    init_resources();
    FaultMatrix test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fault_matrix.moc"
