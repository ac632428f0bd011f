// The simulated bus must answer the program's libusb calls as libusb does on Linux, or the tests would
// pass against a friendlier bus than the real one. Only interface 0, pipe 0 and bulk OUT 0x02 are used.
#include "bus_watch.h"
#include "libusb_sim.h"
#include "sim_bus.h"
#include "sim_unit.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QtTest>
#include <atomic>
#include <future>
#include <libusb.h>
#include <thread>

using namespace sim;
using namespace std::chrono_literals;

namespace {

int code_of(const QString& name)
{
    static const QMap<QString, int> codes{
        {"IO", LIBUSB_ERROR_IO}, {"NO_DEVICE", LIBUSB_ERROR_NO_DEVICE}, {"NOT_FOUND", LIBUSB_ERROR_NOT_FOUND},
        {"BUSY", LIBUSB_ERROR_BUSY}, {"PIPE", LIBUSB_ERROR_PIPE}, {"OTHER", LIBUSB_ERROR_OTHER},
        {"TIMEOUT", LIBUSB_ERROR_TIMEOUT},
        {"UNPLUG", int(sim::Fault::Unplug)}};
    return codes.value(name, name.toInt());
}

int read_in(libusb_device_handle* h, uint8_t request, uint16_t len, unsigned timeout)
{
    uint8_t buf[64] = {};
    return libusb_control_transfer(h, kVendorIn, request, 0, 0, buf, len, timeout);
}

// Closes what a row opened even when a check fails half-way: one failure, not a leak in every row.
struct Session
{
    libusb_context* ctx = nullptr;
    libusb_device_handle* h[2] = {};
    explicit Session(int handles = 1)
    {
        libusb_init(&ctx);
        for (int i = 0; i < handles; ++i)
            h[i] = open();
    }
    libusb_device_handle* open() { return libusb_open_device_with_vid_pid(ctx, 0x0483, 0x5868); }
    ~Session()
    {
        for (auto* handle : h)
            if (handle)
                libusb_close(handle);
        libusb_exit(ctx);
    }
};

} // namespace

class TestSimBus : public QObject
{
    Q_OBJECT

private slots:
    void init() { VirtualBus::instance().reset(); }
    void cleanup()
    {
        VirtualBus::instance().reset();
        const auto& watch = sim::BusWatch::instance();
        QCOMPARE(QString("%1 %2 %3").arg(watch.liveHandles()).arg(watch.liveContexts()).arg(watch.liveDevices()),
                 QString("0 0 0")); // handles, contexts, devices
    }

