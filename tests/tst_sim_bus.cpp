// The simulated bus must answer the libusb calls the way libusb does on
// Linux, or the program's tests would pass against a friendlier bus than
// the real one. Everything here goes through the libusb API.

#include "libusb_sim.h"
#include "sim_bus.h"
#include "sim_unit.h"

#include <QElapsedTimer>
#include <QtTest>

#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

using namespace sim;

namespace {

constexpr uint16_t kVid = 0x0483;
constexpr uint16_t kPid = 0x5868;

std::shared_ptr<SimUnit> makeUnit(const char* serial = "QL2403150001")
{
    auto unit = std::make_shared<SimUnit>();
    unit->configure(SimUnit::GroundUnit, serial, 0x123456, 1, 2, 3, 0x1440);
    return unit;
}

// Closes what a test opened even when a check fails half-way, so one
// failure does not show up as a leak in every later test.
struct Session
{
    libusb_context* ctx = nullptr;
    std::vector<libusb_device_handle*> handles;

    Session() { libusb_init(&ctx); }
    ~Session()
    {
        for (auto* h : handles)
            libusb_close(h);
        if (ctx)
            libusb_exit(ctx);
    }
    libusb_device_handle* open()
    {
        libusb_device_handle* h = libusb_open_device_with_vid_pid(ctx, kVid, kPid);
        if (h)
            handles.push_back(h);
        return h;
    }
    void close(libusb_device_handle* h)
    {
        handles.erase(std::remove(handles.begin(), handles.end(), h), handles.end());
        libusb_close(h);
    }
};

int readIn(libusb_device_handle* h, uint8_t request, uint8_t* buf, uint16_t len,
           unsigned timeout = 300)
{
    return libusb_control_transfer(h, kVendorIn, request, 0, 0, buf, len, timeout);
}

} // namespace

class TestSimBus : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void enumerateAndOpen();
    void openByIdsTriesFirstMatchOnly();
    void identityReads_data();
    void identityReads();
    void configureBuildsRecords_data();
    void configureBuildsRecords();
    void requestTypePassedAsGiven_data();
    void requestTypePassedAsGiven();
    void noDeviceAfterUnplug_data();
    void noDeviceAfterUnplug();
    void unpluggedUnitLeavesLists();
    void unansweredTransferTimesOut_data();
    void unansweredTransferTimesOut();
    void unplugEndsWait_data();
    void unplugEndsWait();
    void stallIsPipe_data();
    void stallIsPipe();
    void bulkStallHaltsEndpoint();
    void shortTransfers();
    void unplugDuringRequest_data();
    void unplugDuringRequest();
    void injectedFaults_data();
    void injectedFaults();
    void claimByTwoHandles();
    void openAndClaimFailures();
    void kernelDriver();
    void deviceRefcounting();
    void overlapIsVisible();
    void contextsOnSeveralThreads();
    void logRecordsTransfers();
    void busFailures();
    void defaultContextIsShared();
    void logLevelOption();
    void errorNames_data();
    void errorNames();
};

void TestSimBus::init()
{
    VirtualBus::instance().reset();
}

void TestSimBus::cleanup()
{
    VirtualBus::instance().reset();
    QCOMPARE(VirtualBus::instance().liveHandles(), 0);
    QCOMPARE(VirtualBus::instance().liveContexts(), 0);
    QCOMPARE(VirtualBus::instance().liveDevices(), 0);
}

void TestSimBus::enumerateAndOpen()
{
    auto& bus = VirtualBus::instance();
    auto hub = bus.plug(std::make_shared<SimUnit>(), 0x1d6b, 0x0002);
    auto dev = bus.plug(makeUnit());

    Session s;
    QVERIFY(s.ctx);
    QCOMPARE(bus.liveContexts(), 1);
    libusb_device** list = nullptr;
    QCOMPARE(int(libusb_get_device_list(s.ctx, &list)), 2);
    QVERIFY(list[2] == nullptr);
    libusb_device_descriptor desc;
    QCOMPARE(libusb_get_device_descriptor(list[0], &desc), 0);
    QCOMPARE(desc.idVendor, uint16_t(0x1d6b));
    QCOMPARE(libusb_get_device_descriptor(list[1], &desc), 0);
    QCOMPARE(desc.idVendor, kVid);
    QCOMPARE(desc.idProduct, kPid);
    QCOMPARE(desc.bNumConfigurations, uint8_t(1));
    QCOMPARE(libusb_get_bus_number(list[1]), dev->busNumber());
    QCOMPARE(libusb_get_device_address(list[1]), dev->address());
    QVERIFY(libusb_get_device_address(list[0]) != libusb_get_device_address(list[1]));

    libusb_device_handle* h = nullptr;
    QCOMPARE(libusb_open(list[1], &h), 0);
    s.handles.push_back(h);
    QCOMPARE(bus.liveHandles(), 1);
    QVERIFY(libusb_get_device(h) == list[1]);
    libusb_free_device_list(list, 1);

    QCOMPARE(libusb_claim_interface(h, 0), 0);
    QVERIFY(dev->interfaceClaimed());
    uint8_t buf[4] = {};
    QCOMPARE(readIn(h, kReqDeviceInfo, buf, 4), 4);
    QCOMPARE(buf[0], uint8_t(0x56));
    QCOMPARE(libusb_release_interface(h, 0), 0);
    QVERIFY(!dev->interfaceClaimed());
    QVERIFY(hub->log().empty());
}

void TestSimBus::openByIdsTriesFirstMatchOnly()
{
    auto& bus = VirtualBus::instance();
    auto first = bus.plug(makeUnit("FIRST"));
    auto second = bus.plug(makeUnit("SECOND"));
    {
        Session s;
        libusb_device_handle* h = s.open();
        QVERIFY(h);
        QCOMPARE(libusb_get_device_address(libusb_get_device(h)), first->address());
    }
    first->setOpenFailure(LIBUSB_ERROR_ACCESS);
    Session s;
    QVERIFY(!s.open());
    QCOMPARE(bus.liveHandles(), 0);
    QCOMPARE(bus.liveDevices(), 0);
    QVERIFY(second->plugged());
}

