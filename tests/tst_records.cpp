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

    // The three status records at their byte offsets, little-endian, bytes
    // signed where the unit sends signed values.
    void record_layouts()
    {
        QStringList got;
        auto f = [&](const char* name, qint64 v) { got << QString("%1=%2").arg(name).arg(v); };
        const QByteArray st = QByteArray::fromHex("85090000 e8030000 07000000 5f000000 84030000 03000000 05000101 "
                                                  "00ff19f6 3715033c 04000000 02000000 1d000000 d2040000 0b000000 "
                                                  "16000000 1101a599");
        const rec::DevStatus s = rec::decode_dev_status(reinterpret_cast<const unsigned char*>(st.constData()));
        f("freq", s.freq), f("g_pass", s.g_ldpc_pass), f("g_fail", s.g_ldpc_fail), f("region", s.region_index());
        f("power", link::shown_power(s.g_rf_power, false)), f("offset_power", link::shown_power(s.g_rf_power, true));
        f("a_pass", s.a_ldpc_pass), f("a_fail", s.a_ldpc_fail), f("downlink", s.downlink), f("mode", s.freq_mode);
        f("bind", s.bind), f("baud", s.baud_index), f("g_snr", s.g_snr), f("g_vga", s.g_vga), f("g_rssi", s.g_rssi_1);
        f("a_snr", s.a_snr), f("a_vga", s.a_vga), f("a_rssi", s.a_rssi_1), f("g_link", s.grd_link_status);
        f("a_link", s.air_link_status), f("a_power", link::shown_power(s.a_rx_power, false)), f("range", s.range);
        f("lost", s.eth_lost_packet), f("recv", s.eth_rev_packet), f("auto", s.auto_antenna());
        f("second", s.second_antenna()), f("rc", s.rc_mode), f("button", s.pair_button);
        QCOMPARE(got.join(' '), QString("freq=2437 g_pass=1000 g_fail=7 region=2 power=31 offset_power=33 a_pass=900 "
                                        "a_fail=3 downlink=5 mode=1 bind=1 baud=255 g_snr=25 g_vga=-10 g_rssi=55 "
                                        "a_snr=21 a_vga=3 a_rssi=60 g_link=4 a_link=2 a_power=29 range=1234 lost=11 "
                                        "recv=22 auto=1 second=1 rc=1 button=165"));
        got.clear();
        const QByteArray st2 = QByteArray::fromHex("f64c4b80 ff280d21 00020000 88180000");
        const rec::DevStatus2 t = rec::decode_dev_status2(reinterpret_cast<const unsigned char*>(st2.constData()));
        f("a_bb", t.a_bb_temp), f("a_pa", t.a_pa_temp), f("g_bb", t.g_bb_temp), f("g_pa", t.g_pa_temp);
        f("a_rssi2", t.a_rssi_2), f("g_rssi2", t.g_rssi_2), f("usb", t.datalink_usb()), f("observer", t.observer());
        f("encrypted", t.encryption_on()), f("aes", t.encryption_mode()), f("profile", t.profile_index());
        f("up", t.uplink_rate), f("down", t.downlink_rate);
        QCOMPARE(got.join(' '), QString("a_bb=-10 a_pa=76 g_bb=75 g_pa=-128 a_rssi2=255 g_rssi2=40 usb=1 observer=0 "
                                        "encrypted=1 aes=1 profile=1 up=512 down=6280"));
        std::array<unsigned char, 60> pro{};
        for (int w = 0; w < 15; ++w)
            put32(&pro[size_t(4 * w)], uint32_t(0x100 + w));
        pro[0] = 0x05;
        const rec::ProStatus p = rec::decode_pro_status(pro.data());
        const uint32_t words[] = {p.config_byte(), p.a_buf_overflow, p.a_packets_recv, p.a_packets_send,
                                  p.a_packets_submitted, p.a_packets_discard, p.a_packets_retransmit,
                                  p.g_buf_overflow, p.g_packets_recv, p.g_packets_send, p.g_packets_submitted,
                                  p.g_packets_discard, p.g_packets_retransmit, p.datalink_recv, p.datalink_send};
        for (int w = 0; w < 15; ++w)
            QCOMPARE(words[w], w ? uint32_t(0x100 + w) : 0x05u);
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

    // The band's list entry and what the setting sends for it.
    void channels_data()
    {
        QTest::addColumn<int>("band");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("text");
        QTest::addColumn<uint>("mhz"); // 0 with the error flag: none
        QTest::newRow("2.4 GHz, first") << 24 << 0 << 16 << "Chanel 1 (2412MHz)" << 2412u;
        QTest::newRow("2.4 GHz, 14") << 24 << 13 << 16 << "Chanel 14 (2477MHz)" << 2477u;
        QTest::newRow("2.4 GHz, first reserve") << 24 << 14 << 16 << "Chanel RSV (2390MHz)" << 2390u;
        QTest::newRow("2.4 GHz, second reserve") << 24 << 15 << 16 << "Chanel RSV (2495MHz)" << 2495u;
        QTest::newRow("2.4 GHz, past the list") << 24 << 16 << 16 << "" << 0u;
        QTest::newRow("2.5 GHz, first") << 25 << 0 << 14 << "Chanel 1 (2512MHz)" << 2512u;
        QTest::newRow("2.5 GHz, last") << 25 << 13 << 14 << "Chanel 14 (2577MHz)" << 2577u;
        QTest::newRow("1.4 GHz, last") << 14 << 6 << 7 << "Chanel 7 (1485MHz)" << 1485u;
        QTest::newRow("5.8 GHz, last") << 58 << 6 << 7 << "Chanel 7 (5805MHz)" << 5805u;
        QTest::newRow("unknown band: no list, no error") << 0 << 3 << 0 << "" << 0u;
    }
    void channels()
    {
        QFETCH(int, band);
        QFETCH(int, index);
        QFETCH(int, count);
        QFETCH(QString, text);
        QFETCH(uint, mhz);
        QCOMPARE(link::channel_list(band).size(), count);
        QCOMPARE(link::channel_list(band).value(index), text);
        bool error = false;
        QCOMPARE(link::channel_mhz(band, index, &error), mhz);
        QCOMPARE(error, band != 0 && mhz == 0);
    }

    // Entries of the full rate list, the codes they send, and the text and
    // entry shown for a code the unit reports.
    void downlink_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("shown_index");
        QTest::addColumn<QString>("text");
        const QList<int> codes{0, 1, 3, 4, 5, 7, 8, 12, 15};
        for (int i = 0; i < codes.size(); ++i)
            if (i != 7 && i != 8)
                QTest::newRow(qPrintable(QString("entry %1").arg(i))) << i << codes[i] << i << QString();
        QTest::newRow("entry 9: past the table") << 9 << 0 << -2 << "";
        QTest::newRow("code 2 shows its neighbour") << -1 << 2 << 2 << "2.87Mbps";
        QTest::newRow("code 6 shows its neighbour") << -1 << 6 << 4 << "5.66Mbps";
        QTest::newRow("code 8") << 6 << 8 << 6 << "7.52Mbps";
        QTest::newRow("code 9: none") << -1 << 9 << -1 << "unknow";
        QTest::newRow("code 12") << 7 << 12 << 7 << "11.24Mbps";
        QTest::newRow("code 15") << 8 << 15 << 8 << "18.68Mbps";
        QTest::newRow("code 128: unknown") << -1 << 128 << -1 << "unknow";
    }
    void downlink()
    {
        QFETCH(int, index);
        QFETCH(int, code);
        QFETCH(int, shown_index);
        QFETCH(QString, text);
        if (index >= 0)
            QCOMPARE(int(link::downlink_code_for_index(index, true)), code);
        if (shown_index > -2)
            QCOMPARE(link::downlink_index_for_code(code), shown_index);
        if (!text.isEmpty())
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
