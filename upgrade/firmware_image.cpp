#include "firmware_image.h"

#include <QtGlobal>

namespace fw {

namespace {

constexpr int32_t kKiB = 1024;
constexpr int32_t kMiB = 1024 * kKiB;

// Type, index, name, erase, program, check, erase-done bit, program-failed
// bit, chunk size, upgraded-units bit, largest payload.
const Target kTargets[] = {
    {0x81, kBootloader, QT_TRANSLATE_NOOP("updateThread", "bootloader"), 0xB4, 0xB5, 0xBC, 4, 5, 1024, 0, 1 * kMiB},
    {0x82, kKernel, QT_TRANSLATE_NOOP("updateThread", "kernel"), 0xB6, 0xB7, 0xBC, 6, 7, 1024, 0, 16 * kMiB},
    {0x83, kFileSystem, QT_TRANSLATE_NOOP("updateThread", "file system"), 0xB8, 0xB9, 0xBC, 8, 9, 1024, 0, 128 * kMiB},
    {0x84, kMcu1, QT_TRANSLATE_NOOP("updateThread", "MCU1"), 0xB0, 0xB1, 0xBC, 0, 1, 1024, 2, 4 * kMiB},
    {0x85, kFpga, QT_TRANSLATE_NOOP("updateThread", "FPGA"), 0xB2, 0xB3, 0xBC, 2, 3, 1024, 1, 16 * kMiB},
    {0x86, kMcu2, QT_TRANSLATE_NOOP("updateThread", "MCU2"), 0xD0, 0xD1, 0xD3, 10, 11, 1024, 0, 4 * kMiB},
    {0x87, kEdid, QT_TRANSLATE_NOOP("updateThread", "EDID"), kNoRequest, 0xBD, 0xBC, kNoBit, 12, 1024, 0, 64 * kKiB},
    {0x88, kHi3516, QT_TRANSLATE_NOOP("updateThread", "HI3516"), kNoRequest, 0xBF, 0xBC, kNoBit, kNoBit, 64, 0, 256 * kMiB},
    {0x89, kHi3798, QT_TRANSLATE_NOOP("updateThread", "HI3798"), 0xBE, 0xBF, 0xF2, 13, 14, 1024, 0, 256 * kMiB},
};

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

const Target* find_target(uint32_t type)
{
    for (const Target& t : kTargets)
        if (t.type == type)
            return &t;
    return nullptr;
}

ImageHeader parse_header(const uint8_t* data, int size)
{
    uint8_t raw[kHeaderSize] = {};
    const int n = data ? qBound(0, size, kHeaderSize) : 0;
    for (int i = 0; i < n; ++i)
        raw[i] = data[i];

    ImageHeader header;
    for (int k = 0; k < kRecordCount; ++k) {
        const uint8_t* r = raw + k * kRecordSize;
        header[k].type = le32(r);
        header[k].length = static_cast<int32_t>(le32(r + 4));
        header[k].offset = static_cast<int32_t>(le32(r + 8));
        header[k].reserved = le32(r + 12);
    }
    return header;
}

void write_header(const ImageHeader& header, uint8_t* out)
{
    for (int k = 0; k < kRecordCount; ++k) {
        uint8_t* r = out + k * kRecordSize;
        const uint32_t fields[] = {header[k].type, static_cast<uint32_t>(header[k].length),
                                   static_cast<uint32_t>(header[k].offset), header[k].reserved};
        for (int f = 0; f < 4; ++f)
            for (int i = 0; i < 4; ++i)
                r[4 * f + i] = static_cast<uint8_t>(fields[f] >> (8 * i));
    }
}

Chunking chunk_payload(int32_t length, int chunk_size)
{
    if (chunk_size <= 0)
        return {};
    return {length / chunk_size, length % chunk_size};
}

int64_t max_image_size()
{
    int64_t total = kHeaderSize;
    for (const Target& t : kTargets)
        total += t.max_payload;
    return total;
}

ImageCheck check_image(const ImageHeader& header, int64_t header_bytes, int64_t file_size)
{
    if (header_bytes < kHeaderSize)
        return {ImageFault::ShortHeader, -1};
    for (int k = 0; k < kRecordCount; ++k) {
        const ImageRecord& r = header[k];
        if (!r.used())
            continue;
        if (!find_target(r.type))
            return {ImageFault::UnknownType, k};
        if (r.length < 0)
            return {ImageFault::BadLength, k};
        // 64-bit sum: offset and length are each up to 2^31 - 1.
        if (r.offset < 0 || int64_t(r.offset) + int64_t(r.length) > file_size)
            return {ImageFault::OutsideFile, k};
        if (r.length > find_target(r.type)->max_payload)
            return {ImageFault::TooLarge, k};
    }
    if (file_size > max_image_size())
        return {ImageFault::FileTooLarge, -1};
    return {};
}

} // namespace fw
