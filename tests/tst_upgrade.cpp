// The firmware upgrade against the simulated unit: the engine's requests,
// texts and progress per target, its retries, waits and refusals, and the
// Update page of the main window around it.
#include "testsupport.h"

#include "enable_switch.h"
#include "firmware_image.h"
#include "sim_upgrade.h"
#include "ui_wireless_video_link.h"
#include "update_thread.h"
#include "upgrade_control.h"
#include "wireless_video_link.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QMetaEnum>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <functional>
#include <future>
#include <libusb.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "upgrade_support.h"

using namespace testsupport;
using namespace upgrade_support;

namespace {

QString g_dialog_caption, g_dialog_dir, g_dialog_filter;
QString g_dialog_answer;
QWidget* g_dialog_parent = nullptr;
QString fake_dialog(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
{
    g_dialog_parent = parent;
    g_dialog_caption = caption;
    g_dialog_dir = dir;
    g_dialog_filter = filter;
    return g_dialog_answer;
}

// The close question: what it was asked, what it answers.
QString g_question_title, g_question_text;
int g_questions = 0;
bool g_question_answer = false;
std::atomic<bool> g_question_answered{false};
bool fake_question(QWidget*, const QString& title, const QString& text)
{
    ++g_questions;
    g_question_title = title;
    g_question_text = text;
    g_question_answered = true;
    return g_question_answer;
}

// The question before flashing: what it was asked, what it answers.
QString g_confirm_title, g_confirm_text;
int g_confirms = 0;
bool g_confirm_answer = true;
bool fake_confirm(QWidget*, const QString& title, const QString& text)
{
    ++g_confirms;
    g_confirm_title = title;
    g_confirm_text = text;
    return g_confirm_answer;
}

QString stage_name(updateThread::Stage stage)
{
    return QString::fromLatin1(QMetaEnum::fromType<updateThread::Stage>().valueToKey(int(stage)));
}

// The page's description of `path` on a thread of its own: should the call
// block (a pipe opened for reading), the pipe's other end is opened to let
// it go, and the test fails instead of hanging.
upgrade_ui::ImageDescription describe_without_hanging(const QString& path, bool* blocked)
{
    std::promise<upgrade_ui::ImageDescription> promise;
    std::future<upgrade_ui::ImageDescription> result = promise.get_future();
    std::thread reader([&] { promise.set_value(upgrade_ui::describe_image_file(path)); });
    *blocked = result.wait_for(std::chrono::seconds(2)) != std::future_status::ready;
    const int writer = *blocked ? ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK) : -1;
    reader.join();
    if (writer >= 0)
        ::close(writer);
    return result.get();
}

} // namespace

class UpgradeTest : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<sim::SimUnit> unit;
    std::shared_ptr<sim::SimDevice> dev;
    std::unique_ptr<Harness> harness;
    std::unique_ptr<QTemporaryDir> dir;
    Wireless_Video_Link* w = nullptr;

    Up& up() { return unit->upgrade(); }

    void fast_clock() { g_divisor = 50; }

    // Plugs the unit and opens the harness's handle on it.
    void connect_harness()
    {
        QVERIFY(harness->open());
    }

    bool run_image(const QByteArray& image, Events& ev, const QString& name = QStringLiteral("image.bin"))
    {
        return harness->run(write_file(*dir, name, image), ev);
    }

    void expect_no_success(const Events& ev)
    {
        QVERIFY(!ev.messages().contains(QStringLiteral("Upgrade success")));
        for (const QString& m : ev.messages())
            QVERIFY2(!m.endsWith(QStringLiteral(" upgrade success")), qPrintable(m));
    }

    // A window connected to the unit.
    void make_window()
    {
        w = new Wireless_Video_Link();
        QCOMPARE(w->open_device(true), 0);
        QVERIFY(w->device_handle());
        QVERIFY(w->poll_timer()->isActive());
    }

    QList<QWidget*> locked_controls()
    {
        Ui::Wireless_Video_Link* ui = w->form();
        return {ui->comboBox_downlink,     ui->pushButton_upgrade, ui->Select_file_button,
                ui->comboBox_freq,         ui->comboBox_RadioRate, ui->pushButton_auto,
                ui->pushButton_manual,     ui->radioButton_ppm,    ui->radioButton_sbus,
                ui->pushButton_infomation, ui->pushButton_status,  ui->pushButton_configure,
                ui->pushButton_frequency,  ui->switch_bind};
    }

    bool all_enabled(bool enabled, bool with_upgrade_button = true)
    {
        // Locked by the upgrade itself (a page may also grey its controls
        // while no unit is there, and "Upgrade" without an image to take).
        for (QWidget* c : locked_controls())
            if (c->testAttribute(Qt::WA_ForceDisabled) == enabled
                && (with_upgrade_button || c != w->form()->pushButton_upgrade))
                return false;
        return true;
    }

    // Whether the poll handler is connected to the timer exactly once
    // (disconnect() removes one connection at a time); leaves it connected.
    int poll_connections()
    {
        int n = 0;
        while (QObject::disconnect(w->poll_timer(), &QTimer::timeout, w, &Wireless_Video_Link::poll_status))
            ++n;
        if (n)
            QObject::connect(w->poll_timer(), &QTimer::timeout, w, &Wireless_Video_Link::poll_status);
        return n;
    }

