// The pure functions under the window: the unit's records as they come off
// the wire, what its model and hardware variant make of the window, the
// link's value tables and the payload bytes of the settings. Most as one
// table of "<function> <input>" and one line of what it gives.
#include "link_tables.h"
#include "setting_payloads.h"
#include "status_records.h"
#include "testsupport.h"
#include "unit_profile.h"

#include <QTest>
#include <algorithm>
#include <array>
#include <vector>

using testsupport::bytes;

namespace {
template <size_t N>
QByteArray to_bytes(const std::array<uint8_t, N>& a)
{
    return QByteArray(reinterpret_cast<const char*>(a.data()), int(N));
}

QString hex(uint8_t b)
{
    return QByteArray(1, char(b)).toHex();
}

void put32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

// A band's chart as one line: range, page, starting curve, region setting.
QString chart(int band)
{
    const profile::BandView v = profile::band_view(band);
    if (!v.known)
        return "-";
    return QString("%1-%2%3 %4+%5x%6 end@%7%8 %9")
        .arg(v.low_mhz).arg(v.high_mhz).arg(v.scan_page ? " scan" : "").arg(v.first_mhz).arg(v.step_mhz)
        .arg(v.points).arg(v.end_index).arg(v.region ? " region" : "").arg(v.mark);
}

// What the function named first makes of the rest of `input`, as one line.
QString evaluate(const QString& input)
{
    const QStringList a = input.split(' ');
    const QString kind = a[0];
    auto n = [&](int i) { return a.value(i).toInt(nullptr, 0); };
    auto b = [&](int i) { return uint8_t(a.value(i).toInt(nullptr, 16)); };
    if (kind == "software") {
        const unsigned char r[4] = {b(1), b(2), b(3), b(4)};
        const rec::SoftwareInfo s = rec::decode_software_info(r);
        const rec::ModelBand mb = rec::model_band(s.model_index);
        const QString band = mb.known ? QString("%1 %2%3").arg(mb.band_code).arg(mb.power_level)
                                            .arg(mb.power_offset_flag ? " offset" : "")
                                      : QString::number(mb.band_code); // known exactly when it has a band
        return QString("%1 model %2: %3; %4").arg(rec::firmware_text(s)).arg(s.model_index)
            .arg(band, chart(mb.band_code));
    }
    if (kind == "device") {
        const unsigned char r[4] = {b(1), b(2), b(3), b(4)};
        const rec::DeviceInfo d = rec::decode_device_info(r);
        return QString::number(d.baseband, 16) + (d.air_unit ? " air" : " ground");
    }
    if (kind == "identity") { // serial, HI3798 version; "unterminated": no NUL in the record
        std::array<unsigned char, 40> r{};
        if (a[1] == "unterminated") {
            r.fill('A');
            const rec::Identity id = rec::decode_identity(r.data());
            return id.serial + ' ' + id.hi3798_version + ' ' + rec::field_text(r.data(), 3, 12);
        }
        const QByteArray serial = a[1].toLatin1(), hi3798 = a.value(2).toLatin1();
        std::copy(serial.begin(), serial.end(), r.begin());
        put32(&r[12], 0xabc);
        put32(&r[16], 0x020304);
        put32(&r[20], 0x1440);
        std::copy(hi3798.begin(), hi3798.end(), r.begin() + 24);
        const rec::Identity id = rec::decode_identity(r.data());
        return QString("%1 %2 %3 %4").arg(id.serial, id.hi3798_version).arg(id.mcu2_version, 0, 16)
            .arg(rec::serial_label(id));
    }
    if (kind == "mcu2") {
        const rec::Mcu2Version v = rec::decode_mcu2_version(uint32_t(n(1)));
        return QString("unit %1 decision %2%3").arg(v.unit).arg(v.unit_decision).arg(v.extended() ? " extended" : "");
    }
    if (kind == "variant") { // q 16QAM, b BB temp, a air counters, n antenna choice; - unknown
        const profile::VariantFeatures f = profile::variant_features(n(1), n(2));
        QString got = f.known ? "" : "-";
        for (auto [on, c] : std::initializer_list<std::pair<bool, char>>{
                 {f.qam16, 'q'}, {f.bb_temp, 'b'}, {f.air_counters, 'a'}, {f.antenna_choice, 'n'}})
            if (on)
                got += c;
        return got + " mask " + QString::number(f.feature_mask);
    }
    if (kind == "channel") { // band, variant, index: the unit's list, its entry; the band's own list agrees
        const QVector<link::Channel> list = link::unit_channels(n(1), n(2));
        const link::Channel c = list.value(n(3));
        bool error = false;
        const uint32_t mhz = link::channel_mhz(n(1), n(3), &error);
        if (n(2) != 4 && (link::channel_list(n(1)).value(n(3)) != c.text || mhz != c.mhz || error != (n(1) && !mhz)))
            return "the band's list differs";
        return QString("%1: %2 %3").arg(list.size()).arg(c.text).arg(c.mhz);
    }
    if (kind == "rssi")
        return QString::number(rec::rssi_bar_value(unsigned(n(1)))) + ' ' + rec::rssi_text(unsigned(n(1)));
    if (kind == "temp")
        return QString(rec::temperature_hot(int8_t(n(1))) ? "red " : "green ") + rec::temperature_text(int8_t(n(1)));
    if (kind == "baud")
        return link::baud_text(int8_t(n(1)));
    if (kind == "entry") { // of the trimmed rate list: the code sent, the entry that code shows
        const int code = link::downlink_code_for_index(n(1), true);
        return QString("code %1 at %2").arg(code).arg(link::downlink_index_for_code(code));
    }
    if (kind == "rate")
        return QString("entry %1 ").arg(link::downlink_index_for_code(n(1))) + link::downlink_rate_text(int8_t(n(1)));
    if (kind == "frequency")
        return to_bytes(payload::frequency(uint32_t(n(1)))).toHex();
    if (kind == "region")
        return hex(link::region_power_byte(n(1), n(2), a.size() > 3));
    if (kind == "antenna") // first, second, auto on, auto off
        return QStringList{hex(payload::antenna_first(b(1))), hex(payload::antenna_second(b(1))),
                           hex(payload::antenna_auto_on(b(1))), hex(payload::antenna_auto_off(b(1)))}.join(' ');
    if (kind == "config") // ARQ on, off, group 1, 2, restore
        return QStringList{hex(payload::config_arq(b(1), true)), hex(payload::config_arq(b(1), false)),
                           hex(payload::config_antenna_group(b(1), 1)), hex(payload::config_antenna_group(b(1), 2)),
                           hex(payload::config_restore(b(1)))}.join(' ');
    if (kind == "scan") { // band, then the answer's bytes: "points first+step", each point checked
        // Exactly the answer's bytes on the heap, so that a sanitizer build
        // catches a read past them.
        std::vector<unsigned char> answer;
        for (int i = 2; i < a.size(); ++i)
            answer.push_back(uint8_t(n(i)));
        rec::ScanPoint points[rec::kScanRecordSize];
        const int count = rec::scan_levels(n(1), answer.data(), answer.size(), points);
        const int step = count > 1 ? points[1].mhz - points[0].mhz : 0;
        for (int i = 0; i < count; ++i)
            if (points[i].mhz != points[0].mhz + i * step || points[i].dbm != -std::min(int(answer[size_t(i)]), 100))
                return QString("point %1 at %2/%3").arg(i).arg(points[i].mhz).arg(points[i].dbm);
        return count ? QString("%1 %2+%3").arg(count).arg(points[0].mhz).arg(step) : "0";
    }
    if (kind == "testmode") { // on, then the entry's rate or off again
        std::array<uint8_t, 4> w = payload::test_mode({0x12, 0x34, 0x56, 0x78}, true);
        if (a[1] == "off")
            return to_bytes(w).toHex() + ' ' + to_bytes(payload::test_mode(w, false)).toHex();
        const bool ok = payload::test_downlink(w, n(1));
        return (ok ? "" : "none ") + to_bytes(w).toHex();
    }
    return "?";
}
} // namespace

