#include "sim_link.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sim {

namespace {

using Lock = std::lock_guard<std::mutex>;

// Link budget: both antennas together, the receivers' noise floor, and the
// best SNR the receivers report.
constexpr double kAntennaGainDb = 4.0;
constexpr double kNoiseFloorDbm = -98.0;
constexpr double kMaxSnr = 40.0;
// Second receive path: a little weaker than the first.
constexpr double kGroundPath2Db = 2.0;
constexpr double kAirPath2Db = 3.0;
// Uplink (control and telemetry to the air unit): fixed rate, robust code.
constexpr uint32_t kUplinkKbps = 256;
constexpr double kUplinkThresholdDb = 1.0;
// Datalink packets each way per step while linked.
constexpr uint32_t kDatalinkPerStep = 12;

// Downlink rate codes: Kbit/s and the SNR at which half the blocks fail.
struct Rate
{
    uint8_t code;
    uint32_t kbps;
    double thresholdDb;
};
constexpr Rate kRates[] = {
    {0, 1980, 1.0},  {1, 2640, 2.5},  {2, 2870, 3.5},  {3, 3180, 4.5},
    {4, 3800, 4.0},  {5, 5040, 5.5},  {6, 5660, 6.5},  {7, 6280, 7.5},
    {8, 7520, 10.0}, {12, 11240, 14.0}, {15, 18680, 18.0},
};

const Rate* rateOf(uint8_t code)
{
    for (const Rate& r : kRates)
        if (r.code == code)
            return &r;
    return nullptr;
}

// Frequency range the unit tunes to, its first channel, and the scan grid
// with a background spectrum (magnitudes, n = -n dBm) for each band.
struct Band
{
    int code;
    uint32_t lo, hi, firstChannel;
    uint32_t scanFirst, scanStep; // step 0: the band has no scan grid
    int scanCount;
    std::array<uint8_t, kScanLen> spectrum;
};

// 2.4 GHz: the usual wireless networks on 2412, 2437 and 2462 MHz.
const Band kBands[] = {
    {24, 2390, 2500, 2412, 2407, 5, 16,
     {{88, 62, 70, 80, 90, 79, 58, 68, 82, 91, 76, 64, 73, 86, 93, 95}}},
    {25, 2500, 2600, 2512, 2512, 5, 16,
     {{92, 94, 93, 90, 88, 91, 95, 94, 92, 89, 93, 95, 94, 96, 93, 95}}},
    {58, 5725, 5850, 5745, 5745, 10, 7,
     {{85, 90, 72, 92, 94, 80, 93, 0, 0, 0, 0, 0, 0, 0, 0, 0}}},
    {14, 1400, 1500, 1425, 0, 0, 16,
     {{94, 95, 93, 96, 95, 94, 92, 95, 96, 94, 95, 93, 94, 96, 95, 94}}},
};

const Band& bandOf(int code)
{
    for (const Band& b : kBands)
        if (b.code == code)
            return b;
    return kBands[0];
}

bool knownBand(int code)
{
    for (const Band& b : kBands)
        if (b.code == code)
            return true;
    return false;
}

bool frequencyInBand(int band, uint32_t mhz)
{
    if (!knownBand(band))
        return mhz != 0; // unknown model: the unit takes any non-zero frequency
    const Band& b = bandOf(band);
    return mhz >= b.lo && mhz <= b.hi;
}

void putU32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t getU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// A level as an RSSI byte: 0xFF is "no reading", so a real reading stops
// at 254.
uint8_t magnitude(double level)
{
    return static_cast<uint8_t>(std::clamp<long>(std::lround(level), 1, 254));
}

double failFraction(double snr, double threshold)
{
    return 1.0 / (1.0 + std::pow(10.0, (snr - threshold) / 1.5));
}

// Consumes one step of a count-down rule: n > 0 counts down, n < 0 is
// "always".
bool take(int& n)
{
    if (n == 0)
        return false;
    if (n > 0)
        --n;
    return true;
}

int answer(const uint8_t* record, int size, uint8_t* data, uint16_t wLength)
{
    const int n = std::min<int>(size, wLength);
    if (n > 0 && data)
        std::memcpy(data, record, static_cast<size_t>(n));
    return n;
}

int payloadLength(uint8_t request)
{
    switch (request) {
    case kReqFrequency:
    case kReqTestMode:
        return 4;
    case kReqEncryptKey:
        return 36;
    default:
        return 1;
    }
}

} // namespace

