// The band scan: one 0xF9 record a second moves the points of the
// Frequency page's curve to the measured levels, on the channel grid of
// the unit's band.
#include "testsupport.h"

#include "sim_link.h"
#include "ui_wireless_video_link.h"
#include "wireless_video_link.h"

#include <QApplication>
#include <QTest>
#include <memory>

using namespace testsupport;

namespace {
std::shared_ptr<sim::SimUnit> ground_unit_of_model(int model)
{
    auto unit = make_ground_unit();
    unit->setModelIndex(model);
    return unit;
}

int count_of(const std::vector<uint8_t>& codes, uint8_t code)
{
    return int(std::count(codes.begin(), codes.end(), code));
}

std::array<uint8_t, 16> ramp(int from)
{
    std::array<uint8_t, 16> m{};
    for (int i = 0; i < 16; ++i)
        m[size_t(i)] = uint8_t(from + i);
    return m;
}
} // namespace

class ScanTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Wireless_Video_Link> w;
    std::shared_ptr<sim::SimDevice> dev;

    // Opens a ground unit of the model and keeps the poll out of the way,
    // so that only the test calls the scan.
    void open_unit(int model)
    {
        dev = plug(ground_unit_of_model(model));
        QCOMPARE(w->open_device(true), 0);
        w->poll_timer()->stop();
        dev->clearLog();
    }

    QList<QPointF> curve() const { return w->scan_series_object()->points(); }

