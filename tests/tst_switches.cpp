// The drawn on/off switches: state changes and their signal, the knob
// animation, resizing, and what gets painted.
#include "enable_switch.h"
#include "switch_button.h"
#include "testsupport.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

enum Kind { Button, Enable };

std::unique_ptr<switch_base> make_switch(int kind)
{
    if (kind == Button)
        return std::make_unique<switch_button>();
    return std::make_unique<enable_switch>();
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

void show_and_wait(QWidget* w)
{
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QTest::qWait(20); // let the first paints settle
}

// Where the knob of a switch in state `on` comes to rest.
int expected_end(int style, bool on, int w, int h, int space)
{
    if (!on)
        return 0;
    switch (style) {
    case switch_base::ButtonStyle_Rect:
        return w - w / 2;
    case switch_base::ButtonStyle_CircleIn:
        return w - h;
    default:
        return w - h + space;
    }
}

// Calls the tick by hand until the animation stops; returns the tick count.
int run_slide(switch_base& s, int max_ticks = 10000)
{
    int ticks = 0;
    while (s.isAnimating() && ticks < max_ticks) {
        s.updateValue();
        ++ticks;
    }
    return ticks;
}

QImage save_solid_png(const QString& path, QSize size, QColor color)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(color);
    image.save(path, "PNG");
    return image;
}

} // namespace

class TestSwitches : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { testsupport::init_resources(); }
    void defaults_data();
    void defaults();
    void setCheckedSameStateIsSilent_data();
    void setCheckedSameStateIsSilent();
    void setCheckedOffKeepsKnobUntilSlide();
    void clickReportsBeforeKnobMoves_data();
    void clickReportsBeforeKnobMoves();
    void clickFollowsStateSetByReceiver();
    void slideReachesEnd_data();
    void slideReachesEnd();
    void narrowSwitchFinishesOnTimer();
    void emitCheckedAlwaysReports();
    void enableSwitchSlideDoesNotStoreState();
    void resizePlacesKnobAndEndsSlide();
    void imageStyleShowsStatePicture_data();
    void imageStyleShowsStatePicture();
    void labelsStandInFreeHalf_data();
    void labelsStandInFreeHalf();
};

void TestSwitches::defaults_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QColor>("bgOff");
    QTest::addColumn<QColor>("bgOn");
    QTest::addColumn<QColor>("sliderOff");
    QTest::addColumn<QColor>("sliderOn");
    QTest::addColumn<QColor>("textOff");
    QTest::addColumn<QColor>("textOn");

    QTest::newRow("switch_button") << int(Button) << true << QColor(210, 210, 210) << QColor(255, 255, 255)
                                   << QColor(100, 100, 100) << QColor(71, 186, 240) << QColor(255, 255, 255)
                                   << QColor(10, 10, 10);
    QTest::newRow("enable_switch") << int(Enable) << false << QColor(225, 225, 225) << QColor(173, 210, 229)
                                   << QColor(146, 135, 177) << QColor(45, 162, 231) << QColor(255, 252, 251)
                                   << QColor(10, 10, 10);
}

void TestSwitches::defaults()
{
    QFETCH(int, kind);
    QFETCH(bool, checked);
    auto s = make_switch(kind);
    QSignalSpy changed(s.get(), &switch_base::checkedChanged);

    QCOMPARE(s->isChecked(), checked);
    QCOMPARE(s->buttonStyle(), switch_base::ButtonStyle_Image);
    QTEST(s->bgColor(false), "bgOff");
    QTEST(s->bgColor(true), "bgOn");
    QTEST(s->sliderColor(false), "sliderOff");
    QTEST(s->sliderColor(true), "sliderOn");
    QTEST(s->textColor(false), "textOff");
    QTEST(s->textColor(true), "textOn");
    QCOMPARE(s->image(true), QStringLiteral(":/Black/open2.png"));
    QCOMPARE(s->image(false), QStringLiteral(":/Black/shutdown.png"));
    QVERIFY(s->text(true).isEmpty() && s->text(false).isEmpty());
    QCOMPARE(s->space(), 2);
    QCOMPARE(s->rectRadius(), 5);
    QCOMPARE(s->font().family(), QStringLiteral("Microsoft Yahei"));
    QCOMPARE(s->font().pointSize(), 10);
    QCOMPARE(s->startX(), 0);
    QCOMPARE(s->endX(), 0);
    QVERIFY(!s->isAnimating());

    // Being shown and laid out is no state change either.
    s->resize(120, 40);
    show_and_wait(s.get());
    QCOMPARE(changed.count(), 0);
    QCOMPARE(s->isChecked(), checked);
}

