// The drawn widgets: the on/off switches (state changes and their signal,
// the knob's slide, resizing, what gets painted) and the signal wedge
// (level from RSSI, level from pointing strictly inside the wedge, what it
// paints, fed by the window's ground RSSI).
#include "enable_switch.h"
#include "signal_bar.h"
#include "switch_button.h"
#include "testsupport.h"
#include "ui_wireless_video_link.h"
#include "wireless_video_link.h"

#include <QApplication>
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

// Mouse events straight to the wedge: press ("p", "P" right), move ("m"
// left held, "M" right held), release ("r").
void mouse(Signal_Bar& bar, char kind, QPoint at)
{
    const bool right = kind == 'P' || kind == 'M';
    const Qt::MouseButton button = right ? Qt::RightButton : Qt::LeftButton;
    const QEvent::Type type = kind == 'r' ? QEvent::MouseButtonRelease
                              : (kind == 'm' || kind == 'M') ? QEvent::MouseMove : QEvent::MouseButtonPress;
    QMouseEvent e(type, at, type == QEvent::MouseMove ? Qt::NoButton : button,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button), Qt::NoModifier);
    QApplication::sendEvent(&bar, &e);
}

QImage rendered(Signal_Bar& bar)
{
    QImage image(bar.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    bar.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

bool is_grey(QRgb c)
{
    return qAbs(qRed(c) - 160) <= 3 && qAbs(qGreen(c) - 160) <= 3 && qAbs(qBlue(c) - 160) <= 3;
}

} // namespace

class WidgetsTest : public QObject
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

    // Being set to the state it has is no change; the other state is
    // reported once and repainted, and the knob waits for a slide.
    void same_state_is_silent_data() { kinds_data(); }
    void same_state_is_silent()
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
            QTest::qWait(20);
            if (paints.count == 0)
                break;
        }
        const int knob = s->startX();
        s->setChecked(state);
        QTest::qWait(30);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(paints.count, 0);
        s->setChecked(!state);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toBool(), !state);
        QTRY_VERIFY(paints.count > 0);
        QCOMPARE(s->startX(), knob);
        QVERIFY(!s->isAnimating());
    }

    void off_keeps_knob_until_slide()
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
        QCOMPARE(run_slide(*s) > 0, true);
        QCOMPARE(s->startX(), 0);
        shot = s->grab().toImage();
        QCOMPARE(at(shot, 25, 15), QColor(100, 100, 100));
        QCOMPARE(at(shot, 75, 15), QColor(210, 210, 210));
    }

    // A press reports the new state before the knob starts to move; the
    // release does nothing.
    void click_reports_before_knob_moves_data()
    {
        QTest::addColumn<bool>("initially");
        QTest::addColumn<int>("button");
        QTest::newRow("on, left button") << true << int(Qt::LeftButton);
        QTest::newRow("on, right button") << true << int(Qt::RightButton);
        QTest::newRow("off, middle button") << false << int(Qt::MiddleButton);
    }
    void click_reports_before_knob_moves()
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
        run_slide(*s);
        QCOMPARE(s->startX(), initially ? 0 : 50);
        QTest::mouseRelease(s.get(), Qt::MouseButton(button), Qt::NoModifier, QPoint(50, 15));
        QCOMPARE(reported.size(), 1);
    }

    // A receiver that holds the emission (pairing runs a modal dialog) and
    // turns the switch back off: the new state shows meanwhile, and the
    // knob ends where the final state puts it.
    void click_follows_state_set_by_receiver()
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
    // (at least one pixel); a narrow one finishes on its own timer.
    void slide_reaches_end_data()
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
        QTest::newRow("circle in, 40 wide, on its timer") << 1 << QSize(40, 16) << 24;
    }
    void slide_reaches_end()
    {
        QFETCH(int, style);
        QFETCH(QSize, size);
        QFETCH(int, on_end);
        if (QByteArray(QTest::currentDataTag()).contains("timer")) {
            auto e = make_switch(true, style, size);
            show_and_wait(e.get());
            QTest::mouseClick(e.get(), Qt::LeftButton);
            QVERIFY(e->isChecked());
            QTRY_VERIFY(!e->isAnimating());
            QCOMPARE(e->startX(), on_end);
            return;
        }
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

    // emit_checked reports even the state it has; enable_switch's slide
    // alone stores no state.
    void emit_and_slide()
    {
        switch_button b;
        b.setButtonStyle(switch_base::ButtonStyle_Rect);
        b.resize(100, 30);
        QSignalSpy changed(&b, &switch_button::checkedChanged);
        b.emit_checked(true);
        b.emit_checked(false);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed.at(1).at(0).toBool(), false);
        QVERIFY(b.isAnimating());
        run_slide(b);
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

    void resize_places_knob_and_ends_slide()
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
        QTest::qWait(30);
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
    void image_style_shows_state_picture_data() { kinds_data(); }
    void image_style_shows_state_picture()
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

    void labels_stand_in_free_half_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<bool>("on");
        QTest::newRow("rect, on") << 0 << true;
        QTest::newRow("rect, off") << 0 << false;
        QTest::newRow("circle in, on") << 1 << true;
        QTest::newRow("circle out, off") << 2 << false;
    }
    void labels_stand_in_free_half()
    {
        QFETCH(int, style);
        QFETCH(bool, on);
        auto s = make_switch(true, style, QSize(200, 40));
        s->setTextColor(Qt::red, Qt::red);
        s->setText(QStringLiteral("OFF"), QStringLiteral("ON"));
        s->setChecked(on);
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

    // The wedge's level from an RSSI magnitude: 7 dB a segment above -90
    // dBm, 12 at most.
    void wedge_level_from_rssi_data()
    {
        QTest::addColumn<int>("rssi");
        QTest::addColumn<int>("level");
        for (auto [rssi, level] : std::initializer_list<std::pair<int, int>>{
                 {255, 0}, {91, 0}, {90, 0}, {84, 0}, {83, 1}, {76, 2}, {20, 10}, {7, 11}, {6, 12}, {0, 12}, {-40, 12}})
            QTest::newRow(qPrintable(QString::number(rssi))) << rssi << level;
    }
    void wedge_level_from_rssi()
    {
        QFETCH(int, rssi);
        QFETCH(int, level);
        Signal_Bar bar;
        bar.rcv_rssi(50); // start from something else
        bar.rcv_rssi(rssi);
        QCOMPARE(bar.level(), level);
    }

    // Points in logical coordinates (510 x 150, tip at the bottom left,
    // vertical edge at x = 500, base at y = 140), at the logical size and at
    // half of it; then drags: "<kind><x>,<y>=<level>" (see mouse()).
    void wedge_pointing_data()
    {
        QTest::addColumn<int>("scale_div");
        QTest::addColumn<QString>("steps"); // starting from level 3
        for (int div : {1, 2}) {
            const QByteArray s = div == 1 ? "full " : "half ";
            QTest::newRow(s + "near the left tip") << div << "p10,138=1";
            QTest::newRow(s + "middle") << div << "p250,100=7";
            QTest::newRow(s + "near the top right") << div << "p498,2=12";
            QTest::newRow(s + "on the base line") << div << "p250,140=3";
            QTest::newRow(s + "below the base") << div << "p250,146=3";
            QTest::newRow(s + "on the vertical edge") << div << "p500,100=3";
            QTest::newRow(s + "right of the edge") << div << "p506,100=3";
            QTest::newRow(s + "on the hypotenuse") << div << "p250,70=3";
            QTest::newRow(s + "above the hypotenuse") << div << "p100,10=3";
        }
        QTest::newRow("only the left button points") << 1 << "P250,100=3 M400,100=3";
        QTest::newRow("follows the pointer until released")
            << 1 << "m250,100=3 p10,138=1 m250,100=7 m250,10=7 m450,130=11 r0,0=11 m10,138=11";
        QTest::newRow("a press outside starts no drag") << 1 << "p100,10=3 m250,100=3";
    }
    void wedge_pointing()
    {
        QFETCH(int, scale_div);
        QFETCH(QString, steps);
        Signal_Bar bar;
        bar.resize(510 / scale_div, 150 / scale_div);
        bar.rcv_rssi(69); // level 3
        for (const QString& step : steps.split(' ')) {
            const QStringList xy = step.mid(1).section('=', 0, 0).split(',');
            mouse(bar, step[0].toLatin1(), QPoint(xy[0].toInt(), xy[1].toInt()) / scale_div);
            QVERIFY2(bar.level() == step.section('=', 1).toInt(), qPrintable(step));
        }
    }

    void wedge_paints_the_lit_part_with_the_gradient()
    {
        Signal_Bar bar;
        bar.resize(510, 150);
        bar.rcv_rssi(255); // nothing lit
        QImage image = rendered(bar);
        QVERIFY(is_grey(image.pixel(60, 132)) && is_grey(image.pixel(400, 120)));
        QCOMPARE(image.pixel(100, 10), QColor(Qt::white).rgb()); // outside the wedge
        bar.rcv_rssi(48); // 42 dB above the floor: 6 segments, up to x = 250
        image = rendered(bar);
        const QRgb lit = image.pixel(200, 130);
        QVERIFY(!is_grey(lit) && qRed(lit) > 120 && qGreen(lit) > 60 && qBlue(lit) < 30);
        QVERIFY(is_grey(image.pixel(400, 120)));
        bar.rcv_rssi(0); // all lit: red at the tip, green at the edge
        image = rendered(bar);
        const QRgb tip = image.pixel(60, 132), edge = image.pixel(480, 120);
        QVERIFY(qRed(tip) > 200 && qGreen(tip) < 40);
        QVERIFY(qGreen(edge) > 200 && qRed(edge) < 40);
        // On the Status page, fed by the window's ground RSSI.
        Wireless_Video_Link w;
        Signal_Bar* shown = w.form()->widget_signal_bar;
        QCOMPARE(shown->level(), 0);
        emit w.cast_rssi(20);
        QCOMPARE(shown->level(), 10);
        emit w.cast_rssi(255);
        QCOMPARE(shown->level(), 0);
    }
};

QTEST_MAIN(WidgetsTest)
#include "tst_widgets.moc"
