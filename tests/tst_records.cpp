// The pure functions under the window, one row per case: the unit's records
// as they come off the wire, what its model and hardware variant make of the
// window (channels, chart, groups), the link's value tables and the payload
// bytes of the settings. The window's use of them is in tst_radio_settings
// and tst_status_poll.
#include "link_tables.h"
#include "setting_payloads.h"
#include "status_records.h"
#include "testsupport.h"
#include "unit_profile.h"

#include <QTest>
#include <algorithm>
#include <array>
#include <vector>

using ByteList = QList<int>;
Q_DECLARE_METATYPE(ByteList)
using testsupport::bytes;

namespace {
template <size_t N>
std::array<unsigned char, N> array_of(const ByteList& list)
{
    std::array<unsigned char, N> a{};
    for (int i = 0; i < list.size() && i < int(N); ++i)
        a[size_t(i)] = uint8_t(list[i]);
    return a;
}

template <size_t N>
QByteArray to_bytes(const std::array<uint8_t, N>& a)
{
    return QByteArray(reinterpret_cast<const char*>(a.data()), int(N));
}

using Pairs = std::initializer_list<std::pair<const char*, const char*>>;

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
} // namespace

class RecordsTest : public QObject
{
    Q_OBJECT

private slots:
    // The software record (0xE1): firmware, model, and what the model's
    // band gives: power level, offset flag, the chart.
    void software_info_data()
    {
        QTest::addColumn<ByteList>("rec");
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<int>("model");
        QTest::addColumn<QString>("band"); // "band power [offset]"
        QTest::addColumn<QString>("chart");
        const QString c24 = "2400-2500 scan 2400+5x15 end@16 region 2.4g mark";
        QTest::newRow("1.2.3 model 0") << ByteList{0x23, 0x01, 0, 0} << "1.2.3" << 0 << "24 28" << c24;
        QTest::newRow("model 21 2.5G") << ByteList{0x00, 0x51, 0x01, 0} << "1.0.0" << 21 << "25 33 offset"
                                       << "2500-2600 scan 2512+5x15 end@16 2.5g mark";
        QTest::newRow("model 4 1.4G: no scan") << ByteList{0x10, 0x42, 0, 0} << "2.1.0" << 4 << "14 28"
                                               << "1400-1500 1400+5x6 end@7 1.4g mark";
        QTest::newRow("model 9 1.4G offset") << ByteList{0x00, 0x90, 0, 0} << "0.0.0" << 9 << "14 33 offset"
                                             << "1400-1500 1400+5x6 end@7 1.4g mark";
        QTest::newRow("model 12 5.8G") << ByteList{0x00, 0xC0, 0, 0} << "0.0.0" << 12 << "58 28"
                                       << "5730-5830 scan 5730+10x6 end@7 5.8g mark";
        QTest::newRow("model 17 1.4G 30") << ByteList{0x00, 0x10, 0x01, 0} << "0.0.0" << 17 << "14 30"
                                          << "1400-1500 1400+5x6 end@7 1.4g mark";
        QTest::newRow("model 27 2.4G offset") << ByteList{0x00, 0xB0, 0x01, 0} << "0.0.0" << 27 << "24 33 offset"
                                              << c24;
        QTest::newRow("model 28 unknown") << ByteList{0x00, 0xC0, 0x01, 0xFF} << "0.0.0" << 28 << "0" << "-";
        QTest::newRow("bandwidth bits ignored") << ByteList{0xFF, 0x0F, 0xF0, 0xFF} << "15.15.15" << 0 << "24 28"
                                                << c24;
    }
    void software_info()
    {
        QFETCH(ByteList, rec);
        QFETCH(QString, firmware);
        QFETCH(int, model);
        QFETCH(QString, band);
        QFETCH(QString, chart);
        const auto r = array_of<4>(rec);
        const rec::SoftwareInfo s = rec::decode_software_info(r.data());
        QCOMPARE(rec::firmware_text(s), firmware);
        QCOMPARE(s.model_index, model);
        const rec::ModelBand mb = rec::model_band(model);
        QCOMPARE(mb.known, mb.band_code != 0);
        QCOMPARE(mb.known ? QString("%1 %2%3").arg(mb.band_code).arg(mb.power_level)
                                .arg(mb.power_offset_flag ? " offset" : "")
                          : QString::number(mb.band_code),
                 band);
        QCOMPARE(::chart(mb.band_code), chart);
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
        const auto r = array_of<4>(rec);
        const rec::DeviceInfo d = rec::decode_device_info(r.data());
        QCOMPARE(d.baseband, baseband);
        QCOMPARE(d.air_unit, air);
    }

