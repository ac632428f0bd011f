// Shared helpers of the upgrade tests: the engine's test clock, image
// files built from records, the wire as tokens, the engine's signals in
// order, a stand-in for the window around an engine, and a closer of
// message boxes.
#pragma once

#include "testsupport.h"

#include "firmware_image.h"
#include "sim_upgrade.h"
#include "update_thread.h"
#include "upgrade_control.h"
#include "usb_transport.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <functional>
#include <libusb.h>
#include <memory>
#include <mutex>

namespace upgrade_support {

using namespace testsupport;
using Up = sim::SimUpgrade;

// ------------------------------------------------------------ the window's defaults

// The window asks before it flashes: a test that clicks "Upgrade" means
// it, unless it puts a question of its own in place. The record of a run
// in progress goes to a folder of the test program's own, never to the
// user's application data.
inline bool answer_yes(QWidget*, const QString&, const QString&)
{
    return true;
}

inline QString process_record_folder()
{
    static QTemporaryDir dir;
    return dir.path();
}

inline const bool g_upgrade_defaults = [] {
    upgrade_ui::set_confirm_upgrade_function(&answer_yes);
    upgrade_ui::set_record_folder(process_record_folder());
    return true;
}();

// ------------------------------------------------------------ the clock

// The engine's pauses are recorded; a test may run them faster, or not wait
// them at all (divisor 0). The engine's own constants are what is
// recorded. (std::mutex, not QMutex: ThreadSanitizer sees the order it
// gives.)
inline std::atomic<int> g_divisor{1};
inline std::mutex g_sleep_mutex;
inline QList<int> g_sleeps;
// Called on the engine's thread before a pause of that many ms.
inline std::function<void(int)> g_before_sleep;

inline void test_sleep(int ms)
{
    std::function<void(int)> before;
    {
        std::lock_guard<std::mutex> lock(g_sleep_mutex);
        g_sleeps << ms;
        before = g_before_sleep;
    }
    if (before)
        before(ms);
    if (ms > 0 && g_divisor.load() > 0)
        QThread::usleep(static_cast<unsigned long>(ms) * 1000 / static_cast<unsigned long>(g_divisor.load()));
}

inline QList<int> recorded_sleeps()
{
    std::lock_guard<std::mutex> lock(g_sleep_mutex);
    return g_sleeps;
}

// ------------------------------------------------------------ images

inline QByteArray payload(int size, int seed)
{
    QByteArray b(size, '\0');
    uint32_t x = uint32_t(seed) * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        b[i] = char(x >> 24);
    }
    return b;
}

struct Part
{
    uint32_t type = 0; // 0: record not used
    QByteArray data;
};

inline void put32(QByteArray& b, int at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char(v >> (8 * i));
}

// The header, then the payloads. Scattered: in reverse order with junk
// between them, so that only the header's offsets can find them.
inline QByteArray build_image(const QList<Part>& records, bool scatter = false)
{
    QByteArray image(fw::kHeaderSize, '\0');
    QList<int> order;
    for (int k = 0; k < records.size(); ++k)
        order << k;
    if (scatter)
        std::reverse(order.begin(), order.end());
    for (int k : order) {
        const Part& p = records[k];
        if (!p.type)
            continue;
        if (scatter)
            image += payload(37, 1000 + k);
        const int offset = image.size();
        image += p.data;
        put32(image, k * 16, p.type);
        put32(image, k * 16 + 4, uint32_t(p.data.size()));
        put32(image, k * 16 + 8, uint32_t(offset));
        put32(image, k * 16 + 12, 0xA5A5A5A5u); // reserved: any value
    }
    return image;
}

inline QString write_file(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
    f.close();
    return path;
}

inline std::vector<uint8_t> bytes(const QByteArray& b)
{
    return std::vector<uint8_t>(b.begin(), b.end());
}

// ------------------------------------------------------------ the wire

// The unit's device that is on the bus now (a new one after the MCU2
// restart), or null.
inline std::shared_ptr<sim::SimDevice> current_device(const sim::SimUnit& unit)
{
    for (const auto& d : sim::VirtualBus::instance().devices())
        if (&d->unit() == &unit && d->plugged())
            return d;
    return nullptr;
}

