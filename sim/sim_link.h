// The radio link of the simulated unit: the settings the tool can change,
// what the ground unit measures of its peer (the air unit), pairing, the
// band scan and the command status byte that answers every setting.
// Transport-neutral like SimUnit, which owns one and hands it the link's
// requests.
//
// Time is counted in reads of the main status record (0xE6): the tool
// reads it once per poll tick, so one read is one step of the link. Each
// read first runs the pairing clock, then reports the state, then moves the
// packet counters on by one step (unless auto-advance is off). Nothing is
// random unless a noise seed is set.
//
// Measured values (RSSI, SNR, VGA, range, link state words, rates) follow
// from the air unit's distance, the transmit powers and the frequency. A
// setter of a measured value pins it: the records report the pinned value
// until releaseMeasurements(); the model itself (packet counters, whether
// the link is up) still follows the distance.
//
// Thread safety: every public member takes the unit's mutex, the one given
// to the constructor. control() and the members marked "mutex held" are
// for SimUnit, which calls them with that mutex already held.
#pragma once

#include <array>
#include <functional>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace sim {

// Request codes of the link.
constexpr uint8_t kReqConfigByte = 0xA0;     // OUT 1: bit 0 ARQ, bit 1 restore, bit 2 group 2
constexpr uint8_t kReqProStatus = 0xA1;      // IN 60
constexpr uint8_t kReqFrequency = 0xC0;      // OUT 4: MHz
constexpr uint8_t kReqRegionPower = 0xC2;    // OUT 1: region bits 7-5, power bits 4-0
constexpr uint8_t kReqDownlink = 0xC4;       // OUT 1: rate code
constexpr uint8_t kReqBandwidth = 0xC6;      // OUT 1
constexpr uint8_t kReqTddRatio = 0xC8;       // OUT 1: 0 down, 1 up
constexpr uint8_t kReqFreqHop = 0xCA;        // OUT 1: 1 automatic, 0 manual
constexpr uint8_t kReqBaudRate = 0xCD;       // OUT 1: index 0..4
constexpr uint8_t kReqBind = 0xCF;           // OUT 1: 1 starts pairing
constexpr uint8_t kReqUplinkMode = 0xD4;     // OUT 1
constexpr uint8_t kReqDevStatus = 0xE6;      // IN 64
constexpr uint8_t kReqDevStatus2 = 0xE7;     // IN 16
constexpr uint8_t kReqTestMode = 0xE8;       // OUT 4: test-mode word
constexpr uint8_t kReqAntenna = 0xEA;        // OUT 1: high nibble antenna, low nibble auto
constexpr uint8_t kReqRcMode = 0xEB;         // OUT 1: 1 PPM, 0 S.Bus
constexpr uint8_t kReqEncryptKey = 0xED;     // OUT 36: mode, 3 pad bytes, key
constexpr uint8_t kReqDatalink = 0xEE;       // OUT 1: 0x5A USB, 0xA5 UART
constexpr uint8_t kReqEncryptEnable = 0xEF;  // OUT 1: 0 off
constexpr uint8_t kReqGroundIdentity = 0xF0; // OUT 1: 1 Observer, 0 Pilot
constexpr uint8_t kReqCommandStatus = 0xF8;  // IN 1
constexpr uint8_t kReqScan = 0xF9;           // IN 16

// Record lengths.
constexpr int kDevStatusLen = 64;
constexpr int kDevStatus2Len = 16;
constexpr int kProStatusLen = 60;
constexpr int kScanLen = 16;

// Command status byte.
constexpr uint8_t kCmdNotDone = 0x00;
constexpr uint8_t kCmdDone = 0x01;
constexpr uint8_t kCmdFailed = 0x81;

// Byte 62 of the main status record after the pairing button was pressed.
constexpr uint8_t kPairButtonPressed = 0xA5;

// Flags byte of the secondary status record.
constexpr uint8_t kFlagDatalinkUsb = 0x01;
constexpr uint8_t kFlagObserver = 0x02;
constexpr uint8_t kFlagEncryption = 0x04;
constexpr uint8_t kFlagAes256 = 0x08;

// Band (hundreds of MHz: 14, 24, 25, 58) of a model index; 0 when unknown.
int bandForModel(int modelIndex);

// The settings the unit keeps, as its records report them.
struct LinkSettings
{
    uint32_t frequency = 2412;      // MHz
    uint8_t frequencyMode = 0;      // byte 26: non-zero automatic
    uint8_t downlinkCode = 4;       // as set; the record shows the test code in test mode
    uint32_t groundPowerWord = 28;  // G_rf_power: region bits 7-5, power bits 4-0
    uint32_t airPowerWord = 28;     // A_rx_power
    uint8_t baudIndex = 2;          // 0..4; 0xFF allowed
    uint8_t rcMode = 0;             // non-zero PPM
    uint8_t antennaByte = 0x01;     // high nibble antenna, low nibble automatic switch-over
    uint8_t flags = 0;              // flags byte of 0xE7
    uint8_t profileByte = 0x10;     // profile number in the high nibble
    uint32_t configWord = 0x01;     // bit 0 ARQ, bit 2 antenna group 2
    std::vector<uint8_t> key;       // 16 or 32 bytes; empty when none
    std::array<uint8_t, 4> testWord{};
    uint8_t bandwidthIndex = 0;
    uint8_t tddRatio = 0;
    uint8_t uplinkMode = 0;

