// The tool on the real libusb-1.0, end to end: the simulated unit sits
// behind an emulated Linux USB device file (umockdev), so enumeration
// through sysfs and udev, usbdevfs URBs, kernel-driver checks, claims,
// timeouts, stalls and the loss of the device take the paths they take on
// an operator's machine. Runs under umockdev-wrapper; skipped without it.
#include "testsupport.h"

#include "emulated_bus.h"
#include "firmware_image.h"
#include "hotplug_thread.h"
#include "mainpage.h"
#include "request_codes.h"
#include "sim_upgrade.h"
#include "ui_wireless_video_link.h"
#include "update_thread.h"
#include "upgrade_control.h"
#include "usb_transport.h"
#include "wireless_video_link.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <libusb.h>
#include <memory>

using namespace testsupport;
using sim::usbfs::DeviceFile;
using sim::usbfs::EmulatedBus;
using sim::usbfs::Fault;
using sim::usbfs::UrbRecord;
using Up = sim::SimUpgrade;

namespace {

EmulatedBus* g_bus = nullptr;

// The engine's pauses, shortened: the unit counts inquiries, not time.
void quick_sleep(int ms)
{
    if (ms > 0)
        QThread::usleep(static_cast<unsigned long>(ms) * 1000 / 20);
}

// A quarter of each pause: the second controller's restart still takes
// longer than the unit needs to come back.
void quarter_sleep(int ms)
{
    if (ms > 0)
        QThread::usleep(static_cast<unsigned long>(ms) * 1000 / 4);
}

QByteArray payload(int size, int seed)
{
    QByteArray b(size, '\0');
    uint32_t x = uint32_t(seed) * 2654435761u + 7;
    for (int i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        b[i] = char(x >> 24);
    }
    return b;
}

void put32(QByteArray& b, int at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char(v >> (8 * i));
}

// The 160-byte header, then the payloads in record order.
QByteArray build_image(const QList<QPair<uint32_t, QByteArray>>& parts)
{
    QByteArray image(fw::kHeaderSize, '\0');
    for (int k = 0; k < parts.size(); ++k) {
        put32(image, k * fw::kRecordSize, parts[k].first);
        put32(image, k * fw::kRecordSize + 4, uint32_t(parts[k].second.size()));
        put32(image, k * fw::kRecordSize + 8, uint32_t(image.size()));
        image += parts[k].second;
    }
    return image;
}

std::vector<uint8_t> bytes(const QByteArray& b)
{
    return std::vector<uint8_t>(b.begin(), b.end());
}

std::vector<UrbRecord> control_urbs(const std::shared_ptr<DeviceFile>& dev, uint8_t request)
{
    std::vector<UrbRecord> out;
    for (const UrbRecord& u : dev->urbs())
        if (u.kind == UrbRecord::Control && u.bRequest == request)
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

// Answers every message box that comes up, and keeps its text.
class BoxCloser : public QObject
{
public:
    QStringList texts;
    BoxCloser()
    {
        connect(&tick, &QTimer::timeout, this, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(w);
                if (box && box->isVisible()) {
                    texts << box->text();
                    box->button(QMessageBox::Ok)->click();
                }
            }
        });
        tick.start(20);
    }

private:
    QTimer tick;
};

libusb_device* find_unit(libusb_device** list, ssize_t count)
{
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor d;
        if (libusb_get_device_descriptor(list[i], &d) == 0 && d.idVendor == usb::kVendorId
            && d.idProduct == usb::kProductId)
            return list[i];
    }
    return nullptr;
}

// A libusb context and a handle on the unit, for the transport's own cases.
struct Session
{
    libusb_context* ctx = nullptr;
    libusb_device_handle* handle = nullptr;