int bandForModel(int modelIndex)
{
    if (modelIndex < 0 || modelIndex > 27)
        return 0;
    static const int bands[] = {24, 14, 14, 58, 14, 25, 24};
    return bands[modelIndex / 4];
}

SimLink::SimLink(std::mutex& unitMutex)
    : m_mutex(unitMutex)
{
    m_set = factorySettings();
}

// ---------------------------------------------------------------- records

std::array<uint8_t, kDevStatusLen> SimLink::devStatus() const
{
    Lock lock(m_mutex);
    std::array<uint8_t, kDevStatusLen> r{};
    buildDevStatus(r.data());
    return r;
}

std::array<uint8_t, kDevStatus2Len> SimLink::devStatus2() const
{
    Lock lock(m_mutex);
    std::array<uint8_t, kDevStatus2Len> r{};
    buildDevStatus2(r.data());
    return r;
}

std::array<uint8_t, kProStatusLen> SimLink::proStatus() const
{
    Lock lock(m_mutex);
    std::array<uint8_t, kProStatusLen> r{};
    buildProStatus(r.data());
    return r;
}

std::array<uint8_t, kScanLen> SimLink::scanRecord() const
{
    Lock lock(m_mutex);
    std::array<uint8_t, kScanLen> r{};
    buildScan(r.data());
    return r;
}

int SimLink::devStatusReads() const
{
    Lock lock(m_mutex);
    return m_devReads;
}

void SimLink::buildDevStatus(uint8_t* out) const
{
    const Measured m = reported();
    std::memset(out, 0, kDevStatusLen);
    putU32(out + 0, m_set.frequency);
    putU32(out + 4, m_gPass);
    putU32(out + 8, m_gFail);
    putU32(out + 12, m_set.groundPowerWord);
    putU32(out + 16, m_aPass);
    putU32(out + 20, m_aFail);
    out[24] = m.downlink;
    out[26] = m_set.frequencyMode;
    out[27] = m_bind;
    out[29] = m_set.baudIndex;
    out[30] = m.gSnr;
    out[31] = static_cast<uint8_t>(m.gVga);
    out[32] = m.gRssi1;
    out[33] = m.aSnr;
    out[34] = static_cast<uint8_t>(m.aVga);
    out[35] = m.aRssi1;
    putU32(out + 36, m.gLink);
    putU32(out + 40, m.aLink);
    putU32(out + 44, m_set.airPowerWord);
    putU32(out + 48, m.range);
    putU32(out + 52, m_ethLost);
    putU32(out + 56, m_ethRecv);
    out[60] = m_set.antennaByte;
    out[61] = m_set.rcMode;
    out[62] = pairButtonByte();
}

void SimLink::buildDevStatus2(uint8_t* out) const
{
    const Measured m = reported();
    std::memset(out, 0, kDevStatus2Len);
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(m_temps[size_t(i)]);
    out[4] = m.aRssi2;
    out[5] = m.gRssi2;
    out[6] = m_set.flags;
    out[7] = m_set.profileByte;
    putU32(out + 8, m.upRate);
    putU32(out + 12, m.downRate);
}

void SimLink::buildProStatus(uint8_t* out) const
{
    putU32(out, m_set.configWord);
    for (int i = 0; i < ProCounterCount; ++i)
        putU32(out + 4 + 4 * i, m_pro[size_t(i)]);
}

void SimLink::buildScan(uint8_t* out) const
{
    const Band& b = bandOf(m_band);
    for (int i = 0; i < kScanLen; ++i) {
        const int base = b.spectrum[size_t(i)];
        out[i] = (i < b.scanCount && base) ? magnitude(base + m_scanJitter[size_t(i)]) : 0;
    }
    // The link's own carrier shows on its channel.
    const Measured m = model();
    if (m.up && b.scanStep && m_set.frequency >= b.scanFirst) {
        const uint32_t off = m_set.frequency - b.scanFirst;
        const uint32_t idx = (off + b.scanStep / 2) / b.scanStep;
        if (idx < uint32_t(b.scanCount))
            out[idx] = std::min(out[idx], magnitude(m.gMag));
    }
    for (int i = 0; i < kScanLen; ++i)
        if (m_pinScan[size_t(i)])
            out[i] = *m_pinScan[size_t(i)];
}