// All transfers the unit saw, on every device it has been (it comes back
// as a new device after the MCU2 restart), in time order.
inline std::vector<sim::Transfer> wire(const std::shared_ptr<sim::SimDevice>& first)
{
    std::vector<std::shared_ptr<sim::SimDevice>> devs{first};
    for (const auto& d : sim::VirtualBus::instance().devices())
        if (d != first && &d->unit() == &first->unit())
            devs.push_back(d);
    std::vector<sim::Transfer> all;
    for (const auto& d : devs) {
        const auto log = d->log();
        all.insert(all.end(), log.begin(), log.end());
    }
    std::stable_sort(all.begin(), all.end(),
                     [](const sim::Transfer& a, const sim::Transfer& b) { return a.t_us < b.t_us; });
    return all;
}

inline bool upgrade_code(uint8_t c)
{
    return (c >= 0xB0 && c <= 0xBF) || (c >= 0xD0 && c <= 0xD3) || (c >= 0xF1 && c <= 0xF5) || c == 0xF8;
}

// One token per transfer: the request code in hex ("=xx" with a one-byte
// OUT payload), "W<n>" for a bulk write of n bytes, "!" when it failed.
// Timed: any OUT payload in hex ("BF=64000000") and "@<timeout ms>".
inline QStringList tokens(const std::vector<sim::Transfer>& log, bool upgrade_only = false, bool timed = false)
{
    QStringList out;
    for (const sim::Transfer& t : log) {
        QString s;
        if (t.kind == sim::Transfer::Bulk) {
            s = QStringLiteral("W%1").arg(t.data.size());
        } else {
            if (upgrade_only && !upgrade_code(t.bRequest))
                continue;
            s = QString::number(t.bRequest, 16).toUpper();
            if (!(t.bmRequestType & 0x80) && !t.data.empty() && (timed || t.wLength == 1))
                s += '=' + QByteArray(reinterpret_cast<const char*>(t.data.data()), int(t.data.size())).toHex().toUpper();
        }
        if (timed)
            s += QStringLiteral("@%1").arg(t.timeout_ms);
        if (t.result < 0)
            s += QLatin1Char('!');
        out << s;
    }
    return out;
}

// The tokens with runs of the same one written "X*n".
inline QString sequence(const QStringList& toks)
{
    QStringList out;
    for (int i = 0; i < toks.size();) {
        int j = i;
        while (j < toks.size() && toks[j] == toks[i])
            ++j;
        out << (j - i > 1 ? QStringLiteral("%1*%2").arg(toks[i]).arg(j - i) : toks[i]);
        i = j;
    }
    return out.join(QLatin1Char(' '));
}

inline int count_of(const QStringList& toks, const QString& tok)
{
    return int(std::count(toks.begin(), toks.end(), tok));
}

// ------------------------------------------------------------ one run

// What the engine told the window, in order: "M:" message, "D:" debug
// line, "P:" progress, and its requests for help.
class Events
{
public:
    void add(const QString& e)
    {
        std::lock_guard<std::mutex> lock(m);
        list << e;
    }
    QStringList all() const
    {
        std::lock_guard<std::mutex> lock(m);
        return list;
    }
    QStringList with(const QString& prefix) const
    {
        QStringList out;
        for (const QString& e : all())
            if (e.startsWith(prefix))
                out << e.mid(prefix.size());
        return out;
    }
    QStringList messages() const { return with(QStringLiteral("M:")); }
    QStringList debug() const { return with(QStringLiteral("D:")); }
    QList<int> progress() const
    {
        QList<int> out;
        for (const QString& p : with(QStringLiteral("P:")))
            out << p.toInt();
        return out;
    }
    QString last_message() const
    {
        const QStringList m = messages();
        return m.isEmpty() ? QString() : m.last();
    }
    bool has(const QString& e) const { return all().contains(e); }
    void clear()
    {
        std::lock_guard<std::mutex> lock(m);
        list.clear();
    }

private:
    mutable std::mutex m; // the engine's thread adds too
    QStringList list;
};

