// The tool's benchmark against the simulated unit (run by scripts/bench).
// Prints one name=value line per figure, then a table a person can read.
//   quorlan-bench [--quick] [--full] [--only PART]
//     --quick  a small image, fewer plug-ins and starts, 10 s idle runs and a
//              60 s memory run: for trying a change, not for the figures
//     --full   the memory run lasts the 5 minutes of the figure (the whole
//              benchmark then takes a little over 5 minutes); by default it
//              lasts 4 minutes so that everything fits in 5
//     --only   one part alone: startup, plug, poll, upgrade, idle or rss
// QUORLAN_BENCH_VERBOSE=1 adds the poll ticks page by page and the requests
// of each upgrade on the standard error stream.
//
// In this process: the upgrades, the poll ticks and the plug-ins, on the
// real start page and main window over the simulated bus. In processes of
// their own (bench_app.cpp), started from here: the start-ups, the idle CPU
// runs and the memory run, which go on alongside the rest.
#include "firmware_image.h"
#include "hotplug_thread.h"
#include "mainpage.h"
#include "sim_bus.h"
#include "sim_unit.h"
#include "ui_wireless_video_link.h"
#include "update_thread.h"
#include "upgrade_control.h"
#include "upgrade_model.h"
#include "wireless_video_link.h"

#include "app_main.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// ------------------------------------------------------------ helpers

int64_t now_ns()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// CPU time of the calling thread: what the thread itself spent, whatever
// else the machine was doing meanwhile.
int64_t thread_cpu_ns()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    // Nearest rank.
    size_t rank = size_t(std::ceil(p / 100.0 * double(v.size())));
    rank = std::clamp<size_t>(rank, 1, v.size());
    return v[rank - 1];
}

// Runs the event loop until `cond` holds or `timeout_ms` has passed.
bool wait_until(const std::function<bool()>& cond, int timeout_ms)
{
    QElapsedTimer clock;
    clock.start();
    QTimer wake; // the loop must come round to look at the clock
    wake.start(20);
    while (!cond()) {
        if (clock.elapsed() > timeout_ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void pump(int ms)
{
    wait_until([] { return false; }, ms);
}

// The tool's debug lines would flood the terminal; they are counted only.
std::atomic<long> g_debug_lines{0};
void quiet_handler(QtMsgType type, const QMessageLogContext&, const QString& msg)
{
    ++g_debug_lines;
    if (type == QtFatalMsg || type == QtCriticalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(msg));
}

std::shared_ptr<sim::SimUnit> make_ground_unit()
{
    auto unit = std::make_shared<sim::SimUnit>();
    unit->configure(sim::SimUnit::GroundUnit, "QL24G0000001", 0x020304, 1, 2, 3, 0x3440);
    unit->setHi3798Version("V1.0.0"); // else the HI3798 record is refused
    unit->link().setNoiseSeed(7);     // values that change from tick to tick
    return unit;
}

// ------------------------------------------------------------ figures

struct Figure
{
    std::string name;
    std::string value;
    std::string target; // empty: no target
    std::string note;
};

std::vector<Figure> g_figures;
std::vector<std::string> g_notes;

std::string fmt(double v, int decimals)
{
    if (std::isnan(v))
        return "nan";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

void figure(const std::string& name, double v, int decimals, const std::string& target = {},
            const std::string& note = {})
{
    g_figures.push_back({name, fmt(v, decimals), target, note});
    std::printf("%s=%s\n", name.c_str(), fmt(v, decimals).c_str());
    std::fflush(stdout);
}

void info(const std::string& name, const std::string& value)
{
    g_figures.push_back({name, value, {}, "(setting)"});
    std::printf("%s=%s\n", name.c_str(), value.c_str());
    std::fflush(stdout);
}

void note(const std::string& text)
{
    g_notes.push_back(text);
}

// The machine's load: the figures in wall-clock time are only as good as
// the machine was quiet.
std::string load_average()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return "?";
    const QList<QByteArray> parts = f.readAll().split(' ');
    return (parts.value(0) + " " + parts.value(1) + " " + parts.value(2)).toStdString() + " (cores: " +
           std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + ")";
}

// ------------------------------------------------------------ child processes

long clock_ticks()
{
    static const long ticks = sysconf(_SC_CLK_TCK);
    return ticks;
}

// CPU time (user + system, all threads, living and ended) of a process, s.
double process_cpu_s(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return NAN;
    const QByteArray stat = f.readAll();
    const int close = stat.lastIndexOf(')');
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 13)
        return NAN;
    // Fields 14 and 15 of the line; the list starts at field 3.
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(clock_ticks());
}

// A line of /proc/<pid>/status in MB ("VmRSS", "VmHWM").
double process_mem_mb(qint64 pid, const char* key)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return NAN;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(std::strlen(key)) + 1).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return NAN;
}

