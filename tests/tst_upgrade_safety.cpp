// The upgrade must never claim what it did not do. For every target type
// and every step of its upgrade a fault is injected through the simulated
// unit while the Update page runs the image: the run ends without "Upgrade
// success", the closing request 0xF5 names no unit that did not finish, and
// the window is given back with its poll running. A run without faults
// leaves in the unit exactly each target's payload.
//
// Every run ends in the Update page's closing pause, so steps() runs the
// rows in several copies of this program at once. One row by itself:
// tst_upgrade_safety "step:MCU1 final transfer".
#include "testsupport.h"
#include "fault_support.h"
#include "sharded_cells.h"
#include "upgrade_support.h"

#include "mainpage.h"
#include "request_codes.h"
#include "ui_wireless_video_link.h"
#include "update_thread.h"
#include "wireless_video_link.h"

#include <QApplication>
#include <QTest>
#include <cstdio>
#include <mutex>

using namespace testsupport;
using namespace upgrade_support;

namespace {

constexpr int kPipe = LIBUSB_ERROR_PIPE;
constexpr int kBulk = sim::SimDevice::kBulk;
// Full chunks of the faulted payload: a first, a middle and a last one,
// then the final transfer.
constexpr int kChunks = 3;

const uint32_t kTypes[] = {kMcu1, kFpga, kBoot, kKernel, kFs, kMcu2, kEdid, kHi3516, kHi3798};

const char* const kSteps[] = {
    "preparation",          "erase request",       "erase wait inquiry",   "erase never done",
    "program request",      "preparation inquiry", "fifo never ready",     "fifo inquiry",
    "middle chunk transfer", "middle chunk status", "middle chunk program failed",
    "final transfer",       "final status",        "final program failed", "check request",
    "check refused",        "check fifo",          "result never",         "result inquiry",
};

bool applies(uint32_t type, const QString& step)
{
    const fw::Target* t = fw::find_target(type);
    const bool erase = t->erase_request != fw::kNoRequest;
    const bool processor = type == kHi3516 || type == kHi3798;
    const bool failbit = type != kHi3516;
    const bool check = type == kMcu1 || type == kFpga || type == kMcu2 || type == kHi3798;
    if (step == "preparation")
        return type == kMcu2 || type == kHi3798;
    if (step.startsWith("erase"))
        return erase;
    if (step == "preparation inquiry" || step.startsWith("fifo"))
        return processor;
    if (step.endsWith("program failed"))
        return failbit;
    if (step == "check request" || step == "check refused")
        return check;
    if (step == "check fifo" || step.startsWith("result"))
        return type == kHi3798;
    return true; // program request, chunk and final transfers and their status
}

QString name_of(uint32_t type)
{
    return QString::fromLatin1(fw::find_target(type)->name);
}

struct Row
{
    uint32_t type; // 0: the run without faults
    QString step;
    QString tag() const { return type ? name_of(type) + QLatin1Char(' ') + step : QStringLiteral("every target"); }
};

QList<Row> all_rows()
{
    QList<Row> rows{{0, QString()}};
    for (uint32_t t : kTypes)
        for (const char* s : kSteps)
            if (applies(t, QLatin1String(s)))
                rows << Row{t, QLatin1String(s)};
    return rows;
}

int cost_of(const Row& r)
{
    int t = 8000;
    if (r.step == "erase never done")
        t += 5000;
    if (r.type == kMcu2)
        t += 1000;
    return t;
}

bool g_rows_named = false;

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
                if (QAbstractButton* b = box->button(QMessageBox::Ok))
                    b->click();
            }
        });
        tick.start(20);
    }

private:
    QTimer tick;
};

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
    std::mutex devices_mutex;
    std::vector<std::shared_ptr<sim::SimDevice>> devices; // of this row, in plug order

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

int status_reads(const std::vector<sim::Transfer>& log)
{
    int n = 0;
    for (const sim::Transfer& t : log)
        if (t.kind == sim::Transfer::Control && t.bRequest == req::DevStatus && t.result >= 0)
            ++n;
    return n;
}

} // namespace

class UpgradeSafety : public QObject
{
    Q_OBJECT

private:
    void make_world()
    {
        if (g_world)
            return;
        g_world = new World;
        World& wd = *g_world;
        wd.unit = make_ground_unit();
        wd.dir = std::make_unique<QTemporaryDir>();
        QVERIFY(wd.dir->isValid());
        wd.unit->upgrade().setRestartHandler([&wd](bool present) {
            if (!present) {
                if (auto d = wd.current())
                    sim::VirtualBus::instance().unplug(d);
            } else {
                wd.plug_unit();
            }
        });
        updateThread::set_sleep_function(&test_sleep);
        g_divisor = 20;
        wd.page = std::make_unique<MainPage>();
        wd.page->scan_timer()->setInterval(10);
        wd.page->show();
        wd.w = wd.page->main_window();
        wd.ui = wd.w->form();
        wd.boxes = std::make_unique<BoxCloser>();
        wd.plug_unit();
        QVERIFY(wait_for([&] { return wd.connected(); }, 5000));
    }

