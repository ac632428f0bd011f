// The unit profile as tables: what a hardware variant and a band give the
// window, and the channel list a unit gets.
#include "link_tables.h"
#include "unit_profile.h"

#include <QTest>

class UnitProfile : public QObject
{
    Q_OBJECT

private slots:
    void variant_features_data()
    {
        QTest::addColumn<int>("variant");
        QTest::addColumn<int>("unit_type");
        QTest::addColumn<QString>("shown"); // q 16QAM, b BB temp, a air counters, n antenna choice
        QTest::addColumn<int>("mask");
        QTest::newRow("variant 1") << 1 << 2 << "qba" << 1;
        QTest::newRow("variant 2") << 2 << 2 << "qba" << 2;
        QTest::newRow("variant 3") << 3 << 1 << "qba" << 8;
        QTest::newRow("variant 4, ground") << 4 << 2 << "" << 12;
        QTest::newRow("variant 4, air") << 4 << 1 << "a" << 12;
        QTest::newRow("variant 5, ground") << 5 << 2 << "n" << 4;
        QTest::newRow("variant 6, undecided") << 6 << 0 << "" << 12;
        QTest::newRow("variant 0: nothing changes") << 0 << 2 << "-" << 1;
        QTest::newRow("variant 15: nothing changes") << 15 << 2 << "-" << 1;
    }

    void variant_features()
    {
        QFETCH(int, variant);
        QFETCH(int, unit_type);
        QFETCH(QString, shown);
        QFETCH(int, mask);
        const profile::VariantFeatures f = profile::variant_features(variant, unit_type);
        QCOMPARE(f.known, shown != "-");
        QCOMPARE(f.qam16, shown.contains('q'));
        QCOMPARE(f.bb_temp, shown.contains('b'));
        QCOMPARE(f.air_counters, shown.contains('a'));
        QCOMPARE(f.antenna_choice, shown.contains('n'));
        QCOMPARE(f.feature_mask, mask);
    }

    void band_view_data()
    {
        QTest::addColumn<int>("band");
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("high");
        QTest::addColumn<bool>("scan");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("points");
        QTest::addColumn<bool>("region");
        QTest::newRow("2.4 GHz") << 24 << 2400 << 2500 << true << 2400 << 5 << 15 << true;
        QTest::newRow("2.5 GHz") << 25 << 2500 << 2600 << true << 2512 << 5 << 15 << false;
        QTest::newRow("1.4 GHz: no scan") << 14 << 1400 << 1500 << false << 1400 << 5 << 6 << false;
        QTest::newRow("5.8 GHz") << 58 << 5730 << 5830 << true << 5730 << 10 << 6 << false;
        QTest::newRow("unknown") << 0 << 0 << 0 << false << 0 << 0 << 0 << false;
    }

    void band_view()
    {
        QFETCH(int, band);
        QFETCH(int, low);
        QFETCH(int, high);
        QFETCH(bool, scan);
        QFETCH(int, first);
        QFETCH(int, step);
        QFETCH(int, points);
        QFETCH(bool, region);
        const profile::BandView v = profile::band_view(band);
        QCOMPARE(v.known, low != 0);
        QCOMPARE(v.low_mhz, low);
        QCOMPARE(v.high_mhz, high);
        QCOMPARE(v.scan_page, scan);
        QCOMPARE(v.first_mhz, first);
        QCOMPARE(v.step_mhz, step);
        QCOMPARE(v.points, points);
        QCOMPARE(v.region, region);
    }

    // Every entry sends the MHz its text names, whatever the variant took out.
    void unit_channels_data()
    {
        QTest::addColumn<int>("band");
        QTest::addColumn<int>("variant");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("text");
        QTest::addColumn<uint>("mhz");
        QTest::newRow("2.4 GHz, variant 1, channel 7") << 24 << 1 << 16 << 6 << "Chanel 7 (2442MHz)" << 2442u;
        QTest::newRow("2.4 GHz, variant 4, after the gap") << 24 << 4 << 15 << 6 << "Chanel 8 (2447MHz)" << 2447u;
        QTest::newRow("2.4 GHz, variant 4, before the gap") << 24 << 4 << 15 << 5 << "Chanel 6 (2437MHz)" << 2437u;
        QTest::newRow("2.4 GHz, variant 4, last") << 24 << 4 << 15 << 14 << "Chanel RSV (2495MHz)" << 2495u;
        QTest::newRow("2.4 GHz, variant 4, first RSV") << 24 << 4 << 15 << 13 << "Chanel RSV (2390MHz)" << 2390u;
        QTest::newRow("5.8 GHz, variant 4, last") << 58 << 4 << 6 << 5 << "Chanel 6 (5795MHz)" << 5795u;
        QTest::newRow("2.5 GHz, variant 5") << 25 << 5 << 14 << 13 << "Chanel 14 (2577MHz)" << 2577u;
        QTest::newRow("unknown band") << 0 << 4 << 0 << -1 << "" << 0u;
    }

    void unit_channels()
    {
        QFETCH(int, band);
        QFETCH(int, variant);
        QFETCH(int, count);
        QFETCH(int, index);
        QFETCH(QString, text);
        QFETCH(uint, mhz);
        const QVector<link::Channel> list = link::unit_channels(band, variant);
        QCOMPARE(list.size(), count);
        if (index < 0)
            return;
        QCOMPARE(list[index].text, text);
        QCOMPARE(list[index].mhz, uint32_t(mhz));
    }

};

QTEST_APPLESS_MAIN(UnitProfile)
#include "tst_unit_profile.moc"
