// Every vendor request code the tool sends, in one place. All go to
// interface 0 with wValue 0 and wIndex 0.
#pragma once

#include <cstdint>

namespace req {
// Settings (OUT).
constexpr uint8_t ConfigByte = 0xA0;     // 1 byte: bit 0 ARQ, bit 1 restore, bit 2 antenna group 2
constexpr uint8_t Frequency = 0xC0;      // 4 bytes: MHz
constexpr uint8_t RegionPower = 0xC2;    // 1 byte: region bits 7-5, power bits 4-0
constexpr uint8_t Downlink = 0xC4;       // 1 byte: rate code
constexpr uint8_t Bandwidth = 0xC6;      // 1 byte: index
constexpr uint8_t TddRatio = 0xC8;       // 1 byte: 0 down, 1 up
constexpr uint8_t FreqHop = 0xCA;        // 1 byte: 1 automatic, 0 manual
constexpr uint8_t BaudRate = 0xCD;       // 1 byte: index
constexpr uint8_t Bind = 0xCF;           // 1 byte: 1 starts pairing
constexpr uint8_t UplinkMode = 0xD4;     // 1 byte: index
constexpr uint8_t TestMode = 0xE8;       // 4 bytes: test-mode word
constexpr uint8_t Antenna = 0xEA;        // 1 byte: high nibble fixed antenna, low nibble auto
constexpr uint8_t RcMode = 0xEB;         // 1 byte: 1 PPM, 0 S.Bus
constexpr uint8_t EncryptKey = 0xED;     // 36 bytes: mode, pad, key
constexpr uint8_t Datalink = 0xEE;       // 1 byte: 0x5A USB, 0xA5 UART
constexpr uint8_t EncryptEnable = 0xEF;  // 1 byte: 0 off
constexpr uint8_t GroundIdentity = 0xF0; // 1 byte: 1 Observer, 0 Pilot

// Records (IN).
constexpr uint8_t ProStatus = 0xA1;      // 60 bytes
constexpr uint8_t DeviceInfo = 0xE0;     // 4 bytes
constexpr uint8_t SoftwareInfo = 0xE1;   // 4 bytes
constexpr uint8_t Identity = 0xE3;       // 40 bytes
constexpr uint8_t DevStatus = 0xE6;      // 64 bytes
constexpr uint8_t DevStatus2 = 0xE7;     // 16 bytes
constexpr uint8_t CommandStatus = 0xF8;  // 1 byte
constexpr uint8_t Scan = 0xF9;           // 16 bytes

// Firmware upgrade.
constexpr uint8_t UpgradeStatus = 0xBA;       // IN 4 bytes
constexpr uint8_t UpgradeDataCheck = 0xBC;    // OUT 1 byte
constexpr uint8_t ProgramEdid = 0xBD;         // OUT 0
constexpr uint8_t EraseHi3798 = 0xBE;         // OUT 0
constexpr uint8_t ProgramHiImage = 0xBF;      // OUT 4 bytes: length
constexpr uint8_t EraseMcu2 = 0xD0;           // OUT 0
constexpr uint8_t ProgramMcu2 = 0xD1;         // OUT 0
constexpr uint8_t RestartMcu2 = 0xD2;         // OUT 0
constexpr uint8_t CheckMcu2 = 0xD3;           // OUT 0
constexpr uint8_t FifoStatus = 0xF1;          // IN 1
constexpr uint8_t CheckHi3798 = 0xF2;         // OUT 1
constexpr uint8_t Hi3798Result = 0xF3;        // IN 1
constexpr uint8_t PreparationStatus = 0xF4;   // IN 1
constexpr uint8_t UpgradeFinished = 0xF5;     // OUT 1
} // namespace req

// The command status byte: low seven bits 1 = done, bit 7 = rejected.
namespace cmdstatus {
constexpr uint8_t Done = 0x01;
constexpr uint8_t Failed = 0x81;
constexpr uint8_t Pending = 0x00;
} // namespace cmdstatus
