// The pure parts of the upgrade: the image header, chunking, the checks that
// refuse a damaged or foreign image (with the engine's and the page's words
// for it), and the Update page's texts.
#include "firmware_image.h"
#include "update_thread.h"
#include "upgrade_control.h"

#include <QFile>
#include <QMetaEnum>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {

struct Rec
{
    int record;
    uint32_t type, length, offset, reserved;
};

// A 160-byte header with the given records.
QByteArray header(std::initializer_list<Rec> records)
{
    QByteArray b(fw::kHeaderSize, '\0');
    for (const Rec& r : records) {
        const uint32_t v[4] = {r.type, r.length, r.offset, r.reserved};
        for (int f = 0; f < 16; ++f)
            b[r.record * fw::kRecordSize + f] = char(v[f / 4] >> (8 * (f % 4)));
    }
    return b;
}

// One record at 160 (the first one unless told).
QByteArray one(uint32_t type, uint32_t length, int record = 0) { return header({{record, type, length, 160, 0}}); }

const uint8_t* raw(const QByteArray& b) { return reinterpret_cast<const uint8_t*>(b.constData()); }

} // namespace

class FirmwareImageTest : public QObject
{
    Q_OBJECT

private slots:
    void parse_and_write()
    {
        auto used = [](const fw::ImageHeader& h) { // "record:type/length/offset/reserved"
            QStringList out;
            for (size_t k = 0; k < h.size(); ++k)
                if (h[k].used())
                    out << QString("%1:%2/%3/%4/%5").arg(k).arg(h[k].type, 0, 16).arg(h[k].length).arg(h[k].offset)
                               .arg(h[k].reserved, 0, 16);
            return out.join(' ');
        };
        // Little-endian; length and offset signed; the reserved word kept,
        // whatever it holds; a record without a length unused.
        const QByteArray b = header({{0, 0x84, 2500, 160, 0}, {3, 0x81, 0xFFFFFFFF, 200, 7}, {5, 0x85, 10, 0x80000000, 0},
                                     {7, 0x88, 0, 160, 0}, {9, 0x89, 0x01020304, 0x00100000, 0xDEADBEEF}});
        const fw::ImageHeader h = fw::parse_header(raw(b), b.size());
        QCOMPARE(used(h), QString("0:84/2500/160/0 3:81/-1/200/7 5:85/10/-2147483648/0 "
                                  "9:89/16909060/1048576/deadbeef"));
        QByteArray again(fw::kHeaderSize, '\0');
        fw::write_header(h, reinterpret_cast<uint8_t*>(again.data()));
        QCOMPARE(again, b);
        // Cut in the middle of record 1's length field: what is missing reads as zero.
        const QByteArray two = header({{0, 0x84, 100, 160, 0}, {1, 0x85, 0x11223344, 160, 0}});
        QCOMPARE(used(fw::parse_header(raw(two), 22)), QString("0:84/100/160/0 1:85/13124/0/0"));
        QCOMPARE(used(fw::parse_header(nullptr, 160)), QString());
    }