    void identity_and_serial_label_data()
    {
        QTest::addColumn<QByteArray>("serial"); // 40 'A's without a NUL: "unterminated"
        QTest::addColumn<QByteArray>("hi3798");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("decoded"); // serial and HI3798 text
        QTest::newRow("plain") << QByteArray("QL24G0000001") << QByteArray() << "SN:QL24G0000001-20304-abc-1440"
                               << "QL24G0000001 ";
        QTest::newRow("NOSN") << QByteArray("NOSN") << QByteArray() << "SN:20304-abc-1440" << "NOSN ";
        QTest::newRow("one char") << QByteArray("X") << QByteArray() << "SN:20304-abc-1440" << "X ";
        QTest::newRow("hi3798") << QByteArray("AB12") << QByteArray("V1.0.2") << "SN:AB12-20304-abc-1440-V1.0.2"
                                << "AB12 V1.0.2";
        QTest::newRow("hi3798 one char ignored") << QByteArray("AB12") << QByteArray("V") << "SN:AB12-20304-abc-1440"
                                                 << "AB12 V";
        // No NUL anywhere: each text stops at the end of its field.
        QTest::newRow("unterminated") << QByteArray("unterminated") << QByteArray() << "" << "AAAAAAAAAAAA AAAAAAAAAAAAAAAA";
    }
    void identity_and_serial_label()
    {
        QFETCH(QByteArray, serial);
        QFETCH(QByteArray, hi3798);
        QFETCH(QString, label);
        QFETCH(QString, decoded);
        std::array<unsigned char, 40> r{};
        if (serial == "unterminated") {
            r.fill('A');
            QCOMPARE(rec::field_text(r.data(), 3, 12), QString("AAA"));
        } else {
            std::copy(serial.begin(), serial.end(), r.begin());
            put32(&r[12], 0xabc);
            put32(&r[16], 0x020304);
            put32(&r[20], 0x1440);
            std::copy(hi3798.begin(), hi3798.end(), r.begin() + 24);
        }
        const rec::Identity id = rec::decode_identity(r.data());
        QCOMPARE(id.serial + ' ' + id.hi3798_version, decoded);
        if (label.isEmpty())
            return;
        QCOMPARE(id.mcu2_version, 0x1440u);
        QCOMPARE(rec::serial_label(id), label);
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

    // What the first controller's hardware variant gives the window.
    void variant_features_data()
    {
        QTest::addColumn<int>("variant");
        QTest::addColumn<int>("unit_type");
        QTest::addColumn<QString>("shown"); // q 16QAM, b BB temp, a air counters, n antenna choice; - unknown
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
        QString got = f.known ? "" : "-";
        for (auto [on, c] : std::initializer_list<std::pair<bool, char>>{
                 {f.qam16, 'q'}, {f.bb_temp, 'b'}, {f.air_counters, 'a'}, {f.antenna_choice, 'n'}})
            if (on)
                got += c;
        QCOMPARE(got, shown);
        QCOMPARE(f.feature_mask, mask);
    }

    // A unit's channel list: the band's list, less entry 6 for variant 4;
    // every entry sends the MHz its text names.
    void channels_data()
    {
        QTest::addColumn<int>("band");
        QTest::addColumn<int>("variant");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("text");
        QTest::addColumn<uint>("mhz"); // 0: none
        QTest::newRow("2.4 GHz, first") << 24 << 1 << 0 << 16 << "Chanel 1 (2412MHz)" << 2412u;
        QTest::newRow("2.4 GHz, channel 7") << 24 << 1 << 6 << 16 << "Chanel 7 (2442MHz)" << 2442u;
        QTest::newRow("2.4 GHz, 14") << 24 << 1 << 13 << 16 << "Chanel 14 (2477MHz)" << 2477u;
        QTest::newRow("2.4 GHz, first reserve") << 24 << 1 << 14 << 16 << "Chanel RSV (2390MHz)" << 2390u;
        QTest::newRow("2.4 GHz, second reserve") << 24 << 1 << 15 << 16 << "Chanel RSV (2495MHz)" << 2495u;
        QTest::newRow("2.4 GHz, past the list") << 24 << 1 << 16 << 16 << "" << 0u;
        QTest::newRow("2.4 GHz, variant 4, before the gap") << 24 << 4 << 5 << 15 << "Chanel 6 (2437MHz)" << 2437u;
        QTest::newRow("2.4 GHz, variant 4, after the gap") << 24 << 4 << 6 << 15 << "Chanel 8 (2447MHz)" << 2447u;
        QTest::newRow("2.4 GHz, variant 4, first RSV") << 24 << 4 << 13 << 15 << "Chanel RSV (2390MHz)" << 2390u;
        QTest::newRow("2.4 GHz, variant 4, last") << 24 << 4 << 14 << 15 << "Chanel RSV (2495MHz)" << 2495u;
        QTest::newRow("2.5 GHz, first") << 25 << 0 << 0 << 14 << "Chanel 1 (2512MHz)" << 2512u;
        QTest::newRow("2.5 GHz, variant 5, last") << 25 << 5 << 13 << 14 << "Chanel 14 (2577MHz)" << 2577u;
        QTest::newRow("1.4 GHz, last") << 14 << 1 << 6 << 7 << "Chanel 7 (1485MHz)" << 1485u;
        QTest::newRow("5.8 GHz, last") << 58 << 1 << 6 << 7 << "Chanel 7 (5805MHz)" << 5805u;
        QTest::newRow("5.8 GHz, variant 4, last") << 58 << 4 << 5 << 6 << "Chanel 6 (5795MHz)" << 5795u;
        QTest::newRow("unknown band: no list, no error") << 0 << 4 << 3 << 0 << "" << 0u;
    }
    void channels()
    {
        QFETCH(int, band);
        QFETCH(int, variant);
        QFETCH(int, index);
        QFETCH(int, count);
        QFETCH(QString, text);
        QFETCH(uint, mhz);
        const QVector<link::Channel> list = link::unit_channels(band, variant);
        QCOMPARE(list.size(), count);
        QCOMPARE(list.value(index), (link::Channel{text, mhz}));
        if (variant == 4)
            return;
        QCOMPARE(link::channel_list(band).value(index), text);
        bool error = false;
        QCOMPARE(link::channel_mhz(band, index, &error), uint32_t(mhz));
        QCOMPARE(error, band != 0 && mhz == 0);
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

    // Texts of the readings: "rssi <n>" gives the bar value and text,
    // "temp <t>" whether it shows red and its text, "baud <i>" the rate.
    void reading_texts_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("shown");
        for (auto [in, out] : Pairs{{"rssi 30", "70 -30dBm"}, {"rssi 60", "40 -60dBm"}, {"rssi 100", "0 -100dBm"},
                               {"rssi 101", "0 -101dBm"}, {"rssi 0", "70 -0dBm"}, {"rssi 255", "0 -255dBm"},
                               {"temp 75", "green 75 ℃"}, {"temp 76", "red 76 ℃"}, {"temp -10", "green -10 ℃"},
                               {"temp 127", "red 127 ℃"}, {"baud 0", "9600bps"}, {"baud 2", "115200bps"},
                               {"baud 4", "460800bps"}, {"baud 7", "115200bps"}, {"baud -1", "115200bps"}})
            QTest::newRow(in) << QString(in) << QString::fromUtf8(out);
    }
    void reading_texts()
    {
        QFETCH(QString, input);
        QFETCH(QString, shown);
        const int n = input.section(' ', 1).toInt();
        if (input.startsWith("rssi"))
            QCOMPARE(QString::number(rec::rssi_bar_value(unsigned(n))) + ' ' + rec::rssi_text(unsigned(n)), shown);
        else if (input.startsWith("temp"))
            QCOMPARE(QString(rec::temperature_hot(int8_t(n)) ? "red " : "green ") + rec::temperature_text(int8_t(n)),
                     shown);
        else
            QCOMPARE(link::baud_text(int8_t(n)), shown);
    }

    // Entries of the trimmed rate list, the codes they send, and the text
    // and entry shown for a code the unit reports.
    void downlink_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("shown_index");
        QTest::addColumn<QString>("text");
        const QList<int> codes{0, 1, 3, 4, 5, 7};
        for (int i = 0; i < codes.size(); ++i)
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

    // The band scan record on the band's channel grid. The answer is read
    // only as far as the unit sent it: a short answer moves fewer points
    // instead of drawing unmeasured channels at 0 dBm.
    void scan_levels_data()
    {
        QTest::addColumn<int>("band");
        QTest::addColumn<ByteList>("answer");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("step");
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
        QFETCH(int, first);
        QFETCH(int, step);
        // Exactly the answer's bytes on the heap, so that a sanitizer build
        // catches a read past them.
        std::vector<unsigned char> bytes(answer.begin(), answer.end());
        rec::ScanPoint points[rec::kScanRecordSize];
        QCOMPARE(rec::scan_levels(band, bytes.data(), bytes.size(), points), count);
        for (int i = 0; i < count; ++i)
            QCOMPARE(QPair(points[i].mhz, points[i].dbm), QPair(first + i * step, -std::min(answer[i], 100)));
    }

    // Payload bytes built from what the unit reported: "<function> <input>"
    // and the bytes in hex.
    void payload_bytes_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("hex");
        for (auto [call, hex] : Pairs{
                 // 0xC0: MHz, little-endian.
                 {"frequency 2412", "6c090000"}, {"frequency 5805", "ad160000"},
                 // 0xEA from the reported antenna byte: first, second, auto on, auto off.
                 {"antenna 11", "01 11 11 10"}, {"antenna 00", "00 10 01 00"}, {"antenna 10", "00 10 11 10"},
                 {"antenna 01", "01 11 01 00"},
                 // 0xA0 from the configuration byte: ARQ on, off, group 1, 2, restore.
                 {"config 05", "05 04 01 05 07"}, {"config f0", "f1 f0 f0 f4 f2"}, {"config ff", "ff fe fb ff ff"},
                 // 0xC2: region bits 7-5, power bits 4-0 (with its offset).
                 {"region 2 33 offset", "5f"}, {"region 1 28", "3c"}, {"region 0 30", "1e"}}) {
            QTest::newRow(call) << QString(call) << QString(hex);
        }
    }
    void payload_bytes()
    {
        QFETCH(QString, call);
        QFETCH(QString, hex);
        const QStringList a = call.split(' ');
        QStringList got;
        const auto b = uint8_t(a.value(1).toInt(nullptr, 16));
        if (a[0] == "frequency")
            got << to_bytes(payload::frequency(a[1].toUInt())).toHex();
        else if (a[0] == "region")
            got << QByteArray(1, char(link::region_power_byte(a[1].toInt(), a[2].toInt(), a.size() > 3))).toHex();
        else
            for (uint8_t v : a[0] == "antenna"
                                 ? std::vector<uint8_t>{payload::antenna_first(b), payload::antenna_second(b),
                                                        payload::antenna_auto_on(b), payload::antenna_auto_off(b)}
                                 : std::vector<uint8_t>{payload::config_arq(b, true), payload::config_arq(b, false),
                                                        payload::config_antenna_group(b, 1),
                                                        payload::config_antenna_group(b, 2), payload::config_restore(b)})
                got << QByteArray(1, char(v)).toHex();
        QCOMPARE(got.join(' '), hex);
    }