private slots:
    void initTestCase()
    {
        init_resources();
    }

    void init()
    {
        reset_bus();
        w = std::make_unique<Wireless_Video_Link>();
    }

    void cleanup()
    {
        w.reset();
        dev.reset();
        reset_bus();
    }

    void magnitude_to_level_data()
    {
        QTest::addColumn<int>("magnitude");
        QTest::addColumn<int>("dbm");
        QTest::newRow("0") << 0 << 0;
        QTest::newRow("40") << 40 << -40;
        QTest::newRow("99") << 99 << -99;
        QTest::newRow("100") << 100 << -100;
        QTest::newRow("101 clamped") << 101 << -100;
        QTest::newRow("255 clamped") << 255 << -100;
    }

    void magnitude_to_level()
    {
        QFETCH(int, magnitude);
        QFETCH(int, dbm);
        open_unit(0);
        auto m = ramp(20);
        m[3] = uint8_t(magnitude);
        dev->unit().link().setScanMagnitudes(m);
        w->scan_freq();
        QCOMPARE(int(curve().at(3).y()), dbm);
        QCOMPARE(w->chart_points()[3].dbm, dbm);
        // Its neighbours are untouched by the clamping.
        QCOMPARE(int(curve().at(2).y()), -22);
        QCOMPARE(int(curve().at(4).y()), -24);
    }

    void channel_grid_per_band_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<int>("band");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("step");
        QTest::newRow("2.4 GHz") << 0 << 24 << 16 << 2407 << 5;
        QTest::newRow("2.5 GHz") << 20 << 25 << 16 << 2512 << 5;
        QTest::newRow("5.8 GHz") << 12 << 58 << 7 << 5745 << 10;
    }

    void channel_grid_per_band()
    {
        QFETCH(int, model);
        QFETCH(int, band);
        QFETCH(int, channels);
        QFETCH(int, first);
        QFETCH(int, step);
        open_unit(model);
        QCOMPARE(w->band_code, band);
        const int points_before = curve().size();
        QVERIFY(points_before >= channels);
        const auto table_before = w->chart_points();

        dev->unit().link().setScanMagnitudes(ramp(30));
        w->scan_freq();

        const QList<QPointF> points = curve();
        QCOMPARE(points.size(), points_before);
        for (int i = 0; i < channels; ++i) {
            QCOMPARE(int(points.at(i).x()), first + i * step);
            QCOMPARE(int(points.at(i).y()), -(30 + i));
            QCOMPARE(w->chart_points()[size_t(i)].mhz, first + i * step);
            QCOMPARE(w->chart_points()[size_t(i)].dbm, -(30 + i));
        }
        // Bytes past the band's channels are ignored.
        for (size_t i = size_t(channels); i < table_before.size(); ++i) {
            QCOMPARE(w->chart_points()[i].mhz, table_before[i].mhz);
            QCOMPARE(w->chart_points()[i].dbm, table_before[i].dbm);
        }
        QCOMPARE(int(points.at(channels - 1).x()), first + (channels - 1) * step);
    }

    void scan_request_framing()
    {
        open_unit(0);
        w->scan_freq();
        const auto log = dev->log();
        QCOMPARE(int(log.size()), 1);
        QCOMPARE(int(log[0].bRequest), 0xF9);
        QCOMPARE(int(log[0].bmRequestType), 0xC1);
        QCOMPARE(int(log[0].wLength), 16);
        QCOMPARE(int(log[0].wValue), 0);
        QCOMPARE(int(log[0].wIndex), 0);
        QCOMPARE(log[0].timeout_ms, 2000u);
    }

    void band_14_sends_but_leaves_the_chart()
    {
        open_unit(4);
        QCOMPARE(w->band_code, 14);
        const QList<QPointF> before = curve();
        const auto table_before = w->chart_points();
        dev->unit().link().setScanMagnitudes(ramp(50));
        w->scan_freq();
        QCOMPARE(dev->requestCodes(), std::vector<uint8_t>{0xF9});
        QCOMPARE(curve(), before);
        for (size_t i = 0; i < table_before.size(); ++i)
            QCOMPARE(w->chart_points()[i].dbm, table_before[i].dbm);
    }

    void no_device_no_request()
    {
        dev = plug(ground_unit_of_model(0));
        // Plugged but never opened.
        const QList<QPointF> before = curve();
        w->scan_freq();
        QVERIFY(dev->log().empty());
        QCOMPARE(curve(), before);

        // Opened and closed again: no handle, nothing sent.
        QCOMPARE(w->open_device(true), 0);
        w->open_device(false);
        dev->clearLog();
        const QList<QPointF> shown = curve();
        w->scan_freq();
        QVERIFY(dev->log().empty());
        QCOMPARE(curve(), shown);
    }

    void failed_transfer_keeps_the_last_curve_data()
    {
        QTest::addColumn<int>("code");
        QTest::newRow("timeout") << -7;
        QTest::newRow("pipe") << -9;
        QTest::newRow("i/o") << -1;
    }

    void failed_transfer_keeps_the_last_curve()
    {
        QFETCH(int, code);
        open_unit(0);
        dev->unit().link().setScanMagnitudes(ramp(60));
        w->scan_freq();
        const QList<QPointF> measured = curve();
        QCOMPARE(int(measured.at(0).y()), -60);

        // A failed read must not draw the band at 0 dBm, its strongest level.
        dev->failNext(0xF9, code);
        w->scan_freq();
        QCOMPARE(curve(), measured);
        QCOMPARE(w->chart_points()[0].dbm, -60);

        // The next good read moves the curve again.
        dev->unit().link().setScanMagnitudes(ramp(70));
        w->scan_freq();
        QCOMPARE(int(curve().at(0).y()), -70);
    }

    void poll_scans_only_with_a_ground_unit_attached()
    {
        open_unit(0);
        QCOMPARE(w->unit_type, 2);
        w->poll_status();
        auto codes = dev->requestCodes();
        QCOMPARE(count_of(codes, 0xF9), 1);
        // Between the two status records.
        const auto e6 = std::find(codes.begin(), codes.end(), 0xE6);
        const auto f9 = std::find(codes.begin(), codes.end(), 0xF9);
        const auto e7 = std::find(codes.begin(), codes.end(), 0xE7);
        QVERIFY(e6 < f9 && f9 < e7);

        dev->clearLog();
        w->unit_type = 1;
        const QList<QPointF> before = curve();
        w->poll_status();
        QCOMPARE(count_of(dev->requestCodes(), 0xF9), 0);
        QCOMPARE(curve(), before);
    }

    void the_poll_feeds_the_curve_every_second()
    {
        dev = plug(ground_unit_of_model(0));
        dev->unit().link().setScanMagnitudes(ramp(25));
        QCOMPARE(w->open_device(true), 0);
        QTRY_COMPARE_WITH_TIMEOUT(int(curve().at(5).y()), -30, 2500);
        dev->unit().link().setScanMagnitude(5, 90);
        QTRY_COMPARE_WITH_TIMEOUT(int(curve().at(5).y()), -90, 2500);
        w->open_device(false);
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ScanTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_scan.moc"
