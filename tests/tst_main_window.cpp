// The main window's roads, through the real start page, watcher thread and
// window against the simulated bus with Linux semantics: plug in, connect,
// a setting, unplug, plug in again; what stops a connection on the way; the
// languages; the pages and their keys; what the operator is shown without
// a unit; the pairing dialog's way out; a log that cannot record; the
// device handle shared with the upgrade engine; and what the window offers
// beyond the settings: the debug log file, the places of the log and the
// statistics database, what the Update page says about a chosen image, and
// the debug view's copy and save.
#include "bus_watch.h"
#include "settings_harness.h"
#include "ui_wireless_video_link.h"
#include "upgrade_support.h"

#include "binding_dialog.h"
#include "debug_log.h"
#include "file_places.h"
#include "firmware_image.h"
#include "hotplug_thread.h"
#include "mainpage.h"
#include "stat_log.h"
#include "update_thread.h"
#include "upgrade_control.h"

#include <QClipboard>
#include <QDir>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QToolButton>
#include <QTranslator>
#include <libusb.h>

using namespace testsupport;
using namespace upgrade_support;

using DeviceSetup = std::function<void(sim::SimDevice&)>;
Q_DECLARE_METATYPE(DeviceSetup)
Q_DECLARE_METATYPE(QtMsgType)

namespace {

QStringList items(const QComboBox* box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}

QStringList lists_of(const Ui::Wireless_Video_Link* ui)
{
    QStringList all;
    for (const QComboBox* box : {ui->comboBox_region, ui->comboBox_freq, ui->comboBox_profile, ui->comboBox_RadioRate,
                                 ui->comboBox_downlink})
        all << items(box).join('|');
    return all;
}

QStringList nav_texts(const Ui::Wireless_Video_Link* ui)
{
    QStringList out;
    for (const QPushButton* b : {ui->pushButton_infomation, ui->pushButton_status, ui->pushButton_configure,
                                 ui->pushButton_frequency, ui->pushButton_Update})
        out << b->text();
    return out;
}

std::vector<uint8_t> first_codes(const std::shared_ptr<sim::SimDevice>& dev, size_t n)
{
    const auto codes = dev->requestCodes();
    return std::vector<uint8_t>(codes.begin(), codes.begin() + long(std::min(n, codes.size())));
}

int count_requests(const std::vector<sim::Transfer>& log, uint8_t code)
{
    return int(std::count_if(log.begin(), log.end(), [code](const sim::Transfer& t) { return t.bRequest == code; }));
}

void no_wait(int) {}


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

class MainWindowTest : public QObject
{
    Q_OBJECT

public slots:
    void on_missing_object_clicked() {}

private:
    std::unique_ptr<MainPage> page;
    Wireless_Video_Link* w = nullptr; // the start page never deletes it; the test does
    Ui::Wireless_Video_Link* ui = nullptr;
    std::unique_ptr<QTranslator> chinese;
    QLabel* mention() { return page->findChild<QLabel*>("label_mention"); }

    // The start page, its watcher scanning every 10 ms: a few scans pass
    // in a short wait.
    void make_page()
    {
        page = std::make_unique<MainPage>();
        page->scan_timer()->setInterval(10);
        page->show();
        w = page->main_window();
        ui = w->form();
    }

    bool connected() const { return harness::connected(w); }

    void install_chinese()
    {
        chinese = std::make_unique<QTranslator>();
        QVERIFY(chinese->load(":/WirelessVideo_CH.qm"));
        QCoreApplication::installTranslator(chinese.get());
    }

private slots:
    void initTestCase()
    {
        upgrade_ui::set_open_file_function(&answer_open);
        upgrade_ui::set_save_file_function(&answer_save);
    }
    void cleanupTestCase()
    {
        upgrade_ui::set_open_file_function(nullptr);
        upgrade_ui::set_save_file_function(nullptr);
        debuglog::uninstall();
    }

    void init()
    {
        reset_bus();
        CommandChannel::set_wait_function(&no_wait);
        upgrade_ui::set_end_pause_function(&no_wait);
    }

