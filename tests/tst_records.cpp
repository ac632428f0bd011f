// Record decoding and the value tables, without widgets: what goes on the
// wire and what the unit's bytes mean.
#include "link_tables.h"
#include "status_records.h"

#include <QTest>
#include <algorithm>
#include <array>
#include <vector>

using ByteList = QList<int>;
Q_DECLARE_METATYPE(ByteList)

namespace {
template <size_t N>
std::array<unsigned char, N> bytes(const ByteList& list)
{
    std::array<unsigned char, N> a{};
    for (int i = 0; i < list.size() && i < int(N); ++i)
        a[size_t(i)] = uint8_t(list[i]);
    return a;
}

void put32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
} // namespace

class RecordsTest : public QObject
{
    Q_OBJECT

private slots:
    void software_info_data()
    {
        QTest::addColumn<ByteList>("rec");
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<int>("model");
        QTest::addColumn<int>("band");
        QTest::addColumn<int>("power");
        QTest::addColumn<bool>("offset");
        QTest::newRow("1.2.3 model 0") << ByteList{0x23, 0x01, 0x00, 0x00} << "1.2.3" << 0 << 24 << 28 << false;
        QTest::newRow("model 21 2.5G") << ByteList{0x00, 0x51, 0x01, 0x00} << "1.0.0" << 21 << 25 << 33 << true;
        QTest::newRow("model 4 1.4G") << ByteList{0x10, 0x42, 0x00, 0x00} << "2.1.0" << 4 << 14 << 28 << false;
        QTest::newRow("model 9 1.4G offset") << ByteList{0x00, 0x90, 0x00, 0x00} << "0.0.0" << 9 << 14 << 33 << true;
        QTest::newRow("model 12 5.8G") << ByteList{0x00, 0xC0, 0x00, 0x00} << "0.0.0" << 12 << 58 << 28 << false;
        QTest::newRow("model 17 1.4G 30") << ByteList{0x00, 0x10, 0x01, 0x00} << "0.0.0" << 17 << 14 << 30 << false;
        QTest::newRow("model 27 2.4G offset") << ByteList{0x00, 0xB0, 0x01, 0x00} << "0.0.0" << 27 << 24 << 33 << true;
        QTest::newRow("model 28 unknown") << ByteList{0x00, 0xC0, 0x01, 0xFF} << "0.0.0" << 28 << 0 << 0 << false;
        QTest::newRow("bandwidth bits ignored") << ByteList{0xFF, 0x0F, 0xF0, 0xFF} << "15.15.15" << 0 << 24 << 28 << false;
    }

    void software_info()
    {
        QFETCH(ByteList, rec);
        QFETCH(QString, firmware);
        QFETCH(int, model);
        QFETCH(int, band);
        QFETCH(int, power);
        QFETCH(bool, offset);
        const auto r = bytes<4>(rec);
        const rec::SoftwareInfo s = rec::decode_software_info(r.data());
        QCOMPARE(rec::firmware_text(s), firmware);
        QCOMPARE(s.model_index, model);
        const rec::ModelBand mb = rec::model_band(model);
        QCOMPARE(mb.band_code, band);
        if (band) {
            QCOMPARE(mb.power_level, power);
            QCOMPARE(mb.power_offset_flag, offset);
        }
    }

    void device_info_data()
    {
        QTest::addColumn<ByteList>("rec");
        QTest::addColumn<uint>("baseband");
        QTest::addColumn<bool>("air");
        QTest::newRow("ground") << ByteList{0x04, 0x03, 0x02, 0x00} << 0x020304u << false;
        QTest::newRow("air") << ByteList{0x01, 0x00, 0x00, 0x80} << 0x1u << true;
        QTest::newRow("low bits of byte 3 unused") << ByteList{0xFF, 0xFF, 0xFF, 0x7F} << 0xFFFFFFu << false;
    }

    void device_info()
    {
        QFETCH(ByteList, rec);
        QFETCH(uint, baseband);
        QFETCH(bool, air);
        const auto r = bytes<4>(rec);
        const rec::DeviceInfo d = rec::decode_device_info(r.data());
        QCOMPARE(d.baseband, baseband);
        QCOMPARE(d.air_unit, air);
    }

