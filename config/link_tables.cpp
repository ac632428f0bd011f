#include "link_tables.h"

namespace link {

namespace {
struct Band
{
    int code;
    int first_mhz;
    int step_mhz;
    int channels;
};
constexpr Band kBands[] = {
    {24, 2412, 5, 14},
    {14, 1425, 10, 7},
    {58, 5745, 10, 7},
    {25, 2512, 5, 14},
};

const Band* band(int code)
{
    for (const Band& b : kBands)
        if (b.code == code)
            return &b;
    return nullptr;
}
} // namespace

QStringList channel_list(int band_code)
{
    QStringList items;
    const Band* b = band(band_code);
    if (!b)
        return items;
    for (int i = 0; i < b->channels; ++i)
        items << QStringLiteral("Chanel %1 (%2MHz)").arg(i + 1).arg(b->first_mhz + b->step_mhz * i);
    if (band_code == 24) {
        items << QStringLiteral("Chanel RSV (2390MHz)") << QStringLiteral("Chanel RSV (2495MHz)");
    }
    return items;
}

uint32_t channel_mhz(int band_code, int index, bool* out_of_range)
{
    if (out_of_range)
        *out_of_range = false;
    switch (band_code) {
    case 24:
        if (index >= 0 && index <= 13)
            return uint32_t(2412 + 5 * index);
        if (index == 14)
            return 2390;
        if (index == 15)
            return 2495;
        if (out_of_range)
            *out_of_range = true;
        return 0;
    case 14:
        return uint32_t(1425 + 10 * index);
    case 58:
        return uint32_t(5745 + 10 * index);
    case 25:
        return uint32_t(2512 + 5 * index);
    default:
        return 0;
    }
}

QVector<Channel> unit_channels(int band_code, int hardware_variant)
{
    const QStringList texts = channel_list(band_code);
    QVector<Channel> channels;
    channels.reserve(texts.size());
    for (int i = 0; i < texts.size(); ++i)
        channels.append({texts[i], channel_mhz(band_code, i)});
    constexpr int kVariantWithoutChannel = 4;
    constexpr int kRemovedEntry = 6;
    if (hardware_variant == kVariantWithoutChannel && channels.size() > kRemovedEntry)
        channels.remove(kRemovedEntry);
    return channels;
}

QString downlink_rate_text(int8_t code)
{
    switch (code) {
    case 0: return QStringLiteral("1.98Mbps");
    case 1: return QStringLiteral("2.64Mbps");
    case 2: return QStringLiteral("2.87Mbps");
    case 3: return QStringLiteral("3.18Mbps");
    case 4: return QStringLiteral("3.80Mbps");
    case 5: return QStringLiteral("5.04Mbps");
    case 6: return QStringLiteral("5.66Mbps");
    case 7: return QStringLiteral("6.28Mbps");
    case 8: return QStringLiteral("7.52Mbps");
    case 12: return QStringLiteral("11.24Mbps");
    case 15: return QStringLiteral("18.68Mbps");
    default: return QStringLiteral("unknow");
    }
}

int downlink_full_index(int index, bool trimmed)
{
    if (!trimmed)
        return index;
    if (index == 0 || index == 1)
        return index;
    if (index >= 2 && index <= 4)
        return index + 1;
    return index + 2;
}

uint8_t downlink_code_for_index(int index, bool trimmed)
{
    const int full = downlink_full_index(index, trimmed);
    if (full >= 0 && full <= 8)
        return uint8_t(full);
    if (full == 9)
        return 12;
    if (full == 10)
        return 15;
    return 0;
}

int downlink_index_for_code(int code)
{
    if (code >= 0 && code <= 2)
        return code;
    if (code >= 3 && code <= 5)
        return code - 1;
    if (code >= 6 && code <= 8)
        return code - 2;
    if (code == 12)
        return 7;
    if (code == 15)
        return 8;
    return -1;
}

QString baud_text(int8_t index)
{
    switch (index) {
    case 0: return QStringLiteral("9600bps");
    case 1: return QStringLiteral("57600bps");
    case 2: return QStringLiteral("115200bps");
    case 3: return QStringLiteral("230400bps");
    case 4: return QStringLiteral("460800bps");
    default: return QStringLiteral("115200bps");
    }
}

uint8_t region_power_byte(int region, int power_level, bool power_offset_flag)
{
    const int field = power_offset_flag ? power_level - 2 : power_level;
    return uint8_t(((region & 0x07) << 5) | (field & 0x1F));
}

int shown_power(uint32_t field_word, bool power_offset_flag)
{
    const int field = int(field_word & 0x1F);
    return power_offset_flag ? field + 2 : field;
}

} // namespace link