void TestSwitches::setCheckedSameStateIsSilent_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("state");
    QTest::newRow("switch_button on") << int(Button) << true;
    QTest::newRow("switch_button off") << int(Button) << false;
    QTest::newRow("enable_switch on") << int(Enable) << true;
    QTest::newRow("enable_switch off") << int(Enable) << false;
}

void TestSwitches::setCheckedSameStateIsSilent()
{
    QFETCH(int, kind);
    QFETCH(bool, state);
    auto s = make_switch(kind);
    s->setChecked(state);
    s->resize(100, 30);
    show_and_wait(s.get());

    PaintCounter paints(s.get());
    for (int i = 0; i < 20; ++i) { // until nothing is left to paint
        paints.count = 0;
        QTest::qWait(30);
        if (paints.count == 0)
            break;
    }
    QSignalSpy changed(s.get(), &switch_base::checkedChanged);
    const int knob = s->startX();

    s->setChecked(state);
    QTest::qWait(50);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(paints.count, 0);

    s->setChecked(!state);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toBool(), !state);
    QCOMPARE(s->isChecked(), !state);
    QTRY_VERIFY(paints.count > 0);
    QCOMPARE(s->startX(), knob); // the knob does not move on its own
    QVERIFY(!s->isAnimating());
}

void TestSwitches::setCheckedOffKeepsKnobUntilSlide()
{
    switch_button s;
    s.setButtonStyle(switch_button::ButtonStyle_Rect);
    s.resize(100, 30);
    show_and_wait(&s);
    QCOMPARE(s.startX(), 50); // on: knob in the right half

    s.setChecked(false);
    QImage shot = s.grab().toImage();
    // Off colours everywhere, but the knob still on the right.
    QCOMPARE(QColor(shot.pixel(25, 15)), QColor(210, 210, 210));
    QCOMPARE(QColor(shot.pixel(75, 15)), QColor(100, 100, 100));
    QCOMPARE(s.startX(), 50);

    s.startSlide();
    QVERIFY(s.isAnimating());
    QTRY_VERIFY(!s.isAnimating());
    QCOMPARE(s.startX(), 0);
    shot = s.grab().toImage();
    QCOMPARE(QColor(shot.pixel(25, 15)), QColor(100, 100, 100));
    QCOMPARE(QColor(shot.pixel(75, 15)), QColor(210, 210, 210));
}

void TestSwitches::clickReportsBeforeKnobMoves_data()
{
    QTest::addColumn<bool>("initially");
    QTest::addColumn<int>("button_value");
    QTest::newRow("on, left button") << true << int(Qt::LeftButton);
    QTest::newRow("on, right button") << true << int(Qt::RightButton);
    QTest::newRow("off, left button") << false << int(Qt::LeftButton);
    QTest::newRow("off, middle button") << false << int(Qt::MiddleButton);
}

