// The tool started the way its executables start it, for the benchmark's
// figures that need a process of their own (start-up time, idle CPU,
// memory over a long run). Built twice: on the real libusb like `quorlan`,
// and on the simulated bus (QUORLAN_BENCH_SIM). What the benchmark asks
// for comes in environment variables read only here, never by the tool:
//   QUORLAN_BENCH_T0_NS   CLOCK_MONOTONIC of the process start, as the
//                         benchmark took it; the first paint of the start
//                         page is then reported as "shown_us=<us>
//                         cpu_us=<the process's CPU time so far>" and the
//                         process ends
//   QUORLAN_BENCH_PLUG    (simulated bus) plug a ground unit in after start
//   QUORLAN_BENCH_PAGE    (with a unit) the page to keep on screen:
//                         status, frequency, configure, update or about
#include "app_main.h"
#include "mainpage.h"
#include "ui_wireless_video_link.h"
#include "wireless_video_link.h"

#ifdef QUORLAN_BENCH_SIM
#include "sim_bus.h"
#include "sim_unit.h"
#endif

#include <QCoreApplication>
#include <QEvent>
#include <QStackedWidget>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <memory>

namespace {

int64_t monotonic_ns()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Reports the start page once it has been painted, then ends the run.
class ShownProbe : public QObject
{
public:
    explicit ShownProbe(int64_t t0_ns)
        : t0(t0_ns)
    {
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !seen) {
            seen = true;
            // After the paint and its flush, not before it.
            QTimer::singleShot(0, this, [this] {
                timespec cpu{};
                clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
                std::printf("shown_us=%lld cpu_us=%lld\n",
                            static_cast<long long>((monotonic_ns() - t0) / 1000),
                            static_cast<long long>(cpu.tv_sec) * 1000000 + cpu.tv_nsec / 1000);
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    int64_t t0;
    bool seen = false;
};

void keep_page(Wireless_Video_Link* w, const QByteArray& name)
{
    Ui::Wireless_Video_Link* ui = w->form();
    QWidget* page = nullptr;
    if (name == "status")
        page = ui->page_status;
    else if (name == "frequency")
        page = ui->page_frequency;
    else if (name == "configure")
        page = ui->page_config;
    else if (name == "update")
        page = ui->page_update;
    else if (name == "about")
        page = ui->page_info;
    if (page)
        ui->stackedWidget->setCurrentWidget(page);
}

} // namespace

int main(int argc, char** argv)
{
    const QByteArray t0 = qgetenv("QUORLAN_BENCH_T0_NS");
    const QByteArray page_name = qgetenv("QUORLAN_BENCH_PAGE");
#ifdef QUORLAN_BENCH_SIM
    const bool plug = qEnvironmentVariableIsSet("QUORLAN_BENCH_PLUG");
#endif
    std::unique_ptr<ShownProbe> probe;

    return run_application(argc, argv, [&](MainPage* page) {
        if (!t0.isEmpty()) {
            probe = std::make_unique<ShownProbe>(t0.toLongLong());
            page->installEventFilter(probe.get());
        }
#ifdef QUORLAN_BENCH_SIM
        if (plug) {
            auto unit = std::make_shared<sim::SimUnit>();
            unit->configure(sim::SimUnit::GroundUnit, "QL24G0000001", 0x020304, 1, 2, 3, 0x3440);
            unit->link().setNoiseSeed(7);
            QTimer::singleShot(500, page, [unit] { sim::VirtualBus::instance().plug(unit); });
            // The simulated bus logs every transfer for the tests; that
            // log is not the tool's memory, so it is emptied now and then.
            auto* trim = new QTimer(page);
            QObject::connect(trim, &QTimer::timeout, [] {
                for (const auto& dev : sim::VirtualBus::instance().devices())
                    dev->clearLog();
            });
            trim->start(10000);
        }
#endif
        if (!page_name.isEmpty()) {
            Wireless_Video_Link* w = page->main_window();
            QObject::connect(w, &Wireless_Video_Link::dev_connect_status, w, [w, page_name](bool up) {
                if (up)
                    keep_page(w, page_name);
            });
        }
    });
}
