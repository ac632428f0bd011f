// The simulated unit's radio link, seen the way the program sees it: through
// the libusb API on the simulated bus. The program's status pages, settings
// and pairing are tested against this unit, so its records must have the
// unit's exact layouts and its answers must follow what the unit does.

#include "sim_bus.h"
#include "sim_link.h"
#include "sim_unit.h"

#include <QtTest>

#include <libusb.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

using namespace sim;

using LinkSetup = std::function<void(SimLink&)>;
Q_DECLARE_METATYPE(LinkSetup)

namespace {

QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray out;
    for (int b : list)
        out.append(char(uint8_t(b)));
    return out;
}

template<size_t N>
QByteArray toBytes(const std::array<uint8_t, N>& a)
{
    return QByteArray(reinterpret_cast<const char*>(a.data()), int(N));
}

QByteArray toBytes(const std::vector<uint8_t>& v)
{
    return QByteArray(reinterpret_cast<const char*>(v.data()), int(v.size()));
}

// Key payload of request 0xED: mode, three pad bytes, key text.
QByteArray keyPayload(int mode, const QByteArray& key, char pad = 0)
{
    QByteArray p(36, 0);
    p[0] = char(mode);
    p[1] = p[2] = p[3] = pad;
    std::memcpy(p.data() + 4, key.constData(), size_t(std::min(key.size(), 32)));
    return p;
}

uint32_t le32(const QByteArray& b, int offset)
{
    const auto* p = reinterpret_cast<const uint8_t*>(b.constData() + offset);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

int recordLength(int request)
{
    switch (request) {
    case kReqDevStatus: return kDevStatusLen;
    case kReqDevStatus2: return kDevStatus2Len;
    case kReqProStatus: return kProStatusLen;
    case kReqScan: return kScanLen;
    default: return 1;
    }
}

} // namespace

class TestSimLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void devStatusLayout();
    void devStatus2Layout();
    void fieldOffsets_data();
    void fieldOffsets();
    void proStatusCounters_data();
    void proStatusCounters();
    void recordLengths_data();
    void recordLengths();

    void settingsReflected_data();
    void settingsReflected();
    void settingsStored_data();
    void settingsStored();
    void rawPayloadsKept();
    void bandFollowsModel();

    void commandStatus_data();
    void commandStatus();
    void rejectOneRequestOnly();
    void invalidPayloadRejected_data();
    void invalidPayloadRejected();

    void factoryRestore_data();
    void factoryRestore();

    void pairingSequence_data();
    void pairingSequence();
    void pairButton();
    void pairingRestartsCount();

    void scanDefaults();
    void scanShowsOwnCarrier();
    void scanOverrides();
    void scanNarrowBand();

    void distanceModel();
    void lossFollowsDistance();
    void peerAbsent();
    void countersAndClock();
    void pinsAndRelease();
    void deterministicAndSeeded();
    void concurrentAccess();

private:
    SimLink& link() { return m_unit->link(); }
    int out(uint8_t request, const QByteArray& payload);
    QByteArray in(uint8_t request, int length = -1);
    int status();

    std::shared_ptr<SimUnit> m_unit;
    std::shared_ptr<SimDevice> m_dev;
    libusb_context* m_ctx = nullptr;
    libusb_device_handle* m_h = nullptr;
};

void TestSimLink::init()
{
    VirtualBus::instance().reset();
    m_unit = std::make_shared<SimUnit>();
    m_unit->configure(SimUnit::GroundUnit, "QL24G0000001", 0x020304, 1, 2, 3, 0x1440);
    m_dev = VirtualBus::instance().plug(m_unit);
    QCOMPARE(libusb_init(&m_ctx), 0);
    m_h = libusb_open_device_with_vid_pid(m_ctx, 0x0483, 0x5868);
    QVERIFY(m_h);
}

void TestSimLink::cleanup()
{
    if (m_h)
        libusb_close(m_h);
    if (m_ctx)
        libusb_exit(m_ctx);
    m_h = nullptr;
    m_ctx = nullptr;
    m_dev.reset();
    m_unit.reset();
    VirtualBus::instance().reset();
    QCOMPARE(VirtualBus::instance().liveHandles(), 0);
}

int TestSimLink::out(uint8_t request, const QByteArray& payload)
{
    QByteArray copy = payload;
    return libusb_control_transfer(m_h, kVendorOut, request, 0, 0,
                                   reinterpret_cast<unsigned char*>(copy.data()),
                                   uint16_t(copy.size()), 2000);
}

QByteArray TestSimLink::in(uint8_t request, int length)
{
    if (length < 0)
        length = recordLength(request);
    QByteArray buf(length, 0);
    const int rc = libusb_control_transfer(m_h, kVendorIn, request, 0, 0,
                                           reinterpret_cast<unsigned char*>(buf.data()),
                                           uint16_t(length), 300);
    if (rc < 0)
        return QByteArray();
    return buf.left(rc);
}

int TestSimLink::status()
{
    const QByteArray b = in(kReqCommandStatus);
    return b.size() == 1 ? uint8_t(b[0]) : -1;
}

// ------------------------------------------------------------- layouts

void TestSimLink::devStatusLayout()
{
    SimLink& l = link();
    l.setAutoAdvance(false);
    l.setFrequency(2437);
    l.setGroundLdpc(0x11223344, 0x01020304);
    l.setGroundRfPowerWord(0x5F);
    l.setAirLdpc(0x0A0B0C0D, 0x00000102);
    l.setDownlinkCode(7);
    l.setFrequencyMode(1);
    l.setBindByte(1);
    l.setBaudIndex(0xFF);
    l.setSnr(23, 17);
    l.setVga(-5, 12);
    l.setGroundRssi(61, 63);
    l.setAirRssi(58, 0xFF);
    l.setLinkStatus(4, 3);
    l.setAirPowerWord(0x1C);
    l.setRange(1234);
    l.setEthCounters(0xABCD, 0x123456);
    l.setAntennaByte(0x11);
    l.setRcMode(1);
    l.setPairButtonByte(0xA5);

    const QByteArray expected = bytes({
        0x85, 0x09, 0x00, 0x00, // freq
        0x44, 0x33, 0x22, 0x11, // G_LDPC_PASS
        0x04, 0x03, 0x02, 0x01, // G_LDPC_FAIL
        0x5F, 0x00, 0x00, 0x00, // G_rf_power
        0x0D, 0x0C, 0x0B, 0x0A, // A_LDPC_PASS
        0x02, 0x01, 0x00, 0x00, // A_LDPC_FAIL
        0x07, 0x00, 0x01, 0x01, // downlink, -, frequency mode, bind
        0x00, 0xFF, 0x17, 0xFB, // -, baud index, G_SNR, g_VGA
        0x3D, 0x11, 0x0C, 0x3A, // G_RSSI_1, A_SNR, a_VGA, A_RSSI_1
        0x04, 0x00, 0x00, 0x00, // grd_link_status
        0x03, 0x00, 0x00, 0x00, // air_link_status
        0x1C, 0x00, 0x00, 0x00, // A_rx_power
        0xD2, 0x04, 0x00, 0x00, // range
        0xCD, 0xAB, 0x00, 0x00, // eth_lost_packet
        0x56, 0x34, 0x12, 0x00, // eth_rev_packet
        0x11, 0x01, 0xA5, 0x00, // antenna, RC mode, pair button, -
    });
    QCOMPARE(in(kReqDevStatus), expected);
    QCOMPARE(in(kReqDevStatus), expected); // nothing moves while the clock is off
    QCOMPARE(toBytes(l.devStatus()), expected);
}