    // A fresh unit state for the row, connected and polling.
    void prepare_unit()
    {
        World& wd = *g_world;
        Up& up = wd.unit->upgrade();
        up.setEraseInquiries(1);
        for (int t = 0; t < Up::TargetCount; ++t) {
            up.setEraseInquiries(Up::Target(t), 1);
            up.rejectCheck(Up::Target(t), false);
            up.failProgramAtTransfer(Up::Target(t), -1);
        }
        up.setFifoBusyInquiries(0);
        up.setResultInquiries(1);
        up.setPreparationInquiries(1);
        up.setRestartTiming(std::chrono::milliseconds(5), std::chrono::milliseconds(30), true);
        wd.unit->setHi3798Version("V1.0.0");
        if (!wd.connected()) {
            wd.plug_unit();
            QVERIFY(wait_for([&] { return wd.connected(); }, 5000));
        }
        // The version of a row before may still be the window's own: read
        // again until the window has this row's (a reconnection can be
        // under way).
        QVERIFY(wait_for([&] {
            wd.w->on_pushButton_GET_SN_clicked();
            return wd.w->hi3798_version == QLatin1String("V1.0.0");
        }, 10000));
        std::lock_guard<std::mutex> lock(wd.devices_mutex);
        wd.devices.clear();
        if (auto d = wd.current()) {
            d->clearLog();
            wd.devices.push_back(d);
        }
    }

    // Runs the image through the Update page to the window's release.
    void run_image(const QByteArray& image, Events& ev,
                   const std::function<void(updateThread*)>& on_engine = nullptr)
    {
        World& wd = *g_world;
        wd.ui->lineEdit_file->setText(write_file(*wd.dir, QStringLiteral("image.bin"), image));
        Heartbeat heart;
        heart.start();
        QObject ctx;
        // The engine's first request waits until the observers are attached.
        auto dev = wd.current();
        QVERIFY(dev);
        dev->holdTransfers(true);
        wd.ui->pushButton_upgrade->click();
        auto* engine = wd.w->findChild<updateThread*>();
        if (engine) {
            if (on_engine)
                on_engine(engine);
            watch(engine, &ctx, &ev);
        }
        dev->holdTransfers(false);
        QVERIFY(engine);
        QVERIFY(wait_for([&] { return wd.ui->pushButton_upgrade->isEnabled(); }, 120000));
        const qint64 gap = heart.stop();
        QVERIFY2(gap < 1000, qPrintable(QString("the window stood still for %1 ms").arg(gap)));
    }

    void window_given_back()
    {
        World& wd = *g_world;
        Ui::Wireless_Video_Link* ui = wd.ui;
        for (QWidget* c : {static_cast<QWidget*>(ui->comboBox_downlink), static_cast<QWidget*>(ui->pushButton_upgrade),
                           static_cast<QWidget*>(ui->Select_file_button), static_cast<QWidget*>(ui->comboBox_freq),
                           static_cast<QWidget*>(ui->comboBox_RadioRate), static_cast<QWidget*>(ui->pushButton_auto),
                           static_cast<QWidget*>(ui->pushButton_manual), static_cast<QWidget*>(ui->radioButton_ppm),
                           static_cast<QWidget*>(ui->radioButton_sbus), static_cast<QWidget*>(ui->pushButton_infomation),
                           static_cast<QWidget*>(ui->pushButton_status), static_cast<QWidget*>(ui->pushButton_configure),
                           static_cast<QWidget*>(ui->pushButton_frequency), static_cast<QWidget*>(ui->switch_bind)})
            // Unlocked; greyed only with its page while no unit is there.
            QVERIFY2(!c->testAttribute(Qt::WA_ForceDisabled) && (c->isEnabled() || !wd.connected()),
                     qPrintable(c->objectName()));
        // Polling again exactly when a unit is there to poll (a unit lost
        // in its restart comes back through the watcher).
        QCOMPARE(wd.w->poll_timer()->isActive(), wd.connected());
        if (wd.connected()) {
            const int reads = status_reads(wd.transfers());
            QVERIFY2(wait_for([&] { return status_reads(wd.transfers()) > reads; }, 3000), "no poll after the run");
        }
    }