    void cleanup()
    {
        CommandChannel::set_wait_function(nullptr);
        upgrade_ui::set_end_pause_function(nullptr);
        Binding_Dialog::set_test_clock(nullptr);
        updateThread::set_sleep_function(nullptr);
        if (chinese)
            QCoreApplication::removeTranslator(chinese.get());
        chinese.reset();
        page.reset();
        delete w;
        w = nullptr;
        reset_bus();
        QTRY_COMPARE(sim::BusWatch::instance().liveHandles(), 0);
    }

    void plug_use_unplug_replug()
    {
        make_page();
        QSignalSpy status(w, &Wireless_Video_Link::dev_connect_status);
        QCOMPARE(w->open_device(false), 0); // nothing to close: nothing said
        QTest::qWait(60);                   // a few scans of an empty bus
        QVERIFY(page->isVisible() && !w->isVisible() && !w->device_handle());
        QCOMPARE(mention()->text(), QString("Please connect device"));
        QCOMPARE(ui->comboBox_downlink->count(), 9);
        QCOMPARE(status.count(), 0);

        QSignalSpy appeared(page->watcher(), &HotplugThread::dev_connected);
        DebugCapture capture;
        auto dev = plug();
        QTRY_VERIFY(connected());
        QTest::qWait(60); // several more scans: still one appearance
        QCOMPARE(appeared.count(), 1);
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(0).toBool(), true);
        QVERIFY(dev->interfaceClaimed() && !page->isVisible() && w->isVisible() && ui->widget_status->isChecked());
        // Identity, device and software records first, as IN requests of 300 ms.
        QCOMPARE(first_codes(dev, 3), (std::vector<uint8_t>{0xE3, 0xE0, 0xE1}));
        for (size_t i = 0; i < 3; ++i)
            QVERIFY(dev->log()[i].bmRequestType == 0xC1 && dev->log()[i].timeout_ms == 300u);
        QCOMPARE(w->identity_block()[0], uint8_t('Q'));
        QVERIFY(w->poll_timer()->isActive() && w->poll_timer()->interval() == 1000);
        // The first connection leaves out the two rates the unit lacks.
        QCOMPARE(items(ui->comboBox_downlink),
                 (QStringList{"BPSK_1/2 (1.98Mbps)", "BPSK_2/3 (2.64Mbps)", "BPSK_5/6 (3.18Mbps)", "QPSK_1/2 (3.80Mbps)",
                              "QPSK_2/3 (5.04Mbps)", "QPSK_5/6 (6.28Mbps)", "16QAM_1/2 (7.52Mbps)"}));
        for (const char* line : {"Device Opened", "Claimed Interface 0", "dv.mcu2_version 13376"})
            QVERIFY2(capture.contains(line), line);
        // The readings and settings are live with a unit.
        QVERIFY(ui->widget_air_rssi->isEnabled() && ui->comboBox_downlink->isEnabled());
        const size_t m = dev->log().size();
        ui->pushButton_configure->click();
        harness::activate(ui->comboBox_downlink, 6);
        const auto log = dev->log();
        QCOMPARE(harness::wire({log.begin() + long(m), log.end()}), QString("C4:08 F8"));

        ui->progressBar_air_rssi->setValue(40);
        ui->progressBar_ground_rssi_2->setValue(30);
        ui->switch_bind->blockSignals(true); // shown paired, without starting a pairing
        ui->switch_bind->setChecked(true);
        ui->switch_bind->blockSignals(false);
        QSignalSpy gone(page->watcher(), &HotplugThread::dev_unconnected);
        capture.clear();
        sim::VirtualBus::instance().unplug(dev);
        QTRY_COMPARE(ui->label_connect->text(), QString("DisConnected"));
        QTest::qWait(60);
        QCOMPARE(gone.count(), 1);
        QCOMPARE(status.count(), 2);
        QCOMPARE(status.at(1).at(0).toBool(), false);
        QVERIFY(!w->device_handle() && !w->poll_timer()->isActive());
        QVERIFY(!ui->widget_status->isChecked() && !ui->switch_bind->isChecked());
        QCOMPARE(harness::mismatches(w, "progressBar_ground_rssi=0; progressBar_ground_rssi_2=0; "
                                        "progressBar_air_rssi=0; progressBar_air_rssi_2=0; widget_air_rssi!=disabled; "
                                        "comboBox_downlink!=disabled; groupBox_technician!=disabled; "
                                        "pushButton_status!=enabled"),
                 QString());
        // Released although the unit is gone; the window stays.
        QVERIFY(capture.contains("Released Interface") && !capture.contains("Cannot Release Interface"));
        QTRY_COMPARE(sim::BusWatch::instance().liveHandles(), 0);
        QVERIFY(w->isVisible() && !page->isVisible());