void TestSimBus::identityReads_data()
{
    QTest::addColumn<int>("request");
    QTest::addColumn<int>("wLength");
    QTest::addColumn<int>("expected");

    QTest::newRow("identity") << int(kReqIdentity) << 40 << 40;
    QTest::newRow("device info") << int(kReqDeviceInfo) << 4 << 4;
    QTest::newRow("software info") << int(kReqSoftwareInfo) << 4 << 4;
    QTest::newRow("identity, first 16 bytes") << int(kReqIdentity) << 16 << 16;
    QTest::newRow("device info, 1 byte") << int(kReqDeviceInfo) << 1 << 1;
    QTest::newRow("software info asked 64, short answer") << int(kReqSoftwareInfo) << 64 << 4;
    QTest::newRow("identity asked 64, short answer") << int(kReqIdentity) << 64 << 40;
}

void TestSimBus::identityReads()
{
    QFETCH(int, request);
    QFETCH(int, wLength);
    QFETCH(int, expected);

    auto unit = makeUnit();
    unit->setHi3798Version("V1.0.7");
    auto dev = VirtualBus::instance().plug(unit);
    Session s;
    libusb_device_handle* h = s.open();
    QVERIFY(h);
    QCOMPARE(libusb_claim_interface(h, 0), 0);

    std::vector<uint8_t> record;
    if (request == kReqIdentity) {
        auto r = unit->identityRecord();
        record.assign(r.begin(), r.end());
    } else if (request == kReqDeviceInfo) {
        auto r = unit->deviceInfoRecord();
        record.assign(r.begin(), r.end());
    } else {
        auto r = unit->softwareInfoRecord();
        record.assign(r.begin(), r.end());
    }

    std::vector<uint8_t> buf(size_t(wLength) + 8, 0xAA);
    QCOMPARE(readIn(h, uint8_t(request), buf.data(), uint16_t(wLength)), expected);
    QVERIFY(std::equal(record.begin(), record.begin() + expected, buf.begin()));
    // Bytes the unit did not send stay as the caller left them.
    QVERIFY(std::all_of(buf.begin() + expected, buf.end(), [](uint8_t b) { return b == 0xAA; }));

    const auto log = dev->log();
    QCOMPARE(int(log.size()), 1);
    QCOMPARE(int(log[0].wLength), wLength);
    QCOMPARE(log[0].result, expected);
    QCOMPARE(int(log[0].data.size()), expected);
}

void TestSimBus::configureBuildsRecords_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<uint>("baseband");
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("patch");
    QTest::addColumn<uint>("mcu2");
    QTest::addColumn<QByteArray>("serialBytes"); // bytes 0..11
    QTest::addColumn<QByteArray>("devInfo");
    QTest::addColumn<QByteArray>("softInfo01");

    QTest::newRow("ground 1.2.3") << int(SimUnit::GroundUnit) << QByteArray("AB12") << 0x123456u
                                  << 1 << 2 << 3 << 0x1440u
                                  << QByteArray("AB12", 4) + QByteArray(8, '\0')
                                  << QByteArray("\x56\x34\x12\x00", 4) << QByteArray("\x23\x01", 2);
    QTest::newRow("air, 15.15.15") << int(SimUnit::AirUnit) << QByteArray("NOSN") << 0xabcdefu
                                   << 15 << 15 << 15 << 0x0330u
                                   << QByteArray("NOSN", 4) + QByteArray(8, '\0')
                                   << QByteArray("\xef\xcd\xab\x80", 4) << QByteArray("\xff\x0f", 2);
    QTest::newRow("serial of 12") << int(SimUnit::GroundUnit) << QByteArray("QL2403150001")
                                  << 0x1u << 0 << 0 << 0 << 0x3000u << QByteArray("QL2403150001")
                                  << QByteArray("\x01\x00\x00\x00", 4) << QByteArray("\x00\x00", 2);
    QTest::newRow("serial cut at 12") << int(SimUnit::GroundUnit) << QByteArray("QL2403150001XYZ")
                                      << 0x1000000u /* 24 bits only */ << 3 << 0 << 7 << 0x1000u
                                      << QByteArray("QL2403150001")
                                      << QByteArray("\x00\x00\x00\x00", 4) << QByteArray("\x07\x03", 2);
    QTest::newRow("empty serial") << int(SimUnit::AirUnit) << QByteArray() << 0x20u << 2 << 1 << 0
                                  << 0x0u << QByteArray(12, '\0')
                                  << QByteArray("\x20\x00\x00\x80", 4) << QByteArray("\x10\x02", 2);
}

void TestSimBus::configureBuildsRecords()
{
    QFETCH(int, type);
    QFETCH(QByteArray, serial);
    QFETCH(uint, baseband);
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, patch);
    QFETCH(uint, mcu2);
    QFETCH(QByteArray, serialBytes);
    QFETCH(QByteArray, devInfo);
    QFETCH(QByteArray, softInfo01);

    SimUnit unit;
    unit.setModelIndex(21);
    unit.setIdentityWord12(0xCAFEF00D);
    unit.setHi3798Version("HI-2.0");
    unit.configure(SimUnit::Type(type), serial.constData(), baseband, major, minor, patch, mcu2);

    const auto id = unit.identityRecord();
    const auto dev = unit.deviceInfoRecord();
    const auto soft = unit.softwareInfoRecord();
    auto bytes = [](const uint8_t* p, int n) {
        return QByteArray(reinterpret_cast<const char*>(p), n);
    };
    QCOMPARE(bytes(id.data(), 12), serialBytes);
    QCOMPARE(bytes(dev.data(), 4), devInfo);
    // Word 16 of the identity has the layout of the 0xE0 record.
    QCOMPARE(bytes(id.data() + 16, 4), devInfo);
    const uint32_t word20 = id[20] | id[21] << 8 | id[22] << 16 | uint32_t(id[23]) << 24;
    QCOMPARE(word20, uint32_t(mcu2));
    QCOMPARE(bytes(id.data() + 12, 4), QByteArray("\x0d\xf0\xfe\xca", 4));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(id.data() + 24)), QByteArray("HI-2.0"));

    // Firmware numbers in their nibbles; the model index (21) untouched.
    QCOMPARE(int(soft[0]), uint8_t(softInfo01[0]) + 0);
    QCOMPARE(int(soft[1] & 0x0F), uint8_t(softInfo01[1]) + 0);
    QCOMPARE((soft[2] & 0x0F) * 16 + (soft[1] >> 4), 21);
}

