// The encryption panel: key-length rules, the read-only field before a mode
// is known, which signals a user's choice and the unit's report emit.
#include "encry_form.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

namespace {

// Records and dismisses any message box the form raises, so that a modal
// exec() inside a click does not block the test.
class BoxCloser : public QObject
{
public:
    BoxCloser()
    {
        connect(&timer, &QTimer::timeout, this, &BoxCloser::poll);
        timer.start(10);
    }

    QStringList titles;
    QStringList texts;
    bool yes_only = true;

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        titles << box->windowTitle();
        texts << box->text();
        if (box->standardButtons() != QMessageBox::Yes
            || box->defaultButton() != box->button(QMessageBox::Yes))
            yes_only = false;
        box->done(QMessageBox::Yes);
    }

    QTimer timer;
};

QString chars(int n)
{
    QString s;
    for (int i = 0; i < n; ++i)
        s.append(QChar('a' + i % 26));
    return s;
}

} // namespace

class TestEncryForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startsWithoutMode();
    void setBeforeModeDoesNothing_data();
    void setBeforeModeDoesNothing();
    void keyLengthRules_data();
    void keyLengthRules();
    void extraCharactersRefused_data();
    void extraCharactersRefused();
    void modeSources_data();
    void modeSources();
    void statusReportIgnored();
    void buttonsBoundByName();
    void styleSheetBackgroundPainted();
    void retranslatesOnLanguageChange();

private:
    void choose(const QString &how);
    QLineEdit *edit() const { return form->findChild<QLineEdit *>("lineEdit_encry"); }
    QRadioButton *aes128() const { return form->findChild<QRadioButton *>("radioButton_AES128"); }
    QRadioButton *aes256() const { return form->findChild<QRadioButton *>("radioButton_AES256"); }
    QPushButton *setButton() const { return form->findChild<QPushButton *>("pushButton_encry"); }

    Encry_Form *form = nullptr;
};

void TestEncryForm::init()
{
    form = new Encry_Form;
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
}

void TestEncryForm::cleanup()
{
    delete form;
    form = nullptr;
}

// "click128"/"click256": the user clicks a mode; "reportN": the unit reports mode N.
void TestEncryForm::choose(const QString &how)
{
    // Click on the indicator: a radio button only reacts to its indicator and text.
    if (how == QLatin1String("click128"))
        QTest::mouseClick(aes128(), Qt::LeftButton, {}, QPoint(6, aes128()->height() / 2));
    else if (how == QLatin1String("click256"))
        QTest::mouseClick(aes256(), Qt::LeftButton, {}, QPoint(6, aes256()->height() / 2));
    else if (how.startsWith(QLatin1String("report")))
        form->set_encry_mode(how.mid(6).toInt());
    else
        QFAIL("unknown mode source");
}

void TestEncryForm::startsWithoutMode()
{
    QVERIFY(edit());
    QVERIFY(edit()->isReadOnly());
    QVERIFY(!aes128()->isChecked());
    QVERIFY(!aes256()->isChecked());
    QCOMPARE(setButton()->text(), QString("Set"));
    QCOMPARE(form->size(), QSize(400, 132));
}

void TestEncryForm::setBeforeModeDoesNothing_data()
{
    QTest::addColumn<QString>("preset");
    QTest::newRow("empty field") << QString();
    QTest::newRow("16 characters") << chars(16);
    QTest::newRow("32 characters") << chars(16) + chars(16);
}

void TestEncryForm::setBeforeModeDoesNothing()
{
    QFETCH(QString, preset);
    BoxCloser closer;
    QSignalSpy sent(form, &Encry_Form::set_encry);

    QTest::keyClicks(edit(), "typed");
    QCOMPARE(edit()->text(), QString()); // read-only: typing is refused

    edit()->setText(preset);
    QTest::mouseClick(setButton(), Qt::LeftButton);
    QTest::qWait(50);

    QCOMPARE(sent.count(), 0);
    QVERIFY(closer.texts.isEmpty());
}

void TestEncryForm::keyLengthRules_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("sent");
    QTest::addColumn<QString>("warning");

    const QString w16("Key length must be 16");
    const QString w32("Key length must be 32");
    QTest::newRow("AES128 16 chars") << "click128" << chars(16) << true << QString();
    QTest::newRow("AES128 15 chars") << "click128" << chars(15) << false << w16;
    QTest::newRow("AES128 empty") << "click128" << QString() << false << w16;
    QTest::newRow("AES256 32 chars") << "click256" << chars(32) << true << QString();
    QTest::newRow("AES256 31 chars") << "click256" << chars(31) << false << w32;
    QTest::newRow("AES256 16 chars") << "click256" << chars(16) << false << w32;
    QTest::newRow("unit mode 0, 16 chars") << "report0" << chars(16) << true << QString();
    QTest::newRow("unit mode 1, 32 chars") << "report1" << chars(32) << true << QString();
    QTest::newRow("unit mode 1, 20 chars") << "report1" << chars(20) << false << w32;
    QTest::newRow("key with spaces and symbols")
        << "click128" << QString("A b#C d$E f%G h&") << true << QString();
}