    // Out and in again: connected and polling.
    void recover()
    {
        World& wd = *g_world;
        if (auto d = wd.current())
            sim::VirtualBus::instance().unplug(d);
        QVERIFY(wait_for([&] { return wd.disconnected(); }, 5000));
        QVERIFY(wd.unit->upgrade().waitRestartIdle(std::chrono::milliseconds(5000)));
        if (auto d = wd.current())
            sim::VirtualBus::instance().unplug(d);
        auto dev = wd.plug_unit();
        QVERIFY(wait_for([&] { return wd.connected() && wd.w->poll_timer()->isActive(); }, 5000));
        const int reads = status_reads(dev->log());
        wd.w->poll_timer()->setInterval(20);
        QVERIFY(wait_for([&] { return status_reads(dev->log()) >= reads + 2; }, 3000));
        wd.w->poll_timer()->setInterval(1000);
    }

    void every_target()
    {
        World& wd = *g_world;
        QList<Part> records;
        for (int i = 0; i < 9; ++i)
            records << Part{kTypes[i], payload(700 + 900 * i, 300 + i)};
        records.insert(4, Part{});
        Events ev;
        run_image(build_image(records, true), ev);
        window_given_back();
        for (const Part& p : records)
            if (p.type)
                QVERIFY2(wd.unit->upgrade().flashed(sim_target(p.type)) == bytes(p.data), qPrintable(name_of(p.type)));
        const QStringList toks = tokens(wd.transfers(), true);
        QCOMPARE(toks.last(), QString("F5=03"));
        QCOMPARE(wd.ui->label_update_message->text(), QString("Upgrade success"));
        QCOMPARE(wd.ui->progressBar->value(), 100);
    }

    void faulted(const Row& row)
    {
        World& wd = *g_world;
        Up& up = wd.unit->upgrade();
        const uint32_t type = row.type;
        const fw::Target* t = fw::find_target(type);
        const Up::Target target = sim_target(type);
        const QString name = name_of(type);
        const QString step = row.step;
        // A target that finishes first: its unit may be named at the end.
        const uint32_t first = type == kFpga ? kMcu1 : kFpga;
        const uint8_t first_bit = type == kFpga ? 2 : 1;
        const int chunk = t->chunk_size;
        const QByteArray first_data = payload(1100, 7);
        const QByteArray data = payload(kChunks * chunk + chunk / 3, int(type));

        // Faults set up front touch only the faulted target.
        if (step == "preparation") {
            if (type == kMcu2)
                up.setRestartTiming(std::chrono::milliseconds(5), std::chrono::milliseconds(30), false);
            else {
                wd.unit->setHi3798Version("");
                wd.w->on_pushButton_GET_SN_clicked();
                QVERIFY(wd.w->hi3798_version.isEmpty());
            }
        } else if (step == "erase never done") {
            up.setEraseInquiries(target, Up::kNever);
        } else if (step == "fifo never ready") {
            up.setFifoBusyInquiries(Up::kNever);
        } else if (step == "middle chunk program failed") {
            up.failProgramAtTransfer(target, 1);
        } else if (step == "final program failed") {
            up.failProgramAtTransfer(target, kChunks);
        } else if (step == "check refused") {
            up.rejectCheck(target);
        } else if (step == "result never") {
            up.setResultInquiries(Up::kNever);
        }

        // Faults set when the engine gets to the faulted target's step, on
        // the engine's thread (the unit may be a new device after the MCU2
        // restart).
        struct Trigger
        {
            std::mutex m;
            bool in_target = false, updating = false, fired = false;
            int progress = 0;
        };
        auto trig = std::make_shared<Trigger>();
        const uint8_t wait_code = (type == kMcu1 || type == kFpga) ? req::CommandStatus : req::UpgradeStatus;
        auto inject = [&wd, trig](int code, int fault) {
            if (auto d = wd.current())
                d->failNext(code, fault, 3);
            trig->fired = true;
        };
        auto on_text = [=, &up](const QString& text) {
            std::lock_guard<std::mutex> lock(trig->m);
            if (text == name + " upgrade") {
                trig->in_target = true;
                if (step == "erase request")
                    inject(t->erase_request, kPipe);
                else if (step == "erase wait inquiry")
                    inject(wait_code, kPipe);
                else if (step == "program request")
                    inject(t->program_request, kPipe);
                else if (step == "preparation inquiry")
                    inject(req::PreparationStatus, kPipe);
                else if (step == "fifo inquiry")
                    inject(req::FifoStatus, kPipe);
            } else if (trig->in_target && text == name + " update") {
                trig->updating = true;
            }
            Q_UNUSED(up);
        };
        auto on_progress = [=, &up](int value) {
            std::lock_guard<std::mutex> lock(trig->m);
            if (!trig->updating || value < 50)
                return;
            ++trig->progress;
            if (value == 99) {
                if (step == "check request")
                    inject(t->check_request, kPipe);
                else if (step == "check fifo") {
                    up.setFifoBusyInquiries(Up::kNever);
                    trig->fired = true;
                } else if (step == "result inquiry")
                    inject(req::Hi3798Result, kPipe);
                return;
            }
            if (trig->progress == 1) { // the first chunk is in
                if (step == "middle chunk transfer")
                    inject(kBulk, kPipe);
                else if (step == "middle chunk status")
                    inject(req::UpgradeStatus, kPipe);
            } else if (trig->progress == kChunks) { // the last full chunk is in
                if (step == "final transfer")
                    inject(kBulk, kPipe);
                else if (step == "final status")
                    inject(req::UpgradeStatus, kPipe);
            }
        };

        Events ev;
        run_image(build_image({{first, first_data}, {type, data}}), ev, [&](updateThread* engine) {
            QObject::connect(engine, &updateThread::refresh_update_text, engine, on_text, Qt::DirectConnection);
            QObject::connect(engine, &updateThread::refresh_horizen_value, engine, on_progress,
                             Qt::DirectConnection);
        });
        const auto log = wd.transfers();
        const QStringList toks = tokens(log, true);
        const QString wire = sequence(toks);
        const QStringList messages = ev.messages();

        // The fault was where it was meant to be.
        const bool at_start = step == "preparation" || step == "erase never done" || step == "fifo never ready"
                              || step.endsWith("program failed") || step == "check refused" || step == "result never";
        QVERIFY2(at_start || trig->fired, qPrintable("the step was never reached: " + wire));

        // The first target finished, and only it.
        QVERIFY2(wd.unit->upgrade().flashed(sim_target(first)) == bytes(first_data), qPrintable(wire));
        QCOMPARE(messages.count("Upgrade success"), 1);
        QVERIFY2(!messages.contains(name + " upgrade success"), qPrintable(messages.join(" | ")));
        QVERIFY2(wd.ui->label_update_message->text() != QLatin1String("Upgrade success"),
                 qPrintable(messages.join(" | ")));
        QVERIFY(messages.indexOf("Upgrade success") < messages.lastIndexOf(name + " upgrade")
                || messages.lastIndexOf(name + " upgrade") < 0);
        // The closing request names no unit that did not finish.
        for (const QString& tok : toks) {
            if (!tok.startsWith("F5="))
                continue;
            const int units = tok.mid(3, 2).toInt(nullptr, 16);
            QVERIFY2((units & ~first_bit) == 0, qPrintable("0xF5 claims too much: " + wire));
        }
        if (type == kFpga)
            QVERIFY(wd.boxes->texts.contains("Please don't power off and try again."));
        window_given_back();
    }

private slots:
    void step_data()
    {
        QTest::addColumn<int>("index");
        if (!g_rows_named) {
            QTest::newRow("all") << -1; // steps() runs them, in several processes
            return;
        }
        const QList<Row> rows = all_rows();
        for (int i = 0; i < rows.size(); ++i)
            QTest::newRow(qPrintable(rows[i].tag())) << i;
    }