void TestSimLink::devStatus2Layout()
{
    SimLink& l = link();
    l.setTemperatures(45, 76, -10, 75);
    l.setAirRssi(60, 0x50);
    l.setGroundRssi(60, 0xFF);
    l.setFlags(0x0B);
    l.setProfileByte(0x3A);
    l.setRates(250, 0x12345);

    const QByteArray expected = bytes({
        0x2D, 0x4C, 0xF6, 0x4B, // temperatures: air BB, air PA, ground BB, ground PA
        0x50, 0xFF, 0x0B, 0x3A, // A_RSSI_2, G_RSSI_2, flags, profile
        0xFA, 0x00, 0x00, 0x00, // uplink rate
        0x45, 0x23, 0x01, 0x00, // downlink rate
    });
    QCOMPARE(in(kReqDevStatus2), expected);
}

void TestSimLink::fieldOffsets_data()
{
    QTest::addColumn<LinkSetup>("setup");
    QTest::addColumn<int>("request");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("expected");

    auto row = [](const char* name, LinkSetup s, int req, int off, QByteArray exp) {
        QTest::newRow(name) << s << req << off << exp;
    };
    row("freq", [](SimLink& l) { l.setFrequency(0x01020304); }, kReqDevStatus, 0,
        bytes({4, 3, 2, 1}));
    row("G_LDPC_PASS", [](SimLink& l) { l.setGroundLdpc(0xA1A2A3A4, 0x55555555); },
        kReqDevStatus, 4, bytes({0xA4, 0xA3, 0xA2, 0xA1}));
    row("G_LDPC_FAIL", [](SimLink& l) { l.setGroundLdpc(0x55555555, 0xB1B2B3B4); },
        kReqDevStatus, 8, bytes({0xB4, 0xB3, 0xB2, 0xB1}));
    row("region and power", [](SimLink& l) { l.setRegionPower(3, 31); }, kReqDevStatus, 12,
        bytes({0x7F, 0, 0, 0}));
    row("A_LDPC_PASS", [](SimLink& l) { l.setAirLdpc(0xC1C2C3C4, 0x55555555); },
        kReqDevStatus, 16, bytes({0xC4, 0xC3, 0xC2, 0xC1}));
    row("A_LDPC_FAIL", [](SimLink& l) { l.setAirLdpc(0x55555555, 0xD1D2D3D4); },
        kReqDevStatus, 20, bytes({0xD4, 0xD3, 0xD2, 0xD1}));
    row("downlink", [](SimLink& l) { l.setDownlinkCode(12); }, kReqDevStatus, 24, bytes({12}));
    row("frequency mode", [](SimLink& l) { l.setFrequencyMode(1); }, kReqDevStatus, 26,
        bytes({1}));
    row("bind 2", [](SimLink& l) { l.setBindByte(2); }, kReqDevStatus, 27, bytes({2}));
    row("baud index 0xFF", [](SimLink& l) { l.setBaudIndex(0xFF); }, kReqDevStatus, 29,
        bytes({0xFF}));
    row("G_SNR", [](SimLink& l) { l.setSnr(33, 0); }, kReqDevStatus, 30, bytes({33}));
    row("g_VGA negative", [](SimLink& l) { l.setVga(-12, 0); }, kReqDevStatus, 31, bytes({0xF4}));
    row("G_RSSI_1 no reading", [](SimLink& l) { l.setGroundRssi(0xFF, 70); }, kReqDevStatus, 32,
        bytes({0xFF}));
    row("A_SNR", [](SimLink& l) { l.setSnr(0, 21); }, kReqDevStatus, 33, bytes({21}));
    row("a_VGA", [](SimLink& l) { l.setVga(0, -1); }, kReqDevStatus, 34, bytes({0xFF}));
    row("A_RSSI_1", [](SimLink& l) { l.setAirRssi(101, 70); }, kReqDevStatus, 35, bytes({101}));
    row("link status words", [](SimLink& l) { l.setLinkStatus(0x00000004, 0x01000002); },
        kReqDevStatus, 36, bytes({4, 0, 0, 0, 2, 0, 0, 1}));
    row("A_rx_power", [](SimLink& l) { l.setAirPowerWord(0x1F); }, kReqDevStatus, 44,
        bytes({0x1F, 0, 0, 0}));
    row("range", [](SimLink& l) { l.setRange(70000); }, kReqDevStatus, 48,
        bytes({0x70, 0x11, 0x01, 0}));
    row("eth counters", [](SimLink& l) { l.setEthCounters(7, 0x0100); }, kReqDevStatus, 52,
        bytes({7, 0, 0, 0, 0, 1, 0, 0}));
    row("antenna byte", [](SimLink& l) { l.setAntennaByte(0x10); }, kReqDevStatus, 60,
        bytes({0x10}));
    row("RC mode", [](SimLink& l) { l.setRcMode(1); }, kReqDevStatus, 61, bytes({1}));
    row("pair button", [](SimLink& l) { l.setPairButtonByte(0xA5); }, kReqDevStatus, 62,
        bytes({0xA5}));

    row("air BB temperature", [](SimLink& l) { l.setTemperatures(-40, 52, 43, 49); },
        kReqDevStatus2, 0, bytes({0xD8}));
    row("ground PA temperature", [](SimLink& l) { l.setTemperatures(46, 52, 43, 127); },
        kReqDevStatus2, 3, bytes({0x7F}));
    row("A_RSSI_2", [](SimLink& l) { l.setAirRssi(60, 0xFF); }, kReqDevStatus2, 4, bytes({0xFF}));
    row("G_RSSI_2", [](SimLink& l) { l.setGroundRssi(60, 77); }, kReqDevStatus2, 5, bytes({77}));
    row("flags: USB", [](SimLink& l) { l.setDatalinkUsb(true); }, kReqDevStatus2, 6, bytes({1}));
    row("flags: Observer", [](SimLink& l) { l.setObserver(true); }, kReqDevStatus2, 6,
        bytes({2}));
    row("flags: AES-256 on", [](SimLink& l) { l.setEncryption(true, 1); }, kReqDevStatus2, 6,
        bytes({0x0C}));
    row("profile 3", [](SimLink& l) { l.setProfile(3); }, kReqDevStatus2, 7, bytes({0x30}));
    row("profile 0", [](SimLink& l) { l.setProfile(0); }, kReqDevStatus2, 7, bytes({0x00}));
    row("rates", [](SimLink& l) { l.setRates(0x0102, 0x030405); }, kReqDevStatus2, 8,
        bytes({2, 1, 0, 0, 5, 4, 3, 0}));

    row("configuration word", [](SimLink& l) { l.setConfigWord(0x00000105); }, kReqProStatus, 0,
        bytes({5, 1, 0, 0}));
}

// A field's setter writes its bytes and nothing else of the record.
void TestSimLink::fieldOffsets()
{
    QFETCH(LinkSetup, setup);
    QFETCH(int, request);
    QFETCH(int, offset);
    QFETCH(QByteArray, expected);

    // Everything measured is pinned, so only the row's field can move
    // (a power or frequency would otherwise move the RSSI too).
    SimLink& l = link();
    l.setAutoAdvance(false);
    l.setGroundLdpc(0x55555555, 0x55555555); // non-zero neighbours
    l.setAirLdpc(0x55555555, 0x55555555);
    l.setGroundRssi(60, 70);
    l.setAirRssi(60, 70);
    l.setSnr(0, 0);
    l.setVga(0, 0);
    l.setRange(0);
    l.setLinkStatus(4, 4);
    l.setRates(0, 0);
    const QByteArray before = in(uint8_t(request));
    QCOMPARE(before.size(), recordLength(request));
    setup(link());
    const QByteArray after = in(uint8_t(request));
    QCOMPARE(after.size(), before.size());
    QCOMPARE(after.mid(offset, expected.size()), expected);
    for (int i = 0; i < after.size(); ++i) {
        if (i >= offset && i < offset + expected.size())
            continue;
        if (after[i] != before[i])
            QFAIL(qPrintable(QString("byte %1 changed too").arg(i)));
    }
}

