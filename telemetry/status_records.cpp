#include "status_records.h"

#include <algorithm>
#include <cstring>

namespace rec {

QString field_text(const unsigned char* field, size_t field_size, size_t max_chars)
{
    const size_t limit = std::min(field_size, max_chars);
    size_t n = 0;
    while (n < limit && field[n] != 0)
        ++n;
    return QString::fromLatin1(reinterpret_cast<const char*>(field), int(n));
}

Identity decode_identity(const unsigned char* rec)
{
    Identity id;
    // The serial field runs up to the first version word at byte 12.
    id.serial = field_text(rec, 12, 12);
    id.word12 = le32(rec + 12);
    id.device_info = le32(rec + 16);
    id.mcu2_version = le32(rec + 20);
    id.hi3798_version = field_text(rec + 24, kIdentitySize - 24, 16);
    return id;
}

QString serial_label(const Identity& id)
{
    QString text = QStringLiteral("SN:");
    if (id.serial.size() > 1 && !id.serial.contains(QStringLiteral("NOSN")))
        text += id.serial + QLatin1Char('-');
    text += QString::number(id.device_info, 16) + QLatin1Char('-') + QString::number(id.word12, 16)
        + QLatin1Char('-') + QString::number(id.mcu2_version, 16);
    if (id.hi3798_version.size() > 1)
        text += QLatin1Char('-') + id.hi3798_version;
    return text;
}

DeviceInfo decode_device_info(const unsigned char* rec)
{
    DeviceInfo d;
    d.baseband = uint32_t(rec[0]) | uint32_t(rec[1]) << 8 | uint32_t(rec[2]) << 16;
    d.air_unit = (rec[3] & 0x80) != 0;
    return d;
}

SoftwareInfo decode_software_info(const unsigned char* rec)
{
    SoftwareInfo s;
    s.fw_major = rec[1] & 0x0F;
    s.fw_minor = rec[0] >> 4;
    s.fw_patch = rec[0] & 0x0F;
    s.model_index = (rec[2] & 0x0F) * 16 + (rec[1] >> 4);
    return s;
}

QString firmware_text(const SoftwareInfo& s)
{
    return QStringLiteral("%1.%2.%3").arg(s.fw_major).arg(s.fw_minor).arg(s.fw_patch);
}

ModelBand model_band(int m)
{
    struct Row
    {
        int band, power;
        bool offset;
    };
    static constexpr Row kRows[] = {
        {24, 28, false}, {14, 28, false}, {14, 33, true}, {58, 28, false},
        {14, 30, false}, {25, 33, true},  {24, 33, true},
    };
    ModelBand mb;
    if (m < 0 || m > 27)
        return mb;
    const Row& r = kRows[m / 4];
    mb.band_code = r.band;
    mb.power_level = r.power;
    mb.power_offset_flag = r.offset;
    mb.known = true;
    return mb;
}

Mcu2Version decode_mcu2_version(uint32_t v)
{
    Mcu2Version m;
    m.lower = int((v >> 4) & 15);
    m.middle = int((v >> 8) & 15);
    m.unit = int((v >> 12) & 15);
    m.unit_decision = int((v >> 12) & 13);
    return m;
}

DevStatus decode_dev_status(const unsigned char* r)
{
    DevStatus s;
    s.freq = le32(r + 0);
    s.g_ldpc_pass = le32(r + 4);
    s.g_ldpc_fail = le32(r + 8);
    s.g_rf_power = le32(r + 12);
    s.a_ldpc_pass = le32(r + 16);
    s.a_ldpc_fail = le32(r + 20);
    s.downlink = r[24];
    s.freq_mode = r[26];
    s.bind = r[27];
    s.baud_index = r[29];
    s.g_snr = r[30];
    s.g_vga = int8_t(r[31]);
    s.g_rssi_1 = r[32];
    s.a_snr = r[33];
    s.a_vga = int8_t(r[34]);
    s.a_rssi_1 = r[35];
    s.grd_link_status = le32(r + 36);
    s.air_link_status = le32(r + 40);
    s.a_rx_power = le32(r + 44);
    s.range = le32(r + 48);
    s.eth_lost_packet = le32(r + 52);
    s.eth_rev_packet = le32(r + 56);
    s.antenna = r[60];
    s.rc_mode = r[61];
    s.pair_button = r[62];
    return s;
}

DevStatus2 decode_dev_status2(const unsigned char* r)
{
    DevStatus2 s;
    s.a_bb_temp = int8_t(r[0]);
    s.a_pa_temp = int8_t(r[1]);
    s.g_bb_temp = int8_t(r[2]);
    s.g_pa_temp = int8_t(r[3]);
    s.a_rssi_2 = r[4];
    s.g_rssi_2 = r[5];
    s.flags = r[6];
    s.profile = r[7];
    s.uplink_rate = le32(r + 8);
    s.downlink_rate = le32(r + 12);
    return s;
}

ProStatus decode_pro_status(const unsigned char* r)
{
    ProStatus p;
    p.config_word = le32(r + 0);
    p.a_buf_overflow = le32(r + 4);
    p.a_packets_recv = le32(r + 8);
    p.a_packets_send = le32(r + 12);
    p.a_packets_submitted = le32(r + 16);
    p.a_packets_discard = le32(r + 20);
    p.a_packets_retransmit = le32(r + 24);
    p.g_buf_overflow = le32(r + 28);
    p.g_packets_recv = le32(r + 32);
    p.g_packets_send = le32(r + 36);
    p.g_packets_submitted = le32(r + 40);
    p.g_packets_discard = le32(r + 44);
    p.g_packets_retransmit = le32(r + 48);
    p.datalink_recv = le32(r + 52);
    p.datalink_send = le32(r + 56);
    return p;
}

bool scan_grid(int band_code, ScanGrid* grid)
{
    switch (band_code) {
    case 24: *grid = {16, 2407, 5}; return true;
    case 25: *grid = {16, 2512, 5}; return true;
    case 58: *grid = {7, 5745, 10}; return true;
    default: return false;
    }
}

int scan_levels(int band_code, const unsigned char* bytes, size_t size, ScanPoint* out)
{
    ScanGrid grid;
    if (!bytes || !scan_grid(band_code, &grid))
        return 0;
    const int count = int(std::min(size, size_t(grid.channels)));
    for (int i = 0; i < count; ++i) {
        const int n = std::min(int(bytes[i]), kMaxScanMagnitude);
        out[i] = {grid.first_mhz + i * grid.step_mhz, -n};
    }
    return count;
}

int rssi_bar_value(unsigned n)
{
    if (n > 100)
        return 0;
    return std::min(100 - int(n), 70);
}

QString rssi_text(unsigned n)
{
    return QStringLiteral("-%1dBm").arg(n);
}

QString temperature_text(int8_t celsius)
{
    return QString::number(int(celsius)) + QStringLiteral(" \u2103");
}

bool temperature_hot(int8_t celsius)
{
    return celsius > 75;
}

} // namespace rec