class RecordsTest : public QObject
{
    Q_OBJECT

private slots:
    void values_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("shown");
        const QString c24 = "2400-2500 scan 2400+5x15 end@16 region 2.4g mark";
        const QString c14 = "1400-1500 1400+5x6 end@7 1.4g mark";
        const std::initializer_list<std::pair<const char*, QString>> rows{
            // The software record (0xE1): firmware, model, and what the model's band gives: power, offset, chart.
            {"software 23 01 00 00", "1.2.3 model 0: 24 28; " + c24},
            {"software 00 51 01 00", "1.0.0 model 21: 25 33 offset; 2500-2600 scan 2512+5x15 end@16 2.5g mark"},
            {"software 10 42 00 00", "2.1.0 model 4: 14 28; " + c14}, // no scan
            {"software 00 90 00 00", "0.0.0 model 9: 14 33 offset; " + c14},
            {"software 00 c0 00 00", "0.0.0 model 12: 58 28; 5730-5830 scan 5730+10x6 end@7 5.8g mark"},
            {"software 00 10 01 00", "0.0.0 model 17: 14 30; " + c14},
            {"software 00 b0 01 00", "0.0.0 model 27: 24 33 offset; " + c24},
            {"software 00 c0 01 ff", "0.0.0 model 28: 0; -"},
            {"software ff 0f f0 ff", "15.15.15 model 0: 24 28; " + c24}, // the bandwidth bits ignored
            // The device record (0xE0): baseband version, air unit bit; the low bits of byte 3 unused.
            {"device 04 03 02 00", "20304 ground"}, {"device 01 00 00 80", "1 air"},
            {"device ff ff ff 7f", "ffffff ground"},
            // The identity record (0xE3) and the serial label; a text stops at the end of its field.
            {"identity QL24G0000001", "QL24G0000001  1440 SN:QL24G0000001-20304-abc-1440"},
            {"identity NOSN", "NOSN  1440 SN:20304-abc-1440"}, {"identity X", "X  1440 SN:20304-abc-1440"},
            {"identity AB12 V1.0.2", "AB12 V1.0.2 1440 SN:AB12-20304-abc-1440-V1.0.2"},
            {"identity AB12 V", "AB12 V 1440 SN:AB12-20304-abc-1440"}, // one character: no version
            {"identity unterminated", "AAAAAAAAAAAA AAAAAAAAAAAAAAAA AAA"},
            // The second controller's version word.
            {"mcu2 0x1440", "unit 1 decision 1 extended"}, {"mcu2 0x3000", "unit 3 decision 1"},
            {"mcu2 0x2000", "unit 2 decision 0"}, {"mcu2 0x0030", "unit 0 decision 0 extended"}, // by L
            {"mcu2 0x4000", "unit 4 decision 4"}, {"mcu2 0x0300", "unit 0 decision 0"},
            // The first controller's hardware variant and unit type: what the window gets.
            {"variant 1 2", "qba mask 1"}, {"variant 2 2", "qba mask 2"}, {"variant 3 1", "qba mask 8"},
            {"variant 4 2", " mask 12"}, {"variant 4 1", "a mask 12"}, {"variant 5 2", "n mask 4"},
            {"variant 6 0", " mask 12"}, {"variant 0 2", "- mask 1"}, {"variant 15 2", "- mask 1"},
            // A unit's channel list: the band's, less entry 6 for variant 4; each entry sends the MHz it names.
            {"channel 24 1 0", "16: Chanel 1 (2412MHz) 2412"}, {"channel 24 1 6", "16: Chanel 7 (2442MHz) 2442"},
            {"channel 24 1 13", "16: Chanel 14 (2477MHz) 2477"}, {"channel 24 1 14", "16: Chanel RSV (2390MHz) 2390"},
            {"channel 24 1 15", "16: Chanel RSV (2495MHz) 2495"}, {"channel 24 1 16", "16:  0"},
            {"channel 24 4 5", "15: Chanel 6 (2437MHz) 2437"}, {"channel 24 4 6", "15: Chanel 8 (2447MHz) 2447"},
            {"channel 24 4 13", "15: Chanel RSV (2390MHz) 2390"}, {"channel 24 4 14", "15: Chanel RSV (2495MHz) 2495"},
            {"channel 25 0 0", "14: Chanel 1 (2512MHz) 2512"}, {"channel 25 5 13", "14: Chanel 14 (2577MHz) 2577"},
            {"channel 14 1 6", "7: Chanel 7 (1485MHz) 1485"}, {"channel 58 1 6", "7: Chanel 7 (5805MHz) 5805"},
            {"channel 58 4 5", "6: Chanel 6 (5795MHz) 5795"}, {"channel 0 4 3", "0:  0"}, // no list, no error
            // Texts of the readings: the RSSI bar and text, a temperature's colour and text, the baud rate.
            {"rssi 30", "70 -30dBm"}, {"rssi 60", "40 -60dBm"}, {"rssi 100", "0 -100dBm"}, {"rssi 101", "0 -101dBm"},
            {"rssi 0", "70 -0dBm"}, {"rssi 255", "0 -255dBm"}, {"temp 75", "green 75 ℃"}, {"temp 76", "red 76 ℃"},
            {"temp -10", "green -10 ℃"}, {"temp 127", "red 127 ℃"}, {"baud 0", "9600bps"}, {"baud 2", "115200bps"},
            {"baud 4", "460800bps"}, {"baud 7", "115200bps"}, {"baud -1", "115200bps"},
            // Entries of the trimmed rate list and their codes; a code without an entry shows its neighbour.
            {"entry 0", "code 0 at 0"}, {"entry 1", "code 1 at 1"}, {"entry 2", "code 3 at 2"},
            {"entry 3", "code 4 at 3"}, {"entry 4", "code 5 at 4"}, {"entry 5", "code 7 at 5"},
            {"entry 6", "code 8 at 6"}, {"entry 7", "code 12 at 7"}, {"entry 8", "code 15 at 8"},
            {"entry 9", "code 0 at 0"}, // past the table
            {"rate 2", "entry 2 2.87Mbps"}, {"rate 6", "entry 4 5.66Mbps"}, {"rate 8", "entry 6 7.52Mbps"},
            {"rate 9", "entry -1 unknow"}, {"rate 12", "entry 7 11.24Mbps"}, {"rate 15", "entry 8 18.68Mbps"},
            {"rate 128", "entry -1 unknow"},
            // Payloads from what the unit reported. 0xC0: MHz, little-endian.
            {"frequency 2412", "6c090000"}, {"frequency 5805", "ad160000"},
            // 0xEA from the reported antenna byte; 0xA0 from the configuration byte.
            {"antenna 11", "01 11 11 10"}, {"antenna 00", "00 10 01 00"}, {"antenna 10", "00 10 11 10"},
            {"antenna 01", "01 11 01 00"}, {"config 05", "05 04 01 05 07"}, {"config f0", "f1 f0 f0 f4 f2"},
            {"config ff", "ff fe fb ff ff"},
            // 0xC2: region bits 7-5, power bits 4-0 (with its offset).
            {"region 2 33 offset", "5f"}, {"region 1 28", "3c"}, {"region 0 30", "1e"},
            // 0xE8: the test mode in bit 31, the fixed rate code in byte 2's high nibble; other bits kept.
            {"testmode off", "123456f8 12345678"}, {"testmode 0", "123406f8"}, {"testmode 8", "123486f8"},
            {"testmode 9", "1234c6f8"}, {"testmode 10", "1234f6f8"}, // codes 12 and 15
            {"testmode 11", "none 123456f8"}, {"testmode -1", "none 123456f8"},
            // The band scan record on the band's channel grid, read only as far as the unit sent it: a short
            // answer moves fewer points instead of drawing unmeasured channels at 0 dBm.
            {"scan 24 0 40 100 255 101 1 2 3 4 5 6 7 8 9 10 11", "16 2407+5"},
            {"scan 25 0 40 100 255 101 1 2 3 4 5 6 7 8 9 10 11", "16 2512+5"},
            {"scan 58 0 40 100 255 101 1 2 3 4 5 6 7 8 9 10 11", "7 5745+10"}, // 7 bytes used
            {"scan 14 0 40 100 255 101 1 2 3 4 5 6 7 8 9 10 11", "0"}, // not drawn
            {"scan 0 0 40 100 255 101 1 2 3 4 5 6 7 8 9 10 11", "0"}, {"scan 24 30 31 32", "3 2407+5"},
            {"scan 58 30 31 32 33 34 35", "6 5745+10"}, {"scan 24", "0"}};
        for (const auto& [in, out] : rows)
            QTest::newRow(in) << QString(in) << QString(out);
    }
    void values()
    {
        QFETCH(QString, input);
        QFETCH(QString, shown);
        QCOMPARE(evaluate(input), shown);
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

    // 0xED: mode (1 for AES-256), three pad bytes, 16 or 32 printable ASCII
    // characters only; the record of a refused key is all zeros.
    void key_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("result");
        const int ok = int(payload::KeyCheck::Ok), length = int(payload::KeyCheck::BadLength),
                  character = int(payload::KeyCheck::BadCharacter);
        const QString a15(15, QChar('a'));
        QTest::newRow("16 ASCII") << QString("0123456789abcdef") << ok;
        QTest::newRow("32 printable") << QString(" !~0123456789abcdefABCDEF{}[]()<") << ok;
        QTest::newRow("15") << a15 << length;
        QTest::newRow("17") << QString(17, QChar('a')) << length;
        QTest::newRow("empty") << QString() << length;
        QTest::newRow("33") << QString(33, QChar('a')) << length;
        QTest::newRow("64") << QString(64, QChar('x')) << length;
        QTest::newRow("Latin-1 letter") << QString(a15 + QChar(0xE9)) << character;
        QTest::newRow("32 Latin-1 letters") << QString(32, QChar(0xE9)) << character;
        QTest::newRow("DEL") << QString(a15 + QChar(0x7F)) << character;
        QTest::newRow("tab") << QString(a15 + QChar('\t')) << character;
        QTest::newRow("zero") << QString(a15 + QChar(0)) << character;
        QTest::newRow("CJK") << QString(QString(28, QChar('a')) + QString::fromUtf8("密码长度")) << character;
    }
    void key()
    {
        QFETCH(QString, key);
        QFETCH(int, result);
        QCOMPARE(int(payload::check_key(key)), result);
        QCOMPARE(to_bytes(payload::encryption_key(key)),
                 result == int(payload::KeyCheck::Ok)
                     ? bytes({key.size() == 32, 0, 0, 0}) + key.toLatin1() + QByteArray(32 - key.size(), 0)
                     : QByteArray(36, 0));
    }
};

QTEST_APPLESS_MAIN(RecordsTest)
#include "tst_records.moc"
