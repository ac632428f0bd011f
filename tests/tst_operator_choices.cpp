// What the window offers the operator and the technician beyond the
// settings pages: the debug log file, the places of the log and the
// statistics database, the technician controls of the test page, what the
// Update page says about a chosen image, and the debug view's copy and save.
#include "settings_harness.h"

#include "debug_log.h"
#include "file_places.h"
#include "firmware_image.h"
#include "stat_log.h"
#include "ui_wireless_video_link.h"
#include "update_thread.h"
#include "upgrade_control.h"
#include "wireless_video_link.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
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

using WindowAction = std::function<void(Window&)>;
using ExpectedPayload = std::function<QByteArray(Window&)>;
Q_DECLARE_METATYPE(WindowAction)
Q_DECLARE_METATYPE(ExpectedPayload)
Q_DECLARE_METATYPE(QtMsgType)

namespace {


void put32(QByteArray& b, int at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xFF);
}

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

QString write_file(const QTemporaryDir& dir, const QString& name, const QByteArray& content)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    f.write(content);
    return path;
}

// A check box takes clicks on its box and text only, at its left end.
void tick(QAbstractButton* box)
{
    Window::lay_out();
    QVERIFY(box->isVisible());
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(6, box->height() / 2));
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

    void log_line_format_data()
    {
        QTest::addColumn<QtMsgType>("type");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("debug") << QtDebugMsg << "Set Set TDD Ratio done"
                               << QByteArray("2024-03-05 07:08:09.012 D Set Set TDD Ratio done\n");
        QTest::newRow("warning") << QtWarningMsg << "cannot write"
                                 << QByteArray("2024-03-05 07:08:09.012 W cannot write\n");
        QTest::newRow("info") << QtInfoMsg << "x" << QByteArray("2024-03-05 07:08:09.012 I x\n");
        QTest::newRow("critical") << QtCriticalMsg << "x" << QByteArray("2024-03-05 07:08:09.012 C x\n");
        QTest::newRow("several lines indented")
            << QtDebugMsg << "first\nsecond\r\nthird"
            << QByteArray("2024-03-05 07:08:09.012 D first\n    second\n    third\n");
        QTest::newRow("empty") << QtDebugMsg << "" << QByteArray("2024-03-05 07:08:09.012 D \n");
        QTest::newRow("UTF-8") << QtDebugMsg << QString::fromUtf8("升级 ok")
                               << QByteArray("2024-03-05 07:08:09.012 D \xe5\x8d\x87\xe7\xba\xa7 ok\n");
    }
    void log_line_format()
    {
        QFETCH(QtMsgType, type);
        QFETCH(QString, message);
        QFETCH(QByteArray, line);
        const QDateTime when(QDate(2024, 3, 5), QTime(7, 8, 9, 12));
        QCOMPARE(debuglog::format_line(type, when, message), line);
    }

    void rotation_rule_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("incoming");
        QTest::addColumn<bool>("rotate");
        QTest::newRow("empty file, small line") << qint64(0) << qint64(10) << false;
        QTest::newRow("empty file, line past the limit") << qint64(0) << qint64(500) << false;
        QTest::newRow("fits exactly") << qint64(90) << qint64(10) << false;
        QTest::newRow("one byte over") << qint64(91) << qint64(10) << true;
        QTest::newRow("full") << qint64(100) << qint64(1) << true;
    }
    void rotation_rule()
    {
        QFETCH(qint64, size);
        QFETCH(qint64, incoming);
        QFETCH(bool, rotate);
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

    void log_place_on_update_page()
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
        w.form()->stackedWidget->setCurrentWidget(w.form()->page_update);
        Window::lay_out();
        QLabel* label = w.form()->label_debug_log_path;
        const QString path = dir.filePath("quorlan.log");
        QCOMPARE(label->toolTip(), path);
        QVERIFY(label->text().startsWith("Debug log: "));
        QVERIFY(label->textInteractionFlags() & Qt::TextSelectableByMouse);
        QVERIFY(label->fontMetrics().horizontalAdvance(label->text()) <= label->contentsRect().width());
        debuglog::uninstall();
    }

    void database_place_on_status_page()
    {
        Wireless_Video_Link w;
        w.resize(1169, 840);
        w.show();
        w.form()->stackedWidget->setCurrentWidget(w.form()->page_status);
        Window::lay_out();
        QLabel* label = w.form()->label_record_path;
        const QString path = QDir::current().absoluteFilePath("log.db");
        QCOMPARE(statlog::database_path(), path);
        QCOMPARE(label->toolTip(), path);
        QVERIFY(label->text().startsWith("Database: "));
        QVERIFY(label->isVisible());
        // Beside the check box, on its line.
        QCOMPARE(label->parentWidget(), w.form()->checkBox_record->parentWidget());
        QVERIFY(qAbs(label->geometry().center().y() - w.form()->checkBox_record->geometry().center().y()) < 6);
        QVERIFY(label->fontMetrics().horizontalAdvance(label->text()) <= label->contentsRect().width());
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

    // --- Technician controls on the test page ---------------------------------

    void technician_controls_are_bound_by_name()
    {
        DebugCapture capture;
        Wireless_Video_Link w;
        const QStringList names = {"on_comboBox_bandwidth_activated", "on_radioButton_down_mode_clicked",
                                   "on_radioButton_up_mode_clicked", "on_comboBox_uplink_activated",
                                   "on_TestMode_clicked", "on_comboBox_test_downlink_activated",
                                   "on_radioButton_antenna_0_clicked", "on_radioButton_antenna_1_clicked",
                                   "on_radioButton_enable_antenna_clicked",
                                   "on_radioButton_diable_antenna_clicked", "on_radioButton_ARQ_enable_clicked",
                                   "on_radioButton_ARQ_disable_clicked"};
        for (const QString& line : capture.lines())
            for (const QString& slot : names)
                QVERIFY2(!line.contains(slot + "("), qPrintable(line));
        // All of them in their own titled group of the test page.
        QGroupBox* group = w.form()->groupBox_technician;
        QVERIFY(!group->title().isEmpty());
        QCOMPARE(group->parentWidget(), w.form()->page_test);
        for (const QString& slot : names) {
            const QString object = slot.mid(3, slot.lastIndexOf('_') - 3);
            QWidget* found = group->findChild<QWidget*>(object);
            QVERIFY2(found, qPrintable(object));
        }
    }

    void test_downlink_list()
    {
        Wireless_Video_Link w;
        QComboBox* box = w.form()->comboBox_test_downlink;
        QStringList items;
        for (int i = 0; i < box->count(); ++i)
            items << box->itemText(i);
        QCOMPARE(items, (QStringList{"BPSK_1/2 (1.98Mbps)", "BPSK_2/3 (2.64Mbps)", "BPSK_3/4 (2.87Mbps)",
                                     "BPSK_5/6 (3.18Mbps)", "QPSK_1/2 (3.80Mbps)", "QPSK_2/3 (5.04Mbps)",
                                     "QPSK_3/4 (5.66Mbps)", "QPSK_5/6 (6.28Mbps)", "16QAM_1/2 (7.52Mbps)",
                                     "11.24Mbps", "18.68Mbps"}));
        QVERIFY(w.form()->comboBox_bandwidth->count() > 1);
        QVERIFY(w.form()->comboBox_uplink->count() > 1);
    }

    void technician_control_sends_data()
    {
        QTest::addColumn<WindowAction>("action");
        QTest::addColumn<int>("request");
        QTest::addColumn<ExpectedPayload>("expected");
        auto fixed = [](QByteArray b) { return ExpectedPayload([b](Window&) { return b; }); };
        // The antenna byte the unit last reported, and the configuration byte.
        auto antenna = [](Window& h) { return uint8_t(h.w->kept_dev_status()[60]); };
        auto config = [](Window& h) { return h.w->pro_config_byte; };

        QTest::newRow("bandwidth entry 2") << WindowAction([](Window& h) { activate(h.ui->comboBox_bandwidth, 2); })
                                           << int(sim::kReqBandwidth) << fixed(bytes({2}));
        QTest::newRow("bandwidth entry 0") << WindowAction([](Window& h) { activate(h.ui->comboBox_bandwidth, 0); })
                                           << int(sim::kReqBandwidth) << fixed(bytes({0}));
        QTest::newRow("TDD down mode") << WindowAction([](Window& h) { click(h.ui->radioButton_down_mode); })
                                       << int(sim::kReqTddRatio) << fixed(bytes({0}));
        QTest::newRow("TDD up mode") << WindowAction([](Window& h) { click(h.ui->radioButton_up_mode); })
                                     << int(sim::kReqTddRatio) << fixed(bytes({1}));
        QTest::newRow("uplink entry 3") << WindowAction([](Window& h) { activate(h.ui->comboBox_uplink, 3); })
                                        << int(sim::kReqUplinkMode) << fixed(bytes({3}));
        QTest::newRow("ARQ on") << WindowAction([](Window& h) { click(h.ui->radioButton_ARQ_enable); })
                                << int(sim::kReqConfigByte)
                                << ExpectedPayload([config](Window& h) { return bytes({config(h) | 0x01}); });
        QTest::newRow("ARQ off") << WindowAction([](Window& h) { click(h.ui->radioButton_ARQ_disable); })
                                 << int(sim::kReqConfigByte)
                                 << ExpectedPayload([config](Window& h) { return bytes({config(h) & 0xFE}); });
        QTest::newRow("antenna RF1") << WindowAction([](Window& h) { click(h.ui->radioButton_antenna_0); })
                                     << int(sim::kReqAntenna)
                                     << ExpectedPayload([antenna](Window& h) { return bytes({antenna(h) & 0x0F}); });
        QTest::newRow("antenna RF2")
            << WindowAction([](Window& h) { click(h.ui->radioButton_antenna_1); }) << int(sim::kReqAntenna)
            << ExpectedPayload([antenna](Window& h) { return bytes({(antenna(h) & 0x0F) | 0x10}); });
        QTest::newRow("automatic antenna on")
            << WindowAction([](Window& h) { click(h.ui->radioButton_enable_antenna); }) << int(sim::kReqAntenna)
            << ExpectedPayload([antenna](Window& h) { return bytes({(antenna(h) & 0xF0) + 1}); });
        QTest::newRow("automatic antenna off")
            << WindowAction([](Window& h) { click(h.ui->radioButton_diable_antenna); }) << int(sim::kReqAntenna)
            << ExpectedPayload([antenna](Window& h) { return bytes({antenna(h) & 0xF0}); });
        QTest::newRow("test mode on") << WindowAction([](Window& h) { tick(h.ui->TestMode); })
                                      << int(sim::kReqTestMode) << fixed(bytes({0, 0, 0, 0x80}));
        QTest::newRow("test mode on, off") << WindowAction([](Window& h) {
            tick(h.ui->TestMode);
            tick(h.ui->TestMode);
        }) << int(sim::kReqTestMode) << fixed(bytes({0, 0, 0, 0x80}));
        QTest::newRow("test downlink BPSK_2/3")
            << WindowAction([](Window& h) { activate(h.ui->comboBox_test_downlink, 1); }) << int(sim::kReqTestMode)
            << fixed(bytes({0, 0, 0x10, 0}));
        QTest::newRow("test downlink 16QAM_1/2")
            << WindowAction([](Window& h) { activate(h.ui->comboBox_test_downlink, 8); }) << int(sim::kReqTestMode)
            << fixed(bytes({0, 0, 0x80, 0}));
        QTest::newRow("test downlink 11.24Mbps")
            << WindowAction([](Window& h) { activate(h.ui->comboBox_test_downlink, 9); }) << int(sim::kReqTestMode)
            << fixed(bytes({0, 0, 0xC0, 0}));
        QTest::newRow("test downlink 18.68Mbps")
            << WindowAction([](Window& h) { activate(h.ui->comboBox_test_downlink, 10); }) << int(sim::kReqTestMode)
            << fixed(bytes({0, 0, 0xF0, 0}));
    }
    void technician_control_sends()
    {
        QFETCH(WindowAction, action);
        QFETCH(int, request);
        QFETCH(ExpectedPayload, expected);
        Window h(0, [](sim::SimUnit& u) { u.link().setAntennaByte(0x11); });
        QVERIFY(h.opened);
        QVERIFY(h.wait_poll());
        QCOMPARE(int(h.w->kept_dev_status()[60]), 0x11);
        h.w->on_test_show_clicked();
        Window::lay_out();
        const QByteArray want = expected(h);
        const size_t m = h.mark();
        action(h);
        std::vector<sim::Transfer> sent;
        for (const sim::Transfer& t : h.since(m))
            if (t.bRequest == uint8_t(request))
                sent.push_back(t);
        QVERIFY(!sent.empty());
        QCOMPARE(int(sent.front().bmRequestType), int(kOut));
        QCOMPARE(data_of(sent.front()), want);
    }

    void test_mode_off_clears_the_bit()
    {
        Window h;
        QVERIFY(h.opened);
        h.w->on_test_show_clicked();
        activate(h.ui->comboBox_test_downlink, 4);
        tick(h.ui->TestMode);
        QVERIFY(h.ui->TestMode->isChecked());
        const size_t m = h.mark();
        tick(h.ui->TestMode);
        QVERIFY(!h.ui->TestMode->isChecked());
        const auto after = h.since(m);
        auto it = std::find_if(after.begin(), after.end(),
                               [](const sim::Transfer& t) { return t.bRequest == sim::kReqTestMode; });
        QVERIFY(it != after.end());
        QCOMPARE(data_of(*it), bytes({0, 0, 0x40, 0}));
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
        QTest::newRow("every target")
            << image({{0x81, 1, kNext}, {0x82, 2, kNext}, {0x83, 3, kNext}, {0x87, 4, kNext}})
            << false << "Targets in this image: bootloader (1 bytes), kernel (2 bytes), file system (3 bytes), EDID (4 bytes)";
        QTest::newRow("no target") << image({}) << false << "This image holds no target: nothing would be sent.";
        QTest::newRow("empty file") << QByteArray() << true << "This image would be refused: read file error!";
        QTest::newRow("short header") << QByteArray(100, '\0') << true
                                      << "This image would be refused: image file too short!";
        QTest::newRow("unknown type") << image({{0x84, 4, kNext}, {0x90, 4, kNext}}) << true
                                      << "This image would be refused: invalid image: record 1 has unknown type 0x90";
        QTest::newRow("negative length") << image({{0x85, -5, 160}}) << true
                                         << "This image would be refused: invalid image: record 0 has invalid length -5";
        QTest::newRow("payload past the end") << image({{0x84, 10, kNext}, {0x85, 64, kNext}}, -1) << true
                                              << "This image would be refused: invalid image: record 1 lies outside the file";
        QTest::newRow("negative offset") << image({{0x84, 10, -3}}) << true
                                         << "This image would be refused: invalid image: record 0 lies outside the file";
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

    void image_file_that_cannot_be_read()
    {
        QCOMPARE(upgrade_ui::describe_image_file(QString()).text, QString());
        QTemporaryDir dir;
        const upgrade_ui::ImageDescription missing = upgrade_ui::describe_image_file(dir.filePath("gone.bin"));
        QVERIFY(missing.refused);
        QCOMPARE(missing.text, QString("This image would be refused: file not exist!"));
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