    // The packed fields, by their parts.
    void setRegionPower(int region, int powerField)
    {
        groundPowerWord = uint32_t(((region & 0x07) << 5) | (powerField & 0x1F));
    }
    void setFlag(uint8_t flag, bool on) { flags = uint8_t(on ? (flags | flag) : (flags & ~flag)); }
    void setEncryption(bool on, int mode) // mode 1 = AES-256
    {
        setFlag(kFlagEncryption, on);
        setFlag(kFlagAes256, mode == 1);
    }
    void setProfile(int number) { profileByte = uint8_t((profileByte & 0x0F) | ((number & 0x0F) << 4)); }
    uint8_t configByte() const { return uint8_t(configWord & 0xFF); }
    void setConfigByte(uint8_t byte) { configWord = (configWord & ~0xFFu) | byte; }
};

// Measured values pinned over what the model gives; empty: the model's.
struct Pins
{
    std::optional<uint8_t> groundRssi1, groundRssi2, airRssi1, airRssi2; // n = -n dBm, 0xFF no reading
    std::optional<uint8_t> groundSnr, airSnr;
    std::optional<int8_t> groundVga, airVga;
    std::optional<uint32_t> range, groundLink, airLink, uplinkKbps, downlinkKbps;
    std::optional<uint8_t> pairButton; // byte 62 as given, every read
};

class SimLink
{
public:
    // The counters of the packet statistics record, in record order: word
    // 1 + counter (word 0 is the configuration word).
    enum ProCounter {
        AirBufferOverflow,
        AirPacketsReceived,
        AirPacketsSent,
        AirPacketsSubmitted,
        AirPacketsDiscarded,
        AirPacketsRetransmitted,
        GroundBufferOverflow,
        GroundPacketsReceived,
        GroundPacketsSent,
        GroundPacketsSubmitted,
        GroundPacketsDiscarded,
        GroundPacketsRetransmitted,
        DatalinkReceived,
        DatalinkSent,
        ProCounterCount
    };

    // One setting request as the unit received it, with the status byte it
    // settled on (0x01, 0x81, 0x00 when ignored, or a scripted answer).
    struct SettingEvent
    {
        uint8_t request = 0;
        std::vector<uint8_t> payload;
        uint8_t status = 0;
        bool applied = false; // the unit's state changed
    };

    explicit SimLink(std::mutex& unitMutex);
    SimLink(const SimLink&) = delete;
    SimLink& operator=(const SimLink&) = delete;

    // ---- Records as the next read would answer them, without advancing.
    std::array<uint8_t, kDevStatusLen> devStatus() const;
    std::array<uint8_t, kDevStatus2Len> devStatus2() const;
    std::array<uint8_t, kProStatusLen> proStatus() const;
    std::array<uint8_t, kScanLen> scanRecord() const;
    int devStatusReads() const; // reads of 0xE6 so far

    // ---- Settings (raw: no checks, any value a test needs). The band
    // follows the software record's model index; a band change moves a
    // frequency outside the new band to the band's first channel.
    void setBand(int bandCode);
    int band() const;
    LinkSettings settings() const;
    // Changes any of the settings at once, under the unit's mutex.
    void updateSettings(const std::function<void(LinkSettings&)>& change);
    void setTemperatures(int8_t airBb, int8_t airPa, int8_t groundBb, int8_t groundPa);

    // Factory defaults of the settings above (frequency: the band's first
    // channel). Pairing, peer, distance, temperatures and counters stay.
    void restoreFactorySettings();

    // ---- Measured values: pinned until releaseMeasurements().
    void pin(const std::function<void(Pins&)>& change);
    void releaseMeasurements();

    // ---- Counters: reported as set, moved on by each step.
    void setGroundLdpc(uint32_t pass, uint32_t fail);
    void setAirLdpc(uint32_t pass, uint32_t fail);
    void setEthCounters(uint32_t lost, uint32_t received); // offsets 52 and 56
    void setProCounter(ProCounter counter, uint32_t value);
    uint32_t proCounter(ProCounter counter) const;

    // ---- The physical model.
    void setAirDistance(double metres); // default 300 m
    double airDistance() const;
    void setPeerPresent(bool present);  // the air unit is powered and in reach
    bool peerPresent() const;
    bool linkUp() const;                // bound, peer heard both ways
    void setAutoAdvance(bool on);       // each 0xE6 read is one step (default on)
    void advance(int steps = 1);
    void setNoiseSeed(uint32_t seed);   // +-1 dB RSSI, +-2 scan; 0 = none (default)

