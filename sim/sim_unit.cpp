#include "sim_unit.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

void putU32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

bool isVendorIn(uint8_t bmRequestType)
{
    return (bmRequestType & 0x80) && (bmRequestType & 0x60) == 0x40;
}

} // namespace

SimUnit::SimUnit() = default;

void SimUnit::setIdentityRecord(const std::array<uint8_t, 40>& rec)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_identity = rec;
}

void SimUnit::setDeviceInfoRecord(const std::array<uint8_t, 4>& rec)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_devInfo = rec;
}

void SimUnit::setSoftwareInfoRecord(const std::array<uint8_t, 4>& rec)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_softInfo = rec;
    m_link.setBandLocked(bandForModel((m_softInfo[2] & 0x0F) * 16 + (m_softInfo[1] >> 4)));
}

std::array<uint8_t, 40> SimUnit::identityRecord() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_identity;
}

std::array<uint8_t, 4> SimUnit::deviceInfoRecord() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_devInfo;
}

std::array<uint8_t, 4> SimUnit::softwareInfoRecord() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_softInfo;
}

void SimUnit::configure(Type type, const char* serial, uint32_t baseband, int fwMajor, int fwMinor,
                        int fwPatch, uint32_t mcu2Version)
{
    std::lock_guard<std::mutex> lock(m_mutex);

    m_devInfo[0] = static_cast<uint8_t>(baseband);
    m_devInfo[1] = static_cast<uint8_t>(baseband >> 8);
    m_devInfo[2] = static_cast<uint8_t>(baseband >> 16);
    m_devInfo[3] = type == AirUnit ? 0x80 : 0x00;

    // Byte 1 keeps the model's low nibble in its upper half; bytes 2 and 3
    // (model high nibble, bandwidth codes) stay as they are.
    m_softInfo[0] = static_cast<uint8_t>(((fwMinor & 0x0F) << 4) | (fwPatch & 0x0F));
    m_softInfo[1] = static_cast<uint8_t>((m_softInfo[1] & 0xF0) | (fwMajor & 0x0F));

    // Serial text in bytes 0..11; a 12-character serial has no NUL of its
    // own, the reader cuts it at 12.
    std::fill(m_identity.begin(), m_identity.begin() + 12, uint8_t(0));
    if (serial)
        std::memcpy(m_identity.data(), serial, std::min<size_t>(std::strlen(serial), 12));
    std::copy(m_devInfo.begin(), m_devInfo.end(), m_identity.begin() + 16);
    putU32(m_identity.data() + 20, mcu2Version);
}

void SimUnit::setModelIndex(int model)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_softInfo[1] = static_cast<uint8_t>((m_softInfo[1] & 0x0F) | ((model & 0x0F) << 4));
    m_softInfo[2] = static_cast<uint8_t>((m_softInfo[2] & 0xF0) | ((model >> 4) & 0x0F));
    m_link.setBandLocked(bandForModel((m_softInfo[2] & 0x0F) * 16 + (m_softInfo[1] >> 4)));
}

void SimUnit::setHi3798Version(const char* text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::fill(m_identity.begin() + 24, m_identity.end(), uint8_t(0));
    if (text)
        std::memcpy(m_identity.data() + 24, text, std::min<size_t>(std::strlen(text), 15));
}

void SimUnit::setIdentityWord12(uint32_t word)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    putU32(m_identity.data() + 12, word);
}

int SimUnit::answerRecord(uint8_t bmRequestType, const uint8_t* record, int size, uint8_t* data,
                          uint16_t wLength) const
{
    if (!isVendorIn(bmRequestType))
        return m_unknownOutcome;
    // A shorter request gets the start of the record, a longer one the
    // whole record (a short answer).
    const int n = std::min<int>(size, wLength);
    if (n > 0 && data)
        std::memcpy(data, record, static_cast<size_t>(n));
    return n;
}

int SimUnit::control(uint8_t bmRequestType, uint8_t bRequest, uint16_t /*wValue*/,
                     uint16_t /*wIndex*/, uint8_t* data, uint16_t wLength)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // While an upgrade runs, its waits read the command status from it.
    if (bRequest == kReqCommandStatus && m_upgrade.ownsCommandStatus())
        return m_upgrade.control(bmRequestType, bRequest, data, wLength);
    switch (bRequest) {
    case kReqIdentity:
        return answerRecord(bmRequestType, m_identity.data(), int(m_identity.size()), data, wLength);
    case kReqDeviceInfo:
        return answerRecord(bmRequestType, m_devInfo.data(), int(m_devInfo.size()), data, wLength);
    case kReqSoftwareInfo:
        return answerRecord(bmRequestType, m_softInfo.data(), int(m_softInfo.size()), data, wLength);
    // The radio link; it answers the command status byte whenever no
    // upgrade holds it (above).
    case kReqCommandStatus:
    case kReqDevStatus:
    case kReqDevStatus2:
    case kReqProStatus:
    case kReqScan:
    case kReqConfigByte:
    case kReqFrequency:
    case kReqRegionPower:
    case kReqDownlink:
    case kReqBandwidth:
    case kReqTddRatio:
    case kReqFreqHop:
    case kReqBaudRate:
    case kReqBind:
    case kReqUplinkMode:
    case kReqTestMode:
    case kReqAntenna:
    case kReqRcMode:
    case kReqEncryptKey:
    case kReqDatalink:
    case kReqEncryptEnable:
    case kReqGroundIdentity:
        return m_link.control(bmRequestType, bRequest, data, wLength, m_unknownOutcome);
    // The firmware upgrade.
    case 0xB0 ... 0xBF:
    case 0xD0 ... 0xD3:
    case 0xF1 ... 0xF5:
        return m_upgrade.control(bmRequestType, bRequest, data, wLength);
    default:
        return m_unknownOutcome;
    }
}

int SimUnit::bulk(uint8_t endpoint, const uint8_t* data, int length)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (endpoint) {
    case kBulkOutEndpoint:
        m_bulkBytes += std::max(length, 0);
        return m_upgrade.bulk(data, length);
    case kBulkInEndpoint:
        // Nothing to send: the host waits until its timeout.
        return kNoAnswer;
    default:
        return m_unknownOutcome;
    }
}

void SimUnit::setUnknownRequestOutcome(int outcome)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_unknownOutcome = outcome;
}

int64_t SimUnit::bulkBytesReceived() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bulkBytes;
}

} // namespace sim