void TestSimBus::requestTypePassedAsGiven_data()
{
    QTest::addColumn<int>("requestType");
    QTest::addColumn<int>("request");
    QTest::addColumn<int>("expected");

    QTest::newRow("vendor IN, interface") << 0xC1 << int(kReqDeviceInfo) << 4;
    QTest::newRow("vendor IN, device") << 0xC0 << int(kReqDeviceInfo) << 4;
    QTest::newRow("vendor OUT to a read-only record") << 0x41 << int(kReqDeviceInfo)
                                                      << int(LIBUSB_ERROR_PIPE);
    QTest::newRow("class IN is not the unit's") << 0xA1 << int(kReqDeviceInfo)
                                                << int(LIBUSB_ERROR_PIPE);
}

void TestSimBus::requestTypePassedAsGiven()
{
    QFETCH(int, requestType);
    QFETCH(int, request);
    QFETCH(int, expected);

    auto dev = VirtualBus::instance().plug(makeUnit());
    Session s;
    libusb_device_handle* h = s.open();
    QVERIFY(h);
    uint8_t buf[4] = {1, 2, 3, 4};
    QCOMPARE(libusb_control_transfer(h, uint8_t(requestType), uint8_t(request), 0x1234, 0x0001, buf,
                                     4, 300),
             expected);
    const auto log = dev->log();
    QCOMPARE(int(log.size()), 1);
    QCOMPARE(int(log[0].bmRequestType), requestType);
    QCOMPARE(int(log[0].wValue), 0x1234);
    QCOMPARE(int(log[0].wIndex), 0x0001);
}

void TestSimBus::noDeviceAfterUnplug_data()
{
    QTest::addColumn<QString>("call");
    for (const char* c : {"control in", "control out", "bulk out", "bulk in", "clear_halt",
                          "release_interface", "claim_interface", "kernel_driver_active",
                          "detach_kernel_driver", "attach_kernel_driver"})
        QTest::newRow(c) << QString::fromLatin1(c);
}

void TestSimBus::noDeviceAfterUnplug()
{
    QFETCH(QString, call);

    auto& bus = VirtualBus::instance();
    auto dev = bus.plug(makeUnit());
    dev->setKernelDriverActive(true);
    Session s;
    libusb_device_handle* h = s.open();
    QVERIFY(h);
    QCOMPARE(libusb_detach_kernel_driver(h, 0), 0);
    QCOMPARE(libusb_claim_interface(h, 0), 0);
    if (call == "attach_kernel_driver" || call == "detach_kernel_driver") {
        QCOMPARE(libusb_release_interface(h, 0), 0);
        if (call == "detach_kernel_driver")
            QCOMPARE(libusb_attach_kernel_driver(h, 0), 0);
    }

    bus.unplug(dev);
    QVERIFY(!dev->plugged());

    uint8_t buf[64] = {0x5A};
    int moved = 77;
    int rc = 0;
    if (call == "control in")
        rc = readIn(h, kReqIdentity, buf, 40);
    else if (call == "control out")
        rc = libusb_control_transfer(h, kVendorOut, 0xC4, 0, 0, buf, 1, 2000);
    else if (call == "bulk out")
        rc = libusb_bulk_transfer(h, kBulkOutEndpoint, buf, 64, &moved, 5000);
    else if (call == "bulk in")
        rc = libusb_bulk_transfer(h, kBulkInEndpoint, buf, 64, &moved, 5000);
    else if (call == "clear_halt")
        rc = libusb_clear_halt(h, kBulkOutEndpoint);
    else if (call == "release_interface")
        rc = libusb_release_interface(h, 0);
    else if (call == "claim_interface")
        rc = libusb_claim_interface(h, 0);
    else if (call == "kernel_driver_active")
        rc = libusb_kernel_driver_active(h, 0);
    else if (call == "detach_kernel_driver")
        rc = libusb_detach_kernel_driver(h, 0);
    else if (call == "attach_kernel_driver")
        rc = libusb_attach_kernel_driver(h, 0);
    else
        QFAIL("unknown call");
    QCOMPARE(rc, int(LIBUSB_ERROR_NO_DEVICE));
    // A failed submission leaves the count as it was, as libusb does.
    QCOMPARE(moved, 77);
    // Failing again the same way, not hanging or crashing.
    QCOMPARE(readIn(h, kReqDeviceInfo, buf, 4, 0), int(LIBUSB_ERROR_NO_DEVICE));

    // Closing still works and frees everything.
    s.close(h);
    QCOMPARE(bus.liveHandles(), 0);
    QCOMPARE(bus.liveDevices(), 0);
}

void TestSimBus::unpluggedUnitLeavesLists()
{
    auto& bus = VirtualBus::instance();
    auto dev = bus.plug(makeUnit());
    Session before;
    libusb_device** old = nullptr;
    QCOMPARE(int(libusb_get_device_list(before.ctx, &old)), 1);

    bus.unplug(dev);

    // A list taken before still holds the device; its cached descriptor
    // reads, but opening it fails.
    libusb_device_descriptor desc;
    QCOMPARE(libusb_get_device_descriptor(old[0], &desc), 0);
    QCOMPARE(desc.idProduct, kPid);
    libusb_device_handle* h = nullptr;
    QCOMPARE(libusb_open(old[0], &h), int(LIBUSB_ERROR_NO_DEVICE));
    QVERIFY(!h);
    libusb_free_device_list(old, 1);

    libusb_device** list = nullptr;
    QCOMPARE(int(libusb_get_device_list(before.ctx, &list)), 0);
    QVERIFY(list[0] == nullptr);
    libusb_free_device_list(list, 1);
    Session after;
    QCOMPARE(int(libusb_get_device_list(after.ctx, &list)), 0);
    libusb_free_device_list(list, 1);
    QVERIFY(!after.open());

    // Plugged in again, it is a new device at a new address.
    auto again = bus.plug(dev->unitPtr());
    QVERIFY(again != dev);
    QVERIFY(again->address() != dev->address());
    QVERIFY(after.open());
}

