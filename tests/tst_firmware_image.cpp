// The image header, the target table, chunking, and the checks that refuse
// a damaged or foreign image.
#include "firmware_image.h"

#include <QTest>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void put32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// A 160-byte header with the given records (type, length, offset, reserved).
struct Rec
{
    uint32_t type;
    uint32_t length;
    uint32_t offset;
    uint32_t reserved;
};

Bytes header_bytes(std::initializer_list<std::pair<int, Rec>> records)
{
    Bytes b(fw::kHeaderSize, 0);
    for (const auto& [k, r] : records) {
        const size_t at = size_t(k) * fw::kRecordSize;
        put32(b, at, r.type);
        put32(b, at + 4, r.length);
        put32(b, at + 8, r.offset);
        put32(b, at + 12, r.reserved);
    }
    return b;
}

} // namespace

Q_DECLARE_METATYPE(fw::ImageFault)

class FirmwareImageTest : public QObject
{
    Q_OBJECT

private slots:
    void parse_fields_data()
    {
        QTest::addColumn<int>("record");
        QTest::addColumn<uint>("type");
        QTest::addColumn<uint>("lengthRaw");
        QTest::addColumn<uint>("offsetRaw");
        QTest::addColumn<uint>("reserved");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("offset");

        QTest::newRow("first record") << 0 << 0x84u << 2500u << 160u << 0u << 2500 << 160;
        QTest::newRow("last record, reserved junk") << 9 << 0x89u << 0x01020304u << 0x00100000u
                                                   << 0xDEADBEEFu << 0x01020304 << 0x00100000;
        QTest::newRow("negative length") << 3 << 0x81u << 0xFFFFFFFFu << 200u << 7u << -1 << 200;
        QTest::newRow("negative offset") << 5 << 0x85u << 10u << 0x80000000u << 0u << 10
                                         << int(0x80000000u);
    }

    void parse_fields()
    {
        QFETCH(int, record);
        QFETCH(uint, type);
        QFETCH(uint, lengthRaw);
        QFETCH(uint, offsetRaw);
        QFETCH(uint, reserved);
        QFETCH(int, length);
        QFETCH(int, offset);

        const Bytes b = header_bytes({{record, {type, lengthRaw, offsetRaw, reserved}}});
        const fw::ImageHeader h = fw::parse_header(b.data(), int(b.size()));
        QCOMPARE(h[size_t(record)].type, uint32_t(type));
        QCOMPARE(h[size_t(record)].length, int32_t(length));
        QCOMPARE(h[size_t(record)].offset, int32_t(offset));
        QCOMPARE(h[size_t(record)].reserved, uint32_t(reserved));
        for (int k = 0; k < fw::kRecordCount; ++k)
            QCOMPARE(h[size_t(k)].used(), k == record);
    }

    void short_header_reads_as_unused()
    {
        // Record 1 is cut in the middle of its length field.
        Bytes b = header_bytes({{0, {0x84, 100, 160, 0}}, {1, {0x85, 0x11223344, 160, 0}}});
        const fw::ImageHeader h = fw::parse_header(b.data(), 22);
        QCOMPARE(h[0].length, 100);
        QCOMPARE(h[1].type, 0x85u);
        QCOMPARE(h[1].length, 0x3344);
        QCOMPARE(h[1].offset, 0);
        for (int k = 2; k < fw::kRecordCount; ++k)
            QVERIFY(!h[size_t(k)].used());
        QVERIFY(!fw::parse_header(nullptr, 160)[0].used());
    }

    void target_table_data()
    {
        QTest::addColumn<uint>("type");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("erase");
        QTest::addColumn<int>("program");
        QTest::addColumn<int>("check");
        QTest::addColumn<int>("eraseBit");
        QTest::addColumn<int>("failBit");
        QTest::addColumn<int>("chunk");
        QTest::addColumn<int>("units");
        QTest::addColumn<int>("maxPayload");

        const int k = 1024, m = 1024 * 1024;
        QTest::newRow("bootloader") << 0x81u << 3 << "bootloader" << 0xB4 << 0xB5 << 0xBC << 4 << 5 << 1024 << 0 << 1 * m;
        QTest::newRow("kernel") << 0x82u << 4 << "kernel" << 0xB6 << 0xB7 << 0xBC << 6 << 7 << 1024 << 0 << 16 * m;
        QTest::newRow("file system") << 0x83u << 5 << "file system" << 0xB8 << 0xB9 << 0xBC << 8 << 9 << 1024 << 0 << 128 * m;
        QTest::newRow("MCU1") << 0x84u << 0 << "MCU1" << 0xB0 << 0xB1 << 0xBC << 0 << 1 << 1024 << 2 << 4 * m;
        QTest::newRow("FPGA") << 0x85u << 2 << "FPGA" << 0xB2 << 0xB3 << 0xBC << 2 << 3 << 1024 << 1 << 16 * m;
        QTest::newRow("MCU2") << 0x86u << 1 << "MCU2" << 0xD0 << 0xD1 << 0xD3 << 10 << 11 << 1024 << 0 << 4 * m;
        QTest::newRow("EDID") << 0x87u << 6 << "EDID" << 0x63 << 0xBD << 0xBC << 0x63 << 12 << 1024 << 0 << 64 * k;
        QTest::newRow("HI3516") << 0x88u << 7 << "HI3516" << 0x63 << 0xBF << 0xBC << 0x63 << 0x63 << 64 << 0 << 256 * m;
        QTest::newRow("HI3798") << 0x89u << 8 << "HI3798" << 0xBE << 0xBF << 0xF2 << 13 << 14 << 1024 << 0 << 256 * m;
    }

