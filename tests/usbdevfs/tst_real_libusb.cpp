// The tool on the real libusb-1.0: the simulated unit sits behind an
// emulated Linux USB device file (umockdev), so usbdevfs URBs, kernel
// drivers, claims, timeouts, stalls and the loss of the device take the
// paths they take on an operator's machine. Only what the real library
// shows is checked here. Runs under umockdev-wrapper; skipped without it.
#include "settings_harness.h"
#include "upgrade_support.h"

#include "emulated_bus.h"
#include "hotplug_thread.h"
#include "mainpage.h"
#include "request_codes.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <cerrno>
#include <cstdio>

using namespace testsupport;
using sim::usbfs::DeviceFile;
using sim::usbfs::EmulatedBus;
using sim::Fault;
using sim::Transfer;
using Up = sim::SimUpgrade;

namespace {

EmulatedBus* g_bus = nullptr;
QList<int> g_end_pauses; // the Update page's pause after a run, not waited

int code_of(const QString& name)
{
    static const QMap<QString, int> codes{
        {"IO", LIBUSB_ERROR_IO},     {"NO_DEVICE", LIBUSB_ERROR_NO_DEVICE}, {"NOT_FOUND", LIBUSB_ERROR_NOT_FOUND},
        {"BUSY", LIBUSB_ERROR_BUSY}, {"PIPE", LIBUSB_ERROR_PIPE},           {"TIMEOUT", LIBUSB_ERROR_TIMEOUT},
        {"EBUSY", -EBUSY},           {"ENOENT", -ENOENT},                   {"ENODEV", -ENODEV},
        {"SHORT", int(Fault::Short)}};
    return codes.contains(name) ? codes[name] : name.toInt();
}

std::vector<sim::Transfer> control_urbs(const std::shared_ptr<DeviceFile>& dev, uint8_t request)
{
    std::vector<sim::Transfer> out;
    for (const sim::Transfer& u : dev->urbs())
        if (u.kind == sim::Transfer::Control && u.bRequest == request)
            out.push_back(u);
    return out;
}

// What an ioctl answered, the last time it came (INT_MIN: never).
long last_result(const std::shared_ptr<DeviceFile>& dev, const std::string& name)
{
    long r = INT32_MIN;
    for (const auto& i : dev->ioctls())
        if (i.name == name)
            r = i.result;
    return r;
}

// The first three requests are the connection's identity reads.
bool connect_codes_first(const std::shared_ptr<DeviceFile>& dev)
{
    const auto c = dev->requestCodes();
    return c.size() >= 3 && c[0] == req::Identity && c[1] == req::DeviceInfo && c[2] == req::SoftwareInfo;
}

// Two libusb handles on the unit; closes what a row opened even when a
// check fails half-way.
struct Session
{
    libusb_context* ctx = nullptr;
    libusb_device_handle* h[2] = {};
    Session()
    {
        if (libusb_init(&ctx) == 0)
            for (auto& handle : h)
                handle = libusb_open_device_with_vid_pid(ctx, usb::kVendorId, usb::kProductId);
    }
    ~Session()
    {
        for (auto* handle : h)
            if (handle)
                libusb_close(handle);
        if (ctx)
            libusb_exit(ctx);
    }
};

} // namespace

class RealLibusbTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<MainPage> page;
    Wireless_Video_Link* w = nullptr;
    Ui::Wireless_Video_Link* ui = nullptr;
    std::shared_ptr<sim::SimUnit> unit;
    std::shared_ptr<DeviceFile> dev;
    std::unique_ptr<QTemporaryDir> dir;

    bool connected() { return harness::connected(w); }

    // The start page; then, unless told not to, the unit plugged in and the
    // window connected.
    bool connect_unit(bool plug_in = true)
    {
        page = std::make_unique<MainPage>();
        page->show();
        w = page->main_window();
        ui = w->form();
        return !plug_in || ((dev = g_bus->plug(unit)) && wait_for([this] { return connected(); }, 5000));
    }

    // An upgrade with an image of `parts`; true once it says success and
    // its end is over.
    bool upgrade(const QList<upgrade_support::Part>& parts)
    {
        ui->lineEdit_file->setText(upgrade_support::write_file(*dir, "image.bin", upgrade_support::build_image(parts)));
        ui->pushButton_upgrade->click();
        return wait_for([&] { return ui->label_update_message->text() == "Upgrade success"; }, 30000)
               && wait_for([&] { return !w->upgrade_running(); }, 10000) && g_end_pauses == QList<int>{5000};
    }