        auto again = plug();
        QTRY_VERIFY(connected());
        QVERIFY(again->interfaceClaimed() && w->poll_timer()->isActive());
        QCOMPARE(ui->comboBox_downlink->count(), 7);
        QCOMPARE(sim::BusWatch::instance().liveHandles(), 1);
        QVERIFY(ui->widget_air_rssi->isEnabled() && ui->comboBox_downlink->isEnabled());

        capture.clear();
        delete w; // the window's end closes the unit
        w = nullptr;
        QVERIFY(!again->interfaceClaimed());
        QCOMPARE(sim::BusWatch::instance().liveHandles(), 0);
        QVERIFY(capture.contains("Released Interface") && !capture.contains("Cannot Release Interface"));
    }

    // What stops a connection leaves the start page up, closes what was
    // opened, and does not retry; a unit plugged in again connects.
    void plug_faults_data()
    {
        QTest::addColumn<DeviceSetup>("setup");
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("connects");
        QTest::newRow("claim refused: the driver is given back")
            << DeviceSetup([](sim::SimDevice& d) {
                   d.setKernelDriverActive(true);
                   d.setClaimFailure(LIBUSB_ERROR_BUSY);
               })
            << "Cannot Claim Interface 0" << false;
        QTest::newRow("access denied: the udev rule is named")
            << DeviceSetup([](sim::SimDevice& d) { d.setOpenFailure(LIBUSB_ERROR_ACCESS); }) << "Cannot open device"
            << false;
        QTest::newRow("identity unreadable: goes on without a serial")
            << DeviceSetup([](sim::SimDevice& d) { d.failNext(0xE3, LIBUSB_ERROR_PIPE); }) << "get SN number failed"
            << true;
    }
    void plug_faults()
    {
        QFETCH(DeviceSetup, setup);
        QFETCH(QString, line);
        QFETCH(bool, connects);
        make_page();
        DebugCapture capture;
        auto dev = sim::VirtualBus::instance().plug(make_ground_unit());
        setup(*dev);
        QTRY_VERIFY(capture.contains(line));
        if (connects) {
            QTRY_VERIFY(connected());
            QCOMPARE(first_codes(dev, 3), (std::vector<uint8_t>{0xE3, 0xE0, 0xE1}));
            QVERIFY(w->poll_timer()->isActive());
            return;
        }
        QTest::qWait(60);
        QVERIFY(page->isVisible() && !w->isVisible() && !w->device_handle());
        QCOMPARE(capture.count(line), 1);
        QTRY_COMPARE(sim::BusWatch::instance().liveHandles(), 0);
        QVERIFY(dev->requestCodes().empty());
        if (line.contains("Claim")) // the state shown as it is, the driver back
            QVERIFY(ui->label_connect->text() == "DisConnected" && !ui->widget_status->isChecked()
                    && dev->kernelDriverActive());
        else
            QVERIFY(mention()->text().contains("udev rule"));
        sim::VirtualBus::instance().unplug(dev);
        QTest::qWait(60);
        plug();
        QTRY_VERIFY(connected());
        QVERIFY(!page->isVisible() && w->isVisible());
    }

    void two_units_give_one_appearance()
    {
        make_page();
        QSignalSpy appeared(page->watcher(), &HotplugThread::dev_connected);
        auto first = plug();
        auto second = plug();
        QTRY_VERIFY(connected());
        QTest::qWait(60);
        QCOMPARE(appeared.count(), 1);
        QVERIFY(first->interfaceClaimed() && !second->interfaceClaimed());
        // Pulling one of them out is not a disappearance.
        QSignalSpy gone(page->watcher(), &HotplugThread::dev_unconnected);
        sim::VirtualBus::instance().unplug(second);
        QTest::qWait(60);
        QCOMPARE(gone.count(), 0);
    }