    void target_table()
    {
        QFETCH(uint, type);
        QFETCH(int, index);
        QFETCH(QString, name);
        QFETCH(int, erase);
        QFETCH(int, program);
        QFETCH(int, check);
        QFETCH(int, eraseBit);
        QFETCH(int, failBit);
        QFETCH(int, chunk);
        QFETCH(int, units);
        QFETCH(int, maxPayload);

        const fw::Target* t = fw::find_target(type);
        QVERIFY(t);
        QCOMPARE(int(t->index), index);
        QCOMPARE(QString::fromLatin1(t->name), name);
        QCOMPARE(int(t->erase_request), erase);
        QCOMPARE(int(t->program_request), program);
        QCOMPARE(int(t->check_request), check);
        QCOMPARE(t->erase_done_bit, eraseBit);
        QCOMPARE(t->program_failed_bit, failBit);
        QCOMPARE(t->chunk_size, chunk);
        QCOMPARE(int(t->units_bit), units);
        QCOMPARE(int(t->max_payload), maxPayload);
    }

    void unknown_types_data()
    {
        QTest::addColumn<uint>("type");
        QTest::newRow("zero") << 0u;
        QTest::newRow("just below") << 0x80u;
        QTest::newRow("just above") << 0x8Au;
        QTest::newRow("type with a high byte") << 0x184u;
        QTest::newRow("code in the wrong byte") << 0x8400u;
    }

    void unknown_types()
    {
        QFETCH(uint, type);
        QVERIFY(!fw::find_target(type));
    }

    void chunking_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("chunk");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("numoflast");