private slots:
    void init()
    {
        reset_bus();
        g_divisor = 1;
        {
            std::lock_guard<std::mutex> lock(g_sleep_mutex);
            g_sleeps.clear();
            g_before_sleep = nullptr;
        }
        updateThread::set_sleep_function(&test_sleep);
        unit = make_ground_unit();
        up().setRestartTiming(std::chrono::milliseconds(5), std::chrono::milliseconds(20));
        dev = plug(unit);
        harness = std::make_unique<Harness>();
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        g_confirms = 0;
        g_confirm_answer = true;
        upgrade_ui::set_confirm_upgrade_function(&fake_confirm);
        upgrade_ui::set_record_folder(dir->filePath("appdata"));
    }

    void cleanup()
    {
        if (w) {
            // An engine still running, or its end's pause, must be over.
            QVERIFY(wait_for([this] { return !w->upgrade_running(); }, 60000));
            delete w;
            w = nullptr;
        }
        harness.reset();
        QVERIFY(up().waitRestartIdle(std::chrono::milliseconds(5000)));
        updateThread::set_sleep_function(nullptr);
        {
            std::lock_guard<std::mutex> lock(g_sleep_mutex);
            g_before_sleep = nullptr;
        }
        upgrade_ui::set_open_file_function(nullptr);
        upgrade_ui::set_close_question_function(nullptr);
        upgrade_ui::set_confirm_upgrade_function(&answer_yes);
        upgrade_ui::set_record_folder(process_record_folder());
        dev.reset();
        unit.reset();
        reset_bus();
        dir.reset();
    }

    // --- one target at a time ----------------------------------------------

    void mcu1_requests_texts_and_progress()
    {
        fast_clock();
        connect_harness();
        const QByteArray data = payload(2500, 1);
        Events ev;
        DebugCapture capture;
        QVERIFY(run_image(build_image({{kMcu1, data}}), ev));

        const auto log = wire(dev);
        QCOMPARE(sequence(tokens(log)),
                 QString("B0 F8 B1 W1024 BA W1024 BA W452 BA BC=10 F5=02"));
        for (const sim::Transfer& t : log) {
            if (t.kind == sim::Transfer::Bulk) {
                QCOMPARE(int(t.endpoint), 0x02);
                QCOMPARE(t.timeout_ms, t.data.size() == 1024 ? 5000u : 3000u);
                continue;
            }
            QCOMPARE(int(t.bmRequestType), (t.bRequest == 0xF8 || t.bRequest == 0xBA) ? 0xC1 : 0x41);
            QCOMPARE(int(t.wValue), 0);
            QCOMPARE(int(t.wIndex), 0);
            const unsigned expected = (t.bRequest == 0xB0 || t.bRequest == 0xBC || t.bRequest == 0xF5) ? 2000u : 300u;
            QCOMPARE(t.timeout_ms, expected);
        }
        QCOMPARE(up().flashed(Up::Mcu1), bytes(data));

        const QStringList used_record = {"MCU1 upgrade", "erase MCU1", "Done", "MCU1 update", "Done",
                                         "MCU1 upgrade success"};
        QCOMPARE(ev.messages(), used_record + QStringList(QVector<QString>(10, "Upgrade success").toList()));
        QCOMPARE(ev.debug(), used_record);
        QCOMPARE(ev.progress(), (QList<int>{1, 3, 5, 5, 50, 50, 75, 99, 100, 100, 100, 100, 100, 100, 100,
                                            100, 100, 100}));
        // The pauses of the protocol: erase wait, one round, before the
        // data, after "Done", around the success point.
        QCOMPARE(recorded_sleeps(), (QList<int>{1000, 1000, 200, 1000, 300, 500}));
        for (const char* line : {"update thread running", "step1.1 mark", "step2 mark", "step2.1 mark",
                                 "step2.2 mark", "step3 mark", "write all data done!"})
            QVERIFY2(capture.contains(line), line);
        QVERIFY(log_matches(capture, "^count: \\s*2$"));
        QVERIFY(log_matches(capture, "^numoflast: \\s*452$"));
        QVERIFY(!ev.has("fpga_upfailed"));
        QVERIFY(!ev.has("mcu2_restart"));
        QCOMPARE(harness->failed_stage, updateThread::Stage::None);
    }

    void every_target_data()
    {
        QTest::addColumn<uint>("type");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("expected");

        const QString body = "W1024 BA W1024 BA W452 BA";
        QTest::newRow("MCU1") << kMcu1 << 2500 << "B0 F8 B1 " + body + " BC=10 F5=02";
        QTest::newRow("FPGA") << kFpga << 2500 << "B2 F8 B3 " + body + " BC=20 F5=01";
        QTest::newRow("bootloader") << kBoot << 2500 << "B4 BA B5 " + body + " F5=00";
        QTest::newRow("kernel") << kKernel << 2500 << "B6 BA B7 " + body + " F5=00";
        QTest::newRow("file system") << kFs << 2500 << "B8 BA B9 " + body + " F5=00";
        QTest::newRow("MCU2") << kMcu2 << 2500 << "D2 D0 BA D1 " + body + " D3 F5=00";
        QTest::newRow("EDID") << kEdid << 2500 << "BD " + body + " F5=00";
        QTest::newRow("HI3516 100 bytes") << kHi3516 << 100 << QString("BF F4 F1 W64 BA F1 W36 BA F5=00");
        QTest::newRow("HI3798") << kHi3798 << 2500
                                << QString("BE BA BF F4 F1 W1024 BA F1 W1024 BA F1 W452 BA F1 F2=30 F3 F5=00");
    }

    void every_target()
    {
        QFETCH(uint, type);
        QFETCH(int, size);
        QFETCH(QString, expected);
        fast_clock();
        connect_harness();
        const QByteArray data = payload(size, int(type));
        Events ev;
        QVERIFY(run_image(build_image({{type, data}}), ev));

        QCOMPARE(sequence(tokens(wire(dev))), expected);
        QCOMPARE(up().flashed(sim_target(type)), bytes(data));
        QCOMPARE(ev.last_message(), QString("Upgrade success"));
        const QString name = QString::fromLatin1(fw::find_target(type)->name);
        QVERIFY(ev.messages().contains(name + " upgrade success"));
        QCOMPARE(ev.has("mcu2_restart"), type == kMcu2);
        QCOMPARE(ev.has("inqure_hi3798_version"), type == kHi3798);
        if (type == kMcu2) {
            // Closed and reopened around the restart, the unit back as a
            // new device in between.
            const QStringList all = ev.all();
            const int closed = all.indexOf("mcu2_update(false)");
            const int opened = all.indexOf("mcu2_update(true)");
            QVERIFY(closed >= 0 && opened > closed);
            QVERIFY(all.indexOf("D:mcu2 open success") > opened);
            QVERIFY(!dev->plugged());
            QCOMPARE(up().restarts(), 1);
        }
    }

    void multi_target_image()
    {
        fast_clock();
        connect_harness();
        const QList<uint32_t> types = {kMcu1, kFpga, kBoot, kKernel, kFs, kMcu2, kEdid, kHi3516, kHi3798};
        QList<Part> records;
        for (int i = 0; i < types.size(); ++i)
            records << Part{types[i], payload(600 + 700 * i, 50 + i)};
        records.insert(3, Part{}); // an unused record among them
        Events ev;
        QVERIFY(run_image(build_image(records, true), ev));

        for (const Part& p : records)
            if (p.type)
                QCOMPARE(up().flashed(sim_target(p.type)), bytes(p.data));
        const auto sessions = up().sessions();
        QCOMPARE(int(sessions.size()), types.size());
        for (int i = 0; i < types.size(); ++i)
            QCOMPARE(sessions[size_t(i)].target, sim_target(types[i]));
        const QStringList toks = tokens(wire(dev));
        QCOMPARE(toks.last(), QString("F5=03"));
        QCOMPARE(int(std::count_if(toks.begin(), toks.end(), [](const QString& t) { return t.startsWith("F5"); })), 1);
        QCOMPARE(ev.last_message(), QString("Upgrade success"));
        QCOMPARE(ev.progress().last(), 100);
        QVERIFY(!ev.has("fpga_upfailed"));
    }

    void zero_length_final_transfer()
    {
        fast_clock();
        connect_harness();
        const QByteArray data = payload(1024, 7);
        Events ev;
        QVERIFY(run_image(build_image({{kMcu1, data}}), ev));
        QCOMPARE(sequence(tokens(wire(dev))), QString("B0 F8 B1 W1024 BA W0 BA BC=10 F5=02"));
        QCOMPARE(up().flashed(Up::Mcu1), bytes(data));
        const QList<int> p = ev.progress();
        const int first50 = p.indexOf(50);
        QCOMPARE(p.mid(first50, 4), (QList<int>{50, 50, 99, 100}));
        const QStringList m = ev.messages();
        QCOMPARE(m.mid(m.indexOf("MCU1 update"), 3), (QStringList{"MCU1 update", "Done", "MCU1 upgrade success"}));
    }

    void hi3516_has_no_program_failed_bit()
    {
        fast_clock();
        connect_harness();
        up().setStatusBitsForced(0xFFFFFFFFu);
        const QByteArray data = payload(100, 3);
        Events ev;
        QVERIFY(run_image(build_image({{kHi3516, data}}), ev));
        QCOMPARE(sequence(tokens(wire(dev))), QString("BF F4 F1 W64 BA F1 W36 BA F5=00"));
        QCOMPARE(up().flashed(Up::Hi3516), bytes(data));
        QCOMPARE(ev.last_message(), QString("Upgrade success"));
        // A FIFO wait before each transfer, each reported.
        QCOMPARE(ev.debug().count("fifo status: 0"), 2);
        // The length went with the program request.
        for (const sim::Transfer& t : wire(dev))
            if (t.bRequest == 0xBF && t.kind == sim::Transfer::Control)
                QCOMPARE(t.data, (std::vector<uint8_t>{100, 0, 0, 0}));
    }

    void fifo_busy_then_ready()
    {
        fast_clock();
        connect_harness();
        up().setFifoBusyInquiries(3);
        const QByteArray data = payload(130, 4);
        Events ev;
        QVERIFY(run_image(build_image({{kHi3516, data}}), ev));
        QCOMPARE(sequence(tokens(wire(dev))), QString("BF F4 F1*4 W64 BA F1*4 W64 BA F1*4 W2 BA F5=00"));
        QCOMPARE(up().flashed(Up::Hi3516), bytes(data));
        QCOMPARE(ev.debug().count("fifo status: 1"), 9);
    }

    void preparation_at_62nd_inquiry_not_taken()
    {
        fast_clock();
        connect_harness();
        up().setPreparationInquiries(62);
        const QByteArray data = payload(100, 5);
        Events ev;
        QVERIFY(run_image(build_image({{kHi3516, data}}), ev));
        // The 62nd reading ends the attempt as timed out; as the unit then
        // is ready, the data follow without another program request.
        QCOMPARE(sequence(tokens(wire(dev))), QString("BF F4*62 F1 W64 BA F1 W36 BA F5=00"));
        const QStringList d = ev.debug();
        QCOMPARE(d.count("get Preparation status timeout"), 1);
        const QRegularExpression retry("^\\d\\d:\\d\\d:\\d\\dRetry 1$");
        QCOMPARE(int(std::count_if(d.begin(), d.end(), [&](const QString& l) { return retry.match(l).hasMatch(); })), 2);
        QVERIFY(d.indexOf("get Preparation status timeout") < d.indexOf("HI3516 update"));
        QCOMPARE(up().flashed(Up::Hi3516), bytes(data));
    }

    void preparation_never_ready_three_attempts()
    {
        fast_clock();
        connect_harness();
        up().setPreparationInquiries(Up::kNever);
        Events ev;
        QVERIFY(run_image(build_image({{kHi3516, payload(100, 6)}}), ev));
        QCOMPARE(sequence(tokens(wire(dev))),
                 QString("BF F4*62 BF F4*62 BF F4*62 F1 W64 BA F1 W36 BA F5=00"));
        const QStringList d = ev.debug();
        QCOMPARE(d.count("get Preparation status timeout"), 3);
        for (int n = 1; n <= 3; ++n) {
            const QRegularExpression retry(QStringLiteral("^\\d\\d:\\d\\d:\\d\\dRetry %1$").arg(n));
            QCOMPARE(int(std::count_if(d.begin(), d.end(), [&](const QString& l) { return retry.match(l).hasMatch(); })), 1);
        }
        // Attempt: program request, 50 ms, then 61 pauses between 62 inquiries.
        const QList<int> sleeps = recorded_sleeps();
        QCOMPARE(sleeps.count(50), 3 * 62);
    }

    void every_erase_is_confirmed()
    {
        // The command status and the status word are one per run, but what
        // an earlier record's wait read says nothing about a later erase:
        // each record's erase is waited for, also a second one of a target.
        fast_clock();
        connect_harness();
        const QByteArray m = payload(1100, 8), f = payload(1100, 9), k1 = payload(1500, 10), k2 = payload(900, 11);
        Events ev;
        QVERIFY(run_image(build_image({{kMcu1, m}, {kFpga, f}, {kKernel, k1}, {kKernel, k2}}), ev));
        QCOMPARE(sequence(tokens(wire(dev))),
                 QString("B0 F8 B1 W1024 BA W76 BA BC=10 "
                         "B2 F8 B3 W1024 BA W76 BA BC=20 "
                         "B6 BA B7 W1024 BA W476 BA "
                         "B6 BA B7 W900 BA F5=03"));
        // Two records of one type: both, in header order; the flash holds
        // the second.
        const auto sessions = up().sessions();
        QCOMPARE(sessions[2].data, bytes(k1));
        QCOMPARE(sessions[3].data, bytes(k2));
        QCOMPARE(up().flashed(Up::Kernel), bytes(k2));
        QCOMPARE(up().eraseCount(Up::Kernel), 2);
        QCOMPARE(up().flashed(Up::Fpga), bytes(f));
    }

    void bin_and_hex_alike()
    {
        fast_clock();
        connect_harness();
        const QByteArray image = build_image({{kMcu1, payload(1500, 12)}, {}, {kEdid, payload(700, 13)}});
        Events bin_ev, hex_ev;
        QVERIFY(run_image(image, bin_ev, "firmware.bin"));
        const QStringList bin_wire = tokens(wire(dev));
        const auto bin_sessions = up().sessions();
        dev->clearLog();
        QVERIFY(run_image(image, hex_ev, "firmware.hex"));
        QCOMPARE(tokens(wire(dev)), bin_wire);
        const auto hex_sessions = up().sessions();
        QCOMPARE(hex_sessions.size(), 2 * bin_sessions.size());
        for (size_t i = 0; i < bin_sessions.size(); ++i)
            QCOMPARE(hex_sessions[i + bin_sessions.size()].data, bin_sessions[i].data);
        QCOMPARE(hex_ev.messages(), bin_ev.messages());
    }

    void unused_records_around_one_target()
    {
        fast_clock();
        connect_harness();
        Events ev;
        QVERIFY(run_image(build_image({{}, {kMcu1, payload(300, 14)}}), ev));
        const QStringList all = ev.all();
        // Record 0 is empty and nothing has succeeded yet.
        QCOMPARE(all.mid(1, 2), (QStringList{"M:Upgrade failed", "P:0"}));
        const QStringList m = ev.messages();
        QCOMPARE(m.count("Upgrade success"), 9);
        QCOMPARE(m.last(), QString("Upgrade success"));
    }

    // --- retries -------------------------------------------------------------

    void bulk_write_retried_after_clear_halt()
    {
        fast_clock();
        connect_harness();
        dev->failNext(sim::SimDevice::kBulk, LIBUSB_ERROR_PIPE, 2);
        const QByteArray data = payload(2000, 15);
        Events ev;
        DebugCapture capture;
        QVERIFY(run_image(build_image({{kMcu1, data}}), ev));
        QCOMPARE(sequence(tokens(wire(dev))), QString("B0 F8 B1 W1024!*2 W1024 BA W976 BA BC=10 F5=02"));
        QCOMPARE(dev->clearHaltCount(0x02), 2);
        QCOMPARE(capture.count("write MCU1 error"), 2);
        QCOMPARE(recorded_sleeps().count(200), 3); // two retries and the pause before the data
        QCOMPARE(up().flashed(Up::Mcu1), bytes(data));
        QCOMPARE(ev.last_message(), QString("Upgrade success"));
    }

    void request_retried_after_clear_halt()
    {
        fast_clock();
        connect_harness();
        dev->failNext(0xBA, LIBUSB_ERROR_PIPE, 2);
        Events ev;
        DebugCapture capture;
        QVERIFY(run_image(build_image({{kBoot, payload(500, 16)}}), ev));
        QCOMPARE(sequence(tokens(wire(dev))), QString("B4 BA!*2 BA B5 W500 BA F5=00"));
        QCOMPARE(dev->clearHaltCount(0), 2);
        QCOMPARE(capture.count("bootloader status Inquire error"), 2);
        QCOMPARE(ev.last_message(), QString("Upgrade success"));
    }

    // --- failures ------------------------------------------------------------

    void failures_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<uint>("type");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("lastMessage");
        QTest::addColumn<QString>("debugLine");  // empty: none expected
        QTest::addColumn<QString>("logPattern"); // empty: none expected
        QTest::addColumn<QString>("forbidden");  // token prefix that must not be sent
        QTest::addColumn<bool>("fpgaWarning");
        QTest::addColumn<QString>("stage"); // where the engine says the target failed

        QTest::newRow("bulk write fails three times")
            << "bulk3" << kMcu1 << 2500 << "Upgrade failed" << "" << "^step3 error: \\s*-1$" << "BC" << false << "Program";
        QTest::newRow("FPGA bulk write fails three times")
            << "bulk3" << kFpga << 2500 << "Upgrade failed" << "" << "^step3 error: \\s*-1$" << "BC" << true << "Program";
        QTest::newRow("unit takes part of a chunk")
            << "bulkshort" << kMcu1 << 2500 << "Upgrade failed" << "" << "^write MCU1 error$" << "BA" << false << "Program";
        QTest::newRow("unit vanishes during the data")
            << "unplug" << kMcu1 << 2500 << "Upgrade failed" << "" << "^step3 error: \\s*-1$" << "BC" << false << "Program";
        QTest::newRow("erase request fails: nothing programmed")
            << "erase3" << kMcu1 << 2500 << "Upgrade failed" << "" << "^step1 error: \\s*-9$" << "B1" << false << "Erase";
        QTest::newRow("erase never confirmed (command status)")
            << "erasenever" << kMcu1 << 2500 << "MCU1Erase failed" << "MCU1Erase timeout" << "" << "B1" << false << "WaitErase";
        QTest::newRow("erase never confirmed (status bit)")
            << "erasenever" << kKernel << 2500 << "kernelErase failed" << "kernelErase timeout" << "" << "B7" << false << "WaitErase";
        QTest::newRow("FPGA erase never confirmed")
            << "erasenever" << kFpga << 2500 << "FPGAErase failed" << "FPGAErase timeout" << "" << "B3" << true << "WaitErase";
        QTest::newRow("status inquiry fails during the erase wait")
            << "status3" << kMcu1 << 2500 << "Upgrade failed" << "" << "^step2 error: \\s*-9$" << "B1" << false << "WaitErase";
        QTest::newRow("program request refused")
            << "program3" << kMcu1 << 2500 << "Upgrade failed" << "" << "^step3 error: \\s*-1$" << "W" << false << "Program";
        QTest::newRow("program failed after a chunk")
            << "failchunk" << kMcu1 << 2500 << "program failed" << "" << "^step3 error: \\s*-1$" << "BC" << false << "Program";
        QTest::newRow("program failed after the final transfer")
            << "failfinal" << kMcu1 << 2500 << "upgrade failed" << "" << "^step3 error: \\s*-1$" << "BC" << false << "Program";
        QTest::newRow("FPGA program failed")
            << "failchunk" << kFpga << 2500 << "program failed" << "" << "" << "BC" << true << "Program";
        QTest::newRow("MCU1 data check refused")
            << "rejectcheck" << kMcu1 << 2500 << "Upgrade failed" << "" << "^MCU1 data check error$" << "F5" << false << "Check";
        QTest::newRow("MCU2 data check refused")
            << "rejectcheck" << kMcu2 << 1500 << "Upgrade failed" << "" << "^MCU2 data check error$" << "F5" << false << "Check";
        QTest::newRow("FIFO never ready before a chunk")
            << "fifonever" << kHi3516 << 100 << "get fifo-status timeout" << "get fifo-status timeout"
            << "^step3 error: \\s*-9$" << "W" << false << "Program";
        QTest::newRow("FIFO never ready before the final transfer")
            << "fifonever" << kHi3516 << 30 << "Upgrade failed" << "get fifo-status timeout"
            << "^step3 error: \\s*-9$" << "W" << false << "Program";
        QTest::newRow("FIFO never ready before the HI3798 check")
            << "fifocheck" << kHi3798 << 1024 << "Upgrade failed" << "get fifo-status timeout"
            << "^step3 error: \\s*-9$" << "F2" << false << "Check";
        QTest::newRow("HI3798 result never comes")
            << "resultnever" << kHi3798 << 1500 << "Upgrade failed" << "get hi3798 upgrade result timeout"
            << "^step3 error: \\s*-10$" << "F5" << false << "Check";
        QTest::newRow("HI3798 check refused")
            << "rejectcheck" << kHi3798 << 1500 << "Upgrade failed" << "get hi3798 upgrade result timeout"
            << "^step3 error: \\s*-10$" << "F5" << false << "Check";
        QTest::newRow("HI3798 not prepared")
            << "hinotready" << kHi3798 << 1500 << "hi3798 was not prepared" << "hi3798 was not prepared" << ""
            << "BE" << false << "Prepare";
        QTest::newRow("MCU2 does not come back")
            << "nocomeback" << kMcu2 << 1500 << "mcu2 open failed" << "mcu2 open failed" << "" << "D0" << false << "Prepare";
    }

    void failures()
    {
        QFETCH(QString, fault);
        QFETCH(uint, type);
        QFETCH(int, size);
        QFETCH(QString, lastMessage);
        QFETCH(QString, debugLine);
        QFETCH(QString, logPattern);
        QFETCH(QString, forbidden);
        QFETCH(bool, fpgaWarning);
        QFETCH(QString, stage);

        fast_clock();
        connect_harness();
        const Up::Target target = sim_target(type);
        if (fault == "bulk3")
            dev->failNext(sim::SimDevice::kBulk, LIBUSB_ERROR_PIPE, 3);
        else if (fault == "bulkshort")
            dev->failNext(sim::SimDevice::kBulk, sim::kFaultShort, 1);
        else if (fault == "unplug")
            dev->failNext(sim::SimDevice::kBulk, sim::kFaultUnplug, 1);
        else if (fault == "erase3")
            dev->failNext(0xB0, LIBUSB_ERROR_PIPE, 3);
        else if (fault == "erasenever")
            up().setEraseInquiries(Up::kNever);
        else if (fault == "status3")
            dev->failNext(0xF8, LIBUSB_ERROR_PIPE, 3);
        else if (fault == "program3")
            dev->failNext(0xB1, LIBUSB_ERROR_PIPE, 3);
        else if (fault == "failchunk")
            up().failProgramAtTransfer(target, 1);
        else if (fault == "failfinal")
            up().failProgramAtTransfer(target, size / 1024);
        else if (fault == "rejectcheck")
            up().rejectCheck(target);
        else if (fault == "fifonever")
            up().setFifoBusyInquiries(Up::kNever);
        else if (fault == "fifocheck") {
            // The third second's pause follows "Done": the data are in, the
            // check is next.
            auto seconds = std::make_shared<std::atomic<int>>(0);
            std::lock_guard<std::mutex> lock(g_sleep_mutex);
            g_before_sleep = [this, seconds](int ms) {
                if (ms == 1000 && ++*seconds == 3)
                    up().setFifoBusyInquiries(Up::kNever);
            };
        }
        else if (fault == "resultnever")
            up().setResultInquiries(Up::kNever);
        else if (fault == "hinotready")
            harness->hi3798_ready = false;
        else if (fault == "nocomeback")
            up().setRestartTiming(std::chrono::milliseconds(5), std::chrono::milliseconds(20), false);
        else
            QFAIL("unknown fault");

        Events ev;
        DebugCapture capture;
        QVERIFY(run_image(build_image({{type, payload(size, 17)}}), ev));

        const QStringList toks = tokens(wire(dev));
        expect_no_success(ev);
        QCOMPARE(ev.last_message(), lastMessage);
        for (const QString& t : toks) {
            QVERIFY2(!t.startsWith("F5"), "the closing request claims a failed target");
            QVERIFY2(!t.startsWith(forbidden), qPrintable(sequence(toks)));
        }
        if (!debugLine.isEmpty())
            QVERIFY2(ev.debug().contains(debugLine), qPrintable(ev.debug().join(" | ")));
        if (!logPattern.isEmpty())
            QVERIFY2(log_matches(capture, logPattern), qPrintable(logPattern));
        QCOMPARE(ev.has("fpga_upfailed"), fpgaWarning);
        QVERIFY(!ev.has("mcu2_restart"));
        QCOMPARE(stage_name(harness->failed_stage), stage);
        QCOMPARE(harness->failed_type, type);

        // The limits of the waits, counted on the wire.
        // The clock ran fast; the pauses asked for are the protocol's: the
        // initial second and one per round.
        if (fault == "erasenever" && (type == kMcu1 || type == kFpga)) {
            QCOMPARE(count_of(toks, "F8"), 81);
            QCOMPARE(ev.progress().last(), 49);
            QCOMPARE(recorded_sleeps(), QList<int>(QVector<int>(82, 1000).toList()));
        } else if (fault == "erasenever") {
            QCOMPARE(count_of(toks, "BA"), 31);
            QCOMPARE(ev.progress().last(), 48);
            QCOMPARE(recorded_sleeps(), QList<int>(QVector<int>(32, 1000).toList()));
        } else if (fault == "fifonever" || fault == "fifocheck") {
            QCOMPARE(toks.mid(toks.lastIndexOf("F1") - 61).count("F1"), 62);
        } else if (fault == "resultnever") {
            QCOMPARE(count_of(toks, "F3"), 61); // the FIFO's one inquiry counts
        } else if (fault == "bulk3") {
            QCOMPARE(count_of(toks, "W1024!"), 3);
            QCOMPARE(dev->clearHaltCount(0x02), 3);
        } else if (fault == "bulkshort") {
            QCOMPARE(count_of(toks, "W1023"), 1); // not sent again
        }
    }

    void failure_after_a_success_claims_nothing_more()
    {
        // MCU1 goes through; the FPGA's erase never reaches the unit. The
        // FPGA must not be programmed on the strength of the MCU1's status,
        // and the run must not end as a success.
        fast_clock();
        connect_harness();
        dev->failNext(0xB2, LIBUSB_ERROR_PIPE, 3);
        Events ev;
        QVERIFY(run_image(build_image({{kMcu1, payload(1100, 18)}, {kFpga, payload(1100, 19)}}), ev));
        const QStringList toks = tokens(wire(dev));
        QCOMPARE(sequence(toks), QString("B0 F8 B1 W1024 BA W76 BA BC=10 B2!*3"));
        QCOMPARE(ev.last_message(), QString("Upgrade failed"));
        QVERIFY(ev.has("fpga_upfailed"));
        QVERIFY(up().finishedFlags().empty());
        QCOMPARE(harness->failed_stage, updateThread::Stage::Erase);
        QCOMPARE(harness->failed_type, kFpga);
    }

    void preparation_failure_after_a_success()
    {
        // The HI3798 is not ready: the run stops there; the MCU1 did finish,
        // and the closing request says so (and only that).
        fast_clock();
        connect_harness();
        harness->hi3798_ready = false;
        Events ev;
        QVERIFY(run_image(build_image({{kMcu1, payload(500, 20)}, {kHi3798, payload(500, 21)}}), ev));
        QCOMPARE(sequence(tokens(wire(dev))), QString("B0 F8 B1 W500 BA BC=10 F5=02"));
        QCOMPARE(ev.last_message(), QString("hi3798 was not prepared"));
    }

    void refused_images_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");

        QTest::newRow("missing") << "missing" << "file not exist!";
        QTest::newRow("folder") << "folder" << "open file error!";
        QTest::newRow("empty file") << "empty" << "read file error!";
        QTest::newRow("shorter than the header") << "short" << "image file too short!";
        QTest::newRow("unknown type") << "unknown" << "invalid image: record 2 has unknown type 0x8a";
        QTest::newRow("payload beyond the end") << "beyond" << "invalid image: record 1 lies outside the file";
        QTest::newRow("negative length") << "negative" << "invalid image: record 0 has invalid length -5";
        QTest::newRow("named pipe") << "fifo"
                                    << "not a regular file: a pipe, a device or a socket cannot be an image";
        QTest::newRow("2 GiB sparse file, one MCU1 record spanning it")
            << "huge record" << "invalid image: record 0 is too large for MCU1: 2147483488 bytes, at most 4194304";
        QTest::newRow("sparse file larger than any image")
            << "huge file"
            << QString("image file too large: %1 bytes, at most %2").arg(fw::max_image_size() + 1).arg(fw::max_image_size());
    }

    void refused_images()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        fast_clock();
        connect_harness();
        QString path;
        if (kind == "missing") {
            path = dir->filePath("nothing.bin");
        } else if (kind == "folder") {
            path = dir->filePath("folder.bin");
            QVERIFY(QDir().mkdir(path));
        } else if (kind == "empty") {
            path = write_file(*dir, "empty.bin", QByteArray());
        } else if (kind == "short") {
            path = write_file(*dir, "short.bin", build_image({{kMcu1, payload(10, 1)}}).left(100));
        } else if (kind == "fifo") {
            path = dir->filePath("pipe.bin");
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == "huge record" || kind == "huge file") {
            // Sparse: the size costs no disk.
            QByteArray image = build_image({{kMcu1, payload(10, 1)}});
            const qint64 size = kind == "huge record" ? qint64(1) << 31 : fw::max_image_size() + 1;
            if (kind == "huge record")
                put32(image, 4, uint32_t(size - fw::kHeaderSize));
            path = write_file(*dir, "huge.bin", image);
            QVERIFY(QFile::resize(path, size));
        } else {
            QByteArray image = build_image({{kMcu1, payload(300, 1)}, {kFpga, payload(300, 2)}, {kBoot, payload(300, 3)}});
            if (kind == "unknown")
                put32(image, 2 * 16, 0x8A);
            else if (kind == "beyond")
                put32(image, 1 * 16 + 4, 300 + 1000);
            else if (kind == "negative")
                put32(image, 0 * 16 + 4, uint32_t(-5));
            path = write_file(*dir, "image.bin", image);
        }
        // The page says so first, and never waits on the file.
        bool blocked = false;
        const upgrade_ui::ImageDescription page = describe_without_hanging(path, &blocked);
        QVERIFY2(!blocked, "the page's description blocked on the file");
        QVERIFY(page.refused);
        QCOMPARE(page.text, "This image would be refused: " + message);

        Events ev;
        QVERIFY(harness->run(path, ev));
        // Not one request: nothing erased.
        QVERIFY2(wire(dev).empty(), qPrintable(sequence(tokens(wire(dev)))));
        QCOMPARE(ev.messages(), QStringList{message});
        QCOMPARE(ev.debug(), (QStringList{QString(), message + " transfer error: 0"}));
        QCOMPARE(ev.progress(), QList<int>{1});
        QCOMPARE(harness->failed_stage, updateThread::Stage::ReadImage);
        QCOMPARE(harness->failed_type, 0u);
    }

    void image_changed_during_the_run_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("cut short") << "shrink";
        QTest::newRow("rewritten in place") << "rewrite";
    }

    void image_changed_during_the_run()
    {
        // The file changes under the engine after the checks: what goes to
        // the unit is the image as it was when the run began, whole.
        QFETCH(QString, change);
        fast_clock();
        connect_harness();
        const QByteArray data = payload(2500, 22);
        const QString path = write_file(*dir, "image.bin", build_image({{kMcu1, data}}));
        auto changed = std::make_shared<std::atomic<bool>>(false);
        {
            std::lock_guard<std::mutex> lock(g_sleep_mutex);
            g_before_sleep = [path, change, changed](int ms) {
                if (ms != upgrade_timing::kTransferStartPauseMs || changed->exchange(true))
                    return;
                QFile f(path);
                if (change == "shrink") {
                    f.resize(fw::kHeaderSize + 1000);
                } else if (f.open(QIODevice::ReadWrite)) {
                    f.seek(fw::kHeaderSize);
                    f.write(payload(2500, 99));
                }
            };
        }
        Events ev;
        QVERIFY(harness->run(path, ev));
        QVERIFY(*changed);
        QCOMPARE(sequence(tokens(wire(dev))), QString("B0 F8 B1 W1024 BA W1024 BA W452 BA BC=10 F5=02"));
        QCOMPARE(up().flashed(Up::Mcu1), bytes(data));
        QCOMPARE(ev.last_message(), QString("Upgrade success"));
    }

    // --- the Update page -----------------------------------------------------

    void select_file()
    {
        w = new Wireless_Video_Link();
        upgrade_ui::set_open_file_function(&fake_dialog);
        g_dialog_answer = "/images/firmware.hex";
        w->form()->Select_file_button->click();
        QCOMPARE(w->form()->lineEdit_file->text(), QString("/images/firmware.hex"));
        QCOMPARE(g_dialog_caption, QString("Open File"));
        QVERIFY(g_dialog_dir.isEmpty());
        QCOMPARE(g_dialog_filter, QString("Images (*.bin *.hex)"));
        QCOMPARE(g_dialog_parent, static_cast<QWidget*>(w));
        g_dialog_answer.clear(); // cancelled
        w->form()->Select_file_button->click();
        QVERIFY(w->form()->lineEdit_file->text().isEmpty());
    }

    void upgrade_button_without_file_or_device_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("enabled"); // "Upgrade" can be clicked
        QTest::newRow("empty path") << "empty" << false;
        QTest::newRow("folder") << "folder" << false;
        QTest::newRow("missing file") << "missing" << false;
        QTest::newRow("refused image") << "refused" << false;
        QTest::newRow("image holding no target") << "notarget" << false;
        QTest::newRow("no device") << "nodevice" << true;
        QTest::newRow("the question before flashing cancelled") << "cancel" << true;
    }

    void upgrade_button_without_file_or_device()
    {
        QFETCH(QString, kind);
        QFETCH(bool, enabled);
        w = new Wireless_Video_Link();
        if (kind != "nodevice")
            QCOMPARE(w->open_device(true), 0);
        const QString image = write_file(*dir, "image.bin", build_image({{kMcu1, payload(100, 1)}}));
        QString path = image;
        if (kind == "empty")
            path.clear();
        else if (kind == "folder")
            path = dir->path();
        else if (kind == "missing")
            path = dir->filePath("gone.bin");
        else if (kind == "refused")
            path = write_file(*dir, "short.bin", build_image({{kMcu1, payload(100, 1)}}).left(100));
        else if (kind == "notarget")
            path = write_file(*dir, "empty.bin", build_image({}));
        g_confirm_answer = kind != "cancel";
        Ui::Wireless_Video_Link* ui = w->form();
        ui->lineEdit_file->setText(path);
        QCOMPARE(ui->pushButton_upgrade->isEnabled(), enabled);
        ui->label_update_message->setText("untouched");
        const bool polling = w->poll_timer()->isActive();
        dev->clearLog();
        DebugCapture capture;
        ui->pushButton_upgrade->click();
        QTest::qWait(100);
        QCOMPARE(g_confirms, kind == "cancel" ? 1 : 0);
        QVERIFY(!w->findChild<updateThread*>());
        QVERIFY(!w->upgrade_running());
        QCOMPARE(ui->label_update_message->text(), QString("untouched"));
        QVERIFY(all_enabled(true, false));
        QCOMPARE(ui->pushButton_upgrade->isEnabled(), enabled);
        QVERIFY(ui->textEdit_debug_message->document()->isEmpty());
        QVERIFY(!QFile::exists(upgrade_ui::record_path()));
        QCOMPARE(w->poll_timer()->isActive(), polling);
        QVERIFY(!capture.contains("mytimer stop"));
        QVERIFY(tokens(wire(dev), true).isEmpty());
    }

    void upgrade_locks_window_and_pauses_poll()
    {
        // Real clock: the engine's pauses as they are.
        make_window();
        Ui::Wireless_Video_Link* ui = w->form();
        const QByteArray data = payload(2500, 23);
        ui->lineEdit_file->setText(write_file(*dir, "image.bin", build_image({{kMcu1, data}})));
        ui->progressBar->setValue(42);
        QCOMPARE(poll_connections(), 1);

        DebugCapture capture;
        ui->pushButton_upgrade->click();
        auto* engine = w->findChild<updateThread*>();
        QVERIFY(engine);
        QCOMPARE(ui->label_update_message->text(), QString("updata starting"));
        QVERIFY(all_enabled(false));
        QVERIFY(!w->poll_timer()->isActive());
        QCOMPARE(poll_connections(), 0);
        QVERIFY(capture.contains("mytimer stop"));
        QCOMPARE(ui->progressBar->value(), 42); // not cleared at the start

        // From the engine's end, the controls stay locked for 5 s. The end
        // is sampled with the lock (a slot connected to the engine while it
        // runs would reach its thread through Qt's locks only, unseen by
        // ThreadSanitizer).
        qint64 ended_ms = -1;
        QElapsedTimer clock;
        clock.start();
        qint64 unlocked_after = -1;
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            if (ended_ms < 0 && engine->isFinished())
                ended_ms = clock.elapsed();
            if (unlocked_after < 0 && ended_ms >= 0 && ui->pushButton_upgrade->isEnabled())
                unlocked_after = clock.elapsed() - ended_ms;
        });
        sampler.start(20);
        QVERIFY(wait_for([&] { return unlocked_after >= 0; }, 30000));
        QVERIFY2(unlocked_after >= 4900 && unlocked_after < 6500, qPrintable(QString::number(unlocked_after)));
        QVERIFY(all_enabled(true));
        QVERIFY(w->poll_timer()->isActive());
        QCOMPARE(w->poll_timer()->interval(), 1000);
        QCOMPARE(poll_connections(), 1);

        QCOMPARE(ui->label_update_message->text(), QString("Upgrade success"));
        QCOMPARE(ui->progressBar->value(), 100);
        const QString view = ui->textEdit_debug_message->toPlainText();
        for (const char* line : {"MCU1 upgrade", "erase MCU1", "MCU1 update", "MCU1 upgrade success"})
            QVERIFY2(view.contains(line), line);
        QCOMPARE(up().flashed(Up::Mcu1), bytes(data));
        QCOMPARE(recorded_sleeps(), (QList<int>{1000, 1000, 200, 1000, 300, 500}));
        QCOMPARE(tokens(wire(dev), true).last(), QString("F5=02"));
    }

    void fpga_failure_warns_and_running_poll_is_left_alone()
    {
        fast_clock();
        make_window();
        Ui::Wireless_Video_Link* ui = w->form();
        up().failProgramAtTransfer(Up::Fpga, 0);
        ui->lineEdit_file->setText(write_file(*dir, "image.bin", build_image({{kFpga, payload(2500, 24)}})));
        BoxWatcher boxes;
        ui->pushButton_upgrade->click();
        // A reconnection during the run would start the poll again.
        w->poll_timer()->start();
        QObject::connect(w->poll_timer(), &QTimer::timeout, w, &Wireless_Video_Link::poll_status,
                         Qt::UniqueConnection);
        QVERIFY(wait_for([&] { return ui->pushButton_upgrade->isEnabled(); }, 30000));
        QCOMPARE(boxes.boxes.size(), 1);
        const BoxWatcher::Box b = boxes.boxes.first();
        QCOMPARE(b.icon, QMessageBox::Warning);
        QCOMPARE(b.title, QString("warning"));
        QCOMPARE(b.text, QString("Please don't power off and try again."));
        QVERIFY(b.parentless);
        QVERIFY(b.modal);
        QCOMPARE(ui->label_update_message->text(), QString("program failed"));
        QVERIFY(w->poll_timer()->isActive());
        QCOMPARE(poll_connections(), 1);
    }

    void close_during_upgrade_data()
    {
        QTest::addColumn<QString>("answer"); // "": no upgrade runs, nobody is asked
        QTest::newRow("no upgrade running: closes unasked") << "";
        QTest::newRow("Enter in the question keeps the upgrade running") << "enter";
        QTest::newRow("closed anyway: the upgrade stops first") << "yes";
    }

    void close_during_upgrade()
    {
        QFETCH(QString, answer);
        fast_clock();
        make_window();
        w->show();
        Ui::Wireless_Video_Link* ui = w->form();
        g_questions = 0;
        g_question_answered = false;
        if (answer.isEmpty()) {
            upgrade_ui::set_close_question_function(&fake_question);
            QVERIFY(w->close());
            QCOMPARE(g_questions, 0);
            QVERIFY(!w->isVisible());
            return;
        }
        QString box_text;
        QMessageBox::StandardButton box_default = QMessageBox::NoButton;
        QTimer answerer;
        if (answer == "yes") {
            g_question_answer = true;
            upgrade_ui::set_close_question_function(&fake_question);
        } else {
            // The real question: read, then answered with Enter.
            QObject::connect(&answerer, &QTimer::timeout, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (!box || !box->isVisible())
                    return;
                box_text = box->text();
                box_default = box->standardButton(box->defaultButton());
                QTest::keyClick(box, Qt::Key_Return);
                g_question_answered = true;
            });
            answerer.start(20);
        }
        const QByteArray data = payload(2500, 27);
        ui->lineEdit_file->setText(write_file(*dir, "image.bin", build_image({{kMcu1, data}})));
        // The close comes while the engine pauses before the data; it
        // waits there until the question is answered (or it is told to
        // stop).
        {
            std::lock_guard<std::mutex> lock(g_sleep_mutex);
            auto once = std::make_shared<std::atomic<bool>>(false);
            Wireless_Video_Link* window = w;
            g_before_sleep = [window, once](int ms) {
                if (ms != upgrade_timing::kTransferStartPauseMs || once->exchange(true))
                    return;
                QMetaObject::invokeMethod(window, "close", Qt::QueuedConnection);
                QElapsedTimer t;
                t.start();
                while (!g_question_answered && !QThread::currentThread()->isInterruptionRequested()
                       && t.elapsed() < 10000)
                    QThread::msleep(2);
            };
        }
        Events ev;
        QObject ctx;
        dev->holdTransfers(true);
        ui->pushButton_upgrade->click();
        auto* engine = w->findChild<updateThread*>();
        QVERIFY(engine);
        watch(engine, &ctx, &ev);
        dev->holdTransfers(false);

        const QString question = "An upgrade is running. Closing now stops it part-way and may leave the unit "
                                 "without working firmware until it is upgraded again. Close anyway?";
        if (answer == "yes") {
            QVERIFY(wait_for([&] { return !w->isVisible(); }, 10000));
            // Hidden only once the engine had ended.
            QVERIFY(engine->isFinished());
            QCOMPARE(g_questions, 1);
            QCOMPARE(g_question_title, QString("warning"));
            QCOMPARE(g_question_text, question);
            QVERIFY(wait_for([&] { return ev.has("isdone"); }));
            QCOMPARE(sequence(tokens(wire(dev), true)), QString("B0 F8 B1"));
            QCOMPARE(ev.last_message(), QString("Upgrade stopped"));
            expect_no_success(ev);
            QVERIFY(up().flashed(Up::Mcu1).empty());
            // Its end is given back without the closing pause.
            QVERIFY(wait_for([&] { return ui->pushButton_upgrade->isEnabled(); }, 2000));
        } else {
            QVERIFY(wait_for([&] { return ev.has("isdone"); }, 10000));
            QCOMPARE(box_text, question);
            QCOMPARE(box_default, QMessageBox::No);
            QVERIFY(w->isVisible());
            QCOMPARE(ev.last_message(), QString("Upgrade success"));
            QCOMPARE(up().flashed(Up::Mcu1), bytes(data));
        }
    }

    void page_after_reconnection_data()
    {
        QTest::addColumn<bool>("fail");
        QTest::addColumn<QString>("then");
        QTest::addColumn<bool>("cleared");
        QTest::newRow("failed run: the reason stays") << true << "" << false;
        QTest::newRow("failed run, another file chosen: cleared") << true << "choose" << true;
        QTest::newRow("failed run, a path typed: cleared") << true << "type" << true;
        QTest::newRow("successful run: cleared") << false << "" << true;
    }

    void page_after_reconnection()
    {
        // What a (re)connection does to the page after a run, e.g. the
        // second controller coming back after the engine gave up on it.
        QFETCH(bool, fail);
        QFETCH(QString, then);
        QFETCH(bool, cleared);
        fast_clock();
        make_window();
        Ui::Wireless_Video_Link* ui = w->form();
        if (fail)
            up().rejectCheck(Up::Mcu1);
        const QString image = write_file(*dir, "image.bin", build_image({{kMcu1, payload(1500, 28)}}));
        ui->lineEdit_file->setText(image);
        ui->pushButton_upgrade->click();
        QVERIFY(wait_for([&] { return ui->pushButton_upgrade->isEnabled(); }, 30000));
        const QString shown = ui->label_update_message->text();
        const int progress = ui->progressBar->value();
        QCOMPARE(shown, QString(fail ? "Upgrade failed" : "Upgrade success"));

        if (then == "choose") {
            upgrade_ui::set_open_file_function(&fake_dialog);
            g_dialog_answer = image;
            ui->Select_file_button->click();
        } else if (then == "type") {
            QTest::keyClick(ui->lineEdit_file, Qt::Key_Backspace);
        }
        w->reset_upgrade_page_on_connect();
        QCOMPARE(ui->label_update_message->text(), cleared ? QString() : shown);
        QCOMPARE(ui->progressBar->value(), cleared ? 0 : progress);
        // The failed state goes with the message.
        const bool failed_state = fail && !cleared;
        QCOMPARE(!w->findChild<QLabel*>("label_upgrade_failure")->isHidden(), failed_state);
        QCOMPARE(ui->progressBar->property("failed").toBool(), failed_state);
    }

    void mcu2_restart_through_the_window()
    {
        // Real clock: the window closes the connection, the unit drops off
        // the bus and comes back, the window reopens it and hands the new
        // handle over within the engine's 4.6 s.
        unit->setHi3798Version("V2.1.0");
        up().setRestartTiming(std::chrono::milliseconds(100), std::chrono::milliseconds(1000));
        make_window();
        w->on_pushButton_GET_SN_clicked();
        QCOMPARE(w->hi3798_version, QString("V2.1.0"));
        Ui::Wireless_Video_Link* ui = w->form();
        const QByteArray mcu2 = payload(1500, 25), hi = payload(1100, 26);
        ui->lineEdit_file->setText(write_file(*dir, "image.bin", build_image({{kMcu2, mcu2}, {kHi3798, hi}})));
        libusb_device_handle* first_handle = w->device_handle();

        BoxWatcher boxes;
        // The engine's first request waits until the observers are attached.
        dev->holdTransfers(true);
        ui->pushButton_upgrade->click();
        auto* engine = w->findChild<updateThread*>();
        Events ev;
        QObject context;
        if (engine)
            watch(engine, &context, &ev);
        // After the window's own slot: what it did with the connection.
        QObject::connect(engine, &updateThread::mcu2_update, &context, [&](bool open) {
            if (!open) {
                ev.add(QString("closed:%1:%2:%3")
                           .arg(w->device_handle() == nullptr)
                           .arg(dev->interfaceClaimed())
                           .arg(w->mcu2_restarting));
            } else {
                const auto devs = sim::VirtualBus::instance().devices();
                const bool new_claimed = !devs.empty() && devs.back() != dev && devs.back()->interfaceClaimed();
                ev.add(QString("opened:%1:%2:%3")
                           .arg(w->device_handle() != nullptr)
                           .arg(new_claimed)
                           .arg(w->mcu2_restarting));
            }
        });
        dev->holdTransfers(false);
        QVERIFY(engine);
        QVERIFY(wait_for([&] { return ui->pushButton_upgrade->isEnabled(); }, 60000));

        const QStringList all = ev.all();
        QVERIFY2(all.contains("closed:1:0:1"), qPrintable(all.join(" | ")));
        QVERIFY2(all.contains("opened:1:1:0"), qPrintable(all.join(" | ")));
        QVERIFY(all.indexOf("M:mcu2 open success") > all.indexOf("opened:1:1:0"));
        QVERIFY(!dev->plugged());
        QVERIFY(w->device_handle());
        QVERIFY(w->device_handle() != first_handle);
        QCOMPARE(up().flashed(Up::Mcu2), bytes(mcu2));
        QCOMPARE(up().flashed(Up::Hi3798), bytes(hi));
        QVERIFY(all.contains("asked for the HI3798"));
        QCOMPARE(ui->label_update_message->text(), QString("Upgrade success"));
        QCOMPARE(ui->progressBar->value(), 100);
        QCOMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes.first().icon, QMessageBox::Information);
        QCOMPARE(boxes.boxes.first().title, QString("prompt"));
        QCOMPARE(boxes.boxes.first().text, QString("Please restart device."));
        QVERIFY(boxes.boxes.first().parentless);
        QCOMPARE(up().finishedFlags(), std::vector<uint8_t>{0});
        QCOMPARE(sim::VirtualBus::instance().liveHandles(), 1);
    }

    // --- asking first, saying what failed ------------------------------------

    void confirmation_text_data()
    {
        QTest::addColumn<int>("unitType");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<QString>("baseband");
        QTest::addColumn<QString>("hi3798");
        QTest::addColumn<QString>("unitLines");

        QTest::newRow("ground unit") << 2 << "QL24G0000001" << "1.2.3" << "20304" << ""
                                     << "Unit: ground unit, serial number QL24G0000001\nFirmware: 1.2.3\nBaseband: 20304";
        QTest::newRow("air unit with an HI3798")
            << 1 << "QL24A0000001" << "1.2.3" << "20304" << "V1.0.5"
            << "Unit: air unit, serial number QL24A0000001\nFirmware: 1.2.3\nBaseband: 20304\nHI3798: V1.0.5";
        QTest::newRow("nothing read yet")
            << 0 << "" << "" << "" << ""
            << "Unit: unit of unknown type, serial number not read\nFirmware: not read\nBaseband: not read";
    }

    void confirmation_text()
    {
        QFETCH(int, unitType);
        QFETCH(QString, serial);
        QFETCH(QString, firmware);
        QFETCH(QString, baseband);
        QFETCH(QString, hi3798);
        QFETCH(QString, unitLines);
        const QByteArray image = build_image({{kMcu1, payload(4096, 1)}, {}, {kFpga, payload(2048, 2)}});
        const upgrade_ui::ImageDescription d = upgrade_ui::describe_image(image.left(fw::kHeaderSize), image.size());
        const QString text =
            upgrade_ui::confirmation_text({unitType, serial, firmware, baseband, hi3798}, "/images/fw.bin", d);
        QCOMPARE(text, "Flash this image into the unit?\n\n" + unitLines
                           + "\n\nImage: /images/fw.bin\nTargets: MCU1 (4096 bytes), FPGA (2048 bytes)\n\n"
                             "Keep the unit plugged in and powered until the upgrade has ended.");
    }

    void upgrade_asks_first_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::newRow("Upgrade: the engine starts") << "yes";
        QTest::newRow("Enter in the real question: nothing sent") << "enter";
    }

    void upgrade_asks_first()
    {
        QFETCH(QString, answer);
        fast_clock();
        unit->setHi3798Version("V2.1.0");
        make_window();
        w->on_pushButton_GET_SN_clicked();
        Ui::Wireless_Video_Link* ui = w->form();
        const QString path = write_file(*dir, "image.bin", build_image({{kMcu1, payload(1500, 30)}, {kFpga, payload(700, 31)}}));
        ui->lineEdit_file->setText(path);

        QString title, text, default_text;
        QTimer answerer;
        if (answer == "enter") {
            upgrade_ui::set_confirm_upgrade_function(nullptr);
            QObject::connect(&answerer, &QTimer::timeout, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (!box || !box->isVisible())
                    return;
                title = box->windowTitle();
                text = box->text();
                default_text = box->defaultButton() ? box->defaultButton()->text() : QString();
                QTest::keyClick(box, Qt::Key_Return);
            });
            answerer.start(20);
        }
        dev->clearLog();
        ui->pushButton_upgrade->click();
        if (answer == "yes") {
            QCOMPARE(g_confirms, 1);
            title = g_confirm_title;
            text = g_confirm_text;
        }
        // What the window knows of the unit, and what the image holds.
        QCOMPARE(title, QString("Upgrade"));
        QVERIFY(!ui->label_info_firm->text().isEmpty());
        QVERIFY2(text.contains(QString("Unit: ground unit, serial number QL24G0000001\nFirmware: %1\nBaseband: 20304\n"
                                       "HI3798: V2.1.0\n\nImage: %2\nTargets: MCU1 (1500 bytes), FPGA (700 bytes)")
                                   .arg(ui->label_info_firm->text(), path)),
                 qPrintable(text));
        if (answer == "yes") {
            QVERIFY(w->findChild<updateThread*>());
            QVERIFY(wait_for([&] { return !w->upgrade_running(); }, 30000));
            QCOMPARE(ui->label_update_message->text(), QString("Upgrade success"));
        } else {
            QCOMPARE(default_text, QString("Cancel"));
            QTest::qWait(100);
            QVERIFY(!w->findChild<updateThread*>());
            QVERIFY(tokens(wire(dev), true).isEmpty());
            QVERIFY(ui->pushButton_upgrade->isEnabled());
        }
    }

    void failure_line_data()
    {
        QTest::addColumn<QString>("stage");
        QTest::addColumn<uint>("type");
        QTest::addColumn<QString>("line");
        QTest::newRow("preparing") << "Prepare" << kMcu2 << "MCU2 failed while preparing.";
        QTest::newRow("erasing") << "Erase" << kMcu1 << "MCU1 failed while erasing.";
        QTest::newRow("waiting for the erase") << "WaitErase" << kKernel << "kernel failed while waiting for the erase.";
        QTest::newRow("programming") << "Program" << kFpga << "FPGA failed while programming.";
        QTest::newRow("checking") << "Check" << kHi3798 << "HI3798 failed while checking the data.";
        QTest::newRow("image refused") << "ReadImage" << 0u << "The image was refused; nothing was sent to the unit.";
        QTest::newRow("no target") << "None" << 0u << "The image holds no target; nothing was sent to the unit.";
    }

    void failure_line()
    {
        QFETCH(QString, stage);
        QFETCH(uint, type);
        QFETCH(QString, line);
        const int value = QMetaEnum::fromType<updateThread::Stage>().keyToValue(qPrintable(stage));
        QVERIFY(value >= 0);
        QCOMPARE(upgrade_ui::failure_text(value, type), line);
    }

    void failed_upgrade_on_the_page_data()
    {
        QTest::addColumn<bool>("fail");
        QTest::newRow("FPGA fails after MCU1; the next run starts clean") << true;
        QTest::newRow("success: nothing failed") << false;
    }

    void failed_upgrade_on_the_page()
    {
        QFETCH(bool, fail);
        fast_clock();
        make_window();
        Ui::Wireless_Video_Link* ui = w->form();
        auto* line = w->findChild<QLabel*>("label_upgrade_failure");
        QVERIFY(line);
        BoxWatcher boxes; // the FPGA's own warning
        if (fail)
            up().failProgramAtTransfer(Up::Fpga, 0);
        ui->lineEdit_file->setText(
            write_file(*dir, "image.bin", build_image({{kMcu1, payload(1500, 32)}, {kFpga, payload(2500, 33)}})));
        ui->pushButton_upgrade->click();
        QVERIFY(wait_for([&] { return !w->upgrade_running(); }, 30000));

        QCOMPARE(line->isHidden(), !fail);
        QCOMPARE(ui->progressBar->property("failed").toBool(), fail);
        // Each run begins the debug view with its name and time.
        const QRegularExpression separator("^---- upgrade of image\\.bin, \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d ----$");
        QStringList view = ui->textEdit_debug_message->toPlainText().split('\n');
        QVERIFY2(separator.match(view.first()).hasMatch(), qPrintable(view.first()));
        if (!fail) {
            QCOMPARE(ui->label_update_message->text(), QString("Upgrade success"));
            return;
        }
        QCOMPARE(line->text(), QString("FPGA failed while programming."));
        QCOMPARE(ui->label_update_message->text(), QString("program failed"));
        // The bar stays where the FPGA stopped, its chunk red.
        QVERIFY(ui->progressBar->value() >= 50);
        const QImage bar = ui->progressBar->grab().toImage();
        const QColor chunk = bar.pixelColor(bar.width() / 5, bar.height() / 2);
        QVERIFY2(chunk.red() > 150 && chunk.green() < 90 && chunk.blue() < 90, qPrintable(chunk.name()));

        // The next run starts without them.
        up().failProgramAtTransfer(Up::Fpga, -1);
        ui->pushButton_upgrade->click();
        QVERIFY(line->isHidden());
        QVERIFY(!ui->progressBar->property("failed").toBool());
        QVERIFY(wait_for([&] { return !w->upgrade_running(); }, 30000));
        QCOMPARE(ui->label_update_message->text(), QString("Upgrade success"));
        QVERIFY(line->isHidden());
        view = ui->textEdit_debug_message->toPlainText().split('\n');
        QCOMPARE(int(std::count_if(view.begin(), view.end(),
                                   [&](const QString& l) { return separator.match(l).hasMatch(); })),
                 2);
    }

    // --- the run that did not end --------------------------------------------

    void interrupted_upgrade_said_at_next_start_data()
    {
        QTest::addColumn<QString>("record"); // what the last start left behind
        QTest::addColumn<QString>("said");   // %1 the image, %2 its start; empty: nothing
        QTest::newRow("nothing left: nothing said") << "none" << "";
        QTest::newRow("stopped before the first target")
            << "start"
            << "The last upgrade did not end: the tool stopped as it began to flash %1. It began at %2 on the unit "
               "QL24G0000001. The unit may need this upgrade again.";
        QTest::newRow("stopped during the FPGA")
            << "target"
            << "The last upgrade did not end: the tool stopped while it was flashing FPGA from %1. It began at %2 on "
               "the unit QL24G0000001. The unit may need this upgrade again.";
        QTest::newRow("record cut short by the crash")
            << "broken"
            << "The last upgrade did not end: the tool stopped as it began to flash an image. The unit may need "
               "this upgrade again.";
    }

    void interrupted_upgrade_said_at_next_start()
    {
        QFETCH(QString, record);
        QFETCH(QString, said);
        const QString image = dir->filePath("image.bin");
        if (record == "start" || record == "target")
            upgrade_ui::record_upgrade_start(image, "QL24G0000001");
        if (record == "target")
            upgrade_ui::record_upgrade_target(kFpga);
        if (record == "broken") {
            QVERIFY(QDir().mkpath(QFileInfo(upgrade_ui::record_path()).path()));
            write_file(*dir, "appdata/upgrade_in_progress.json", "{\"ima");
        }
        QCOMPARE(QFile::exists(upgrade_ui::record_path()), record != "none");
        const QString expected =
            said.contains("%2")
                ? said.arg(image, upgrade_ui::read_upgrade_record().started.toString("yyyy-MM-dd hh:mm"))
                : said;

        w = new Wireless_Video_Link();
        auto* line = w->findChild<QLabel*>("label_upgrade_interrupted");
        QVERIFY(line);
        QCOMPARE(line->isHidden(), said.isEmpty());
        QCOMPARE(line->text(), expected);
        // Said when the operator first sees the window, in a box that does
        // not hold the window up; then forgotten.
        BoxWatcher boxes;
        w->show();
        QVERIFY(wait_for([&] { return boxes.boxes.size() == (said.isEmpty() ? 0 : 1); }));
        QTest::qWait(100);
        QCOMPARE(boxes.boxes.size(), said.isEmpty() ? 0 : 1);
        if (!said.isEmpty()) {
            QCOMPARE(boxes.boxes.first().text, expected);
            QVERIFY(!boxes.boxes.first().modal);
        }
        QVERIFY(!QFile::exists(upgrade_ui::record_path()));
        w->hide();
        w->show();
        QTest::qWait(100);
        QCOMPARE(boxes.boxes.size(), said.isEmpty() ? 0 : 1);
        QCOMPARE(line->isHidden(), said.isEmpty());
    }

    void upgrade_record_follows_the_run_data()
    {
        QTest::addColumn<QString>("end");
        QTest::addColumn<bool>("kept");
        QTest::newRow("success: removed") << "success" << false;
        QTest::newRow("failure: removed") << "failure" << false;
        QTest::newRow("stopped by closing the window: kept") << "close" << true;
    }

    void upgrade_record_follows_the_run()
    {
        QFETCH(QString, end);
        QFETCH(bool, kept);
        fast_clock();
        make_window();
        w->show();
        w->on_pushButton_GET_SN_clicked();
        Ui::Wireless_Video_Link* ui = w->form();
        BoxWatcher boxes;
        if (end == "failure")
            up().rejectCheck(Up::Fpga);
        g_question_answer = true;
        g_question_answered = false;
        upgrade_ui::set_close_question_function(&fake_question);
        const QString path =
            write_file(*dir, "image.bin", build_image({{kMcu1, payload(1100, 34)}, {kFpga, payload(1100, 35)}}));
        ui->lineEdit_file->setText(path);
        // Before the FPGA's data: what the record says then (and, for the
        // close, the close itself, waited for like the real one).
        auto seen = std::make_shared<std::atomic<uint>>(0);
        {
            std::lock_guard<std::mutex> lock(g_sleep_mutex);
            auto pauses = std::make_shared<std::atomic<int>>(0);
            Wireless_Video_Link* window = w;
            const bool close = end == "close";
            g_before_sleep = [window, pauses, seen, close](int ms) {
                if (ms != upgrade_timing::kTransferStartPauseMs || ++*pauses != 2)
                    return;
                // The window writes it on its own thread.
                QElapsedTimer waited;
                waited.start();
                while (upgrade_ui::read_upgrade_record().type != kFpga && waited.elapsed() < 2000)
                    QThread::msleep(2);
                *seen = upgrade_ui::read_upgrade_record().type;
                if (!close)
                    return;
                QMetaObject::invokeMethod(window, "close", Qt::QueuedConnection);
                QElapsedTimer t;
                t.start();
                while (!g_question_answered && !QThread::currentThread()->isInterruptionRequested()
                       && t.elapsed() < 10000)
                    QThread::msleep(2);
            };
        }
        ui->pushButton_upgrade->click();
        QVERIFY(QFile::exists(upgrade_ui::record_path()));
        QVERIFY(wait_for([&] { return !w->upgrade_running(); }, 30000));
        QCOMPARE(seen->load(), kFpga);
        QCOMPARE(ui->label_update_message->text(),
                 QString(end == "success" ? "Upgrade success" : end == "failure" ? "Upgrade failed" : "Upgrade stopped"));
        QCOMPARE(QFile::exists(upgrade_ui::record_path()), kept);
        if (kept) {
            const upgrade_ui::UpgradeRecord r = upgrade_ui::read_upgrade_record();
            QCOMPARE(r.image, path);
            QCOMPARE(r.serial_number, QString("QL24G0000001"));
            QCOMPARE(r.type, kFpga);
            QVERIFY(qAbs(r.started.secsTo(QDateTime::currentDateTime())) < 60);
        }
    }

    // --- choosing the image --------------------------------------------------

    void image_dropped_on_the_window_data()
    {
        QTest::addColumn<QStringList>("dropped"); // file names in the test's folder, or URLs
        QTest::addColumn<bool>("running");        // an upgrade runs meanwhile
        QTest::addColumn<bool>("taken");
        QTest::newRow("an image (.bin)") << QStringList{"a.bin"} << false << true;
        QTest::newRow("an image (.HEX)") << QStringList{"b.HEX"} << false << true;
        QTest::newRow("not an image (.txt)") << QStringList{"c.txt"} << false << false;
        QTest::newRow("two images") << QStringList{"a.bin", "b.HEX"} << false << false;
        QTest::newRow("a remote file") << QStringList{"http://example.com/a.bin"} << false << false;
        QTest::newRow("during an upgrade") << QStringList{"a.bin"} << true << false;
    }

    void image_dropped_on_the_window()
    {
        QFETCH(QStringList, dropped);
        QFETCH(bool, running);
        QFETCH(bool, taken);
        fast_clock();
        make_window();
        Ui::Wireless_Video_Link* ui = w->form();
        const QByteArray image = build_image({{kMcu1, payload(300, 36)}});
        for (const char* name : {"a.bin", "b.HEX", "c.txt", "before.bin"})
            write_file(*dir, name, image);
        const QString before = running ? dir->filePath("before.bin") : QString();
        ui->lineEdit_file->setText(before);
        if (running) {
            dev->holdTransfers(true); // the engine waits at its first request
            ui->pushButton_upgrade->click();
            QVERIFY(w->upgrade_running());
        }
        ui->stackedWidget->setCurrentWidget(ui->page_info);
        QList<QUrl> urls;
        for (const QString& d : dropped)
            urls << (d.contains(':') ? QUrl(d) : QUrl::fromLocalFile(dir->filePath(d)));
        QMimeData mime;
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w, &enter);
        QCOMPARE(enter.isAccepted(), taken);
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w, &drop);
        QCOMPARE(drop.isAccepted(), taken);
        QCOMPARE(ui->lineEdit_file->text(), taken ? urls.first().toLocalFile() : before);
        QCOMPARE(ui->stackedWidget->currentWidget() == ui->page_update, taken);
        if (taken)
            QCOMPARE(ui->label_image_info->text(), QString("Targets in this image: MCU1 (300 bytes)"));
        if (running) {
            dev->holdTransfers(false);
            QVERIFY(wait_for([&] { return !w->upgrade_running(); }, 30000));
        }
    }

    void browse_opens_in_the_last_folder_data()
    {
        QTest::addColumn<QStringList>("before"); // what happened before Browse
        QTest::addColumn<QString>("folder");     // where it opens; "" the platform's choice
        QTest::newRow("first time") << QStringList{} << "";
        QTest::newRow("after an image was chosen") << QStringList{"choose images/a.bin"} << "images";
        QTest::newRow("after a later Browse was cancelled") << QStringList{"choose images/a.bin", "choose "} << "images";
        QTest::newRow("after a path was typed") << QStringList{"choose images/a.bin", "type typed/b.bin"} << "typed";
        QTest::newRow("a path to nothing leaves it") << QStringList{"choose images/a.bin", "type none/c.bin"} << "images";
        QTest::newRow("after a drop") << QStringList{"choose images/a.bin", "drop dropped/d.bin"} << "dropped";
    }

    void browse_opens_in_the_last_folder()
    {
        QFETCH(QStringList, before);
        QFETCH(QString, folder);
        w = new Wireless_Video_Link();
        Ui::Wireless_Video_Link* ui = w->form();
        upgrade_ui::set_open_file_function(&fake_dialog);
        const QByteArray image = build_image({{kMcu1, payload(100, 37)}});
        for (const char* sub : {"images", "typed", "dropped"})
            QVERIFY(QDir(dir->path()).mkpath(sub));
        for (const char* name : {"images/a.bin", "typed/b.bin", "dropped/d.bin"})
            write_file(*dir, name, image);
        for (const QString& step : before) {
            const QString what = step.section(' ', 0, 0);
            const QString file = step.section(' ', 1);
            const QString path = file.isEmpty() ? QString() : dir->filePath(file);
            if (what == "choose") {
                g_dialog_answer = path;
                ui->Select_file_button->click();
            } else if (what == "type") {
                ui->lineEdit_file->clear();
                QTest::keyClicks(ui->lineEdit_file, path);
            } else {
                QMimeData mime;
                mime.setUrls({QUrl::fromLocalFile(path)});
                QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
                QApplication::sendEvent(w, &enter);
                QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
                QApplication::sendEvent(w, &drop);
            }
        }
        g_dialog_answer.clear();
        ui->Select_file_button->click();
        QCOMPARE(g_dialog_dir, folder.isEmpty() ? QString() : dir->filePath(folder));
    }

    void sample_images_data()
    {
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QString>("page"); // what the Update page says about it
        QTest::newRow("the image the tool takes") << false << "Targets in this image: MCU1 (24576 bytes), FPGA (40960 bytes)";
        QTest::newRow("the image it refuses")
            << true << "This image would be refused: invalid image: record 1 lies outside the file";
    }

    void sample_images()
    {
        // What the "Simulated unit" window saves for a first try.
        QFETCH(bool, refused);
        QFETCH(QString, page);
        fast_clock();
        connect_harness();
        const QByteArray image = upgrade_ui::sample_image(refused);
        const QString path = write_file(*dir, "sample.bin", image);
        QCOMPARE(upgrade_ui::describe_image_file(path).text, page);
        Events ev;
        QVERIFY(harness->run(path, ev));
        if (refused) {
            QVERIFY(wire(dev).empty());
            QCOMPARE(harness->failed_stage, updateThread::Stage::ReadImage);
            return;
        }
        QCOMPARE(ev.last_message(), QString("Upgrade success"));
        QCOMPARE(up().flashed(Up::Mcu1), bytes(image.mid(fw::kHeaderSize, 24576)));
        QCOMPARE(up().flashed(Up::Fpga), bytes(image.mid(fw::kHeaderSize + 24576)));
    }

    void hi3798_readiness_from_identity()
    {
        w = new Wireless_Video_Link();
        QList<bool> answers;
        QObject::connect(w, &Wireless_Video_Link::deal_upthread_hi3798_require_done,
                         [&](bool ready) { answers << ready; });
        w->hi3798_version.clear();
        w->deal_essert_hi3798_ver();
        w->hi3798_version = "V1";
        w->deal_essert_hi3798_ver();
        QCOMPARE(answers, (QList<bool>{false, true}));
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    init_resources();
    UpgradeTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_upgrade.moc"
