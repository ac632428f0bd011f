// The Configure page's interface settings through its widgets, watched on
// the simulated unit: baud rate, RC mode, datalink interface and ground
// identity.
#include "settings_harness.h"
#include "ui_wireless_video_link.h"

#include <QRadioButton>

using namespace harness;
using testsupport::DebugCapture;

using LinkSetup = std::function<void(sim::SimLink&)>;
Q_DECLARE_METATYPE(LinkSetup)

namespace {

QString describe(const std::vector<sim::Transfer>& ts)
{
    QStringList parts;
    for (const auto& t : ts)
        parts << QStringLiteral("%1 %2 [%3] @%4ms")
                     .arg(t.bmRequestType == kOut ? "OUT" : "IN")
                     .arg(t.bRequest, 2, 16, QChar('0'))
                     .arg(QString(data_of(t).toHex(' ')))
                     .arg(ms(t.t_us));
    return parts.join(", ");
}

int64_t since_end_ms(const sim::Transfer& t)
{
    return ms(sim::VirtualBus::instance().nowUs() - t.end_us);
}

} // namespace

class PeripheralSettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { testsupport::reset_bus(); }
    void cleanup() { testsupport::reset_bus(); }

    void baud_rate_data();
    void baud_rate();
    void baud_text_shown_by_poll_data();
    void baud_text_shown_by_poll();
    void rc_mode_data();
    void rc_mode();
    void datalink_never_reads_status_data();
    void datalink_never_reads_status();
    void ground_identity_data();
    void ground_identity();
    void nothing_sent_without_device();
};

void PeripheralSettingsTest::baud_rate_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<bool>("reject");
    QTest::newRow("57600b") << 1 << false;
    QTest::newRow("57600b refused") << 1 << true;
    QTest::newRow("9600b") << 0 << false;
}

void PeripheralSettingsTest::baud_rate()
{
    QFETCH(int, entry);
    QFETCH(bool, reject);
    Window h;
    QVERIFY(h.opened);
    QVERIFY(h.wait_poll());
    h.show_page(h.ui->page_config);
    QCOMPARE(h.ui->comboBox_RadioRate->itemText(1), QString("57600b"));
    if (reject)
        h.link().rejectNextSettings(1);
    DebugCapture capture;
    const size_t m = h.mark();
    activate(h.ui->comboBox_RadioRate, entry);
    const auto after = h.since(m);
    QVERIFY2(after.size() == 2, qPrintable(describe(after)));
    QCOMPARE(int(after[0].bRequest), int(sim::kReqBaudRate));
    QCOMPARE(data_of(after[0]), QByteArray(1, char(entry)));
    QCOMPARE(int(after[1].bRequest), int(sim::kReqCommandStatus));
    const int64_t gap = ms(after[1].t_us - after[0].end_us);
    QVERIFY2(gap >= 295 && gap < 800, qPrintable(QString::number(gap)));
    QVERIFY(since_end_ms(after[1]) >= 995);
    QVERIFY(h.w->poll_timer()->isActive());
    QCOMPARE(lines(capture), reject ? QStringList{"set COM baundrate failed"} : QStringList{});
    QCOMPARE(int(h.link().baudIndex()), reject ? 2 : entry);
    // The next poll shows the unit's rate, refused or not.
    h.ui->comboBox_RadioRate->setCurrentIndex(reject ? 0 : 2);
    QTRY_COMPARE(h.ui->comboBox_RadioRate->currentIndex(), reject ? 2 : entry);
}

void PeripheralSettingsTest::baud_text_shown_by_poll_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("text");
    QTest::newRow("460800") << 4 << "460800bps";
    QTest::newRow("9600") << 0 << "9600bps";
}

void PeripheralSettingsTest::baud_text_shown_by_poll()
{
    QFETCH(int, index);
    QFETCH(QString, text);
    Window h(0, [&](sim::SimUnit& u) { u.link().setBaudIndex(uint8_t(index)); });
    QVERIFY(h.opened);
    QTRY_COMPARE(h.ui->label_test_bandrate->text(), text);
}

void PeripheralSettingsTest::rc_mode_data()
{
    QTest::addColumn<bool>("ppm");
    QTest::addColumn<bool>("reject");
    QTest::newRow("PPM") << true << false;
    QTest::newRow("S.Bus") << false << false;
    QTest::newRow("PPM refused") << true << true;
    QTest::newRow("S.Bus refused") << false << true;
}

void PeripheralSettingsTest::rc_mode()
{
    QFETCH(bool, ppm);
    QFETCH(bool, reject);
    Window h(0, [&](sim::SimUnit& u) { u.link().setRcMode(ppm ? 0 : 1); });
    QVERIFY(h.opened);
    QVERIFY(h.wait_poll());
    h.show_page(h.ui->page_config);
    QRadioButton* button = ppm ? h.ui->radioButton_ppm : h.ui->radioButton_sbus;
    QVERIFY(button->isVisible());
    QVERIFY(!button->isChecked());
    if (reject)
        h.link().rejectNextSettings(1);
    DebugCapture capture;
    const size_t m = h.mark();
    click(button);
    const auto after = h.since(m);
    QVERIFY2(after.size() == 2, qPrintable(describe(after)));
    QCOMPARE(int(after[0].bRequest), int(sim::kReqRcMode));
    QCOMPARE(data_of(after[0]), QByteArray(1, char(ppm ? 1 : 0)));
    QCOMPARE(int(after[1].bRequest), int(sim::kReqCommandStatus));
    QVERIFY(since_end_ms(after[1]) >= 995);
    QVERIFY(h.w->poll_timer()->isActive());
    const QString failure = ppm ? "set ppm  failed" : "set sbus  failed";
    QCOMPARE(lines(capture), reject ? QStringList{failure} : QStringList{});
    // The button keeps the user's choice until the poll shows the unit's.
    QVERIFY(button->isChecked());
    QTRY_COMPARE(button->isChecked(), !reject);
}