void TestSwitches::clickReportsBeforeKnobMoves()
{
    QFETCH(bool, initially);
    QFETCH(int, button_value);
    const auto button = Qt::MouseButton(button_value);
    enable_switch s;
    s.setButtonStyle(enable_switch::ButtonStyle_Rect);
    s.setChecked(initially);
    s.resize(100, 30);
    show_and_wait(&s);
    const int before = s.startX();
    QCOMPARE(before, initially ? 50 : 0);

    QList<bool> reported;
    int knob_at_report = -1;
    bool moving_at_report = true;
    connect(&s, &enable_switch::checkedChanged, &s, [&](bool on) {
        reported << on;
        knob_at_report = s.startX();
        moving_at_report = s.isAnimating();
    });

    QTest::mousePress(&s, button, Qt::NoModifier, QPoint(50, 15));
    QCOMPARE(reported, QList<bool>{!initially});
    QCOMPARE(knob_at_report, before);
    QVERIFY(!moving_at_report);
    QCOMPARE(s.isChecked(), !initially);
    QVERIFY(s.isAnimating());

    QTRY_VERIFY(!s.isAnimating());
    QCOMPARE(s.startX(), initially ? 0 : 50);
    QTest::mouseRelease(&s, button, Qt::NoModifier, QPoint(50, 15));
    QCOMPARE(reported.size(), 1); // the release does nothing
}

void TestSwitches::clickFollowsStateSetByReceiver()
{
    // A receiver that holds the emission (pairing runs a modal dialog) and
    // turns the switch back off before returning.
    enable_switch s;
    s.setButtonStyle(enable_switch::ButtonStyle_Rect);
    s.resize(100, 30);
    show_and_wait(&s);
    PaintCounter paints(&s);
    int paints_during_emission = 0;
    connect(&s, &enable_switch::checkedChanged, &s, [&](bool on) {
        if (!on)
            return;
        QTest::qWait(30);
        paints_during_emission = paints.count;
        s.setChecked(false);
    });

    QTest::mouseClick(&s, Qt::LeftButton);
    QVERIFY(paints_during_emission > 0); // the new state was shown meanwhile
    QVERIFY(!s.isChecked());
    QTRY_VERIFY(!s.isAnimating());
    QCOMPARE(s.startX(), 0); // the knob matches the state it ended in
}

void TestSwitches::slideReachesEnd_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("ticks"); // ticks that move the knob; -1: do not check

    QTest::newRow("rect, 100 wide") << 0 << 100 << 30 << 25;
    QTest::newRow("rect, 400 wide") << 0 << 400 << 30 << 25;
    QTest::newRow("rect, 237 wide") << 0 << 237 << 30 << -1;
    QTest::newRow("rect, 30 wide") << 0 << 30 << 20 << 15;
    QTest::newRow("rect, 49 wide") << 0 << 49 << 20 << 25;
    QTest::newRow("circle in, 100 wide") << 1 << 100 << 30 << 35;
    QTest::newRow("circle in, 43 wide") << 1 << 43 << 20 << 23;
    QTest::newRow("circle out, 100 wide") << 2 << 100 << 30 << 36;
    QTest::newRow("circle out, 61 wide") << 2 << 61 << 25 << 38;
}

void TestSwitches::slideReachesEnd()
{
    QFETCH(int, style);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, ticks);

    switch_button s;
    s.setButtonStyle(switch_button::ButtonStyle(style));
    s.setChecked(false);
    s.resize(width, height);
    show_and_wait(&s);
    QCOMPARE(s.startX(), 0);

    const int on_end = expected_end(style, true, width, height, s.space());
    for (bool on : {true, false}) {
        s.setChecked(on);
        s.startSlide();
        QCOMPARE(s.endX(), on ? on_end : 0);
        const int step = s.slideStep();
        QVERIFY(step >= 1);
        QCOMPARE(step, qMax(1, width / 50));
        const int moved = run_slide(s) - 1; // the last tick only snaps
        QVERIFY2(!s.isAnimating(), "the slide never ended");
        QCOMPARE(s.startX(), on ? on_end : 0);
        const int expected_moves = (on_end + step - 1) / step;
        QCOMPARE(moved, expected_moves);
        if (ticks >= 0)
            QCOMPARE(moved, ticks);
    }
}