    // Started in Chinese (as on a Chinese system), switched both ways on the
    // start page, connected and disconnected in Chinese.
    void languages()
    {
        auto* translator = new QTranslator;
        QVERIFY(translator->load(":/WirelessVideo_CH.qm"));
        QCoreApplication::installTranslator(translator);
        make_page();
        page->adopt_translator(translator);
        const QStringList zh{QString::fromUtf8("关于"), QString::fromUtf8("状态"), QString::fromUtf8("配置"),
                             QString::fromUtf8("频率"), QString::fromUtf8("升级")};
        QCOMPARE(mention()->text(), QString::fromUtf8("请连接设备"));
        QCOMPARE(nav_texts(ui), zh);
        QSignalSpy retranslated(page.get(), &MainPage::trans_ui);
        DebugCapture capture;
        QTest::mouseClick(page->findChild<QToolButton*>("toolButton_english"), Qt::LeftButton);
        QCOMPARE(mention()->text(), QString("Please connect device"));
        QCOMPARE(nav_texts(ui), (QStringList{"About", "Status", "Configure", "Frequency", "Update"}));
        QTest::mouseClick(page->findChild<QToolButton*>("toolButton_chinese"), Qt::LeftButton);
        QCOMPARE(mention()->text(), QString::fromUtf8("请连接设备"));
        QCOMPARE(nav_texts(ui), zh);
        QVERIFY(capture.contains("load langu status true"));
        QCOMPARE(retranslated.count(), 2);
        auto dev = plug();
        QTRY_VERIFY(w->device_handle());
        QCOMPARE(ui->label_connect->text(), QString::fromUtf8("设备已连接"));
        sim::VirtualBus::instance().unplug(dev);
        QTRY_COMPARE(ui->label_connect->text(), QString::fromUtf8("设备未连接"));
        QTest::mouseClick(page->findChild<QToolButton*>("toolButton_english"), Qt::LeftButton);
    }

    // Retranslation writes the lists again in their order; what the unit
    // decided (the band's channels, the trimmed rate list) must survive it,
    // or the indexes the settings send would no longer match the texts.
    void retranslation_keeps_lists_in_order_data()
    {
        QTest::addColumn<int>("model"); // -1: no unit seen yet
        QTest::newRow("before any connection") << -1;
        QTest::newRow("2.4 GHz ground unit") << 0;
        QTest::newRow("1.4 GHz ground unit") << 4;
        QTest::newRow("5.8 GHz ground unit") << 12;
        QTest::newRow("2.5 GHz ground unit") << 20;
    }
    void retranslation_keeps_lists_in_order()
    {
        QFETCH(int, model);
        make_page();
        if (model >= 0) {
            auto unit = make_ground_unit();
            unit->setModelIndex(model);
            plug(unit);
            QTRY_VERIFY(connected());
        }
        const QStringList before = lists_of(ui);
        w->translateUI();
        QCOMPARE(lists_of(ui), before);
        install_chinese();
        w->translateUI();
        QStringList translated;
        for (const QString& list : before) {
            QStringList texts;
            for (const QString& text : list.split('|'))
                texts << QCoreApplication::translate("Wireless_Video_Link", text.toUtf8().constData());
            translated << texts.join('|');
        }
        QCOMPARE(lists_of(ui), translated);
        if (model < 0) // the catalogue translates channel and profile names
            QVERIFY(translated[1] != before[1] && translated[2] != before[2]);
        QCoreApplication::removeTranslator(chinese.get());
        w->translateUI();
        QCOMPARE(lists_of(ui), before);
    }

