#include "history_data.h"

#include "link_tables.h"

#include <QDateTime>
#include <QHash>
#include <QTime>
#include <algorithm>
#include <cmath>
#include <limits>

namespace history {

namespace {

using statlog::LogRecord;

template <auto Member>
constexpr Field field(const char* name)
{
    using T = std::remove_reference_t<decltype(std::declval<LogRecord&>().*Member)>;
    // Values wider than the member are cut to it, as the unit's words are.
    return {name, [](LogRecord& r, qint64 v) { r.*Member = T(v); },
            [](const LogRecord& r) { return qint64(r.*Member); }};
}

const std::array<Field, kFieldCount> kFields{{
    field<&LogRecord::freq>("freq"),
    field<&LogRecord::g_ldpc_pass>("G_LDPC_PASS"),
    field<&LogRecord::g_ldpc_fail>("G_LDPC_FAIL"),
    field<&LogRecord::g_rssi_1>("G_RSSI_1"),
    field<&LogRecord::g_rssi_2>("G_RSSI_2"),
    field<&LogRecord::g_snr>("G_SNR"),
    field<&LogRecord::g_rf_power>("G_rf_power"),
    field<&LogRecord::a_ldpc_pass>("A_LDPC_PASS"),
    field<&LogRecord::a_ldpc_fail>("A_LDPC_FAIL"),
    field<&LogRecord::a_rssi_1>("A_RSSI_1"),
    field<&LogRecord::a_rssi_2>("A_RSSI_2"),
    field<&LogRecord::a_snr>("A_SNR"),
    field<&LogRecord::a_rx_power>("A_rx_power"),
    field<&LogRecord::downlink>("downlink"),
    field<&LogRecord::range>("range"),
    field<&LogRecord::a_vga>("a_VGA"),
    field<&LogRecord::g_vga>("g_VGA"),
    field<&LogRecord::grd_link_status>("grd_link_status"),
    field<&LogRecord::air_link_status>("air_link_status"),
    field<&LogRecord::eth_lost_packet>("eth_lost_packet"),
    field<&LogRecord::eth_rev_packet>("eth_rev_packet"),
    field<&LogRecord::antenna_status>("antenna_status"),
    field<&LogRecord::current_antenna>("current_antenna"),
}};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kSecondsPerDay = 86400;

// Digits at [at, at + n), or -1.
int digits(const QString& s, int at, int n)
{
    int v = 0;
    for (int i = at; i < at + n; ++i) {
        const QChar c = s.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        v = v * 10 + (c.unicode() - '0');
    }
    return v;
}

int time_of_day(const QString& s, int at)
{
    if (s.at(at + 2) != QLatin1Char(':') || s.at(at + 5) != QLatin1Char(':'))
        return -1;
    const int h = digits(s, at, 2), m = digits(s, at + 3, 2), sec = digits(s, at + 6, 2);
    if (h < 0 || m < 0 || sec < 0 || h > 23 || m > 59 || sec > 59)
        return -1;
    return h * 3600 + m * 60 + sec;
}

// Local date and time to ms since the epoch. The zone's offset is looked up
// once per hour of the day: a full conversion per row costs more than the
// whole rest of the loading.
class LocalClock
{
public:
    qint64 ms(const QDate& date, int seconds)
    {
        const qint64 hour_key = date.toJulianDay() * 24 + seconds / 3600;
        auto it = offsets.constFind(hour_key);
        if (it == offsets.constEnd()) {
            const QDateTime at(date, QTime(seconds / 3600, 0), Qt::LocalTime);
            it = offsets.insert(hour_key, at.offsetFromUtc());
        }
        const qint64 local_s
            = (date.toJulianDay() - QDate(1970, 1, 1).toJulianDay()) * kSecondsPerDay + seconds;
        return (local_s - *it) * 1000;
    }

private:
    QHash<qint64, int> offsets;
};

uint8_t rssi_byte(const LogRecord& r, SeriesId id)
{
    switch (id) {
    case AirRssi1: return uint8_t(r.a_rssi_1);
    case AirRssi2: return uint8_t(r.a_rssi_2);
    case GroundRssi1: return uint8_t(r.g_rssi_1);
    default: return uint8_t(r.g_rssi_2);
    }
}

double rssi_dbm(const LogRecord& r, SeriesId id)
{
    const uint8_t n = rssi_byte(r, id);
    return n == 0xFF ? kNaN : -double(n);
}

double loss_between(const Sample& before, const Sample& now, bool ground)
{
    return ground ? interval_loss(before.rec.g_ldpc_pass, before.rec.g_ldpc_fail, now.rec.g_ldpc_pass,
                                  now.rec.g_ldpc_fail)
                  : interval_loss(before.rec.a_ldpc_pass, before.rec.a_ldpc_fail, now.rec.a_ldpc_pass,
                                  now.rec.a_ldpc_fail);
}

} // namespace

const std::array<Field, kFieldCount>& fields()
{
    return kFields;
}

TimeKey parse_time_key(const QString& text)
{
    TimeKey k;
    if (text.size() == 8) {
        k.seconds = time_of_day(text, 0);
        if (k.seconds >= 0)
            k.kind = TimeKey::TimeOfDay;
    } else if (text.size() == 19 && text.at(4) == QLatin1Char('-') && text.at(7) == QLatin1Char('-')
               && (text.at(10) == QLatin1Char(' ') || text.at(10) == QLatin1Char('T'))) {
        k.date = QDate(digits(text, 0, 4), digits(text, 5, 2), digits(text, 8, 2));
        k.seconds = time_of_day(text, 11);
        if (k.date.isValid() && k.seconds >= 0)
            k.kind = TimeKey::Full;
    }
    if (k.kind == TimeKey::Invalid)
        k.seconds = 0;
    return k;
}

QVector<Placed> place_times(const QVector<TimeKey>& keys, const QDate& file_day)
{
    QVector<Placed> out(keys.size());
    LocalClock clock;
    QDate day = file_day;
    int later_seconds = -1; // time of day of the next dated-by-file key
    for (int i = keys.size() - 1; i >= 0; --i) {
        const TimeKey& k = keys.at(i);
        if (k.kind == TimeKey::Full) {
            out[i].ms = clock.ms(k.date, k.seconds);
        } else if (k.kind == TimeKey::TimeOfDay) {
            if (later_seconds >= 0 && k.seconds > later_seconds)
                day = day.addDays(-1);
            later_seconds = k.seconds;
            out[i].ms = clock.ms(day, k.seconds);
            out[i].date_assumed = true;
        }
    }
    return out;
}

QVector<Recording> split_recordings(const QVector<Sample>& samples)
{
    QVector<Recording> out;
    for (int i = 0; i < samples.size(); ++i) {
        const Sample& s = samples.at(i);
        if (out.isEmpty() || s.ms - out.last().end_ms > kGapMs) {
            Recording r;
            r.first = r.last = i;
            r.start_ms = r.end_ms = s.ms;
            out.append(r);
        }
        Recording& r = out.last();
        r.last = i;
        r.end_ms = s.ms;
        r.date_assumed = r.date_assumed || s.date_assumed;
    }
    return out;
}

double loss_percent(uint32_t fail, uint32_t pass)
{
    const uint32_t total = fail + pass;
    if (total == 0)
        return kNaN;
    // In float and with the product wrapping, as the status page has it.
    return double(float(uint32_t(fail * 100u)) / float(total));
}

double interval_loss(uint32_t pass_before, uint32_t fail_before, uint32_t pass, uint32_t fail)
{
    return loss_percent(uint32_t(fail - fail_before), uint32_t(pass - pass_before));
}

double downlink_mbps(int code)
{
    // The rates are those the status page names.
    static const std::array<double, 256> table = [] {
        std::array<double, 256> t;
        for (int c = 0; c < 256; ++c) {
            const QString text = link::downlink_rate_text(int8_t(c));
            bool ok = false;
            const double v = text.endsWith(QLatin1String("Mbps")) ? text.chopped(4).toDouble(&ok) : 0;
            t[size_t(c)] = ok ? v : kNaN;
        }
        return t;
    }();
    return code >= 0 && code < 256 ? table[size_t(code)] : kNaN;
}

QVector<QPointF> series_points(const QVector<Sample>& samples, const Recording& r, SeriesId id)
{
    QVector<QPointF> out;
    if (samples.isEmpty() || r.last >= samples.size())
        return out;
    out.reserve(r.last - r.first + 1);
    for (int i = r.first; i <= r.last; ++i) {
        const Sample& s = samples.at(i);
        double v = kNaN;
        switch (id) {
        case AirRssi1:
        case AirRssi2:
        case GroundRssi1:
        case GroundRssi2: v = rssi_dbm(s.rec, id); break;
        case GroundSnr: v = s.rec.g_snr; break;
        case AirSnr: v = s.rec.a_snr; break;
        case DownlinkRate: v = downlink_mbps(s.rec.downlink); break;
        case GroundLoss:
        case AirLoss:
            if (i > r.first)
                v = loss_between(samples.at(i - 1), s, id == GroundLoss);
            break;
        case SeriesCount: break;
        }
        out.append(QPointF(double(s.ms), v));
    }
    return out;
}

QVector<QPointF> decimate(const QVector<QPointF>& points, double x0, double x1, int buckets)
{
    auto by_x = [](const QPointF& p, double x) { return p.x() < x; };
    int from = int(std::lower_bound(points.begin(), points.end(), x0, by_x) - points.begin());
    int to = int(std::lower_bound(points.begin(), points.end(), x1, by_x) - points.begin());
    // One point either side, so that the line runs to the edges.
    from = std::max(0, from - 1);
    to = std::min(int(points.size()), to + 1);
    if (buckets < 1 || to - from <= 2 * buckets || x1 <= x0)
        return points.mid(from, to - from);

    QVector<QPointF> out;
    out.reserve(2 * buckets + 8);
    const double width = (x1 - x0) / buckets;
    int i = from;
    while (i < to) {
        const long bucket = std::lround(std::floor((points.at(i).x() - x0) / width));
        int lo = -1, hi = -1;
        bool gap = false;
        for (; i < to && std::lround(std::floor((points.at(i).x() - x0) / width)) == bucket; ++i) {
            const double y = points.at(i).y();
            if (std::isnan(y)) {
                gap = true;
                continue;
            }
            if (lo < 0 || y < points.at(lo).y())
                lo = i;
            if (hi < 0 || y > points.at(hi).y())
                hi = i;
        }
        if (lo >= 0) {
            out.append(points.at(std::min(lo, hi)));
            if (hi != lo)
                out.append(points.at(std::max(lo, hi)));
        }
        if (gap)
            out.append(QPointF(points.at(i - 1).x(), kNaN));
    }
    return out;
}

Summary summarize(const QVector<Sample>& samples, const Recording& r)
{
    Summary s;
    if (samples.isEmpty() || r.last >= samples.size())
        return s;
    s.duration_ms = r.duration_ms();
    for (int path = AirRssi1; path <= GroundRssi2; ++path) {
        std::vector<int> levels;
        levels.reserve(size_t(r.last - r.first + 1));
        for (int i = r.first; i <= r.last; ++i) {
            const uint8_t n = rssi_byte(samples.at(i).rec, SeriesId(path));
            if (n != 0xFF)
                levels.push_back(-int(n));
        }
        PathLevel& level = s.rssi[size_t(path)];
        if (levels.empty())
            continue;
        level.any = true;
        level.min_dbm = *std::min_element(levels.begin(), levels.end());
        const auto middle = levels.begin() + long(levels.size() - 1) / 2;
        std::nth_element(levels.begin(), middle, levels.end());
        level.median_dbm = *middle;
    }
    for (int i = r.first + 1; i <= r.last; ++i) {
        for (size_t unit = 0; unit < 2; ++unit) {
            const double loss = loss_between(samples.at(i - 1), samples.at(i), unit == 0);
            if (!std::isnan(loss) && loss > s.worst_loss[unit]) {
                s.worst_loss[unit] = loss;
                s.worst_loss_at[unit] = samples.at(i).ms;
            }
        }
        const bool was_up = samples.at(i - 1).rec.grd_link_status == kLinkUp;
        const bool up = samples.at(i).rec.grd_link_status == kLinkUp;
        if (was_up && !up)
            s.drops.append({samples.at(i).ms, -1});
        else if (!was_up && up && !s.drops.isEmpty() && s.drops.last().restored_ms < 0)
            s.drops.last().restored_ms = samples.at(i).ms;
    }
    return s;
}

QString csv_text(const QVector<Sample>& samples, const Recording& r)
{
    QString out;
    out += QLatin1String(kTimeColumn);
    for (const Field& f : kFields)
        out += QLatin1Char(',') + QLatin1String(f.name);
    out += QLatin1String(",date_assumed\n");
    if (samples.isEmpty() || r.last >= samples.size())
        return out;
    out.reserve(out.size() * (r.last - r.first + 2));
    for (int i = r.first; i <= r.last; ++i) {
        const Sample& s = samples.at(i);
        out += QDateTime::fromMSecsSinceEpoch(s.ms).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
        for (const Field& f : kFields)
            out += QLatin1Char(',') + QString::number(f.get(s.rec));
        out += s.date_assumed ? QLatin1String(",1\n") : QLatin1String(",0\n");
    }
    return out;
}

} // namespace history
