// The statistics log read back: rows as samples in time, split into
// recordings, with the values the history window plots, sums up and
// exports. Pure functions, no database and no widgets.
#pragma once

#include "stat_log.h"

#include <QDate>
#include <QPointF>
#include <QString>
#include <QVector>
#include <array>
#include <cstdint>

namespace history {

// One column of the log besides the time, in the log's column order.
struct Field
{
    const char* name;
    void (*set)(statlog::LogRecord&, qint64);
    qint64 (*get)(const statlog::LogRecord&);
};
constexpr int kFieldCount = 23;
const std::array<Field, kFieldCount>& fields();
constexpr char kTimeColumn[] = "time";

// The time column of a row. The tool writes "yyyy-MM-dd hh:mm:ss"; earlier
// versions wrote the time of day alone.
struct TimeKey
{
    enum Kind { Invalid, Full, TimeOfDay };
    Kind kind = Invalid;
    QDate date;      // Full only
    int seconds = 0; // of the day
};
TimeKey parse_time_key(const QString& text);

struct Placed
{
    qint64 ms = 0;             // local time, milliseconds since the epoch
    bool date_assumed = false; // the key had no date
};
// Puts keys, in the order the rows were written, on the time line. Keys
// without a date get the day the file was last modified: the last of them
// lies on `file_day`, and each step back in the time of day before it
// means the day before (the rows ran past midnight). Invalid keys give ms 0.
QVector<Placed> place_times(const QVector<TimeKey>& keys, const QDate& file_day);

struct Sample
{
    qint64 ms = 0;
    bool date_assumed = false;
    statlog::LogRecord rec;
};

// A run of rows without a gap of more than kGapMs between neighbours.
constexpr qint64 kGapMs = 10000;
struct Recording
{
    int first = 0; // sample indexes, inclusive
    int last = 0;
    qint64 start_ms = 0;
    qint64 end_ms = 0;
    bool date_assumed = false; // some of its rows had no date
    qint64 duration_ms() const { return end_ms - start_ms; }
};
// `samples` sorted by time.
QVector<Recording> split_recordings(const QVector<Sample>& samples);

// Packet loss of one interval from the LDPC counters at its two ends, in
// percent, with the status page's arithmetic: 32-bit counters that wrap,
// NaN when no block passed or failed.
double loss_percent(uint32_t fail, uint32_t pass);
double interval_loss(uint32_t pass_before, uint32_t fail_before, uint32_t pass, uint32_t fail);

// What the window plots against time. The RSSI bytes are magnitudes (n is
// -n dBm, 0xFF no reading).
enum SeriesId {
    AirRssi1,
    AirRssi2,
    GroundRssi1,
    GroundRssi2,
    GroundSnr,
    AirSnr,
    DownlinkRate,
    GroundLoss,
    AirLoss,
    SeriesCount
};
// (time in ms, value) of each sample of the recording; NaN where there is
// no value, which the chart draws as a gap.
QVector<QPointF> series_points(const QVector<Sample>& samples, const Recording& r, SeriesId id);
// Mbps of a downlink rate code, NaN for a code without a rate.
double downlink_mbps(int code);

// The points between x0 and x1 (and one either side), thinned to the
// lowest and highest of each of `buckets` equal slices when there are
// more than two per slice. Gaps are kept.
QVector<QPointF> decimate(const QVector<QPointF>& points, double x0, double x1, int buckets);

struct PathLevel
{
    bool any = false;
    int min_dbm = 0;
    int median_dbm = 0; // lower middle of an even count
};
struct LinkDrop
{
    qint64 at_ms = 0;
    qint64 restored_ms = -1; // -1: not within the recording
};
struct Summary
{
    qint64 duration_ms = 0;
    std::array<PathLevel, 4> rssi; // AirRssi1 .. GroundRssi2
    // Ground (downlink) and air (uplink) LDPC counters.
    std::array<double, 2> worst_loss{{-1, -1}};  // -1: no interval with blocks
    std::array<qint64, 2> worst_loss_at{{0, 0}}; // end of that interval
    QVector<LinkDrop> drops;                     // the ground unit's link status leaving 4
};
constexpr uint32_t kLinkUp = 4;
Summary summarize(const QVector<Sample>& samples, const Recording& r);

// The recording as CSV: a header of the log's column names (and
// "date_assumed"), the time as ISO 8601 local date and time.
QString csv_text(const QVector<Sample>& samples, const Recording& r);

} // namespace history