void TestSimLink::proStatusCounters_data()
{
    QTest::addColumn<int>("counter");
    QTest::addColumn<int>("offset");

    QTest::newRow("air buffer overflow") << int(SimLink::AirBufferOverflow) << 4;
    QTest::newRow("air packets received") << int(SimLink::AirPacketsReceived) << 8;
    QTest::newRow("air packets sent") << int(SimLink::AirPacketsSent) << 12;
    QTest::newRow("air packets submitted") << int(SimLink::AirPacketsSubmitted) << 16;
    QTest::newRow("air packets discarded") << int(SimLink::AirPacketsDiscarded) << 20;
    QTest::newRow("air packets retransmitted") << int(SimLink::AirPacketsRetransmitted) << 24;
    QTest::newRow("ground buffer overflow") << int(SimLink::GroundBufferOverflow) << 28;
    QTest::newRow("ground packets received") << int(SimLink::GroundPacketsReceived) << 32;
    QTest::newRow("ground packets sent") << int(SimLink::GroundPacketsSent) << 36;
    QTest::newRow("ground packets submitted") << int(SimLink::GroundPacketsSubmitted) << 40;
    QTest::newRow("ground packets discarded") << int(SimLink::GroundPacketsDiscarded) << 44;
    QTest::newRow("ground packets retransmitted")
        << int(SimLink::GroundPacketsRetransmitted) << 48;
    QTest::newRow("datalink received") << int(SimLink::DatalinkReceived) << 52;
    QTest::newRow("datalink sent") << int(SimLink::DatalinkSent) << 56;
}

void TestSimLink::proStatusCounters()
{
    QFETCH(int, counter);
    QFETCH(int, offset);

    link().setAutoAdvance(false);
    for (int c = 0; c < SimLink::ProCounterCount; ++c)
        link().setProCounter(SimLink::ProCounter(c), 0);
    link().setProCounter(SimLink::ProCounter(counter), 0xCAFE0102);
    const QByteArray rec = in(kReqProStatus);
    QCOMPARE(rec.size(), 60);
    QCOMPARE(rec.mid(offset, 4), bytes({0x02, 0x01, 0xFE, 0xCA}));
    for (int w = 1; w < 15; ++w)
        if (w * 4 != offset)
            QCOMPARE(le32(rec, w * 4), 0u);
}

void TestSimLink::recordLengths_data()
{
    QTest::addColumn<int>("requestType");
    QTest::addColumn<int>("request");
    QTest::addColumn<int>("wLength");
    QTest::addColumn<int>("expected");

    QTest::newRow("dev_status") << int(kVendorIn) << int(kReqDevStatus) << 64 << 64;
    QTest::newRow("dev_status2") << int(kVendorIn) << int(kReqDevStatus2) << 16 << 16;
    QTest::newRow("pro_status") << int(kVendorIn) << int(kReqProStatus) << 60 << 60;
    QTest::newRow("pro_status into 64") << int(kVendorIn) << int(kReqProStatus) << 64 << 60;
    QTest::newRow("scan") << int(kVendorIn) << int(kReqScan) << 16 << 16;
    QTest::newRow("command status") << int(kVendorIn) << int(kReqCommandStatus) << 1 << 1;
    QTest::newRow("dev_status, first 8") << int(kVendorIn) << int(kReqDevStatus) << 8 << 8;
    QTest::newRow("dev_status2 into 64") << int(kVendorIn) << int(kReqDevStatus2) << 64 << 16;
    QTest::newRow("OUT to dev_status") << int(kVendorOut) << int(kReqDevStatus) << 64
                                       << int(LIBUSB_ERROR_PIPE);
    QTest::newRow("OUT to command status") << int(kVendorOut) << int(kReqCommandStatus) << 1
                                           << int(LIBUSB_ERROR_PIPE);
    QTest::newRow("IN from a setting") << int(kVendorIn) << int(kReqFrequency) << 4
                                       << int(LIBUSB_ERROR_PIPE);
    QTest::newRow("class request") << 0xA1 << int(kReqDevStatus) << 64 << int(LIBUSB_ERROR_PIPE);
}

void TestSimLink::recordLengths()
{
    QFETCH(int, requestType);
    QFETCH(int, request);
    QFETCH(int, wLength);
    QFETCH(int, expected);

    QByteArray buf(wLength, 0);
    QCOMPARE(libusb_control_transfer(m_h, uint8_t(requestType), uint8_t(request), 0, 0,
                                     reinterpret_cast<unsigned char*>(buf.data()),
                                     uint16_t(wLength), 300),
             expected);
    QVERIFY(link().settingLog().empty());
}

// ------------------------------------------------------------- settings

