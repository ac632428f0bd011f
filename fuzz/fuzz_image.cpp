// A whole image file: the header is parsed and checked against the file's
// size the way the upgrade engine does before anything is erased. An image
// that passes is then walked as the engine would send it, chunk by chunk,
// reading every payload byte out of the input: a record the check lets
// through but that lies outside the file shows up as a read past the input.
#include "firmware_image.h"
#include "fuzz_support.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Exactly the file's bytes on the heap, nothing after them.
    std::vector<uint8_t> file(data, data + size);
    const uint8_t* bytes = file.empty() ? nullptr : file.data();

    const int header_bytes = size < size_t(fw::kHeaderSize) ? int(size) : fw::kHeaderSize;
    const fw::ImageHeader header = fw::parse_header(bytes, header_bytes);
    const fw::ImageCheck check = fw::check_image(header, header_bytes, int64_t(size));
    if (size < size_t(fw::kHeaderSize))
        FUZZ_CHECK(check.fault == fw::ImageFault::ShortHeader);
    if (!check.ok()) {
        FUZZ_CHECK(check.record >= -1 && check.record < fw::kRecordCount);
        return 0;
    }

    FUZZ_CHECK(int64_t(size) <= fw::max_image_size());
    unsigned sum = 0;
    for (const fw::ImageRecord& r : header) {
        if (!r.used())
            continue;
        const fw::Target* t = fw::find_target(r.type);
        FUZZ_CHECK(t && t->type == r.type && t->chunk_size > 0);
        FUZZ_CHECK(r.length > 0 && r.offset >= 0 && r.length <= t->max_payload);
        const fw::Chunking c = fw::chunk_payload(r.length, t->chunk_size);
        FUZZ_CHECK(c.count >= 0 && c.numoflast >= 0 && c.numoflast < t->chunk_size);
        FUZZ_CHECK(int64_t(c.count) * t->chunk_size + c.numoflast == r.length);
        // Every chunk and the final transfer, from the record's offset on.
        const uint8_t* p = bytes + r.offset;
        for (int k = 0; k < c.count; ++k, p += t->chunk_size)
            sum += p[0] + p[t->chunk_size - 1];
        if (c.numoflast)
            sum += p[0] + p[c.numoflast - 1];
    }
    (void)sum;
    return 0;
}