void TestSimBus::unansweredTransferTimesOut_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("timeout");

    QTest::newRow("unit does not answer, 100 ms") << "no answer" << 100;
    QTest::newRow("unit does not answer, 300 ms") << "no answer" << 300;
    QTest::newRow("injected timeout, 300 ms") << "injected" << 300;
    QTest::newRow("latency beyond the timeout") << "latency" << 200;
    QTest::newRow("bulk IN, nothing to read") << "bulk in" << 150;
    QTest::newRow("bulk OUT, injected timeout") << "bulk injected" << 150;
}

void TestSimBus::unansweredTransferTimesOut()
{
    QFETCH(QString, how);
    QFETCH(int, timeout);

    auto unit = makeUnit();
    auto dev = VirtualBus::instance().plug(unit);
    Session s;
    libusb_device_handle* h = s.open();
    QVERIFY(h);
    QCOMPARE(libusb_claim_interface(h, 0), 0);

    uint8_t buf[64] = {};
    int moved = -1;
    QElapsedTimer clock;
    clock.start();
    int rc = 0;
    if (how == "no answer") {
        unit->setUnknownRequestOutcome(kNoAnswer);
        rc = readIn(h, 0x77, buf, 1, unsigned(timeout));
    } else if (how == "injected") {
        dev->failNext(kReqIdentity, LIBUSB_ERROR_TIMEOUT);
        rc = readIn(h, kReqIdentity, buf, 40, unsigned(timeout));
    } else if (how == "latency") {
        dev->setLatency(std::chrono::milliseconds(5 * timeout));
        rc = readIn(h, kReqIdentity, buf, 40, unsigned(timeout));
    } else if (how == "bulk in") {
        rc = libusb_bulk_transfer(h, kBulkInEndpoint, buf, 64, &moved, unsigned(timeout));
        QCOMPARE(moved, 0);
    } else {
        dev->failNext(SimDevice::kBulk, LIBUSB_ERROR_TIMEOUT);
        rc = libusb_bulk_transfer(h, kBulkOutEndpoint, buf, 64, &moved, unsigned(timeout));
        QCOMPARE(moved, 0);
    }
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(rc, int(LIBUSB_ERROR_TIMEOUT));
    QVERIFY2(elapsed >= timeout, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < timeout + 1500, qPrintable(QString::number(elapsed)));
    const auto log = dev->log();
    QCOMPARE(int(log.size()), 1);
    QVERIFY(log[0].end_us - log[0].t_us >= int64_t(timeout) * 1000);
    QCOMPARE(int(log[0].timeout_ms), timeout);
    QVERIFY(log[0].data.empty() || !(how == "no answer" || how == "injected"));

    // The pipe works again afterwards.
    unit->setUnknownRequestOutcome(kStall);
    dev->setLatency(std::chrono::microseconds(0));
    QCOMPARE(readIn(h, kReqDeviceInfo, buf, 4), 4);
}

void TestSimBus::unplugEndsWait_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("unit does not answer") << "no answer";
    QTest::newRow("unit slow") << "latency";
    QTest::newRow("no timeout at all") << "forever";
    QTest::newRow("bulk IN") << "bulk in";
}

void TestSimBus::unplugEndsWait()
{
    QFETCH(QString, how);

    auto& bus = VirtualBus::instance();
    auto unit = makeUnit();
    auto dev = bus.plug(unit);
    Session s;
    libusb_device_handle* h = s.open();
    QVERIFY(h);
    QCOMPARE(libusb_claim_interface(h, 0), 0);
    if (how == "latency")
        dev->setLatency(std::chrono::seconds(10));
    else
        unit->setUnknownRequestOutcome(kNoAnswer);

    std::thread puller([&bus, dev] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        bus.unplug(dev);
    });
    uint8_t buf[64] = {};
    QElapsedTimer clock;
    clock.start();
    int rc;
    int moved = -1;
    if (how == "bulk in")
        rc = libusb_bulk_transfer(h, kBulkInEndpoint, buf, 64, &moved, 10000);
    else
        rc = readIn(h, 0x77, buf, 1, how == "forever" ? 0 : 10000);
    const qint64 elapsed = clock.elapsed();
    puller.join();
    QCOMPARE(rc, int(LIBUSB_ERROR_NO_DEVICE));
    QVERIFY2(elapsed >= 90 && elapsed < 3000, qPrintable(QString::number(elapsed)));
}

void TestSimBus::stallIsPipe_data()
{
    QTest::addColumn<bool>("injected");
    QTest::newRow("unknown request") << false;
    QTest::newRow("injected pipe error") << true;
}

void TestSimBus::stallIsPipe()
{
    QFETCH(bool, injected);

    auto dev = VirtualBus::instance().plug(makeUnit());
    Session s;
    libusb_device_handle* h = s.open();
    QVERIFY(h);
    uint8_t buf[4] = {9, 9, 9, 9};
    const uint8_t request = injected ? kReqDeviceInfo : 0x77;
    if (injected)
        dev->failNext(kReqDeviceInfo, LIBUSB_ERROR_PIPE);
    QCOMPARE(readIn(h, request, buf, 4), int(LIBUSB_ERROR_PIPE));
    QCOMPARE(int(buf[0]), 9);
    // A control stall ends with the next setup packet.
    QCOMPARE(readIn(h, kReqDeviceInfo, buf, 4), 4);
    QCOMPARE(dev->clearHaltCount(0), 0);
}