private slots:
    void initTestCase()
    {
        updateThread::set_sleep_function(&upgrade_support::test_sleep);
        upgrade_ui::set_end_pause_function([](int ms) { g_end_pauses << ms; });
    }

    void init()
    {
        unit = make_ground_unit();
        g_bus->followRestarts(unit);
        dir = std::make_unique<QTemporaryDir>();
        g_end_pauses.clear();
    }

    void cleanup()
    {
        Wireless_Video_Link* window = page ? page->main_window() : nullptr;
        if (window) // an upgrade's end must be over before the window goes
            QVERIFY(wait_for([&] { return !window->upgrade_running(); }, 30000));
        page.reset();
        delete window;
        upgrade_support::g_divisor = 1;
        QVERIFY(unit->upgrade().waitRestartIdle(std::chrono::milliseconds(5000)));
        g_bus->unplugAll();
        if (dev) // every file the tool opened on the unit is closed again
            QTRY_COMPARE(dev->openFiles(), 0);
        dev.reset();
        unit.reset();
        dir.reset();
    }

    // libusb alone on the device file, with two handles `a` and `b` on the
    // unit; each step is "[a.|b.]call[=result]", or "fail=X" / "bulkfail=X"
    // for fault X on the next identity read / bulk transfer. The simulated
    // bus gives the other tests the same semantics.
    void calls_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::newRow("no kernel driver, as for the unit")
            << "a.driver=0 a.detach=NOT_FOUND a.claim=0 claimed=1 a.driver=0 a.release=0 a.attach=NOT_FOUND "
               "a.driver=0 a.claim=0";
        QTest::newRow("kernel driver bound: detach, claim, attach")
            << "bind-driver=simdrv a.driver=1 a.claim=BUSY a.detach=0 a.driver=0 a.claim=0 kernel=usbfs a.driver=0 "
               "a.release=0 a.attach=0 a.driver=1 kernel=simdrv a.claim=BUSY";
        // Vendor requests need no claim; bulk transfers do, and usbfs
        // refuses them to the other file, which libusb reports as I/O.
        QTest::newRow("claim per open file")
            << "a.claim=0 b.claim=BUSY b.control=40 b.out=IO SUBMITURB=EBUSY a.close files=1 b.claim=0";
        // usbfs knows only the interface's endpoints.
        QTest::newRow("clear-halt of endpoint 0 refused")
            << "a.claim=0 a.clear0=NOT_FOUND CLEAR_HALT=ENOENT a.clear=0 halts=1";
        QTest::newRow("control: short answer, bus error, stall ended by the next setup")
            << "fail=SHORT a.control=39 fail=IO a.control=IO fail=PIPE a.control=PIPE a.control=40";
        QTest::newRow("bulk stall halts until clear-halt")
            << "a.claim=0 bulkfail=PIPE a.out=PIPE halted=1 a.out=PIPE a.clear=0 halted=0 a.out=0";
        // libusb gives a URB up at its timeout: the kernel sees a discard,
        // and the pipe answers again afterwards.
        QTest::newRow("control unanswered") << "fail=TIMEOUT a.control=TIMEOUT discarded=1 DISCARDURB=0 a.control=40";
        QTest::newRow("bulk unanswered")
            << "a.claim=0 bulkfail=TIMEOUT a.out=TIMEOUT discarded=1 DISCARDURB=0 a.out=0";
        QTest::newRow("every call after an unplug")
            << "a.claim=0 unplug a.control=NO_DEVICE a.out=NO_DEVICE a.clear=NO_DEVICE a.driver=NO_DEVICE "
               "a.release=NO_DEVICE RELEASEINTERFACE=ENODEV a.claim=NO_DEVICE a.close files=1";
    }

    void calls()
    {
        QFETCH(QString, steps);
        QVERIFY(dev = g_bus->plug(unit));
        Session s;
        QVERIFY(s.h[0] && s.h[1]);
        for (const QString& step : steps.split(' ')) {
            const QString call = step.section('=', 0, 0), arg = step.section('=', 1);
            const int want = code_of(arg);
            libusb_device_handle*& h = s.h[call.startsWith("b.") ? 1 : 0];
            const QString what = call.contains('.') ? call.mid(2) : call;
            unsigned char buf[64] = {};
            int moved = -1;
            long rc = 0;
            const int reaps = dev->reapCount();
            QElapsedTimer clock;
            clock.start();
            if (what == "claim") rc = libusb_claim_interface(h, 0);
            else if (what == "release") rc = libusb_release_interface(h, 0);
            else if (what == "control") rc = libusb_control_transfer(h, 0xC1, req::Identity, 0, 0, buf, 40, 300);
            else if (what == "out") rc = libusb_bulk_transfer(h, 0x02, buf, 64, &moved, 300);
            else if (what == "clear") rc = libusb_clear_halt(h, 0x02);
            else if (what == "clear0") rc = libusb_clear_halt(h, 0);
            else if (what == "driver") rc = libusb_kernel_driver_active(h, 0);
            else if (what == "detach") rc = libusb_detach_kernel_driver(h, 0);
            else if (what == "attach") rc = libusb_attach_kernel_driver(h, 0);
            else if (what == "close") { libusb_close(h); h = nullptr; continue; }
            else if (what == "bind-driver") { dev->setKernelDriver(arg.toStdString()); continue; }
            else if (what.endsWith("fail")) {
                dev->failNext(what == "fail" ? req::Identity : DeviceFile::kBulk, Fault(want));
                continue;
            }
            else if (what == "discarded") rc = dev->urbs().back().discarded;
            else if (what == "unplug") { g_bus->unplug(dev); continue; }
            else if (what == "claimed") rc = dev->interfaceClaimed();
            else if (what == "kernel") { QCOMPARE(QString::fromStdString(dev->kernelDriver()), arg); continue; }
            else if (what == "files") { QTRY_COMPARE(dev->openFiles(), want); continue; }
            else if (what == "halts") rc = dev->clearHaltCount(0x02);
            else if (what == "halted") rc = dev->endpointHalted(0x02);
            else if (what == what.toUpper()) rc = last_result(dev, what.toStdString()); // an ioctl's answer
            else QFAIL(qPrintable("unknown step " + step));
            QVERIFY2(rc == want, qPrintable(QString("%1 gave %2").arg(step).arg(rc)));
            // A timeout waits it out on the file, which always polls ready:
            // the held-back reaps keep libusb from spinning meanwhile.
            QVERIFY2(rc != LIBUSB_ERROR_TIMEOUT || (clock.elapsed() >= 300 && dev->reapCount() - reaps < 900),
                     qPrintable(QString("%1 ms, %2 reaps").arg(clock.elapsed()).arg(dev->reapCount() - reaps)));
        }
    }

    // Plugged in: the watcher sees it once, the window opens it, detaches a
    // bound kernel driver, claims interface 0 and reads the identity in
    // whole URBs. Pulled out (idle, or during a status read) the window lets
    // go of everything; plugged in again, it takes the new device.
    void plug_and_unplug_data()
    {
        QTest::addColumn<QString>("driver");
        QTest::addColumn<QString>("how");
        QTest::newRow("no kernel driver; pulled out idle") << "" << "idle";
        QTest::newRow("kernel driver bound: detached; pulled out during a status read") << "simdrv" << "during poll";
        QTest::newRow("pulled out and plugged in again") << "" << "replug";
    }

    void plug_and_unplug()
    {
        QFETCH(QString, driver);
        QFETCH(QString, how);
        connect_unit(false);
        QSignalSpy appeared(page->watcher(), &HotplugThread::dev_connected);
        QSignalSpy gone(page->watcher(), &HotplugThread::dev_unconnected);
        DebugCapture capture;
        QVERIFY(dev = g_bus->plug(unit));
        dev->setKernelDriver(driver.toStdString());
        QTRY_VERIFY_WITH_TIMEOUT(connected(), 5000);
        QTest::qWait(300); // more scans: still one appearance
        QCOMPARE(appeared.count(), 1);
        QVERIFY(!page->isVisible() && w->isVisible() && dev->interfaceClaimed());
        QCOMPARE(dev->openFiles(), 1);
        QCOMPARE(last_result(dev, "CLAIMINTERFACE"), 0L);
        QCOMPARE(QString::fromStdString(dev->kernelDriver()), QString("usbfs"));
        QCOMPARE(capture.count("Kernel Driver Active") + capture.count("Kernel Driver Detached!"),
                 driver.isEmpty() ? 0 : 2);
        QVERIFY(!driver.isEmpty() || last_result(dev, "GETDRIVER") == -ENODATA);
        QVERIFY(connect_codes_first(dev));
        const auto urbs = dev->urbs();
        for (size_t i = 0; i < 3; ++i)
            QVERIFY(urbs[i].result >= 0 && urbs[i].result == urbs[i].wLength);

        capture.clear();
        if (how == "during poll")
            dev->failNext(req::DevStatus, Fault::Unplug); // the next poll pulls it out
        else
            g_bus->unplug(dev);
        QTRY_COMPARE_WITH_TIMEOUT(ui->label_connect->text(), QString("DisConnected"), 5000);
        QCOMPARE(gone.count(), 1);
        QVERIFY(!w->device_handle() && !w->poll_timer()->isActive() && w->isVisible());
        // usbfs answered the release with ENODEV, libusb said NO_DEVICE,
        // and the close went through to the end.
        QCOMPARE(last_result(dev, "RELEASEINTERFACE"), long(-ENODEV));
        QVERIFY(capture.contains("Released Interface") && !capture.contains("Cannot Release Interface"));
        QTRY_COMPARE(dev->openFiles(), 0);
        if (how == "during poll")
            QCOMPARE(control_urbs(dev, req::DevStatus).back().result, int(Fault::NoDevice));
        if (how != "replug")
            return;
        const auto old = dev;
        QVERIFY(dev = g_bus->plug(unit));
        QTRY_VERIFY_WITH_TIMEOUT(connected(), 5000);
        QVERIFY(dev->address() != old->address() && dev->interfaceClaimed() && w->poll_timer()->isActive());
        QVERIFY(connect_codes_first(dev));
        QCOMPARE(old->openFiles(), 0);
    }

    // The first data write stalls the bulk endpoint, one status inquiry
    // stalls the control pipe: the engine clears the halted endpoint and
    // writes again, and its clear of endpoint 0, which usbfs refuses, does
    // not stop the retry.
    void upgrade_through_stalls()
    {
        QVERIFY(connect_unit());
        upgrade_support::g_divisor = 50; // the unit counts inquiries, not time
        const QByteArray mcu1 = upgrade_support::payload(2500, 1), fpga = upgrade_support::payload(1300, 2);
        dev->failNext(DeviceFile::kBulk, Fault::Pipe);
        dev->failNext(req::UpgradeStatus, Fault::Pipe);
        dev->clearUrbs();
        DebugCapture capture;
        QVERIFY(upgrade({{0x84, mcu1}, {0x85, fpga}}));
        QCOMPARE(unit->upgrade().flashed(Up::Mcu1), upgrade_support::bytes(mcu1));
        QCOMPARE(unit->upgrade().flashed(Up::Fpga), upgrade_support::bytes(fpga));
        QStringList bulk; // the bytes each write moved on endpoint 2, or "stall"
        for (const sim::Transfer& u : dev->urbs())
            if (u.kind == sim::Transfer::Bulk)
                bulk << (u.endpoint != 0x02 ? QString("endpoint %1").arg(u.endpoint)
                         : u.result == int(Fault::Pipe) ? QString("stall") : QString::number(u.result));
        QCOMPARE(bulk.join(' '), QString("stall 1024 1024 452 1024 276"));
        QVERIFY(dev->clearHaltCount(0x02) == 1 && !dev->endpointHalted(0x02));
        QCOMPARE(capture.count("write MCU1 error"), 1);
        QVERIFY2(capture.contains("MCU1 write update data error"), qPrintable(capture.lines().join(" | ")));
        QVERIFY(capture.contains("Entity not found"));
        QCOMPARE(last_result(dev, "CLEAR_HALT"), long(-ENOENT));
        QCOMPARE(unit->upgrade().finishedFlags(), std::vector<uint8_t>{0x03});
        QVERIFY(connected() && w->poll_timer()->isActive());
    }

    // The second controller's restart: the unit drops off the bus and comes
    // back as a new device, which the window opens again for the engine.
    void mcu2_restart_reenumerates()
    {
        unit->upgrade().setRestartTiming(std::chrono::milliseconds(50), std::chrono::milliseconds(300));
        QVERIFY(connect_unit());
        // The engine's four seconds for the restart still outlast the
        // unit's 350 ms and the watcher's scans.
        upgrade_support::g_divisor = 4;
        const auto first = dev;
        const QByteArray mcu2 = upgrade_support::payload(1500, 3);
        harness::BoxAnswerer boxes;
        QVERIFY(upgrade({{0x86, mcu2}}));
        QCOMPARE(unit->upgrade().restarts(), 1);
        QCOMPARE(unit->upgrade().flashed(Up::Mcu2), upgrade_support::bytes(mcu2));
        QVERIFY(ui->textEdit_debug_message->toPlainText().contains("mcu2 open success"));
        QCOMPARE(boxes.texts(), QStringList{"prompt: Please restart device."});
        QVERIFY(!first->plugged());
        QTRY_COMPARE(first->openFiles(), 0);
        dev = g_bus->deviceOf(*unit);
        QVERIFY(dev && dev != first && dev->address() != first->address() && dev->interfaceClaimed());
        QCOMPARE(dev->openFiles(), 1);
        QVERIFY(connected());
    }

    // The shipped program itself, as a child process on the same bus.
    void shipped_program_connects_polls_and_closes()
    {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QT_LOGGING_RULES", "qt.qpa.*=false");
        // Its single-instance socket lives in the temporary folder: a
        // private one keeps other copies of the tool out of its way.
        env.insert("TMPDIR", dir->path());
        child.setProcessEnvironment(env);
        // Under timeout(1): should this test die, the program does not stay.
        child.start("timeout", {"--kill-after=5", "120", QUORLAN_PROGRAM_PATH});
        QVERIFY2(child.waitForStarted(5000), qPrintable(child.errorString()));
        QStringList log;
        auto saw = [&](const QString& line) {
            log += QString::fromUtf8(child.readAllStandardError() + child.readAllStandardOutput()).split('\n');
            return log.contains(line);
        };
        QTest::qWait(300); // its start page is up and watching
        QVERIFY(dev = g_bus->plug(unit));
        QVERIFY2(wait_for([&] { return saw("dv.mcu2_version 13376"); }, 8000), qPrintable(log.join('\n')));
        QVERIFY(saw("Device Opened") && saw("Claimed Interface 0"));
        // Its poll reaches the unit through its own file.
        QVERIFY(wait_for([&] { return !control_urbs(dev, req::DevStatus).empty(); }, 4000));
        QVERIFY(connect_codes_first(dev));
        QCOMPARE(dev->openFiles(), 1);
        g_bus->unplug(dev);
        QVERIFY2(wait_for([&] { return saw("Released Interface"); }, 5000), qPrintable(log.join('\n')));
        QVERIFY(!saw("Cannot Release Interface"));
        QVERIFY(wait_for([&] { return dev->openFiles() == 0; }, 3000));
        QCOMPARE(child.state(), QProcess::Running);
        child.terminate();
        if (!child.waitForFinished(5000)) {
            child.kill();
            child.waitForFinished(2000);
        }
    }
};

int main(int argc, char** argv)
{
    // The bus comes before anything calls libusb_init().
    std::unique_ptr<EmulatedBus> bus(EmulatedBus::preloadActive() ? new EmulatedBus : nullptr);
    if (!bus || !bus->ok()) {
        std::printf("SKIP: %s\n", bus ? ("no umockdev test bed: " + bus->error()).c_str()
                                      : "needs umockdev: run under umockdev-wrapper (Debian package umockdev)");
        return 77;
    }
    g_bus = bus.get();
    QApplication app(argc, argv);
    init_resources();
    RealLibusbTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_real_libusb.moc"
