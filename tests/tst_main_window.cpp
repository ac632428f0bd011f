// The main window as built: every object the rest of the program addresses
// by name, the slots bound by name, the combo-box lists and their
// retranslation, the pages and how the user moves between them, the Chinese
// texts and the teardown of a live connection.
#include <algorithm>
#include "testsupport.h"

#include "encry_form.h"
#include "mainpage.h"
#include "ui_wireless_video_link.h"
#include "wireless_video_link.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <memory>

using namespace testsupport;

namespace {

const char kContext[] = "Wireless_Video_Link";

// Object name and class of everything the window's form must hold, and of
// the names that the settings, the poll, the statistics and the upgrade
// write to. Layouts are listed where the program names them.
struct Named
{
    const char* name;
    const char* cls;
};

const Named kFormObjects[] = {
    // Frame and title bar.
    {"gridLayout_7", "QGridLayout"},
    {"widget", "QWidget"},
    {"gridLayout_4", "QGridLayout"},
    {"UTitleBar", "QWidget"},
    {"horizontalLayout_6", "QHBoxLayout"},
    {"label_logo", "QLabel"},
    {"pushButton_infomation", "QPushButton"},
    {"pushButton_status", "QPushButton"},
    {"pushButton_configure", "QPushButton"},
    {"pushButton_frequency", "QPushButton"},
    {"pushButton_Update", "QPushButton"},
    {"label_bind_status", "QLabel"},
    {"switch_bind", "enable_switch"},
    {"label_connect", "QLabel"},
    {"widget_status", "switch_button"},
    {"stackedWidget", "QStackedWidget"},
    // About.
    {"page_info", "QWidget"},
    {"gridLayout_11", "QGridLayout"},
    {"label_devpic", "QLabel"},
    {"widget_firmware", "QWidget"},
    {"label_pic_firm", "QLabel"},
    {"label_14", "QLabel"},
    {"label_info_firm", "QLabel"},
    {"widget_fpga", "QWidget"},
    {"label_pic_fpga", "QLabel"},
    {"label_20", "QLabel"},
    {"label_info_fpga", "QLabel"},
    {"widget_dev_type", "QWidget"},
    {"label_pic_type", "QLabel"},
    {"label_9", "QLabel"},
    {"test_show", "QPushButton"},
    {"label_info_dev", "QLabel"},
    {"widget_soft", "QWidget"},
    {"label_pic_soft", "QLabel"},
    {"label_13", "QLabel"},
    {"label_7", "QLabel"},
    {"label_sn", "QLabel"},
    // Status.
    {"page_status", "QWidget"},
    {"gridLayout_14", "QGridLayout"},
    {"label_a_status", "QLabel"},
    {"label_g_status", "QLabel"},
    {"widget_air_rssi", "QWidget"},
    {"label_22", "QLabel"},
    {"progressBar_air_rssi", "QProgressBar"},
    {"label_26", "QLabel"},
    {"progressBar_air_rssi_2", "QProgressBar"},
    {"widget_ground_rssi", "QWidget"},
    {"label_23", "QLabel"},
    {"progressBar_ground_rssi", "QProgressBar"},
    {"label_36", "QLabel"},
    {"progressBar_ground_rssi_2", "QProgressBar"},
    {"widget_a_power", "QWidget"},
    {"label_75", "QLabel"},
    {"label_a_PA_TEMP", "QLabel"},
    {"label_a_BB_TEMP_L", "QLabel"},
    {"label_a_BB_TEMP", "QLabel"},
    {"label_73", "QLabel"},
    {"label_a_Distance", "QLabel"},
    {"label_72", "QLabel"},
    {"label_uplink_rate_2", "QLabel"},
    {"widget_g_power", "QWidget"},
    {"label_41", "QLabel"},
    {"label_g_PA_TEMP", "QLabel"},
    {"label_g_BB_TEMP_L", "QLabel"},
    {"label_g_BB_TEMP", "QLabel"},
    {"label_71", "QLabel"},
    {"label_g_BB_SNR", "QLabel"},
    {"label_27", "QLabel"},
    {"label_downlink_rate_2", "QLabel"},
    // Frequency.
    {"page_frequency", "QWidget"},
    {"gridLayout_13", "QGridLayout"},
    {"widget_freqstatus", "QWidget"},
    {"label_48", "QLabel"},
    {"label_FREQ", "QLabel"},
    {"label_MHZ", "QLabel"},
    {"label_working_region", "QLabel"},
    {"comboBox_region", "QComboBox"},
    {"label", "QLabel"},
    {"label_45", "QLabel"},
    {"pushButton_auto", "QPushButton"},
    {"pushButton_manual", "QPushButton"},
    {"comboBox_freq", "QComboBox"},
    {"label_profile", "QLabel"},
    {"comboBox_profile", "QComboBox"},
    {"label_antenna_choise", "QLabel"},
    {"pushButton_antenna_1", "QPushButton"},
    {"pushButton_antenna_2", "QPushButton"},
    {"label_antenna_test", "QLabel"},
    {"pushButton_antenna_test", "QPushButton"},
    {"stackedWidget_freq", "QStackedWidget"},
    {"page_scan", "QWidget"},
    {"label_freqscan", "QLabel"},
    {"chart_widget", "QtCharts::QChartView"},
    {"page_blank", "QWidget"},
    // Update.
    {"page_update", "QWidget"},
    {"horizontalLayout_15", "QHBoxLayout"},
    {"widget_usage", "QWidget"},
    {"label_usage", "QLabel"},
    {"label_introduction", "QLabel"},
    {"label_upgrade", "QLabel"},
    {"label_note", "QLabel"},
    {"label_note_2", "QLabel"},
    {"frame_2", "QFrame"},
    {"gridLayout", "QGridLayout"},
    {"Select_file_button", "QPushButton"},
    {"lineEdit_file", "QLineEdit"},
    {"pushButton_upgrade", "QPushButton"},
    {"progressBar", "QProgressBar"},
    {"label_update_message", "QLabel"},
    {"textEdit_debug_message", "QTextEdit"},
    // Configure.
    {"page_config", "QWidget"},
    {"gridLayout_15", "QGridLayout"},
    {"widget_config_usage", "QWidget"},
    {"label_config_usage", "QLabel"},
    {"label_12", "QLabel"},
    {"label_config_usage2", "QLabel"},
    {"label_con_readme", "QLabel"},
    {"widget_config_2", "QWidget"},
    {"widget_encry", "Encry_Form"},
    {"widget_config_grd2", "QWidget"},
    {"gridLayout_10", "QGridLayout"},
    {"label_Radio_BR", "QLabel"},
    {"comboBox_RadioRate", "QComboBox"},
    {"label_RC_Mode", "QLabel"},
    {"radioButton_ppm", "QRadioButton"},
    {"radioButton_sbus", "QRadioButton"},
    {"label_Guc_mode", "QLabel"},
    {"radioButton_RO", "QRadioButton"},
    {"radioButton_RT", "QRadioButton"},
    {"label_Datalink_I", "QLabel"},
    {"radioButton_usb", "QRadioButton"},
    {"radioButton_uart", "QRadioButton"},
    {"label_DOWNLINK", "QLabel"},
    {"comboBox_downlink", "QComboBox"},
    {"widget_7", "QWidget"},
    {"label_Restore", "QLabel"},
    {"pushButton_restore", "QPushButton"},
    // Test page.
    {"page_test", "QWidget"},
    {"gridLayout_2", "QGridLayout"},
    {"tabWidget", "QTabWidget"},
    {"tab_status", "QWidget"},
    {"groupBox_g_status", "QGroupBox"},
    {"groupBox_a_status", "QGroupBox"},
    // Test page values that the poll and the statistics write.
    {"label_RFPOWER", "QLabel"},
    {"label_RF_Power_l", "QLabel"},
    {"label_test_g_rssi", "QLabel"},
    {"label_test_g_rssi_2", "QLabel"},
    {"label_test_g_snr", "QLabel"},
    {"label_test_g_vga", "QLabel"},
    {"label_test_g_ldpcpass", "QLabel"},
    {"label_test_g_ldpcfail", "QLabel"},
    {"label_test_a_rssi", "QLabel"},
    {"label_test_a_rssi_2", "QLabel"},
    {"label_test_a_snr", "QLabel"},
    {"label_test_a_vga", "QLabel"},
    {"label_test_a_ldpcpass", "QLabel"},
    {"label_test_a_ldpcfail", "QLabel"},
    {"label_G_PA_TEMP", "QLabel"},
    {"label_G_BB_TEMP", "QLabel"},
    {"label_g_bb_temp_l", "QLabel"},
    {"label_A_PA_TEMP", "QLabel"},
    {"label_A_BB_TEMP", "QLabel"},
    {"label_a_bb_temp_l", "QLabel"},
    {"label_g_packets_send", "QLabel"},
    {"label_g_packets_send_l", "QLabel"},
    {"label_g_packet_recv", "QLabel"},
    {"label_g_packet_recv_l", "QLabel"},
    {"label_g_packets_submitted", "QLabel"},
    {"label_g_packets_submitted_l", "QLabel"},
    {"label_g_packets_discard", "QLabel"},
    {"label_g_packets_discard_l", "QLabel"},
    {"label_g_packets_retransmit", "QLabel"},
    {"label_g_packets_retransmit_l", "QLabel"},
    {"label_g_buf_overflow", "QLabel"},
    {"label_g_buf_overflow_l", "QLabel"},
    {"label_a_packets_send", "QLabel"},
    {"label_a_packets_send_l", "QLabel"},
    {"label_a_packet_recv", "QLabel"},
    {"label_a_packet_recv_l", "QLabel"},
    {"label_a_packets_submitted", "QLabel"},
    {"label_a_packets_submitted_l", "QLabel"},
    {"label_a_packets_discard", "QLabel"},
    {"label_a_packets_discard_l", "QLabel"},
    {"label_a_packets_retransmit", "QLabel"},
    {"label_a_packets_retransmit_l", "QLabel"},
    {"label_a_buf_overflow", "QLabel"},
    {"label_a_buf_overflow_l", "QLabel"},
    {"label_datalink_send", "QLabel"},
    {"label_datalink_recv", "QLabel"},
    {"label_lostp", "QLabel"},
    {"label_packet_lost_l", "QLabel"},
    {"label_antenna_sta", "QLabel"},
    {"label_current_ant", "QLabel"},
    {"label_test_downlink", "QLabel"},
    {"label_test_bandrate", "QLabel"},
    {"label_downlink_rate", "QLabel"},
    {"label_uplink_rate", "QLabel"},
    {"label_frequency_l", "QLabel"},
    {"label_distance_l", "QLabel"},
    {"label_ETH_LOST", "QLabel"},
    {"label_ETH_LOST_l", "QLabel"},
    {"label_ETH_RECV", "QLabel"},
    {"label_RECV_l", "QLabel"},
};

// The encryption panel's own controls, reached through `widget_encry`.
const Named kEncryptionObjects[] = {
    {"label_encry", "QLabel"},
    {"radioButton_AES128", "QRadioButton"},
    {"radioButton_AES256", "QRadioButton"},
    {"lineEdit_encry", "QLineEdit"},
    {"pushButton_encry", "QPushButton"},
};

bool below(const QObject* object, const QObject* ancestor)
{
    for (const QObject* p = object->parent(); p; p = p->parent())
        if (p == ancestor)
            return true;
    return false;
}

QStringList items(const QComboBox* box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}

QStringList translated(const QStringList& english)
{
    QStringList list;
    for (const QString& text : english)
        list << QCoreApplication::translate(kContext, text.toUtf8().constData());
    return list;
}

const QStringList kRegions = {"FCC", "CE", "GITEIK", "GITEIK-High"};
const QStringList kProfiles = {"Aircraft 0", "Aircraft 1"};
const QStringList kBaudRates = {"9600b", "57600b", "115200b"};
const QStringList kDownlinkRates = {
    "BPSK_1/2 (1.98Mbps)", "BPSK_2/3 (2.64Mbps)", "BPSK_3/4 (2.87Mbps)",
    "BPSK_5/6 (3.18Mbps)", "QPSK_1/2 (3.80Mbps)", "QPSK_2/3 (5.04Mbps)",
    "QPSK_3/4 (5.66Mbps)", "QPSK_5/6 (6.28Mbps)", "16QAM_1/2 (7.52Mbps)"};
// After the first connection: without "BPSK_3/4" and "QPSK_3/4".
const QStringList kTrimmedDownlinkRates = {
    "BPSK_1/2 (1.98Mbps)", "BPSK_2/3 (2.64Mbps)", "BPSK_5/6 (3.18Mbps)",
    "QPSK_1/2 (3.80Mbps)", "QPSK_2/3 (5.04Mbps)", "QPSK_5/6 (6.28Mbps)",
    "16QAM_1/2 (7.52Mbps)"};

QStringList layout_channels()
{
    QStringList list;
    for (int n = 1; n <= 14; ++n)
        list << QString("Channel %1 (%2MHz)").arg(n).arg(2407 + 5 * n);
    list << "Channel RSV (2390MHz)" << "Channel RSV (2495MHz)";
    return list;
}

struct ComboLists
{
    QStringList region, freq, profile, baud, downlink;
};

ComboLists lists_of(const Ui::Wireless_Video_Link* ui)
{
    return {items(ui->comboBox_region), items(ui->comboBox_freq), items(ui->comboBox_profile),
            items(ui->comboBox_RadioRate), items(ui->comboBox_downlink)};
}

// The navigation buttons with the page each one shows.
QPushButton* nav_button(Ui::Wireless_Video_Link* ui, const QString& name)
{
    for (QPushButton* b : {ui->pushButton_infomation, ui->pushButton_status, ui->pushButton_configure,
                           ui->pushButton_frequency, ui->pushButton_Update})
        if (b->objectName() == name)
            return b;
    return nullptr;
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<MainPage> page;
    Wireless_Video_Link* w = nullptr; // owned here: the start page never deletes it
    Ui::Wireless_Video_Link* ui = nullptr;
    std::unique_ptr<Wireless_Video_Link> census; // one window for the read-only checks
    std::unique_ptr<QTranslator> chinese;

    void make_page()
    {
        page = std::make_unique<MainPage>();
        page->show();
        w = page->main_window();
        ui = w->form();
    }

    // A window on its own, shown and active, as the user sees it.
    void make_window()
    {
        w = new Wireless_Video_Link();
        ui = w->form();
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
    }

    bool connected() { return w->device_handle() && ui->label_connect->text() == "Connected"; }

    void install_chinese()
    {
        chinese = std::make_unique<QTranslator>();
        QVERIFY(chinese->load(":/WirelessVideo_CH.qm"));
        QCoreApplication::installTranslator(chinese.get());
    }

    void remove_chinese()
    {
        if (chinese)
            QCoreApplication::removeTranslator(chinese.get());
        chinese.reset();
    }

private slots:
    void init() { reset_bus(); }

    void cleanup()
    {
        remove_chinese();
        page.reset();
        delete w;
        w = nullptr;
        ui = nullptr;
        reset_bus();
        QTRY_COMPARE(sim::VirtualBus::instance().liveHandles(), 0);
    }

    void cleanupTestCase() { census.reset(); }

    // --- The object census -------------------------------------------------

    void form_object_exists_once_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("cls");
        for (const Named& o : kFormObjects)
            QTest::newRow(o.name) << QString(o.name) << QString(o.cls);
    }

