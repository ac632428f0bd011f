// A long, scripted run of the real tool (start page, bus watcher thread,
// main window) against a simulated ground unit: the unit is pulled out and
// put back, requests fail, settings are changed, the units are paired and
// firmware is upgraded now and then, all from one seeded random sequence so
// that a run can be repeated. The upgrades take random images of several
// targets, meet request faults, refusals of the unit, unplugs and now and
// then an attempt to close the window; after each one that reports success
// the unit's flash must hold exactly the image's payloads. It prints its
// figures at the end.
//   quorlan-soak [--duration SECONDS] [--seed N] [--engine-speed N] [--verbose]
// --engine-speed divides the upgrade engine's pauses (default 10), so that
// more upgrades fit into a run; 1 keeps the protocol's own.
// Exits 0 when the run held; 1 when the memory grew by 5 MB or more after
// the first minute, the tool did not end connected and polling, a reported
// success left other bytes in the flash, or a close let the application go
// on with the upgrade engine running; 3 on a hang (the user-interface
// thread stopped for too long). A crash ends it with the signal.
#include "firmware_image.h"
#include "mainpage.h"
#include "sim_bus.h"
#include "sim_link.h"
#include "sim_unit.h"
#include "sim_upgrade.h"
#include "testsupport.h"
#include "ui_wireless_video_link.h"
#include "update_thread.h"
#include "upgrade_control.h"
#include "wireless_video_link.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <unistd.h>

namespace {

// Memory may grow this much after the first minute before the run fails.
constexpr long kGrowthLimitKb = 5 * 1024;
// The user-interface thread may be busy this long without a hang: the
// longest legitimate block is a few 2 s transfer timeouts in a row.
constexpr int kHangLimitMs = 30000;
// Time allowed at the end to connect again and poll.
constexpr int kFinalConnectMs = 20000;

long rss_kb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// The tool's debug output: counted and kept for the end of a failed run
// only, so that it neither floods the terminal nor grows without bound.
std::mutex g_log_mutex;
std::deque<QString> g_last_lines;
std::atomic<long> g_debug_lines{0};
bool g_verbose = false;

void message_handler(QtMsgType, const QMessageLogContext&, const QString& msg)
{
    ++g_debug_lines;
    std::lock_guard<std::mutex> lock(g_log_mutex);
    if (g_verbose)
        std::fprintf(stderr, "%s\n", qPrintable(msg));
    g_last_lines.push_back(msg);
    if (g_last_lines.size() > 200)
        g_last_lines.pop_front();
}

// Beats on the user-interface thread; a watcher thread ends the process
// when the beats stop, printing where the run was.
std::atomic<int64_t> g_last_beat_ms{0};
std::atomic<int64_t> g_longest_gap_ms{0};
std::atomic<bool> g_stop_watchdog{false};
std::atomic<const char*> g_phase{"start"};

int64_t now_ms()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void watchdog()
{
    while (!g_stop_watchdog) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const int64_t gap = now_ms() - g_last_beat_ms;
        if (gap > kHangLimitMs) {
            std::fprintf(stderr, "HANG: user-interface thread silent for %lld ms (phase %s)\n",
                         static_cast<long long>(gap), g_phase.load());
            std::lock_guard<std::mutex> lock(g_log_mutex);
            for (const QString& l : g_last_lines)
                std::fprintf(stderr, "  | %s\n", qPrintable(l));
            std::fflush(stderr);
            std::_Exit(3);
        }
    }
}

// The upgrade engine's pauses, shortened by the chosen factor; like the
// engine's own, cut short when it is told to stop.
std::atomic<int> g_engine_speed{10};

void engine_sleep(int ms)
{
    QThread* const self = QThread::currentThread();
    QElapsedTimer t;
    t.start();
    const qint64 total = ms > 0 ? ms * 1000LL / g_engine_speed.load() : 0; // us
    while (!self->isInterruptionRequested()) {
        const qint64 left = total - t.nsecsElapsed() / 1000;
        if (left <= 0)
            return;
        QThread::usleep(static_cast<unsigned long>(std::min<qint64>(left, 5000)));
    }
}