uint8_t SimLink::pairButtonByte() const
{
    if (m_pins.pairButton)
        return *m_pins.pairButton;
    return m_buttonReads > 0 ? kPairButtonPressed : 0;
}

// ------------------------------------------------------------- the model

LinkSettings SimLink::factorySettings() const
{
    LinkSettings s;
    s.frequency = bandOf(m_band).firstChannel;
    return s;
}

SimLink::Measured SimLink::model() const
{
    Measured m;
    const bool testMode = m_set.testWord[3] & 0x80;
    m.downlink = testMode ? uint8_t(m_set.testWord[2] >> 4) : m_set.downlinkCode;

    // Free-space path loss; the ground unit hears the air unit's transmit
    // power and the other way round.
    const double mhz = m_set.frequency ? double(m_set.frequency) : 2400.0;
    const double fspl = 20.0 * std::log10(std::max(m_distance, 1.0)) + 20.0 * std::log10(mhz) - 27.55;
    m.gMag = fspl - kAntennaGainDb - double(m_set.airPowerWord & 0x1F);
    m.aMag = fspl - kAntennaGainDb - double(m_set.groundPowerWord & 0x1F);
    const double gSnr = std::clamp(-kNoiseFloorDbm - m.gMag, 0.0, kMaxSnr);
    const double aSnr = std::clamp(-kNoiseFloorDbm - m.aMag, 0.0, kMaxSnr);

    m.up = m_peerPresent && m_bind == 1 && !m_pairing && gSnr > 0 && aSnr > 0;
    if (!m.up) {
        m.gVga = 50; // the receiver's gain control is wide open, hearing nothing
        m.gLink = m_pairing ? 1 : (m_bind == 1 ? 2 : 0);
        return m;
    }
    m.gRssi1 = magnitude(m.gMag + m_jitterG);
    m.gRssi2 = magnitude(m.gMag + kGroundPath2Db + m_jitterG);
    m.aRssi1 = magnitude(m.aMag + m_jitterA);
    m.aRssi2 = magnitude(m.aMag + kAirPath2Db + m_jitterA);
    m.gSnr = static_cast<uint8_t>(std::lround(gSnr));
    m.aSnr = static_cast<uint8_t>(std::lround(aSnr));
    m.gVga = static_cast<int8_t>(std::clamp<long>(std::lround(m.gMag - 45.0), -10, 50));
    m.aVga = static_cast<int8_t>(std::clamp<long>(std::lround(m.aMag - 45.0), -10, 50));
    m.range = static_cast<uint32_t>(std::lround(m_distance));
    m.gLink = 4;
    m.aLink = 4;
    const Rate* rate = rateOf(m.downlink);
    m.gLoss = rate ? failFraction(gSnr, rate->thresholdDb) : 1.0;
    m.aLoss = failFraction(aSnr, kUplinkThresholdDb);
    m.downRate = rate ? uint32_t(std::lround(rate->kbps * (1.0 - m.gLoss))) : 0;
    m.upRate = uint32_t(std::lround(kUplinkKbps * (1.0 - m.aLoss)));
    return m;
}

SimLink::Measured SimLink::reported() const
{
    Measured m = model();
    auto pin = [](auto& field, const auto& p) {
        if (p)
            field = *p;
    };
    const Pins& p = m_pins;
    pin(m.gRssi1, p.groundRssi1);
    pin(m.gRssi2, p.groundRssi2);
    pin(m.aRssi1, p.airRssi1);
    pin(m.aRssi2, p.airRssi2);
    pin(m.gSnr, p.groundSnr);
    pin(m.aSnr, p.airSnr);
    pin(m.gVga, p.groundVga);
    pin(m.aVga, p.airVga);
    pin(m.range, p.range);
    pin(m.gLink, p.groundLink);
    pin(m.aLink, p.airLink);
    pin(m.upRate, p.uplinkKbps);
    pin(m.downRate, p.downlinkKbps);
    return m;
}

uint32_t SimLink::takeFraction(double amount, double& carry)
{
    // Whole blocks now, the fraction carried to the next step, so long runs
    // meet the loss rate exactly without any randomness.
    carry += amount;
    const double whole = std::floor(carry);
    carry -= whole;
    return static_cast<uint32_t>(whole);
}