    void form_object_exists_once()
    {
        QFETCH(QString, name);
        QFETCH(QString, cls);
        if (!census)
            census = std::make_unique<Wireless_Video_Link>();
        // The encryption panel is a form of its own; its inner layouts share
        // generic names with this form's and are not part of it.
        const QObject* panel = census->findChild<QObject*>("widget_encry");
        QList<QObject*> found;
        for (QObject* o : census->findChildren<QObject*>(name))
            if (!panel || o == panel || !below(o, panel))
                found << o;
        QCOMPARE(found.size(), 1);
        QCOMPARE(QString(found.first()->metaObject()->className()), cls);
    }

    void encryption_panel_object_exists_once_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("cls");
        for (const Named& o : kEncryptionObjects)
            QTest::newRow(o.name) << QString(o.name) << QString(o.cls);
    }

    void encryption_panel_object_exists_once()
    {
        QFETCH(QString, name);
        QFETCH(QString, cls);
        if (!census)
            census = std::make_unique<Wireless_Video_Link>();
        const QList<QObject*> found = census->findChildren<QObject*>(name);
        QCOMPARE(found.size(), 1);
        QVERIFY(below(found.first(), census->form()->widget_encry));
        QCOMPARE(QString(found.first()->metaObject()->className()), cls);
    }

    void window_itself()
    {
        if (!census)
            census = std::make_unique<Wireless_Video_Link>();
        QCOMPARE(census->objectName(), QString("Wireless_Video_Link"));
        QCOMPARE(census->windowTitle(), QString("Quorlan"));
        QCOMPARE(census->focusPolicy(), Qt::WheelFocus);
        QVERIFY(!census->parent());
    }

    // --- Slots bound by name -----------------------------------------------

    void auto_bound_slots_find_their_objects()
    {
        DebugCapture capture;
        auto window = std::make_unique<Wireless_Video_Link>();
        const QStringList lines = capture.lines();

        static const QRegularExpression unbound(
            "^QMetaObject::connectSlotsByName: No matching signal for (on_(\\w+)_([A-Za-z0-9]+))\\(");
        QStringList unmatched;
        QStringList wrongly_unbound;
        for (const QString& line : lines) {
            const QRegularExpressionMatch m = unbound.match(line);
            if (!m.hasMatch())
                continue;
            unmatched << m.captured(1);
            // on_<object>_<signal>: signal names carry no underscore.
            if (window->findChild<QObject*>(m.captured(2)))
                wrongly_unbound << m.captured(1);
        }
        QVERIFY2(wrongly_unbound.isEmpty(), qPrintable("slots whose object exists but are not bound: "
                                                        + wrongly_unbound.join(", ")));
        // The warnings were seen at all: the poll's timer slot has no object.
        QVERIFY2(unmatched.contains("on_timer_trigger"), qPrintable(lines.join("\n")));
    }

    void test_button_bound_by_name()
    {
        make_window();
        QCOMPARE(ui->stackedWidget->currentWidget(), ui->page_info);
        QTest::mouseClick(ui->test_show, Qt::LeftButton);
        QCOMPARE(ui->stackedWidget->currentWidget(), ui->page_test);
    }

    // --- Combo-box lists -----------------------------------------------------

    void lists_as_built()
    {
        make_window();
        const ComboLists l = lists_of(ui);
        QCOMPARE(l.region, kRegions);
        QCOMPARE(l.freq.size(), 16);
        QCOMPARE(l.freq, layout_channels());
        QCOMPARE(l.profile, kProfiles);
        QCOMPARE(l.baud, kBaudRates);
        QCOMPARE(l.downlink.size(), 9);
        QCOMPARE(l.downlink, kDownlinkRates);
        QCOMPARE(ui->comboBox_RadioRate->currentText(), QString("9600b"));
        QCOMPARE(ui->comboBox_downlink->currentText(), QString("BPSK_1/2 (1.98Mbps)"));
    }

    void first_connection_trims_downlink_list()
    {
        make_page();
        QCOMPARE(ui->comboBox_downlink->count(), 9);
        plug();
        QTRY_VERIFY(connected());
        QCOMPARE(ui->comboBox_downlink->count(), 7);
        QCOMPARE(items(ui->comboBox_downlink), kTrimmedDownlinkRates);
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
        const ComboLists before = lists_of(ui);

        w->translateUI();
        ComboLists after = lists_of(ui);
        QCOMPARE(after.region, before.region);
        QCOMPARE(after.freq, before.freq);
        QCOMPARE(after.profile, before.profile);
        QCOMPARE(after.baud, before.baud);
        QCOMPARE(after.downlink, before.downlink);

        install_chinese();
        w->translateUI();
        after = lists_of(ui);
        QCOMPARE(after.region, translated(before.region));
        QCOMPARE(after.freq, translated(before.freq));
        QCOMPARE(after.profile, translated(before.profile));
        QCOMPARE(after.baud, translated(before.baud));
        QCOMPARE(after.downlink, translated(before.downlink));
        if (model < 0) {
            // The catalogue translates the channel and profile names.
            QVERIFY(after.freq.first() != before.freq.first());
            QVERIFY(after.profile.first() != before.profile.first());
        }

        remove_chinese();
        w->translateUI();
        after = lists_of(ui);
        QCOMPARE(after.freq, before.freq);
        QCOMPARE(after.profile, before.profile);
        QCOMPARE(after.downlink, before.downlink);
    }

    // --- Pages ---------------------------------------------------------------

    void state_after_construction()
    {
        make_window();
        QCOMPARE(ui->stackedWidget->currentWidget(), ui->page_info);
        QCOMPARE(ui->tabWidget->currentWidget(), ui->tab_status);
        QVERIFY(ui->page_info->isVisible());
        QVERIFY(ui->widget_encry->isHidden());
        for (QLabel* label : {ui->label_ETH_LOST, ui->label_ETH_LOST_l, ui->label_ETH_RECV, ui->label_RECV_l})
            QVERIFY2(label->isHidden(), qPrintable(label->objectName()));
        QVERIFY(!w->poll_timer()->isActive());
    }

    void navigation_button_shows_its_page_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("page");
        QTest::newRow("About") << "pushButton_infomation" << "page_info";
        QTest::newRow("Status") << "pushButton_status" << "page_status";
        QTest::newRow("Configure") << "pushButton_configure" << "page_config";
        QTest::newRow("Frequency") << "pushButton_frequency" << "page_frequency";
        QTest::newRow("Update") << "pushButton_Update" << "page_update";
    }

    void navigation_button_shows_its_page()
    {
        QFETCH(QString, button);
        QFETCH(QString, page);
        make_window();
        // Start from another checked button so the uncheck is seen.
        QPushButton* other = nav_button(ui, button == "pushButton_Update" ? "pushButton_status"
                                                                           : "pushButton_Update");
        QTest::mouseClick(other, Qt::LeftButton);
        QVERIFY(other->isChecked());

        QPushButton* target = nav_button(ui, button);
        QVERIFY(target);
        QVERIFY(target->isCheckable());
        QTest::mouseClick(target, Qt::LeftButton);
        QVERIFY(target->isChecked());
        for (QPushButton* b : {ui->pushButton_infomation, ui->pushButton_status, ui->pushButton_configure,
                               ui->pushButton_frequency, ui->pushButton_Update})
            if (b != target)
                QVERIFY2(!b->isChecked(), qPrintable(b->objectName()));
        QCOMPARE(ui->stackedWidget->currentWidget()->objectName(), page);
        for (int i = 0; i < ui->stackedWidget->count(); ++i) {
            QWidget* p = ui->stackedWidget->widget(i);
            QCOMPARE(p->isVisible(), p->objectName() == page);
        }
        // A second click leaves it checked: the group is exclusive.
        QTest::mouseClick(target, Qt::LeftButton);
        QVERIFY(target->isChecked());
    }

    void ctrl_t_shows_test_page_data()
    {
        QTest::addColumn<QString>("from");
        QTest::newRow("About") << "page_info";
        QTest::newRow("Status") << "page_status";
        QTest::newRow("Frequency") << "page_frequency";
        QTest::newRow("Update") << "page_update";
        QTest::newRow("Configure") << "page_config";
        QTest::newRow("Test") << "page_test";
    }

    void ctrl_t_shows_test_page()
    {
        QFETCH(QString, from);
        make_window();
        QWidget* start = ui->stackedWidget->findChild<QWidget*>(from);
        QVERIFY(start);
        ui->stackedWidget->setCurrentWidget(start);
        QVERIFY(start->isVisible());
        QTest::keyClick(w, Qt::Key_T, Qt::ControlModifier);
        QCOMPARE(ui->stackedWidget->currentWidget(), ui->page_test);
        QVERIFY(ui->page_test->isVisible());
    }

    void test_page_has_no_navigation_button()
    {
        make_window();
        QTest::keyClick(w, Qt::Key_T, Qt::ControlModifier);
        QCOMPARE(ui->stackedWidget->currentWidget(), ui->page_test);
        QTest::mouseClick(ui->pushButton_status, Qt::LeftButton);
        QCOMPARE(ui->stackedWidget->currentWidget(), ui->page_status);
    }

    void encryption_mode_choice_keeps_poll_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("AES128") << "radioButton_AES128";
        QTest::newRow("AES256") << "radioButton_AES256";
    }

    void encryption_mode_choice_keeps_poll()
    {
        QFETCH(QString, mode);
        make_page();
        auto dev = plug();
        QTRY_VERIFY(connected());
        QVERIFY(w->poll_timer()->isActive());
        auto* radio = ui->widget_encry->findChild<QRadioButton*>(mode);
        QVERIFY(radio);
        if (radio->isVisible())
            QTest::mouseClick(radio, Qt::LeftButton);
        else
            radio->click(); // the panel is shown only for units that encrypt
        // The live display goes on: status reads keep coming.
        QVERIFY(w->poll_timer()->isActive());
        dev->clearLog();
        auto status_reads = [&] {
            const auto codes = dev->requestCodes();
            return std::count(codes.begin(), codes.end(), uint8_t(0xE6));
        };
        QTRY_VERIFY_WITH_TIMEOUT(status_reads() >= 2, 4000);
        QVERIFY(radio->isChecked());
    }

    // --- Languages ---------------------------------------------------------

    void chinese_navigation_texts_data()
    {
        QTest::addColumn<bool>("installed_before_construction");
        QTest::newRow("retranslated") << false;
        QTest::newRow("built with catalogue") << true;
    }

    void chinese_navigation_texts()
    {
        QFETCH(bool, installed_before_construction);
        if (installed_before_construction)
            install_chinese();
        w = new Wireless_Video_Link();
        ui = w->form();
        QCOMPARE(ui->pushButton_infomation->text(),
                 installed_before_construction ? QString::fromUtf8("关于") : QString("About"));
        if (!installed_before_construction) {
            install_chinese();
            w->translateUI();
        }
        QCOMPARE(ui->pushButton_infomation->text(), QString::fromUtf8("关于"));
        QCOMPARE(ui->pushButton_status->text(), QString::fromUtf8("状态"));
        QCOMPARE(ui->pushButton_configure->text(), QString::fromUtf8("配置"));
        QCOMPARE(ui->pushButton_frequency->text(), QString::fromUtf8("频率"));
        QCOMPARE(ui->pushButton_Update->text(), QString::fromUtf8("升级"));

        remove_chinese();
        w->translateUI();
        QCOMPARE(ui->pushButton_infomation->text(), QString("About"));
        QCOMPARE(ui->pushButton_status->text(), QString("Status"));
        QCOMPARE(ui->pushButton_configure->text(), QString("Configure"));
        QCOMPARE(ui->pushButton_frequency->text(), QString("Frequency"));
        QCOMPARE(ui->pushButton_Update->text(), QString("Update"));
    }

    void ctrl_t_after_retranslation()
    {
        make_window();
        install_chinese();
        w->translateUI();
        QTest::keyClick(w, Qt::Key_T, Qt::ControlModifier);
        QCOMPARE(ui->stackedWidget->currentWidget(), ui->page_test);
    }

    // --- Teardown ----------------------------------------------------------

    void destroying_connected_window_closes_device()
    {
        make_page();
        auto dev = plug();
        QTRY_VERIFY(connected());
        QVERIFY(dev->interfaceClaimed());
        QCOMPARE(sim::VirtualBus::instance().liveHandles(), 1);

        DebugCapture capture;
        delete w;
        w = nullptr;
        ui = nullptr;
        QVERIFY(!dev->interfaceClaimed());
        QCOMPARE(sim::VirtualBus::instance().liveHandles(), 0);
        QVERIFY(capture.contains("Released Interface"));
        QVERIFY(!capture.contains("Cannot Release Interface"));
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
