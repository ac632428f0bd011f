// Link encryption from the Configure page's form to the unit: the key
// request, the mode report that moves the form, and keys that must not
// reach the unit.
#include "settings_harness.h"
#include "ui_wireless_video_link.h"

#include "encry_form.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTranslator>

using namespace harness;
using testsupport::DebugCapture;

namespace {

QString describe(const std::vector<sim::Transfer>& ts)
{
    QStringList parts;
    for (const auto& t : ts)
        parts << QStringLiteral("%1 %2 [%3]")
                     .arg(t.bmRequestType == kOut ? "OUT" : "IN")
                     .arg(t.bRequest, 2, 16, QChar('0'))
                     .arg(QString(data_of(t).toHex(' ')));
    return parts.join(", ");
}

QString key_of(int n)
{
    QString s;
    for (int i = 0; i < n; ++i)
        s.append(QChar("0123456789abcdefGHIJKLMNOPQRSTUV~ !"[i % 35]));
    return s;
}

bool any_out(const std::vector<sim::Transfer>& ts)
{
    for (const auto& t : ts)
        if (t.bmRequestType == kOut)
            return true;
    return false;
}

struct Form
{
    explicit Form(Window& h)
        : form(h.ui->widget_encry)
        , aes128(form->findChild<QRadioButton*>("radioButton_AES128"))
        , aes256(form->findChild<QRadioButton*>("radioButton_AES256"))
        , key(form->findChild<QLineEdit*>("lineEdit_encry"))
        , set(form->findChild<QPushButton*>("pushButton_encry"))
    {
        // The layout keeps the form hidden; it is tested as it would show.
        h.show_page(h.ui->page_config);
        form->show();
    }
    Encry_Form* form;
    QRadioButton* aes128;
    QRadioButton* aes256;
    QLineEdit* key;
    QPushButton* set;
};

} // namespace

class EncryptionTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { testsupport::reset_bus(); }
    void cleanup() { testsupport::reset_bus(); }

    void set_before_mode_does_nothing();
    void short_key_warns_and_sends_nothing();
    void key_request_data();
    void key_request();
    void refused_key_logged();
    void unit_report_moves_form_silently();
    void aes128_refuses_17th_character();
    void non_ascii_key_refused_data();
    void non_ascii_key_refused();
    void non_ascii_warning_in_chinese();
    void key_of_other_length_not_sent();
    void enable_requests();
};

void EncryptionTest::set_before_mode_does_nothing()
{
    Window h;
    QVERIFY(h.opened);
    Form f(h);
    BoxAnswerer boxes;
    QVERIFY(f.key->isReadOnly());
    const size_t m = h.mark();
    click(f.set);
    QTest::qWait(50);
    QVERIFY(boxes.seen.isEmpty());
    QVERIFY(!any_out(h.since(m)));
    QVERIFY(h.w->poll_timer()->isActive());
}

void EncryptionTest::short_key_warns_and_sends_nothing()
{
    Window h;
    QVERIFY(h.opened);
    Form f(h);
    BoxAnswerer boxes(QMessageBox::Yes);
    click(f.aes256);
    // Choosing a mode leaves the live display running.
    QVERIFY(h.w->poll_timer()->isActive());
    QTest::keyClicks(f.key, key_of(31));
    const size_t m = h.mark();
    click(f.set);
    QTRY_COMPARE(boxes.seen.size(), 1);
    QCOMPARE(boxes.seen[0].text, QString("Key length must be 32"));
    QCOMPARE(boxes.seen[0].title, QString("warning"));
    QVERIFY(!any_out(h.since(m)));
    // A refused key leaves the poll running.
    QVERIFY(h.w->poll_timer()->isActive());
}

void EncryptionTest::key_request_data()
{
    QTest::addColumn<bool>("aes256");
    QTest::newRow("AES256") << true;
    QTest::newRow("AES128") << false;
}

void EncryptionTest::key_request()
{
    QFETCH(bool, aes256);
    Window h;
    QVERIFY(h.opened);
    Form f(h);
    const int length = aes256 ? 32 : 16;
    const QString key = key_of(length);
    click(aes256 ? f.aes256 : f.aes128);
    QTest::keyClicks(f.key, key);
    QCOMPARE(f.key->text(), key);
    DebugCapture capture;
    const size_t m = h.mark();
    click(f.set);
    const auto after = h.since(m);
    QVERIFY2(after.size() == 2, qPrintable(describe(after)));
    QCOMPARE(int(after[0].bRequest), int(sim::kReqEncryptKey));
    QCOMPARE(int(after[0].wLength), 36);
    QByteArray expected(36, 0);
    expected[0] = char(aes256 ? 1 : 0);
    expected.replace(4, length, key.toLatin1());
    QCOMPARE(data_of(after[0]), expected);
    QCOMPARE(int(after[1].bRequest), int(sim::kReqCommandStatus));
    QVERIFY(ms(sim::VirtualBus::instance().nowUs() - after[1].end_us) >= 1995);
    QCOMPARE(lines(capture), QStringList{"Set encrypmt key done"});
    // The key request restarts the poll that the mode click stopped.
    QVERIFY(h.w->poll_timer()->isActive());
    const auto stored = h.link().encryptionKey();
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(stored.data()), int(stored.size())), key.toLatin1());
    QVERIFY(h.wait_poll());
    QCOMPARE(f.aes256->isChecked(), aes256);
    QCOMPARE(f.key->maxLength(), length);
}