    bool open()
    {
        if (libusb_init(&ctx) < 0)
            return false;
        handle = libusb_open_device_with_vid_pid(ctx, usb::kVendorId, usb::kProductId);
        return handle != nullptr;
    }
    ~Session()
    {
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

private:
    std::unique_ptr<MainPage> page;
    Wireless_Video_Link* w = nullptr;
    Ui::Wireless_Video_Link* ui = nullptr;
    std::shared_ptr<sim::SimUnit> unit;
    std::shared_ptr<DeviceFile> dev;
    std::unique_ptr<QTemporaryDir> dir;

    void make_page()
    {
        page = std::make_unique<MainPage>();
        page->show();
        w = page->main_window();
        ui = w->form();
    }

    bool connected() { return w->device_handle() && ui->label_connect->text() == "Connected"; }

    // The start page, then the unit plugged in and the window connected.
    bool connect_unit()
    {
        make_page();
        dev = g_bus->plug(unit);
        if (!dev)
            qWarning("cannot plug the unit: %s", g_bus->error().c_str());
        return dev && wait_for([this] { return connected(); }, 5000);
    }

    // The poll stays out of the way of a case that makes requests itself.
    void stop_poll()
    {
        w->poll_timer()->stop();
        QTest::qWait(20);
        dev->clearUrbs();
    }

    int64_t elapsed_us(const UrbRecord& u) const { return u.doneUs - u.submitUs; }

private slots:
    void init()
    {
        // The operator says yes to the question before flashing.
        upgrade_ui::set_confirm_upgrade_function([](QWidget*, const QString&, const QString&) { return true; });
        unit = make_ground_unit();
        g_bus->followRestarts(unit);
        dir = std::make_unique<QTemporaryDir>();
    }

    void cleanup()
    {
        Wireless_Video_Link* window = page ? page->main_window() : nullptr;
        if (window) // an upgrade's end must be over before the window goes
            QVERIFY(wait_for([&] { return !window->upgrade_running(); }, 30000));
        page.reset();
        delete window;
        w = nullptr;
        ui = nullptr;
        updateThread::set_sleep_function(nullptr);
        QVERIFY(unit->upgrade().waitRestartIdle(std::chrono::milliseconds(5000)));
        g_bus->unplugAll();
        // Every file the tool opened on the unit is closed again.
        if (dev)
            QTRY_COMPARE(dev->openFiles(), 0);
        dev.reset();
        unit.reset();
        dir.reset();
    }

    // --- the device file itself, through libusb alone -----------------------

    void enumerated_with_descriptors()
    {
        dev = g_bus->plug(unit);
        QVERIFY(dev);
        libusb_context* ctx = nullptr;
        QCOMPARE(libusb_init(&ctx), 0);
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(ctx, &list);
        QVERIFY(n >= 1);
        libusb_device* found = find_unit(list, n);
        QVERIFY(found);
        QCOMPARE(int(libusb_get_bus_number(found)), 1);
        QCOMPARE(int(libusb_get_device_address(found)), dev->address());
        QCOMPARE(libusb_get_device_speed(found), int(LIBUSB_SPEED_HIGH));
        libusb_config_descriptor* cfg = nullptr;
        QCOMPARE(libusb_get_active_config_descriptor(found, &cfg), 0);
        QCOMPARE(int(cfg->bNumInterfaces), 1);
        const libusb_interface_descriptor& alt = cfg->interface[0].altsetting[0];
        QCOMPARE(int(alt.bInterfaceClass), int(LIBUSB_CLASS_VENDOR_SPEC));
        QCOMPARE(int(alt.bNumEndpoints), 2);
        QCOMPARE(int(alt.endpoint[0].bEndpointAddress), 0x81);
        QCOMPARE(int(alt.endpoint[1].bEndpointAddress), 0x02);
        QCOMPARE(int(alt.endpoint[1].bmAttributes), int(LIBUSB_TRANSFER_TYPE_BULK));
        libusb_free_config_descriptor(cfg);
        libusb_free_device_list(list, 1);
        libusb_exit(ctx);
        // Enumeration reads sysfs only: the file was never opened.
        QCOMPARE(dev->filesOpened(), 0);
    }

    void kernel_driver_data()
    {
        QTest::addColumn<QString>("driver");
        QTest::newRow("none, as for the unit") << QString();
        QTest::newRow("bound") << QString("simdrv");
    }

    // libusb's kernel-driver calls against usbfs. Without a driver,
    // re-attaching finds none to bind (NOT_FOUND) and binds nothing.
    void kernel_driver()
    {
        QFETCH(QString, driver);
        dev = g_bus->plug(unit);
        QVERIFY(dev);
        dev->setKernelDriver(driver.toStdString());
        Session s;
        QVERIFY(s.open());
        const bool bound = !driver.isEmpty();
        QCOMPARE(libusb_kernel_driver_active(s.handle, 0), bound ? 1 : 0);
        if (bound)
            QCOMPARE(libusb_claim_interface(s.handle, 0), int(LIBUSB_ERROR_BUSY));
        QCOMPARE(libusb_detach_kernel_driver(s.handle, 0), bound ? 0 : int(LIBUSB_ERROR_NOT_FOUND));
        QCOMPARE(libusb_kernel_driver_active(s.handle, 0), 0);
        QCOMPARE(libusb_claim_interface(s.handle, 0), 0);
        QVERIFY(dev->interfaceClaimed());
        QCOMPARE(libusb_kernel_driver_active(s.handle, 0), 0); // usbfs holds it
        QCOMPARE(libusb_release_interface(s.handle, 0), 0);
        QCOMPARE(libusb_attach_kernel_driver(s.handle, 0), bound ? 0 : int(LIBUSB_ERROR_NOT_FOUND));
        QCOMPARE(libusb_kernel_driver_active(s.handle, 0), bound ? 1 : 0);
        QCOMPARE(QString::fromStdString(dev->kernelDriver()), driver);
        // So the next claim meets no driver.
        QCOMPARE(libusb_claim_interface(s.handle, 0), bound ? int(LIBUSB_ERROR_BUSY) : 0);
    }

    void claim_is_per_open_file()
    {
        dev = g_bus->plug(unit);
        QVERIFY(dev);
        Session first, second;
        QVERIFY(first.open());
        QVERIFY(second.open());
        QCOMPARE(dev->openFiles(), 2);
        QCOMPARE(libusb_claim_interface(first.handle, 0), 0);
        QCOMPARE(libusb_claim_interface(second.handle, 0), int(LIBUSB_ERROR_BUSY));
        // Vendor requests need no claim; bulk transfers do, and usbfs
        // refuses them to the other file, which libusb reports as I/O.
        unsigned char b[64] = {};
        QCOMPARE(libusb_control_transfer(second.handle, 0xC1, req::Identity, 0, 0, b, 40, 300), 40);
        int moved = -1;
        QCOMPARE(libusb_bulk_transfer(second.handle, 0x02, b, 64, &moved, 300), int(LIBUSB_ERROR_IO));
        QCOMPARE(last_result(dev, "SUBMITURB"), long(-EBUSY));
        // Closing the first file drops its claim.
        libusb_close(first.handle);
        first.handle = nullptr;
        QTRY_COMPARE(dev->openFiles(), 1);
        QCOMPARE(libusb_claim_interface(second.handle, 0), 0);
    }

    // usbfs knows only the interface's endpoints: clearing endpoint 0
    // fails, where the simulated bus says it succeeded.
    void clear_halt_of_endpoint_zero_is_refused()
    {
        dev = g_bus->plug(unit);
        QVERIFY(dev);
        Session s;
        QVERIFY(s.open());
        QCOMPARE(libusb_claim_interface(s.handle, 0), 0);
        QCOMPARE(libusb_clear_halt(s.handle, 0), int(LIBUSB_ERROR_NOT_FOUND));
        QCOMPARE(last_result(dev, "CLEAR_HALT"), long(-ENOENT));
        QCOMPARE(libusb_clear_halt(s.handle, 0x02), 0);
        QCOMPARE(dev->clearHaltCount(0x02), 1);
    }

    // A slow unit and a short answer, as libusb reports them.
    void latency_and_short_answer()
    {
        dev = g_bus->plug(unit);
        QVERIFY(dev);
        Session s;
        QVERIFY(s.open());
        unsigned char b[40] = {};
        dev->setLatency(std::chrono::milliseconds(60));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(libusb_control_transfer(s.handle, 0xC1, req::Identity, 0, 0, b, 40, 300), 40);
        QVERIFY2(clock.elapsed() >= 60, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(b[0], uint8_t('Q'));
        dev->setLatency(std::chrono::milliseconds(0));
        dev->failNext(req::Identity, Fault::Short);
        QCOMPARE(libusb_control_transfer(s.handle, 0xC1, req::Identity, 0, 0, b, 40, 300), 39);
        dev->failNext(req::Identity, Fault::BusError);
        QCOMPARE(libusb_control_transfer(s.handle, 0xC1, req::Identity, 0, 0, b, 40, 300), int(LIBUSB_ERROR_IO));
    }

    // --- the tool -----------------------------------------------------------

    void plug_in_connects_and_reads_identity()
    {
        make_page();
        QSignalSpy appeared(page->watcher(), &HotplugThread::dev_connected);
        DebugCapture capture;
        dev = g_bus->plug(unit);
        QVERIFY(dev);
        QTRY_VERIFY_WITH_TIMEOUT(connected(), 5000);
        QTest::qWait(300); // more scans: still one appearance
        QCOMPARE(appeared.count(), 1);
        QVERIFY(!page->isVisible());
        QVERIFY(w->isVisible());
        QVERIFY(dev->interfaceClaimed());
        QCOMPARE(dev->openFiles(), 1);
        QCOMPARE(last_result(dev, "CLAIMINTERFACE"), 0L);
        QCOMPARE(last_result(dev, "GETDRIVER"), long(-ENODATA)); // no kernel driver to detach

        const auto urbs = dev->urbs();
        QVERIFY(urbs.size() >= 3);
        const uint8_t codes[3] = {req::Identity, req::DeviceInfo, req::SoftwareInfo};
        const int lengths[3] = {40, 4, 4};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(int(urbs[size_t(i)].bRequest), int(codes[i]));
            QCOMPARE(int(urbs[size_t(i)].bmRequestType), 0xC1);
            QCOMPARE(int(urbs[size_t(i)].wLength), lengths[i]);
            QCOMPARE(urbs[size_t(i)].status, 0);
            QCOMPARE(urbs[size_t(i)].actualLength, lengths[i]);
        }
        const auto id = unit->identityRecord();
        QVERIFY(std::equal(id.begin(), id.end(), w->identity_block().begin()));
        QCOMPARE(ui->label_info_firm->text(), QString("1.2.3"));
        QCOMPARE(w->unit_type, 2);
        for (const char* line : {"Device Opened", "Claimed Interface 0", "dv.mcu2_version 13376"})
            QVERIFY2(capture.contains(line), line);
        QVERIFY(!capture.contains("Kernel Driver Active"));
    }

    void bound_kernel_driver_is_detached()
    {
        make_page();
        DebugCapture capture;
        dev = g_bus->plug(unit);
        QVERIFY(dev);
        dev->setKernelDriver("simdrv");
        QTRY_VERIFY_WITH_TIMEOUT(connected(), 5000);
        QVERIFY(capture.contains("Kernel Driver Active"));
        QVERIFY(capture.contains("Kernel Driver Detached!"));
        QCOMPARE(QString::fromStdString(dev->kernelDriver()), QString("usbfs"));
    }

    void poll_reads_status_records()
    {
        unit->link().setFrequency(2462);
        unit->link().setGroundRssi(50, 61);
        QVERIFY(connect_unit());
        dev->clearUrbs();
        QTRY_COMPARE_WITH_TIMEOUT(ui->label_FREQ->text(), QString("2462"), 3000);
        QTRY_COMPARE(ui->progressBar_ground_rssi->format(), QString("-50 dBm"));
        QCOMPARE(ui->progressBar_ground_rssi_2->format(), QString("-61 dBm"));
        const auto polls = control_urbs(dev, req::DevStatus);
        QVERIFY(!polls.empty());
        QCOMPARE(int(polls.front().bmRequestType), 0xC1);
        QCOMPARE(int(polls.front().wLength), 64);
        QCOMPARE(polls.front().actualLength, 64);
        QVERIFY(unit->link().devStatusReads() >= 1);
    }

    void setting_with_acknowledgement_data()
    {
        QTest::addColumn<QString>("unit_does");
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("status_reads");
        QTest::addColumn<bool>("applied");
        // "Set %1 done" with the name "Set TDD Ratio".
        QTest::newRow("done") << "done" << "Set Set TDD Ratio done" << 1 << true;
        QTest::newRow("rejected") << "reject" << "Set Set TDD Ratio failed" << 1 << false;
        QTest::newRow("never confirmed") << "ignore" << "Set Set TDD Ratio timeout" << 3 << false;
    }

    void setting_with_acknowledgement()
    {
        QFETCH(QString, unit_does);
        QFETCH(QString, line);
        QFETCH(int, status_reads);
        QFETCH(bool, applied);
        QVERIFY(connect_unit());
        if (unit_does == "reject")
            unit->link().rejectNextSettings();
        else if (unit_does == "ignore")
            unit->link().ignoreNextSettings();
        QCOMPARE(int(unit->link().tddRatio()), 0);
        stop_poll();
        w->poll_timer()->start();
        DebugCapture capture;
        w->on_radioButton_up_mode_clicked(); // the form has no button of its own for it
        QVERIFY2(capture.contains(line), qPrintable(capture.lines().join(" | ")));
        QCOMPARE(int(unit->link().tddRatio()), applied ? 1 : 0);

        // On the wire: the setting, then the status reads, and no poll in
        // between; the poll runs again after the settle time.
        const auto urbs = dev->urbs();
        QVERIFY(!urbs.empty());
        QCOMPARE(int(urbs[0].bRequest), int(req::TddRatio));
        QCOMPARE(int(urbs[0].bmRequestType), 0x41);
        QCOMPARE(int(urbs[0].wLength), 1);
        QCOMPARE(urbs[0].data, std::vector<uint8_t>{1});
        QCOMPARE(urbs[0].actualLength, 1);
        for (int i = 1; i <= status_reads; ++i) {
            QCOMPARE(int(urbs[size_t(i)].bRequest), int(req::CommandStatus));
            QCOMPARE(urbs[size_t(i)].actualLength, 1);
        }
        QCOMPARE(int(urbs.size()), 1 + status_reads);
        QVERIFY(w->poll_timer()->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(!control_urbs(dev, req::DevStatus).empty(), 2500);
    }

    void stalled_request_answers_pipe()
    {
        QVERIFY(connect_unit());
        stop_poll();
        dev->failNext(req::DevStatus, Fault::Stall);
        unsigned char buf[64] = {};
        QCOMPARE(usb_vendor_transfer(w->device_handle(), usb::kDirIn, usb::kRecipientInterface, req::DevStatus,
                                     0, 0, buf, sizeof buf, usb::kReadTimeoutMs),
                 int(LIBUSB_ERROR_PIPE));
        // A control stall ends with the next setup packet: the poll goes on.
        const int reads = unit->link().devStatusReads();
        w->poll_status();
        QCOMPARE(unit->link().devStatusReads(), reads + 1);
        const auto urbs = control_urbs(dev, req::DevStatus);
        QCOMPARE(int(urbs.size()), 2);
        QCOMPARE(urbs[0].status, -EPIPE);
        QCOMPARE(urbs[1].status, 0);
        QVERIFY(connected());
    }

    void unanswered_request_times_out_data()
    {
        QTest::addColumn<int>("request");
        QTest::addColumn<int>("timeout_ms");
        QTest::newRow("record read, 300 ms") << int(req::DevStatus) << 300;
        QTest::newRow("setting, 2000 ms") << int(req::TddRatio) << 2000;
    }

    void unanswered_request_times_out()
    {
        QFETCH(int, request);
        QFETCH(int, timeout_ms);
        QVERIFY(connect_unit());
        stop_poll();
        dev->failNext(request, Fault::NoAnswer);
        const int reaps = dev->reapCount();
        QElapsedTimer clock;
        clock.start();
        int rc;
        if (request == req::DevStatus) {
            unsigned char buf[64] = {};
            rc = usb_vendor_transfer(w->device_handle(), usb::kDirIn, usb::kRecipientInterface, req::DevStatus,
                                     0, 0, buf, sizeof buf, usb::kReadTimeoutMs);
        } else {
            const unsigned char up = 1;
            rc = w->send_set_command(&up, 1, req::TddRatio, QStringLiteral("Set TDD Ratio"), true, 0);
        }
        const qint64 ms = clock.elapsed();
        QCOMPARE(rc, int(LIBUSB_ERROR_TIMEOUT));
        QVERIFY2(ms >= timeout_ms && ms < timeout_ms + 400, qPrintable(QString::number(ms)));
        // libusb gave the URB up at its timeout: the kernel saw a discard.
        const auto urbs = dev->urbs();
        QCOMPARE(int(urbs.size()), 1); // no status read after a failed setting
        QVERIFY(urbs[0].discarded);
        QCOMPARE(urbs[0].status, -ENOENT);
        // (The handler sees the submission a little late on a busy machine.)
        const int64_t onWire = elapsed_us(urbs[0]) / 1000;
        QVERIFY2(onWire >= timeout_ms / 2 && onWire < timeout_ms + 400, qPrintable(QString::number(onWire)));
        QCOMPARE(last_result(dev, "DISCARDURB"), 0L);
        // libusb waited on the file, which always polls ready: the held-back
        // reaps kept that from spinning.
        QVERIFY2(dev->reapCount() - reaps < 3 * timeout_ms, qPrintable(QString::number(dev->reapCount() - reaps)));
        // The unit never saw it; the next request is answered.
        QCOMPARE(int(unit->link().tddRatio()), 0);
        unsigned char buf[64] = {};
        QCOMPARE(usb_vendor_transfer(w->device_handle(), usb::kDirIn, usb::kRecipientInterface, req::DevStatus, 0,
                                     0, buf, sizeof buf, usb::kReadTimeoutMs),
                 64);
        QVERIFY(connected());
    }

    // A setting the unit never answers leaves the window connected; its
    // status display must not freeze for the rest of the connection.
    void poll_resumes_after_a_failed_setting()
    {
        QVERIFY(connect_unit());
        stop_poll();
        w->poll_timer()->start();
        dev->failNext(req::TddRatio, Fault::BusError);
        const unsigned char up = 1;
        QCOMPARE(w->send_set_command(&up, 1, req::TddRatio, QStringLiteral("Set TDD Ratio"), true, 0),
                 int(LIBUSB_ERROR_IO));
        QVERIFY(connected());
        QVERIFY(w->poll_timer()->isActive());
    }

    void firmware_upgrade_through_the_bulk_endpoint()
    {
        QVERIFY(connect_unit());
        updateThread::set_sleep_function(&quick_sleep);
        const QByteArray mcu1 = payload(2500, 1), fpga = payload(1300, 2);
        const QString path = dir->filePath("image.bin");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(build_image({{0x84, mcu1}, {0x85, fpga}}));
        }
        ui->lineEdit_file->setText(path);
        // The first data write stalls the bulk endpoint; one status
        // inquiry stalls the control pipe.
        dev->failNext(DeviceFile::kBulk, Fault::Stall);
        dev->failNext(req::UpgradeStatus, Fault::Stall);
        dev->clearUrbs();
        DebugCapture capture;
        ui->pushButton_upgrade->click();
        QTRY_COMPARE_WITH_TIMEOUT(ui->label_update_message->text(), QString("Upgrade success"), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!w->upgrade_running(), 10000);

        QCOMPARE(unit->upgrade().flashed(Up::Mcu1), bytes(mcu1));
        QCOMPARE(unit->upgrade().flashed(Up::Fpga), bytes(fpga));
        QCOMPARE(ui->progressBar->value(), 100);
        std::vector<int> sizes;
        int stalled = 0;
        for (const UrbRecord& u : dev->urbs()) {
            if (u.kind != UrbRecord::Bulk)
                continue;
            QCOMPARE(int(u.endpoint), 0x02);
            if (u.status == -EPIPE)
                ++stalled;
            else
                sizes.push_back(u.actualLength);
        }
        QCOMPARE(stalled, 1);
        QCOMPARE(sizes, (std::vector<int>{1024, 1024, 452, 1024, 276}));
        // The engine cleared the halted endpoint and wrote again.
        QCOMPARE(dev->clearHaltCount(0x02), 1);
        QVERIFY(!dev->endpointHalted(0x02));
        QCOMPARE(capture.count("write MCU1 error"), 1);
        // After the stalled request the engine clears endpoint 0, which
        // usbfs refuses; the retry goes through all the same.
        QVERIFY2(capture.contains("MCU1 write update data error"), qPrintable(capture.lines().join(" | ")));
        QVERIFY(capture.contains("Entity not found"));
        QCOMPARE(last_result(dev, "CLEAR_HALT"), long(-ENOENT));
        QCOMPARE(unit->upgrade().finishedFlags(), std::vector<uint8_t>{0x03});
        QVERIFY(connected());
        QVERIFY(w->poll_timer()->isActive());
    }

    // The second controller's restart: the unit drops off the bus and comes
    // back as a new device, which the window opens again for the engine.
    void mcu2_restart_reenumerates()
    {
        unit->upgrade().setRestartTiming(std::chrono::milliseconds(50), std::chrono::milliseconds(300));
        QVERIFY(connect_unit());
        updateThread::set_sleep_function(&quarter_sleep);
        auto first = dev;
        const QByteArray mcu2 = payload(1500, 3);
        const QString path = dir->filePath("mcu2.bin");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(build_image({{0x86, mcu2}}));
        }
        ui->lineEdit_file->setText(path);
        BoxCloser boxes;
        ui->pushButton_upgrade->click();
        QTRY_COMPARE_WITH_TIMEOUT(ui->label_update_message->text(), QString("Upgrade success"), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!w->upgrade_running(), 10000);

        QCOMPARE(unit->upgrade().restarts(), 1);
        QCOMPARE(unit->upgrade().flashed(Up::Mcu2), bytes(mcu2));
        QVERIFY(ui->textEdit_debug_message->toPlainText().contains("mcu2 open success"));
        QCOMPARE(boxes.texts, QStringList{"Please restart device."});
        // The old device is gone and every file on it closed; the window
        // holds the new one.
        QVERIFY(!first->plugged());
        QTRY_COMPARE(first->openFiles(), 0);
        dev = g_bus->deviceOf(*unit);
        QVERIFY(dev);
        QVERIFY(dev != first);
        QVERIFY(dev->address() != first->address());
        QVERIFY(dev->interfaceClaimed());
        QCOMPARE(dev->openFiles(), 1);
        QVERIFY(connected());
    }

