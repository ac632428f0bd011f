// The spectrum the ground unit measures across its band, one curve a second.
#include "wireless_video_link.h"

#include "request_codes.h"
#include "usb_transport.h"

#include <QMutex>
#include <QtCharts/QSplineSeries>

namespace {
// Held around the scan request, always before the transport's own mutex.
QMutex scan_mutex;
constexpr int kScanRecordSize = 16;
constexpr int kMaxMagnitude = 100;

struct Grid
{
    int channels;
    int first_mhz;
    int step_mhz;
};

bool scan_grid(int band_code, Grid* grid)
{
    switch (band_code) {
    case 24: *grid = {16, 2407, 5}; return true;
    case 25: *grid = {16, 2512, 5}; return true;
    case 58: *grid = {7, 5745, 10}; return true;
    default: return false;
    }
}
} // namespace

void Wireless_Video_Link::scan_freq()
{
    unsigned char buf[kScanRecordSize] = {};
    if (!dev_handle)
        return;
    int rc;
    {
        QMutexLocker lock(&scan_mutex);
        rc = usb_vendor_transfer(dev_handle, usb::kDirIn, usb::kRecipientInterface, req::Scan, 0, 0, buf,
                            kScanRecordSize, usb::kSettingTimeoutMs);
    }
    Grid grid;
    if (!scan_grid(band_code, &grid))
        return;
    // A failed read leaves the buffer zero, which would draw the whole band
    // at 0 dBm, its strongest level; the last measured curve stays instead.
    if (rc < 0)
        return;
    for (int i = 0; i < grid.channels; ++i) {
        if (buf[i] > kMaxMagnitude)
            buf[i] = kMaxMagnitude;
        const ChartPoint p{grid.first_mhz + i * grid.step_mhz, -int(buf[i])};
        chart_points_table[size_t(i)] = p;
        // The series is set up for the band before the first scan; a scan
        // that finds fewer points (band changed under it) appends instead
        // of replacing past the end.
        if (i < scan_series->count())
            scan_series->replace(i, p.mhz, p.dbm);
        else
            scan_series->append(p.mhz, p.dbm);
    }
}
