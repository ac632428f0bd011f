// The drawn widgets: the on/off switches (their state and its signal, where
// the knob's slide ends, resizing, what is painted) and the signal wedge
// (level from RSSI and from pointing strictly inside it, what it paints,
// fed by the window's ground RSSI).
#include "enable_switch.h"
#include "signal_bar.h"
#include "switch_button.h"
#include "testsupport.h"
#include "ui_wireless_video_link.h"
#include "wireless_video_link.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

std::unique_ptr<switch_base> make_switch(bool enable_kind, int style, QSize size)
{
    std::unique_ptr<switch_base> s(enable_kind ? static_cast<switch_base*>(new enable_switch) : new switch_button);
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

    // One switch, shown, through steps: "on"/"off" set the state (before
    // "show" too), "slide" starts the slide to it, "tick" moves it once,
    // "run" ticks it to its end, "wait" lets its own timer end it;
    // "press"/"release" (R right, M middle button), "w<n>" resizes, "image"
    // takes the picture style, "pics" gives it a red 10 x 6 picture for off
    // and a blue 7 x 12 one for on, "pause" waits 30 ms, "quiet" until nothing
    // is left to paint; "hold" makes the receiver of "on" hold the emission
    // (pairing runs a modal dialog there) and set the state back to off.
    // Checks: "s:" the states reported since "show", each with the knob's
    // place and "*" if it moved then; "x<n>" the knob, "e<n>" the slide's
    // end, "moving"/"still", "c1"/"c0" the state, "p0" no paint in 30 ms,
    // "p+" a paint, "hp" painted while held, "#x,y=rrggbb" a pixel,
    // "img<x>,<y>" the state's picture there exactly.
    void switches_data()
    {
        QTest::addColumn<bool>("enable_kind");
        QTest::addColumn<int>("style");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("steps");
        const auto row = [](const char* name, bool enable_kind, int style, QSize size, const char* steps) {
            QTest::newRow(name) << enable_kind << style << size << QString(steps);
        };
        // Set to the state it has: no change; the other state is reported
        // once and painted, and the knob waits for a slide.
        row("switch_button on, set again", false, 0, {100, 30}, "show quiet on p0 s: off s:0@50 p+ x50 still");
        row("switch_button off, set again", false, 0, {100, 30}, "off show quiet off p0 s: on s:1@0 p+ x0 still");
        row("enable_switch on, set again", true, 0, {100, 30}, "on show quiet on p0 s: off s:0@50 p+ x50 still");
        row("enable_switch off, set again", true, 0, {100, 30}, "show quiet off p0 s: on s:1@0 p+ x0 still");
        // Off colours everywhere at once, the knob on the right until the slide.
        row("off keeps the knob until the slide", false, 0, {100, 30},
            "show x50 off #25,15=d2d2d2 #75,15=646464 slide moving run x0 #25,15=646464 #75,15=d2d2d2");
        // A press of any button reports the new state before the knob moves;
        // the release does nothing.
        row("press: on, left button", true, 0, {100, 30}, "on show press s:0@50 moving run x0 release s:0@50");
        row("press: on, right button", true, 0, {100, 30}, "on show pressR s:0@50 moving run x0 releaseR s:0@50");
        row("press: off, middle button", true, 0, {100, 30}, "show pressM s:1@0 moving run x50 releaseM s:1@0");
        // Held and set back: the new state shows meanwhile; the knob ends
        // where the final state puts it.
        row("press, the receiver sets it back", true, 0, {100, 30}, "hold show press s:1@0,0@0 hp c0 wait x0");
        // The knob reaches its end exactly both ways, at odd widths too; a
        // narrow one on its own timer.
        for (auto [name, style, size, end] : std::initializer_list<std::tuple<const char*, int, QSize, int>>{
                 {"rect, 100 wide", 0, {100, 30}, 50}, {"rect, 237 wide", 0, {237, 30}, 119},
                 {"rect, 30 wide", 0, {30, 20}, 15}, {"rect, 49 wide", 0, {49, 20}, 25},
                 {"circle in, 43 wide", 1, {43, 20}, 23}, {"circle out, 61 wide", 2, {61, 25}, 38}})
            row(name, false, style, size, qPrintable(QString("off show on slide run x%1 off slide run x0").arg(end)));
        row("circle in, 40 wide, on its timer", true, 1, {40, 16}, "show press c1 wait x24");
        // The picture of the state, unscaled, in the middle; it follows a
        // state set without a slide at once.
        row("pictures, switch_button", false, 3, {41, 31}, "pics show img17,9 off img15,12 on img17,9");
        row("pictures, enable_switch", true, 3, {41, 31}, "pics show img15,12 on img17,9 off img15,12");
        // A slide overtaken by a resize ends where the new size puts the
        // knob, not beyond the widget; a state set without a slide is placed
        // by a resize; the picture style has no knob to place.
        row("resized", false, 0, {300, 30},
            "off show on slide e150 tick w100 x50 still pause x50 off w120 x0 on w140 x70 image w200 x70");
    }
    void switches()
    {
        QFETCH(bool, enable_kind);
        QFETCH(int, style);
        QFETCH(QSize, size);
        QFETCH(QString, steps);
        auto owned = make_switch(enable_kind, style, size);
        switch_base& s = *owned;
        PaintCounter paints(&s);
        QStringList said;
        connect(&s, &switch_base::checkedChanged, &s, [&](bool on) {
            said << QString("%1@%2%3").arg(int(on)).arg(s.startX()).arg(s.isAnimating() ? "*" : "");
        });
        int held_paints = 0;
        QTemporaryDir dir;
        for (const QString& step : steps.split(' ')) {
            const int n = step.mid(1).toInt();
            const Qt::MouseButton button = step.endsWith('R')   ? Qt::RightButton
                                           : step.endsWith('M') ? Qt::MiddleButton
                                                                : Qt::LeftButton;
            bool ok = true;
            if (step == "on" || step == "off") {
                s.setChecked(step == "on");
            } else if (step == "show") {
                s.show();
                QVERIFY(QTest::qWaitForWindowExposed(&s));
                QTest::qWait(20); // the first paints
                said.clear();
                paints.count = 0;
            } else if (step == "slide" && enable_kind) {
                static_cast<enable_switch&>(s).startSlide(s.isChecked());
            } else if (step == "slide") {
                static_cast<switch_button&>(s).startSlide();
            } else if (step == "tick") {
                s.updateValue();
            } else if (step == "run") { // by hand, tick after tick
                for (int ticks = 0; s.isAnimating() && ticks < 10000; ++ticks)
                    s.updateValue();
            } else if (step == "wait") {
                ok = QTest::qWaitFor([&] { return !s.isAnimating(); });
            } else if (step.startsWith("press")) {
                QTest::mousePress(&s, button, Qt::NoModifier, s.rect().center());
            } else if (step.startsWith("release")) {
                QTest::mouseRelease(&s, button, Qt::NoModifier, s.rect().center());
            } else if (step.startsWith('w')) {
                s.resize(n, s.height());
                ok = QTest::qWaitFor([&] { return s.width() == n; });
            } else if (step == "image") {
                s.setButtonStyle(switch_base::ButtonStyle_Image);
            } else if (step == "pause") {
                QTest::qWait(30);
            } else if (step == "quiet") {
                for (int i = 0; i < 20 && (i == 0 || paints.count > 0); ++i) {
                    paints.count = 0;
                    QTest::qWait(20);
                }
            } else if (step == "hold") {
                connect(&s, &switch_base::checkedChanged, &s, [&](bool on) {
                    if (!on)
                        return;
                    QTest::qWait(30);
                    held_paints = paints.count;
                    s.setChecked(false);
                });
            } else if (step.startsWith("s:")) {
                ok = said.join(',') == step.mid(2);
            } else if (step.startsWith('x')) {
                ok = s.startX() == n;
            } else if (step.startsWith('e')) {
                ok = s.endX() == n;
            } else if (step == "moving" || step == "still") {
                ok = s.isAnimating() == (step == "moving");
            } else if (step.startsWith('c')) {
                ok = s.isChecked() == bool(n);
            } else if (step == "p0") {
                QTest::qWait(30);
                ok = paints.count == 0;
            } else if (step == "p+") {
                ok = QTest::qWaitFor([&] { return paints.count > 0; });
            } else if (step == "hp") {
                ok = held_paints > 0;
            } else if (step == "pics") {
                for (bool on : {false, true}) {
                    QImage picture(on ? QSize(7, 12) : QSize(10, 6), QImage::Format_ARGB32);
                    picture.fill(on ? Qt::blue : Qt::red);
                    picture.save(dir.filePath(on ? "on.png" : "off.png"), "PNG");
                }
                s.setImage(dir.filePath("off.png"), dir.filePath("on.png"));
            } else if (step.startsWith("img")) {
                const QStringList xy = step.mid(3).split(',');
                const QRect where(QPoint(xy[0].toInt(), xy[1].toInt()), s.isChecked() ? QSize(7, 12) : QSize(10, 6));
                const QImage shot = s.grab().toImage();
                const QColor want = s.isChecked() ? Qt::blue : Qt::red;
                for (int y = where.top() - 1; y <= where.bottom() + 1; ++y)
                    for (int x = where.left() - 1; x <= where.right() + 1; ++x)
                        ok = ok && (QColor(shot.pixel(x, y)) == want) == where.contains(x, y);
            } else if (step.startsWith('#')) {
                const QStringList at = step.mid(1).split(QRegularExpression("[,=]"));
                ok = QColor(s.grab().toImage().pixel(at[0].toInt(), at[1].toInt())) == QColor('#' + at[2]);
            } else {
                QFAIL(qPrintable("unknown step " + step));
            }
            QVERIFY2(ok, qPrintable(QString("%1 (knob at %2, said %3)").arg(step).arg(s.startX()).arg(said.join(','))));
        }
    }

    // The wedge's level, "v<rssi>=<level>" from an RSSI magnitude (7 dB a
    // segment above -90 dBm, 12 at most), or "<kind><x>,<y>=<level>" from
    // the pointer (see mouse()) in logical coordinates (510 x 150, tip at
    // the bottom left, vertical edge at x = 500, base at y = 140), at the
    // logical size and at half of it.
    void wedge_level_data()
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
        // Each from another level, so that a level left alone shows.
        QTest::newRow("from RSSI") << 1 << "v255=0 v50=5 v91=0 v50=5 v90=0 v50=5 v84=0 v83=1 v76=2 v20=10 v7=11 v6=12 "
                                          "v50=5 v0=12 v50=5 v-40=12";
    }
    void wedge_level()
    {
        QFETCH(int, scale_div);
        QFETCH(QString, steps);
        Signal_Bar bar;
        bar.resize(510 / scale_div, 150 / scale_div);
        bar.rcv_rssi(69); // level 3
        for (const QString& step : steps.split(' ')) {
            const QStringList xy = step.mid(1).section('=', 0, 0).split(',');
            if (step[0] == 'v')
                bar.rcv_rssi(xy[0].toInt());
            else
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
        QVERIFY(qRed(tip) > 200 && qGreen(tip) < 40 && qGreen(edge) > 200 && qRed(edge) < 40);
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