class Child
{
public:
    Child(const QString& program, const QMap<QString, QString>& vars, const QString& name)
        : name(name)
    {
        // Each child is a tool of its own: its own folder for the
        // single-instance socket, so that they do not take each other for
        // a second start.
        dir = std::make_unique<QTemporaryDir>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("TMPDIR"), dir->path());
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qt.qpa.*=false"));
        for (auto it = vars.begin(); it != vars.end(); ++it)
            env.insert(it.key(), it.value());
        proc.setProcessEnvironment(env);
        proc.setWorkingDirectory(dir->path());
        proc.setStandardErrorFile(QProcess::nullDevice());
        proc.setProgram(program);
    }

    ~Child() { stop(); }

    bool start()
    {
        start_ns = now_ns();
        proc.start();
        return proc.waitForStarted(5000);
    }

    void stop()
    {
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(5000);
        }
    }

    qint64 pid() const { return proc.processId(); }
    bool running() const { return proc.state() == QProcess::Running; }
    double age_s() const { return double(now_ns() - start_ns) / 1e9; }

    QString name;
    QProcess proc;
    std::unique_ptr<QTemporaryDir> dir;
    int64_t start_ns = 0;
};

// CPU share of one core over a window of the child's life.
struct CpuRun
{
    std::unique_ptr<Child> child;
    double warmup_s = 3;
    double window_s = 30;
    double cpu0 = NAN, t0 = 0, cpu1 = NAN, t1 = 0;
    bool done = false;

    void poll()
    {
        if (done || !child)
            return;
        const double age = child->age_s();
        if (std::isnan(cpu0) && age >= warmup_s) {
            cpu0 = process_cpu_s(child->pid());
            t0 = age;
        } else if (!std::isnan(cpu0) && age >= warmup_s + window_s) {
            cpu1 = process_cpu_s(child->pid());
            t1 = age;
            child->stop();
            done = true;
        }
    }
    double percent() const { return done ? 100.0 * (cpu1 - cpu0) / (t1 - t0) : NAN; }
};

struct MemRun
{
    std::unique_ptr<Child> child;
    double length_s = 240;
    double rss_1min = NAN, rss_end = NAN, hwm_end = NAN;
    std::vector<std::pair<double, double>> trace; // (s, MB)
    bool done = false;

    void poll()
    {
        if (done || !child)
            return;
        const double age = child->age_s();
        if (trace.empty() || age - trace.back().first >= 30) {
            trace.push_back({age, process_mem_mb(child->pid(), "VmRSS:")});
        }
        if (std::isnan(rss_1min) && age >= 60)
            rss_1min = process_mem_mb(child->pid(), "VmRSS:");
        if (age >= length_s) {
            rss_end = process_mem_mb(child->pid(), "VmRSS:");
            hwm_end = process_mem_mb(child->pid(), "VmHWM:");
            trace.push_back({age, rss_end});
            child->stop();
            done = true;
        }
    }
};

// ------------------------------------------------------------ start-up

double measure_startup(const QString& program, int starts, std::vector<double>* all,
                       std::vector<double>* cpu)
{
    std::vector<double> ms;
    for (int i = 0; i < starts; ++i) {
        QMap<QString, QString> vars;
        Child c(program, vars, QStringLiteral("startup"));
        // The clock is read as late as possible before the fork.
        const int64_t t0 = now_ns();
        QProcessEnvironment env = c.proc.processEnvironment();
        env.insert(QStringLiteral("QUORLAN_BENCH_T0_NS"), QString::number(t0));
        c.proc.setProcessEnvironment(env);
        c.proc.start();
        if (!c.proc.waitForFinished(20000)) {
            c.stop();
            continue;
        }
        const QByteArray out = c.proc.readAllStandardOutput();
        const int at = out.indexOf("shown_us=");
        if (at < 0)
            continue;
        const QList<QByteArray> words = out.mid(at).trimmed().split('\n').value(0).split(' ');
        ms.push_back(words.value(0).mid(9).toDouble() / 1000.0);
        if (cpu)
            cpu->push_back(words.value(1).mid(7).toDouble() / 1000.0);
    }
    if (all)
        *all = ms;
    return ms.size() == size_t(starts) ? percentile(ms, 50) : NAN;
}

// ------------------------------------------------------------ the window