    // What check_image finds, what the engine says when it refuses the
    // image, and what the page says before anything is started.
    void checks_data()
    {
        QTest::addColumn<QByteArray>("head"); // the bytes the engine could read of the header
        QTest::addColumn<qint64>("fileSize");
        QTest::addColumn<int>("fault"); // fw::ImageFault
        QTest::addColumn<int>("record");
        QTest::addColumn<QString>("said"); // the engine's refusal, or the page's description

        using F = fw::ImageFault;
        const qint64 largest = fw::max_image_size();
        const QString in = "Targets in this image: ", inv = "invalid image: record ";
        auto outside = [&](int record) { return inv + QString::number(record) + " lies outside the file"; };
        auto row = [](const QString& name, const QByteArray& head, qint64 size, F fault, int record, QString said) {
            QTest::newRow(qPrintable(name)) << head << size << int(fault) << record << said;
        };
        row("one record ending at the file's end", one(0x84, 100), 260, F::None, -1, in + "MCU1 (100 bytes)");
        row("all nine targets",
            header({{0, 0x81, 10, 160, 0}, {1, 0x82, 10, 170, 0}, {2, 0x83, 10, 180, 0}, {3, 0x84, 10, 190, 0},
                    {4, 0x85, 10, 200, 0}, {5, 0x86, 10, 210, 0}, {6, 0x87, 10, 220, 0}, {7, 0x88, 10, 230, 0},
                    {8, 0x89, 10, 240, 0}}),
            250, F::None, -1,
            in + "bootloader (10 bytes), kernel (10 bytes), file system (10 bytes), MCU1 (10 bytes), FPGA (10 bytes), "
                 "MCU2 (10 bytes), EDID (10 bytes), HI3516 (10 bytes), HI3798 (10 bytes)");
        row("no used record: nothing to send", header({}), 160, F::None, -1,
            "This image holds no target: nothing would be sent.");
        row("unknown type in an unused record is ignored", header({{0, 0x42, 0, 0xFFFFFFFF, 0}, {1, 0x85, 4, 160, 0}}),
            164, F::None, -1, in + "FPGA (4 bytes)");
        row("payloads may overlap each other and the header", header({{0, 0x84, 100, 0, 0}, {1, 0x85, 100, 50, 0}}),
            160, F::None, -1, in + "MCU1 (100 bytes), FPGA (100 bytes)");
        row("empty file", QByteArray(), 0, F::ShortHeader, -1, "read file error!");
        row("file shorter than the header", header({{0, 0x84, 10, 100, 0}}).left(120), 120, F::ShortHeader, -1,
            "image file too short!");
        row("unknown type in a used record", header({{0, 0x84, 10, 160, 0}, {4, 0x8A, 10, 160, 0}}), 170,
            F::UnknownType, 4, inv + "4 has unknown type 0x8a");
        row("type zero", one(0x00, 10), 170, F::UnknownType, 0, inv + "0 has unknown type 0x0");
        row("type just below the table", one(0x80, 10), 170, F::UnknownType, 0, inv + "0 has unknown type 0x80");
        row("type with a high byte", one(0x184, 10), 170, F::UnknownType, 0, inv + "0 has unknown type 0x184");
        row("code in the wrong byte", one(0x8400, 10), 170, F::UnknownType, 0, inv + "0 has unknown type 0x8400");
        row("negative length", one(0x85, 0xFFFFFF00, 2), 1000, F::BadLength, 2, inv + "2 has invalid length -256");
        row("negative offset", header({{1, 0x85, 10, 0xFFFFFFF0, 0}}), 1000, F::OutsideFile, 1, outside(1));
        row("one byte past the end", one(0x84, 101), 260, F::OutsideFile, 0, outside(0));
        row("offset past the end", header({{0, 0x84, 1, 300, 0}}), 260, F::OutsideFile, 0, outside(0));
        row("sum overflows 32 bits", header({{0, 0x84, 0x7FFFFFFF, 0x7FFFFFFF, 0}}), 0x7FFFFFFF, F::OutsideFile, 0,
            outside(0));
        row("first fault in record order wins", header({{1, 0x84, 1, 5000, 0}, {3, 0x99, 1, 160, 0}}), 161,
            F::OutsideFile, 1, outside(1));
        row("EDID record over while a larger target's would fit",
            header({{0, 0x83, 2 << 20, 160, 0}, {1, 0x87, 64 * 1024 + 1, 160, 0}}), 160 + (2 << 20), F::TooLarge, 1,
            inv + "1 is too large for EDID: 65537 bytes, at most 65536");
        row("2 GiB file, one MCU1 record spanning it", one(0x84, 0x7FFFFFFFu - 159), 0x80000000LL, F::TooLarge, 0,
            inv + "0 is too large for MCU1: 2147483488 bytes, at most 4194304");
        row("file at the largest image size", one(0x84, 10), largest, F::None, -1, in + "MCU1 (10 bytes)");
        row("file one byte over the largest image size", one(0x84, 10), largest + 1, F::FileTooLarge, -1,
            QString("image file too large: %1 bytes, at most %2").arg(largest + 1).arg(largest));
        row("record faults come before the file's size", header({{0, 0x84, 10, 160, 0}, {2, 0x99, 10, 160, 0}}),
            largest + 1, F::UnknownType, 2, inv + "2 has unknown type 0x99");
        // What the "Simulated unit" window saves for a first try.
        const QByteArray sample = upgrade_ui::sample_image(), cut = upgrade_ui::sample_image(true);
        row("the sample image", sample.left(160), sample.size(), F::None, -1,
            in + "MCU1 (24576 bytes), FPGA (40960 bytes)");
        row("the sample image cut short", cut.left(160), cut.size(), F::OutsideFile, 1, outside(1));

        // Each target's largest payload, and one byte more.
        const struct { uint32_t type; const char* name; int32_t max; } limits[] = {
            {0x81, "bootloader", 1 << 20}, {0x82, "kernel", 16 << 20}, {0x83, "file system", 128 << 20},
            {0x84, "MCU1", 4 << 20},       {0x85, "FPGA", 16 << 20},   {0x86, "MCU2", 4 << 20},
            {0x87, "EDID", 64 << 10},      {0x88, "HI3516", 256 << 20}, {0x89, "HI3798", 256 << 20},
        };
        for (const auto& l : limits) {
            const uint32_t at = uint32_t(l.max);
            const QString n = l.name;
            row(n + " at its limit", one(l.type, at), 160 + at, F::None, -1, in + n + QString(" (%1 bytes)").arg(at));
            row(n + " one byte over its limit", one(l.type, at + 1), 161 + at, F::TooLarge, 0,
                inv + QString("0 is too large for %1: %2 bytes, at most %3").arg(n).arg(at + 1).arg(at));
        }
    }

