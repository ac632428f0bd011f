// Link encryption: the panel's rules for modes and keys (one row per series
// of steps), then the window's side, one row per key or switch: what goes
// on the wire, the debug lines and the warnings; and the unit's report that
// moves the panel. Which keys are refused is tested in tst_payloads.
#include "settings_harness.h"
#include "ui_wireless_video_link.h"

#include "encry_form.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTranslator>

using namespace harness;
using testsupport::DebugCapture;

using Act = std::function<void(Window&)>;
Q_DECLARE_METATYPE(Act)

namespace {

// Keys with spaces and symbols, as a user may type them.
QString chars(int n)
{
    const QString pool = "A b#C d$E f%G h&I j*K l(M n)O p=Q r?S t!U v~W x@Y z^";
    return pool.repeated(2).left(n);
}

struct Panel
{
    explicit Panel(Encry_Form* f)
        : form(f)
        , aes128(f->findChild<QRadioButton*>("radioButton_AES128"))
        , aes256(f->findChild<QRadioButton*>("radioButton_AES256"))
        , key(f->findChild<QLineEdit*>("lineEdit_encry"))
        , set(f->findChild<QPushButton*>("pushButton_encry"))
    {
    }
    // "click128", "click256", "report<n>", "status<n>", "type:<n>",
    // "fill:<n>" (set without typing), "set".
    void step(const QString& s)
    {
        if (s.startsWith("click"))
            click(s == "click128" ? aes128 : aes256);
        else if (s.startsWith("report"))
            form->set_encry_mode(s.mid(6).toInt());
        else if (s.startsWith("status"))
            form->set_encry_status(s.mid(6).toInt());
        else if (s.startsWith("type:"))
            QTest::keyClicks(key, chars(s.mid(5).toInt()));
        else if (s.startsWith("fill:"))
            key->setText(chars(s.mid(5).toInt()));
        else if (s == "set")
            QTest::mouseClick(set, Qt::LeftButton);
        else
            QFAIL(qPrintable("unknown step " + s));
    }
    Encry_Form* form;
    QRadioButton* aes128;
    QRadioButton* aes256;
    QLineEdit* key;
    QPushButton* set;
};

// The key request: mode, three pad bytes, the key, zeros up to 36 bytes.
QString key_wire(int mode, const QString& key)
{
    QByteArray payload(36, 0);
    payload[0] = char(mode);
    payload.replace(4, key.size(), key.toLatin1());
    return "ED:" + payload.toHex() + " F8";
}

Act from_panel(const QString& steps)
{
    return [=](Window& h) {
        // The layout keeps the panel hidden; it is used as it would show.
        h.show_page(h.ui->page_config);
        h.ui->widget_encry->show();
        Panel p(h.ui->widget_encry);
        for (const QString& s : steps.split(' '))
            p.step(s);
        // Choosing a mode leaves the live display running.
        QVERIFY(h.w->poll_timer()->isActive());
    };
}

Act key(const QString& text)
{
    return [=](Window& h) { h.w->on_set_encrypt_key(text); };
}

} // namespace

class EncryptionTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { testsupport::reset_bus(); }
    void cleanup() { testsupport::reset_bus(); }

    void panel_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("mode_signals");
        QTest::addColumn<int>("sent");       // length of the key signalled, -1 none
        QTest::addColumn<QString>("warning");
        QTest::addColumn<int>("checked");    // 0 none, 128, 256
        QTest::addColumn<int>("max_length"); // 0: read-only
        QTest::addColumn<int>("length");     // of the field's text
        const QString w16 = "Key length must be 16", w32 = "Key length must be 32";
        QTest::newRow("no mode: typing refused, set does nothing") << "type:5 set" << 0 << -1 << "" << 0 << 0 << 0;
        QTest::newRow("no mode: a key already there is not sent") << "fill:16 set" << 0 << -1 << "" << 0 << 0 << 16;
        QTest::newRow("AES128, 16") << "click128 type:16 set" << 1 << 16 << "" << 128 << 16 << 16;
        QTest::newRow("AES128, 15") << "click128 type:15 set" << 1 << -1 << w16 << 128 << 16 << 15;
        QTest::newRow("AES128, empty") << "click128 set" << 1 << -1 << w16 << 128 << 16 << 0;
        QTest::newRow("AES128, 17th refused") << "click128 type:17" << 1 << -1 << "" << 128 << 16 << 16;
        QTest::newRow("AES256, 32") << "click256 type:32 set" << 1 << 32 << "" << 256 << 32 << 32;
        QTest::newRow("AES256, 31") << "click256 type:31 set" << 1 << -1 << w32 << 256 << 32 << 31;
        QTest::newRow("AES256, 16") << "click256 type:16 set" << 1 << -1 << w32 << 256 << 32 << 16;
        QTest::newRow("AES256, 33rd refused") << "click256 type:33" << 1 << -1 << "" << 256 << 32 << 32;
        QTest::newRow("unit mode 0, 16") << "report0 type:16 set" << 0 << 16 << "" << 128 << 16 << 16;
        QTest::newRow("unit mode 0, 17th refused") << "report0 type:17" << 0 << -1 << "" << 128 << 16 << 16;
        QTest::newRow("unit mode 1, 32") << "report1 type:32 set" << 0 << 32 << "" << 256 << 32 << 32;
        QTest::newRow("unit mode 1, 20") << "report1 type:20 set" << 0 << -1 << w32 << 256 << 32 << 20;
        QTest::newRow("unit mode 1, 40 typed") << "report1 type:40" << 0 << -1 << "" << 256 << 32 << 32;
        QTest::newRow("unit mode 2: none") << "report2" << 0 << -1 << "" << 0 << 0 << 0;
        QTest::newRow("unit mode -1: none") << "report-1" << 0 << -1 << "" << 0 << 0 << 0;
        QTest::newRow("report, then the user") << "report1 click128" << 1 << -1 << "" << 128 << 16 << 0;
        // The poll goes on while the user types: the unit's report must not
        // undo a choice not yet sent.
        QTest::newRow("the user's choice holds against the report") << "click256 report0" << 1 << -1 << "" << 256
                                                                     << 32 << 0;
        QTest::newRow("unknown report keeps the choice") << "click256 report7" << 1 << -1 << "" << 256 << 32 << 0;
        QTest::newRow("status reports change nothing") << "status1 status0" << 0 << -1 << "" << 0 << 0 << 0;
    }
    void panel()
    {
        QFETCH(QString, steps);
        QFETCH(int, mode_signals);
        QFETCH(int, sent);
        QFETCH(QString, warning);
        QFETCH(int, checked);
        QFETCH(int, max_length);
        QFETCH(int, length);
        Encry_Form form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        Panel p(&form);
        BoxAnswerer boxes(QMessageBox::Yes);
        QSignalSpy changed(&form, &Encry_Form::change_encry_mode);
        QSignalSpy keys(&form, &Encry_Form::set_encry);
        QSignalSpy enables(&form, &Encry_Form::enable_encry);
        for (const QString& s : steps.split(' '))
            p.step(s);
        QCOMPARE(changed.count(), mode_signals);
        QCOMPARE(keys.count(), sent < 0 ? 0 : 1);
        if (sent >= 0)
            QCOMPARE(keys.at(0).at(0).toString(), chars(sent));
        QCOMPARE(enables.count(), 0);
        QCOMPARE(boxes.texts(), warning.isEmpty() ? QStringList() : QStringList{"warning: " + warning});
        if (!warning.isEmpty())
            QCOMPARE(boxes.seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Yes));
        QCOMPARE(p.aes128->isChecked(), checked == 128);
        QCOMPARE(p.aes256->isChecked(), checked == 256);
        QCOMPARE(p.key->isReadOnly(), max_length == 0);
        QCOMPARE(p.key->maxLength(), max_length ? max_length : 16);
        QCOMPARE(p.key->text(), chars(length));
    }

    void panel_painted_and_retranslated()
    {
        Encry_Form form;
        form.setStyleSheet("Encry_Form { background-color: rgb(10, 200, 30); }");
        const QImage img = form.grab().toImage();
        // The bottom-right corner lies in the layout's margin, outside every child.
        QCOMPARE(QColor(img.pixel(img.width() - 2, img.height() - 2)), QColor(10, 200, 30));
        Panel p(&form);
        p.set->setText("changed");
        p.aes128->setText("changed");
        QEvent change(QEvent::LanguageChange);
        QCoreApplication::sendEvent(&form, &change);
        QCOMPARE(p.set->text(), QString("Set"));
        QCOMPARE(p.aes128->text(), QString("AES128"));
    }

    void key_to_unit_data()
    {
        QTest::addColumn<Act>("act");
        QTest::addColumn<bool>("refuse");
        QTest::addColumn<QString>("wire");
        QTest::addColumn<QStringList>("debug");
        QTest::addColumn<QString>("box");
        const QString ascii = "warning: The key may only contain printable ASCII characters";
        QTest::newRow("AES256 key from the panel") << from_panel("click256 type:32 set") << false
                                                   << key_wire(1, chars(32)) << QStringList{"Set encrypmt key done"} << "";
        QTest::newRow("AES128 key from the panel") << from_panel("click128 type:16 set") << false
                                                   << key_wire(0, chars(16)) << QStringList{"Set encrypmt key done"} << "";
        QTest::newRow("short key from the panel") << from_panel("click256 type:31 set") << false << "" << QStringList()
                                                  << "warning: Key length must be 32";
        QTest::newRow("key refused by the unit") << key(chars(16)) << true << key_wire(0, chars(16))
                                                 << QStringList{"Set encrypmt key failed"} << "";
        QTest::newRow("accented letters") << key(chars(30) + QString::fromUtf8("éü")) << false << ""
                                          << QStringList{"key character invalid"} << ascii;
        QTest::newRow("20 characters") << key(chars(20)) << false << "" << QStringList{"key length invalid"} << "";
        QTest::newRow("encryption on: nothing to send")
            << Act([](Window& h) { emit h.ui->widget_encry->enable_encry(true); }) << false << "" << QStringList()
            << "";
        QTest::newRow("encryption off") << Act([](Window& h) { emit h.ui->widget_encry->enable_encry(false); })
                                        << false << "EF:00 F8" << QStringList{"Set disable encry done"} << "";
    }
    void key_to_unit()
    {
        QFETCH(Act, act);
        QFETCH(bool, refuse);
        QFETCH(QString, wire);
        QFETCH(QStringList, debug);
        QFETCH(QString, box);
        Window h(0, [](sim::SimUnit& u) { u.link().setEncryption(true, 0); });
        QVERIFY(h.opened);
        if (refuse)
            h.link().rejectNextSettings(1);
        WaitLog waits;
        BoxAnswerer boxes(QMessageBox::Yes);
        DebugCapture capture;
        const size_t m = h.mark();
        act(h);
        QCOMPARE(harness::wire(h.since(m)), wire);
        QCOMPARE(waits.text(), QString(wire.isEmpty() ? "" : "400 2000"));
        QCOMPARE(lines(capture), debug);
        QCOMPARE(boxes.texts(), box.isEmpty() ? QStringList() : QStringList{box});
        QVERIFY(h.w->poll_timer()->isActive());
        const auto stored = h.link().encryptionKey();
        if (!wire.startsWith("ED") || refuse)
            QVERIFY(stored.empty());
        else
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(stored.data()), int(stored.size())),
                     QByteArray::fromHex(wire.mid(3, 72).toLatin1()).mid(4).replace('\0', QByteArray()));
        if (wire.startsWith("EF"))
            QVERIFY(!(h.link().flags() & sim::kFlagEncryption));
    }

    // The unit's report moves the panel without a signal of its own, so
    // that nothing is sent back; the poll goes on.
    void unit_report_moves_the_panel_silently()
    {
        Window h(0, [](sim::SimUnit& u) { u.link().setEncryption(true, 1); });
        QVERIFY(h.opened);
        Panel p(h.ui->widget_encry);
        QSignalSpy changes(p.form, &Encry_Form::change_encry_mode);
        QVERIFY(h.wait_poll());
        QVERIFY(p.aes256->isChecked() && !p.key->isReadOnly() && p.key->maxLength() == 32);
        QCOMPARE(changes.count(), 0);
        QVERIFY(h.w->poll_timer()->isActive());
    }

    // Offered on the Configure page while a unit is connected only.
    void panel_shown_while_connected()
    {
        Window h;
        QVERIFY(h.opened);
        h.ui->pushButton_configure->click();
        QVERIFY(h.ui->widget_encry->isVisible());
        sim::VirtualBus::instance().unplug(h.dev);
        h.w->deal_dev_disconnected();
        QVERIFY(h.ui->widget_encry->isHidden());
    }

    void warning_in_chinese()
    {
        QTranslator translator;
        QVERIFY(translator.load(":/WirelessVideo_CH.qm"));
        QCoreApplication::installTranslator(&translator);
        Window h;
        QVERIFY(h.opened);
        BoxAnswerer boxes(QMessageBox::Yes);
        h.w->on_set_encrypt_key(chars(15) + QChar(0xE9));
        QCoreApplication::removeTranslator(&translator);
        QCOMPARE(boxes.texts(), QStringList{QString::fromUtf8("警告: 密码只能包含可打印的ASCII字符")});
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    testsupport::init_resources();
    EncryptionTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_encryption.moc"
