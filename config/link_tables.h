// Value tables of the radio link: channels per band, downlink rate codes,
// baud rates, and the payload bytes built from them. Pure functions.
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>

namespace link {

// Channel list of a band as the unit's model reports it (14, 24, 25, 58);
// empty for an unknown band.
QStringList channel_list(int band_code);

// MHz of channel `index` in `band_code`; 0 for an unknown band or an index
// off the 2.4 GHz list (`*out_of_range` tells the latter).
uint32_t channel_mhz(int band_code, int index, bool* out_of_range = nullptr);

// One entry of a unit's channel list: its text and the MHz it sends.
struct Channel
{
    QString text;
    uint32_t mhz = 0;
    bool operator==(const Channel& o) const { return text == o.text && mhz == o.mhz; }
};
// The channel list of a unit: the band's list, less the entry at index 6
// for hardware variant 4. Each entry carries its own MHz, so a removal
// cannot shift the frequency the entries after it send.
QVector<Channel> unit_channels(int band_code, int hardware_variant);

// Text of a downlink rate code ("unknow" for codes without one).
QString downlink_rate_text(int8_t code);

// Rate code sent for an entry of the trimmed downlink list.
uint8_t downlink_code_for_index(int index, bool trimmed);
// Adjusted index into the full list, as written to the debug log.
int downlink_full_index(int index, bool trimmed);

// Entry of the trimmed downlink list showing a rate code; -1 for none.
int downlink_index_for_code(int code);

// Text of a UART baud-rate index ("115200bps" for unknown indexes).
QString baud_text(int8_t index);

// Region and power byte of request 0xC2.
uint8_t region_power_byte(int region, int power_level, bool power_offset_flag);

// Transmit power shown for a 5-bit power field.
int shown_power(uint32_t field_word, bool power_offset_flag);

} // namespace link