    void checks()
    {
        QFETCH(QByteArray, head);
        QFETCH(qint64, fileSize);
        QFETCH(int, fault);
        QFETCH(int, record);
        QFETCH(QString, said);
        const fw::ImageCheck c = fw::check_image(fw::parse_header(raw(head), head.size()), head.size(), fileSize);
        QCOMPARE(int(c.fault), fault);
        QCOMPARE(c.ok(), fault == int(fw::ImageFault::None));
        if (!c.ok())
            QCOMPARE(c.record, record);
        QCOMPARE(updateThread::image_refusal(head, fileSize), c.ok() ? QString() : said);
        const upgrade_ui::ImageDescription page = upgrade_ui::describe_image(head, fileSize);
        QCOMPARE(page.refused, !c.ok());
        QCOMPARE(page.text, c.ok() ? said : "This image would be refused: " + said);
    }

    // What the small helpers give, worked out in the rows: chunking, and the
    // Update page's texts (the question before flashing, the line naming
    // what failed, the run that did not end, the image among dropped files).
    void helpers_data()
    {
        QTest::addColumn<QString>("got");
        QTest::addColumn<QString>("want");
        auto row = [](const char* name, QString got, QString want) { QTest::newRow(name) << got << want; };

        auto chunks = [](int length, int chunk) { // full chunks + final transfer
            const fw::Chunking c = fw::chunk_payload(length, chunk);
            return QString("%1+%2").arg(c.count).arg(c.numoflast);
        };
        row("chunks: exact multiple, empty final", chunks(1024, 1024), "1+0");
        row("chunks: two and a rest", chunks(2500, 1024), "2+452");
        row("chunks: shorter than one", chunks(1023, 1024), "0+1023");
        row("chunks: HI3516 100 bytes", chunks(100, 64), "1+36");
        row("chunks: one byte", chunks(1, 64), "0+1");
        row("chunks: largest", chunks(0x7FFFFFFF, 1024), "2097151+1023");
        row("chunks: no chunk size", chunks(100, 0), "0+0");

        const upgrade_ui::ImageDescription d =
            upgrade_ui::describe_image(header({{0, 0x84, 4096, 160, 0}, {2, 0x85, 2048, 160, 0}}), 160 + 4096);
        auto asked = [d](int type, const QString& serial, const QString& hi3798) {
            const QString firmware = type ? "1.2.3" : "", baseband = type ? "20304" : "";
            return upgrade_ui::confirmation_text({type, serial, firmware, baseband, hi3798}, "/images/fw.bin", d);
        };
        const QString unit = "Flash this image into the unit?\n\nUnit: ", read = "\nFirmware: 1.2.3\nBaseband: 20304";
        const QString image = "\n\nImage: /images/fw.bin\nTargets: MCU1 (4096 bytes), FPGA (2048 bytes)\n\n"
                               "Keep the unit plugged in and powered until the upgrade has ended.";
        row("question: ground unit", asked(2, "QL24G0000001", ""),
            unit + "ground unit, serial number QL24G0000001" + read + image);
        row("question: air unit with an HI3798", asked(1, "QL24A0000001", "V1.0.5"),
            unit + "air unit, serial number QL24A0000001" + read + "\nHI3798: V1.0.5" + image);
        row("question: nothing read yet", asked(0, "", ""),
            unit + "unit of unknown type, serial number not read\nFirmware: not read\nBaseband: not read" + image);

        auto failure = [](const char* stage, uint32_t type) {
            return upgrade_ui::failure_text(QMetaEnum::fromType<updateThread::Stage>().keyToValue(stage), type);
        };
        row("failure: preparing", failure("Prepare", 0x86), "MCU2 failed while preparing.");
        row("failure: erasing", failure("Erase", 0x84), "MCU1 failed while erasing.");
        row("failure: waiting for the erase", failure("WaitErase", 0x82), "kernel failed while waiting for the erase.");
        row("failure: programming", failure("Program", 0x85), "FPGA failed while programming.");
        row("failure: checking", failure("Check", 0x89), "HI3798 failed while checking the data.");
        row("failure: image refused", failure("ReadImage", 0), "The image was refused; nothing was sent to the unit.");
        row("failure: no target", failure("None", 0), "The image holds no target; nothing was sent to the unit.");

        auto interrupted = [](const QString& image, const QString& serial, uint32_t type) {
            return upgrade_ui::interrupted_text({true, image, serial, QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9)), type});
        };
        const QString stopped = "The last upgrade did not end: the tool stopped ", as = "as it began to flash ";
        const QString began = " It began at 2024-05-06 07:08", on = " on the unit QL24G0000001.";
        const QString again = " The unit may need this upgrade again.";
        row("interrupted: before the first target", interrupted("/i/a.bin", "QL24G0000001", 0),
            stopped + as + "/i/a.bin." + began + on + again);
        row("interrupted: during the FPGA", interrupted("/i/a.bin", "QL24G0000001", 0x85),
            stopped + "while it was flashing FPGA from /i/a.bin." + began + on + again);
        row("interrupted: no serial number read", interrupted("/i/a.bin", "", 0),
            stopped + as + "/i/a.bin." + began + "." + again);
        QTemporaryDir folder; // a record cut short by the crash still says that a run did not end
        upgrade_ui::set_record_folder(folder.path());
        QFile cut(upgrade_ui::record_path());
        cut.open(QIODevice::WriteOnly);
        cut.write("{\"ima");
        cut.close();
        row("interrupted: the record cut short", upgrade_ui::interrupted_text(upgrade_ui::read_upgrade_record()),
            stopped + as + "an image." + again);
        row("interrupted: no record", upgrade_ui::interrupted_text({}), "");

        auto dropped = [](const QStringList& urls) {
            QList<QUrl> list;
            for (const QString& u : urls)
                list << QUrl(u);
            return upgrade_ui::dropped_image_path(list);
        };
        row("dropped: an image (.bin)", dropped({"file:///i/a.bin"}), "/i/a.bin");
        row("dropped: an image (.HEX)", dropped({"file:///i/b.HEX"}), "/i/b.HEX");
        row("dropped: not an image (.txt)", dropped({"file:///i/c.txt"}), "");
        row("dropped: two images", dropped({"file:///i/a.bin", "file:///i/b.HEX"}), "");
        row("dropped: a remote file", dropped({"http://example.com/a.bin"}), "");
    }

    void helpers()
    {
        QFETCH(QString, got);
        QFETCH(QString, want);
        QCOMPARE(got, want);
    }
};

QTEST_APPLESS_MAIN(FirmwareImageTest)
#include "tst_firmware_image.moc"
