// The main window's roads through the real start page, watcher thread and
// window on the simulated bus (plug, connect, a setting, unplug, re-plug;
// what stops a connection; languages; pages and keys; pairing's way out; the
// handle shared with the upgrade engine), then the debug log file, the files'
// places, the Update page's image line and the debug view.
#include "bus_watch.h"
#include "settings_harness.h"
#include "ui_wireless_video_link.h" // the test's own uic run needs it named here
#include "upgrade_support.h"

#include "binding_dialog.h"
#include "debug_log.h"
#include "file_places.h"
#include "hotplug_thread.h"
#include "mainpage.h"
#include "stat_log.h"

#include <QClipboard>
#include <QDir>
#include <QSignalSpy>
#include <QToolButton>
#include <QTranslator>
#include <QElapsedTimer>
#include <atomic>

using namespace testsupport;
using namespace upgrade_support;

using DeviceSetup = std::function<void(sim::SimDevice&)>;
Q_DECLARE_METATYPE(DeviceSetup)
Q_DECLARE_METATYPE(QtMsgType)

namespace {

// What the widgets show: a combo box as its items "a|b|c", a button its text.
QStringList texts(const QList<QWidget*>& widgets)
{
    QStringList out;
    for (QWidget* w : widgets) {
        QStringList items;
        if (auto* box = qobject_cast<QComboBox*>(w))
            for (int i = 0; i < box->count(); ++i)
                items << box->itemText(i);
        out << (items.isEmpty() ? static_cast<QAbstractButton*>(w)->text() : items.join('|'));
    }
    return out;
}

QList<QWidget*> lists(const Ui::Wireless_Video_Link* ui)
{
    return {ui->comboBox_region, ui->comboBox_freq, ui->comboBox_profile, ui->comboBox_RadioRate,
            ui->comboBox_downlink};
}

QList<QWidget*> nav(const Ui::Wireless_Video_Link* ui)
{
    return {ui->pushButton_infomation, ui->pushButton_status, ui->pushButton_configure, ui->pushButton_frequency,
            ui->pushButton_Update};
}

void no_wait(int) {}

QString g_open_answer, g_save_answer, g_save_suggested;

QString read_all(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
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
    // A pairing no road means to start would wait in its dialog for minutes:
    // any that shows is closed at once, and fails the test.
    QTimer pairing_guard;
    int stray_dialogs = 0;

    QLabel* mention() { return page->findChild<QLabel*>("label_mention"); }
    bool connected() const { return harness::connected(w); }

    // The start page, its watcher scanning every 10 ms: a few scans pass in
    // a short wait.
    void make_page()
    {
        page = std::make_unique<MainPage>();
        page->scan_timer()->setInterval(10);
        page->show();
        w = page->main_window();
        ui = w->form();
    }

    void install_chinese()
    {
        chinese = std::make_unique<QTranslator>();
        QVERIFY(chinese->load(":/WirelessVideo_CH.qm"));
        QCoreApplication::installTranslator(chinese.get());
    }

private slots:
    void initTestCase()
    {
        upgrade_ui::set_open_file_function(+[](QWidget*, const QString&, const QString&, const QString&) {
            return g_open_answer;
        });
        upgrade_ui::set_save_file_function(+[](QWidget*, const QString&, const QString& dir, const QString&) {
            g_save_suggested = dir;
            return g_save_answer;
        });
        connect(&pairing_guard, &QTimer::timeout, this, [this] {
            for (QWidget* t : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<Binding_Dialog*>(t); d && d->isVisible()) {
                    ++stray_dialogs;
                    d->reject();
                }
        });
    }

    void init()
    {
        reset_bus();
        CommandChannel::set_wait_function(&no_wait);
        upgrade_ui::set_end_pause_function(&no_wait);
        Binding_Dialog::set_test_clock(&no_wait);
        stray_dialogs = 0;
        pairing_guard.start(10);
    }

    void cleanup()
    {
        pairing_guard.stop();
        CommandChannel::set_wait_function(nullptr);
        upgrade_ui::set_end_pause_function(nullptr);
        Binding_Dialog::set_test_clock(nullptr);
        updateThread::set_sleep_function(nullptr);
        reset_sleeps();
        if (chinese)
            QCoreApplication::removeTranslator(chinese.get());
        chinese.reset();
        page.reset();
        delete w;
        w = nullptr;
        reset_bus();
        QTRY_COMPARE(sim::BusWatch::instance().liveHandles(), 0);
        QCOMPARE(stray_dialogs, 0);
    }

    void plug_use_unplug_replug()
    {
        make_page();
        QSignalSpy status(w, &Wireless_Video_Link::dev_connect_status);
        QCOMPARE(w->open_device(false), 0); // nothing to close: nothing said
        QTest::qWait(60);                   // a few scans of an empty bus
        QVERIFY(page->isVisible() && !w->isVisible() && !w->device_handle() && status.isEmpty());
        QCOMPARE(mention()->text(), QString("Please connect device"));
        QCOMPARE(ui->comboBox_downlink->count(), 9);

        QSignalSpy appeared(page->watcher(), &HotplugThread::dev_connected);
        QSignalSpy gone(page->watcher(), &HotplugThread::dev_unconnected);
        DebugCapture capture;
        auto dev = plug();
        auto second = plug(); // two units: one appearance, the first taken
        QTRY_VERIFY(connected());
        QTest::qWait(60); // several more scans: still one appearance
        QCOMPARE(appeared.count(), 1);
        QVERIFY(!second->interfaceClaimed());
        sim::VirtualBus::instance().unplug(second); // pulling one of them out is no disappearance
        QTest::qWait(60);
        QCOMPARE(gone.count(), 0);
        QCOMPARE(QList<QVariantList>(status), QList<QVariantList>{{true}});
        QVERIFY(dev->interfaceClaimed() && !page->isVisible() && w->isVisible() && ui->widget_status->isChecked());
        QVERIFY(harness::wire(dev->log()).startsWith("E3 E0 E1")); // identity, device and software records
        QVERIFY(w->poll_timer()->isActive());
        QCOMPARE(ui->comboBox_downlink->count(), 7); // the two rates the unit lacks left out
        for (const char* line : {"Device Opened", "Claimed Interface 0", "dv.mcu2_version 13376"})
            QVERIFY2(capture.contains(line), line);
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
        capture.clear();
        sim::VirtualBus::instance().unplug(dev);
        QTRY_COMPARE(ui->label_connect->text(), QString("DisConnected"));
        QTest::qWait(60);
        QCOMPARE(gone.count(), 1);
        QCOMPARE(QList<QVariantList>(status), (QList<QVariantList>{{true}, {false}}));
        QVERIFY(!w->device_handle() && !w->poll_timer()->isActive() && !ui->widget_status->isChecked()
                && !ui->switch_bind->isChecked());
        QCOMPARE(harness::mismatches(w, "progressBar_ground_rssi=0; progressBar_ground_rssi_2=0; "
                                        "progressBar_air_rssi=0; progressBar_air_rssi_2=0; widget_air_rssi!=disabled; "
                                        "comboBox_downlink!=disabled; groupBox_technician!=disabled; "
                                        "pushButton_status!=enabled"),
                 QString());
        // Released although the unit is gone; the window stays.
        const auto released = [&] {
            return capture.contains("Released Interface") && !capture.contains("Cannot Release Interface");
        };
        QVERIFY(released());
        QTRY_COMPARE(sim::BusWatch::instance().liveHandles(), 0);
        QVERIFY(w->isVisible() && !page->isVisible());

        auto again = plug();
        QTRY_VERIFY(connected());
        QVERIFY(again->interfaceClaimed() && w->poll_timer()->isActive() && ui->comboBox_downlink->count() == 7);
        QVERIFY(ui->widget_air_rssi->isEnabled() && ui->comboBox_downlink->isEnabled());
        QCOMPARE(sim::BusWatch::instance().liveHandles(), 1);
        capture.clear();
        delete w; // the window's end closes the unit
        w = nullptr;
        QVERIFY(!again->interfaceClaimed() && released());
        QCOMPARE(sim::BusWatch::instance().liveHandles(), 0);
    }

    // What stops a connection leaves the start page up, closes what was
    // opened and does not retry; the unit plugged in again connects. (An
    // unreadable identity, which does connect, is tst_status_poll's.)
    void plug_faults_data()
    {
        QTest::addColumn<DeviceSetup>("setup");
        QTest::addColumn<QString>("line");
        QTest::newRow("claim refused: the driver is given back") << DeviceSetup([](sim::SimDevice& d) {
            d.setKernelDriverActive(true);
            d.setClaimFailure(LIBUSB_ERROR_BUSY);
        }) << "Cannot Claim Interface 0";
        QTest::newRow("access denied: the udev rule is named")
            << DeviceSetup([](sim::SimDevice& d) { d.setOpenFailure(LIBUSB_ERROR_ACCESS); }) << "Cannot open device";
    }
    void plug_faults()
    {
        QFETCH(DeviceSetup, setup);
        QFETCH(QString, line);
        make_page();
        DebugCapture capture;
        auto dev = sim::VirtualBus::instance().plug(make_ground_unit());
        setup(*dev);
        QTRY_VERIFY(capture.contains(line));
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

    // Started in Chinese (as on a Chinese system), switched both ways on the
    // start page, connected and disconnected in Chinese.
    void languages()
    {
        auto* translator = new QTranslator;
        QVERIFY(translator->load(":/WirelessVideo_CH.qm"));
        QCoreApplication::installTranslator(translator);
        make_page();
        page->adopt_translator(translator);
        const auto click = [&](const char* name) {
            QTest::mouseClick(page->findChild<QToolButton*>(name), Qt::LeftButton);
        };
        const auto shown = [&] { return QStringList{mention()->text()} + texts(nav(ui)); };
        const QStringList zh = QString::fromUtf8("请连接设备 关于 状态 配置 频率 升级").split(' ');
        QCOMPARE(shown(), zh);
        QSignalSpy retranslated(page.get(), &MainPage::trans_ui);
        DebugCapture capture;
        click("toolButton_english");
        QCOMPARE(shown(), QString("Please connect device|About|Status|Configure|Frequency|Update").split('|'));
        click("toolButton_chinese");
        QCOMPARE(shown(), zh);
        QVERIFY(capture.contains("load langu status true") && retranslated.count() == 2);
        auto dev = plug();
        QTRY_VERIFY(w->device_handle());
        QCOMPARE(ui->label_connect->text(), QString::fromUtf8("设备已连接"));
        sim::VirtualBus::instance().unplug(dev);
        QTRY_COMPARE(ui->label_connect->text(), QString::fromUtf8("设备未连接"));
        click("toolButton_english");
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
        const QStringList before = texts(lists(ui));
        w->translateUI();
        QCOMPARE(texts(lists(ui)), before);
        install_chinese();
        w->translateUI();
        QStringList translated;
        for (const QString& list : before) {
            QStringList items;
            for (const QString& text : list.split('|'))
                items << QCoreApplication::translate("Wireless_Video_Link", text.toUtf8().constData());
            translated << items.join('|');
        }
        QCOMPARE(texts(lists(ui)), translated);
        if (model < 0) // the catalogue translates channel and profile names
            QVERIFY(translated[1] != before[1] && translated[2] != before[2]);
        QCoreApplication::removeTranslator(chinese.get());
        w->translateUI();
        QCOMPARE(texts(lists(ui)), before);
    }

    // Each navigation button and its Ctrl+<n> show its page, the button the
    // only one checked; Ctrl+T shows the test page from any page, in either
    // language. A narrow window shows the buttons as icons, their names and
    // keys in the tool tips. The demo's window says it is simulated.
    void pages()
    {
        w = new Wireless_Video_Link();
        ui = w->form();
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        QVERIFY(ui->stackedWidget->currentWidget() == ui->page_info
                && ui->tabWidget->currentWidget() == ui->tab_status);
        QCOMPARE(harness::mismatches(w, "widget_encry?=hidden; label_ETH_LOST?=hidden; label_ETH_LOST_l?=hidden; "
                                        "label_ETH_RECV?=hidden; label_RECV_l?=hidden; widget_air_rssi!=disabled"),
                 QString());
        QVERIFY(!w->poll_timer()->isActive());
        const QList<QWidget*> buttons = nav(ui), targets{ui->page_info, ui->page_status, ui->page_config,
                                                         ui->page_frequency, ui->page_update};
        const QList<Qt::Key> keys{Qt::Key_1, Qt::Key_2, Qt::Key_4, Qt::Key_3, Qt::Key_5};
        const auto key = [&](Qt::Key k, QWidget* page) {
            QTest::keyClick(w, k, Qt::ControlModifier);
            QCOMPARE(ui->stackedWidget->currentWidget(), page);
        };
        for (bool chinese_pass : {false, true}) {
            for (int i = 0; i < buttons.size(); ++i) {
                QTest::mouseClick(buttons[i], Qt::LeftButton);
                QTest::mouseClick(buttons[i], Qt::LeftButton); // the group is exclusive: stays checked
                QVERIFY(ui->stackedWidget->currentWidget() == targets[i] && targets[i]->isVisible());
                for (QWidget* other : buttons)
                    QCOMPARE(static_cast<QPushButton*>(other)->isChecked(), other == buttons[i]);
                key(Qt::Key_T, ui->page_test);
                key(keys[i], targets[i]);
            }
            key(Qt::Key_T, ui->page_test);
            key(Qt::Key_T, ui->page_test); // from the test page itself
            if (!chinese_pass)
                install_chinese();
            else
                QCoreApplication::removeTranslator(chinese.get());
            w->translateUI();
        }
        ui->pushButton_infomation->click();
        QTest::mouseClick(ui->test_show, Qt::LeftButton);
        QCOMPARE(ui->stackedWidget->currentWidget(), ui->page_test);
        w->resize(820, 700);
        QVERIFY(ui->pushButton_status->text().isEmpty());
        QCOMPARE(ui->pushButton_status->toolTip(), QString("Status (Ctrl+2)"));
        QVERIFY(w->minimumSizeHint().width() <= 820 && w->minimumSizeHint().height() <= 700);
        w->resize(1200, 800);
        QCOMPARE(ui->pushButton_status->text(), QString("Status"));
        w->mark_simulated(); // the demo says so
        auto* banner = w->findChild<QLabel*>("label_simulated_banner");
        QVERIFY(banner && banner->isVisible() && banner->text().startsWith("Simulated unit"));
        QCOMPARE(w->windowTitle(), QString("Quorlan (simulated unit)"));
    }

    // Slots bound by name (on_<object>_<signal>) whose object exists must
    // be bound: a renamed widget would silently lose its action. Slots wired
    // by hand draw no warning; this test's own unbound slot shows that the
    // warnings are seen at all.
    void auto_bound_slots_find_their_objects()
    {
        DebugCapture capture;
        auto window = std::make_unique<Wireless_Video_Link>();
        QMetaObject::connectSlotsByName(this);
        static const QRegularExpression unbound(
            "^QMetaObject::connectSlotsByName: No matching signal for (on_(\\w+)_([A-Za-z0-9]+))\\(");
        QStringList unmatched, wrongly_unbound;
        for (const QString& line : capture.lines()) {
            const QRegularExpressionMatch m = unbound.match(line);
            if (m.hasMatch())
                (window->findChild<QObject*>(m.captured(2)) ? wrongly_unbound : unmatched) << m.captured(1);
        }
        QVERIFY2(wrongly_unbound.isEmpty(), qPrintable(wrongly_unbound.join(", ")));
        QCOMPARE(unmatched, QStringList{"on_missing_object_clicked"});
    }

    // The pairing dialog says how long it may wait, leaves other windows
    // usable, and Escape or Cancel ends it with the poll running again. On
    // the test clock no tick runs: the dialog is open at once, the test ends it.
    void pairing_can_be_left()
    {
        for (bool escape : {true, false}) {
            harness::Window h;
            QVERIFY(h.opened);
            QString left;
            Qt::WindowModality modality = Qt::NonModal;
            pairing_guard.stop();
            QTimer::singleShot(0, this, [&] {
                pairing_guard.start(10); // should it stay open
                auto* dialog = h.w->findChild<Binding_Dialog*>();
                modality = dialog->windowModality();
                left = dialog->findChild<QLabel*>("label_time_left")->text();
                if (escape)
                    QTest::keyClick(dialog, Qt::Key_Escape);
                else
                    dialog->findChild<QPushButton*>("pushButton_cancel")->click();
            });
            h.w->on_physical_Button_bind();
            QCOMPARE(modality, Qt::WindowModal);
            QCOMPARE(left, QString("320 s left"));
            QVERIFY(!h.w->binding_in_progress && h.w->poll_timer()->isActive() && !h.ui->switch_bind->isChecked());
        }
    }

    // The engine and the window around it. While it runs no control
    // reaches the unit, even through its slot (as a shortcut or a signal
    // would), and afterwards the poll runs at its period. Then the two
    // orderings where a handle was used after its close, held at the point
    // of danger: the unit closed while the engine's transfer is in flight,
    // and the watcher's "connected" right after the engine's own reopen at
    // the MCU2 restart.
    void upgrade_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::newRow("controls used during the run") << "controls";
        QTest::newRow("closed while the engine transfers") << "close";
        QTest::newRow("watcher reopens after the MCU2 restart") << "reopen";
    }
    void upgrade()
    {
        QFETCH(QString, meanwhile);
        updateThread::set_sleep_function(&test_sleep);
        g_divisor = 50;
        harness::Window h(0, [](sim::SimUnit& u) {
            u.upgrade().setRestartTiming(std::chrono::milliseconds(5), std::chrono::milliseconds(20));
        });
        QVERIFY(h.opened);
        Wireless_Video_Link* win = h.w.get();
        QTemporaryDir dir;
        const QByteArray mcu1 = payload(meanwhile == "close" ? 4000 : 3000, 3), mcu2 = payload(1500, 4);
        const QByteArray image = meanwhile == "reopen" ? build_image({{kMcu2, mcu2}, {kMcu1, mcu1}})
                                                       : build_image({{kMcu1, mcu1}});
        h.ui->lineEdit_file->setText(write_file(dir, "image.bin", image));
        h.dev->setLatency(std::chrono::milliseconds(meanwhile == "close" ? 150 : meanwhile == "controls" ? 20 : 0));
        harness::BoxAnswerer boxes; // "Please restart device."
        sim::BusWatch::instance().holdTransfers(*h.dev, meanwhile != "controls");
        h.ui->pushButton_upgrade->click();
        auto* engine = win->findChild<updateThread*>();
        QVERIFY(engine);
        QObject context;
        std::atomic<bool> reopened{false};
        if (meanwhile == "controls") {
            QVERIFY(!h.ui->groupBox_technician->isEnabled() && !h.ui->widget_encry->isEnabled());
            const size_t m = h.mark();
            win->on_comboBox_bandwidth_activated(1);
            win->on_radioButton_up_mode_clicked();
            win->on_radioButton_ARQ_enable_clicked();
            win->on_radioButton_antenna_0_clicked();
            win->on_TestMode_clicked(true);
            win->on_set_encrypt_key(QString(16, QLatin1Char('k')));
            win->set_BindMode(true);
            win->on_pushButton_GET_SN_clicked();
            const auto since = h.since(m);
            const auto engine_only = [](const sim::Transfer& t) { return upgrade_code(t.bRequest); };
            QVERIFY2(std::all_of(since.begin(), since.end(), engine_only), qPrintable(harness::wire(since).left(300)));
            QVERIFY(!win->poll_timer()->isActive());
        } else if (meanwhile == "close") { // once a chunk is on its way
            QObject::connect(engine, &updateThread::refresh_horizen_value, &context, [&](int value) {
                if (value > 0 && win->device_handle())
                    win->deal_dev_disconnected();
            });
        } else { // after the window's own reopen, before the engine looks for the handle
            QObject::connect(engine, &updateThread::mcu2_update, &context, [&](bool open) {
                if (open) {
                    win->auto_connect_dev();
                    reopened = true;
                }
            });
            // The engine's reopen wait, shortened here, must not run out
            // before a loaded machine's user-interface thread has reopened.
            set_before_sleep([&](int ms) {
                QElapsedTimer bound;
                bound.start();
                while (ms == upgrade_timing::kMcu2ReopenWaitMs && !reopened && bound.elapsed() < 20000)
                    QThread::msleep(1);
            });
        }
        sim::BusWatch::instance().holdTransfers(*h.dev, false);
        QVERIFY(wait_for([&] { return h.ui->pushButton_upgrade->isEnabled(); }, 60000));
        set_before_sleep(nullptr);
        QCOMPARE(sim::BusWatch::instance().closedHandleUses(), 0);
        QVERIFY2((h.ui->label_update_message->text() == "Upgrade success") == (meanwhile != "close"),
                 qPrintable(h.ui->label_update_message->text()));
        QCOMPARE(win->poll_timer()->isActive(), meanwhile != "close");
        if (meanwhile == "close")
            return;
        QCOMPARE(win->poll_timer()->interval(), 1000);
        QCOMPARE(h.unit->upgrade().flashed(Up::Mcu1), bytes(mcu1));
        if (meanwhile == "controls")
            QVERIFY(h.wait_poll());
        else
            QVERIFY(h.unit->upgrade().flashed(Up::Mcu2) == bytes(mcu2) && sim::BusWatch::instance().liveHandles() == 1);
    }

    // --- The debug log file ---------------------------------------------------

    // One line per message, the stamp and a letter for its kind; further
    // lines indented. The file grows to its limit; a line past it rotates.
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
        QTest::newRow("UTF-8") << QtDebugMsg << QString::fromUtf8("升级 ok")
                               << QByteArray("D \xe5\x8d\x87\xe7\xba\xa7 ok\n");
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
        const auto line = [](int i) { return QStringLiteral("line %1 ------\n").arg(i, 2, 10, QChar('0')); };
        {
            debuglog::LogFile file(path, 100);
            QVERIFY(file.open()); // creates the folders
            for (int i = 0; i < 30; ++i)
                QVERIFY(file.append(line(i).toUtf8()));
        }
        const QString current = read_all(path), older = read_all(debuglog::rotated_path(path));
        QVERIFY(QFileInfo(path).size() <= 100 && QFileInfo(debuglog::rotated_path(path)).size() <= 100);
        QVERIFY(current.endsWith(line(29)));
        // The older file ends where the current one begins.
        QVERIFY2(older.endsWith(line(current.mid(5, 2).toInt() - 1)), qPrintable(older + "|" + current));
        QCOMPARE(QDir(dir.filePath("a/b")).entryList(QDir::Files).size(), 2);
        debuglog::LogFile again(path, 100); // reopened, it appends
        QVERIFY(again.open());
        QCOMPARE(again.size(), QFileInfo(path).size());
    }