void SimLink::step()
{
    if (m_rng) {
        auto draw = [this](int span) {
            m_rng = m_rng * 1664525u + 1013904223u;
            return int((m_rng >> 16) % uint32_t(2 * span + 1)) - span;
        };
        m_jitterG = draw(1);
        m_jitterA = draw(1);
        for (int& j : m_scanJitter)
            j = draw(2);
    }

    const Measured m = model();
    if (!m.up)
        return;
    const Rate* rate = rateOf(m.downlink);
    const uint32_t blocks = rate ? rate->kbps / 8 : 0;
    const bool arq = m_set.configWord & 0x01;

    // Downlink: with ARQ every failed block is sent once more, and only
    // what fails again is lost.
    const uint32_t firstFail = takeFraction(blocks * m.gLoss, m_carryGFail);
    const uint32_t retries = arq ? firstFail : 0;
    const uint32_t lost = arq ? takeFraction(retries * m.gLoss, m_carryRetryFail) : firstFail;
    m_gPass += blocks - firstFail + (retries - (arq ? lost : 0));
    m_gFail += firstFail + (arq ? lost : 0);

    const uint32_t up = kUplinkKbps / 8;
    const uint32_t upFail = takeFraction(up * m.aLoss, m_carryAFail);
    const uint32_t upRetries = arq ? upFail : 0;
    m_aPass += up - upFail + upRetries;
    m_aFail += upFail;

    m_pro[AirPacketsSubmitted] += blocks;
    m_pro[AirPacketsSent] += blocks + retries;
    m_pro[AirPacketsRetransmitted] += retries;
    m_pro[AirPacketsDiscarded] += arq ? lost : 0;
    m_pro[AirPacketsReceived] += up - (arq ? 0 : upFail);
    if (m.gLoss > 0.2)
        m_pro[AirBufferOverflow] += 1; // the encoder outruns a failing link
    m_pro[GroundPacketsReceived] += blocks - lost;
    m_pro[GroundPacketsSubmitted] += blocks - lost;
    m_pro[GroundPacketsDiscarded] += lost;
    m_pro[GroundPacketsSent] += up + upRetries;
    m_pro[GroundPacketsRetransmitted] += upRetries;
    m_pro[DatalinkReceived] += kDatalinkPerStep;
    m_pro[DatalinkSent] += kDatalinkPerStep;
    m_ethRecv += blocks - lost;
    m_ethLost += lost;
}

void SimLink::onDevStatusRead()
{
    ++m_devReads;
    if (!m_pairing)
        return;
    ++m_pairReads;
    if (m_peerPresent && m_peerPairs && m_pairReads >= std::max(m_pairDelay, 1)) {
        m_pairing = false;
        m_bind = 1;
    } else if (m_pairTimeout > 0 && m_pairReads >= m_pairTimeout) {
        m_pairing = false;
        m_bind = 0;
    }
}

void SimLink::startPairingLocked()
{
    // A new pairing forgets the old peer until it completes.
    m_pairing = true;
    m_pairReads = 0;
    m_bind = 2;
}

// -------------------------------------------------------------- requests

bool SimLink::handles(uint8_t bRequest)
{
    switch (bRequest) {
    case kReqConfigByte: case kReqProStatus: case kReqFrequency: case kReqRegionPower:
    case kReqDownlink: case kReqBandwidth: case kReqTddRatio: case kReqFreqHop:
    case kReqBaudRate: case kReqBind: case kReqUplinkMode: case kReqDevStatus:
    case kReqDevStatus2: case kReqTestMode: case kReqAntenna: case kReqRcMode:
    case kReqEncryptKey: case kReqDatalink: case kReqEncryptEnable: case kReqGroundIdentity:
    case kReqCommandStatus: case kReqScan:
        return true;
    default:
        return false;
    }
}