void TestSimBus::bulkStallHaltsEndpoint()
{
    auto unit = makeUnit();
    auto dev = VirtualBus::instance().plug(unit);
    Session s;
    libusb_device_handle* h = s.open();
    QVERIFY(h);
    QCOMPARE(libusb_claim_interface(h, 0), 0);

    uint8_t data[256];
    for (int i = 0; i < 256; ++i)
        data[i] = uint8_t(i);
    int moved = -1;
    dev->failNext(SimDevice::kBulk, LIBUSB_ERROR_PIPE);
    QCOMPARE(libusb_bulk_transfer(h, kBulkOutEndpoint, data, 256, &moved, 3000),
             int(LIBUSB_ERROR_PIPE));
    QCOMPARE(moved, 0);
    QVERIFY(dev->endpointHalted(kBulkOutEndpoint));
    // Stays halted: the fault was used up, yet the next transfer stalls too.
    QCOMPARE(libusb_bulk_transfer(h, kBulkOutEndpoint, data, 256, &moved, 3000),
             int(LIBUSB_ERROR_PIPE));
    QCOMPARE(unit->bulkBytesReceived(), int64_t(0));

    QCOMPARE(libusb_clear_halt(h, kBulkOutEndpoint), 0);
    QCOMPARE(dev->clearHaltCount(kBulkOutEndpoint), 1);
    QVERIFY(!dev->endpointHalted(kBulkOutEndpoint));
    QCOMPARE(libusb_bulk_transfer(h, kBulkOutEndpoint, data, 256, &moved, 3000), 0);
    QCOMPARE(moved, 256);
    QCOMPARE(unit->bulkBytesReceived(), int64_t(256));
    const auto log = dev->log();
    QCOMPARE(int(log.size()), 3);
    QCOMPARE(log[2].kind, Transfer::Bulk);
    QCOMPARE(int(log[2].endpoint), int(kBulkOutEndpoint));
    QVERIFY(log[2].data == std::vector<uint8_t>(data, data + 256));

    QCOMPARE(libusb_clear_halt(h, 0x05), int(LIBUSB_ERROR_NOT_FOUND));
    QCOMPARE(libusb_bulk_transfer(h, 0x05, data, 4, &moved, 100), int(LIBUSB_ERROR_IO));
}

void TestSimBus::shortTransfers()
{
    auto dev = VirtualBus::instance().plug(makeUnit());
    Session s;
    libusb_device_handle* h = s.open();
    QVERIFY(h);
    QCOMPARE(libusb_claim_interface(h, 0), 0);

    uint8_t buf[40];
    std::memset(buf, 0xEE, sizeof buf);
    dev->failNext(kReqIdentity, kFaultShort);
    QCOMPARE(readIn(h, kReqIdentity, buf, 40), 39);
    QCOMPARE(int(buf[39]), 0xEE);
    QCOMPARE(readIn(h, kReqIdentity, buf, 40), 40);

    uint8_t data[100] = {};
    int moved = -1;
    dev->failNext(SimDevice::kBulk, kFaultShort);
    QCOMPARE(libusb_bulk_transfer(h, kBulkOutEndpoint, data, 100, &moved, 3000), 0);
    QCOMPARE(moved, 99);
    QCOMPARE(dev->unit().bulkBytesReceived(), int64_t(100));
}

void TestSimBus::unplugDuringRequest_data()
{
    QTest::addColumn<bool>("bulk");
    QTest::addColumn<int>("latencyMs");
    QTest::newRow("control") << false << 0;
    QTest::newRow("control, slow unit") << false << 50;
    QTest::newRow("bulk") << true << 0;
}

void TestSimBus::unplugDuringRequest()
{
    QFETCH(bool, bulk);
    QFETCH(int, latencyMs);

    auto& bus = VirtualBus::instance();
    auto dev = bus.plug(makeUnit());
    dev->setLatency(std::chrono::milliseconds(latencyMs));
    Session s;
    libusb_device_handle* h = s.open();
    QVERIFY(h);
    QCOMPARE(libusb_claim_interface(h, 0), 0);

    uint8_t buf[40] = {};
    int moved = -1;
    dev->failNext(bulk ? SimDevice::kBulk : int(kReqIdentity), kFaultUnplug);
    const int rc = bulk ? libusb_bulk_transfer(h, kBulkOutEndpoint, buf, 40, &moved, 3000)
                        : readIn(h, kReqIdentity, buf, 40);
    QCOMPARE(rc, int(LIBUSB_ERROR_NO_DEVICE));
    QVERIFY(!dev->plugged());
    QVERIFY(bus.devices().empty());
    QCOMPARE(readIn(h, kReqDeviceInfo, buf, 4), int(LIBUSB_ERROR_NO_DEVICE));
    QCOMPARE(libusb_release_interface(h, 0), int(LIBUSB_ERROR_NO_DEVICE));
    QVERIFY(!s.open());
}

void TestSimBus::injectedFaults_data()
{
    QTest::addColumn<int>("target"); // request code or kAnyControl
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("times");

    QTest::newRow("I/O once") << int(kReqIdentity) << int(LIBUSB_ERROR_IO) << 1;
    QTest::newRow("no device twice") << int(kReqIdentity) << int(LIBUSB_ERROR_NO_DEVICE) << 2;
    QTest::newRow("overflow, any request") << SimDevice::kAnyControl
                                           << int(LIBUSB_ERROR_OVERFLOW) << 1;
    QTest::newRow("pipe three times") << int(kReqIdentity) << int(LIBUSB_ERROR_PIPE) << 3;
    QTest::newRow("until cleared") << int(kReqIdentity) << int(LIBUSB_ERROR_IO) << -1;
}

void TestSimBus::injectedFaults()
{
    QFETCH(int, target);
    QFETCH(int, code);
    QFETCH(int, times);

    auto dev = VirtualBus::instance().plug(makeUnit());
    Session s;
    libusb_device_handle* h = s.open();
    QVERIFY(h);
    uint8_t buf[40] = {};
    dev->failNext(target, code, times);
    // A fault aimed at one request leaves the others alone.
    if (target != SimDevice::kAnyControl)
        QCOMPARE(readIn(h, kReqDeviceInfo, buf, 4), 4);
    const int failures = times < 0 ? 5 : times;
    for (int i = 0; i < failures; ++i)
        QCOMPARE(readIn(h, kReqIdentity, buf, 40), code);
    if (times < 0)
        dev->clearFaults();
    QCOMPARE(readIn(h, kReqIdentity, buf, 40), 40);
    QVERIFY(dev->plugged());
}