void TestSwitches::narrowSwitchFinishesOnTimer()
{
    enable_switch s;
    s.setButtonStyle(enable_switch::ButtonStyle_CircleIn);
    s.resize(40, 16);
    show_and_wait(&s);
    QTest::mouseClick(&s, Qt::LeftButton);
    QVERIFY(s.isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(!s.isAnimating(), 2000);
    QCOMPARE(s.startX(), 40 - 16);
}

void TestSwitches::emitCheckedAlwaysReports()
{
    switch_button s;
    s.setButtonStyle(switch_button::ButtonStyle_Rect);
    s.resize(100, 30);
    show_and_wait(&s);
    QSignalSpy changed(&s, &switch_button::checkedChanged);

    s.emit_checked(true); // same state: reported all the same
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toBool(), true);

    s.emit_checked(false);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(changed.at(1).at(0).toBool(), false);
    QVERIFY(!s.isChecked());
    QVERIFY(s.isAnimating());
    QTRY_COMPARE(s.startX(), 0);
    QTRY_VERIFY(!s.isAnimating());
}

void TestSwitches::enableSwitchSlideDoesNotStoreState()
{
    enable_switch s;
    s.setButtonStyle(enable_switch::ButtonStyle_Rect);
    s.resize(100, 30);
    QSignalSpy changed(&s, &enable_switch::checkedChanged);
    s.startSlide(true);
    QCOMPARE(s.endX(), 50);
    QVERIFY(!s.isChecked());
    QCOMPARE(changed.count(), 0);
    run_slide(s);
    QVERIFY(!s.isAnimating());
}

void TestSwitches::resizePlacesKnobAndEndsSlide()
{
    switch_button s;
    s.setButtonStyle(switch_button::ButtonStyle_Rect);
    s.setChecked(false);
    s.resize(300, 30);
    show_and_wait(&s);
    QCOMPARE(s.startX(), 0);

    // A slide started at one size and overtaken by a resize ends where the
    // new size puts the knob, not beyond the widget.
    s.emit_checked(true);
    QCOMPARE(s.endX(), 150);
    s.updateValue();
    s.resize(100, 30);
    QTRY_COMPARE(s.width(), 100);
    QCOMPARE(s.startX(), 50);
    QVERIFY(!s.isAnimating());
    QTest::qWait(50);
    QCOMPARE(s.startX(), 50);
    QCOMPARE(s.slideStep(), 2);

    // State changed without a slide: a resize brings the knob to it.
    s.setChecked(false);
    s.resize(120, 30);
    QTRY_COMPARE(s.startX(), 0);

    // The picture style has no knob: a resize leaves the position alone.
    s.setChecked(true);
    s.resize(140, 30);
    QTRY_COMPARE(s.startX(), 70);
    s.setButtonStyle(switch_button::ButtonStyle_Image);
    s.resize(200, 30);
    QTRY_COMPARE(s.width(), 200);
    QCOMPARE(s.startX(), 70);
}

void TestSwitches::imageStyleShowsStatePicture_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("on");
    QTest::newRow("switch_button on") << int(Button) << true;
    QTest::newRow("switch_button off") << int(Button) << false;
    QTest::newRow("enable_switch on") << int(Enable) << true;
    QTest::newRow("enable_switch off") << int(Enable) << false;
}