    void identity_and_serial_label_data()
    {
        QTest::addColumn<QByteArray>("serial");
        QTest::addColumn<QByteArray>("hi3798");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("decodedSerial");
        QTest::newRow("plain") << QByteArray("QL24G0000001") << QByteArray() << "SN:QL24G0000001-20304-abc-1440" << "QL24G0000001";
        QTest::newRow("NOSN") << QByteArray("NOSN") << QByteArray() << "SN:20304-abc-1440" << "NOSN";
        QTest::newRow("one char") << QByteArray("X") << QByteArray() << "SN:20304-abc-1440" << "X";
        QTest::newRow("hi3798") << QByteArray("AB12") << QByteArray("V1.0.2") << "SN:AB12-20304-abc-1440-V1.0.2" << "AB12";
        QTest::newRow("hi3798 one char ignored") << QByteArray("AB12") << QByteArray("V") << "SN:AB12-20304-abc-1440" << "AB12";
    }

    void identity_and_serial_label()
    {
        QFETCH(QByteArray, serial);
        QFETCH(QByteArray, hi3798);
        QFETCH(QString, label);
        QFETCH(QString, decodedSerial);
        std::array<unsigned char, 40> r{};
        std::copy(serial.begin(), serial.end(), r.begin());
        put32(&r[12], 0xabc);
        put32(&r[16], 0x020304);
        put32(&r[20], 0x1440);
        std::copy(hi3798.begin(), hi3798.end(), r.begin() + 24);
        const rec::Identity id = rec::decode_identity(r.data());
        QCOMPARE(id.serial, decodedSerial);
        QCOMPARE(id.mcu2_version, 0x1440u);
        QCOMPARE(rec::serial_label(id), label);
    }

    void unterminated_texts_stay_in_their_fields()
    {
        // No NUL anywhere: the serial stops at 12 characters, the HI3798
        // text at the end of the record.
        std::array<unsigned char, 40> r;
        r.fill('A');
        const rec::Identity id = rec::decode_identity(r.data());
        QCOMPARE(id.serial, QString(12, 'A'));
        QCOMPARE(id.hi3798_version, QString(16, 'A'));
        QCOMPARE(rec::field_text(r.data(), 3, 12), QString("AAA"));
    }

    void mcu2_version_data()
    {
        QTest::addColumn<uint>("word");
        QTest::addColumn<int>("unit");
        QTest::addColumn<int>("decision");
        QTest::addColumn<bool>("extended");
        QTest::newRow("0x1440 ground extended") << 0x1440u << 1 << 1 << true;
        QTest::newRow("0x3000 ground basic") << 0x3000u << 3 << 1 << false;
        QTest::newRow("0x2000 air") << 0x2000u << 2 << 0 << false;
        QTest::newRow("0x0030 air extended by L") << 0x0030u << 0 << 0 << true;
        QTest::newRow("0x4000 unknown") << 0x4000u << 4 << 4 << false;
        QTest::newRow("0x0300 M=3 basic") << 0x0300u << 0 << 0 << false;
    }

    void mcu2_version()
    {
        QFETCH(uint, word);
        QFETCH(int, unit);
        QFETCH(int, decision);
        QFETCH(bool, extended);
        const rec::Mcu2Version v = rec::decode_mcu2_version(word);
        QCOMPARE(v.unit, unit);
        QCOMPARE(v.unit_decision, decision);
        QCOMPARE(v.extended(), extended);
    }