inline void watch(updateThread* engine, QObject* context, Events* ev)
{
    QObject::connect(engine, &updateThread::refresh_update_text, context,
                     [ev](QString t) { ev->add(QStringLiteral("M:") + t); });
    QObject::connect(engine, &updateThread::refresh_debug_text, context,
                     [ev](QString t) { ev->add(QStringLiteral("D:") + t); });
    QObject::connect(engine, &updateThread::refresh_horizen_value, context,
                     [ev](int v) { ev->add(QStringLiteral("P:%1").arg(v)); });
    QObject::connect(engine, &updateThread::fpga_upfailed, context,
                     [ev] { ev->add(QStringLiteral("fpga_upfailed")); });
    QObject::connect(engine, &updateThread::mcu2_restart, context,
                     [ev] { ev->add(QStringLiteral("mcu2_restart")); });
    QObject::connect(engine, &updateThread::inqure_hi3798_version, context,
                     [ev] { ev->add(QStringLiteral("asked for the HI3798")); });
    QObject::connect(engine, &updateThread::isdone, context, [ev] { ev->add(QStringLiteral("isdone")); });
}

// Plays the window for an engine of its own: a libusb handle on the unit,
// closed and reopened around the MCU2 restart, and the HI3798 answer.
// Both answers are given on the engine's thread, at once.
class Harness
{
public:
    bool hi3798_ready = true;
    // When set, the reopen after the MCU2 restart waits until the unit's
    // restart is over (it plays the window's 4 s wait without waiting it).
    sim::SimUpgrade* restarting = nullptr;
    // Called with the engine before it starts (to connect to it).
    std::function<void(updateThread*)> on_engine;

    bool open()
    {
        if (libusb_init(&ctx) < 0)
            return false;
        return reopen();
    }

    bool reopen()
    {
        handle = libusb_open_device_with_vid_pid(ctx, 0x0483, 0x5868);
        if (!handle)
            return false;
        libusb_claim_interface(handle, 0);
        usb::adopt_handle(handle);
        return true;
    }

    void close_handle()
    {
        if (handle) {
            QMutexLocker lock(&usb_mutex);
            usb::retire_handle_locked(handle);
            libusb_release_interface(handle, 0);
            libusb_close(handle);
            handle = nullptr;
        }
    }

    void close()
    {
        close_handle();
        if (ctx)
            libusb_exit(ctx);
        ctx = nullptr;
    }

    ~Harness() { close(); }

    // Runs one engine on `path` to its end.
    bool run(const QString& path, Events& ev, int timeout_ms = 30000)
    {
        updateThread engine;
        QObject context;
        engine.set_file_path(path);
        engine.set_dev_handle(handle);
        watch(&engine, &context, &ev);
        QObject::connect(
            &engine, &updateThread::mcu2_update, &engine,
            [&](bool open) {
                ev.add(open ? QStringLiteral("mcu2_update(true)") : QStringLiteral("mcu2_update(false)"));
                if (!open) {
                    engine.set_dev_handle(nullptr);
                    close_handle();
                } else {
                    if (restarting)
                        restarting->waitRestartIdle(std::chrono::seconds(10));
                    reopen();
                    engine.set_dev_handle(handle);
                }
            },
            Qt::DirectConnection);
        QObject::connect(
            &engine, &updateThread::inqure_hi3798_version, &engine,
            [&] {
                ev.add(QStringLiteral("inqure_hi3798_version"));
                engine.essert_hi3798_ver(hi3798_ready);
            },
            Qt::DirectConnection);
        if (on_engine)
            on_engine(&engine);
        engine.start();
        const bool done = wait_for([&] { return ev.has(QStringLiteral("isdone")); }, timeout_ms);
        engine.wait();
        failed_stage = engine.failed_stage();
        failed_type = engine.failed_type();
        return done;
    }

    // What the last run told about itself.
    updateThread::Stage failed_stage = updateThread::Stage::None;
    uint32_t failed_type = 0;

    libusb_context* ctx = nullptr;
    libusb_device_handle* handle = nullptr;
};

constexpr uint32_t kMcu1 = 0x84, kFpga = 0x85, kBoot = 0x81, kKernel = 0x82, kFs = 0x83, kMcu2 = 0x86,
               kEdid = 0x87, kHi3516 = 0x88, kHi3798 = 0x89;

inline Up::Target sim_target(uint32_t type)
{
    switch (type) {
    case kMcu1: return Up::Mcu1;
    case kFpga: return Up::Fpga;
    case kBoot: return Up::Bootloader;
    case kKernel: return Up::Kernel;
    case kFs: return Up::FileSystem;
    case kMcu2: return Up::Mcu2;
    case kEdid: return Up::Edid;
    case kHi3516: return Up::Hi3516;
    case kHi3798: return Up::Hi3798;
    default: return Up::NoTarget;
    }
}


} // namespace upgrade_support