void TestSimBus::claimByTwoHandles()
{
    auto dev = VirtualBus::instance().plug(makeUnit());
    Session s;
    libusb_device_handle* a = s.open();
    libusb_device_handle* b = s.open();
    QVERIFY(a && b && a != b);
    QCOMPARE(VirtualBus::instance().liveHandles(), 2);

    QCOMPARE(libusb_claim_interface(a, 0), 0);
    QCOMPARE(libusb_claim_interface(a, 0), 0); // again by the owner: fine
    QCOMPARE(libusb_claim_interface(b, 0), int(LIBUSB_ERROR_BUSY));
    QCOMPARE(libusb_release_interface(b, 0), int(LIBUSB_ERROR_NOT_FOUND));
    // Bulk needs the interface; control requests to a vendor device do not.
    uint8_t buf[4] = {};
    int moved = 0;
    QCOMPARE(libusb_bulk_transfer(b, kBulkOutEndpoint, buf, 4, &moved, 100), int(LIBUSB_ERROR_IO));
    QCOMPARE(libusb_clear_halt(b, kBulkOutEndpoint), int(LIBUSB_ERROR_OTHER));
    QCOMPARE(readIn(b, kReqDeviceInfo, buf, 4), 4);

    QCOMPARE(libusb_release_interface(a, 0), 0);
    QCOMPARE(libusb_release_interface(a, 0), int(LIBUSB_ERROR_NOT_FOUND));
    QCOMPARE(libusb_claim_interface(b, 0), 0);
    // Closing gives the interface up without a release.
    s.close(b);
    QVERIFY(!dev->interfaceClaimed());
    QCOMPARE(libusb_claim_interface(a, 0), 0);

    QCOMPARE(libusb_claim_interface(a, 1), int(LIBUSB_ERROR_NOT_FOUND));
    QCOMPARE(libusb_claim_interface(a, -1), int(LIBUSB_ERROR_INVALID_PARAM));
}

void TestSimBus::openAndClaimFailures()
{
    auto& bus = VirtualBus::instance();
    auto dev = bus.plug(makeUnit());
    dev->setOpenFailure(LIBUSB_ERROR_ACCESS);
    Session s;
    libusb_device** list = nullptr;
    QCOMPARE(int(libusb_get_device_list(s.ctx, &list)), 1);
    libusb_device_handle* h = nullptr;
    QCOMPARE(libusb_open(list[0], &h), int(LIBUSB_ERROR_ACCESS));
    QVERIFY(!h);
    libusb_free_device_list(list, 1);
    QVERIFY(!s.open());
    QCOMPARE(bus.liveHandles(), 0);

    dev->setOpenFailure(0);
    dev->setClaimFailure(LIBUSB_ERROR_BUSY);
    h = s.open();
    QVERIFY(h);
    QCOMPARE(libusb_claim_interface(h, 0), int(LIBUSB_ERROR_BUSY));
    QVERIFY(!dev->interfaceClaimed());
    QCOMPARE(libusb_release_interface(h, 0), int(LIBUSB_ERROR_NOT_FOUND));
    dev->setClaimFailure(0);
    QCOMPARE(libusb_claim_interface(h, 0), 0);
}

void TestSimBus::kernelDriver()
{
    auto dev = VirtualBus::instance().plug(makeUnit());
    Session s;
    libusb_device_handle* h = s.open();
    QVERIFY(h);
    QCOMPARE(libusb_kernel_driver_active(h, 0), 0);
    QCOMPARE(libusb_detach_kernel_driver(h, 0), int(LIBUSB_ERROR_NOT_FOUND));
    // As on Linux: no driver exists for the unit, so attaching binds none
    // and the interface can still be claimed afterwards.
    QCOMPARE(libusb_attach_kernel_driver(h, 0), int(LIBUSB_ERROR_NOT_FOUND));
    QCOMPARE(libusb_kernel_driver_active(h, 0), 0);
    // Nor can the default pipe be cleared.
    QCOMPARE(libusb_clear_halt(h, 0), int(LIBUSB_ERROR_NOT_FOUND));

    dev->setKernelDriverActive(true);
    QCOMPARE(libusb_kernel_driver_active(h, 0), 1);
    QCOMPARE(libusb_claim_interface(h, 0), int(LIBUSB_ERROR_BUSY));
    QCOMPARE(libusb_attach_kernel_driver(h, 0), int(LIBUSB_ERROR_BUSY));
    QCOMPARE(libusb_detach_kernel_driver(h, 0), 0);
    QVERIFY(!dev->kernelDriverActive());
    QCOMPARE(libusb_kernel_driver_active(h, 0), 0);
    QCOMPARE(libusb_claim_interface(h, 0), 0);
    // While claimed, usbfs holds the interface.
    QCOMPARE(libusb_attach_kernel_driver(h, 0), int(LIBUSB_ERROR_BUSY));
    QCOMPARE(libusb_release_interface(h, 0), 0);
    QCOMPARE(libusb_attach_kernel_driver(h, 0), 0);
    QVERIFY(dev->kernelDriverActive());
    QCOMPARE(libusb_kernel_driver_active(h, 0), 1);

    QCOMPARE(libusb_kernel_driver_active(h, 3), 0);
    QCOMPARE(libusb_detach_kernel_driver(h, 3), int(LIBUSB_ERROR_INVALID_PARAM));
    QCOMPARE(libusb_kernel_driver_active(h, 40), int(LIBUSB_ERROR_INVALID_PARAM));
}