// The answer to the question asked when the window is closed during an
// upgrade, decided by the soak before it closes the window.
bool g_close_anyway = false;
int g_close_questions = 0;
bool close_question(QWidget*, const QString&, const QString&)
{
    ++g_close_questions;
    return g_close_anyway;
}

// Answers every modal message box the tool shows (a failed pairing, a
// restore confirmation), as a user who reads it and goes on would.
class BoxAnswerer : public QObject
{
public:
    BoxAnswerer()
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            ++answered;
            for (auto b : {QMessageBox::Yes, QMessageBox::Ok})
                if (QAbstractButton* button = box->button(b)) {
                    button->click();
                    return;
                }
            box->done(QMessageBox::Cancel);
        });
        timer.start(250);
    }
    int answered = 0;

private:
    QTimer timer;
};

struct Figures
{
    long ticks = 0;            // poll timer ticks
    int connects = 0;          // connections the window reported
    int unplugs = 0;           // pulled out by the soak (plain or during a request)
    int settings_started = 0;  // settings the user started
    int settings_received = 0; // setting requests the unit received
    int pairings = 0;          // pairings started (switch or unit button)
    int failures = 0;          // request failures injected
    int setting_faults = 0;    // rejected / ignored / odd command status answers
    int stalls = 0;            // times the poll stood still with the unit attached
    int64_t longest_stall_ms = 0;
    int upgrades = 0;          // upgrades started
    int upgrade_successes = 0;
    QMap<QString, int> upgrade_failures; // by the engine's last message
    int upgrade_faults = 0;    // request and unit faults set for upgrades
    int upgrade_unplugs = 0;   // unplugs while an upgrade ran
    int close_attempts = 0;    // closes of the window during an upgrade
    int close_kept = 0;        // ... answered "keep running"
    int close_stopped = 0;     // ... answered "close anyway"
    int close_left_running = 0; // closes that returned with the engine running: must be 0
    int flash_checked = 0;     // targets compared after a success
    int flash_mismatches = 0;  // must be 0
    int claim_mismatches = 0;  // success reported by the engine but not on the page, or back: must be 0
    long rss_start = 0, rss_1min = -1, rss_end = 0, rss_max = 0;
};

class Soak : public QObject
{
public:
    Soak(int seconds, uint32_t seed)
        : duration_ms(int64_t(seconds) * 1000)
        , rng(seed)
    {
        unit = testsupport::make_ground_unit();
        unit->link().setNoiseSeed(seed | 1u);
        unit->setHi3798Version("V1.0.0");
        // The second controller's restart: off the bus and back, through the
        // soak's own plug so that the unit is never on the bus twice.
        sim::SimUpgrade& up = unit->upgrade();
        up.setRestartTiming(std::chrono::milliseconds(20), std::chrono::milliseconds(4000 / g_engine_speed / 4));
        up.setRestartHandler([this](bool present) {
            std::lock_guard<std::mutex> lock(plug_mutex);
            if (!present) {
                if (auto d = current_device())
                    sim::VirtualBus::instance().unplug(d);
            } else if (!current_device()) {
                sim::VirtualBus::instance().plug(unit);
            }
        });
        updateThread::set_sleep_function(&engine_sleep);
        upgrade_ui::set_close_question_function(&close_question);
        // The operator says yes to every flash the soak starts.
        upgrade_ui::set_confirm_upgrade_function([](QWidget*, const QString&, const QString&) { return true; });
        page = std::make_unique<MainPage>();
        page->show();
        w = page->main_window();
        ui = w->form();
        connect(w, &Wireless_Video_Link::dev_connect_status, this, [this](bool up) {
            if (up)
                ++fig.connects;
        });
        connect(w->poll_timer(), &QTimer::timeout, this, [this] {
            ++fig.ticks;
            last_tick_ms = clock.elapsed();
        });
        connect(&beat, &QTimer::timeout, this, [] { g_last_beat_ms = now_ms(); });
        beat.start(100);
        connect(&housekeeping, &QTimer::timeout, this, [this] { keep_house(); });
        housekeeping.start(1000);
        connect(&actions, &QTimer::timeout, this, [this] { act(); });
        actions.setSingleShot(true);
        connect(&upgrade_watch, &QTimer::timeout, this, [this] { check_upgrade_end(); });
        upgrade_watch.start(100);
        fig.rss_start = rss_kb();
    }