void TestEncryForm::keyLengthRules()
{
    QFETCH(QString, mode);
    QFETCH(QString, key);
    QFETCH(bool, sent);
    QFETCH(QString, warning);

    BoxCloser closer;
    choose(mode);
    QVERIFY(!edit()->isReadOnly());
    QTest::keyClicks(edit(), key);
    QCOMPARE(edit()->text(), key);

    QSignalSpy spy(form, &Encry_Form::set_encry);
    QTest::mouseClick(setButton(), Qt::LeftButton);

    if (sent) {
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), key);
        QVERIFY(closer.texts.isEmpty());
    } else {
        QCOMPARE(spy.count(), 0);
        QCOMPARE(closer.texts, QStringList{warning});
        QCOMPARE(closer.titles, QStringList{QString("warning")});
        QVERIFY(closer.yes_only);
    }
}

void TestEncryForm::extraCharactersRefused_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("typed");
    QTest::addColumn<int>("kept");

    QTest::newRow("AES128, 17th char") << "click128" << 17 << 16;
    QTest::newRow("AES256, 33rd char") << "click256" << 33 << 32;
    QTest::newRow("unit mode 0, 17th char") << "report0" << 17 << 16;
    QTest::newRow("unit mode 1, 40 chars") << "report1" << 40 << 32;
}

void TestEncryForm::extraCharactersRefused()
{
    QFETCH(QString, mode);
    QFETCH(int, typed);
    QFETCH(int, kept);

    choose(mode);
    QTest::keyClicks(edit(), chars(typed));
    QCOMPARE(edit()->text(), chars(typed).left(kept));
}

void TestEncryForm::modeSources_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("modeSignals");
    QTest::addColumn<int>("checked"); // 0 none, 128, 256
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<int>("maxLength");

    QTest::newRow("user picks AES128") << QStringList{"click128"} << 1 << 128 << false << 16;
    QTest::newRow("user picks AES256") << QStringList{"click256"} << 1 << 256 << false << 32;
    QTest::newRow("unit reports 0") << QStringList{"report0"} << 0 << 128 << false << 16;
    QTest::newRow("unit reports 1") << QStringList{"report1"} << 0 << 256 << false << 32;
    QTest::newRow("unit reports 2") << QStringList{"report2"} << 0 << 0 << true << 16;
    QTest::newRow("unit reports -1") << QStringList{"report-1"} << 0 << 0 << true << 16;
    QTest::newRow("report then user") << QStringList{"report1", "click128"} << 1 << 128 << false << 16;
    // The poll goes on while the user types: the unit's report must not
    // undo a choice not yet sent.
    QTest::newRow("user's choice holds against the report")
        << QStringList{"click256", "report0"} << 1 << 256 << false << 32;
    QTest::newRow("unknown report keeps user choice")
        << QStringList{"click256", "report7"} << 1 << 256 << false << 32;
}

void TestEncryForm::modeSources()
{
    QFETCH(QStringList, steps);
    QFETCH(int, modeSignals);
    QFETCH(int, checked);
    QFETCH(bool, readOnly);
    QFETCH(int, maxLength);

    QSignalSpy changed(form, &Encry_Form::change_encry_mode);
    QSignalSpy keys(form, &Encry_Form::set_encry);
    QSignalSpy enables(form, &Encry_Form::enable_encry);
    for (const QString &step : steps)
        choose(step);

    QCOMPARE(changed.count(), modeSignals);
    QCOMPARE(keys.count(), 0);
    QCOMPARE(enables.count(), 0);
    QCOMPARE(aes128()->isChecked(), checked == 128);
    QCOMPARE(aes256()->isChecked(), checked == 256);
    QCOMPARE(edit()->isReadOnly(), readOnly);
    QCOMPARE(edit()->maxLength(), maxLength);
}

void TestEncryForm::statusReportIgnored()
{
    QSignalSpy changed(form, &Encry_Form::change_encry_mode);
    QSignalSpy enables(form, &Encry_Form::enable_encry);
    form->set_encry_status(true);
    form->set_encry_status(false);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(enables.count(), 0);
    QVERIFY(edit()->isReadOnly());
}

// The slots are bound by object name; a renamed widget would silently
// disconnect them.
void TestEncryForm::buttonsBoundByName()
{
    QSignalSpy changed(form, &Encry_Form::change_encry_mode);
    aes256()->click();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(edit()->maxLength(), 32);

    edit()->setText(chars(32));
    QSignalSpy keys(form, &Encry_Form::set_encry);
    setButton()->click();
    QCOMPARE(keys.count(), 1);
}

void TestEncryForm::styleSheetBackgroundPainted()
{
    form->setStyleSheet("Encry_Form { background-color: rgb(10, 200, 30); }");
    const QImage img = form->grab().toImage();
    // Bottom-right corner lies in the layout's margin, outside every child.
    QCOMPARE(QColor(img.pixel(img.width() - 2, img.height() - 2)), QColor(10, 200, 30));
}

void TestEncryForm::retranslatesOnLanguageChange()
{
    setButton()->setText("changed");
    aes128()->setText("changed");
    QEvent ev(QEvent::LanguageChange);
    QCoreApplication::sendEvent(form, &ev);
    QCOMPARE(setButton()->text(), QString("Set"));
    QCOMPARE(aes128()->text(), QString("AES128"));
}

QTEST_MAIN(TestEncryForm)
#include "tst_encry_form.moc"
