// The spectrum the ground unit measures across its band, one curve a second.
#include "wireless_video_link.h"

#include "request_codes.h"
#include "status_records.h"
#include "unit_connection.h"
#include "usb_transport.h"

#include <QtCharts/QSplineSeries>
#include <mutex>

namespace {
// Held around the scan request, always before the transport's own mutex.
// A std::mutex, which ThreadSanitizer sees (and so checks that order).
std::mutex scan_mutex;
} // namespace

void Wireless_Video_Link::scan_freq()
{
    unsigned char buf[rec::kScanRecordSize] = {};
    if (!connection->handle())
        return;
    int rc;
    {
        const std::lock_guard<std::mutex> lock(scan_mutex);
        rc = usb_vendor_transfer(connection->handle(), usb::kDirIn, usb::kRecipientInterface, req::Scan, 0, 0, buf,
                                 rec::kScanRecordSize, usb::kSettingTimeoutMs);
    }
    // A failed read leaves the buffer zero, which would draw the whole band
    // at 0 dBm, its strongest level; the last measured curve stays instead.
    // A short answer likewise moves only the channels it measured.
    if (rc < 0)
        return;
    rec::ScanPoint points[rec::kScanRecordSize];
    const int count = rec::scan_levels(band_code, buf, size_t(rc), points);
    // The curve is changed in one go: the chart lays a spline out again at
    // every change of its series, point by point that is 16 times a scan.
    QVector<QPointF> curve = scan_series->pointsVector();
    for (int i = 0; i < count; ++i) {
        const ChartPoint p{points[i].mhz, points[i].dbm};
        chart_points_table[size_t(i)] = p;
        // The series is set up for the band before the first scan; a scan
        // that finds fewer points (band changed under it) appends instead
        // of replacing past the end.
        if (i < curve.size())
            curve[i] = QPointF(p.mhz, p.dbm);
        else
            curve.append(QPointF(p.mhz, p.dbm));
    }
    if (count > 0)
        scan_series->replace(curve);
}
