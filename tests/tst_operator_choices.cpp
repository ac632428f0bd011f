// What the window offers the operator beyond the settings: the debug log
// file, the places of the log and the statistics database, what the Update
// page says about a chosen image, and the debug view's copy and save.
#include "settings_harness.h"

#include "debug_log.h"
#include "file_places.h"
#include "firmware_image.h"
#include "stat_log.h"
#include "upgrade_support.h"
#include "ui_wireless_video_link.h"
#include "update_thread.h"
#include "upgrade_control.h"
#include "wireless_video_link.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTranslator>

using namespace harness;
using testsupport::DebugCapture;

Q_DECLARE_METATYPE(QtMsgType)

using upgrade_support::put32;
using upgrade_support::write_file;

namespace {

// Payload placed right after the previous one.
constexpr int32_t kNext = INT32_MIN;

struct Rec
{
    uint32_t type;
    int32_t length;
    int32_t offset; // kNext: right after the previous payload
};

// A header with the given records in slots 0, 1, ... and their payloads
// after it (`extra` bytes added to or taken from the end).
QByteArray image(const std::vector<Rec>& recs, int extra = 0)
{
    QByteArray b(fw::kHeaderSize, '\0');
    int at = fw::kHeaderSize;
    for (size_t k = 0; k < recs.size(); ++k) {
        const Rec& r = recs[k];
        const int offset = r.offset == kNext ? at : r.offset;
        put32(b, int(k) * fw::kRecordSize, r.type);
        put32(b, int(k) * fw::kRecordSize + 4, uint32_t(r.length));
        put32(b, int(k) * fw::kRecordSize + 8, uint32_t(offset));
        if (r.length > 0)
            at = qMax(at, offset + r.length);
    }
    b.resize(qMax(0, at + extra));
    return b;
}

QString g_open_answer;
QString g_save_answer;
QString g_save_suggested;

QString answer_open(QWidget*, const QString&, const QString&, const QString&)
{
    return g_open_answer;
}

QString answer_save(QWidget*, const QString&, const QString& dir, const QString&)
{
    g_save_suggested = dir;
    return g_save_answer;
}

QString read_all(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}

} // namespace

class OperatorChoicesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        testsupport::init_resources();
        upgrade_ui::set_open_file_function(&answer_open);
        upgrade_ui::set_save_file_function(&answer_save);
    }
    void cleanupTestCase()
    {
        upgrade_ui::set_open_file_function(nullptr);
        upgrade_ui::set_save_file_function(nullptr);
        debuglog::uninstall();
    }

    // --- The debug log file ---------------------------------------------------

    // One line per message, the stamp and a letter for its kind; further
    // lines indented. The file grows to its limit, a line past it rotates.
    void log_line_format_data()
    {
        QTest::addColumn<QtMsgType>("type");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("line"); // after the stamp "2024-03-05 07:08:09.012 "
        QTest::newRow("debug") << QtDebugMsg << "Set Set TDD Ratio done" << QByteArray("D Set Set TDD Ratio done\n");
        QTest::newRow("warning") << QtWarningMsg << "cannot write" << QByteArray("W cannot write\n");
        QTest::newRow("info") << QtInfoMsg << "x" << QByteArray("I x\n");
        QTest::newRow("critical") << QtCriticalMsg << "x" << QByteArray("C x\n");
        QTest::newRow("several lines indented") << QtDebugMsg << "first\nsecond\r\nthird"
                                                << QByteArray("D first\n    second\n    third\n");
        QTest::newRow("empty") << QtDebugMsg << "" << QByteArray("D \n");
        QTest::newRow("UTF-8") << QtDebugMsg << QString::fromUtf8("升级 ok") << QByteArray("D \xe5\x8d\x87\xe7\xba\xa7 ok\n");
    }
    void log_line_format()
    {
        QFETCH(QtMsgType, type);
        QFETCH(QString, message);
        QFETCH(QByteArray, line);
        const QDateTime when(QDate(2024, 3, 5), QTime(7, 8, 9, 12));
        QCOMPARE(debuglog::format_line(type, when, message), "2024-03-05 07:08:09.012 " + line);
        // size, incoming line, limit 100: whether the file rotates first.
        for (auto [size, incoming, rotate] : std::initializer_list<std::tuple<int, int, bool>>{
                 {0, 10, false}, {0, 500, false}, {90, 10, false}, {91, 10, true}, {100, 1, true}})
            QCOMPARE(debuglog::needs_rotation(size, incoming, 100), rotate);
    }

    void log_file_keeps_two_generations()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("a/b/quorlan.log"));
        {
            debuglog::LogFile file(path, 100);
            QVERIFY(file.open()); // creates the folders
            for (int i = 0; i < 30; ++i)
                QVERIFY(file.append(QStringLiteral("line %1 ------\n").arg(i, 2, 10, QChar('0')).toUtf8()));
        }
        const QString current = read_all(path);
        const QString older = read_all(debuglog::rotated_path(path));
        QVERIFY(QFileInfo(path).size() <= 100);
        QVERIFY(QFileInfo(debuglog::rotated_path(path)).size() <= 100);
        QVERIFY(current.endsWith(QStringLiteral("line 29 ------\n")));
        // The older file ends where the current one begins.
        const int first = current.left(7).mid(5, 2).toInt();
        QVERIFY2(older.endsWith(QStringLiteral("line %1 ------\n").arg(first - 1, 2, 10, QChar('0'))),
                 qPrintable(older + "|" + current));
        QCOMPARE(QDir(dir.filePath("a/b")).entryList(QDir::Files).size(), 2);

        // Reopened, it appends.
        debuglog::LogFile again(path, 100);
        QVERIFY(again.open());
        QCOMPARE(again.size(), QFileInfo(path).size());
    }

    void handler_writes_and_passes_on_unchanged()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("new folder"));
        DebugCapture capture;
        QVERIFY(debuglog::installed_path().isEmpty());
        QVERIFY(debuglog::install(folder));
        QCOMPARE(debuglog::installed_path(), QDir(folder).filePath(QStringLiteral("quorlan.log")));
        qDebug() << "set bandwidth: " << 2;
        qDebug().noquote() << "Set Set TDD Ratio done";
        // From another thread, as the upgrade engine writes.
        QThread* worker = QThread::create([] { qDebug() << "update thread running"; });
        worker->start();
        QVERIFY(worker->wait(5000));
        delete worker;
        debuglog::uninstall();
        qDebug() << "after the log";

        // The stream has exactly its texts.
        QCOMPARE(capture.lines(), (QStringList{"set bandwidth:  2", "Set Set TDD Ratio done",
                                               "update thread running", "after the log"}));
        const QStringList file = read_all(QDir(folder).filePath("quorlan.log")).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(file.size(), 4); // the start mark and three messages
        QVERIFY(file[0].contains(" I ---- "));
        QVERIFY(file[1].endsWith(" D set bandwidth:  2"));
        QVERIFY(file[2].endsWith(" D Set Set TDD Ratio done"));
        QVERIFY(file[3].endsWith(" D update thread running"));
        QVERIFY(debuglog::installed_path().isEmpty());
    }

    void unwritable_folder_installs_nothing()
    {
        QTemporaryDir dir;
        const QString blocker = write_file(dir, "plain file", "x");
        QVERIFY(!debuglog::install(blocker + "/below"));
        QVERIFY(debuglog::installed_path().isEmpty());
    }

    // --- Where the files lie ------------------------------------------------

    // The full paths in the tool tips; the texts are fitted below.
    void places_shown()
    {
        QTemporaryDir dir;
        {
            Wireless_Video_Link w;
            QCOMPARE(w.form()->label_debug_log_path->text(), QString("Debug log: not kept"));
        }
        QVERIFY(debuglog::install(dir.path()));
        Wireless_Video_Link w;
        w.resize(1169, 840);
        w.show();
        Ui::Wireless_Video_Link* ui = w.form();
        QCOMPARE(ui->label_debug_log_path->toolTip(), dir.filePath("quorlan.log"));
        QVERIFY(ui->label_debug_log_path->textInteractionFlags() & Qt::TextSelectableByMouse);
        debuglog::uninstall();
        w.form()->stackedWidget->setCurrentWidget(ui->page_status);
        Window::lay_out();
        QCOMPARE(statlog::database_path(), QDir::current().absoluteFilePath("log.db"));
        QCOMPARE(ui->label_record_path->toolTip(), statlog::database_path());
        QVERIFY(ui->label_record_path->text().startsWith("Database: "));
        // Beside the check box, on its line.
        QCOMPARE(ui->label_record_path->parentWidget(), ui->checkBox_record->parentWidget());
        QVERIFY(qAbs(ui->label_record_path->geometry().center().y() - ui->checkBox_record->geometry().center().y()) < 6);
    }

    void long_paths_are_shortened_not_clipped_data()
    {
        QTest::addColumn<int>("width");
        QTest::newRow("wide") << 2000;
        QTest::newRow("medium") << 300;
        QTest::newRow("narrow") << 120;
    }
    void long_paths_are_shortened_not_clipped()
    {
        QFETCH(int, width);
        QLabel label;
        const QString path = "/home/technician/" + QString("very-long-folder-name/").repeated(8) + "log.db";
        const QString text = file_places::fitted_text(&label, "Database: %1", path, width);
        QVERIFY(text.startsWith("Database: "));
        QVERIFY2(label.fontMetrics().horizontalAdvance(text) <= width, qPrintable(text));
        if (label.fontMetrics().horizontalAdvance("Database: " + path) <= width)
            QCOMPARE(text, "Database: " + path);
        else if (width >= 300) // both ends of the path stay in sight
            QVERIFY2(text.contains(QChar(0x2026)) && text.endsWith("log.db") && text.contains("/home"),
                     qPrintable(text));
    }

    // --- What the Update page says about an image -----------------------------

    void image_description_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QString>("text");
        QTest::newRow("one target") << image({{0x84, 100, kNext}}) << false
                                    << "Targets in this image: MCU1 (100 bytes)";
        QTest::newRow("several, in header order")
            << image({{0x85, 2048, kNext}, {0x88, 100, kNext}, {0x89, 5, kNext}}) << false
            << "Targets in this image: FPGA (2048 bytes), HI3516 (100 bytes), HI3798 (5 bytes)";
        QTest::newRow("unused records skipped")
            << image({{0x84, 0, 0}, {0x99, 0, 0}, {0x86, 10, kNext}}) << false << "Targets in this image: MCU2 (10 bytes)";
        QTest::newRow("no target") << image({}) << false << "This image holds no target: nothing would be sent.";
        QTest::newRow("empty file") << QByteArray() << true << "This image would be refused: read file error!";
        // Why an image is refused comes from the image checks (tst_firmware_image).
        QTest::newRow("unknown type") << image({{0x84, 4, kNext}, {0x90, 4, kNext}}) << true
                                      << "This image would be refused: invalid image: record 1 has unknown type 0x90";
    }

    void image_description()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, refused);
        QFETCH(QString, text);
        const upgrade_ui::ImageDescription d = upgrade_ui::describe_image(file.left(fw::kHeaderSize), file.size());
        QCOMPARE(d.refused, refused);
        QCOMPARE(d.text, text);

        // The same file from the disk.
        QTemporaryDir dir;
        const QString path = write_file(dir, "image.bin", file);
        const upgrade_ui::ImageDescription from_disk = upgrade_ui::describe_image_file(path);
        QCOMPARE(from_disk.refused, refused);
        QCOMPARE(from_disk.text, text);
        if (file.isEmpty()) { // no file at all, no path at all
            QCOMPARE(upgrade_ui::describe_image_file(dir.filePath("gone.bin")).text,
                     QString("This image would be refused: file not exist!"));
            QCOMPARE(upgrade_ui::describe_image_file(QString()).text, QString());
        }

        // A refused image: the engine gives the same reason, before it
        // touches any device.
        if (refused) {
            DebugCapture quiet;
            updateThread engine;
            engine.set_file_path(path);
            QStringList said;
            connect(&engine, &updateThread::refresh_update_text, this, [&](const QString& t) { said << t; });
            QCOMPARE(engine.Update_from_file2(), -1);
            QCOMPARE(said.size(), 1);
            QCOMPARE("This image would be refused: " + said.first(), text);
        }
    }

    void image_label_in_the_window()
    {
        QTemporaryDir dir;
        Wireless_Video_Link w;
        w.show();
        Ui::Wireless_Video_Link* ui = w.form();
        ui->stackedWidget->setCurrentWidget(ui->page_update);
        QVERIFY(!ui->label_image_info->isVisible()); // nothing chosen yet

        g_open_answer = write_file(dir, "good.bin", image({{0x84, 100, kNext}, {0x85, 30, kNext}}));
        QTest::mouseClick(ui->Select_file_button, Qt::LeftButton);
        QCOMPARE(ui->lineEdit_file->text(), g_open_answer);
        QVERIFY(ui->label_image_info->isVisible());
        QCOMPARE(ui->label_image_info->text(), QString("Targets in this image: MCU1 (100 bytes), FPGA (30 bytes)"));
        QCOMPARE(ui->label_image_info->property("refused").toBool(), false);

        // Typed in by hand.
        const QString bad = write_file(dir, "bad.hex", image({{0x77, 10, kNext}}));
        ui->lineEdit_file->clear();
        QTest::keyClicks(ui->lineEdit_file, bad);
        QCOMPARE(ui->label_image_info->text(),
                 QString("This image would be refused: invalid image: record 0 has unknown type 0x77"));
        QCOMPARE(ui->label_image_info->property("refused").toBool(), true);

        // The same file chosen again after it changed on the disk.
        g_open_answer = write_file(dir, "good.bin", image({{0x86, 7, kNext}}));
        QTest::mouseClick(ui->Select_file_button, Qt::LeftButton);
        QTest::mouseClick(ui->Select_file_button, Qt::LeftButton);
        QCOMPARE(ui->label_image_info->text(), QString("Targets in this image: MCU2 (7 bytes)"));
        write_file(dir, "good.bin", image({{0x86, 9, kNext}}));
        QTest::mouseClick(ui->Select_file_button, Qt::LeftButton);
        QCOMPARE(ui->label_image_info->text(), QString("Targets in this image: MCU2 (9 bytes)"));

        // In Chinese, once the language changes.
        QTranslator chinese;
        QVERIFY(chinese.load(":/WirelessVideo_CH.qm"));
        QCoreApplication::installTranslator(&chinese);
        QCoreApplication::processEvents();
        const QString zh = ui->label_image_info->text();
        QCoreApplication::removeTranslator(&chinese);
        QCoreApplication::processEvents();
        QVERIFY2(zh != ui->label_image_info->text() && zh.contains("MCU2"), qPrintable(zh));
        QCOMPARE(ui->label_image_info->text(), QString("Targets in this image: MCU2 (9 bytes)"));

        // Cancelled: the line and the description are cleared.
        g_open_answer.clear();
        QTest::mouseClick(ui->Select_file_button, Qt::LeftButton);
        QVERIFY(!ui->label_image_info->isVisible());
    }

    // --- The debug view's copy and save ---------------------------------------

    void debug_view_copy()
    {
        Wireless_Video_Link w;
        Ui::Wireless_Video_Link* ui = w.form();
        QVERIFY(!ui->pushButton_copy_debug->isEnabled());
        QVERIFY(!ui->pushButton_save_debug->isEnabled());
        w.upgrade_debug_mes("MCU1 upgrade");
        w.upgrade_debug_mes(QString::fromUtf8("擦除 MCU1"));
        QVERIFY(ui->pushButton_copy_debug->isEnabled());
        QApplication::clipboard()->clear();
        ui->pushButton_copy_debug->click();
        QCOMPARE(QApplication::clipboard()->text(), QString::fromUtf8("MCU1 upgrade\n擦除 MCU1"));
    }

    void debug_view_save_data()
    {
        QTest::addColumn<QString>("answer"); // relative to a fresh folder; "-" cancels
        QTest::addColumn<bool>("written");
        QTest::addColumn<bool>("warned");
        QTest::newRow("saved") << "debug.txt" << true << false;
        QTest::newRow("cancelled") << "-" << false << false;
        QTest::newRow("folder missing") << "no/such/folder/debug.txt" << false << true;
        QTest::newRow("a folder chosen") << "." << false << true;
    }
    void debug_view_save()
    {
        QFETCH(QString, answer);
        QFETCH(bool, written);
        QFETCH(bool, warned);
        QTemporaryDir dir;
        g_save_answer = answer == "-" ? QString() : dir.filePath(answer);
        Wireless_Video_Link w;
        Ui::Wireless_Video_Link* ui = w.form();
        w.upgrade_debug_mes("erase MCU1");
        w.upgrade_debug_mes("Done");
        BoxAnswerer boxes;
        ui->pushButton_save_debug->click();
        QVERIFY(g_save_suggested.endsWith(".txt"));
        if (written)
            QCOMPARE(read_all(g_save_answer), QString("erase MCU1\nDone\n"));
        else if (!g_save_answer.isEmpty())
            QVERIFY(!QFileInfo(g_save_answer).isFile());
        QCOMPARE(boxes.seen.size(), warned ? 1 : 0);
        if (warned) {
            QCOMPARE(boxes.seen[0].title, QString("warning"));
            QVERIFY2(boxes.seen[0].text.contains(g_save_answer), qPrintable(boxes.seen[0].text));
            QCOMPARE(boxes.seen[0].icon, QMessageBox::Warning);
        }
        // No file left behind in the folder besides what was asked for.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), written ? 1 : 0);
    }
};

QTEST_MAIN(OperatorChoicesTest)
#include "tst_operator_choices.moc"