void TestSimLink::settingsReflected_data()
{
    QTest::addColumn<LinkSetup>("before");
    QTest::addColumn<int>("request");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("record");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("expected");

    const LinkSetup none = [](SimLink&) {};
    auto row = [](const char* name, LinkSetup before, int req, QByteArray payload, int rec,
                  int off, QByteArray exp) {
        QTest::newRow(name) << before << req << payload << rec << off << exp;
    };
    row("frequency 2437", none, kReqFrequency, bytes({0x85, 0x09, 0, 0}), kReqDevStatus, 0,
        bytes({0x85, 0x09, 0, 0}));
    row("frequency 2390 (reserve channel)", none, kReqFrequency, bytes({0x56, 0x09, 0, 0}),
        kReqDevStatus, 0, bytes({0x56, 0x09, 0, 0}));
    row("hopping on", none, kReqFreqHop, bytes({1}), kReqDevStatus, 26, bytes({1}));
    row("hopping off", [](SimLink& l) { l.setFrequencyMode(1); }, kReqFreqHop, bytes({0}),
        kReqDevStatus, 26, bytes({0}));
    row("downlink 16QAM", none, kReqDownlink, bytes({8}), kReqDevStatus, 24, bytes({8}));
    row("downlink 15", none, kReqDownlink, bytes({15}), kReqDevStatus, 24, bytes({15}));
    row("region 2, power 31", none, kReqRegionPower, bytes({0x5F}), kReqDevStatus, 12,
        bytes({0x5F, 0, 0, 0}));
    row("region 1, power 28", none, kReqRegionPower, bytes({0x3C}), kReqDevStatus, 12,
        bytes({0x3C, 0, 0, 0}));
    row("power passed to the linked peer", none, kReqRegionPower, bytes({0x5A}), kReqDevStatus,
        44, bytes({0x1A, 0, 0, 0}));
    row("power not passed without a peer", [](SimLink& l) { l.setPeerPresent(false); },
        kReqRegionPower, bytes({0x5A}), kReqDevStatus, 44, bytes({0x1C, 0, 0, 0}));
    row("baud 57600", none, kReqBaudRate, bytes({1}), kReqDevStatus, 29, bytes({1}));
    row("baud 460800", none, kReqBaudRate, bytes({4}), kReqDevStatus, 29, bytes({4}));
    row("baud after 0xFF", [](SimLink& l) { l.setBaudIndex(0xFF); }, kReqBaudRate, bytes({0}),
        kReqDevStatus, 29, bytes({0}));
    row("PPM", none, kReqRcMode, bytes({1}), kReqDevStatus, 61, bytes({1}));
    row("S.Bus", [](SimLink& l) { l.setRcMode(1); }, kReqRcMode, bytes({0}), kReqDevStatus, 61,
        bytes({0}));
    row("datalink USB", none, kReqDatalink, bytes({0x5A}), kReqDevStatus2, 6, bytes({0x01}));
    row("datalink UART", [](SimLink& l) { l.setFlags(0x0F); }, kReqDatalink, bytes({0xA5}),
        kReqDevStatus2, 6, bytes({0x0E}));
    row("Observer", none, kReqGroundIdentity, bytes({1}), kReqDevStatus2, 6, bytes({0x02}));
    row("Pilot", [](SimLink& l) { l.setFlags(0x03); }, kReqGroundIdentity, bytes({0}),
        kReqDevStatus2, 6, bytes({0x01}));
    row("second antenna, auto off", none, kReqAntenna, bytes({0x10}), kReqDevStatus, 60,
        bytes({0x10}));
    row("second antenna, auto on", none, kReqAntenna, bytes({0x11}), kReqDevStatus, 60,
        bytes({0x11}));
    row("first antenna, auto off", [](SimLink& l) { l.setAntennaByte(0x11); }, kReqAntenna,
        bytes({0x00}), kReqDevStatus, 60, bytes({0x00}));
    row("ARQ off, group 2", none, kReqConfigByte, bytes({0x04}), kReqProStatus, 0,
        bytes({0x04, 0, 0, 0}));
    row("ARQ on, group 1", [](SimLink& l) { l.setConfigByte(0x04); }, kReqConfigByte,
        bytes({0x01}), kReqProStatus, 0, bytes({0x01, 0, 0, 0}));
    row("config keeps other bits", none, kReqConfigByte, bytes({0xF5}), kReqProStatus, 0,
        bytes({0xF5, 0, 0, 0}));
    row("AES-128 key", none, kReqEncryptKey, keyPayload(0, "0123456789abcdef"), kReqDevStatus2,
        6, bytes({0x04}));
    row("AES-256 key", none, kReqEncryptKey,
        keyPayload(1, "0123456789abcdef0123456789ABCDEF", char(0xEE)), kReqDevStatus2, 6,
        bytes({0x0C}));
    row("AES-128 after AES-256", [](SimLink& l) { l.setEncryption(true, 1); }, kReqEncryptKey,
        keyPayload(0, "0123456789abcdef"), kReqDevStatus2, 6, bytes({0x04}));
    row("encryption off", [](SimLink& l) { l.setEncryption(true, 1); }, kReqEncryptEnable,
        bytes({0}), kReqDevStatus2, 6, bytes({0x08}));
    row("test mode shows its downlink", none, kReqTestMode, bytes({0, 0, 0x50, 0x80}),
        kReqDevStatus, 24, bytes({5}));
    row("test mode off shows the set rate", [](SimLink& l) { l.setDownlinkCode(7); },
        kReqTestMode, bytes({0, 0, 0x50, 0x00}), kReqDevStatus, 24, bytes({7}));
}

void TestSimLink::settingsReflected()
{
    QFETCH(LinkSetup, before);
    QFETCH(int, request);
    QFETCH(QByteArray, payload);
    QFETCH(int, record);
    QFETCH(int, offset);
    QFETCH(QByteArray, expected);

    before(link());
    QCOMPARE(out(uint8_t(request), payload), payload.size());
    QCOMPARE(status(), int(kCmdDone));
    QCOMPARE(in(uint8_t(record)).mid(offset, expected.size()), expected);
    QCOMPARE(toBytes(link().lastPayload(uint8_t(request))), payload);
    const auto log = link().settingLog();
    QCOMPARE(int(log.size()), 1);
    QVERIFY(log[0].applied);
    QCOMPARE(int(log[0].status), int(kCmdDone));
}

void TestSimLink::settingsStored_data()
{
    QTest::addColumn<int>("request");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("value");

    QTest::newRow("bandwidth") << int(kReqBandwidth) << bytes({2}) << 2;
    QTest::newRow("TDD up") << int(kReqTddRatio) << bytes({1}) << 1;
    QTest::newRow("uplink mode") << int(kReqUplinkMode) << bytes({3}) << 3;
    QTest::newRow("test word") << int(kReqTestMode) << bytes({0x12, 0x34, 0xC0, 0x80})
                               << int(0x80C03412);
}

void TestSimLink::settingsStored()
{
    QFETCH(int, request);
    QFETCH(QByteArray, payload);
    QFETCH(int, value);

    QCOMPARE(out(uint8_t(request), payload), payload.size());
    QCOMPARE(status(), int(kCmdDone));
    int got = -1;
    switch (request) {
    case kReqBandwidth: got = link().bandwidthIndex(); break;
    case kReqTddRatio: got = link().tddRatio(); break;
    case kReqUplinkMode: got = link().uplinkMode(); break;
    case kReqTestMode: {
        const auto w = link().testWord();
        got = int(uint32_t(w[0]) | uint32_t(w[1]) << 8 | uint32_t(w[2]) << 16 |
                  uint32_t(w[3]) << 24);
        break;
    }
    }
    QCOMPARE(got, value);
}

void TestSimLink::rawPayloadsKept()
{
    // Pad bytes and the bytes after a 16-character key are not the unit's
    // business, but a test of the program must be able to see them.
    QByteArray key = keyPayload(0, "ABCDEFGHIJKLMNOP", char(0x7E));
    key[30] = char(0x99);
    QCOMPARE(out(kReqEncryptKey, key), 36);
    QCOMPARE(out(kReqDownlink, bytes({3})), 1);
    QCOMPARE(out(kReqDownlink, bytes({5})), 1);
    QCOMPARE(toBytes(link().lastPayload(kReqEncryptKey)), key);
    QCOMPARE(toBytes(link().lastPayload(kReqDownlink)), bytes({5}));
    QCOMPARE(link().settingCount(kReqDownlink), 2);
    QVERIFY(link().lastPayload(kReqFrequency).empty());
    QCOMPARE(toBytes(link().encryptionKey()), QByteArray("ABCDEFGHIJKLMNOP"));
    const auto log = link().settingLog();
    QCOMPARE(int(log.size()), 3);
    QCOMPARE(int(log[1].request), int(kReqDownlink));
    QCOMPARE(toBytes(log[1].payload), bytes({3}));
    link().clearSettingLog();
    QVERIFY(link().settingLog().empty());
}

void TestSimLink::bandFollowsModel()
{
    QCOMPARE(link().band(), 24);
    m_unit->setModelIndex(12); // 5.8 GHz
    QCOMPARE(link().band(), 58);
    QCOMPARE(le32(in(kReqDevStatus), 0), 5745u); // moved into the new band
    QCOMPARE(out(kReqFrequency, bytes({0x6C, 0x09, 0, 0})), 4); // 2412
    QCOMPARE(status(), int(kCmdFailed));
    QCOMPARE(out(kReqFrequency, bytes({0xAD, 0x16, 0, 0})), 4); // 5805
    QCOMPARE(status(), int(kCmdDone));
    QCOMPARE(le32(in(kReqDevStatus), 0), 5805u);

    m_unit->setSoftwareInfoRecord({0x23, 0x51, 0x01, 0x00}); // model 21: 2.5 GHz
    QCOMPARE(link().band(), 25);
    QCOMPARE(link().frequency(), 2512u);
    m_unit->setModelIndex(5); // 1.4 GHz
    QCOMPARE(link().frequency(), 1425u);
}