    void step()
    {
        QFETCH(int, index);
        if (index < 0)
            QSKIP("the rows run in steps()");
        const Row row = all_rows().at(index);
        std::printf("CELL-START %s\n", qPrintable(row.tag()));
        std::fflush(stdout);
        make_world();
        if (QTest::currentTestFailed())
            return;
        prepare_unit();
        if (QTest::currentTestFailed())
            return;
        if (row.type)
            faulted(row);
        else
            every_target();
        recover();
    }

    void steps()
    {
        if (g_rows_named)
            QSKIP("rows named on the command line");
        const QList<Row> rows = all_rows();
        QStringList tags;
        QList<int> costs;
        for (const Row& r : rows) {
            tags << r.tag();
            costs << cost_of(r);
        }
        int workers = qEnvironmentVariableIntValue("QUORLAN_MATRIX_WORKERS");
        if (workers <= 0)
            workers = 8;
        const ShardedRun r = run_sharded(QStringLiteral("UpgradeSafety"), QStringLiteral("step"), tags, costs, workers);
        for (const QString& p : r.problems)
            std::printf("  %s\n", qPrintable(p));
        std::printf("upgrade safety: %d rows run, %d held (%d processes, %.0f s)\n", r.run, r.held, workers,
                    r.seconds);
        std::fflush(stdout);
        QVERIFY2(r.in_time, "the rows did not finish in time");
        QCOMPARE(r.held, r.run);
    }
};

int main(int argc, char** argv)
{
    g_rows_named = rows_named(argc, argv, "step");
    QApplication app(argc, argv);
    init_resources();
    UpgradeSafety test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_upgrade_safety.moc"
