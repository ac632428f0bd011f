// The simulated bus must answer the libusb calls the way libusb does on
// Linux, or the program's tests would pass against a friendlier bus than
// the real one. Only the semantics the rest of the suite leans on are
// pinned here, through the libusb API.

#include "bus_watch.h"
#include "libusb_sim.h"
#include "sim_bus.h"
#include "sim_unit.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QtTest>

#include <libusb.h>

#include <atomic>
#include <thread>

using namespace sim;

namespace {

int code_of(const QString& name)
{
    static const QMap<QString, int> codes{
        {"IO", LIBUSB_ERROR_IO},         {"INVALID_PARAM", LIBUSB_ERROR_INVALID_PARAM},
        {"NO_DEVICE", LIBUSB_ERROR_NO_DEVICE}, {"NOT_FOUND", LIBUSB_ERROR_NOT_FOUND},
        {"BUSY", LIBUSB_ERROR_BUSY},     {"TIMEOUT", LIBUSB_ERROR_TIMEOUT},
        {"PIPE", LIBUSB_ERROR_PIPE},     {"OTHER", LIBUSB_ERROR_OTHER},
        {"UNPLUG", int(sim::Fault::Unplug)}};
    return codes.contains(name) ? codes[name] : name.toInt();
}

int read_in(libusb_device_handle* h, uint8_t request, uint16_t len, unsigned timeout = 300)
{
    uint8_t buf[64] = {};
    return libusb_control_transfer(h, kVendorIn, request, 0, 0, buf, len, timeout);
}

// Closes what a row opened even when a check fails half-way, so that one
// failure does not show up as a leak in every later row.
struct Session
{
    libusb_context* ctx = nullptr;
    libusb_device_handle* h[2] = {};
    explicit Session(int handles = 1)
    {
        libusb_init(&ctx);
        for (int i = 0; i < handles; ++i)
            h[i] = libusb_open_device_with_vid_pid(ctx, 0x0483, 0x5868);
    }
    ~Session()
    {
        for (auto* handle : h)
            if (handle)
                libusb_close(handle);
        libusb_exit(ctx);
    }
};

int device_count()
{
    libusb_context* ctx = nullptr;
    libusb_init(&ctx);
    libusb_device** list = nullptr;
    const int n = int(libusb_get_device_list(ctx, &list));
    libusb_free_device_list(list, 1);
    libusb_exit(ctx);
    return n;
}

} // namespace

class TestSimBus : public QObject
{
    Q_OBJECT

private slots:
    void init() { VirtualBus::instance().reset(); }
    void cleanup()
    {
        VirtualBus::instance().reset();
        QCOMPARE(sim::BusWatch::instance().liveHandles(), 0);
        QCOMPARE(sim::BusWatch::instance().liveContexts(), 0);
        QCOMPARE(sim::BusWatch::instance().liveDevices(), 0);
    }