    void unplug_with_the_device_open_data()
    {
        QTest::addColumn<bool>("during_poll");
        QTest::newRow("idle") << false;
        QTest::newRow("during a status read") << true;
    }

    void unplug_with_the_device_open()
    {
        QFETCH(bool, during_poll);
        QVERIFY(connect_unit());
        ui->progressBar_air_rssi->setValue(40);
        QSignalSpy gone(page->watcher(), &HotplugThread::dev_unconnected);
        QSignalSpy status(w, &Wireless_Video_Link::dev_connect_status);
        DebugCapture capture;
        if (during_poll)
            dev->failNext(req::DevStatus, Fault::Unplug); // the next poll pulls it out
        else
            g_bus->unplug(dev);
        QTRY_COMPARE_WITH_TIMEOUT(ui->label_connect->text(), QString("DisConnected"), 5000);
        QCOMPARE(gone.count(), 1);
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(0).toBool(), false);
        QVERIFY(!w->device_handle());
        QVERIFY(!w->poll_timer()->isActive());
        QCOMPARE(ui->progressBar_air_rssi->value(), 0);
        // usbfs answered the release with ENODEV, libusb said NO_DEVICE,
        // and the close went through to the end.
        QCOMPARE(last_result(dev, "RELEASEINTERFACE"), long(-ENODEV));
        QVERIFY(capture.contains("Released Interface"));
        QVERIFY(!capture.contains("Cannot Release Interface"));
        QTRY_COMPARE(dev->openFiles(), 0);
        if (during_poll) {
            const auto polls = control_urbs(dev, req::DevStatus);
            QVERIFY(!polls.empty());
            QCOMPARE(polls.back().status, -ESHUTDOWN);
        }
        QVERIFY(w->isVisible());
    }

    void replug_reconnects()
    {
        QVERIFY(connect_unit());
        const int first_address = dev->address();
        g_bus->unplug(dev);
        QTRY_COMPARE_WITH_TIMEOUT(ui->label_connect->text(), QString("DisConnected"), 5000);
        QTRY_COMPARE(dev->openFiles(), 0);
        auto old = dev;
        DebugCapture capture;
        dev = g_bus->plug(unit);
        QVERIFY(dev);
        QTRY_VERIFY_WITH_TIMEOUT(connected(), 5000);
        QVERIFY(dev->address() != first_address);
        QVERIFY(dev->interfaceClaimed());
        const auto codes = dev->requestCodes();
        QVERIFY(codes.size() >= 3);
        QCOMPARE(std::vector<uint8_t>(codes.begin(), codes.begin() + 3),
                 (std::vector<uint8_t>{req::Identity, req::DeviceInfo, req::SoftwareInfo}));
        QCOMPARE(ui->comboBox_downlink->count(), 7);
        QVERIFY(w->poll_timer()->isActive());
        QVERIFY(capture.contains("Claimed Interface 0"));
        QCOMPARE(old->openFiles(), 0);
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
        child.setProcessChannelMode(QProcess::SeparateChannels);
        // Under timeout(1): should this test die, the program does not stay.
        child.start(QStringLiteral("timeout"), {"--kill-after=5", "120", QStringLiteral(QUORLAN_PROGRAM_PATH)});
        QVERIFY2(child.waitForStarted(5000), qPrintable(child.errorString()));
        QString log;
        // Its debug lines, without Qt's own chatter.
        auto read = [&] {
            const QString text = QString::fromUtf8(child.readAllStandardError() + child.readAllStandardOutput());
            for (const QString& line : text.split('\n'))
                if (!line.startsWith("QMetaObject::") && !line.isEmpty())
                    log += line + '\n';
        };
        auto saw = [&](const QString& line) {
            read();
            return log.split('\n').contains(line);
        };
        QTest::qWait(300); // its start page is up and watching
        dev = g_bus->plug(unit);
        QVERIFY(dev);
        QVERIFY2(wait_for([&] { return saw("dv.mcu2_version 13376"); }, 8000), qPrintable(log));
        QVERIFY2(saw("Device Opened"), qPrintable(log));
        QVERIFY2(saw("Claimed Interface 0"), qPrintable(log));
        // Its poll reaches the unit through its own file.
        QVERIFY(wait_for([&] { read(); return !control_urbs(dev, req::DevStatus).empty(); }, 4000));
        const auto codes = dev->requestCodes();
        QCOMPARE(std::vector<uint8_t>(codes.begin(), codes.begin() + 3),
                 (std::vector<uint8_t>{req::Identity, req::DeviceInfo, req::SoftwareInfo}));
        QCOMPARE(dev->openFiles(), 1);

        g_bus->unplug(dev);
        QVERIFY2(wait_for([&] { return saw("Released Interface"); }, 5000), qPrintable(log));
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
    if (!EmulatedBus::preloadActive()) {
        std::printf("SKIP: needs umockdev: run under umockdev-wrapper (Debian package umockdev)\n");
        return 77;
    }
    // Before anything calls libusb_init().
    EmulatedBus bus;
    if (!bus.ok()) {
        std::printf("SKIP: no umockdev test bed: %s\n", bus.error().c_str());
        return 77;
    }
    g_bus = &bus;
    int rc;
    {
        QApplication app(argc, argv);
        init_resources();
        RealLibusbTest test;
        rc = QTest::qExec(&test, argc, argv);
    }
    g_bus = nullptr;
    return rc;
}

#include "tst_real_libusb.moc"
