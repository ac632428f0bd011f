// Payload bytes of the settings that are not plain table look-ups: the
// frequency word, the antenna byte, the configuration byte, the test-mode
// word and the encryption key record. Pure functions, no device access.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

namespace payload {

// Request 0xC0: the frequency in MHz, little-endian.
std::array<uint8_t, 4> frequency(uint32_t mhz);

// Request 0xEA, derived from the antenna byte the unit reported (high
// nibble: fixed antenna, low nibble: automatic selection).
uint8_t antenna_first(uint8_t reported);      // first antenna, automatic flag kept
uint8_t antenna_second(uint8_t reported);     // second antenna, automatic flag kept
uint8_t antenna_auto_on(uint8_t reported);    // automatic selection on, antenna kept
uint8_t antenna_auto_off(uint8_t reported);   // automatic selection off, antenna kept

// Request 0xA0: the configuration byte as last read, with one bit changed.
namespace config {
constexpr uint8_t kArq = 0x01;
constexpr uint8_t kRestore = 0x02;
constexpr uint8_t kAntennaGroup2 = 0x04;
} // namespace config
uint8_t config_arq(uint8_t current, bool on);
uint8_t config_antenna_group(uint8_t current, int group); // 1 or 2
uint8_t config_restore(uint8_t current);

// Request 0xE8: byte 3 bit 7 switches the test mode, byte 2 bits 7-4 hold
// the fixed downlink rate code; every other bit is kept.
std::array<uint8_t, 4> test_mode(const std::array<uint8_t, 4>& word, bool on);
// False (word untouched) for an entry without a rate code.
bool test_downlink(std::array<uint8_t, 4>& word, int index);

// Request 0xED: mode byte, three pad bytes, then the key. 16 or 32
// printable ASCII characters only: anything else would reach the unit as
// other bytes than the user typed.
constexpr int kKeyPayloadSize = 36;
constexpr int kKeyOffset = 4;
constexpr int kMaxKeyBytes = 32;
enum class KeyCheck { Ok, BadLength, BadCharacter };
KeyCheck check_key(const QString& key);
// Builds the record for a key that passed check_key; zero-filled otherwise.
std::array<uint8_t, kKeyPayloadSize> encryption_key(const QString& key);

} // namespace payload
