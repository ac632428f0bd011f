// The unit's records as they come off the wire, decoded by pure functions.
// Every decoder reads only inside the bytes it is given.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

namespace rec {

inline uint32_t le32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// A NUL-terminated text inside a fixed field: never reads past the field,
// even when the unit sends no terminator.
QString field_text(const unsigned char* field, size_t field_size, size_t max_chars);

// Identity record, request 0xE3, 40 bytes.
struct Identity
{
    QString serial;        // at most 12 characters
    uint32_t word12 = 0;
    uint32_t device_info = 0; // same layout as the 0xE0 record
    uint32_t mcu2_version = 0;
    QString hi3798_version; // at most 16 characters
};
constexpr size_t kIdentitySize = 40;
Identity decode_identity(const unsigned char* rec);

// The serial-number label composed from an identity record.
QString serial_label(const Identity& id);

// Device information record, request 0xE0, 4 bytes.
struct DeviceInfo
{
    uint32_t baseband = 0; // 24 bits
    bool air_unit = false;
};
DeviceInfo decode_device_info(const unsigned char* rec);

// Software information record, request 0xE1, 4 bytes.
struct SoftwareInfo
{
    int fw_major = 0; // also the hardware variant
    int fw_minor = 0;
    int fw_patch = 0;
    int model_index = 0;
};
SoftwareInfo decode_software_info(const unsigned char* rec);
QString firmware_text(const SoftwareInfo& s);

// Band, power level and offset flag of a model index.
struct ModelBand
{
    int band_code = 0; // 0 for an unknown model
    int power_level = 0;
    bool power_offset_flag = false;
    bool known = false;
};
ModelBand model_band(int model_index);

// The second controller's version word split into its nibbles.
struct Mcu2Version
{
    int lower = 0;  // bits 4-7
    int middle = 0; // bits 8-11
    int unit = 0;   // bits 12-15
    int unit_decision = 0; // unit nibble without its bit value 2
    bool extended() const { return middle > 3 || lower >= 3; }
};
Mcu2Version decode_mcu2_version(uint32_t v);

// Main status record, request 0xE6, 64 bytes.
struct DevStatus
{
    uint32_t freq = 0;
    uint32_t g_ldpc_pass = 0;
    uint32_t g_ldpc_fail = 0;
    uint32_t g_rf_power = 0;
    uint32_t a_ldpc_pass = 0;
    uint32_t a_ldpc_fail = 0;
    uint8_t downlink = 0;
    uint8_t freq_mode = 0;
    uint8_t bind = 0;
    uint8_t baud_index = 0;
    uint8_t g_snr = 0;
    int8_t g_vga = 0;
    uint8_t g_rssi_1 = 0;
    uint8_t a_snr = 0;
    int8_t a_vga = 0;
    uint8_t a_rssi_1 = 0;
    uint32_t grd_link_status = 0;
    uint32_t air_link_status = 0;
    uint32_t a_rx_power = 0;
    uint32_t range = 0;
    uint32_t eth_lost_packet = 0;
    uint32_t eth_rev_packet = 0;
    uint8_t antenna = 0;
    uint8_t rc_mode = 0;
    uint8_t pair_button = 0;

    int region_index() const { return int((g_rf_power >> 5) & 0x07); }
    bool auto_antenna() const { return (antenna & 0x0F) != 0; }
    bool second_antenna() const { return (antenna & 0xF0) != 0; }
};
constexpr size_t kDevStatusSize = 64;
DevStatus decode_dev_status(const unsigned char* rec);

// Secondary status record, request 0xE7, 16 bytes.
struct DevStatus2
{
    int8_t a_bb_temp = 0;
    int8_t a_pa_temp = 0;
    int8_t g_bb_temp = 0;
    int8_t g_pa_temp = 0;
    uint8_t a_rssi_2 = 0;
    uint8_t g_rssi_2 = 0;
    uint8_t flags = 0;
    uint8_t profile = 0;
    uint32_t uplink_rate = 0;
    uint32_t downlink_rate = 0;

    bool datalink_usb() const { return flags & 0x01; }
    bool observer() const { return flags & 0x02; }
    bool encryption_on() const { return flags & 0x04; }
    int encryption_mode() const { return (flags & 0x08) ? 1 : 0; }
    int profile_index() const { return (profile >> 4) - 1; }
};
constexpr size_t kDevStatus2Size = 16;
DevStatus2 decode_dev_status2(const unsigned char* rec);

// Packet statistics record, request 0xA1, 60 bytes.
struct ProStatus
{
    uint32_t config_word = 0;
    uint32_t a_buf_overflow = 0, a_packets_recv = 0, a_packets_send = 0, a_packets_submitted = 0,
             a_packets_discard = 0, a_packets_retransmit = 0;
    uint32_t g_buf_overflow = 0, g_packets_recv = 0, g_packets_send = 0, g_packets_submitted = 0,
             g_packets_discard = 0, g_packets_retransmit = 0;
    uint32_t datalink_recv = 0, datalink_send = 0;

    uint8_t config_byte() const { return uint8_t(config_word & 0xFF); }
};
constexpr size_t kProStatusSize = 60;
ProStatus decode_pro_status(const unsigned char* rec);

// Band scan record, request 0xF9, 16 bytes: byte i is the level on channel
// i as a magnitude (n means -n dBm).
constexpr size_t kScanRecordSize = 16;
constexpr int kMaxScanMagnitude = 100; // anything above shows as -100 dBm

struct ScanGrid
{
    int channels = 0;
    int first_mhz = 0;
    int step_mhz = 0;
};
// The channel grid the scan draws on; false for a band it leaves alone
// (1.4 GHz and unknown codes).
bool scan_grid(int band_code, ScanGrid* grid);

struct ScanPoint
{
    int mhz = 0;
    int dbm = 0;
};
// The measured points of the first `size` bytes of a scan record on the
// band's grid, written to `out` (room for kScanRecordSize points). Returns
// how many: the band's channel count, fewer when the record is shorter, 0
// for a band the scan does not draw. Reads no byte at or past `size`.
int scan_levels(int band_code, const unsigned char* bytes, size_t size, ScanPoint* out);

// RSSI bar value for a magnitude byte (n means -n dBm).
int rssi_bar_value(unsigned n);

// "-n" followed by "dBm".
QString rssi_text(unsigned n);

// A temperature with its unit; hot means it shows red.
QString temperature_text(int8_t celsius);
bool temperature_hot(int8_t celsius);

} // namespace rec