// Notes when the window has been painted: the paint event of the window
// comes before those of its children, so the moment is taken in the next
// turn of the event loop, after the whole paint and its flush.
class PaintClock : public QObject
{
public:
    int64_t last_paint_ns = 0;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !pending) {
            pending = true;
            QTimer::singleShot(0, this, [this] {
                pending = false;
                last_paint_ns = now_ns();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool pending = false;
};

bool connected(Wireless_Video_Link* w)
{
    return w->device_handle() && w->form()->label_connect->text() == QLatin1String("Connected");
}

struct PlugFigures
{
    std::vector<double> ms;        // plug-in to the main window painted
    std::vector<double> seen_ms;   // plug-in to the connection's start (the watcher saw it)
    int failures = 0;
};

PlugFigures measure_plug_ins(int count)
{
    PlugFigures fig;
    auto& bus = sim::VirtualBus::instance();
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> phase(0, 100);
    for (int i = 0; i <= count; ++i) { // the first one warms up
        auto page = std::make_unique<MainPage>();
        Wireless_Video_Link* w = page->main_window();
        PaintClock paints;
        w->installEventFilter(&paints);
        page->show();
        // The unit comes at any moment of the watcher's 100 ms period.
        pump(150 + phase(rng));
        auto unit = make_ground_unit();
        // Taken on the watcher's thread as the scan reports the unit.
        std::atomic<int64_t> seen_ns{0};
        const QMetaObject::Connection seen = QObject::connect(
            page->watcher(), &HotplugThread::dev_connected, page->watcher(),
            [&seen_ns] { seen_ns = now_ns(); }, Qt::DirectConnection);
        const int64_t t0 = now_ns();
        auto dev = bus.plug(unit);
        const bool ok = wait_until(
            [&] { return w->isVisible() && connected(w) && paints.last_paint_ns > t0; }, 5000);
        if (i > 0) {
            if (ok) {
                fig.ms.push_back(double(paints.last_paint_ns - t0) / 1e6);
                fig.seen_ms.push_back(double(seen_ns - t0) / 1e6);
            } else
                ++fig.failures;
        }
        QObject::disconnect(seen);
        bus.unplug(dev);
        wait_until([&] { return !w->device_handle(); }, 3000);
        w->removeEventFilter(&paints);
        page.reset();
        delete w; // the start page leaves its main window alone
        bus.reset();
    }
    return fig;
}

struct TickFigures
{
    std::vector<double> tick_ms;   // poll_status and the paints it causes (thread CPU)
    std::vector<double> wall_ms;   // the same, wall clock
    std::vector<double> body_ms;   // poll_status alone (thread CPU)
    std::map<std::string, double> page_p99;
};

TickFigures measure_poll_ticks(Wireless_Video_Link* w, int per_page)
{
    TickFigures fig;
    Ui::Wireless_Video_Link* ui = w->form();
    const std::pair<const char*, QWidget*> pages[] = {
        {"about", ui->page_info},       {"status", ui->page_status}, {"frequency", ui->page_frequency},
        {"configure", ui->page_config}, {"update", ui->page_update}, {"test", ui->page_test},
    };
    QTimer* timer = w->poll_timer();
    for (const auto& [name, page] : pages) {
        ui->stackedWidget->setCurrentWidget(page);
        timer->stop();
        pump(300); // the page change is painted
        std::vector<double> page_ms;
        for (int i = 0; i < per_page; ++i) {
            timer->stop(); // the ticks are made here, one after the other
            pump(0);
            const int64_t w0 = now_ns();
            const int64_t t0 = thread_cpu_ns();
            w->poll_status();
            const int64_t t1 = thread_cpu_ns();
            // What the tick changed is laid out and painted in the next
            // turns of the event loop.
            for (int k = 0; k < 3; ++k)
                QCoreApplication::processEvents(QEventLoop::AllEvents);
            const int64_t t2 = thread_cpu_ns();
            const int64_t w2 = now_ns();
            timer->stop();
            fig.body_ms.push_back(double(t1 - t0) / 1e6);
            fig.tick_ms.push_back(double(t2 - t0) / 1e6);
            fig.wall_ms.push_back(double(w2 - w0) / 1e6);
            page_ms.push_back(double(t2 - t0) / 1e6);
        }
        fig.page_p99[name] = percentile(page_ms, 99);
        if (qEnvironmentVariableIsSet("QUORLAN_BENCH_VERBOSE")) {
            std::string line;
            for (double v : page_ms)
                line += " " + fmt(v, 2);
            std::fprintf(stderr, "ticks %s:%s\n", name, line.c_str());
        }
    }
    ui->stackedWidget->setCurrentWidget(ui->page_info);
    timer->start();
    return fig;
}

// ------------------------------------------------------------ the upgrade

constexpr uint32_t kTypeMcu1 = 0x84;
constexpr uint32_t kTypeFpga = 0x85;
constexpr uint32_t kTypeHi3516 = 0x88;
constexpr uint32_t kTypeHi3798 = 0x89;

struct Image
{
    QString path;
    fw::ImageHeader header{};
    std::vector<std::pair<sim::SimUpgrade::Target, std::vector<uint8_t>>> payloads;
    int64_t bytes = 0;
};

Image write_image(const QString& path, const std::vector<std::pair<uint32_t, int>>& parts)
{
    Image img;
    img.path = path;
    QByteArray file(fw::kHeaderSize, '\0');
    std::mt19937 rng(5);
    int k = 0;
    for (const auto& [type, length] : parts) {
        std::vector<uint8_t> payload(static_cast<size_t>(length));
        for (auto& b : payload)
            b = uint8_t(rng());
        const int32_t offset = int32_t(file.size());
        const uint32_t rec[4] = {type, uint32_t(length), uint32_t(offset), 0};
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                file[k * fw::kRecordSize + i * 4 + j] = char(rec[i] >> (8 * j));
        file.append(reinterpret_cast<const char*>(payload.data()), length);
        sim::SimUpgrade::Target target = type == kTypeMcu1     ? sim::SimUpgrade::Mcu1
                                         : type == kTypeFpga   ? sim::SimUpgrade::Fpga
                                         : type == kTypeHi3516 ? sim::SimUpgrade::Hi3516
                                                               : sim::SimUpgrade::Hi3798;
        img.payloads.push_back({target, std::move(payload)});
        img.bytes += length;
        ++k;
    }
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(file);
    f.close();
    img.header = fw::parse_header(reinterpret_cast<const uint8_t*>(file.constData()), fw::kHeaderSize);
    return img;
}

// Bulk transfers of an image's records, of the processors' or the others'.
int64_t bulk_chunks_of(const Image& img, bool processors)
{
    int64_t n = 0;
    for (const fw::ImageRecord& r : img.header) {
        const fw::Target* t = r.used() ? fw::find_target(r.type) : nullptr;
        if (!t || (t->index == fw::kHi3516 || t->index == fw::kHi3798) != processors)
            continue;
        n += fw::chunk_payload(r.length, t->chunk_size).count + 1;
    }
    return n;
}

std::atomic<int64_t> g_slept_ms{0};
void count_sleep(int ms)
{
    if (ms > 0)
        g_slept_ms += ms;
}

struct UpgradeRun
{
    bool ok = false;
    QString message;
    double wall_s = NAN;       // button press to the engine's isdone
    double ui_lag_ms = NAN;    // isdone emitted to isdone handled by the window
    double sim_s = 0;          // time spent inside the simulated unit
    double engine_cpu_s = NAN; // CPU time of the engine's thread (with the unit's code on it)
    double ui_cpu_s = NAN;     // CPU time of the window's thread, button to isdone handled
    int64_t controls = 0, bulks = 0;
    int64_t slept_ms = 0;
    std::vector<sim::Transfer> log;
};

// An upgrade as the user starts it: the button, the engine's run, the
// window's closing pause.
UpgradeRun run_upgrade(Wireless_Video_Link* w, sim::SimDevice& dev, sim::SimUnit& unit, const Image& img)
{
    UpgradeRun run;
    Ui::Wireless_Video_Link* ui = w->form();
    dev.clearLog();
    g_slept_ms = 0;
    ui->lineEdit_file->setText(img.path);
    ui->stackedWidget->setCurrentWidget(ui->page_update);
    pump(200);

    std::atomic<int64_t> done_ns{0};
    std::atomic<int64_t> engine_cpu_ns{0};
    int64_t handled_ns = 0;
    int64_t ui_cpu_end = 0;
    const int64_t ui_cpu_start = thread_cpu_ns();
    // The operator's "Upgrade" in the question before flashing.
    upgrade_ui::set_confirm_upgrade_function([](QWidget*, const QString&, const QString&) { return true; });
    const int64_t t0 = now_ns();
    w->on_pushButton_upgrade_clicked();
    auto* engine = w->findChild<updateThread*>();
    if (!engine)
        return run;
    // On the engine's thread, its last act: the thread is new, so its CPU
    // time is the run's.
    QObject::connect(
        engine, &updateThread::isdone, engine,
        [&done_ns, &engine_cpu_ns] {
            engine_cpu_ns = thread_cpu_ns();
            done_ns = now_ns();
        },
        Qt::DirectConnection);
    // Made after the window's own connection: handled right after it.
    QObject::connect(engine, &updateThread::isdone, w, [&] {
        handled_ns = now_ns();
        ui_cpu_end = thread_cpu_ns();
        run.message = ui->label_update_message->text();
    });
    if (!wait_until([&] { return handled_ns != 0; }, 600000))
        return run;
    // The window's closing pause, then the controls come back.
    wait_until([&] { return ui->pushButton_upgrade->isEnabled(); }, 20000);

    run.wall_s = double(done_ns - t0) / 1e9;
    run.ui_lag_ms = double(handled_ns - done_ns) / 1e6;
    run.slept_ms = g_slept_ms;
    run.engine_cpu_s = double(engine_cpu_ns) / 1e9;
    run.ui_cpu_s = double(ui_cpu_end - ui_cpu_start) / 1e9;
    int64_t sim_us = 0;
    run.log = dev.log();
    for (const sim::Transfer& t : run.log) {
        sim_us += t.end_us - t.t_us;
        if (t.kind == sim::Transfer::Control)
            ++run.controls;
        else
            ++run.bulks;
    }
    run.sim_s = double(sim_us) / 1e6;
    if (qEnvironmentVariableIsSet("QUORLAN_BENCH_VERBOSE")) {
        // The requests in order, repeats counted.
        std::string seq;
        int last = -1, repeat = 0;
        auto flush = [&] {
            if (last >= 0)
                seq += " " + (last == 0x100 ? std::string("bulk") : fmt(last, 0)) +
                       (repeat > 1 ? "x" + std::to_string(repeat) : "");
        };
        for (const sim::Transfer& t : dev.log()) {
            const int code = t.kind == sim::Transfer::Control ? t.bRequest : 0x100;
            if (code == last) {
                ++repeat;
                continue;
            }
            flush();
            last = code;
            repeat = 1;
        }
        flush();
        std::fprintf(stderr, "requests:%s\nslept %lld ms\n", seq.c_str(), static_cast<long long>(run.slept_ms));
    }
    bool flashed = true;
    for (const auto& [target, payload] : img.payloads)
        flashed = flashed && unit.upgrade().flashed(target) == payload;
    run.ok = flashed && run.message == QLatin1String("Upgrade success");
    return run;
}

// The engine alone, without its pauses: made and wired as the window makes
// it for an upgrade (its texts, progress and debug lines go to the window's
// slots), but started here, so that no closing pause of the window follows.
// The window's answer about the HI3798 is given on the engine's thread at
// once, since the pause that waits for it is skipped.
UpgradeRun run_engine_bare(Wireless_Video_Link* w, sim::SimDevice& dev, const Image& img)
{
    UpgradeRun run;
    dev.clearLog();
    g_slept_ms = 0;
    QTimer* timer = w->poll_timer();
    timer->stop(); // the window stops the poll for an upgrade, too
    updateThread::set_sleep_function(&count_sleep);

    auto* engine = new updateThread(w);
    engine->set_file_path(img.path);
    engine->set_dev_handle(w->device_handle());
    QObject::connect(engine, &updateThread::refresh_update_text, w,
                     &Wireless_Video_Link::on_label_update_message_linkActivated);
    QObject::connect(engine, &updateThread::refresh_horizen_value, w, &Wireless_Video_Link::set_processbar_value);
    QObject::connect(engine, &updateThread::refresh_debug_text, w, &Wireless_Video_Link::upgrade_debug_mes);
    const bool ready = !w->hi3798_version.isEmpty();
    QObject::connect(engine, &updateThread::inqure_hi3798_version, engine,
                     [engine, ready] { engine->essert_hi3798_ver(ready); }, Qt::DirectConnection);
    std::atomic<int64_t> done_ns{0};
    std::atomic<int64_t> engine_cpu_ns{0};
    QObject::connect(
        engine, &updateThread::isdone, engine,
        [&done_ns, &engine_cpu_ns] {
            engine_cpu_ns = thread_cpu_ns();
            done_ns = now_ns();
        },
        Qt::DirectConnection);

    const int64_t ui_cpu_start = thread_cpu_ns();
    const int64_t t0 = now_ns();
    engine->start(QThread::TimeCriticalPriority);
    wait_until([&] { return done_ns != 0; }, 600000);
    engine->wait();
    // The window works off what the engine sent it.
    QCoreApplication::processEvents();
    const int64_t handled_ns = now_ns();
    run.ui_cpu_s = double(thread_cpu_ns() - ui_cpu_start) / 1e9;
    run.ui_lag_ms = double(handled_ns - done_ns) / 1e6;
    run.wall_s = double(done_ns - t0) / 1e9;
    run.engine_cpu_s = double(engine_cpu_ns) / 1e9;
    run.slept_ms = g_slept_ms;
    run.message = w->form()->label_update_message->text();
    run.ok = run.message == QLatin1String("Upgrade success");
    delete engine;
    updateThread::set_sleep_function(nullptr);
    timer->start();

    int64_t sim_us = 0;
    run.log = dev.log();
    for (const sim::Transfer& t : run.log) {
        sim_us += t.end_us - t.t_us;
        if (t.kind == sim::Transfer::Control)
            ++run.controls;
        else
            ++run.bulks;
    }
    run.sim_s = double(sim_us) / 1e6;
    return run;
}

// The simulated unit's share of a run's CPU time: the run's transfers
// replayed on a fresh unit straight from this thread, with no engine, no
// libusb layer and no signals around them.
double replay_cpu_s(const std::vector<sim::Transfer>& log)
{
    auto& bus = sim::VirtualBus::instance();
    auto unit = make_ground_unit();
    auto dev = bus.plug(unit);
    std::vector<uint8_t> buf(65536);
    const int64_t c0 = thread_cpu_ns();
    for (const sim::Transfer& t : log) {
        std::copy(t.data.begin(), t.data.end(), buf.begin());
        if (t.kind == sim::Transfer::Control) {
            dev->control(t.bmRequestType, t.bRequest, t.wValue, t.wIndex, buf.data(), t.wLength,
                         t.timeout_ms);
        } else {
            int moved = 0;
            dev->bulk(t.endpoint, buf.data(), int(t.data.size()), &moved, t.timeout_ms);
        }
    }
    const int64_t c1 = thread_cpu_ns();
    bus.unplug(dev);
    return double(c1 - c0) / 1e9;
}

// ------------------------------------------------------------ main

struct Options
{
    bool quick = false;
    bool full = false;
    std::string only; // one part alone: startup, plug, poll, upgrade, idle, rss
    bool run(const char* part) const { return only.empty() || only == part; }
};

} // namespace

int main(int argc, char** argv)
{
    Options opt;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--quick")
            opt.quick = true;
        else if (a == "--full")
            opt.full = true;
        else if (a == "--only" && i + 1 < argc)
            opt.only = argv[++i];
        else {
            std::fprintf(stderr, "usage: quorlan-bench [--quick] [--full] [--only PART]\n");
            return 2;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quiet_handler);

    const int64_t bench_t0 = now_ns();
    QApplication app(argc, argv);
    // As the tool starts: resources, font, style sheet.
    apply_tool_look(app);

    const QString dir = QCoreApplication::applicationDirPath();
    const QString app_real = dir + QStringLiteral("/quorlan-bench-app");
    const QString app_sim = dir + QStringLiteral("/quorlan-bench-app-sim");

    const int starts = opt.quick ? 5 : 10;
    const int plug_ins = opt.quick ? 20 : 50;
    const double idle_window_s = opt.quick ? 10 : 30;
    const double soak_s = opt.quick ? 60 : opt.full ? 300 : 240;
    const int ticks_per_page = opt.quick ? 30 : 100;

    info("mode", opt.quick ? "quick" : opt.full ? "full" : "default");
    info("load_average_at_start", load_average());

    // -------- start-up: first, while nothing else runs.
    if (opt.run("startup")) {
        std::vector<double> starts_ms, starts_cpu;
        const double startup = measure_startup(app_real, starts, &starts_ms, &starts_cpu);
        figure("startup_ms", startup, 1, "<= 300", "process start to start page painted");
        figure("startup_cpu_ms", percentile(starts_cpu, 50), 1, {}, "the process's CPU time until then");
        std::string all;
        for (double v : starts_ms)
            all += (all.empty() ? "" : ",") + fmt(v, 0);
        info("startup_ms_each", all);
    }

    // -------- the long runs, alongside everything that follows.
    std::vector<CpuRun*> cpu_runs;
    CpuRun idle_sim, idle_connected, idle_real;
    auto start_cpu = [&](CpuRun& run, const QString& program, QMap<QString, QString> vars,
                         const char* name) {
        run.child = std::make_unique<Child>(program, vars, QString::fromLatin1(name));
        run.window_s = idle_window_s;
        if (run.child->start())
            cpu_runs.push_back(&run);
    };
    if (opt.run("idle")) {
        start_cpu(idle_sim, app_sim, {}, "idle");
        start_cpu(idle_connected, app_sim,
                  {{QStringLiteral("QUORLAN_BENCH_PLUG"), QStringLiteral("1")},
                   {QStringLiteral("QUORLAN_BENCH_PAGE"), QStringLiteral("status")}},
                  "idle connected");
        start_cpu(idle_real, app_real, {}, "idle real libusb");
    }

    MemRun soak;
    soak.length_s = soak_s;
    if (opt.run("rss")) {
        soak.child = std::make_unique<Child>(app_sim,
                                             QMap<QString, QString>{{QStringLiteral("QUORLAN_BENCH_PLUG"),
                                                                     QStringLiteral("1")},
                                                                    {QStringLiteral("QUORLAN_BENCH_PAGE"),
                                                                     QStringLiteral("frequency")}},
                                             QStringLiteral("soak"));
        soak.child->start();
    } else {
        soak.done = true;
    }

    QTimer watch_children;
    QObject::connect(&watch_children, &QTimer::timeout, [&] {
        for (CpuRun* r : cpu_runs)
            r->poll();
        soak.poll();
    });
    watch_children.start(100);

    // -------- plug-ins.
    if (opt.run("plug")) {
        const PlugFigures plugs = measure_plug_ins(plug_ins);
        figure("plug_to_window_ms_p50", percentile(plugs.ms, 50), 1);
        figure("plug_to_window_ms_p95", percentile(plugs.ms, 95), 1, "<= 250",
               "plug-in to main window painted, \"Connected\"");
        figure("plug_seen_ms_p50", percentile(plugs.seen_ms, 50), 1, {},
               "of which: until the watcher's scan saw it (100 ms period)");
        figure("plug_seen_ms_p95", percentile(plugs.seen_ms, 95), 1);
        std::vector<double> open_ms;
        for (size_t i = 0; i < plugs.ms.size(); ++i)
            open_ms.push_back(plugs.ms[i] - plugs.seen_ms[i]);
        figure("plug_open_to_paint_ms_p50", percentile(open_ms, 50), 1, {},
               "of which: opening, identity reads, first paint");
        figure("plug_open_to_paint_ms_p95", percentile(open_ms, 95), 1);
        if (plugs.failures)
            note(std::to_string(plugs.failures) + " plug-ins did not reach the main window in 5 s");
    }

    // -------- one window, connected, for the poll and the upgrade.
    auto& bus = sim::VirtualBus::instance();
    auto page = std::make_unique<MainPage>();
    Wireless_Video_Link* w = page->main_window();
    page->show();
    pump(200);
    auto unit = make_ground_unit();
    auto dev = bus.plug(unit);
    if (!wait_until([&] { return connected(w); }, 5000)) {
        std::fprintf(stderr, "the window did not connect to the simulated unit\n");
        return 1;
    }
    pump(1500);

    if (opt.run("poll")) {
        const TickFigures ticks = measure_poll_ticks(w, ticks_per_page);
        figure("poll_tick_ms_median", percentile(ticks.tick_ms, 50), 3, {},
               "UI thread CPU: poll_status and the paints it causes");
        figure("poll_tick_ms_p99", percentile(ticks.tick_ms, 99), 3, "<= 5");
        figure("poll_tick_wall_ms_median", percentile(ticks.wall_ms, 50), 3, {}, "the same, wall clock");
        figure("poll_tick_wall_ms_p99", percentile(ticks.wall_ms, 99), 3);
        figure("poll_body_ms_median", percentile(ticks.body_ms, 50), 3, {}, "poll_status alone");
        for (const auto& [name, p99] : ticks.page_p99)
            figure("poll_tick_ms_p99_" + name, p99, 3, {}, "page on screen");

        // The watcher's scan beside it, on the simulated bus with the unit
        // attached.
        HotplugThread probe;
        const int n = 2000;
        const int64_t t0 = now_ns();
        for (int i = 0; i < n; ++i)
            probe.detect_usb_device();
        figure("watcher_scan_us_sim", double(now_ns() - t0) / 1e3 / n, 2, {}, "one scan, simulated bus");
    }

    // -------- the upgrade.
    if (opt.run("upgrade")) {
        QTemporaryDir image_dir;
        const int kib = 1024;
        const std::vector<std::pair<uint32_t, int>> parts =
            opt.quick ? std::vector<std::pair<uint32_t, int>>{{kTypeMcu1, 256 * kib},
                                                              {kTypeFpga, 256 * kib},
                                                              {kTypeHi3516, 64 * kib},
                                                              {kTypeHi3798, 256 * kib}}
                      : std::vector<std::pair<uint32_t, int>>{{kTypeMcu1, 4096 * kib},
                                                              {kTypeFpga, 4096 * kib},
                                                              {kTypeHi3516, 256 * kib},
                                                              {kTypeHi3798, 4096 * kib}};
        const Image img = write_image(image_dir.filePath(QStringLiteral("image.bin")), parts);
        info("upgrade_image", opt.quick ? "MCU1 256K, FPGA 256K, HI3516 64K, HI3798 256K (--quick)"
                                        : "MCU1 4M, FPGA 4M, HI3516 256K, HI3798 4M");
        const bench::UpgradeFloor floor = bench::upgrade_floor(img.header);
        const double chunks = double(floor.bulks); // full chunks and final transfers
        info("upgrade_transfers", std::to_string(floor.controls) + " control, " +
                                      std::to_string(floor.bulks) + " bulk");
        figure("upgrade_floor_s", floor.seconds(), 3, {}, "the engine's prescribed pauses");

        // The unit answers at once.
        const UpgradeRun instant = run_upgrade(w, *dev, *unit, img);
        figure("upgrade_wall_s", instant.wall_s, 3, {}, "button to isdone");
        // The simulated unit does not answer at once: its time is its own.
        figure("upgrade_overhead_ratio", (instant.wall_s - instant.sim_s) / floor.seconds(), 4, "<= 1.02",
               "time in the simulated unit taken out");
        figure("upgrade_overhead_ratio_raw", instant.wall_s / floor.seconds(), 4, {}, "as measured");
        figure("upgrade_sim_s", instant.sim_s, 3, {}, "time inside the simulated unit");
        figure("upgrade_ui_lag_ms", instant.ui_lag_ms, 1, {}, "isdone emitted -> handled by the window");
        if (!instant.ok)
            note("the upgrade did not succeed: " + instant.message.toStdString());

        // Without the pauses, the big image: the engine's pauses and
        // transfers counted, against the floor computed above.
        const UpgradeRun bare = run_engine_bare(w, *dev, img);
        const bool floor_matches = bare.slept_ms == floor.pause_ms && bare.controls == floor.controls
                                   && bare.bulks == floor.bulks;
        info("upgrade_floor_check", floor_matches ? "ok (the engine's counted pauses and transfers)"
                                                  : "MISMATCH");
        if (!floor_matches)
            note("floor model: pauses " + std::to_string(floor.pause_ms) + " ms, " +
                 std::to_string(floor.controls) + " control, " + std::to_string(floor.bulks) +
                 " bulk; the engine paused " + std::to_string(bare.slept_ms) + " ms and made " +
                 std::to_string(bare.controls) + " control, " + std::to_string(bare.bulks) + " bulk");
        if (!bare.ok)
            note("the upgrade without pauses did not succeed: " + bare.message.toStdString());
        figure("upgrade_ui_us_per_chunk", bare.ui_cpu_s * 1e6 / chunks, 2, {},
               "window thread CPU per chunk (progress, debug view)");
        figure("upgrade_ui_lag_ms_bare", bare.ui_lag_ms, 1, {}, "the window behind the engine at its end");

        // The engine's own time per chunk: the engine's thread also runs
        // the simulated unit's code, whose share is known from replaying
        // the same transfers without the engine. The simulated unit copies
        // its whole flash at every chunk, so the chunks are counted on
        // records small enough for that to stay small: ten of 256 KiB, three
        // runs. The 1024-byte chunks of the controllers and the FPGA are the
        // figure; the processors' chunks (64 bytes for the HI3516, a FIFO
        // inquiry and a debug line before each) are shown beside it.
        auto engine_cost = [&](const uint32_t (&kinds)[2], const QString& name, bool* ok) {
            std::vector<std::pair<uint32_t, int>> parts;
            for (int k = 0; k < fw::kRecordCount; ++k)
                parts.push_back({kinds[k % 2], 256 * kib});
            const Image records = write_image(image_dir.filePath(name), parts);
            const bench::UpgradeFloor records_floor = bench::upgrade_floor(records.header);
            std::vector<double> own, unit_share;
            for (int i = 0; i < 3; ++i) {
                const UpgradeRun r = run_engine_bare(w, *dev, records);
                *ok = *ok && r.ok && r.slept_ms == records_floor.pause_ms &&
                      r.controls == records_floor.controls && r.bulks == records_floor.bulks;
                const double sim_cpu = replay_cpu_s(r.log);
                own.push_back((r.engine_cpu_s - sim_cpu) * 1e6 / double(r.bulks));
                unit_share.push_back(sim_cpu * 1e6 / double(r.bulks));
            }
            return std::make_pair(percentile(own, 50), percentile(unit_share, 50));
        };
        bool records_ok = true;
        const uint32_t controllers[2] = {kTypeMcu1, kTypeFpga};
        const uint32_t processors[2] = {kTypeHi3516, kTypeHi3798};
        const auto [engine_us, engine_sim_us] =
            engine_cost(controllers, QStringLiteral("controllers.bin"), &records_ok);
        const auto [processor_us, processor_sim_us] =
            engine_cost(processors, QStringLiteral("processors.bin"), &records_ok);
        if (!records_ok)
            note("the ten-record images did not upgrade as the floor model says");
        figure("upgrade_engine_us_per_chunk", engine_us, 2, "<= 20",
               "engine thread CPU less the simulated unit's (1024-byte chunks)");
        figure("upgrade_engine_sim_us_per_chunk", engine_sim_us, 2, {}, "the simulated unit's CPU on that thread");
        figure("upgrade_engine_us_per_processor_chunk", processor_us, 2, {},
               "the same for HI3516/HI3798 chunks (FIFO inquiry, debug line)");
        figure("upgrade_engine_sim_us_per_processor_chunk", processor_sim_us, 2);
        // Weighted by the chunks of the big image.
        const double engine_s = (engine_us * double(bulk_chunks_of(img, false)) +
                                 processor_us * double(bulk_chunks_of(img, true))) /
                                1e6;
        figure("upgrade_overhead_ratio_idle", (floor.seconds() + engine_s) / floor.seconds(), 4, {},
               "floor + the engine's own CPU: the ratio on a quiet machine");
        note("the time the simulated unit spends answering is its own, not the tool's; it is taken "
             "out of the overhead ratios (see upgrade_sim_s and the _raw ratios)");

        // Timed like a full-speed device: 1 ms per control transfer and chunk.
        dev->setLatency(std::chrono::microseconds(1000));
        const UpgradeRun fs = run_upgrade(w, *dev, *unit, img);
        dev->setLatency(std::chrono::microseconds(0));
        const double fs_floor = floor.seconds(1000);
        const double transfers = double(fs.controls + fs.bulks);
        figure("upgrade_fs_model_s", fs.wall_s, 3, {}, "unit takes 1 ms per transfer");
        figure("upgrade_fs_floor_s", fs_floor, 3, {}, "pauses + 1 ms per transfer");
        // The simulated unit's 1 ms is a sleep that overshoots; what it
        // overshot is the simulation's, not the tool's.
        const double fs_tool = fs.wall_s - fs.sim_s + transfers * 1e-3;
        figure("upgrade_fs_overhead_ratio", fs_tool / fs_floor, 4, "<= 1.02",
               "unit's time counted as the model's 1 ms");
        figure("upgrade_fs_overhead_ratio_raw", fs.wall_s / fs_floor, 4, {}, "as measured");
        figure("upgrade_fs_sim_ms_per_transfer", fs.sim_s * 1e3 / transfers, 4, {},
               "what the simulated 1 ms came to");
        if (!fs.ok)
            note("the upgrade timed like full speed did not succeed: " + fs.message.toStdString());
    }

    // -------- the long runs end.
    wait_until(
        [&] {
            bool all = soak.done;
            for (CpuRun* r : cpu_runs)
                all = all && r->done;
            return all;
        },
        int(soak_s * 1000) + 60000);
    watch_children.stop();

    if (opt.run("idle")) {
        info("idle_cpu_bus", "simulated (the emulated device file for the real libusb serves the "
                              "tests, not this figure)");
        note("idle_cpu_percent is measured on the simulated bus; idle_cpu_percent_real_libusb is the "
             "same start page on the real libusb and this machine's bus, where every 100 ms scan "
             "creates and ends a libusb context as prescribed");
        info("idle_cpu_window_s", fmt(idle_window_s, 0));
        figure("idle_cpu_percent", idle_sim.percent(), 3, "<= 0.5", "start page, no unit");
        figure("idle_cpu_percent_connected", idle_connected.percent(), 3, {}, "unit attached, polling");
        figure("idle_cpu_percent_real_libusb", idle_real.percent(), 3, {},
               "start page, real libusb, this machine's bus");
    }

    if (opt.run("rss")) {
        info("rss_soak_s", fmt(soak_s, 0) + (opt.full ? "" : " (the figure is for 300 s: --full)"));
        figure("rss_mb", soak.hwm_end, 1, "<= 80", "peak resident, unit attached, polling");
        figure("rss_mb_at_1min", soak.rss_1min, 1);
        figure("rss_mb_at_end", soak.rss_end, 1);
        figure("rss_growth_mb", soak.rss_end - soak.rss_1min, 2, "<= 2", "from minute 1 to the end");
        std::string trace;
        for (const auto& [s, mb] : soak.trace)
            trace += (trace.empty() ? "" : " ") + fmt(s, 0) + "s:" + fmt(mb, 1);
        info("rss_trace", trace);
    }
    info("load_average_at_end", load_average());
    info("bench_s", fmt(double(now_ns() - bench_t0) / 1e9, 1));

    page.reset();
    delete w;

    // -------- the table: the figures; the details are in the
    // name=value lines above.
    const char* const main_figures[] = {
        "startup_ms",         "plug_to_window_ms_p50",      "plug_to_window_ms_p95",
        "poll_tick_ms_median", "poll_tick_ms_p99",          "upgrade_floor_s",
        "upgrade_wall_s",     "upgrade_overhead_ratio",     "upgrade_engine_us_per_chunk",
        "upgrade_fs_model_s", "upgrade_fs_overhead_ratio",  "idle_cpu_percent",
        "idle_cpu_percent_connected", "rss_mb",             "rss_growth_mb",
    };
    std::printf("\n%-28s %10s  %-8s %-5s %s\n", "figure", "value", "target", "", "what");
    std::printf("%s\n", std::string(96, '-').c_str());
    for (const char* name : main_figures) {
        for (const Figure& f : g_figures) {
            if (f.name != name)
                continue;
            std::string verdict;
            if (f.target.rfind("<= ", 0) == 0 && f.value != "nan")
                verdict = std::stod(f.value) <= std::stod(f.target.substr(3)) ? "ok" : "OVER";
            std::printf("%-28s %10s  %-8s %-5s %s\n", f.name.c_str(), f.value.c_str(), f.target.c_str(),
                        verdict.c_str(), f.note.c_str());
        }
    }
    for (const std::string& n : g_notes)
        std::printf("NOTE: %s\n", n.c_str());
    return 0;
}