// ------------------------------------------------------- command status

void TestSimLink::commandStatus_data()
{
    QTest::addColumn<LinkSetup>("setup");
    QTest::addColumn<QByteArray>("reads");  // successive 0xF8 answers after one setting
    QTest::addColumn<bool>("applied");

    QTest::newRow("done") << LinkSetup([](SimLink&) {}) << bytes({1, 1, 1}) << true;
    QTest::newRow("reject next") << LinkSetup([](SimLink& l) { l.rejectNextSettings(); })
                                 << bytes({0x81, 0x81, 0x81}) << false;
    QTest::newRow("ignore next") << LinkSetup([](SimLink& l) { l.ignoreNextSettings(); })
                                 << bytes({0, 0, 0, 0}) << false;
    QTest::newRow("unknown answer") << LinkSetup([](SimLink& l) { l.answerNextSettingsWith(0x80); })
                                    << bytes({0x80, 0x80, 0x80}) << true;
    QTest::newRow("answer 0x02") << LinkSetup([](SimLink& l) { l.answerNextSettingsWith(0x02); })
                                 << bytes({0x02, 0x02}) << true;
    QTest::newRow("done on third read")
        << LinkSetup([](SimLink& l) { l.setStatusReadsUntilDone(3); }) << bytes({0, 0, 1, 1})
        << true;
    QTest::newRow("rejected on second read")
        << LinkSetup([](SimLink& l) {
               l.setStatusReadsUntilDone(2);
               l.rejectNextSettings();
           })
        << bytes({0, 0x81, 0x81}) << false;
    QTest::newRow("request rejected")
        << LinkSetup([](SimLink& l) { l.rejectRequest(kReqDownlink); }) << bytes({0x81})
        << false;
    QTest::newRow("ignore wins over reject")
        << LinkSetup([](SimLink& l) {
               l.rejectRequest(kReqDownlink);
               l.ignoreNextSettings();
           })
        << bytes({0, 0}) << false;
}

void TestSimLink::commandStatus()
{
    QFETCH(LinkSetup, setup);
    QFETCH(QByteArray, reads);
    QFETCH(bool, applied);

    QCOMPARE(link().downlinkCode(), uint8_t(4));
    setup(link());
    QCOMPARE(out(kReqDownlink, bytes({8})), 1);
    QCOMPARE(int(link().commandStatus()), int(uint8_t(reads[0])));
    for (int i = 0; i < reads.size(); ++i)
        QCOMPARE(status(), int(uint8_t(reads[i])));
    QCOMPARE(link().downlinkCode(), uint8_t(applied ? 8 : 4));
    QCOMPARE(in(kReqDevStatus).at(24), char(applied ? 8 : 4));
    QCOMPARE(int(link().settingLog().back().status), int(uint8_t(reads[reads.size() - 1])));

    // A one-time behaviour is spent; the next setting is carried out.
    link().rejectRequest(kReqDownlink, false);
    link().setStatusReadsUntilDone(1);
    QCOMPARE(out(kReqDownlink, bytes({5})), 1);
    QCOMPARE(status(), int(kCmdDone));
    QCOMPARE(link().downlinkCode(), uint8_t(5));
}

void TestSimLink::rejectOneRequestOnly()
{
    link().rejectRequest(kReqFrequency);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(out(kReqFrequency, bytes({0x85, 0x09, 0, 0})), 4);
        QCOMPARE(status(), int(kCmdFailed));
    }
    QCOMPARE(link().frequency(), 2412u);
    QCOMPARE(out(kReqRcMode, bytes({1})), 1);
    QCOMPARE(status(), int(kCmdDone));

    link().ignoreNextSettings(-1);
    QCOMPARE(out(kReqRcMode, bytes({0})), 1);
    QCOMPARE(out(kReqBaudRate, bytes({1})), 1);
    QCOMPARE(status(), int(kCmdNotDone));
    QCOMPARE(link().rcMode(), uint8_t(1));
    QCOMPARE(link().baudIndex(), uint8_t(2));

    link().clearSettingFaults();
    QCOMPARE(out(kReqFrequency, bytes({0x85, 0x09, 0, 0})), 4);
    QCOMPARE(status(), int(kCmdDone));
    QCOMPARE(link().frequency(), 2437u);
}

void TestSimLink::invalidPayloadRejected_data()
{
    QTest::addColumn<int>("request");
    QTest::addColumn<QByteArray>("payload");

    QTest::newRow("frequency 2 bytes") << int(kReqFrequency) << bytes({0x85, 0x09});
    QTest::newRow("frequency 5 bytes") << int(kReqFrequency) << bytes({0x85, 0x09, 0, 0, 0});
    QTest::newRow("frequency 0") << int(kReqFrequency) << bytes({0, 0, 0, 0});
    QTest::newRow("frequency 2389") << int(kReqFrequency) << bytes({0x55, 0x09, 0, 0});
    QTest::newRow("frequency 2501") << int(kReqFrequency) << bytes({0xC5, 0x09, 0, 0});
    QTest::newRow("frequency 5805 in 2.4 GHz") << int(kReqFrequency) << bytes({0xAD, 0x16, 0, 0});
    QTest::newRow("frequency, high byte set") << int(kReqFrequency) << bytes({0x85, 0x09, 0, 1});
    QTest::newRow("region 4") << int(kReqRegionPower) << bytes({0x9C});
    QTest::newRow("region 7") << int(kReqRegionPower) << bytes({0xFF});
    QTest::newRow("downlink 9") << int(kReqDownlink) << bytes({9});
    QTest::newRow("downlink 0x80") << int(kReqDownlink) << bytes({0x80});
    QTest::newRow("downlink, 2 bytes") << int(kReqDownlink) << bytes({4, 0});
    QTest::newRow("downlink, no data") << int(kReqDownlink) << QByteArray();
    QTest::newRow("hopping 2") << int(kReqFreqHop) << bytes({2});
    QTest::newRow("TDD 2") << int(kReqTddRatio) << bytes({2});
    QTest::newRow("baud 5") << int(kReqBaudRate) << bytes({5});
    QTest::newRow("baud 0xFF") << int(kReqBaudRate) << bytes({0xFF});
    QTest::newRow("pairing 0") << int(kReqBind) << bytes({0});
    QTest::newRow("pairing 2") << int(kReqBind) << bytes({2});
    QTest::newRow("antenna 0x20") << int(kReqAntenna) << bytes({0x20});
    QTest::newRow("antenna 0x02") << int(kReqAntenna) << bytes({0x02});
    QTest::newRow("RC mode 2") << int(kReqRcMode) << bytes({2});
    QTest::newRow("datalink 0") << int(kReqDatalink) << bytes({0});
    QTest::newRow("datalink 0x5B") << int(kReqDatalink) << bytes({0x5B});
    QTest::newRow("identity 2") << int(kReqGroundIdentity) << bytes({2});
    QTest::newRow("key, 35 bytes") << int(kReqEncryptKey)
                                   << keyPayload(0, "0123456789abcdef").left(35);
    QTest::newRow("key mode 2") << int(kReqEncryptKey) << keyPayload(2, "0123456789abcdef");
    QTest::newRow("AES-128, 15 characters") << int(kReqEncryptKey)
                                            << keyPayload(0, "0123456789abcde");
    QTest::newRow("AES-256, 16 characters") << int(kReqEncryptKey)
                                            << keyPayload(1, "0123456789abcdef");
    QTest::newRow("encryption on without a key") << int(kReqEncryptEnable) << bytes({1});
    QTest::newRow("encryption 2") << int(kReqEncryptEnable) << bytes({2});
    QTest::newRow("config, no data") << int(kReqConfigByte) << QByteArray();
    QTest::newRow("test word, 3 bytes") << int(kReqTestMode) << bytes({0, 0, 0x80});
}

