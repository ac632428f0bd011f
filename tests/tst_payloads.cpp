// Payload builders of the settings, over more reported states than the
// settings table goes through: bit manipulation of the reported bytes, the
// test-mode word, and the encryption key's checks and limits. The exact
// payloads the window sends are pinned in tst_radio_settings and
// tst_encryption.
#include "setting_payloads.h"
#include "testsupport.h"

#include <QtTest>

using testsupport::bytes;

namespace {
template<size_t N>
QByteArray to_bytes(const std::array<uint8_t, N>& a)
{
    return QByteArray(reinterpret_cast<const char*>(a.data()), int(N));
}
} // namespace

class PayloadsTest : public QObject
{
    Q_OBJECT

private slots:
    void antenna_data()
    {
        QTest::addColumn<int>("reported");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<int>("auto_on");
        QTest::addColumn<int>("auto_off");
        QTest::newRow("second, automatic") << 0x11 << 0x01 << 0x11 << 0x11 << 0x10;
        QTest::newRow("first, fixed") << 0x00 << 0x00 << 0x10 << 0x01 << 0x00;
        QTest::newRow("second, fixed") << 0x10 << 0x00 << 0x10 << 0x11 << 0x10;
        QTest::newRow("first, automatic") << 0x01 << 0x01 << 0x11 << 0x01 << 0x00;
    }

    void antenna()
    {
        QFETCH(int, reported);
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(int, auto_on);
        QFETCH(int, auto_off);
        const auto a = uint8_t(reported);
        QCOMPARE(int(payload::antenna_first(a)), first);
        QCOMPARE(int(payload::antenna_second(a)), second);
        QCOMPARE(int(payload::antenna_auto_on(a)), auto_on);
        QCOMPARE(int(payload::antenna_auto_off(a)), auto_off);
    }

    void configuration_byte_data()
    {
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("arq_on");
        QTest::addColumn<int>("arq_off");
        QTest::addColumn<int>("group1");
        QTest::addColumn<int>("group2");
        QTest::addColumn<int>("restore");
        QTest::newRow("0x05") << 0x05 << 0x05 << 0x04 << 0x01 << 0x05 << 0x07;
        QTest::newRow("other bits kept") << 0xF0 << 0xF1 << 0xF0 << 0xF0 << 0xF4 << 0xF2;
        QTest::newRow("all set") << 0xFF << 0xFF << 0xFE << 0xFB << 0xFF << 0xFF;
    }

    void configuration_byte()
    {
        QFETCH(int, current);
        QFETCH(int, arq_on);
        QFETCH(int, arq_off);
        QFETCH(int, group1);
        QFETCH(int, group2);
        QFETCH(int, restore);
        const auto c = uint8_t(current);
        QCOMPARE(int(payload::config_arq(c, true)), arq_on);
        QCOMPARE(int(payload::config_arq(c, false)), arq_off);
        QCOMPARE(int(payload::config_antenna_group(c, 1)), group1);
        QCOMPARE(int(payload::config_antenna_group(c, 2)), group2);
        QCOMPARE(int(payload::config_restore(c)), restore);
    }

    void test_mode_keeps_other_bits()
    {
        const std::array<uint8_t, 4> word{0x12, 0x34, 0x56, 0x78};
        QCOMPARE(to_bytes(payload::test_mode(word, true)), bytes({0x12, 0x34, 0x56, 0xF8}));
        QCOMPARE(to_bytes(payload::test_mode(payload::test_mode(word, true), false)), to_bytes(word));
    }

    void test_downlink_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("byte2");
        QTest::newRow("0") << 0 << true << 0x05;
        QTest::newRow("8") << 8 << true << 0x85;
        QTest::newRow("9 is code 12") << 9 << true << 0xC5;
        QTest::newRow("10 is code 15") << 10 << true << 0xF5;
        QTest::newRow("11") << 11 << false << 0xA5;
        QTest::newRow("negative") << -1 << false << 0xA5;
    }

    void test_downlink()
    {
        QFETCH(int, index);
        QFETCH(bool, ok);
        QFETCH(int, byte2);
        std::array<uint8_t, 4> word{1, 2, 0xA5, 0x80};
        QCOMPARE(payload::test_downlink(word, index), ok);
        QCOMPARE(int(word[2]), byte2);
        QCOMPARE(int(word[0]), 1);
        QCOMPARE(int(word[1]), 2);
        QCOMPARE(int(word[3]), 0x80);
    }

    void key_check_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("result");
        const int ok = int(payload::KeyCheck::Ok);
        const int length = int(payload::KeyCheck::BadLength);
        const int character = int(payload::KeyCheck::BadCharacter);
        QTest::newRow("16 ASCII") << QString(16, QChar('a')) << ok;
        QTest::newRow("32 printable") << QString(" !~0123456789abcdefABCDEF{}[]()<") << ok;
        QTest::newRow("15") << QString(15, QChar('a')) << length;
        QTest::newRow("17") << QString(17, QChar('a')) << length;
        QTest::newRow("empty") << QString() << length;
        QTest::newRow("33") << QString(33, QChar('a')) << length;
        QTest::newRow("Latin-1 letter") << QString(QString(15, QChar('a')) + QChar(0xE9)) << character;
        QTest::newRow("DEL") << QString(QString(15, QChar('a')) + QChar(0x7F)) << character;
        QTest::newRow("tab") << QString(QString(15, QChar('a')) + QChar('\t')) << character;
        QTest::newRow("zero") << QString(QString(15, QChar('a')) + QChar(0)) << character;
        QTest::newRow("CJK") << QString(QString(28, QChar('a')) + QString::fromUtf8("密码长度")) << character;
    }

    void key_check()
    {
        QFETCH(QString, key);
        QFETCH(int, result);
        QCOMPARE(int(payload::check_key(key)), result);
    }

    void key_record_never_overflows()
    {
        QCOMPARE(to_bytes(payload::encryption_key("0123456789abcdef")).toHex(),
                 QByteArray("00000000") + QByteArray("0123456789abcdef").toHex() + QByteArray(32, '0'));
        // Refused keys give an all-zero record: nothing of them is copied.
        QCOMPARE(to_bytes(payload::encryption_key(QString(64, QChar('x')))), QByteArray(36, 0));
        QCOMPARE(to_bytes(payload::encryption_key(QString(32, QChar(0x00E9)))), QByteArray(36, 0));
    }
};

QTEST_APPLESS_MAIN(PayloadsTest)

#include "tst_payloads.moc"