int SimLink::control(uint8_t bmRequestType, uint8_t bRequest, uint8_t* data, uint16_t wLength,
                     int unknownOutcome)
{
    const bool vendor = (bmRequestType & 0x60) == 0x40;
    const bool in = bmRequestType & 0x80;
    if (!vendor || !handles(bRequest))
        return unknownOutcome;

    switch (bRequest) {
    case kReqDevStatus: {
        if (!in)
            return unknownOutcome;
        onDevStatusRead();
        uint8_t rec[kDevStatusLen];
        buildDevStatus(rec);
        if (m_buttonReads > 0)
            --m_buttonReads;
        if (m_autoAdvance)
            step();
        return answer(rec, kDevStatusLen, data, wLength);
    }
    case kReqDevStatus2: {
        if (!in)
            return unknownOutcome;
        uint8_t rec[kDevStatus2Len];
        buildDevStatus2(rec);
        return answer(rec, kDevStatus2Len, data, wLength);
    }
    case kReqProStatus: {
        if (!in)
            return unknownOutcome;
        uint8_t rec[kProStatusLen];
        buildProStatus(rec);
        return answer(rec, kProStatusLen, data, wLength);
    }
    case kReqScan: {
        if (!in)
            return unknownOutcome;
        uint8_t rec[kScanLen];
        buildScan(rec);
        return answer(rec, kScanLen, data, wLength);
    }
    case kReqCommandStatus: {
        if (!in)
            return unknownOutcome;
        if (wLength == 0)
            return 0;
        uint8_t status = m_status;
        if (m_pendingReads > 0) {
            --m_pendingReads;
            status = kCmdNotDone;
        }
        return answer(&status, 1, data, wLength);
    }
    default:
        if (in)
            return unknownOutcome;
        return setting(bRequest, data, wLength);
    }
}

int SimLink::setting(uint8_t request, const uint8_t* data, uint16_t length)
{
    SettingEvent ev;
    ev.request = request;
    if (data && length)
        ev.payload.assign(data, data + length);

    if (take(m_ignoreNext)) {
        m_status = kCmdNotDone;
        m_pendingReads = 0;
        ev.status = kCmdNotDone;
        m_log.push_back(std::move(ev));
        return length;
    }

    uint8_t status = kCmdFailed;
    if (m_rejected[request] || take(m_rejectNext)) {
        status = kCmdFailed;
    } else if (apply(request, data, length)) {
        ev.applied = true;
        status = take(m_answerNext) ? m_answerValue : kCmdDone;
    }
    m_status = status;
    m_pendingReads = std::max(m_readsUntilDone - 1, 0);
    ev.status = status;
    m_log.push_back(std::move(ev));
    return length;
}

bool SimLink::apply(uint8_t request, const uint8_t* data, uint16_t length)
{
    if (length != payloadLength(request) || !data)
        return false;
    const uint8_t b = data[0];
    auto zeroOrOne = [](uint8_t v) { return v == 0 || v == 1; };

    switch (request) {
    case kReqConfigByte:
        if (b & 0x02) {
            restoreLocked(); // the restore bit itself is never kept
        } else {
            m_set.configWord = (m_set.configWord & ~0xFFu) | b;
        }
        return true;
    case kReqFrequency: {
        const uint32_t mhz = getU32(data);
        if (!frequencyInBand(m_band, mhz))
            return false;
        m_set.frequency = mhz;
        return true;
    }
    case kReqRegionPower: {
        if ((b >> 5) > 3)
            return false; // four regions
        // The ground unit passes the power on to its peer while linked.
        if (model().up)
            m_set.airPowerWord = (m_set.airPowerWord & ~0x1Fu) | (b & 0x1Fu);
        m_set.groundPowerWord = b;
        return true;
    }
    case kReqDownlink:
        if (!rateOf(b))
            return false;
        m_set.downlinkCode = b;
        return true;
    case kReqBandwidth:
        m_set.bandwidthIndex = b;
        return true;
    case kReqTddRatio:
        if (!zeroOrOne(b))
            return false;
        m_set.tddRatio = b;
        return true;
    case kReqFreqHop:
        if (!zeroOrOne(b))
            return false;
        m_set.frequencyMode = b;
        return true;
    case kReqBaudRate:
        if (b > 4)
            return false;
        m_set.baudIndex = b;
        return true;
    case kReqBind:
        if (b != 1)
            return false;
        startPairingLocked();
        return true;
    case kReqUplinkMode:
        m_set.uplinkMode = b;
        return true;
    case kReqTestMode:
        std::copy(data, data + 4, m_set.testWord.begin());
        return true;
    case kReqAntenna:
        if ((b >> 4) > 1 || (b & 0x0F) > 1)
            return false;
        m_set.antennaByte = b;
        return true;
    case kReqRcMode:
        if (!zeroOrOne(b))
            return false;
        m_set.rcMode = b;
        return true;
    case kReqEncryptKey: {
        if (!zeroOrOne(b))
            return false;
        const int keyLen = b ? 32 : 16;
        const uint8_t* key = data + 4;
        // A key shorter than its mode asks for would weaken the link.
        if (std::find(key, key + keyLen, uint8_t(0)) != key + keyLen)
            return false;
        m_set.key.assign(key, key + keyLen);
        m_set.flags = uint8_t((m_set.flags & ~kFlagAes256) | kFlagEncryption | (b ? kFlagAes256 : 0));
        return true;
    }
    case kReqDatalink:
        if (b == 0x5A)
            m_set.flags |= kFlagDatalinkUsb;
        else if (b == 0xA5)
            m_set.flags &= uint8_t(~kFlagDatalinkUsb);
        else
            return false;
        return true;
    case kReqEncryptEnable:
        if (b == 0) {
            m_set.flags &= uint8_t(~kFlagEncryption);
            return true;
        }
        if (b == 1 && !m_set.key.empty()) {
            m_set.flags |= kFlagEncryption;
            return true;
        }
        return false;
    case kReqGroundIdentity:
        if (!zeroOrOne(b))
            return false;
        m_set.flags = uint8_t(b ? (m_set.flags | kFlagObserver) : (m_set.flags & ~kFlagObserver));
        return true;
    default:
        return false;
    }
}