    ~Soak() override
    {
        unit->upgrade().waitRestartIdle(std::chrono::milliseconds(5000));
        unit->upgrade().setRestartHandler(nullptr);
        updateThread::set_sleep_function(nullptr);
        upgrade_ui::set_close_question_function(nullptr);
        upgrade_ui::set_confirm_upgrade_function(nullptr);
        Wireless_Video_Link* window = page ? page->main_window() : nullptr;
        page.reset();
        delete window; // the start page never deletes it
    }

    int run()
    {
        clock.start();
        g_phase = "first connection";
        plug();
        if (!wait_until([this] { return connected(); }, kFinalConnectMs)) {
            std::printf("the tool did not connect to the unit at the start\n");
            return 1;
        }
        g_phase = "random";
        schedule_next();
        wait_until([this] { return clock.elapsed() >= duration_ms; }, INT32_MAX);
        actions.stop();
        return finish();
    }

private:
    bool connected() const
    {
        return w->device_handle() && ui->label_connect->text() == QLatin1String("Connected");
    }
    bool polling() const { return w->poll_timer()->isActive(); }
    // The Update page locks the window while a run lasts; the user can do
    // nothing else then.
    bool upgrading() const { return upgrade.engine || w->upgrade_running(); }
    bool user_can_act() const
    {
        return !busy && !QApplication::activeModalWidget() && connected() && !upgrading();
    }