        QTest::newRow("exact multiple, empty final") << 1024 << 1024 << 1 << 0;
        QTest::newRow("two chunks and a rest") << 2500 << 1024 << 2 << 452;
        QTest::newRow("shorter than a chunk") << 1023 << 1024 << 0 << 1023;
        QTest::newRow("HI3516 100 bytes") << 100 << 64 << 1 << 36;
        QTest::newRow("one byte") << 1 << 64 << 0 << 1;
        QTest::newRow("largest") << 0x7FFFFFFF << 1024 << 2097151 << 1023;
        QTest::newRow("no chunk size") << 100 << 0 << 0 << 0;
    }

    void chunking()
    {
        QFETCH(int, length);
        QFETCH(int, chunk);
        QFETCH(int, count);
        QFETCH(int, numoflast);
        const fw::Chunking c = fw::chunk_payload(length, chunk);
        QCOMPARE(c.count, count);
        QCOMPARE(c.numoflast, numoflast);
    }

    void checks_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<qint64>("headerBytes");
        QTest::addColumn<qint64>("fileSize");
        QTest::addColumn<fw::ImageFault>("fault");
        QTest::addColumn<int>("record");

        auto h = [](std::initializer_list<std::pair<int, Rec>> r) {
            const Bytes b = header_bytes(r);
            return QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size()));
        };
        using F = fw::ImageFault;

        QTest::newRow("one record ending at the file's end")
            << h({{0, {0x84, 100, 160, 0}}}) << qint64(160) << qint64(260) << F::None << -1;
        QTest::newRow("all nine targets")
            << h({{0, {0x81, 10, 160, 0}}, {1, {0x82, 10, 170, 0}}, {2, {0x83, 10, 180, 0}},
                  {3, {0x84, 10, 190, 0}}, {4, {0x85, 10, 200, 0}}, {5, {0x86, 10, 210, 0}},
                  {6, {0x87, 10, 220, 0}}, {7, {0x88, 10, 230, 0}}, {8, {0x89, 10, 240, 0}}})
            << qint64(160) << qint64(250) << F::None << -1;
        QTest::newRow("no used record: nothing to send")
            << h({}) << qint64(160) << qint64(160) << F::None << -1;
        QTest::newRow("unknown type in an unused record is ignored")
            << h({{0, {0x42, 0, 0xFFFFFFFF, 0}}, {1, {0x85, 4, 160, 0}}}) << qint64(160) << qint64(164)
            << F::None << -1;
        QTest::newRow("payloads may overlap each other and the header")
            << h({{0, {0x84, 100, 0, 0}}, {1, {0x85, 100, 50, 0}}}) << qint64(160) << qint64(160)
            << F::None << -1;
        QTest::newRow("file shorter than the header")
            << h({{0, {0x84, 10, 100, 0}}}) << qint64(120) << qint64(120) << F::ShortHeader << -1;
        QTest::newRow("unknown type in a used record")
            << h({{0, {0x84, 10, 160, 0}}, {4, {0x8A, 10, 160, 0}}}) << qint64(160) << qint64(170)
            << F::UnknownType << 4;
        QTest::newRow("unknown type before anything else")
            << h({{0, {0x00, 10, 160, 0}}}) << qint64(160) << qint64(170) << F::UnknownType << 0;
        QTest::newRow("negative length")
            << h({{2, {0x85, 0xFFFFFF00, 160, 0}}}) << qint64(160) << qint64(1000) << F::BadLength << 2;
        QTest::newRow("negative offset")
            << h({{1, {0x85, 10, 0xFFFFFFF0, 0}}}) << qint64(160) << qint64(1000) << F::OutsideFile << 1;
        QTest::newRow("one byte past the end")
            << h({{0, {0x84, 101, 160, 0}}}) << qint64(160) << qint64(260) << F::OutsideFile << 0;
        QTest::newRow("offset past the end")
            << h({{0, {0x84, 1, 300, 0}}}) << qint64(160) << qint64(260) << F::OutsideFile << 0;
        QTest::newRow("sum overflows 32 bits")
            << h({{0, {0x84, 0x7FFFFFFF, 0x7FFFFFFF, 0}}}) << qint64(160) << qint64(0x7FFFFFFF)
            << F::OutsideFile << 0;
        QTest::newRow("first fault in record order wins")
            << h({{1, {0x84, 1, 5000, 0}}, {3, {0x99, 1, 160, 0}}}) << qint64(160) << qint64(161)
            << F::OutsideFile << 1;

        // Sizes: each record against its target, the file against them all.
        const uint32_t mib = 1024 * 1024;
        QTest::newRow("MCU1 record at its target's limit")
            << h({{0, {0x84, 4 * mib, 160, 0}}}) << qint64(160) << qint64(160 + 4 * mib) << F::None << -1;
        QTest::newRow("MCU1 record one byte over")
            << h({{0, {0x84, 4 * mib + 1, 160, 0}}}) << qint64(160) << qint64(160 + 4 * mib + 1) << F::TooLarge << 0;
        QTest::newRow("EDID record over while a larger target's would fit")
            << h({{0, {0x83, 2 * mib, 160, 0}}, {1, {0x87, 64 * 1024 + 1, 160, 0}}}) << qint64(160)
            << qint64(160 + 2 * mib) << F::TooLarge << 1;
        QTest::newRow("2 GiB file, one MCU1 record spanning it")
            << h({{0, {0x84, 0x7FFFFFFFu - 159, 160, 0}}}) << qint64(160) << qint64(0x80000000LL) << F::TooLarge << 0;
        QTest::newRow("file at the largest image size")
            << h({{0, {0x84, 10, 160, 0}}}) << qint64(160) << qint64(fw::max_image_size()) << F::None << -1;
        QTest::newRow("file one byte over the largest image size")
            << h({{0, {0x84, 10, 160, 0}}}) << qint64(160) << qint64(fw::max_image_size() + 1) << F::FileTooLarge << -1;
        QTest::newRow("record faults come before the file's size")
            << h({{0, {0x84, 10, 160, 0}}, {2, {0x99, 10, 160, 0}}}) << qint64(160) << qint64(fw::max_image_size() + 1)
            << F::UnknownType << 2;
    }

    void checks()
    {
        QFETCH(QByteArray, header);
        QFETCH(qint64, headerBytes);
        QFETCH(qint64, fileSize);
        QFETCH(fw::ImageFault, fault);
        QFETCH(int, record);

        const fw::ImageHeader h = fw::parse_header(reinterpret_cast<const uint8_t*>(header.constData()),
                                                   int(headerBytes));
        const fw::ImageCheck c = fw::check_image(h, headerBytes, fileSize);
        QCOMPARE(int(c.fault), int(fault));
        QCOMPARE(c.ok(), fault == fw::ImageFault::None);
        if (!c.ok())
            QCOMPARE(c.record, record);
    }
};

QTEST_APPLESS_MAIN(FirmwareImageTest)
#include "tst_firmware_image.moc"