void TestSimBus::deviceRefcounting()
{
    auto& bus = VirtualBus::instance();
    bus.plug(makeUnit());
    Session s;
    libusb_device** list = nullptr;

    // The list holds one reference per device.
    QCOMPARE(int(libusb_get_device_list(s.ctx, &list)), 1);
    QCOMPARE(bus.liveDevices(), 1);
    libusb_device* kept = libusb_ref_device(list[0]);
    libusb_free_device_list(list, 1);
    QCOMPARE(bus.liveDevices(), 1);
    libusb_unref_device(kept);
    QCOMPARE(bus.liveDevices(), 0);

    // Freeing without unreferencing leaves the devices to the caller.
    QCOMPARE(int(libusb_get_device_list(s.ctx, &list)), 1);
    libusb_device* dev = list[0];
    libusb_free_device_list(list, 0);
    QCOMPARE(bus.liveDevices(), 1);
    libusb_unref_device(dev);
    QCOMPARE(bus.liveDevices(), 0);

    // An open handle keeps its device.
    QCOMPARE(int(libusb_get_device_list(s.ctx, &list)), 1);
    libusb_device_handle* h = nullptr;
    QCOMPARE(libusb_open(list[0], &h), 0);
    s.handles.push_back(h);
    libusb_free_device_list(list, 1);
    QCOMPARE(bus.liveDevices(), 1);
    libusb_device_descriptor desc;
    QCOMPARE(libusb_get_device_descriptor(libusb_get_device(h), &desc), 0);
    QCOMPARE(desc.idVendor, kVid);
    s.close(h);
    QCOMPARE(bus.liveDevices(), 0);
    QCOMPARE(bus.liveHandles(), 0);
}

void TestSimBus::overlapIsVisible()
{
    auto& bus = VirtualBus::instance();
    Session s;

    // Two threads on one handle, nothing serialising them: the counter
    // must see both transfers in the unit at once.
    auto dev = bus.plug(makeUnit());
    dev->setLatency(std::chrono::milliseconds(150));
    libusb_device_handle* h = s.open();
    QVERIFY(h);
    std::atomic<int> ok{0};
    auto worker = [&](uint8_t request, uint16_t len) {
        uint8_t buf[40];
        if (readIn(h, request, buf, len, 2000) == len)
            ++ok;
    };
    std::thread t1(worker, kReqIdentity, 40);
    std::thread t2(worker, kReqDeviceInfo, 4);
    t1.join();
    t2.join();
    QCOMPARE(ok.load(), 2);
    QCOMPARE(dev->maxConcurrentTransfers(), 2);
    const auto log = dev->log();
    QCOMPARE(int(log.size()), 2);
    QVERIFY(log[0].thread != log[1].thread);
    QVERIFY(log[0].t_us < log[1].end_us && log[1].t_us < log[0].end_us);

    // The same with a lock around each transfer never overlaps.
    s.close(h);
    bus.unplug(dev);
    auto dev2 = bus.plug(makeUnit());
    dev2->setLatency(std::chrono::milliseconds(50));
    h = s.open();
    QVERIFY(h);
    std::mutex serial;
    auto locked = [&](uint8_t request, uint16_t len) {
        uint8_t buf[40];
        for (int i = 0; i < 3; ++i) {
            std::lock_guard<std::mutex> lock(serial);
            readIn(h, request, buf, len, 2000);
        }
    };
    std::thread t3(locked, kReqIdentity, 40);
    std::thread t4(locked, kReqSoftwareInfo, 4);
    t3.join();
    t4.join();
    QCOMPARE(int(dev2->log().size()), 6);
    QCOMPARE(dev2->maxConcurrentTransfers(), 1);
}

void TestSimBus::contextsOnSeveralThreads()
{
    // A watcher thread scanning with a fresh context every few ms while the
    // main thread holds a connection and units come and go.
    auto& bus = VirtualBus::instance();
    auto unit = makeUnit();
    auto conn = bus.plug(unit);
    Session s;
    libusb_set_option(s.ctx, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_INFO);
    libusb_device_handle* h = s.open();
    QVERIFY(h);
    QCOMPARE(libusb_claim_interface(h, 0), 0);

    std::atomic<bool> stop{false};
    std::atomic<int> scans{0}, sightings{0}, errors{0};
    auto watcher = [&] {
        while (!stop) {
            libusb_context* ctx = nullptr;
            if (libusb_init(&ctx) != 0) {
                ++errors;
                continue;
            }
            libusb_device** list = nullptr;
            const ssize_t n = libusb_get_device_list(ctx, &list);
            if (n < 0) {
                ++errors;
            } else {
                for (ssize_t i = 0; i < n; ++i) {
                    libusb_device_descriptor d;
                    if (libusb_get_device_descriptor(list[i], &d) == 0 && d.idProduct == kPid)
                        ++sightings;
                }
                libusb_free_device_list(list, 1);
            }
            libusb_exit(ctx);
            ++scans;
        }
    };
    std::thread w1(watcher), w2(watcher);

    std::vector<std::shared_ptr<SimDevice>> extra;
    int good = 0;
    for (int i = 0; i < 40; ++i) {
        extra.push_back(bus.plug(makeUnit("EXTRA")));
        uint8_t buf[40];
        if (readIn(h, kReqIdentity, buf, 40) == 40)
            ++good;
        if (i % 2)
            bus.unplug(extra[size_t(i) / 2]);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // A unit pulled while the main thread reads.
    conn->setLatency(std::chrono::milliseconds(200));
    std::thread puller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        bus.unplug(conn);
    });
    uint8_t buf[40];
    const int last = readIn(h, kReqIdentity, buf, 40);
    puller.join();
    stop = true;
    w1.join();
    w2.join();

    QCOMPARE(good, 40);
    QCOMPARE(last, int(LIBUSB_ERROR_NO_DEVICE));
    QCOMPARE(errors.load(), 0);
    QVERIFY(scans.load() > 2);
    QVERIFY(sightings.load() > 0);
    QCOMPARE(conn->maxConcurrentTransfers(), 1);
    const auto levels = contextLogLevels();
    QCOMPARE(int(levels.size()), 1);
    QCOMPARE(levels[0], int(LIBUSB_LOG_LEVEL_INFO));
    QCOMPARE(bus.liveContexts(), 1);
    QCOMPARE(bus.liveHandles(), 1);
}