    // Two handles `a` and `b` on one unit; each step is "[a.|b.]call[=result]".
    void calls_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::newRow("claims of two handles")
            << "a.claim=0 a.claim=0 b.claim=BUSY b.release=NOT_FOUND b.out=IO b.clear=OTHER b.control=4 "
               "a.release=0 a.release=NOT_FOUND b.claim=0 b.close a.claim=0 a.claim1=NOT_FOUND "
               "a.claim-1=INVALID_PARAM";
        QTest::newRow("implicit claim by a bulk transfer")
            << "a.out=0 b.claim=BUSY b.out=IO a.close b.claim=0";
        QTest::newRow("implicit claim by clear-halt") << "a.clear=0 b.claim=BUSY b.clear=OTHER";
        QTest::newRow("kernel driver")
            << "a.driver=0 a.detach=NOT_FOUND a.attach=NOT_FOUND a.driver=0 a.clear0=NOT_FOUND driver-on "
               "a.driver=1 a.claim=BUSY a.attach=BUSY a.detach=0 a.driver=0 a.claim=0 a.attach=BUSY "
               "a.release=0 a.attach=0 a.driver=1 a.driver3=0 a.detach3=INVALID_PARAM";
        QTest::newRow("claim refused") << "claim-fails=BUSY a.claim=BUSY a.release=NOT_FOUND claim-fails=0 a.claim=0";
        QTest::newRow("bulk stall halts until clear-halt")
            << "a.claim=0 bulk-fault=PIPE a.out=PIPE a.out=PIPE a.clear=0 a.out=0 a.clear5=NOT_FOUND a.out5=IO";
        QTest::newRow("control stall ends with the next setup") << "a.stall=PIPE a.control=4";
        QTest::newRow("every call after an unplug")
            << "driver-on a.detach=0 a.claim=0 unplug a.control=NO_DEVICE a.control-out=NO_DEVICE "
               "a.out=NO_DEVICE a.in=NO_DEVICE a.clear=NO_DEVICE a.release=NO_DEVICE a.claim=NO_DEVICE "
               "a.driver=NO_DEVICE a.detach=NO_DEVICE a.attach=NO_DEVICE a.control=NO_DEVICE a.close";
        QTest::newRow("never claimed, after an unplug") << "unplug b.release=NOT_FOUND b.claim=NO_DEVICE";
        QTest::newRow("unplugged during a control request")
            << "a.claim=0 control-fault=UNPLUG a.identity=NO_DEVICE a.control=NO_DEVICE a.release=NO_DEVICE "
               "open=NO_DEVICE";
        QTest::newRow("unplugged during a bulk transfer")
            << "a.claim=0 bulk-fault=UNPLUG a.out=NO_DEVICE a.control=NO_DEVICE open=NO_DEVICE";
        QTest::newRow("gone from lists, new address when plugged again")
            << "list=1 unplug list=0 open=NO_DEVICE replug list=1 open=0";
    }

    void calls()
    {
        QFETCH(QString, steps);
        auto& bus = VirtualBus::instance();
        auto dev = bus.plug(testsupport::make_ground_unit());
        const uint8_t first_address = dev->address();
        Session s(2);
        QVERIFY(s.h[0] && s.h[1]);

        for (const QString& step : steps.split(' ')) {
            const QString call = step.section('=', 0, 0);
            const bool expects = step.contains('=');
            const int want = code_of(step.section('=', 1));
            libusb_device_handle*& h = s.h[call.startsWith("b.") ? 1 : 0];
            const QString what = call.contains('.') ? call.mid(2) : call;
            uint8_t buf[64] = {0x5A};
            int moved = 77;
            int rc = 0;
            const bool gone = !dev->plugged();
            if (what == "claim") rc = libusb_claim_interface(h, 0);
            else if (what == "claim1") rc = libusb_claim_interface(h, 1);
            else if (what == "claim-1") rc = libusb_claim_interface(h, -1);
            else if (what == "release") rc = libusb_release_interface(h, 0);
            else if (what == "control") rc = read_in(h, kReqDeviceInfo, 4);
            else if (what == "identity") rc = read_in(h, kReqIdentity, 40);
            else if (what == "stall") rc = read_in(h, 0x77, 4);
            else if (what == "control-out") rc = libusb_control_transfer(h, kVendorOut, 0xC4, 0, 0, buf, 1, 2000);
            else if (what == "out") rc = libusb_bulk_transfer(h, kBulkOutEndpoint, buf, 64, &moved, 2000);
            else if (what == "out5") rc = libusb_bulk_transfer(h, 0x05, buf, 4, &moved, 100);
            else if (what == "in") rc = libusb_bulk_transfer(h, kBulkInEndpoint, buf, 64, &moved, 2000);
            else if (what == "clear") rc = libusb_clear_halt(h, kBulkOutEndpoint);
            else if (what == "clear0") rc = libusb_clear_halt(h, 0);
            else if (what == "clear5") rc = libusb_clear_halt(h, 0x05);
            else if (what == "driver") rc = libusb_kernel_driver_active(h, 0);
            else if (what == "driver3") rc = libusb_kernel_driver_active(h, 3);
            else if (what == "detach") rc = libusb_detach_kernel_driver(h, 0);
            else if (what == "detach3") rc = libusb_detach_kernel_driver(h, 3);
            else if (what == "attach") rc = libusb_attach_kernel_driver(h, 0);
            else if (what == "close") { libusb_close(h); h = nullptr; }
            else if (what == "driver-on") dev->setKernelDriverActive(true);
            else if (what == "claim-fails") dev->setClaimFailure(want);
            else if (what == "bulk-fault") dev->failNext(SimDevice::kBulk, want);
            else if (what == "control-fault") dev->failNext(kReqIdentity, want);
            else if (what == "unplug") bus.unplug(dev);
            else if (what == "replug") dev = bus.plug(dev->unitPtr());
            else if (what == "list") rc = device_count();
            else if (what == "open") {
                libusb_device_handle* extra = libusb_open_device_with_vid_pid(s.ctx, 0x0483, 0x5868);
                rc = extra ? 0 : LIBUSB_ERROR_NO_DEVICE;
                if (extra)
                    libusb_close(extra);
            } else
                QFAIL(qPrintable("unknown step " + step));
            if (expects && !what.contains("fail") && !what.contains("fault"))
                QVERIFY2(rc == want, qPrintable(QString("%1 gave %2").arg(step).arg(rc)));
            // A refused submission leaves the caller's count as it was.
            if (gone)
                QCOMPARE(moved, 77);
        }
        if (steps.contains("replug"))
            QVERIFY(dev->address() != first_address);
    }

    // A transfer nobody answers lasts its timeout, never less, and the pipe
    // works again afterwards; an unplug ends the wait at once, whatever
    // its timeout ("unplug" rows).
    void waits_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("timeout"); // 0: none
        QTest::addColumn<bool>("unplug");
        QTest::newRow("unit does not answer") << "no answer" << 100 << false;
        QTest::newRow("injected timeout") << "injected" << 150 << false;
        QTest::newRow("latency beyond the timeout") << "latency" << 150 << false;
        QTest::newRow("bulk IN, nothing to read") << "bulk in" << 150 << false;
        QTest::newRow("bulk OUT, injected timeout") << "bulk injected" << 150 << false;
        QTest::newRow("unplug: unit does not answer") << "no answer" << 30000 << true;
        QTest::newRow("unplug: unit slow") << "latency" << 30000 << true;
        QTest::newRow("unplug: no timeout at all") << "no answer" << 0 << true;
        QTest::newRow("unplug: bulk IN") << "bulk in" << 30000 << true;
    }

    void waits()
    {
        QFETCH(QString, how);
        QFETCH(int, timeout);
        QFETCH(bool, unplug);
        auto& bus = VirtualBus::instance();
        auto unit = testsupport::make_ground_unit();
        auto dev = bus.plug(unit);
        Session s;
        libusb_device_handle* h = s.h[0];
        QVERIFY(h);
        QCOMPARE(libusb_claim_interface(h, 0), 0);
        uint8_t buf[64] = {};
        int moved = -1;
        std::thread puller;
        if (unplug)
            puller = std::thread([&bus, dev] {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                bus.unplug(dev);
            });
        QElapsedTimer clock;
        clock.start();
        int rc = 0;
        if (how == "no answer") {
            unit->setUnknownRequestOutcome(kNoAnswer);
            rc = read_in(h, 0x77, 1, unsigned(timeout));
        } else if (how == "injected") {
            dev->failNext(kReqIdentity, LIBUSB_ERROR_TIMEOUT);
            rc = read_in(h, kReqIdentity, 40, unsigned(timeout));
        } else if (how == "latency") {
            dev->setLatency(unplug ? std::chrono::milliseconds(30000) : std::chrono::milliseconds(5 * timeout));
            rc = read_in(h, kReqIdentity, 40, unsigned(timeout));
        } else {
            if (how == "bulk injected")
                dev->failNext(SimDevice::kBulk, LIBUSB_ERROR_TIMEOUT);
            rc = libusb_bulk_transfer(h, how == "bulk in" ? kBulkInEndpoint : kBulkOutEndpoint, buf, 64, &moved,
                                      unsigned(timeout));
            QCOMPARE(moved, 0);
        }
        if (unplug) {
            puller.join();
            QCOMPARE(rc, int(LIBUSB_ERROR_NO_DEVICE));
            QVERIFY(clock.elapsed() < 25000);
            return;
        }
        QCOMPARE(rc, int(LIBUSB_ERROR_TIMEOUT));
        QVERIFY(clock.elapsed() >= timeout); // never sooner than asked
        const auto log = dev->log();
        QCOMPARE(int(log.size()), 1);
        QCOMPARE(int(log[0].timeout_ms), timeout);
        unit->setUnknownRequestOutcome(kStall);
        dev->setLatency(std::chrono::microseconds(0));
        QCOMPARE(read_in(h, kReqDeviceInfo, 4), 4);
    }

    // Two threads on one handle, nothing serialising them: the unit sees
    // both transfers at once, so that the tests of the program's locking
    // would see an overlap.
    void overlapIsVisible()
    {
        auto dev = VirtualBus::instance().plug(testsupport::make_ground_unit());
        dev->setLatency(std::chrono::milliseconds(150));
        Session s;
        std::atomic<int> answered{0};
        auto read = [&] { answered += read_in(s.h[0], kReqDeviceInfo, 4, 2000) == 4; };
        std::thread a(read), b(read);
        a.join();
        b.join();
        QCOMPARE(answered.load(), 2);
        QCOMPARE(sim::BusWatch::instance().maxConcurrentTransfers(*dev), 2);
    }

};

QTEST_GUILESS_MAIN(TestSimBus)
#include "tst_sim_bus.moc"
