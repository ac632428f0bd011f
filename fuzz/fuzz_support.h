// Shared by the fuzz targets: the unit's records arrive in fixed-size
// buffers, so each target copies its input into a heap block of exactly the
// record's size (zero-filled when the input is shorter, as the window's
// buffers are) and AddressSanitizer catches any read past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

// A broken property is a crash, so the fuzzer keeps the input that shows it.
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond);      \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace fuzz {

// The next `n` bytes of the input as a heap block of exactly `n` bytes.
inline std::unique_ptr<unsigned char[]> take_record(const uint8_t*& data, size_t& size, size_t n)
{
    std::unique_ptr<unsigned char[]> rec(new unsigned char[n]());
    const size_t k = size < n ? size : n;
    if (k)
        std::memcpy(rec.get(), data, k);
    data += k;
    size -= k;
    return rec;
}

inline uint32_t le32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace fuzz