    // ---- Pairing. The bind byte reads 1 bound, 2 while pairing, 0 not bound.
    void setBindByte(uint8_t byte);
    uint8_t bindByte() const;
    void setPeerPairs(bool pairs);          // the air unit is in pairing too (default yes)
    void setPairingDelayReads(int reads);   // the n-th 0xE6 read after the start shows 1 (default 3)
    void setPairingTimeoutReads(int reads); // pairing gives up, bind 0 (default 0: never)
    void startPairing();                    // as request 0xCF with 1
    // The pairing button on the unit: the unit starts pairing and byte 62
    // reads 0xA5 on the next `reads` 0xE6 reads (default 2).
    void pressPairButton(int reads = 2);
    bool pairingActive() const;

    // ---- Band scan: 16 magnitudes (n = -n dBm). Pins win over the
    // spectrum; values above 100 are passed through.
    void setScanMagnitudes(const std::array<uint8_t, kScanLen>& magnitudes);
    void setScanMagnitude(int channel, uint8_t magnitude);
    void clearScanOverrides();

    // ---- Command status behaviour. `count` < 0: every setting until
    // clearSettingFaults(). Checked in this order: ignore, reject, payload
    // validity, scripted answer.
    void ignoreNextSettings(int count = 1); // no state change, status 0x00 every read
    void rejectNextSettings(int count = 1); // no state change, status 0x81
    void answerNextSettingsWith(uint8_t status, int count = 1); // carried out, answers `status`
    void rejectRequest(uint8_t request, bool reject = true);
    void setStatusReadsUntilDone(int reads); // first reads-1 status reads answer 0x00 (default 1)
    void clearSettingFaults();               // all of the above back to normal
    uint8_t commandStatus() const;           // what the next 0xF8 read answers

    // ---- Setting requests received (also rejected and ignored ones).
    std::vector<SettingEvent> settingLog() const;
    std::vector<uint8_t> lastPayload(uint8_t request) const; // empty when never sent
    int settingCount(uint8_t request) const;
    void clearSettingLog();

    // ---- For SimUnit, mutex held.
    // Whether `bRequest` is one of the link's codes.
    static bool handles(uint8_t bRequest);
    // One control request; returns the byte count or `unknownOutcome` for a
    // wrong direction or type.
    int control(uint8_t bmRequestType, uint8_t bRequest, uint8_t* data, uint16_t wLength,
                int unknownOutcome);
    void setBandLocked(int bandCode);

private:
    struct Measured
    {
        bool up = false;
        uint8_t gRssi1 = 0xFF, gRssi2 = 0xFF, aRssi1 = 0xFF, aRssi2 = 0xFF;
        uint8_t gSnr = 0, aSnr = 0;
        int8_t gVga = 0, aVga = 0;
        uint32_t range = 0, gLink = 0, aLink = 0, upRate = 0, downRate = 0;
        double gMag = 0, aMag = 0;   // received levels, -dBm
        double gLoss = 1, aLoss = 1; // block failure fractions, down and up
        uint8_t downlink = 0;        // the code in use
    };

    LinkSettings factorySettings() const;
    Measured model() const;                      // what the physics gives
    Measured reported() const;                   // model with the pins applied
    uint8_t pairButtonByte() const;
    void buildDevStatus(uint8_t* out) const;
    void buildDevStatus2(uint8_t* out) const;
    void buildProStatus(uint8_t* out) const;
    void buildScan(uint8_t* out) const;
    void onDevStatusRead();
    void step();
    void startPairingLocked();
    int setting(uint8_t request, const uint8_t* data, uint16_t length);
    bool apply(uint8_t request, const uint8_t* data, uint16_t length);
    void restoreLocked();
    uint32_t takeFraction(double amount, double& carry);

    std::mutex& m_mutex;
    int m_band = 24;
    LinkSettings m_set;
    std::array<int8_t, 4> m_temps{{46, 52, 43, 49}};

    // Peer and pairing.
    bool m_peerPresent = true;
    bool m_peerPairs = true;
    double m_distance = 300.0;
    uint8_t m_bind = 1;
    bool m_pairing = false;
    int m_pairReads = 0;
    int m_pairDelay = 3;
    int m_pairTimeout = 0;
    int m_buttonReads = 0;
    int m_devReads = 0;

    // Model clock and noise.
    bool m_autoAdvance = true;
    uint32_t m_rng = 0;
    int m_jitterG = 0, m_jitterA = 0;
    std::array<int, kScanLen> m_scanJitter{};
    double m_carryGFail = 0, m_carryRetryFail = 0, m_carryAFail = 0;

    // Pins.
    Pins m_pins;
    std::array<std::optional<uint8_t>, kScanLen> m_pinScan;

    // Counters.
    uint32_t m_gPass = 0, m_gFail = 0, m_aPass = 0, m_aFail = 0, m_ethLost = 0, m_ethRecv = 0;
    std::array<uint32_t, ProCounterCount> m_pro{};

    // Command status.
    uint8_t m_status = kCmdNotDone;
    int m_pendingReads = 0;
    int m_readsUntilDone = 1;
    int m_ignoreNext = 0, m_rejectNext = 0, m_answerNext = 0;
    uint8_t m_answerValue = kCmdDone;
    std::array<bool, 256> m_rejected{};
    std::vector<SettingEvent> m_log;
};

} // namespace sim