    // Each navigation button and its Ctrl+<n> show its page, the button the
    // only one checked; Ctrl+T shows the test page from any page, in any
    // language. A narrow window shows the buttons as icons, their names
    // and keys in the tool tips.
    void pages()
    {
        w = new Wireless_Video_Link();
        ui = w->form();
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        QCOMPARE(ui->stackedWidget->currentWidget(), ui->page_info);
        QCOMPARE(ui->tabWidget->currentWidget(), ui->tab_status);
        QCOMPARE(harness::mismatches(w, "widget_encry?=hidden; label_ETH_LOST?=hidden; label_ETH_LOST_l?=hidden; "
                                        "label_ETH_RECV?=hidden; label_RECV_l?=hidden; widget_air_rssi!=disabled"),
                 QString());
        QVERIFY(!w->poll_timer()->isActive());
        const QList<std::tuple<QPushButton*, QWidget*, Qt::Key>> nav{
            {ui->pushButton_infomation, ui->page_info, Qt::Key_1}, {ui->pushButton_status, ui->page_status, Qt::Key_2},
            {ui->pushButton_frequency, ui->page_frequency, Qt::Key_3},
            {ui->pushButton_configure, ui->page_config, Qt::Key_4}, {ui->pushButton_Update, ui->page_update, Qt::Key_5}};
        for (int pass = 0; pass < 2; ++pass) {
            for (const auto& [button, target, key] : nav) {
                QTest::mouseClick(button, Qt::LeftButton);
                QTest::mouseClick(button, Qt::LeftButton); // the group is exclusive: stays checked
                QCOMPARE(ui->stackedWidget->currentWidget(), target);
                QVERIFY(target->isVisible());
                for (const auto& other : nav)
                    QCOMPARE(std::get<0>(other)->isChecked(), std::get<0>(other) == button);
                QTest::keyClick(w, Qt::Key_T, Qt::ControlModifier);
                QCOMPARE(ui->stackedWidget->currentWidget(), ui->page_test);
                QTest::keyClick(w, key, Qt::ControlModifier);
                QCOMPARE(ui->stackedWidget->currentWidget(), target);
            }
            QTest::keyClick(w, Qt::Key_T, Qt::ControlModifier);
            QTest::keyClick(w, Qt::Key_T, Qt::ControlModifier); // from the test page itself
            QCOMPARE(ui->stackedWidget->currentWidget(), ui->page_test);
            if (pass == 0) {
                install_chinese();
                w->translateUI();
            }
        }
        QCoreApplication::removeTranslator(chinese.get());
        w->translateUI();
        ui->pushButton_infomation->click();
        QTest::mouseClick(ui->test_show, Qt::LeftButton);
        QCOMPARE(ui->stackedWidget->currentWidget(), ui->page_test);

        w->resize(820, 700);
        QVERIFY(ui->pushButton_status->text().isEmpty());
        QCOMPARE(ui->pushButton_status->toolTip(), QString("Status (Ctrl+2)"));
        QVERIFY(w->minimumSizeHint().width() <= 820 && w->minimumSizeHint().height() <= 700);
        w->resize(1200, 800);
        QCOMPARE(ui->pushButton_status->text(), QString("Status"));
    }

    // Slots bound by name (on_<object>_<signal>) whose object exists must
    // be bound: a renamed widget would silently lose its action.
    void auto_bound_slots_find_their_objects()
    {
        DebugCapture capture;
        auto window = std::make_unique<Wireless_Video_Link>();
        QMetaObject::connectSlotsByName(this); // one unbound slot of its own
        static const QRegularExpression unbound(
            "^QMetaObject::connectSlotsByName: No matching signal for (on_(\\w+)_([A-Za-z0-9]+))\\(");
        QStringList unmatched, wrongly_unbound;
        for (const QString& line : capture.lines()) {
            const QRegularExpressionMatch m = unbound.match(line);
            if (!m.hasMatch())
                continue;
            unmatched << m.captured(1);
            if (window->findChild<QObject*>(m.captured(2)))
                wrongly_unbound << m.captured(1);
        }
        QVERIFY2(wrongly_unbound.isEmpty(), qPrintable(wrongly_unbound.join(", ")));
        // Slots wired by hand (the poll's timer slot has no object) draw no
        // warning at start-up; the test's own unbound slot shows that the
        // warnings are seen at all.
        QCOMPARE(unmatched, QStringList{"on_missing_object_clicked"});
    }

    void demo_says_it_is_simulated()
    {
        harness::Window h;
        h.w->mark_simulated();
        auto* banner = h.w->findChild<QLabel*>("label_simulated_banner");
        QVERIFY(banner && banner->isVisible());
        QVERIFY(banner->text().startsWith("Simulated unit"));
        QCOMPARE(h.w->windowTitle(), QString("Quorlan (simulated unit)"));
    }