void SimLink::restoreLocked()
{
    m_set = factorySettings();
}

void SimLink::setBandLocked(int bandCode)
{
    m_band = bandCode;
    if (!frequencyInBand(m_band, m_set.frequency))
        m_set.frequency = bandOf(m_band).firstChannel;
}

// -------------------------------------------------------------- settings

void SimLink::setBand(int bandCode)
{
    Lock lock(m_mutex);
    setBandLocked(bandCode);
}

int SimLink::band() const
{
    Lock lock(m_mutex);
    return m_band;
}

LinkSettings SimLink::settings() const
{
    Lock lock(m_mutex);
    return m_set;
}

void SimLink::updateSettings(const std::function<void(LinkSettings&)>& change)
{
    Lock lock(m_mutex);
    change(m_set);
}

void SimLink::setTemperatures(int8_t airBb, int8_t airPa, int8_t groundBb, int8_t groundPa)
{
    Lock lock(m_mutex);
    m_temps = {{airBb, airPa, groundBb, groundPa}};
}

void SimLink::restoreFactorySettings()
{
    Lock lock(m_mutex);
    restoreLocked();
}

// ------------------------------------------------------------ measured

void SimLink::pin(const std::function<void(Pins&)>& change)
{
    Lock lock(m_mutex);
    change(m_pins);
}

void SimLink::releaseMeasurements()
{
    Lock lock(m_mutex);
    m_pins = Pins();
}

// ------------------------------------------------------------- counters

void SimLink::setGroundLdpc(uint32_t pass, uint32_t fail)
{
    Lock lock(m_mutex);
    m_gPass = pass;
    m_gFail = fail;
}

void SimLink::setAirLdpc(uint32_t pass, uint32_t fail)
{
    Lock lock(m_mutex);
    m_aPass = pass;
    m_aFail = fail;
}

void SimLink::setEthCounters(uint32_t lost, uint32_t received)
{
    Lock lock(m_mutex);
    m_ethLost = lost;
    m_ethRecv = received;
}

void SimLink::setProCounter(ProCounter counter, uint32_t value)
{
    Lock lock(m_mutex);
    if (counter >= 0 && counter < ProCounterCount)
        m_pro[size_t(counter)] = value;
}

uint32_t SimLink::proCounter(ProCounter counter) const
{
    Lock lock(m_mutex);
    return (counter >= 0 && counter < ProCounterCount) ? m_pro[size_t(counter)] : 0;
}

// ---------------------------------------------------------------- model

void SimLink::setAirDistance(double metres)
{
    Lock lock(m_mutex);
    m_distance = std::isfinite(metres) ? std::max(metres, 0.0) : 0.0;
}

double SimLink::airDistance() const
{
    Lock lock(m_mutex);
    return m_distance;
}

void SimLink::setPeerPresent(bool present)
{
    Lock lock(m_mutex);
    m_peerPresent = present;
}

bool SimLink::peerPresent() const
{
    Lock lock(m_mutex);
    return m_peerPresent;
}