void TestSimLink::invalidPayloadRejected()
{
    QFETCH(int, request);
    QFETCH(QByteArray, payload);

    link().setAutoAdvance(false);
    const QByteArray s1 = in(kReqDevStatus), s2 = in(kReqDevStatus2), pro = in(kReqProStatus);
    const auto testWord = link().testWord();

    QCOMPARE(out(uint8_t(request), payload), payload.size());
    QCOMPARE(status(), int(kCmdFailed));
    QCOMPARE(status(), int(kCmdFailed));
    QCOMPARE(in(kReqDevStatus), s1);
    QCOMPARE(in(kReqDevStatus2), s2);
    QCOMPARE(in(kReqProStatus), pro);
    QVERIFY(link().testWord() == testWord);
    QVERIFY(!link().pairingActive());
    QVERIFY(link().encryptionKey().empty());
    const auto log = link().settingLog();
    QCOMPARE(int(log.size()), 1);
    QVERIFY(!log[0].applied);
    QCOMPARE(toBytes(log[0].payload), payload);
}

// ------------------------------------------------------ factory restore

void TestSimLink::factoryRestore_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<uint32_t>("frequency");
    QTest::addColumn<int>("payload");

    QTest::newRow("2.4 GHz") << 0 << 2412u << 0x03;
    QTest::newRow("5.8 GHz") << 12 << 5745u << 0x06;
    QTest::newRow("restore bit alone") << 20 << 2512u << 0x02;
}

void TestSimLink::factoryRestore()
{
    QFETCH(int, model);
    QFETCH(uint32_t, frequency);
    QFETCH(int, payload);

    m_unit->setModelIndex(model);
    // A fresh unit of the same model, for the factory records.
    SimUnit fresh;
    fresh.setModelIndex(model);
    fresh.link().setAutoAdvance(false);
    link().setAutoAdvance(false);

    const uint32_t other = frequency + (model == 12 ? 10 : 5);
    const QList<QPair<int, QByteArray>> changes = {
        {kReqFrequency, bytes({int(other & 0xFF), int(other >> 8), 0, 0})},
        {kReqFreqHop, bytes({1})},
        {kReqDownlink, bytes({8})},
        {kReqRegionPower, bytes({0x5F})},
        {kReqBaudRate, bytes({4})},
        {kReqRcMode, bytes({1})},
        {kReqDatalink, bytes({0x5A})},
        {kReqGroundIdentity, bytes({1})},
        {kReqAntenna, bytes({0x10})},
        {kReqEncryptKey, keyPayload(1, "0123456789abcdef0123456789abcdef")},
        {kReqConfigByte, bytes({0x04})},
        {kReqBandwidth, bytes({2})},
        {kReqTddRatio, bytes({1})},
        {kReqUplinkMode, bytes({1})},
        {kReqTestMode, bytes({0, 0, 0x30, 0x80})},
    };
    for (const auto& c : changes) {
        QCOMPARE(out(uint8_t(c.first), c.second), c.second.size());
        QCOMPARE(status(), int(kCmdDone));
    }
    QVERIFY(in(kReqDevStatus) != toBytes(fresh.link().devStatus()));

    QCOMPARE(out(kReqConfigByte, bytes({payload})), 1);
    QCOMPARE(status(), int(kCmdDone));
    QCOMPARE(link().frequency(), frequency);
    QCOMPARE(in(kReqDevStatus), toBytes(fresh.link().devStatus()));
    QCOMPARE(in(kReqDevStatus2), toBytes(fresh.link().devStatus2()));
    QCOMPARE(in(kReqProStatus), toBytes(fresh.link().proStatus()));
    QCOMPARE(in(kReqProStatus).at(0) & 0x02, 0); // the restore bit is not kept
    QVERIFY(link().encryptionKey().empty());
    QCOMPARE(int(link().bandwidthIndex()), 0);
    QCOMPARE(int(link().tddRatio()), 0);
    QCOMPARE(int(link().uplinkMode()), 0);
    QCOMPARE(link().bindByte(), uint8_t(1)); // the pair stays paired
    // Without a key, encryption cannot be switched back on.
    QCOMPARE(out(kReqEncryptEnable, bytes({1})), 1);
    QCOMPARE(status(), int(kCmdFailed));
}

// -------------------------------------------------------------- pairing

void TestSimLink::pairingSequence_data()
{
    QTest::addColumn<LinkSetup>("setup");
    QTest::addColumn<QByteArray>("binds"); // byte 27 of successive 0xE6 reads

    QTest::newRow("bound on the first read")
        << LinkSetup([](SimLink& l) { l.setPairingDelayReads(1); }) << bytes({1, 1});
    QTest::newRow("default: third read") << LinkSetup([](SimLink&) {}) << bytes({2, 2, 1, 1});
    QTest::newRow("after ten reads")
        << LinkSetup([](SimLink& l) { l.setPairingDelayReads(10); })
        << bytes({2, 2, 2, 2, 2, 2, 2, 2, 2, 1});
    QTest::newRow("peer not pairing")
        << LinkSetup([](SimLink& l) { l.setPeerPairs(false); }) << bytes({2, 2, 2, 2, 2, 2});
    QTest::newRow("peer absent")
        << LinkSetup([](SimLink& l) { l.setPeerPresent(false); }) << bytes({2, 2, 2, 2, 2, 2});
    QTest::newRow("gives up")
        << LinkSetup([](SimLink& l) {
               l.setPeerPairs(false);
               l.setPairingTimeoutReads(4);
           })
        << bytes({2, 2, 2, 0, 0});
    QTest::newRow("unbound unit pairs")
        << LinkSetup([](SimLink& l) { l.setBindByte(0); }) << bytes({2, 2, 1});
}

void TestSimLink::pairingSequence()
{
    QFETCH(LinkSetup, setup);
    QFETCH(QByteArray, binds);

    setup(link());
    QCOMPARE(out(kReqBind, bytes({1})), 1);
    QCOMPARE(status(), int(kCmdDone));
    QVERIFY(link().pairingActive());
    for (int i = 0; i < binds.size(); ++i) {
        const QByteArray rec = in(kReqDevStatus);
        QCOMPARE(rec.size(), 64);
        QCOMPARE(int(uint8_t(rec[27])), int(uint8_t(binds[i])));
        // No link while pairing: the air unit is not heard.
        if (rec[27] != 1) {
            QCOMPARE(uint8_t(rec[35]), uint8_t(0xFF));
            QCOMPARE(uint8_t(rec[32]), uint8_t(0xFF));
        }
        QCOMPARE(uint8_t(rec[62]), uint8_t(0)); // the tool started it, not the button
    }
    if (binds.endsWith(char(1))) {
        QVERIFY(link().linkUp());
        QVERIFY(uint8_t(in(kReqDevStatus)[35]) != 0xFF);
    }
}