    // The pairing dialog says how long it may wait, leaves other windows
    // usable, and Escape or Cancel ends it with the poll running again.
    void pairing_can_be_left_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::newRow("Escape") << true;
        QTest::newRow("Cancel") << false;
    }
    void pairing_can_be_left()
    {
        QFETCH(bool, escape);
        Binding_Dialog::set_test_clock(&no_wait); // and no ticks: the test ends it
        harness::Window h;
        QVERIFY(h.opened);
        QString left;
        Qt::WindowModality modality = Qt::NonModal;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            auto* dialog = h.w->findChild<Binding_Dialog*>();
            if (!dialog || !dialog->isVisible())
                return;
            watch.stop();
            modality = dialog->windowModality();
            left = dialog->findChild<QLabel*>("label_time_left")->text();
            if (escape)
                QTest::keyClick(dialog, Qt::Key_Escape);
            else
                dialog->findChild<QPushButton*>("pushButton_cancel")->click();
        });
        watch.start(10);
        h.w->on_physical_Button_bind();
        QCOMPARE(modality, Qt::WindowModal);
        QCOMPARE(left, QString("320 s left"));
        QVERIFY(!h.w->binding_in_progress);
        QVERIFY(h.w->poll_timer()->isActive());
        QVERIFY(!h.ui->switch_bind->isChecked());
    }

    // A log whose serial number's table has other columns cannot take
    // rows: recording goes off and says why; the file is left as it was.
    void log_that_cannot_record()
    {
        QTemporaryDir dir;
        const QString before_cwd = QDir::currentPath();
        QDir::setCurrent(dir.path());
        {
            harness::Window h;
            QVERIFY(h.opened);
            h.w->on_pushButton_GET_SN_clicked();
            const QString path = dir.filePath("log.db");
            {
                QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "foreign");
                db.setDatabaseName(path);
                QVERIFY(db.open());
                const QString table = statlog::quoted_identifier(statlog::table_name(h.w->serial_number));
                QVERIFY(QSqlQuery(db).exec(QString("CREATE TABLE %1 (a INTEGER, b TEXT)").arg(table)));
                QVERIFY(QSqlQuery(db).exec(QString("INSERT INTO %1 VALUES (7, 'kept')").arg(table)));
                db.close();
            }
            QSqlDatabase::removeDatabase("foreign");
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QByteArray bytes = f.readAll();
            f.close();
            h.ui->checkBox_record->setChecked(true);
            h.w->poll_status();
            QVERIFY(!h.ui->checkBox_record->isChecked() && !h.w->record_enabled);
            auto* why = h.w->findChild<QLabel*>("label_record_problem");
            QVERIFY(why && !why->isHidden());
            QVERIFY2(why->text().startsWith("Not recording: ") || why->text().startsWith("Recording stopped: "),
                     qPrintable(why->text()));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), bytes);
        }
        QDir::setCurrent(before_cwd);
    }

    // While the engine runs, no control reaches the unit; afterwards the
    // poll runs at its period whatever was clicked meanwhile.
    void nothing_but_the_engine_during_an_upgrade()
    {
        updateThread::set_sleep_function(&test_sleep);
        g_divisor = 50;
        harness::Window h;
        QVERIFY(h.opened);
        QTemporaryDir dir;
        h.ui->lineEdit_file->setText(write_file(dir, "image.bin", build_image({{kMcu1, payload(3000, 7)}})));
        h.dev->setLatency(std::chrono::milliseconds(20));
        h.ui->pushButton_upgrade->click();
        QVERIFY(!h.ui->groupBox_technician->isEnabled());
        QVERIFY(!h.ui->widget_encry->isEnabled());
        const size_t m = h.mark();
        // The slots themselves, as a shortcut or a signal would reach them.
        h.w->on_comboBox_bandwidth_activated(1);
        h.w->on_radioButton_up_mode_clicked();
        h.w->on_radioButton_ARQ_enable_clicked();
        h.w->on_radioButton_antenna_0_clicked();
        h.w->on_TestMode_clicked(true);
        h.w->on_set_encrypt_key(QString(16, QLatin1Char('k')));
        h.w->set_BindMode(true);
        h.w->on_pushButton_GET_SN_clicked();
        for (uint8_t code : {sim::kReqBandwidth, sim::kReqTddRatio, sim::kReqConfigByte, sim::kReqAntenna,
                             sim::kReqTestMode, sim::kReqEncryptKey, sim::kReqBind, sim::kReqIdentity,
                             sim::kReqDevStatus})
            QVERIFY2(count_requests(h.since(m), code) == 0, qPrintable(QString::number(code, 16)));
        QVERIFY(!h.w->poll_timer()->isActive());
        QVERIFY(wait_for([&] { return h.ui->pushButton_upgrade->isEnabled(); }, 30000));
        QCOMPARE(h.ui->label_update_message->text(), QString("Upgrade success"));
        QVERIFY(h.w->poll_timer()->isActive());
        QCOMPARE(h.w->poll_timer()->interval(), 1000);
        QVERIFY(h.wait_poll());
    }

    // The two orderings where a handle was used after its close, held at
    // the point of danger: the unit is closed while the engine's transfer
    // is in flight, and the watcher's "connected" comes right after the
    // engine's own reopen at the MCU2 restart.
    void handle_shared_with_the_engine_data()
    {
        QTest::addColumn<QString>("ordering");
        QTest::newRow("closed while the engine transfers") << "close";
        QTest::newRow("watcher reopens after the MCU2 restart") << "reopen";
    }
    void handle_shared_with_the_engine()
    {
        QFETCH(QString, ordering);
        updateThread::set_sleep_function(&test_sleep);
        g_divisor = 50;
        auto unit = make_ground_unit();
        unit->upgrade().setRestartTiming(std::chrono::milliseconds(5), std::chrono::milliseconds(20));
        auto dev = plug(unit);
        Wireless_Video_Link w;
        QCOMPARE(w.open_device(true), 0);
        QTemporaryDir dir;
        const QByteArray mcu1 = payload(4000, 3), mcu2 = payload(1500, 4);
        const QByteArray image = ordering == "close" ? build_image({{kMcu1, mcu1}})
                                                     : build_image({{kMcu2, mcu2}, {kMcu1, mcu1}});
        w.form()->lineEdit_file->setText(write_file(dir, "image.bin", image));
        if (ordering == "close")
            dev->setLatency(std::chrono::milliseconds(150));
        harness::BoxAnswerer boxes; // "Please restart device."
        sim::BusWatch::instance().holdTransfers(*dev, true);
        w.form()->pushButton_upgrade->click();
        auto* engine = w.findChild<updateThread*>();
        QVERIFY(engine);
        QObject context;
        if (ordering == "close") {
            // Once a chunk is on its way: the window closes the unit.
            QObject::connect(engine, &updateThread::refresh_horizen_value, &context, [&](int value) {
                if (value > 0 && w.device_handle())
                    w.deal_dev_disconnected();
            });
        } else {
            // After the window's own reopen, the watcher's late "connected".
            QObject::connect(engine, &updateThread::mcu2_update, &context, [&](bool open) {
                if (open)
                    w.auto_connect_dev();
            });
        }
        sim::BusWatch::instance().holdTransfers(*dev, false);
        QVERIFY(wait_for([&] { return w.form()->pushButton_upgrade->isEnabled(); }, 60000));
        QCOMPARE(sim::BusWatch::instance().closedHandleUses(), 0);
        if (ordering == "close") {
            QVERIFY(w.form()->label_update_message->text() != QLatin1String("Upgrade success"));
            QVERIFY(!w.poll_timer()->isActive());
        } else {
            QCOMPARE(w.form()->label_update_message->text(), QString("Upgrade success"));
            QCOMPARE(unit->upgrade().flashed(Up::Mcu1), bytes(mcu1));
            QCOMPARE(unit->upgrade().flashed(Up::Mcu2), bytes(mcu2));
            QVERIFY(w.poll_timer()->isActive());
            QCOMPARE(sim::BusWatch::instance().liveHandles(), 1);
        }
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
        harness::Window::lay_out();
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
        harness::BoxAnswerer boxes;
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

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    init_resources();
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_main_window.moc"
