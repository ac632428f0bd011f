// The band scan record (0xF9). The first input byte picks the band code;
// the rest is the answer, of any length up to the record size, exactly as
// long as the unit sent it.
#include "fuzz_support.h"
#include "status_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    static const int kBands[] = {24, 25, 58, 14, 0};
    const int band = data[0] < 5 * 16 ? kBands[data[0] % 5] : int(data[0]);
    ++data;
    --size;
    const size_t n = size < rec::kScanRecordSize ? size : rec::kScanRecordSize;
    auto answer = fuzz::take_record(data, size, n);

    rec::ScanPoint points[rec::kScanRecordSize];
    const int count = rec::scan_levels(band, answer.get(), n, points);
    rec::ScanGrid grid;
    if (!rec::scan_grid(band, &grid)) {
        FUZZ_CHECK(count == 0);
        return 0;
    }
    FUZZ_CHECK(count >= 0 && size_t(count) <= n && count <= grid.channels);
    FUZZ_CHECK(grid.channels <= int(rec::kScanRecordSize));
    for (int i = 0; i < count; ++i) {
        FUZZ_CHECK(points[i].mhz == grid.first_mhz + i * grid.step_mhz);
        FUZZ_CHECK(points[i].dbm <= 0 && points[i].dbm >= -rec::kMaxScanMagnitude);
        FUZZ_CHECK(answer[size_t(i)] > rec::kMaxScanMagnitude ? points[i].dbm == -rec::kMaxScanMagnitude
                                                              : points[i].dbm == -int(answer[size_t(i)]));
    }
    return 0;
}
