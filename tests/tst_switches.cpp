// The drawn on/off switches: state changes and their signal, the knob
// animation, resizing, and what gets painted.
#include "enable_switch.h"
#include "switch_button.h"
#include "testsupport.h"

#include <QImage>
#include <QPixmap>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

std::unique_ptr<switch_base> make_switch(bool enable_kind, int style = switch_base::ButtonStyle_Rect,
                                         QSize size = QSize(100, 30))
{
    std::unique_ptr<switch_base> s;
    if (enable_kind)
        s = std::make_unique<enable_switch>();
    else
        s = std::make_unique<switch_button>();
    s->setButtonStyle(switch_base::ButtonStyle(style));
    s->resize(size);
    return s;
}

class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        count += e->type() == QEvent::Paint;
        return false;
    }
};

void show_and_wait(QWidget* w)
{
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QTest::qWait(20); // let the first paints settle
}

// Calls the tick by hand until the animation stops; returns the tick count.
int run_slide(switch_base& s)
{
    int ticks = 0;
    while (s.isAnimating() && ticks < 10000) {
        s.updateValue();
        ++ticks;
    }
    return ticks;
}

QColor at(const QImage& shot, int x, int y)
{
    return QColor(shot.pixel(x, y));
}

} // namespace

class TestSwitches : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { testsupport::init_resources(); }

    void kinds_data()
    {
        QTest::addColumn<bool>("enable_kind");
        QTest::addColumn<bool>("state");
        QTest::newRow("switch_button on") << false << true;
        QTest::newRow("switch_button off") << false << false;
        QTest::newRow("enable_switch on") << true << true;
        QTest::newRow("enable_switch off") << true << false;
    }

    // Being shown or set to the state it has is no change; the other state
    // is reported once and repainted, and the knob waits for a slide.
    void setCheckedSameStateIsSilent_data() { kinds_data(); }
    void setCheckedSameStateIsSilent()
    {
        QFETCH(bool, enable_kind);
        QFETCH(bool, state);
        auto s = make_switch(enable_kind);
        QSignalSpy changed(s.get(), &switch_base::checkedChanged);
        s->setChecked(state);
        show_and_wait(s.get());
        changed.clear();
        PaintCounter paints(s.get());
        for (int i = 0; i < 20; ++i) { // until nothing is left to paint
            paints.count = 0;
            QTest::qWait(30);
            if (paints.count == 0)
                break;
        }
        const int knob = s->startX();
        s->setChecked(state);
        QTest::qWait(50);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(paints.count, 0);

        s->setChecked(!state);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toBool(), !state);
        QTRY_VERIFY(paints.count > 0);
        QCOMPARE(s->startX(), knob);
        QVERIFY(!s->isAnimating());
    }

    void setCheckedOffKeepsKnobUntilSlide()
    {
        auto s = make_switch(false);
        show_and_wait(s.get());
        QCOMPARE(s->startX(), 50); // on: knob in the right half
        s->setChecked(false);
        QImage shot = s->grab().toImage();
        // Off colours everywhere, but the knob still on the right.
        QCOMPARE(at(shot, 25, 15), QColor(210, 210, 210));
        QCOMPARE(at(shot, 75, 15), QColor(100, 100, 100));
        static_cast<switch_button*>(s.get())->startSlide();
        QTRY_VERIFY(!s->isAnimating());
        QCOMPARE(s->startX(), 0);
        shot = s->grab().toImage();
        QCOMPARE(at(shot, 25, 15), QColor(100, 100, 100));
        QCOMPARE(at(shot, 75, 15), QColor(210, 210, 210));
    }

    // A press reports the new state before the knob starts to move; the
    // release does nothing.
    void clickReportsBeforeKnobMoves_data()
    {
        QTest::addColumn<bool>("initially");
        QTest::addColumn<int>("button");
        QTest::newRow("on, left button") << true << int(Qt::LeftButton);
        QTest::newRow("on, right button") << true << int(Qt::RightButton);
        QTest::newRow("off, middle button") << false << int(Qt::MiddleButton);
    }
    void clickReportsBeforeKnobMoves()
    {
        QFETCH(bool, initially);
        QFETCH(int, button);
        auto s = make_switch(true);
        s->setChecked(initially);
        show_and_wait(s.get());
        const int before = s->startX();
        QList<bool> reported;
        int knob_at_report = -1;
        bool moving_at_report = true;
        connect(s.get(), &switch_base::checkedChanged, s.get(), [&](bool on) {
            reported << on;
            knob_at_report = s->startX();
            moving_at_report = s->isAnimating();
        });
        QTest::mousePress(s.get(), Qt::MouseButton(button), Qt::NoModifier, QPoint(50, 15));
        QCOMPARE(reported, QList<bool>{!initially});
        QCOMPARE(knob_at_report, before);
        QVERIFY(!moving_at_report);
        QVERIFY(s->isAnimating());
        QTRY_VERIFY(!s->isAnimating());
        QCOMPARE(s->startX(), initially ? 0 : 50);
        QTest::mouseRelease(s.get(), Qt::MouseButton(button), Qt::NoModifier, QPoint(50, 15));
        QCOMPARE(reported.size(), 1);
    }

    // A receiver that holds the emission (pairing runs a modal dialog) and
    // turns the switch back off: the new state shows meanwhile, and the
    // knob ends where the final state puts it.
    void clickFollowsStateSetByReceiver()
    {
        auto s = make_switch(true);
        show_and_wait(s.get());
        PaintCounter paints(s.get());
        int paints_during_emission = 0;
        connect(s.get(), &switch_base::checkedChanged, s.get(), [&](bool on) {
            if (!on)
                return;
            QTest::qWait(30);
            paints_during_emission = paints.count;
            s->setChecked(false);
        });
        QTest::mouseClick(s.get(), Qt::LeftButton);
        QVERIFY(paints_during_emission > 0);
        QVERIFY(!s->isChecked());
        QTRY_VERIFY(!s->isAnimating());
        QCOMPARE(s->startX(), 0);
    }

    // The knob reaches its end exactly, in steps of a fiftieth of the width
    // (at least one pixel).
    void slideReachesEnd_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("on_end");
        QTest::newRow("rect, 100 wide") << 0 << QSize(100, 30) << 50;
        QTest::newRow("rect, 237 wide") << 0 << QSize(237, 30) << 119;
        QTest::newRow("rect, 30 wide") << 0 << QSize(30, 20) << 15;
        QTest::newRow("rect, 49 wide") << 0 << QSize(49, 20) << 25;
        QTest::newRow("circle in, 43 wide") << 1 << QSize(43, 20) << 23;
        QTest::newRow("circle out, 61 wide") << 2 << QSize(61, 25) << 38;
    }
    void slideReachesEnd()
    {
        QFETCH(int, style);
        QFETCH(QSize, size);
        QFETCH(int, on_end);
        auto owned = make_switch(false, style, size);
        auto& s = static_cast<switch_button&>(*owned);
        s.setChecked(false);
        show_and_wait(&s);
        for (bool on : {true, false}) {
            s.setChecked(on);
            s.startSlide();
            QCOMPARE(s.endX(), on ? on_end : 0);
            const int step = qMax(1, size.width() / 50);
            QCOMPARE(s.slideStep(), step);
            QCOMPARE(run_slide(s) - 1, (on_end + step - 1) / step); // the last tick only snaps
            QCOMPARE(s.startX(), on ? on_end : 0);
        }
    }

    void narrowSwitchFinishesOnTimer()
    {
        auto s = make_switch(true, switch_base::ButtonStyle_CircleIn, QSize(40, 16));
        show_and_wait(s.get());
        QTest::mouseClick(s.get(), Qt::LeftButton);
        QVERIFY(s->isChecked());
        QTRY_VERIFY(!s->isAnimating());
        QCOMPARE(s->startX(), 40 - 16);
    }

    // emit_checked reports even the state it has; enable_switch's slide
    // alone stores no state.
    void emitAndSlide()
    {
        switch_button b;
        b.setButtonStyle(switch_base::ButtonStyle_Rect);
        b.resize(100, 30);
        show_and_wait(&b);
        QSignalSpy changed(&b, &switch_button::checkedChanged);
        b.emit_checked(true);
        b.emit_checked(false);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed.at(1).at(0).toBool(), false);
        QVERIFY(b.isAnimating());
        QTRY_VERIFY(!b.isAnimating());
        QCOMPARE(b.startX(), 0);

        enable_switch e;
        e.setButtonStyle(switch_base::ButtonStyle_Rect);
        e.resize(100, 30);
        QSignalSpy quiet(&e, &enable_switch::checkedChanged);
        e.startSlide(true);
        QCOMPARE(e.endX(), 50);
        QVERIFY(!e.isChecked());
        QCOMPARE(quiet.count(), 0);
    }

    void resizePlacesKnobAndEndsSlide()
    {
        auto owned = make_switch(false, switch_base::ButtonStyle_Rect, QSize(300, 30));
        auto& s = static_cast<switch_button&>(*owned);
        s.setChecked(false);
        show_and_wait(&s);
        // A slide overtaken by a resize ends where the new size puts the
        // knob, not beyond the widget.
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

    // The picture of the state, unscaled, in the middle; it follows a state
    // set without a slide at once.
    void imageStyleShowsStatePicture_data() { kinds_data(); }
    void imageStyleShowsStatePicture()
    {
        QFETCH(bool, enable_kind);
        QFETCH(bool, state);
        auto s = make_switch(enable_kind, switch_base::ButtonStyle_Image, QSize(41, 31));
        s->setChecked(state);
        QCOMPARE(s->image(state), state ? QStringLiteral(":/Black/open2.png") : QStringLiteral(":/Black/shutdown.png"));
        QTemporaryDir dir;
        for (bool on : {false, true}) {
            QImage picture(on ? QSize(7, 12) : QSize(10, 6), QImage::Format_ARGB32);
            picture.fill(on ? Qt::blue : Qt::red);
            picture.save(dir.filePath(on ? "on.png" : "off.png"), "PNG");
        }
        s->setImage(dir.filePath("off.png"), dir.filePath("on.png"));
        const QRect where = QRect(QPoint(0, 0), state ? QSize(7, 12) : QSize(10, 6)).translated(20, 15)
                                .translated(-(state ? 3 : 5), -(state ? 6 : 3));
        const QImage shot = s->grab().toImage();
        for (int y = where.top() - 1; y <= where.bottom() + 1; ++y)
            for (int x = where.left() - 1; x <= where.right() + 1; ++x)
                QVERIFY2((at(shot, x, y) == QColor(state ? Qt::blue : Qt::red)) == where.contains(x, y),
                         qPrintable(QString("%1,%2").arg(x).arg(y)));
    }

    void labelsStandInFreeHalf_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<bool>("on");
        QTest::newRow("rect, on") << 0 << true;
        QTest::newRow("rect, off") << 0 << false;
        QTest::newRow("circle in, on") << 1 << true;
        QTest::newRow("circle out, off") << 2 << false;
    }
    void labelsStandInFreeHalf()
    {
        QFETCH(int, style);
        QFETCH(bool, on);
        auto s = make_switch(true, style, QSize(200, 40));
        s->setTextColor(Qt::red, Qt::red);
        s->setText(QStringLiteral("OFF"), QStringLiteral("ON"));
        s->setChecked(on);
        show_and_wait(s.get());
        const QImage shot = s->grab().toImage();
        QRect ink;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) {
                const QColor c = at(shot, x, y);
                if (c.red() > 200 && c.green() < 80 && c.blue() < 80)
                    ink |= QRect(x, y, 1, 1);
            }
        if (ink.isEmpty())
            QSKIP("no font to draw the label with");
        const int space = s->space();
        const QRect box = on ? QRect(0, 0, 100 + 2 * space, 40) : QRect(100, 0, 100 - space, 40);
        QVERIFY2(qAbs(ink.center().x() - box.center().x()) <= 3, qPrintable(QString::number(ink.center().x())));
        QVERIFY(qAbs(ink.center().y() - box.center().y()) <= 4);
    }
};

QTEST_MAIN(TestSwitches)
#include "tst_switches.moc"
