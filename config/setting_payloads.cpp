#include "setting_payloads.h"

namespace payload {

std::array<uint8_t, 4> frequency(uint32_t mhz)
{
    return {uint8_t(mhz), uint8_t(mhz >> 8), uint8_t(mhz >> 16), uint8_t(mhz >> 24)};
}

uint8_t antenna_first(uint8_t reported)
{
    return reported & 0x0F;
}

uint8_t antenna_second(uint8_t reported)
{
    return uint8_t((reported & 0x0F) | 0x10);
}

uint8_t antenna_auto_on(uint8_t reported)
{
    return uint8_t((reported & 0xF0) + 1);
}

uint8_t antenna_auto_off(uint8_t reported)
{
    return reported & 0xF0;
}

uint8_t config_arq(uint8_t current, bool on)
{
    return on ? uint8_t(current | config::kArq) : uint8_t(current & ~config::kArq);
}

uint8_t config_antenna_group(uint8_t current, int group)
{
    return group == 2 ? uint8_t(current | config::kAntennaGroup2)
                      : uint8_t(current & ~config::kAntennaGroup2);
}

uint8_t config_restore(uint8_t current)
{
    return uint8_t(current | config::kRestore);
}

std::array<uint8_t, 4> test_mode(const std::array<uint8_t, 4>& word, bool on)
{
    std::array<uint8_t, 4> out = word;
    out[3] = on ? uint8_t(out[3] | 0x80) : uint8_t(out[3] & 0x7F);
    return out;
}

bool test_downlink(std::array<uint8_t, 4>& word, int index)
{
    int code;
    if (index >= 0 && index <= 8)
        code = index;
    else if (index == 9)
        code = 12;
    else if (index == 10)
        code = 15;
    else
        return false;
    word[2] = uint8_t((word[2] & 0x0F) | (code << 4));
    return true;
}

KeyCheck check_key(const QString& key)
{
    if (key.size() != 16 && key.size() != kMaxKeyBytes)
        return KeyCheck::BadLength;
    for (QChar c : key)
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return KeyCheck::BadCharacter;
    return KeyCheck::Ok;
}

std::array<uint8_t, kKeyPayloadSize> encryption_key(const QString& key)
{
    std::array<uint8_t, kKeyPayloadSize> out{};
    if (check_key(key) != KeyCheck::Ok)
        return out;
    out[0] = key.size() == kMaxKeyBytes ? 1 : 0;
    // Printable ASCII: one byte per character, at most 32 of them.
    for (int i = 0; i < key.size() && i < kMaxKeyBytes; ++i)
        out[size_t(kKeyOffset + i)] = uint8_t(key.at(i).unicode());
    return out;
}

} // namespace payload