bool SimLink::linkUp() const
{
    Lock lock(m_mutex);
    return model().up;
}

void SimLink::setAutoAdvance(bool on)
{
    Lock lock(m_mutex);
    m_autoAdvance = on;
}

void SimLink::advance(int steps)
{
    Lock lock(m_mutex);
    for (int i = 0; i < steps; ++i)
        step();
}

void SimLink::setNoiseSeed(uint32_t seed)
{
    Lock lock(m_mutex);
    m_rng = seed;
    m_jitterG = m_jitterA = 0;
    m_scanJitter.fill(0);
}

// -------------------------------------------------------------- pairing

void SimLink::setBindByte(uint8_t byte)
{
    Lock lock(m_mutex);
    m_bind = byte;
    m_pairing = false;
}

uint8_t SimLink::bindByte() const
{
    Lock lock(m_mutex);
    return m_bind;
}

void SimLink::setPeerPairs(bool pairs)
{
    Lock lock(m_mutex);
    m_peerPairs = pairs;
}

void SimLink::setPairingDelayReads(int reads)
{
    Lock lock(m_mutex);
    m_pairDelay = reads;
}

void SimLink::setPairingTimeoutReads(int reads)
{
    Lock lock(m_mutex);
    m_pairTimeout = reads;
}

void SimLink::startPairing()
{
    Lock lock(m_mutex);
    startPairingLocked();
}

void SimLink::pressPairButton(int reads)
{
    Lock lock(m_mutex);
    startPairingLocked();
    m_buttonReads = std::max(reads, 1);
}

bool SimLink::pairingActive() const
{
    Lock lock(m_mutex);
    return m_pairing;
}

// ----------------------------------------------------------------- scan

void SimLink::setScanMagnitudes(const std::array<uint8_t, kScanLen>& magnitudes)
{
    Lock lock(m_mutex);
    for (int i = 0; i < kScanLen; ++i)
        m_pinScan[size_t(i)] = magnitudes[size_t(i)];
}

void SimLink::setScanMagnitude(int channel, uint8_t magnitude)
{
    Lock lock(m_mutex);
    if (channel >= 0 && channel < kScanLen)
        m_pinScan[size_t(channel)] = magnitude;
}

void SimLink::clearScanOverrides()
{
    Lock lock(m_mutex);
    for (auto& p : m_pinScan)
        p.reset();
}

// ------------------------------------------------------- command status

void SimLink::ignoreNextSettings(int count)
{
    Lock lock(m_mutex);
    m_ignoreNext = count;
}

void SimLink::rejectNextSettings(int count)
{
    Lock lock(m_mutex);
    m_rejectNext = count;
}

void SimLink::answerNextSettingsWith(uint8_t status, int count)
{
    Lock lock(m_mutex);
    m_answerValue = status;
    m_answerNext = count;
}

void SimLink::rejectRequest(uint8_t request, bool reject)
{
    Lock lock(m_mutex);
    m_rejected[request] = reject;
}

void SimLink::setStatusReadsUntilDone(int reads)
{
    Lock lock(m_mutex);
    m_readsUntilDone = std::max(reads, 1);
}

void SimLink::clearSettingFaults()
{
    Lock lock(m_mutex);
    m_ignoreNext = m_rejectNext = m_answerNext = 0;
    m_answerValue = kCmdDone;
    m_rejected.fill(false);
    m_readsUntilDone = 1;
}

uint8_t SimLink::commandStatus() const
{
    Lock lock(m_mutex);
    return m_pendingReads > 0 ? kCmdNotDone : m_status;
}

// ------------------------------------------------------------------ log

std::vector<SimLink::SettingEvent> SimLink::settingLog() const
{
    Lock lock(m_mutex);
    return m_log;
}

std::vector<uint8_t> SimLink::lastPayload(uint8_t request) const
{
    Lock lock(m_mutex);
    for (auto it = m_log.rbegin(); it != m_log.rend(); ++it)
        if (it->request == request)
            return it->payload;
    return {};
}

int SimLink::settingCount(uint8_t request) const
{
    Lock lock(m_mutex);
    return int(std::count_if(m_log.begin(), m_log.end(),
                             [request](const SettingEvent& e) { return e.request == request; }));
}

void SimLink::clearSettingLog()
{
    Lock lock(m_mutex);
    m_log.clear();
}

} // namespace sim