    // 0xE8: the test mode in bit 31, the fixed rate code in byte 2's high
    // nibble; every other bit kept.
    void test_mode_word_data()
    {
        QTest::addColumn<int>("index"); // -2: test mode on, then off again
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("word");
        QTest::newRow("on, off") << -2 << true << "123456f8 12345678";
        QTest::newRow("entry 0") << 0 << true << "123406f8";
        QTest::newRow("entry 8") << 8 << true << "123486f8";
        QTest::newRow("entry 9 is code 12") << 9 << true << "1234c6f8";
        QTest::newRow("entry 10 is code 15") << 10 << true << "1234f6f8";
        QTest::newRow("entry 11: none, untouched") << 11 << false << "123456f8";
        QTest::newRow("negative: none") << -1 << false << "123456f8";
    }
    void test_mode_word()
    {
        QFETCH(int, index);
        QFETCH(bool, ok);
        QFETCH(QString, word);
        std::array<uint8_t, 4> w = payload::test_mode({0x12, 0x34, 0x56, 0x78}, true);
        if (index == -2)
            QCOMPARE(to_bytes(w).toHex() + ' ' + to_bytes(payload::test_mode(w, false)).toHex(), word.toLatin1());
        else {
            QCOMPARE(payload::test_downlink(w, index), ok);
            QCOMPARE(to_bytes(w).toHex(), word.toLatin1());
        }
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
        const QByteArray record = to_bytes(payload::encryption_key(key));
        QCOMPARE(record, result == int(payload::KeyCheck::Ok)
                             ? bytes({key.size() == 32, 0, 0, 0}) + key.toLatin1() + QByteArray(32 - key.size(), 0)
                             : QByteArray(36, 0));
    }
};

QTEST_APPLESS_MAIN(RecordsTest)
#include "tst_records.moc"