    void dev_status_layout()
    {
        std::array<unsigned char, 64> r{};
        put32(&r[0], 2437);
        put32(&r[4], 1000);
        put32(&r[8], 7);
        put32(&r[12], 0x5F);
        put32(&r[16], 900);
        put32(&r[20], 3);
        r[24] = 5; r[26] = 1; r[27] = 1; r[29] = 0xFF; r[30] = 25; r[31] = 0xF6;
        r[32] = 55; r[33] = 21; r[34] = 3; r[35] = 60;
        put32(&r[36], 4);
        put32(&r[40], 2);
        put32(&r[44], 0x1D);
        put32(&r[48], 1234);
        put32(&r[52], 11);
        put32(&r[56], 22);
        r[60] = 0x11; r[61] = 1; r[62] = 0xA5; r[63] = 0x99;
        const rec::DevStatus s = rec::decode_dev_status(r.data());
        QCOMPARE(s.freq, 2437u);
        QCOMPARE(s.g_ldpc_pass, 1000u);
        QCOMPARE(s.g_ldpc_fail, 7u);
        QCOMPARE(s.region_index(), 2);
        QCOMPARE(link::shown_power(s.g_rf_power, false), 31);
        QCOMPARE(link::shown_power(s.g_rf_power, true), 33);
        QCOMPARE(s.a_ldpc_pass, 900u);
        QCOMPARE(s.a_ldpc_fail, 3u);
        QCOMPARE(int(s.downlink), 5);
        QCOMPARE(int(s.freq_mode), 1);
        QCOMPARE(int(s.bind), 1);
        QCOMPARE(int(s.baud_index), 0xFF);
        QCOMPARE(int(s.g_snr), 25);
        QCOMPARE(int(s.g_vga), -10);
        QCOMPARE(int(s.g_rssi_1), 55);
        QCOMPARE(int(s.a_snr), 21);
        QCOMPARE(int(s.a_vga), 3);
        QCOMPARE(int(s.a_rssi_1), 60);
        QCOMPARE(s.grd_link_status, 4u);
        QCOMPARE(s.air_link_status, 2u);
        QCOMPARE(link::shown_power(s.a_rx_power, false), 29);
        QCOMPARE(s.range, 1234u);
        QCOMPARE(s.eth_lost_packet, 11u);
        QCOMPARE(s.eth_rev_packet, 22u);
        QVERIFY(s.auto_antenna());
        QVERIFY(s.second_antenna());
        QCOMPARE(int(s.rc_mode), 1);
        QCOMPARE(int(s.pair_button), 0xA5);
    }

    void dev_status2_layout()
    {
        std::array<unsigned char, 16> r{};
        r[0] = 0xF6; r[1] = 76; r[2] = 75; r[3] = 0x80; r[4] = 0xFF; r[5] = 40; r[6] = 0x0D; r[7] = 0x21;
        put32(&r[8], 512);
        put32(&r[12], 6280);
        const rec::DevStatus2 s = rec::decode_dev_status2(r.data());
        QCOMPARE(int(s.a_bb_temp), -10);
        QCOMPARE(int(s.a_pa_temp), 76);
        QCOMPARE(int(s.g_bb_temp), 75);
        QCOMPARE(int(s.g_pa_temp), -128);
        QCOMPARE(int(s.a_rssi_2), 255);
        QCOMPARE(int(s.g_rssi_2), 40);
        QVERIFY(s.datalink_usb());
        QVERIFY(!s.observer());
        QVERIFY(s.encryption_on());
        QCOMPARE(s.encryption_mode(), 1);
        QCOMPARE(s.profile_index(), 1);
        QCOMPARE(s.uplink_rate, 512u);
        QCOMPARE(s.downlink_rate, 6280u);
    }

    void pro_status_layout()
    {
        std::array<unsigned char, 60> r{};
        for (int w = 0; w < 15; ++w)
            put32(&r[size_t(4 * w)], uint32_t(0x100 + w));
        r[0] = 0x05;
        const rec::ProStatus p = rec::decode_pro_status(r.data());
        QCOMPARE(int(p.config_byte()), 0x05);
        QCOMPARE(p.a_buf_overflow, 0x101u);
        QCOMPARE(p.a_packets_recv, 0x102u);
        QCOMPARE(p.a_packets_send, 0x103u);
        QCOMPARE(p.a_packets_submitted, 0x104u);
        QCOMPARE(p.a_packets_discard, 0x105u);
        QCOMPARE(p.a_packets_retransmit, 0x106u);
        QCOMPARE(p.g_buf_overflow, 0x107u);
        QCOMPARE(p.g_packets_recv, 0x108u);
        QCOMPARE(p.g_packets_send, 0x109u);
        QCOMPARE(p.g_packets_submitted, 0x10Au);
        QCOMPARE(p.g_packets_discard, 0x10Bu);
        QCOMPARE(p.g_packets_retransmit, 0x10Cu);
        QCOMPARE(p.datalink_recv, 0x10Du);
        QCOMPARE(p.datalink_send, 0x10Eu);
    }