    static bool wait_until(const std::function<bool()>& cond, int64_t timeout_ms)
    {
        QElapsedTimer t;
        t.start();
        while (!cond()) {
            if (t.elapsed() > timeout_ms)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(5);
        }
        return true;
    }

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }

    // The unit's device on the bus, if it is there (after the second
    // controller's restart it is a new one).
    std::shared_ptr<sim::SimDevice> current_device() const
    {
        for (const auto& d : sim::VirtualBus::instance().devices())
            if (d->unitPtr() == unit && d->plugged())
                return d;
        return nullptr;
    }

    void plug()
    {
        std::lock_guard<std::mutex> lock(plug_mutex);
        dev = current_device();
        if (!dev)
            dev = testsupport::plug(unit);
    }

    void unplug_for_a_while()
    {
        if (auto d = current_device())
            dev = d;
        if (!dev || !dev->plugged())
            return;
        ++fig.unplugs;
        if (upgrade.engine)
            ++fig.upgrade_unplugs;
        if (pick(3) == 0) {
            // Pulled out in the middle of whatever request comes next.
            dev->failNext(sim::SimDevice::kAnyControl, sim::Fault::Unplug);
            ++fig.failures;
        } else {
            sim::VirtualBus::instance().unplug(dev);
        }
        schedule_replug();
    }

    void schedule_replug()
    {
        if (replug_pending)
            return;
        replug_pending = true;
        QTimer::singleShot(300 + pick(3700), this, [this] {
            replug_pending = false;
            if (!finishing)
                plug();
        });
    }

    void inject_failure()
    {
        if (auto d = current_device())
            dev = d;
        if (!dev || !dev->plugged())
            return;
        if (upgrade.engine && upgrade.engine->isRunning()) {
            const QString f = inject_upgrade_failure();
            if (g_verbose)
                std::fprintf(stderr, "UPGRADE %d: request fault %s\n", fig.upgrades, qPrintable(f));
            return;
        }
        static const int kRequests[] = {sim::SimDevice::kAnyControl, 0xE6, 0xE7, 0xA1, 0xF9, 0xE1, 0xE3,
                                        0xF8, 0xC0, 0xCA, 0xEA, 0xEB, 0xCD, 0xCF};
        static const int kCodes[] = {-1, -4, -7, -9, int(sim::Fault::Short)};
        const int request = kRequests[pick(int(std::size(kRequests)))];
        const int code = kCodes[pick(int(std::size(kCodes)))];
        const int times = 1 + pick(3);
        dev->failNext(request, code, times);
        fig.failures += times;
    }

    void inject_setting_fault()
    {
        switch (pick(3)) {
        case 0: unit->link().rejectNextSettings(1); break;
        case 1: unit->link().ignoreNextSettings(1); break;
        default: unit->link().answerNextSettingsWith(0x02, 1); break;
        }
        ++fig.setting_faults;
    }

    static void choose(QComboBox* box, int index, const std::function<void(int)>& slot)
    {
        if (box->count() == 0)
            return;
        box->setCurrentIndex(index % box->count());
        slot(box->currentIndex());
    }

    // One setting, as the user's click or choice calls it.
    void change_setting()
    {
        ++fig.settings_started;
        const int k = pick(17);
        const int any = pick(64);
        switch (k) {
        case 0: choose(ui->comboBox_freq, any, [this](int i) { w->on_comboBox_freq_activated(i); }); break;
        case 1: w->on_pushButton_manual_clicked(); break;
        case 2: w->on_pushButton_auto_clicked(); break;
        case 3: choose(ui->comboBox_downlink, any, [this](int i) { w->on_comboBox_downlink_activated(i); }); break;
        case 4: choose(ui->comboBox_region, any, [this](int i) { w->on_comboBox_region_activated(i); }); break;
        case 5: w->on_radioButton_antenna_0_clicked(); break;
        case 6: w->on_radioButton_antenna_1_clicked(); break;
        case 7: w->on_radioButton_enable_antenna_clicked(); break;
        case 8: w->on_radioButton_ARQ_enable_clicked(); break;
        case 9: w->on_radioButton_ARQ_disable_clicked(); break;
        case 10: choose(ui->comboBox_RadioRate, any, [this](int i) { w->on_comboBox_RadioRate_activated(i); }); break;
        case 11: pick(2) ? w->on_radioButton_ppm_clicked() : w->on_radioButton_sbus_clicked(); break;
        case 12: pick(2) ? w->on_radioButton_usb_clicked() : w->on_radioButton_uart_clicked(); break;
        case 13: pick(2) ? w->on_radioButton_RO_clicked() : w->on_radioButton_RT_clicked(); break;
        case 14: w->on_set_encrypt_key(pick(2) ? QStringLiteral("0123456789abcdef")
                                               : QStringLiteral("0123456789abcdef0123456789ABCDEF"));
                 break;
        case 15: w->on_set_encrypt_enable(pick(2)); break;
        default: w->on_pushButton_restore_clicked(); break;
        }
    }

    void start_pairing()
    {
        ++fig.pairings;
        if (pick(2))
            w->set_BindMode(true);
        else
            unit->link().pressPairButton();
    }

    // ------------------------------------------------------------ upgrades

    struct Record
    {
        uint32_t type;
        QByteArray data;
    };

    static sim::SimUpgrade::Target sim_target(uint32_t type)
    {
        using U = sim::SimUpgrade;
        switch (type) {
        case 0x81: return U::Bootloader;
        case 0x82: return U::Kernel;
        case 0x83: return U::FileSystem;
        case 0x84: return U::Mcu1;
        case 0x85: return U::Fpga;
        case 0x86: return U::Mcu2;
        case 0x87: return U::Edid;
        case 0x88: return U::Hi3516;
        case 0x89: return U::Hi3798;
        default: return U::NoTarget;
        }
    }

    // One to four records of random targets (one may come twice) among the
    // ten, random sizes, the payloads in random order with junk between.
    QByteArray random_image(QList<Record>* records)
    {
        QByteArray file(fw::kHeaderSize, '\0');
        const int used = 1 + pick(4);
        QList<int> positions;
        for (int k = 0; k < fw::kRecordCount; ++k)
            positions.insert(pick(int(positions.size()) + 1), k);
        QList<std::pair<int, Record>> placed;
        for (int i = 0; i < used; ++i) {
            const uint32_t type = 0x81 + uint32_t(pick(9));
            // The HI3516 takes 64-byte chunks, each after a FIFO inquiry.
            const int size = type == 0x88 ? 1 + pick(1500) : pick(6) == 0 ? 1024 * (1 + pick(4)) : 1 + pick(6000);
            QByteArray data(size, '\0');
            for (char& c : data)
                c = char(pick(256));
            placed.push_back({positions[i], Record{type, data}});
        }
        std::sort(placed.begin(), placed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        QList<int> order;
        for (int i = 0; i < placed.size(); ++i)
            order.insert(pick(int(order.size()) + 1), i);
        for (int i : order) {
            file += QByteArray(pick(40), char(0xEE));
            const uint32_t fields[4] = {placed[i].second.type, uint32_t(placed[i].second.data.size()),
                                        uint32_t(file.size()), uint32_t(pick(1 << 30))};
            for (int f = 0; f < 4; ++f)
                for (int b = 0; b < 4; ++b)
                    file[placed[i].first * fw::kRecordSize + f * 4 + b] = char(fields[f] >> (8 * b));
            file += placed[i].second.data;
        }
        for (const auto& p : placed) // header order: the order they are sent in
            records->push_back(p.second);
        return file;
    }

    // A fault of the unit's for the coming run, on one of its targets.
    QString set_unit_fault(const QList<Record>& records)
    {
        using U = sim::SimUpgrade;
        U& up = unit->upgrade();
        const Record& r = records[pick(int(records.size()))];
        const U::Target t = sim_target(r.type);
        const fw::Target* ft = fw::find_target(r.type);
        ++fig.upgrade_faults;
        const QString name = QString::fromLatin1(U::targetName(t));
        switch (pick(5)) {
        case 0: {
            const int n = pick(r.data.size() / ft->chunk_size + 1);
            up.failProgramAtTransfer(t, n);
            return QStringLiteral("%1 program failed at transfer %2").arg(name).arg(n);
        }
        case 1: up.rejectCheck(t); return name + QStringLiteral(" check refused");
        case 2: up.setEraseInquiries(t, U::kNever); return name + QStringLiteral(" erase never done");
        case 3: {
            const int n = pick(2) ? U::kNever : 1 + pick(70);
            up.setFifoBusyInquiries(n);
            return QStringLiteral("FIFO busy %1").arg(n);
        }
        default: {
            const int n = pick(2) ? U::kNever : 1 + pick(70);
            up.setResultInquiries(n);
            return QStringLiteral("HI3798 result at %1").arg(n);
        }
        }
    }

    void clear_unit_faults()
    {
        using U = sim::SimUpgrade;
        U& up = unit->upgrade();
        for (int t = 0; t < U::TargetCount; ++t) {
            up.setEraseInquiries(U::Target(t), 1);
            up.rejectCheck(U::Target(t), false);
            up.failProgramAtTransfer(U::Target(t), -1);
        }
        up.setFifoBusyInquiries(0);
        up.setResultInquiries(1);
        up.setPreparationInquiries(1);
    }

    // A request of the upgrade fails, once or until the engine gives up.
    QString inject_upgrade_failure()
    {
        static const int kRequests[] = {0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA,
                                        0xBC, 0xBD, 0xBE, 0xBF, 0xD0, 0xD1, 0xD2, 0xD3, 0xF1, 0xF2, 0xF3,
                                        0xF4, 0xF5, 0xF8, sim::SimDevice::kBulk, sim::SimDevice::kBulk};
        static const int kCodes[] = {-1, -4, -7, -9, -9, int(sim::Fault::Short)};
        const int request = kRequests[pick(int(std::size(kRequests)))];
        const int code = kCodes[pick(int(std::size(kCodes)))];
        const int times = 1 + pick(3);
        dev->failNext(request, code, times);
        fig.failures += times;
        ++fig.upgrade_faults;
        return QStringLiteral("0x%1 %2 x%3").arg(request, 0, 16).arg(code).arg(times);
    }

    void start_upgrade()
    {
        QList<Record> records;
        const QByteArray file = random_image(&records);
        const QString path = image_dir.filePath(QStringLiteral("image%1.bin").arg(fig.upgrades % 2));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(file) != file.size())
            return;
        f.close();
        clear_unit_faults();
        QString faults;
        if (pick(3) == 0)
            faults += QStringLiteral(" unit fault %1").arg(set_unit_fault(records));
        if (pick(2) == 0)
            faults += QStringLiteral(" request fault %1").arg(inject_upgrade_failure());

        ui->lineEdit_file->setText(path);
        ui->pushButton_upgrade->click();
        auto* engine = w->findChild<updateThread*>();
        if (!engine || engine->isFinished() || !w->upgrade_running())
            return; // not started (the unit went away meanwhile)
        ++fig.upgrades;
        upgrade = Upgrade{};
        upgrade.engine = engine;
        upgrade.records = records;
        connect(engine, &updateThread::refresh_update_text, this, [this](const QString& t) { upgrade.last = t; });
        if (g_verbose) {
            QStringList parts;
            for (const Record& r : records)
                parts << QStringLiteral("%1 %2").arg(sim::SimUpgrade::targetName(sim_target(r.type))).arg(r.data.size());
            std::fprintf(stderr, "UPGRADE %d: %s;%s\n", fig.upgrades, qPrintable(parts.join(QStringLiteral(", "))),
                         qPrintable(faults));
        }
        if (pick(3) == 0) {
            // The user closes the window before the run is over.
            QTimer::singleShot(100 + pick(3000), this, [this, engine] { try_close(engine); });
        }
    }

    void try_close(updateThread* engine)
    {
        if (upgrade.engine != engine || !engine->isRunning())
            return;
        ++fig.close_attempts;
        g_close_anyway = pick(2) == 0;
        const int asked = g_close_questions;
        g_phase = "closing during an upgrade";
        const bool closed = w->close();
        g_phase = "random";
        if (g_close_questions == asked) {
            // The run ended just before: nothing to ask, the window went.
        } else if (closed) {
            ++fig.close_stopped;
            if (engine->isRunning())
                ++fig.close_left_running;
        } else {
            ++fig.close_kept;
        }
        if (!w->isVisible()) {
            // Started again, as the user would.
            w->show();
        }
    }

    // Once the window has been given back: the outcome, and after a
    // success the flash against the image.
    void check_upgrade_end()
    {
        if (!upgrade.engine || !upgrade.engine->isFinished() || w->upgrade_running())
            return;
        const bool ok = upgrade.engine->succeeded();
        if (ok != (upgrade.last == QLatin1String("Upgrade success")))
            ++fig.claim_mismatches;
        if (ok) {
            ++fig.upgrade_successes;
            // Several records of one target: the last one is what stays.
            QMap<int, QByteArray> expected;
            for (const Record& r : upgrade.records)
                expected[int(sim_target(r.type))] = r.data;
            for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
                const auto flash = unit->upgrade().flashed(sim::SimUpgrade::Target(it.key()));
                ++fig.flash_checked;
                if (flash.size() != size_t(it.value().size())
                    || std::memcmp(flash.data(), it.value().constData(), flash.size()) != 0) {
                    ++fig.flash_mismatches;
                    std::printf("MISMATCH: upgrade %d, %s: %zu bytes in the flash, %d in the image\n", fig.upgrades,
                                sim::SimUpgrade::targetName(sim::SimUpgrade::Target(it.key())), flash.size(),
                                int(it.value().size()));
                }
            }
        } else {
            ++fig.upgrade_failures[upgrade.last.isEmpty() ? QStringLiteral("(nothing said)") : upgrade.last];
        }
        if (g_verbose)
            std::fprintf(stderr, "UPGRADE %d: %s (%s)\n", fig.upgrades, ok ? "succeeded" : "failed",
                         qPrintable(upgrade.last));
        clear_unit_faults();
        upgrade = Upgrade{};
    }

    void schedule_next() { actions.start(500 + pick(3000)); }

    void act()
    {
        if (finishing)
            return;
        const int roll = pick(100);
        if (roll < 12) {
            unplug_for_a_while();
        } else if (roll < 40) {
            inject_failure();
        } else if (roll < 48) {
            inject_setting_fault();
        } else if (user_can_act()) {
            busy = true;
            g_phase = "user action";
            if (roll < 70)
                change_setting();
            else if (roll < 95)
                start_upgrade();
            else
                start_pairing();
            g_phase = "random";
            busy = false;
        }
        schedule_next();
    }

    void keep_house()
    {
        const int64_t t = clock.elapsed();
        const long rss = rss_kb();
        fig.rss_max = std::max(fig.rss_max, rss);
        if (fig.rss_1min < 0 && t >= 60000)
            fig.rss_1min = rss;
        // The simulated unit's own logs would grow with the run and count
        // as the tool's memory: take what is needed and drop them.
        fig.settings_received += int(unit->link().settingLog().size());
        unit->link().clearSettingLog();
        if (dev)
            dev->clearLog();
        if (auto d = current_device()) {
            dev = d;
            dev->clearLog();
        }
        // A unit pulled out by a fault on a later request is put back too
        // (not while the second controller's restart has it off the bus).
        if (!finishing && dev && !dev->plugged() && !current_device()
            && unit->upgrade().waitRestartIdle(std::chrono::milliseconds(0)))
            schedule_replug();
        // A poll that stands still while the unit is attached and nothing
        // holds it (a modal dialog, a setting's wait, an upgrade).
        const bool idle = connected() && !QApplication::activeModalWidget() && !busy && !upgrading();
        const int64_t still = t - last_tick_ms;
        if (idle && !polling() && still > 5000) {
            if (!in_stall) {
                ++fig.stalls;
                in_stall = true;
            }
            fig.longest_stall_ms = std::max(fig.longest_stall_ms, still);
        } else if (polling()) {
            in_stall = false;
        }
    }

    // No more faults; one last unplug and plug-in, as the user would after
    // any trouble; then the tool must connect, poll and take a setting.
    int finish()
    {
        finishing = true;
        g_phase = "finish";
        // An upgrade under way is let to its end first.
        wait_until([this] {
            check_upgrade_end();
            return !upgrade.engine;
        }, 300000);
        const bool connected_before = connected();
        const bool polling_before = connected_before && polling();
        wait_until([] { return !QApplication::activeModalWidget(); }, 30000);
        if (auto d = current_device())
            dev = d;
        if (dev) {
            dev->clearFaults();
            unit->link().clearSettingFaults();
            if (dev->plugged())
                sim::VirtualBus::instance().unplug(dev);
        }
        wait_until([this] { return !w->device_handle(); }, 5000);
        QThread::msleep(300);
        plug();
        const bool reconnected = wait_until([this] { return connected() && polling(); }, kFinalConnectMs);
        const long ticks_then = fig.ticks;
        const bool polls = reconnected && wait_until([&] { return fig.ticks >= ticks_then + 3; }, 6000);
        // A setting goes through: the unit ends on the new baud rate.
        bool setting_ok = false;
        if (polls) {
            const int target = unit->link().settings().baudIndex == 3 ? 1 : 3;
            ui->comboBox_RadioRate->setCurrentIndex(target);
            w->on_comboBox_RadioRate_activated(target);
            setting_ok = unit->link().settings().baudIndex == target && polling();
        }
        keep_house();
        fig.rss_end = rss_kb();

        const long base = fig.rss_1min >= 0 ? fig.rss_1min : fig.rss_start;
        const long growth = fig.rss_end - base;
        const int64_t secs = clock.elapsed() / 1000;
        std::printf("soak: %lld s, seed %u\n", static_cast<long long>(secs), seed_used);
        std::printf("  poll ticks            %ld\n", fig.ticks);
        std::printf("  connections           %d (reconnects %d)\n", fig.connects, std::max(0, fig.connects - 1));
        std::printf("  unplugs               %d\n", fig.unplugs);
        std::printf("  settings started      %d (requests received by the unit %d)\n", fig.settings_started,
                    fig.settings_received);
        std::printf("  pairings started      %d\n", fig.pairings);
        std::printf("  request failures      %d injected\n", fig.failures);
        std::printf("  setting answers       %d rejected/ignored/unknown\n", fig.setting_faults);
        std::printf("  message boxes         %d answered\n", boxes.answered);
        std::printf("  debug lines           %ld\n", g_debug_lines.load());
        std::printf("  upgrades              %d run, %d succeeded (engine pauses / %d)\n", fig.upgrades,
                    fig.upgrade_successes, g_engine_speed.load());
        for (auto it = fig.upgrade_failures.cbegin(); it != fig.upgrade_failures.cend(); ++it)
            std::printf("    failed: %-28s %d\n", qPrintable(it.key()), it.value());
        std::printf("  upgrade faults        %d set, %d unplugs during a run\n", fig.upgrade_faults,
                    fig.upgrade_unplugs);
        std::printf("  closes during a run   %d (kept running %d, stopped %d, engine left running %d)\n",
                    fig.close_attempts, fig.close_kept, fig.close_stopped, fig.close_left_running);
        std::printf("  flash after success   %d targets compared, %d mismatches\n", fig.flash_checked,
                    fig.flash_mismatches);
        std::printf("  claims                %d success reports that disagree with the page's text\n",
                    fig.claim_mismatches);
        std::printf("  poll stalls           %d with the unit attached (longest %lld ms)\n", fig.stalls,
                    static_cast<long long>(fig.longest_stall_ms));
        std::printf("  longest UI block      %lld ms\n", static_cast<long long>(g_longest_gap_ms.load()));
        std::printf("  RSS                   start %ld kB, 1 min %ld kB, end %ld kB, max %ld kB\n",
                    fig.rss_start, fig.rss_1min, fig.rss_end, fig.rss_max);
        std::printf("  growth after 1 min    %ld kB (limit %ld kB)\n", growth, kGrowthLimitKb);
        std::printf("  before the last plug  %s, %s\n", connected_before ? "connected" : "not connected",
                    polling_before ? "polling" : "not polling");
        std::printf("  final state           %s, %s, setting %s\n", reconnected ? "connected" : "NOT CONNECTED",
                    polls ? "polling" : "NOT POLLING", setting_ok ? "accepted" : "NOT ACCEPTED");

        const bool ok = growth < kGrowthLimitKb && reconnected && polls && setting_ok && fig.flash_mismatches == 0
                        && fig.close_left_running == 0 && fig.claim_mismatches == 0;
        std::printf("%s\n", ok ? "soak held" : "soak FAILED");
        if (!ok) {
            std::lock_guard<std::mutex> lock(g_log_mutex);
            for (const QString& l : g_last_lines)
                std::printf("  | %s\n", qPrintable(l));
        }
        std::fflush(stdout);
        return ok ? 0 : 1;
    }