void TestSimLink::pairButton()
{
    // The unit reports the press on the next two status reads: the tool
    // may see it twice (a poll tick inside its one-second wait) and must
    // open one dialog only.
    link().pressPairButton();
    QVERIFY(link().pairingActive());
    QByteArray r = in(kReqDevStatus);
    QCOMPARE(uint8_t(r[62]), kPairButtonPressed);
    QCOMPARE(int(r[27]), 2);
    r = in(kReqDevStatus);
    QCOMPARE(uint8_t(r[62]), kPairButtonPressed);
    r = in(kReqDevStatus);
    QCOMPARE(uint8_t(r[62]), uint8_t(0));
    QCOMPARE(int(r[27]), 1); // the peer paired on the third read
    QVERIFY(link().settingLog().empty()); // nothing was sent

    // Seen even when the pairing completes on that very read.
    link().setPairingDelayReads(1);
    link().pressPairButton(1);
    r = in(kReqDevStatus);
    QCOMPARE(uint8_t(r[62]), kPairButtonPressed);
    QCOMPARE(int(r[27]), 1);
    QCOMPARE(uint8_t(in(kReqDevStatus)[62]), uint8_t(0));

    // A pinned byte stays.
    link().setPairButtonByte(0xA5);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(uint8_t(in(kReqDevStatus)[62]), kPairButtonPressed);
    link().releaseMeasurements();
    QCOMPARE(uint8_t(in(kReqDevStatus)[62]), uint8_t(0));
}

void TestSimLink::pairingRestartsCount()
{
    QCOMPARE(out(kReqBind, bytes({1})), 1);
    QCOMPARE(int(in(kReqDevStatus)[27]), 2);
    QCOMPARE(int(in(kReqDevStatus)[27]), 2);
    QCOMPARE(out(kReqBind, bytes({1})), 1); // a second start counts afresh
    QCOMPARE(int(in(kReqDevStatus)[27]), 2);
    QCOMPARE(int(in(kReqDevStatus)[27]), 2);
    QCOMPARE(int(in(kReqDevStatus)[27]), 1);
    // Other records do not run the pairing clock.
    QCOMPARE(out(kReqBind, bytes({1})), 1);
    for (int i = 0; i < 5; ++i) {
        in(kReqDevStatus2);
        in(kReqProStatus);
        in(kReqScan);
        status();
    }
    QCOMPARE(int(in(kReqDevStatus)[27]), 2);
}

// ----------------------------------------------------------------- scan

void TestSimLink::scanDefaults()
{
    link().setPeerPresent(false); // background only
    const QByteArray scan = in(kReqScan);
    QCOMPARE(scan.size(), 16);
    int busy = 0, quiet = 0;
    for (char c : scan) {
        const int n = uint8_t(c);
        QVERIFY2(n >= 40 && n <= 100, qPrintable(QString::number(n)));
        busy += n <= 70;
        quiet += n >= 85;
    }
    QVERIFY(busy >= 3);
    QVERIFY(quiet >= 6);
    QCOMPARE(in(kReqScan), scan); // steady without noise
}

void TestSimLink::scanShowsOwnCarrier()
{
    link().setAutoAdvance(false);
    const QByteArray background = [this] {
        link().setPeerPresent(false);
        const QByteArray b = in(kReqScan);
        link().setPeerPresent(true);
        return b;
    }();

    // 2472 MHz is channel 13 of the grid 2407 + 5i, a quiet one.
    QCOMPARE(out(kReqFrequency, bytes({0xA8, 0x09, 0, 0})), 4);
    const QByteArray rec = in(kReqDevStatus);
    const uint8_t rssi = uint8_t(rec[32]);
    QVERIFY(rssi < uint8_t(background[13]));
    const QByteArray scan = in(kReqScan);
    QCOMPARE(uint8_t(scan[13]), rssi);
    for (int i = 0; i < 16; ++i)
        if (i != 13)
            QCOMPARE(scan[i], background[i]);
}