void TestSimBus::logRecordsTransfers()
{
    auto dev = VirtualBus::instance().plug(makeUnit());
    Session s;
    libusb_device_handle* h = s.open();
    QVERIFY(h);

    uint8_t key[36];
    for (int i = 0; i < 36; ++i)
        key[i] = uint8_t(0xA0 + i);
    uint8_t buf[40] = {};
    // 0x7E is a request no unit answers: sent, then stalled.
    QCOMPARE(libusb_control_transfer(h, kVendorOut, 0x7E, 0, 0, key, 36, 2000),
             int(LIBUSB_ERROR_PIPE));
    QCOMPARE(readIn(h, kReqIdentity, buf, 40), 40);
    QCOMPARE(readIn(h, kReqDeviceInfo, buf, 4), 4);
    QCOMPARE(libusb_control_transfer(h, kVendorIn, kReqSoftwareInfo, 0, 0, buf, 0, 300), 0);

    const auto log = dev->log();
    QCOMPARE(int(log.size()), 4);
    QVERIFY(dev->requestCodes() == (std::vector<uint8_t>{0x7E, kReqIdentity, kReqDeviceInfo,
                                                         kReqSoftwareInfo}));
    QVERIFY(log[0].data == std::vector<uint8_t>(key, key + 36));
    QCOMPARE(log[0].result, int(LIBUSB_ERROR_PIPE));
    QCOMPARE(int(log[0].timeout_ms), 2000);
    const auto id = dev->unit().identityRecord();
    QVERIFY(log[1].data == std::vector<uint8_t>(id.begin(), id.end()));
    QCOMPARE(int(log[1].timeout_ms), 300);
    QCOMPARE(int(log[2].data.size()), 4);
    QVERIFY(log[3].data.empty());
    for (size_t i = 0; i < log.size(); ++i) {
        QCOMPARE(log[i].kind, Transfer::Control);
        QVERIFY(log[i].thread == std::this_thread::get_id());
        QVERIFY(log[i].end_us >= log[i].t_us);
        if (i)
            QVERIFY(log[i].t_us >= log[i - 1].end_us);
    }
    dev->clearLog();
    QVERIFY(dev->log().empty());
}

void TestSimBus::busFailures()
{
    auto& bus = VirtualBus::instance();
    bus.plug(makeUnit());

    bus.setInitFailure(LIBUSB_ERROR_OTHER);
    libusb_context* ctx = nullptr;
    QCOMPARE(libusb_init(&ctx), int(LIBUSB_ERROR_OTHER));
    QVERIFY(!ctx);
    QCOMPARE(bus.liveContexts(), 0);
    bus.setInitFailure(0);

    Session s;
    bus.setDeviceListFailure(LIBUSB_ERROR_NO_MEM);
    libusb_device** list = nullptr;
    QCOMPARE(int(libusb_get_device_list(s.ctx, &list)), int(LIBUSB_ERROR_NO_MEM));
    QVERIFY(!list);
    QVERIFY(!s.open());
    bus.setDeviceListFailure(0);

    bus.setDescriptorFailure(LIBUSB_ERROR_IO);
    QCOMPARE(int(libusb_get_device_list(s.ctx, &list)), 1);
    libusb_device_descriptor desc;
    QCOMPARE(libusb_get_device_descriptor(list[0], &desc), int(LIBUSB_ERROR_IO));
    libusb_free_device_list(list, 1);
    QVERIFY(!s.open());
    bus.setDescriptorFailure(0);
    QVERIFY(s.open());
}

void TestSimBus::defaultContextIsShared()
{
    auto& bus = VirtualBus::instance();
    bus.plug(makeUnit());
    QCOMPARE(libusb_init(nullptr), 0);
    QCOMPARE(libusb_init(nullptr), 0);
    QCOMPARE(bus.liveContexts(), 1);
    libusb_device_handle* h = libusb_open_device_with_vid_pid(nullptr, kVid, kPid);
    QVERIFY(h);
    libusb_close(h);
    libusb_exit(nullptr);
    QCOMPARE(bus.liveContexts(), 1);
    libusb_exit(nullptr);
    QCOMPARE(bus.liveContexts(), 0);
}

void TestSimBus::logLevelOption()
{
    Session s;
    QCOMPARE(contextLogLevels(), std::vector<int>{LIBUSB_LOG_LEVEL_NONE});
    QCOMPARE(libusb_set_option(s.ctx, LIBUSB_OPTION_LOG_LEVEL, 7), int(LIBUSB_ERROR_INVALID_PARAM));
    QCOMPARE(libusb_set_option(s.ctx, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_WARNING), 0);
    QCOMPARE(contextLogLevels(), std::vector<int>{LIBUSB_LOG_LEVEL_WARNING});
    // The program still uses the old call.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    libusb_set_debug(s.ctx, 3);
#pragma GCC diagnostic pop
    QCOMPARE(contextLogLevels(), std::vector<int>{LIBUSB_LOG_LEVEL_INFO});
    QCOMPARE(libusb_set_option(s.ctx, LIBUSB_OPTION_USE_USBDK), int(LIBUSB_ERROR_NOT_SUPPORTED));
}

void TestSimBus::errorNames_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");

    QTest::newRow("success") << 0 << "LIBUSB_SUCCESS / LIBUSB_TRANSFER_COMPLETED" << "Success";
    QTest::newRow("io") << -1 << "LIBUSB_ERROR_IO" << "Input/Output Error";
    QTest::newRow("no device") << -4 << "LIBUSB_ERROR_NO_DEVICE"
                               << "No such device (it may have been disconnected)";
    QTest::newRow("timeout") << -7 << "LIBUSB_ERROR_TIMEOUT" << "Operation timed out";
    QTest::newRow("pipe") << -9 << "LIBUSB_ERROR_PIPE" << "Pipe error";
    QTest::newRow("other") << -99 << "LIBUSB_ERROR_OTHER" << "Other error";
    QTest::newRow("unknown") << -13 << "**UNKNOWN**" << "Other error";
}

void TestSimBus::errorNames()
{
    QFETCH(int, code);
    QFETCH(QString, name);
    QFETCH(QString, text);
    QCOMPARE(QString::fromLatin1(libusb_error_name(code)), name);
    QCOMPARE(QString::fromLatin1(libusb_strerror(code)), text);
}

QTEST_GUILESS_MAIN(TestSimBus)
#include "tst_sim_bus.moc"