public:
    uint32_t seed_used = 0;

private:
    int64_t duration_ms;
    std::mt19937 rng;
    std::shared_ptr<sim::SimUnit> unit;
    std::shared_ptr<sim::SimDevice> dev;
    std::unique_ptr<MainPage> page;
    Wireless_Video_Link* w = nullptr;
    Ui::Wireless_Video_Link* ui = nullptr;
    QElapsedTimer clock;
    QTimer beat, housekeeping, actions;
    BoxAnswerer boxes;
    Figures fig;
    int64_t last_tick_ms = 0;
    bool busy = false;
    bool finishing = false;
    bool in_stall = false;
    bool replug_pending = false;
    std::mutex plug_mutex; // the soak's plug and the unit's restart
    QTemporaryDir image_dir;
    QTimer upgrade_watch;
    struct Upgrade
    {
        QPointer<updateThread> engine;
        QList<Record> records;
        QString last; // the engine's last message
    } upgrade;
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");

    int seconds = 600;
    uint32_t seed = 1;
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "--duration" && i + 1 < argc)
            seconds = atoi(argv[++i]);
        else if (a == "--seed" && i + 1 < argc)
            seed = uint32_t(strtoul(argv[++i], nullptr, 10));
        else if (a == "--engine-speed" && i + 1 < argc)
            g_engine_speed = std::max(1, atoi(argv[++i]));
        else if (a == "--verbose")
            g_verbose = true;
        else {
            std::fprintf(stderr, "usage: %s [--duration SECONDS] [--seed N] [--engine-speed N] [--verbose]\n",
                         argv[0]);
            return 2;
        }
    }
    if (seconds < 1)
        seconds = 1;

    qInstallMessageHandler(message_handler);
    QApplication app(argc, argv);
    testsupport::init_resources();

    g_last_beat_ms = now_ms();
    std::thread dog(watchdog);
    // The longest silence of the user-interface thread, for the figures.
    std::thread gauge([] {
        while (!g_stop_watchdog) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const int64_t gap = now_ms() - g_last_beat_ms;
            if (gap > g_longest_gap_ms)
                g_longest_gap_ms = gap;
        }
    });

    int rc;
    {
        Soak soak(seconds, seed);
        soak.seed_used = seed;
        rc = soak.run();
    }
    g_stop_watchdog = true;
    dog.join();
    gauge.join();
    testsupport::reset_bus();
    return rc;
}