void EncryptionTest::refused_key_logged()
{
    Window h;
    QVERIFY(h.opened);
    h.link().rejectNextSettings(1);
    DebugCapture capture;
    h.w->on_set_encrypt_key(key_of(16));
    QCOMPARE(lines(capture), QStringList{"Set encrypmt key failed"});
    QVERIFY(h.w->poll_timer()->isActive());
    QVERIFY(h.link().encryptionKey().empty());
}

void EncryptionTest::unit_report_moves_form_silently()
{
    Window h(0, [](sim::SimUnit& u) { u.link().setEncryption(true, 1); });
    QVERIFY(h.opened);
    Form f(h);
    QSignalSpy changes(f.form, &Encry_Form::change_encry_mode);
    QVERIFY(f.key->isReadOnly());
    QVERIFY(h.wait_poll());
    QVERIFY(f.aes256->isChecked());
    QVERIFY(!f.key->isReadOnly());
    QCOMPARE(f.key->maxLength(), 32);
    QCOMPARE(changes.count(), 0);
    QVERIFY(h.w->poll_timer()->isActive());
    QTest::keyClicks(f.key, key_of(32));
    QCOMPARE(f.key->text().size(), 32);
}

void EncryptionTest::aes128_refuses_17th_character()
{
    Window h;
    QVERIFY(h.opened);
    Form f(h);
    click(f.aes128);
    QTest::keyClicks(f.key, key_of(17));
    QCOMPARE(f.key->text(), key_of(16));
}

void EncryptionTest::non_ascii_key_refused_data()
{
    QTest::addColumn<QString>("key");
    QTest::newRow("accented letters, 32 characters") << QString(key_of(30) + QString::fromUtf8("éü"));
    QTest::newRow("CJK, 16 characters") << QString(key_of(12) + QString::fromUtf8("密码长度"));
    QTest::newRow("control character") << QString(key_of(15) + QChar(0x01));
    QTest::newRow("embedded zero") << QString(key_of(8) + QChar(0) + key_of(7));
}

void EncryptionTest::non_ascii_key_refused()
{
    QFETCH(QString, key);
    Window h;
    QVERIFY(h.opened);
    Form f(h);
    BoxAnswerer boxes(QMessageBox::Yes);
    click(key.size() == 32 ? f.aes256 : f.aes128);
    f.key->setText(key);
    QCOMPARE(f.key->text().size(), key.size());
    DebugCapture capture;
    const size_t m = h.mark();
    click(f.set);
    QTRY_COMPARE(boxes.seen.size(), 1);
    QCOMPARE(boxes.seen[0].title, QString("warning"));
    QCOMPARE(boxes.seen[0].text, QString("The key may only contain printable ASCII characters"));
    QCOMPARE(lines(capture), QStringList{"key character invalid"});
    QVERIFY2(h.since(m).empty(), qPrintable(describe(h.since(m))));
    QCOMPARE(h.link().settingCount(sim::kReqEncryptKey), 0);
}

void EncryptionTest::non_ascii_warning_in_chinese()
{
    QTranslator translator;
    QVERIFY(translator.load(":/WirelessVideo_CH.qm"));
    QCoreApplication::installTranslator(&translator);
    Window h;
    QVERIFY(h.opened);
    BoxAnswerer boxes(QMessageBox::Yes);
    h.w->on_set_encrypt_key(key_of(15) + QChar(0xE9));
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(boxes.seen.size(), 1);
    QCOMPARE(boxes.seen[0].title, QString::fromUtf8("警告"));
    QCOMPARE(boxes.seen[0].text, QString::fromUtf8("密码只能包含可打印的ASCII字符"));
}

void EncryptionTest::key_of_other_length_not_sent()
{
    Window h;
    QVERIFY(h.opened);
    DebugCapture capture;
    const size_t m = h.mark();
    h.w->on_set_encrypt_key(key_of(20));
    h.w->on_set_encrypt_key(QString());
    h.w->on_set_encrypt_key(key_of(64));
    QVERIFY(h.since(m).empty());
    QCOMPARE(capture.count("key length invalid"), 3);
}

void EncryptionTest::enable_requests()
{
    Window h(0, [](sim::SimUnit& u) { u.link().setEncryption(true, 0); });
    QVERIFY(h.opened);
    DebugCapture capture;
    size_t m = h.mark();
    emit h.ui->widget_encry->enable_encry(true);
    QVERIFY(h.since(m).empty());
    QVERIFY(h.w->poll_timer()->isActive());
    QVERIFY(lines(capture).isEmpty());

    capture.clear();
    m = h.mark();
    emit h.ui->widget_encry->enable_encry(false);
    const auto after = h.since(m);
    QVERIFY2(after.size() == 2, qPrintable(describe(after)));
    QCOMPARE(int(after[0].bRequest), int(sim::kReqEncryptEnable));
    QCOMPARE(data_of(after[0]), QByteArray(1, 0));
    QCOMPARE(lines(capture), QStringList{"Set disable encry done"});
    QVERIFY(h.w->poll_timer()->isActive());
    QVERIFY(!(h.link().flags() & sim::kFlagEncryption));
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    testsupport::init_resources();
    EncryptionTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_encryption.moc"
