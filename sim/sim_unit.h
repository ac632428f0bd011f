// The simulated radio unit: its state and its answers to the vendor
// protocol. Transport-neutral: it knows nothing of libusb, so the same unit
// can stand behind the simulated libusb bus or an emulated device file.
#pragma once

#include "sim_link.h"
#include "sim_upgrade.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

namespace sim {

// What the unit does with a request, besides answering with bytes (>= 0).
enum Outcome : int {
    kStall = -1000,    // the unit stalls the control pipe
    kNoAnswer = -1001, // the unit never answers; the transfer times out
};

// Request direction/type bytes as they appear on the wire.
constexpr uint8_t kVendorIn = 0xC1;
constexpr uint8_t kVendorOut = 0x41;

// Request codes the unit answers so far.
constexpr uint8_t kReqDeviceInfo = 0xE0;
constexpr uint8_t kReqSoftwareInfo = 0xE1;
constexpr uint8_t kReqIdentity = 0xE3;

// The unit's bulk endpoints: firmware data goes out on 0x02; 0x81 exists in
// the descriptors but the unit never sends anything on it.
constexpr uint8_t kBulkOutEndpoint = 0x02;
constexpr uint8_t kBulkInEndpoint = 0x81;

class SimUnit
{
public:
    enum Type { AirUnit = 1, GroundUnit = 2 };

    SimUnit();

    // Identity records, answered to 0xE3 (40 bytes), 0xE0 (4) and 0xE1 (4).
    // Setters build the records from readable values; the raw setters
    // take the bytes as they go on the wire.
    void setIdentityRecord(const std::array<uint8_t, 40>& rec);
    void setDeviceInfoRecord(const std::array<uint8_t, 4>& rec);
    void setSoftwareInfoRecord(const std::array<uint8_t, 4>& rec);
    std::array<uint8_t, 40> identityRecord() const;
    std::array<uint8_t, 4> deviceInfoRecord() const;
    std::array<uint8_t, 4> softwareInfoRecord() const;

    // Readable set-up of the identity: serial text (at most 12 chars used),
    // unit type, baseband version (24 bits), MCU1 firmware version
    // major.minor.patch (each 0..15), MCU2 version word.
    // Builds all three records. Kept from the current records: identity
    // word 12, the HI3798 text, and the model index and bandwidth codes of
    // the software record (see setModelIndex / setHi3798Version).
    // The program takes the unit type from bits 12..15 of the MCU2 word
    // when the identity read succeeds (1 or 3 ground, 0 or 2 air), so keep
    // that consistent with `type` unless a mismatch is the point.
    void configure(Type type, const char* serial, uint32_t baseband, int fwMajor, int fwMinor,
                   int fwPatch, uint32_t mcu2Version);

    // Model index of the software record (0..255; 0..27 are known models,
    // e.g. 0 = 2.4 GHz, 4 = 1.4 GHz, 12 = 5.8 GHz, 20 = 2.5 GHz).
    void setModelIndex(int model);
    // HI3798 version text at byte 24 of the identity record (at most 15
    // chars, NUL-terminated; empty = the unit has no HI3798).
    void setHi3798Version(const char* text);
    // Identity word 12 (its meaning is the unit's own).
    void setIdentityWord12(uint32_t word);

    // Handle one control request. `data` holds `wLength` bytes (filled for IN
    // requests, read for OUT). Returns the byte count or an Outcome.
    int control(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue, uint16_t wIndex,
                uint8_t* data, uint16_t wLength);

    // Handle one bulk OUT transfer to `endpoint`. Returns the byte count or
    // an Outcome.
    int bulk(uint8_t endpoint, const uint8_t* data, int length);

    // Answer every request with `code` unknown to the unit: stall (default,
    // as real firmware does) or no answer.
    void setUnknownRequestOutcome(int outcome);

    // Bytes received on the bulk OUT endpoint since the unit was made.
    int64_t bulkBytesReceived() const;

    // The radio link: status records, settings, pairing, scan, command
    // status. Its band follows the model index.
    SimLink& link() { return m_link; }
    const SimLink& link() const { return m_link; }

    // The firmware upgrade: flash per target, statuses, MCU2 restart.
    SimUpgrade& upgrade() { return m_upgrade; }
    const SimUpgrade& upgrade() const { return m_upgrade; }

private:
    // One handler per request code; called with m_mutex held.
    int answerRecord(uint8_t bmRequestType, const uint8_t* record, int size, uint8_t* data,
                     uint16_t wLength) const;

    mutable std::mutex m_mutex;
    SimLink m_link{m_mutex};
    SimUpgrade m_upgrade{*this};
    std::array<uint8_t, 40> m_identity{};
    std::array<uint8_t, 4> m_devInfo{};
    std::array<uint8_t, 4> m_softInfo{};
    int m_unknownOutcome = kStall;
    int64_t m_bulkBytes = 0;
};

} // namespace sim