    // The handler writes every message, from any thread, and passes the
    // stream on unchanged; a folder it cannot make installs nothing.
    void handler_writes_and_passes_on_unchanged()
    {
        QTemporaryDir dir;
        QVERIFY(!debuglog::install(write_file(dir, "plain file", "x") + "/below"));
        QVERIFY(debuglog::installed_path().isEmpty());
        const QString folder = dir.filePath(QStringLiteral("new folder"));
        DebugCapture capture;
        QVERIFY(debuglog::install(folder));
        QCOMPARE(debuglog::installed_path(), QDir(folder).filePath(QStringLiteral("quorlan.log")));
        qDebug() << "set bandwidth: " << 2;
        qDebug().noquote() << "Set Set TDD Ratio done";
        QThread* worker = QThread::create([] { qDebug() << "update thread running"; }); // as the engine writes
        worker->start();
        QVERIFY(worker->wait(5000));
        delete worker;
        debuglog::uninstall();
        qDebug() << "after the log";
        QCOMPARE(capture.lines(), (QStringList{"set bandwidth:  2", "Set Set TDD Ratio done", "update thread running",
                                               "after the log"}));
        const QStringList file = read_all(QDir(folder).filePath("quorlan.log")).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(file.size(), 4); // the start mark and three messages
        QVERIFY(file[0].contains(" I ---- "));
        QVERIFY(file[1].endsWith(" D set bandwidth:  2") && file[2].endsWith(" D Set Set TDD Ratio done")
                && file[3].endsWith(" D update thread running"));
        QVERIFY(debuglog::installed_path().isEmpty());
    }