    void rssi_bar_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("30") << 30 << 70 << "-30dBm";
        QTest::newRow("60") << 60 << 40 << "-60dBm";
        QTest::newRow("100") << 100 << 0 << "-100dBm";
        QTest::newRow("101") << 101 << 0 << "-101dBm";
        QTest::newRow("0") << 0 << 70 << "-0dBm";
        QTest::newRow("no reading") << 255 << 0 << "-255dBm";
    }

    void rssi_bar()
    {
        QFETCH(int, n);
        QFETCH(int, value);
        QFETCH(QString, text);
        QCOMPARE(rec::rssi_bar_value(unsigned(n)), value);
        QCOMPARE(rec::rssi_text(unsigned(n)), text);
    }

    void temperatures_data()
    {
        QTest::addColumn<int>("t");
        QTest::addColumn<bool>("hot");
        QTest::addColumn<QString>("text");
        QTest::newRow("75") << 75 << false << QString::fromUtf8("75 ℃");
        QTest::newRow("76") << 76 << true << QString::fromUtf8("76 ℃");
        QTest::newRow("-10") << -10 << false << QString::fromUtf8("-10 ℃");
        QTest::newRow("127") << 127 << true << QString::fromUtf8("127 ℃");
    }

    void temperatures()
    {
        QFETCH(int, t);
        QFETCH(bool, hot);
        QFETCH(QString, text);
        QCOMPARE(rec::temperature_hot(int8_t(t)), hot);
        QCOMPARE(rec::temperature_text(int8_t(t)), text);
    }

    void channel_lists()
    {
        const QStringList l24 = link::channel_list(24);
        QCOMPARE(l24.size(), 16);
        QCOMPARE(l24.first(), QString("Chanel 1 (2412MHz)"));
        QCOMPARE(l24.at(13), QString("Chanel 14 (2477MHz)"));
        QCOMPARE(l24.at(14), QString("Chanel RSV (2390MHz)"));
        QCOMPARE(l24.at(15), QString("Chanel RSV (2495MHz)"));
        const QStringList l25 = link::channel_list(25);
        QCOMPARE(l25.size(), 14);
        QCOMPARE(l25.first(), QString("Chanel 1 (2512MHz)"));
        QCOMPARE(l25.last(), QString("Chanel 14 (2577MHz)"));
        QCOMPARE(link::channel_list(14).last(), QString("Chanel 7 (1485MHz)"));
        QCOMPARE(link::channel_list(58).last(), QString("Chanel 7 (5805MHz)"));
        QVERIFY(link::channel_list(0).isEmpty());
    }

    void channel_mhz_data()
    {
        QTest::addColumn<int>("band");
        QTest::addColumn<int>("index");
        QTest::addColumn<uint>("mhz");
        QTest::addColumn<bool>("error");
        QTest::newRow("24/0") << 24 << 0 << 2412u << false;
        QTest::newRow("24/13") << 24 << 13 << 2477u << false;
        QTest::newRow("24/14") << 24 << 14 << 2390u << false;
        QTest::newRow("24/15") << 24 << 15 << 2495u << false;
        QTest::newRow("24/16") << 24 << 16 << 0u << true;
        QTest::newRow("58/6") << 58 << 6 << 5805u << false;
        QTest::newRow("14/6") << 14 << 6 << 1485u << false;
        QTest::newRow("25/13") << 25 << 13 << 2577u << false;
        QTest::newRow("unknown band") << 0 << 3 << 0u << false;
    }

    void channel_mhz()
    {
        QFETCH(int, band);
        QFETCH(int, index);
        QFETCH(uint, mhz);
        QFETCH(bool, error);
        bool out = false;
        QCOMPARE(link::channel_mhz(band, index, &out), mhz);
        QCOMPARE(out, error);
    }

    void downlink_mapping_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("code");
        QTest::newRow("0") << 0 << 0;
        QTest::newRow("1") << 1 << 1;
        QTest::newRow("2") << 2 << 3;
        QTest::newRow("3") << 3 << 4;
        QTest::newRow("4") << 4 << 5;
        QTest::newRow("5") << 5 << 7;
        QTest::newRow("6") << 6 << 8;
        QTest::newRow("7") << 7 << 12;
        QTest::newRow("8") << 8 << 15;
        QTest::newRow("9 past the table") << 9 << 0;
    }

    void downlink_mapping()
    {
        QFETCH(int, index);
        QFETCH(int, code);
        QCOMPARE(int(link::downlink_code_for_index(index, true)), code);
        if (code != 0 || index == 0)
            QCOMPARE(link::downlink_index_for_code(code), index);
    }

    void downlink_codes_shown_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("text");
        QTest::newRow("2 neighbour") << 2 << 2 << "2.87Mbps";
        QTest::newRow("6 neighbour") << 6 << 4 << "5.66Mbps";
        QTest::newRow("8") << 8 << 6 << "7.52Mbps";
        QTest::newRow("9 none") << 9 << -1 << "unknow";
        QTest::newRow("12") << 12 << 7 << "11.24Mbps";
        QTest::newRow("15") << 15 << 8 << "18.68Mbps";
        QTest::newRow("128 unknown") << 128 << -1 << "unknow";
    }

    void downlink_codes_shown()
    {
        QFETCH(int, code);
        QFETCH(int, index);
        QFETCH(QString, text);
        QCOMPARE(link::downlink_index_for_code(code), index);
        QCOMPARE(link::downlink_rate_text(int8_t(code)), text);
    }

    void baud_and_region_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0 << "9600bps";
        QTest::newRow("2") << 2 << "115200bps";
        QTest::newRow("4") << 4 << "460800bps";
        QTest::newRow("7") << 7 << "115200bps";
        QTest::newRow("-1") << -1 << "115200bps";
    }

    void baud_and_region()
    {
        QFETCH(int, baud);
        QFETCH(QString, text);
        QCOMPARE(link::baud_text(int8_t(baud)), text);
    }

    void region_power_byte()
    {
        QCOMPARE(int(link::region_power_byte(2, 33, true)), 0x5F);
        QCOMPARE(int(link::region_power_byte(1, 28, false)), 0x3C);
        QCOMPARE(int(link::region_power_byte(0, 30, false)), 30);
    }

    // The band scan record on the band's channel grid. The answer is read
    // only as far as the unit sent it: a short answer moves fewer points
    // instead of drawing unmeasured channels at 0 dBm.
    void scan_levels_data()
    {
        QTest::addColumn<int>("band");
        QTest::addColumn<ByteList>("answer");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("firstMhz");
        QTest::addColumn<int>("stepMhz");

        const ByteList full{0, 40, 100, 255, 101, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
        QTest::newRow("2.4 GHz") << 24 << full << 16 << 2407 << 5;
        QTest::newRow("2.5 GHz") << 25 << full << 16 << 2512 << 5;
        QTest::newRow("5.8 GHz uses 7 bytes") << 58 << full << 7 << 5745 << 10;
        QTest::newRow("1.4 GHz not drawn") << 14 << full << 0 << 0 << 0;
        QTest::newRow("unknown band") << 0 << full << 0 << 0 << 0;
        QTest::newRow("short answer") << 24 << ByteList{30, 31, 32} << 3 << 2407 << 5;
        QTest::newRow("short answer 5.8 GHz") << 58 << ByteList{30, 31, 32, 33, 34, 35} << 6 << 5745 << 10;
        QTest::newRow("empty answer") << 24 << ByteList{} << 0 << 0 << 0;
    }

    void scan_levels()
    {
        QFETCH(int, band);
        QFETCH(ByteList, answer);
        QFETCH(int, count);
        QFETCH(int, firstMhz);
        QFETCH(int, stepMhz);

        // Exactly the answer's bytes on the heap, so that a sanitizer build
        // catches a read past them.
        std::vector<unsigned char> bytes(answer.begin(), answer.end());
        rec::ScanPoint points[rec::kScanRecordSize];
        const int n = rec::scan_levels(band, bytes.data(), bytes.size(), points);
        QCOMPARE(n, count);
        for (int i = 0; i < n; ++i) {
            QCOMPARE(points[i].mhz, firstMhz + i * stepMhz);
            QCOMPARE(points[i].dbm, -std::min(answer[i], 100));
        }
    }
};

QTEST_APPLESS_MAIN(RecordsTest)
#include "tst_records.moc"
