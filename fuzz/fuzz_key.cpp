// The encryption key record (0xED) built from whatever the user typed. The
// input is taken both as UTF-8 (what a paste brings) and as raw UTF-16
// (any character the line edit can hold, surrogates included).
#include "fuzz_support.h"
#include "setting_payloads.h"

#include <vector>

namespace {
void check(const QString& key)
{
    const payload::KeyCheck verdict = payload::check_key(key);
    const auto out = payload::encryption_key(key);
    if (verdict != payload::KeyCheck::Ok) {
        FUZZ_CHECK(verdict == payload::KeyCheck::BadCharacter || (key.size() != 16 && key.size() != 32));
        for (uint8_t b : out)
            FUZZ_CHECK(b == 0);
        return;
    }
    FUZZ_CHECK(key.size() == 16 || key.size() == 32);
    FUZZ_CHECK(out[0] == (key.size() == 32 ? 1 : 0));
    FUZZ_CHECK(out[1] == 0 && out[2] == 0 && out[3] == 0);
    // What the unit receives is exactly what was typed, byte for character.
    for (int i = 0; i < payload::kMaxKeyBytes; ++i) {
        const uint8_t b = out[size_t(payload::kKeyOffset + i)];
        if (i < key.size())
            FUZZ_CHECK(b >= 0x20 && b <= 0x7E && b == key.at(i).unicode());
        else
            FUZZ_CHECK(b == 0);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096)
        return 0;
    check(QString::fromUtf8(reinterpret_cast<const char*>(data), int(size)));
    check(QString::fromLatin1(reinterpret_cast<const char*>(data), int(size)));
    std::vector<ushort> units(size / 2);
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = ushort(data[2 * i] | data[2 * i + 1] << 8);
    check(QString::fromUtf16(units.data(), int(units.size())));
    return 0;
}