    // --- Where the files lie ------------------------------------------------

    // The full paths in the tool tips; the texts fitted to the width, both
    // ends of a long path in sight.
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
        ui->stackedWidget->setCurrentWidget(ui->page_status);
        harness::Window::lay_out();
        QCOMPARE(statlog::database_path(), QDir::current().absoluteFilePath("log.db"));
        QCOMPARE(ui->label_record_path->toolTip(), statlog::database_path());
        QVERIFY(ui->label_record_path->text().startsWith("Database: "));
        // Beside the check box, on its line.
        QCOMPARE(ui->label_record_path->parentWidget(), ui->checkBox_record->parentWidget());
        QVERIFY(qAbs(ui->label_record_path->geometry().center().y() - ui->checkBox_record->geometry().center().y())
                < 6);

        QLabel label;
        const QString path = "/home/technician/" + QString("very-long-folder-name/").repeated(8) + "log.db";
        for (int width : {2000, 300, 120}) {
            const QString text = file_places::fitted_text(&label, "Database: %1", path, width);
            QVERIFY2(text.startsWith("Database: ") && label.fontMetrics().horizontalAdvance(text) <= width,
                     qPrintable(text));
            if (label.fontMetrics().horizontalAdvance("Database: " + path) <= width)
                QCOMPARE(text, "Database: " + path);
            else if (width >= 300)
                QVERIFY2(text.contains(QChar(0x2026)) && text.endsWith("log.db") && text.contains("/home"),
                         qPrintable(text));
        }
    }

    // --- The Update page's image line and the debug view ---------------------

    // What the line says comes from the image checks (tst_firmware_image,
    // tst_upgrade); here: that the window follows the file chosen, typed,
    // changed on the disk, the language, and a cancelled choice.
    void image_label_in_the_window()
    {
        QTemporaryDir dir;
        Wireless_Video_Link w;
        w.show();
        Ui::Wireless_Video_Link* ui = w.form();
        ui->stackedWidget->setCurrentWidget(ui->page_update);
        QVERIFY(!ui->label_image_info->isVisible()); // nothing chosen yet
        const auto choose = [&] { QTest::mouseClick(ui->Select_file_button, Qt::LeftButton); };

        g_open_answer = write_file(dir, "good.bin", build_image({{kMcu1, payload(100, 1)}, {kFpga, payload(30, 2)}}));
        choose();
        QCOMPARE(ui->lineEdit_file->text(), g_open_answer);
        QVERIFY(ui->label_image_info->isVisible() && !ui->label_image_info->property("refused").toBool());
        QCOMPARE(ui->label_image_info->text(), QString("Targets in this image: MCU1 (100 bytes), FPGA (30 bytes)"));

        const QString bad = write_file(dir, "bad.hex", build_image({{0x77, payload(10, 3)}}));
        ui->lineEdit_file->clear();
        QTest::keyClicks(ui->lineEdit_file, bad);
        QCOMPARE(ui->label_image_info->text(),
                 QString("This image would be refused: invalid image: record 0 has unknown type 0x77"));
        QVERIFY(ui->label_image_info->property("refused").toBool());

        // The same file chosen again after it changed on the disk.
        g_open_answer = write_file(dir, "good.bin", build_image({{kMcu2, payload(7, 4)}}));
        choose();
        choose();
        QCOMPARE(ui->label_image_info->text(), QString("Targets in this image: MCU2 (7 bytes)"));
        write_file(dir, "good.bin", build_image({{kMcu2, payload(9, 5)}}));
        choose();
        QCOMPARE(ui->label_image_info->text(), QString("Targets in this image: MCU2 (9 bytes)"));

        install_chinese();
        QCoreApplication::processEvents();
        const QString zh = ui->label_image_info->text();
        QCoreApplication::removeTranslator(chinese.get());
        QCoreApplication::processEvents();
        QVERIFY2(zh != ui->label_image_info->text() && zh.contains("MCU2"), qPrintable(zh));
        QCOMPARE(ui->label_image_info->text(), QString("Targets in this image: MCU2 (9 bytes)"));

        g_open_answer.clear();
        choose();
        QVERIFY(!ui->label_image_info->isVisible());
        QCOMPARE(upgrade_ui::describe_image_file(QString()).text, QString()); // no path, nothing to say
    }

    // The debug view copied, or saved to a file chosen in a fresh folder.
    void debug_view_data()
    {
        QTest::addColumn<QString>("answer"); // "copy", or the file chosen ("-": cancelled)
        QTest::addColumn<QString>("outcome");
        QTest::newRow("copied") << "copy" << "clipboard";
        QTest::newRow("saved") << "debug.txt" << "file";
        QTest::newRow("cancelled") << "-" << "";
        QTest::newRow("folder missing") << "no/such/folder/debug.txt" << "warning";
        QTest::newRow("a folder chosen") << "." << "warning";
    }
    void debug_view()
    {
        QFETCH(QString, answer);
        QFETCH(QString, outcome);
        QTemporaryDir dir;
        g_save_answer = answer == "-" ? QString() : dir.filePath(answer);
        Wireless_Video_Link w;
        Ui::Wireless_Video_Link* ui = w.form();
        QVERIFY(!ui->pushButton_copy_debug->isEnabled() && !ui->pushButton_save_debug->isEnabled());
        w.upgrade_debug_mes("erase MCU1");
        w.upgrade_debug_mes(QString::fromUtf8("擦除 MCU1"));
        QVERIFY(ui->pushButton_copy_debug->isEnabled() && ui->pushButton_save_debug->isEnabled());
        QApplication::clipboard()->clear();
        harness::BoxAnswerer boxes;
        (answer == "copy" ? ui->pushButton_copy_debug : ui->pushButton_save_debug)->click();
        const QString view = QString::fromUtf8("erase MCU1\n擦除 MCU1");
        QCOMPARE(QApplication::clipboard()->text(), outcome == "clipboard" ? view : "");
        QCOMPARE(read_all(g_save_answer), outcome == "file" ? view + '\n' : "");
        QVERIFY(answer == "copy" || g_save_suggested.endsWith(".txt"));
        QCOMPARE(boxes.seen.size(), outcome == "warning" ? 1 : 0);
        if (outcome == "warning")
            QVERIFY2(boxes.seen[0].title == "warning" && boxes.seen[0].text.contains(g_save_answer)
                         && boxes.seen[0].icon == QMessageBox::Warning,
                     qPrintable(boxes.seen[0].text));
        // No file left behind in the folder besides what was asked for.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), outcome == "file" ? 1 : 0);
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
