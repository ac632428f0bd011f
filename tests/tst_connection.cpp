// The road of one plug-in, through the real start page, watcher thread and
// main window, against the simulated bus with Linux semantics.
#include "testsupport.h"

#include "enable_switch.h"
#include "hotplug_thread.h"
#include "mainpage.h"
#include "switch_button.h"
#include "ui_wireless_video_link.h"
#include "wireless_video_link.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <libusb.h>
#include <memory>

using namespace testsupport;

namespace {
std::vector<uint8_t> control_codes(const std::shared_ptr<sim::SimDevice>& dev)
{
    return dev->requestCodes();
}
} // namespace

class ConnectionTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<MainPage> page;
    Wireless_Video_Link* w = nullptr;
    Ui::Wireless_Video_Link* ui = nullptr;

    void make_page()
    {
        page = std::make_unique<MainPage>();
        page->show();
        w = page->main_window();
        ui = w->form();
    }

    bool connected() { return w->device_handle() && ui->label_connect->text() == "Connected"; }

private slots:
    void init()
    {
        reset_bus();
    }

    void cleanup()
    {
        Wireless_Video_Link* window = page ? page->main_window() : nullptr;
        page.reset();
        delete window; // the start page never deletes it; the test does
        w = nullptr;
        ui = nullptr;
        reset_bus();
        QTRY_COMPARE(sim::VirtualBus::instance().liveHandles(), 0);
    }

    void start_page_waits_without_unit()
    {
        make_page();
        QTest::qWait(350);
        QVERIFY(page->isVisible());
        QVERIFY(!w->isVisible());
        QVERIFY(!w->device_handle());
        QCOMPARE(page->findChild<QLabel*>("label_mention")->text(), QString("Please connect device"));
        QCOMPARE(page->windowTitle(), QString("Quorlan"));
    }

    void plug_in_connects_and_reads_identity()
    {
        make_page();
        QSignalSpy appeared(page->watcher(), &HotplugThread::dev_connected);
        QSignalSpy status(w, &Wireless_Video_Link::dev_connect_status);
        DebugCapture capture;
        auto dev = plug();
        QTRY_VERIFY(connected());
        QTest::qWait(350); // several more scans: still one appearance
        QCOMPARE(appeared.count(), 1);
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(0).toBool(), true);
        QVERIFY(dev->interfaceClaimed());
        QVERIFY(!page->isVisible());
        QVERIFY(w->isVisible());
        QVERIFY(ui->widget_status->isChecked());

        const auto codes = control_codes(dev);
        QVERIFY(codes.size() >= 3);
        QCOMPARE(std::vector<uint8_t>(codes.begin(), codes.begin() + 3),
                 (std::vector<uint8_t>{0xE3, 0xE0, 0xE1}));
        for (const auto& t : dev->log()) {
            QCOMPARE(int(t.bmRequestType), 0xC1);
            QCOMPARE(t.timeout_ms, 300u);
        }
        QCOMPARE(w->identity_block()[0], uint8_t('Q'));
        QCOMPARE(w->poll_timer()->interval(), 1000);
        QVERIFY(w->poll_timer()->isActive());
        QCOMPARE(ui->comboBox_downlink->count(), 7);
        QCOMPARE(ui->label_info_firm->text(), QString("1.2.3"));
        for (const char* line : {"Device Opened", "Claimed Interface 0"})
            QVERIFY2(capture.contains(line), line);
        QVERIFY(capture.contains("dv.mcu2_version 13376"));
    }

    void unplug_closes_despite_no_device_release()
    {
        make_page();
        auto dev = plug();
        QTRY_VERIFY(connected());
        ui->progressBar_air_rssi->setValue(40);
        ui->progressBar_ground_rssi_2->setValue(30);
        ui->switch_bind->setChecked(true);
        QSignalSpy gone(page->watcher(), &HotplugThread::dev_unconnected);
        QSignalSpy status(w, &Wireless_Video_Link::dev_connect_status);
        DebugCapture capture;

        sim::VirtualBus::instance().unplug(dev);
        QTRY_COMPARE(ui->label_connect->text(), QString("DisConnected"));
        QTest::qWait(350);
        QCOMPARE(gone.count(), 1);
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(0).toBool(), false);
        QVERIFY(!w->device_handle());
        QVERIFY(!w->poll_timer()->isActive());
        QVERIFY(!ui->widget_status->isChecked());
        QVERIFY(!ui->switch_bind->isChecked());
        for (QProgressBar* bar : {ui->progressBar_ground_rssi, ui->progressBar_ground_rssi_2,
                                  ui->progressBar_air_rssi, ui->progressBar_air_rssi_2})
            QCOMPARE(bar->value(), 0);
        QVERIFY(capture.contains("Released Interface"));
        QVERIFY(!capture.contains("Cannot Release Interface"));
        // The handle and the connection's context are really gone.
        QTRY_COMPARE(sim::VirtualBus::instance().liveHandles(), 0);
        // The main window stays; the start page does not come back.
        QVERIFY(w->isVisible());
        QVERIFY(!page->isVisible());
    }

    void replug_reconnects_and_keeps_downlink_list()
    {
        make_page();
        auto dev = plug();
        QTRY_VERIFY(connected());
        sim::VirtualBus::instance().unplug(dev);
        QTRY_COMPARE(ui->label_connect->text(), QString("DisConnected"));
        auto again = plug();
        QTRY_VERIFY(connected());
        QVERIFY(again->interfaceClaimed());
        QCOMPARE(ui->comboBox_downlink->count(), 7);
        QVERIFY(w->poll_timer()->isActive());
        QVERIFY(!page->isVisible());
        QCOMPARE(sim::VirtualBus::instance().liveHandles(), 1);
    }

    void two_units_give_one_appearance()
    {
        make_page();
        QSignalSpy appeared(page->watcher(), &HotplugThread::dev_connected);
        auto first = plug();
        auto second = plug();
        QTRY_VERIFY(connected());
        QTest::qWait(300);
        QCOMPARE(appeared.count(), 1);
        QVERIFY(first->interfaceClaimed());
        QVERIFY(!second->interfaceClaimed());
        // Pulling one of them out is not a disappearance.
        QSignalSpy gone(page->watcher(), &HotplugThread::dev_unconnected);
        sim::VirtualBus::instance().unplug(second);
        QTest::qWait(300);
        QCOMPARE(gone.count(), 0);
    }

    void claim_failure_keeps_start_page_then_hands_over()
    {
        make_page();
        auto unit = make_ground_unit();
        DebugCapture capture;
        auto dev = sim::VirtualBus::instance().plug(unit);
        dev->setKernelDriverActive(true);
        dev->setClaimFailure(LIBUSB_ERROR_BUSY);
        QTRY_VERIFY(capture.contains("Cannot Claim Interface 0"));
        QTest::qWait(200);
        QVERIFY(page->isVisible());
        QVERIFY(!w->isVisible());
        QVERIFY(!w->device_handle());
        // The state is shown as it is, and the driver taken for the claim
        // is given back.
        QCOMPARE(ui->label_connect->text(), QString("DisConnected"));
        QVERIFY(!ui->widget_status->isChecked());
        QVERIFY(dev->kernelDriverActive());
        // What the failed open created is closed again.
        QTRY_COMPARE(sim::VirtualBus::instance().liveHandles(), 0);
        QVERIFY(dev->requestCodes().empty());

        sim::VirtualBus::instance().unplug(dev);
        QTest::qWait(300);
        plug();
        QTRY_VERIFY(connected());
        QVERIFY(!page->isVisible());
        QVERIFY(w->isVisible());
    }

    void open_failure_leaves_connection_closed()
    {
        make_page();
        DebugCapture capture;
        auto unit = make_ground_unit();
        auto dev = sim::VirtualBus::instance().plug(unit);
        dev->setOpenFailure(LIBUSB_ERROR_ACCESS);
        QTRY_VERIFY(capture.contains("Cannot open device"));
        QTest::qWait(200);
        QVERIFY(!w->device_handle());
        QVERIFY(page->isVisible());
        QCOMPARE(sim::VirtualBus::instance().liveHandles(), 0);
        // Nothing retries until the unit is plugged in again.
        QCOMPARE(capture.count("Cannot open device"), 1);
        dev->setOpenFailure(0);
        sim::VirtualBus::instance().unplug(dev);
        QTest::qWait(300);
        plug();
        QTRY_VERIFY(connected());
    }

    void access_denied_names_the_fix()
    {
        make_page();
        auto* label = page->findChild<QLabel*>("label_mention");
        auto dev = sim::VirtualBus::instance().plug(make_ground_unit());
        dev->setOpenFailure(LIBUSB_ERROR_ACCESS);
        QTRY_VERIFY(label->text().contains("udev rule"));
        QVERIFY(page->isVisible());
        QVERIFY(!w->device_handle());
        QCOMPARE(sim::VirtualBus::instance().liveHandles(), 0);
        // Access granted, unit plugged in again: the tool connects.
        sim::VirtualBus::instance().unplug(dev);
        QTest::qWait(300);
        plug();
        QTRY_VERIFY(connected());
        QVERIFY(w->isVisible());
    }

    void identity_failure_goes_on_without_serial()
    {
        make_page();
        DebugCapture capture;
        auto unit = make_ground_unit();
        auto dev = sim::VirtualBus::instance().plug(unit);
        dev->failNext(0xE3, LIBUSB_ERROR_PIPE);
        QTRY_VERIFY(connected());
        QVERIFY(capture.contains("get SN number failed"));
        const auto codes = dev->requestCodes();
        QCOMPARE(std::vector<uint8_t>(codes.begin(), codes.begin() + 3),
                 (std::vector<uint8_t>{0xE3, 0xE0, 0xE1}));
        QVERIFY(w->poll_timer()->isActive());
    }

    void firmware_version_text_data()
    {
        QTest::addColumn<int>("byte0");
        QTest::addColumn<int>("byte1");
        QTest::addColumn<QString>("text");
        QTest::newRow("1.2.3") << 0x23 << 0x01 << "1.2.3";
        QTest::newRow("15.15.15") << 0xFF << 0xFF << "15.15.15";
        QTest::newRow("0.0.0") << 0x00 << 0xF0 << "0.0.0";
    }

    void firmware_version_text()
    {
        QFETCH(int, byte0);
        QFETCH(int, byte1);
        QFETCH(QString, text);
        make_page();
        auto unit = make_ground_unit();
        auto soft = unit->softwareInfoRecord();
        soft[0] = uint8_t(byte0);
        soft[1] = uint8_t(byte1);
        unit->setSoftwareInfoRecord(soft);
        plug(unit);
        QTRY_VERIFY(connected());
        QCOMPARE(ui->label_info_firm->text(), text);
    }

    void close_without_handle_does_nothing()
    {
        make_page();
        QSignalSpy status(w, &Wireless_Video_Link::dev_connect_status);
        QCOMPARE(w->open_device(false), 0);
        QCOMPARE(status.count(), 0);
    }

    void chinese_texts_from_the_start()
    {
        QTranslator translator;
        QVERIFY(translator.load(":/WirelessVideo_CH.qm"));
        QCoreApplication::installTranslator(&translator);
        make_page();
        QCOMPARE(page->findChild<QLabel*>("label_mention")->text(), QString::fromUtf8("请连接设备"));
        auto dev = plug();
        QTRY_VERIFY(w->device_handle());
        QCOMPARE(ui->label_connect->text(), QString::fromUtf8("设备已连接"));
        sim::VirtualBus::instance().unplug(dev);
        QTRY_COMPARE(ui->label_connect->text(), QString::fromUtf8("设备未连接"));
        QCoreApplication::removeTranslator(&translator);
    }

    void language_switch_at_run_time()
    {
        make_page();
        auto* label = page->findChild<QLabel*>("label_mention");
        QSignalSpy retranslated(page.get(), &MainPage::trans_ui);
        DebugCapture capture;
        QTest::mouseClick(page->findChild<QToolButton*>("toolButton_chinese"), Qt::LeftButton);
        QCOMPARE(label->text(), QString::fromUtf8("请连接设备"));
        QVERIFY(capture.contains("load langu status true"));
        QCOMPARE(ui->pushButton_infomation->text(), QString::fromUtf8("关于"));
        QTest::mouseClick(page->findChild<QToolButton*>("toolButton_english"), Qt::LeftButton);
        QCOMPARE(label->text(), QString("Please connect device"));
        QCOMPARE(ui->pushButton_infomation->text(), QString("About"));
        QCOMPARE(retranslated.count(), 2);
    }

    void english_from_a_chinese_start()
    {
        // As the start-up does on a Chinese system.
        auto* translator = new QTranslator;
        QVERIFY(translator->load(":/WirelessVideo_CH.qm"));
        QCoreApplication::installTranslator(translator);
        make_page();
        page->adopt_translator(translator);
        auto* label = page->findChild<QLabel*>("label_mention");
        QCOMPARE(label->text(), QString::fromUtf8("请连接设备"));
        QTest::mouseClick(page->findChild<QToolButton*>("toolButton_english"), Qt::LeftButton);
        QCOMPARE(label->text(), QString("Please connect device"));
        QCOMPARE(ui->pushButton_infomation->text(), QString("About"));
        QTest::mouseClick(page->findChild<QToolButton*>("toolButton_chinese"), Qt::LeftButton);
        QCOMPARE(label->text(), QString::fromUtf8("请连接设备"));
        QTest::mouseClick(page->findChild<QToolButton*>("toolButton_english"), Qt::LeftButton);
    }

    void encryption_form_offered_while_connected()
    {
        make_page();
        QVERIFY(ui->widget_encry->isHidden());
        auto dev = plug();
        QTRY_VERIFY(connected());
        ui->pushButton_configure->click();
        QVERIFY(ui->widget_encry->isVisible());
        auto* aes128 = ui->widget_encry->findChild<QRadioButton*>("radioButton_AES128");
        auto* key = ui->widget_encry->findChild<QLineEdit*>("lineEdit_encry");
        auto* set = ui->widget_encry->findChild<QPushButton*>("pushButton_encry");
        aes128->click();
        key->setText("0123456789abcdef");
        dev->clearLog();
        set->click();
        std::vector<uint8_t> sent;
        for (const auto& t : dev->log())
            if (t.bRequest == 0xED)
                sent = t.data;
        QCOMPARE(int(sent.size()), 36);
        QCOMPARE(int(sent[0]), 0);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(sent.data() + 4), 16), QByteArray("0123456789abcdef"));
        sim::VirtualBus::instance().unplug(dev);
        QTRY_COMPARE(ui->label_connect->text(), QString("DisConnected"));
        QVERIFY(ui->widget_encry->isHidden());
    }

    void watcher_runs_on_its_own_thread()
    {
        make_page();
        QVERIFY(page->watcher()->thread() != QThread::currentThread());
        QVERIFY(page->watcher()->thread()->isRunning());
        QCOMPARE(page->scan_timer()->interval(), 100);
        QVERIFY(page->scan_timer()->isActive());
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    init_resources();
    ConnectionTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_connection.moc"