    // Two handles `a` and `b` on one unit; each step is "[a.|b.]call[@timeout][=result]". A transfer
    // nobody answers lasts its timeout, never less, and the pipe answers again afterwards; an unplug
    // ("pull": 50 ms later, from another thread) ends a wait at once.
    void calls_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::newRow("claims of two handles")
            << "a.claim=0 a.claim=0 b.claim=BUSY b.release=NOT_FOUND b.out=IO b.clear=OTHER b.control=4 "
               "a.release=0 a.release=NOT_FOUND b.claim=0 b.close a.claim=0";
        QTest::newRow("kernel driver")
            << "a.driver=0 a.detach=NOT_FOUND a.attach=NOT_FOUND driver-on a.driver=1 a.claim=BUSY a.attach=BUSY "
               "a.detach=0 a.driver=0 a.claim=0 a.attach=BUSY a.release=0 a.attach=0 a.driver=1";
        QTest::newRow("claim refused") << "claim-fails=BUSY a.claim=BUSY a.release=NOT_FOUND claim-fails=0 a.claim=0";
        // The upgrade clears the default pipe after a failed request: refused.
        QTest::newRow("bulk stall halts until clear-halt, of its own endpoint")
            << "a.claim=0 bulk-fault=PIPE a.out=PIPE a.out=PIPE a.clear0=NOT_FOUND a.out=PIPE a.clear=0 a.out=0";
        QTest::newRow("control stall ends with the next setup") << "a.stall=PIPE a.control=4";
        QTest::newRow("every call after an unplug")
            << "driver-on a.detach=0 a.claim=0 unplug a.control=NO_DEVICE a.control-out=NO_DEVICE a.out=NO_DEVICE "
               "a.clear=NO_DEVICE a.release=NO_DEVICE a.claim=NO_DEVICE a.driver=NO_DEVICE a.detach=NO_DEVICE "
               "a.attach=NO_DEVICE a.close b.release=NOT_FOUND b.claim=NO_DEVICE";
        QTest::newRow("unplugged during a control request")
            << "a.claim=0 control-fault=UNPLUG a.control=NO_DEVICE a.control=NO_DEVICE a.release=NO_DEVICE "
               "open=NO_DEVICE";
        QTest::newRow("unplugged during a bulk transfer")
            << "a.claim=0 bulk-fault=UNPLUG a.out=NO_DEVICE a.control=NO_DEVICE open=NO_DEVICE";
        QTest::newRow("gone from lists, new address when plugged again")
            << "list=1 unplug list=0 open=NO_DEVICE replug list=1 open=0";
        QTest::newRow("unit does not answer") << "silent a.stall@60=TIMEOUT a.control=4";
        QTest::newRow("injected timeout") << "control-fault=TIMEOUT a.control@60=TIMEOUT a.control=4";
        QTest::newRow("answer later than the timeout") << "slow=300 a.control@60=TIMEOUT slow=0 a.control=4";
        QTest::newRow("bulk, injected timeout") << "a.claim=0 bulk-fault=TIMEOUT a.out@60=TIMEOUT a.out=0";
        QTest::newRow("pull: unit does not answer") << "pull silent a.stall@30000=NO_DEVICE";
        QTest::newRow("pull: unit slow") << "pull slow=30000 a.control@30000=NO_DEVICE";
        QTest::newRow("pull: no timeout at all") << "pull silent a.stall@0=NO_DEVICE";
        // Two threads on one handle, unserialised: seen at once, as the locking tests need.
        QTest::newRow("overlap is visible") << "slow=150 a.overlap=2";
    }

    void calls()
    {
        QFETCH(QString, steps);
        auto& bus = VirtualBus::instance();
        auto dev = bus.plug(testsupport::make_ground_unit());
        const uint8_t first_address = dev->address();
        Session s(2);
        QVERIFY(s.h[0] && s.h[1]);
        std::future<void> puller;
        for (const QString& step : steps.split(' ')) {
            const QString call = step.section('=', 0, 0).section('@', 0, 0);
            const int want = code_of(step.section('=', 1));
            const unsigned timeout = step.contains('@') ? step.section('@', 1).section('=', 0, 0).toUInt() : 300;
            libusb_device_handle*& h = s.h[call.startsWith("b.") ? 1 : 0];
            const QString what = call.contains('.') ? call.mid(2) : call;
            uint8_t buf[64] = {0x5A};
            int moved = 77;
            int rc = 0;
            const bool gone = !dev->plugged();
            libusb_device** list = nullptr;
            QElapsedTimer clock;
            clock.start();
            if (what == "claim") rc = libusb_claim_interface(h, 0);
            else if (what == "release") rc = libusb_release_interface(h, 0);
            else if (what == "control") rc = read_in(h, kReqDeviceInfo, 4, timeout);
            else if (what == "stall") rc = read_in(h, 0x77, 4, timeout);
            else if (what == "control-out") rc = libusb_control_transfer(h, kVendorOut, 0xC4, 0, 0, buf, 1, 2000);
            else if (what == "out") rc = libusb_bulk_transfer(h, kBulkOutEndpoint, buf, 64, &moved, timeout);
            else if (what == "clear") rc = libusb_clear_halt(h, kBulkOutEndpoint);
            else if (what == "clear0") rc = libusb_clear_halt(h, 0);
            else if (what == "driver") rc = libusb_kernel_driver_active(h, 0);
            else if (what == "detach") rc = libusb_detach_kernel_driver(h, 0);
            else if (what == "attach") rc = libusb_attach_kernel_driver(h, 0);
            else if (what == "close") { libusb_close(h); h = nullptr; continue; }
            else if (what == "driver-on") { dev->setKernelDriverActive(true); continue; }
            else if (what == "claim-fails") { dev->setClaimFailure(want); continue; }
            else if (what == "bulk-fault") { dev->failNext(SimDevice::kBulk, want); continue; }
            else if (what == "control-fault") { dev->failNext(kReqDeviceInfo, want); continue; }
            else if (what == "silent") { dev->unit().setUnknownRequestOutcome(kNoAnswer); continue; }
            else if (what == "slow") { dev->setLatency(want * 1ms); continue; }
            else if (what == "unplug") { bus.unplug(dev); continue; }
            else if (what == "replug") { dev = bus.plug(dev->unitPtr()); continue; }
            else if (what == "pull") {
                auto later = [&bus, dev] { std::this_thread::sleep_for(50ms); bus.unplug(dev); };
                puller = std::async(std::launch::async, later);
                continue;
            } else if (what == "list") {
                rc = int(libusb_get_device_list(s.ctx, &list));
                libusb_free_device_list(list, 1);
            } else if (what == "overlap") {
                auto other = std::async(std::launch::async, [&] { return read_in(h, kReqDeviceInfo, 4, 2000); });
                const int answered = read_in(h, kReqDeviceInfo, 4, 2000) + other.get();
                rc = answered == 8 ? BusWatch::instance().maxConcurrentTransfers(*dev) : -1;
            } else if (what == "open") {
                libusb_device_handle* extra = s.open();
                rc = extra ? (libusb_close(extra), 0) : LIBUSB_ERROR_NO_DEVICE;
            } else
                QFAIL(qPrintable("unknown step " + step));
            QVERIFY2(rc == want, qPrintable(QString("%1 gave %2").arg(step).arg(rc)));
            if (gone || rc == LIBUSB_ERROR_TIMEOUT) // the count: untouched when refused, none at a timeout
                QCOMPARE(moved, what != "out" || gone ? 77 : 0);
            if (rc == LIBUSB_ERROR_TIMEOUT) // never sooner than asked, and as asked
                QVERIFY(clock.elapsed() >= timeout && dev->log().back().timeout_ms == timeout);
            if (puller.valid())
                QVERIFY(clock.elapsed() < 25000);
        }
        if (steps.contains("replug"))
            QVERIFY(dev->address() != first_address);
    }
};

QTEST_GUILESS_MAIN(TestSimBus)
#include "tst_sim_bus.moc"