void PeripheralSettingsTest::datalink_never_reads_status_data()
{
    QTest::addColumn<bool>("usb");
    QTest::newRow("USB") << true;
    QTest::newRow("UART") << false;
}

void PeripheralSettingsTest::datalink_never_reads_status()
{
    QFETCH(bool, usb);
    Window h(0, [&](sim::SimUnit& u) { u.link().setDatalinkUsb(!usb); });
    QVERIFY(h.opened);
    QVERIFY(h.wait_poll());
    h.show_page(h.ui->page_config);
    QRadioButton* button = usb ? h.ui->radioButton_usb : h.ui->radioButton_uart;
    QVERIFY(button->isVisible());
    DebugCapture capture;
    const size_t m = h.mark();
    click(button);
    const auto after = h.since(m);
    QVERIFY2(after.size() == 1, qPrintable(describe(after)));
    QCOMPARE(int(after[0].bRequest), int(sim::kReqDatalink));
    QCOMPARE(data_of(after[0]), QByteArray(1, char(usb ? 0x5A : 0xA5)));
    QVERIFY(since_end_ms(after[0]) >= 995);
    QVERIFY(h.w->poll_timer()->isActive());
    QVERIFY(lines(capture).isEmpty());
    QCOMPARE(bool(h.link().flags() & sim::kFlagDatalinkUsb), usb);
    // The poll comes back, still without a status read.
    QVERIFY(h.wait_poll());
    for (const auto& t : h.since(m))
        QVERIFY(t.bRequest != sim::kReqCommandStatus);
    QVERIFY(button->isChecked());
}

void PeripheralSettingsTest::ground_identity_data()
{
    QTest::addColumn<bool>("observer");
    QTest::addColumn<LinkSetup>("setup");
    QTest::addColumn<int>("reads");
    QTest::addColumn<QString>("line");
    QTest::newRow("Observer, done at once")
        << true << LinkSetup([](sim::SimLink&) {}) << 1 << "Set ground send and recv done";
    QTest::newRow("Observer, done on the third read")
        << true << LinkSetup([](sim::SimLink& l) { l.setStatusReadsUntilDone(3); }) << 3
        << "Set ground send and recv done";
    QTest::newRow("Pilot, refused")
        << false << LinkSetup([](sim::SimLink& l) { l.rejectNextSettings(1); }) << 1
        << "Set ground send and recv failed";
    QTest::newRow("Pilot, unknown answer")
        << false << LinkSetup([](sim::SimLink& l) { l.answerNextSettingsWith(0x80); }) << 3
        << "Set ground send and recv unknow error";
}

void PeripheralSettingsTest::ground_identity()
{
    QFETCH(bool, observer);
    QFETCH(LinkSetup, setup);
    QFETCH(int, reads);
    QFETCH(QString, line);
    // The identity row shows with the multi settings (antenna group 2).
    Window h(0, [&](sim::SimUnit& u) {
        u.link().setConfigByte(0x05);
        u.link().setObserver(!observer);
    });
    QVERIFY(h.opened);
    QVERIFY(h.wait_poll());
    h.show_page(h.ui->page_config);
    QRadioButton* button = observer ? h.ui->radioButton_RO : h.ui->radioButton_RT;
    QVERIFY(button->isVisible());
    setup(h.link());
    DebugCapture capture;
    const size_t m = h.mark();
    click(button);
    const auto after = h.since(m);
    QVERIFY2(int(after.size()) == 1 + reads, qPrintable(describe(after)));
    QCOMPARE(int(after[0].bRequest), int(sim::kReqGroundIdentity));
    QCOMPARE(data_of(after[0]), QByteArray(1, char(observer ? 1 : 0)));
    for (int i = 1; i <= reads; ++i) {
        QCOMPARE(int(after[size_t(i)].bRequest), int(sim::kReqCommandStatus));
        const int64_t gap = ms(after[size_t(i)].t_us - after[size_t(i - 1)].end_us);
        QVERIFY2(gap >= 395 && gap < 900, qPrintable(QString::number(gap)));
    }
    QVERIFY(since_end_ms(after.back()) >= 1995);
    QVERIFY(h.w->poll_timer()->isActive());
    QCOMPARE(lines(capture), QStringList{line});
}

void PeripheralSettingsTest::nothing_sent_without_device()
{
    auto dev = testsupport::plug();
    auto w = std::make_unique<Wireless_Video_Link>();
    w->show();
    auto* ui = w->form();
    ui->stackedWidget->setCurrentWidget(ui->page_config);
    DebugCapture capture;
    activate(ui->comboBox_RadioRate, 1);
    for (QRadioButton* b : {ui->radioButton_ppm, ui->radioButton_sbus, ui->radioButton_usb, ui->radioButton_uart,
                            ui->radioButton_RO, ui->radioButton_RT})
        b->click();
    QVERIFY(dev->log().empty());
    QVERIFY(lines(capture).isEmpty());
    QVERIFY(!w->poll_timer()->isActive());
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    testsupport::init_resources();
    PeripheralSettingsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_peripheral_settings.moc"
