// The firmware image file: a 160-byte header of ten 16-byte records, each
// naming a target by its type code and locating its payload in the file.
// Pure code (no I/O, no device): parsing, the target table, chunking and the
// checks that refuse a damaged or foreign image before anything is erased.
#pragma once

#include <array>
#include <cstdint>

namespace fw {

constexpr int kRecordSize = 16;
constexpr int kRecordCount = 10;
constexpr int kHeaderSize = kRecordSize * kRecordCount; // 160

// Marks a request or status bit a target does not have.
constexpr uint8_t kNoRequest = 0x63;
constexpr int kNoBit = 0x63;

// The engine's internal numbering of the targets.
enum TargetIndex : int {
    kMcu1 = 0,
    kMcu2 = 1,
    kFpga = 2,
    kBootloader = 3,
    kKernel = 4,
    kFileSystem = 5,
    kEdid = 6,
    kHi3516 = 7,
    kHi3798 = 8,
    kUnknownTarget = 9,
};

// One header record as it is in the file (little-endian on disk).
struct ImageRecord
{
    uint32_t type = 0;
    int32_t length = 0; // 0: record not used
    int32_t offset = 0; // absolute file offset of the payload
    uint32_t reserved = 0;

    bool used() const { return length != 0; }
};

using ImageHeader = std::array<ImageRecord, kRecordCount>;

// One row of the target table.
struct Target
{
    uint32_t type;
    TargetIndex index;
    const char* name; // translated in the context "updateThread"
    uint8_t erase_request;
    uint8_t program_request;
    uint8_t check_request;
    int erase_done_bit;
    int program_failed_bit;
    int chunk_size;
    uint8_t units_bit; // bit in the upgraded-units byte, 0 for none
    // The largest payload the part can take. Well above the largest image
    // known for each part, far below what would occupy the link for an
    // hour: a record beyond it is not an image for this unit, and erasing
    // the part for it would leave it empty.
    //   MCU1, MCU2        4 MiB  (the largest flash of such controllers)
    //   FPGA             16 MiB  (bitstream with headroom)
    //   bootloader        1 MiB
    //   kernel           16 MiB
    //   file system     128 MiB
    //   EDID             64 KiB  (a few 128-byte blocks in practice)
    //   HI3516, HI3798  256 MiB  (a processor's whole update package)
    int32_t max_payload;
};

// The row for a type code, or null when the type is not in the table.
const Target* find_target(uint32_t type);

// Reads the header from the first `size` bytes of `data`. Records, or parts
// of records, beyond `size` read as zero (unused).
ImageHeader parse_header(const uint8_t* data, int size);

// Writes the header as it is in the file (kHeaderSize bytes at `out`): what
// parse_header reads back.
void write_header(const ImageHeader& header, uint8_t* out);

// A payload of `length` bytes goes as `count` full chunks and one final
// transfer of `numoflast` bytes (possibly 0).
struct Chunking
{
    int count = 0;
    int numoflast = 0;
};
Chunking chunk_payload(int32_t length, int chunk_size);

// The largest image file taken: the header and every target at its largest
// once. The engine holds the whole file in memory while it sends it.
int64_t max_image_size();

// Why an image is refused.
enum class ImageFault {
    None,
    ShortHeader,    // the file ends before the header does
    UnknownType,    // a used record has a type outside the table
    BadLength,      // a used record has a negative length
    OutsideFile,    // a used record's payload does not lie inside the file
    TooLarge,       // a used record is larger than its target can hold
    FileTooLarge,   // the file is larger than max_image_size()
};

struct ImageCheck
{
    ImageFault fault = ImageFault::None;
    int record = -1; // the offending record, -1 for the header itself

    bool ok() const { return fault == ImageFault::None; }
};

// Checks a header against the file it came from: `header_bytes` is how much
// of the header could be read, `file_size` the size of the whole file. The
// first fault found, in record order, is returned; the file's own size is
// judged after the records. Unused records are not looked at; a header
// without any used record is not a fault (nothing will be sent).
ImageCheck check_image(const ImageHeader& header, int64_t header_bytes, int64_t file_size);

} // namespace fw