void TestSimLink::scanOverrides()
{
    link().setScanMagnitudes({{0, 40, 100, 255, 101, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}});
    QCOMPARE(in(kReqScan),
             bytes({0, 40, 100, 255, 101, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
    link().setScanMagnitude(3, 150);
    QCOMPARE(uint8_t(in(kReqScan)[3]), uint8_t(150));
    link().setScanMagnitude(16, 1); // off the record: ignored
    link().setScanMagnitude(-1, 1);
    QCOMPARE(in(kReqScan).size(), 16);

    link().clearScanOverrides();
    link().setScanMagnitude(0, 200);
    const QByteArray scan = in(kReqScan);
    QCOMPARE(uint8_t(scan[0]), uint8_t(200));
    QVERIFY(uint8_t(scan[1]) <= 100);
}

void TestSimLink::scanNarrowBand()
{
    m_unit->setModelIndex(12); // 5.8 GHz: seven channels, 5745 + 10i
    const QByteArray scan = in(kReqScan);
    QCOMPARE(scan.size(), 16);
    for (int i = 0; i < 7; ++i)
        QVERIFY(uint8_t(scan[i]) > 0 && uint8_t(scan[i]) <= 100);
    for (int i = 7; i < 16; ++i)
        QCOMPARE(int(scan[i]), 0);
    // 5805 MHz is the last of the seven.
    QCOMPARE(out(kReqFrequency, bytes({0xAD, 0x16, 0, 0})), 4);
    QCOMPARE(uint8_t(in(kReqScan)[6]), uint8_t(in(kReqDevStatus)[32]));
}

// ---------------------------------------------------------------- model

void TestSimLink::distanceModel()
{
    link().setAutoAdvance(false);
    int lastG = 0, lastA = 0, lastSnr = 1000;
    for (double d : {10.0, 100.0, 300.0, 1000.0, 5000.0, 15000.0, 25000.0}) {
        link().setAirDistance(d);
        const QByteArray r = in(kReqDevStatus);
        const QByteArray r2 = in(kReqDevStatus2);
        const int g = uint8_t(r[32]), a = uint8_t(r[35]), snr = uint8_t(r[30]);
        QVERIFY2(g != 0xFF && a != 0xFF, qPrintable(QString::number(d)));
        QVERIFY(g >= lastG && a >= lastA && snr <= lastSnr);
        QVERIFY(uint8_t(r2[5]) >= g); // second path a little weaker
        QVERIFY(uint8_t(r2[4]) >= a);
        QCOMPARE(le32(r, 48), uint32_t(d));
        QCOMPARE(le32(r, 36), 4u);
        lastG = g;
        lastA = a;
        lastSnr = snr;
    }
    QVERIFY(lastG > 80 && lastG <= 100);

    // Beyond reach: no reading at all.
    link().setAirDistance(200000.0);
    QVERIFY(!link().linkUp());
    const QByteArray r = in(kReqDevStatus);
    QCOMPARE(uint8_t(r[32]), uint8_t(0xFF));
    QCOMPARE(uint8_t(r[35]), uint8_t(0xFF));
    QCOMPARE(le32(r, 48), 0u);
    QCOMPARE(le32(r, 36), 2u); // bound, searching
    QCOMPARE(int(r[27]), 1);
}

void TestSimLink::lossFollowsDistance()
{
    auto lossOver = [this](double d, int reads) {
        link().setAirDistance(d);
        QByteArray r = in(kReqDevStatus);
        const uint32_t pass0 = le32(r, 4), fail0 = le32(r, 8);
        for (int i = 0; i < reads; ++i)
            r = in(kReqDevStatus);
        const double pass = le32(r, 4) - pass0, fail = le32(r, 8) - fail0;
        return pass + fail > 0 ? fail / (pass + fail) : -1.0;
    };
    QCOMPARE(lossOver(300, 20), 0.0);
    const double far = lossOver(15000, 100);
    QVERIFY2(far > 0.01 && far < 0.05, qPrintable(QString::number(far)));
    QVERIFY(lossOver(20000, 50) > far);

    // The downlink rate falls with the loss, the air side sees its uplink.
    link().setAirDistance(300);
    const uint32_t healthy = le32(in(kReqDevStatus2), 12);
    QCOMPARE(healthy, 3800u); // QPSK 1/2
    link().setAirDistance(20000);
    QVERIFY(le32(in(kReqDevStatus2), 12) < healthy);
    QVERIFY(le32(in(kReqDevStatus2), 8) > 0);
}

void TestSimLink::peerAbsent()
{
    in(kReqDevStatus);
    link().setPeerPresent(false);
    QVERIFY(!link().linkUp());
    const QByteArray a = in(kReqDevStatus);
    const QByteArray a2 = in(kReqDevStatus2);
    const QByteArray pro = in(kReqProStatus);
    QCOMPARE(uint8_t(a[32]), uint8_t(0xFF));
    QCOMPARE(uint8_t(a[35]), uint8_t(0xFF));
    QCOMPARE(uint8_t(a2[4]), uint8_t(0xFF));
    QCOMPARE(uint8_t(a2[5]), uint8_t(0xFF));
    QCOMPARE(int(a[30]), 0);
    QCOMPARE(int(a[33]), 0);
    QCOMPARE(le32(a, 48), 0u);
    QCOMPARE(le32(a2, 8), 0u);
    QCOMPARE(le32(a2, 12), 0u);
    QVERIFY(le32(a, 36) != 4u); // the program computes no loss rate
    QCOMPARE(int(a[27]), 1);    // still paired
    // Nothing is received, so nothing counts.
    const QByteArray b = in(kReqDevStatus);
    QCOMPARE(b.mid(4, 4), a.mid(4, 4));
    QCOMPARE(b.mid(8, 4), a.mid(8, 4));
    QCOMPARE(in(kReqProStatus), pro);

    link().setPeerPresent(true);
    QVERIFY(link().linkUp());
    QCOMPARE(le32(in(kReqDevStatus), 36), 4u);
}

void TestSimLink::countersAndClock()
{
    link().setGroundLdpc(0xFFFFFF00, 0);
    QByteArray r = in(kReqDevStatus);
    QCOMPARE(le32(r, 4), 0xFFFFFF00u); // reported as set, then the step
    r = in(kReqDevStatus);
    const uint32_t perStep = le32(r, 4) - 0xFFFFFF00u; // wraps like the unit's counter
    QVERIFY(perStep > 0);
    QVERIFY(le32(r, 4) < 0xFFFFFF00u);
    QCOMPARE(link().devStatusReads(), 2);

    const QByteArray pro1 = in(kReqProStatus);
    QCOMPARE(in(kReqProStatus), pro1); // only 0xE6 moves the clock
    in(kReqDevStatus);
    const QByteArray pro2 = in(kReqProStatus);
    for (int c : {SimLink::AirPacketsSent, SimLink::AirPacketsSubmitted,
                  SimLink::GroundPacketsReceived, SimLink::GroundPacketsSubmitted,
                  SimLink::GroundPacketsSent, SimLink::DatalinkReceived, SimLink::DatalinkSent})
        QVERIFY2(le32(pro2, 4 + 4 * c) > le32(pro1, 4 + 4 * c), qPrintable(QString::number(c)));
    QCOMPARE(le32(pro2, 0), 0x01u); // configuration word untouched

    link().setAutoAdvance(false);
    const QByteArray frozen = in(kReqDevStatus);
    QCOMPARE(in(kReqDevStatus), frozen);
    link().advance(2);
    r = in(kReqDevStatus);
    QCOMPARE(le32(r, 4) - le32(frozen, 4), 2 * perStep);
}

void TestSimLink::pinsAndRelease()
{
    link().setAutoAdvance(false);
    const QByteArray model = in(kReqDevStatus);
    link().setGroundRssi(30, 60);
    link().setAirRssi(0xFF, 0xFF);
    link().setSnr(5, 6);
    link().setRange(42);
    link().setAirDistance(5000);
    QByteArray r = in(kReqDevStatus);
    QCOMPARE(uint8_t(r[32]), uint8_t(30));
    QCOMPARE(uint8_t(r[35]), uint8_t(0xFF));
    QCOMPARE(int(r[30]), 5);
    QCOMPARE(int(r[33]), 6);
    QCOMPARE(le32(r, 48), 42u);
    QCOMPARE(uint8_t(in(kReqDevStatus2)[5]), uint8_t(60));

    link().setAirDistance(300);
    link().releaseMeasurements();
    QCOMPARE(in(kReqDevStatus), model);
}

void TestSimLink::deterministicAndSeeded()
{
    auto run = [](uint32_t seed) {
        SimUnit unit;
        SimLink& l = unit.link();
        l.setNoiseSeed(seed);
        l.setAirDistance(12000);
        QByteArray all;
        uint8_t buf[64];
        for (int i = 0; i < 30; ++i) {
            unit.control(kVendorIn, kReqDevStatus, 0, 0, buf, 64);
            all.append(reinterpret_cast<const char*>(buf), 64);
            unit.control(kVendorIn, kReqScan, 0, 0, buf, 16);
            all.append(reinterpret_cast<const char*>(buf), 16);
        }
        return all;
    };
    QCOMPARE(run(0), run(0));
    QCOMPARE(run(7), run(7));
    QVERIFY(run(7) != run(8));
    QVERIFY(run(7) != run(0));

    // Without a seed the RSSI holds still.
    SimUnit quiet;
    uint8_t buf[64];
    quiet.control(kVendorIn, kReqDevStatus, 0, 0, buf, 64);
    const uint8_t first = buf[32];
    for (int i = 0; i < 10; ++i) {
        quiet.control(kVendorIn, kReqDevStatus, 0, 0, buf, 64);
        QCOMPARE(buf[32], first);
    }
    // With one it wanders by a decibel at most.
    SimUnit noisy;
    noisy.link().setNoiseSeed(1);
    bool moved = false;
    for (int i = 0; i < 30; ++i) {
        noisy.control(kVendorIn, kReqDevStatus, 0, 0, buf, 64);
        QVERIFY(std::abs(int(buf[32]) - int(first)) <= 1);
        moved |= buf[32] != first;
    }
    QVERIFY(moved);
}

void TestSimLink::concurrentAccess()
{
    // The program polls on one thread while a control window (or a test)
    // changes the unit on another.
    std::atomic<bool> stop{false}, ended{false};
    std::atomic<int> reads{0}, bad{0};
    std::thread poller([&] {
        libusb_context* ctx = nullptr;
        libusb_init(&ctx);
        libusb_device_handle* h = libusb_open_device_with_vid_pid(ctx, 0x0483, 0x5868);
        unsigned char buf[64];
        while (h && !stop) {
            if (libusb_control_transfer(h, kVendorIn, kReqDevStatus, 0, 0, buf, 64, 300) != 64)
                ++bad;
            if (libusb_control_transfer(h, kVendorIn, kReqScan, 0, 0, buf, 16, 300) != 16)
                ++bad;
            ++reads;
        }
        if (h)
            libusb_close(h);
        else
            ++bad;
        libusb_exit(ctx);
        ended = true;
    });
    for (int i = 0; i < 2000; ++i) {
        link().setAirDistance(100.0 + i);
        link().setGroundRssi(uint8_t(i), uint8_t(i));
        link().releaseMeasurements();
        out(kReqDownlink, bytes({i % 2 ? 4 : 8}));
        status();
        if (i % 100 == 0)
            link().pressPairButton();
    }
    while (reads < 100 && !ended)
        std::this_thread::yield();
    stop = true;
    poller.join();
    QCOMPARE(bad.load(), 0);
    QCOMPARE(link().settingCount(kReqDownlink), 2000);
}

QTEST_GUILESS_MAIN(TestSimLink)
#include "tst_sim_link.moc"
