// Shared helpers of the upgrade tests: the engine's test clock, image files
// built from records, the wire as tokens, the engine's signals in order, and
// a stand-in for the window around an engine.
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

// A test that clicks "Upgrade" means it, unless it puts a question of its
// own in place; the record of a run goes to the test's own folder, never to
// the user's application data.
inline bool answer_yes(QWidget*, const QString&, const QString&) { return true; }

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

// The engine's pauses, recorded as its constants ask for them, waited
// divided by g_divisor (0: not at all). g_before_sleep runs on the engine's
// thread before each one. (std::mutex: ThreadSanitizer sees its order.)
inline std::atomic<int> g_divisor{1};
inline std::mutex g_sleep_mutex;
inline QList<int> g_sleeps;
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

inline void set_before_sleep(std::function<void(int)> hook)
{
    std::lock_guard<std::mutex> lock(g_sleep_mutex);
    g_before_sleep = std::move(hook);
}

// Forgets the recorded pauses and the hook.
inline void reset_sleeps()
{
    std::lock_guard<std::mutex> lock(g_sleep_mutex);
    g_sleeps.clear();
    g_before_sleep = nullptr;
}

inline QList<int> recorded_sleeps()
{
    std::lock_guard<std::mutex> lock(g_sleep_mutex);
    return g_sleeps;
}

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
    for (int i = 0; i < records.size(); ++i) {
        const int k = scatter ? records.size() - 1 - i : i;
        if (!records[k].type)
            continue;
        if (scatter)
            image += payload(37, 1000 + k);
        const uint32_t fields[] = {records[k].type, uint32_t(records[k].data.size()), uint32_t(image.size()),
                                   0xA5A5A5A5u}; // reserved: any value
        for (int f = 0; f < 4; ++f)
            put32(image, k * 16 + 4 * f, fields[f]);
        image += records[k].data;
    }
    return image;
}

inline QString write_file(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile f(dir.filePath(name));
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
    return f.fileName();
}

inline std::vector<uint8_t> bytes(const QByteArray& b) { return std::vector<uint8_t>(b.begin(), b.end()); }

// The unit's device on the bus now (a new one after the MCU2 restart), or null.
inline std::shared_ptr<sim::SimDevice> current_device(const sim::SimUnit& unit)
{
    for (const auto& d : sim::VirtualBus::instance().devices())
        if (&d->unit() == &unit && d->plugged())
            return d;
    return nullptr;
}

// All transfers the unit saw, on every device it has been, in time order.
inline std::vector<sim::Transfer> wire(const std::shared_ptr<sim::SimDevice>& first)
{
    std::vector<sim::Transfer> all = first->log();
    for (const auto& d : sim::VirtualBus::instance().devices())
        if (d != first && &d->unit() == &first->unit()) {
            const auto log = d->log();
            all.insert(all.end(), log.begin(), log.end());
        }
    std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.t_us < b.t_us; });
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
        QString s = QStringLiteral("W%1").arg(t.data.size());
        if (t.kind != sim::Transfer::Bulk) {
            if (upgrade_only && !upgrade_code(t.bRequest))
                continue;
            s = QString::number(t.bRequest, 16).toUpper();
            if (!(t.bmRequestType & 0x80) && !t.data.empty() && (timed || t.wLength == 1))
                s += '=' + QByteArray(reinterpret_cast<const char*>(t.data.data()), int(t.data.size())).toHex()
                                 .toUpper();
        }
        out << s + (timed ? QStringLiteral("@%1").arg(t.timeout_ms) : QString()) + (t.result < 0 ? "!" : "");
    }
    return out;
}

// The tokens with runs of the same one written "X*n".
inline QString sequence(const QStringList& toks)
{
    QStringList out;
    for (int i = 0, j = 0; i < toks.size(); i = j) {
        while (j < toks.size() && toks[j] == toks[i])
            ++j;
        out << (j - i > 1 ? QStringLiteral("%1*%2").arg(toks[i]).arg(j - i) : toks[i]);
    }
    return out.join(QLatin1Char(' '));
}

// What the engine told the window, in order: "M:" message, "D:" debug
// line, "P:" progress, and its requests for help. The engine's thread adds.
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
        // Element by element, so the list's block is never shared with the
        // engine's thread (see DebugCapture::lines).
        std::lock_guard<std::mutex> lock(m);
        QStringList copy;
        copy.reserve(list.size());
        for (const QString& e : list)
            copy.append(e);
        return copy;
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
    QString last_message() const { return messages().value(messages().size() - 1); }
    bool has(const QString& e) const { return all().contains(e); }
    void clear()
    {
        std::lock_guard<std::mutex> lock(m);
        list.clear();
    }

private:
    mutable std::mutex m;
    QStringList list;
};

inline void watch(updateThread* engine, QObject* context, Events* ev)
{
    auto note = [ev](const char* e) { return [ev, e] { ev->add(QLatin1String(e)); }; };
    QObject::connect(engine, &updateThread::refresh_update_text, context, [ev](QString t) { ev->add("M:" + t); });
    QObject::connect(engine, &updateThread::refresh_debug_text, context, [ev](QString t) { ev->add("D:" + t); });
    QObject::connect(engine, &updateThread::refresh_horizen_value, context,
                     [ev](int v) { ev->add(QStringLiteral("P:%1").arg(v)); });
    QObject::connect(engine, &updateThread::fpga_upfailed, context, note("fpga_upfailed"));
    QObject::connect(engine, &updateThread::mcu2_restart, context, note("mcu2_restart"));
    QObject::connect(engine, &updateThread::inqure_hi3798_version, context, note("asked for the HI3798"));
    QObject::connect(engine, &updateThread::isdone, context, note("isdone"));
}

// Plays the window for an engine of its own: a libusb handle on the unit,
// closed and reopened around the MCU2 restart, and the HI3798 answer, both
// given on the engine's thread at once.
class Harness
{
public:
    bool hi3798_ready = true;
    // When set, the reopen after the MCU2 restart waits until the unit's
    // restart is over (the window's 4 s wait, not waited).
    sim::SimUpgrade* restarting = nullptr;
    // Called with the engine before it starts (to connect to it).
    std::function<void(updateThread*)> on_engine;

    bool open() { return libusb_init(&ctx) >= 0 && reopen(); }

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
        if (!handle)
            return;
        QMutexLocker lock(&usb_mutex);
        usb::retire_handle_locked(handle);
        libusb_release_interface(handle, 0);
        libusb_close(handle);
        handle = nullptr;
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
        QObject::connect(&engine, &updateThread::mcu2_update, &engine, [&](bool open) {
            ev.add(open ? QStringLiteral("mcu2_update(true)") : QStringLiteral("mcu2_update(false)"));
            engine.set_dev_handle(nullptr);
            if (!open) {
                close_handle();
                return;
            }
            if (restarting)
                restarting->waitRestartIdle(std::chrono::seconds(10));
            reopen();
            engine.set_dev_handle(handle);
        }, Qt::DirectConnection);
        QObject::connect(&engine, &updateThread::inqure_hi3798_version, &engine, [&] {
            ev.add(QStringLiteral("inqure_hi3798_version"));
            engine.essert_hi3798_ver(hi3798_ready);
        }, Qt::DirectConnection);
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

// The simulator numbers the targets as the engine does.
inline Up::Target sim_target(uint32_t type)
{
    const fw::Target* t = fw::find_target(type);
    return t ? Up::Target(t->index) : Up::NoTarget;
}

} // namespace upgrade_support