void TestSwitches::imageStyleShowsStatePicture()
{
    QFETCH(int, kind);
    QFETCH(bool, on);
    auto s = make_switch(kind);
    s->resize(41, 31);
    // The state is set without a slide: the picture follows it at once.
    s->setChecked(on);
    QCOMPARE(s->image(s->isChecked()),
             on ? QStringLiteral(":/Black/open2.png") : QStringLiteral(":/Black/shutdown.png"));

    // With the compiled-in artwork: it is drawn unscaled in the middle.
    const QString resource = s->image(on);
    if (QFile::exists(resource)) {
        const QImage art = QPixmap(resource).toImage().convertToFormat(QImage::Format_ARGB32);
        auto big = make_switch(kind);
        big->setChecked(on);
        big->resize(art.width() + 21, art.height() + 13);
        const QImage shot = big->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        const int x = (big->width() - 1) / 2 - art.width() / 2;
        const int y = (big->height() - 1) / 2 - art.height() / 2;
        for (const QPoint p : {QPoint(art.width() / 2, art.height() / 2), QPoint(0, 0),
                               QPoint(art.width() - 1, art.height() - 1)}) {
            if (qAlpha(art.pixel(p)) == 255)
                QCOMPARE(shot.pixel(p + QPoint(x, y)), art.pixel(p));
        }
    }

    // With pictures of our own, placed exactly as the geometry says.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString off_path = dir.filePath("off.png");
    const QString on_path = dir.filePath("on.png");
    save_solid_png(off_path, QSize(10, 6), QColor(255, 0, 0));
    save_solid_png(on_path, QSize(7, 12), QColor(0, 0, 255));
    s->setImage(off_path, on_path);

    const QSize size = on ? QSize(7, 12) : QSize(10, 6);
    const QColor colour = on ? QColor(0, 0, 255) : QColor(255, 0, 0);
    const int x = (41 - 1) / 2 - size.width() / 2;
    const int y = (31 - 1) / 2 - size.height() / 2;
    const QImage shot = s->grab().toImage();
    QCOMPARE(QColor(shot.pixel(x, y)), colour);
    QCOMPARE(QColor(shot.pixel(x + size.width() - 1, y + size.height() - 1)), colour);
    QVERIFY(QColor(shot.pixel(x - 1, y)) != colour);
    QVERIFY(QColor(shot.pixel(x, y - 1)) != colour);
    QVERIFY(QColor(shot.pixel(x + size.width(), y + size.height() - 1)) != colour);
    QVERIFY(QColor(shot.pixel(x + size.width() - 1, y + size.height())) != colour);
}

void TestSwitches::labelsStandInFreeHalf_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<bool>("on");
    QTest::newRow("rect, on") << 0 << true;
    QTest::newRow("rect, off") << 0 << false;
    QTest::newRow("circle in, on") << 1 << true;
    QTest::newRow("circle out, off") << 2 << false;
}

void TestSwitches::labelsStandInFreeHalf()
{
    QFETCH(int, style);
    QFETCH(bool, on);
    enable_switch s;
    s.setButtonStyle(enable_switch::ButtonStyle(style));
    s.setTextColor(QColor(255, 0, 0), QColor(255, 0, 0));
    s.setText(QStringLiteral("OFF"), QStringLiteral("ON"));
    s.setChecked(on);
    s.resize(200, 40);
    show_and_wait(&s);

    const QImage shot = s.grab().toImage();
    int left = shot.width(), right = -1, top = shot.height(), bottom = -1;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const QColor c(shot.pixel(x, y));
            if (c.red() > 200 && c.green() < 80 && c.blue() < 80) {
                left = qMin(left, x);
                right = qMax(right, x);
                top = qMin(top, y);
                bottom = qMax(bottom, y);
            }
        }
    }
    if (right < 0)
        QSKIP("no font to draw the label with");

    const int space = s.space();
    const QRect box = on ? QRect(0, 0, 200 / 2 + 2 * space, 40) : QRect(200 / 2, 0, 200 / 2 - space, 40);
    const QPoint centre((left + right + 1) / 2, (top + bottom + 1) / 2);
    QVERIFY2(qAbs(centre.x() - box.center().x()) <= 3,
             qPrintable(QStringLiteral("label centre %1, box centre %2").arg(centre.x()).arg(box.center().x())));
    QVERIFY(qAbs(centre.y() - box.center().y()) <= 4);
}

QTEST_MAIN(TestSwitches)
#include "tst_switches.moc"
