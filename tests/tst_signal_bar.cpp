// The signal wedge: level from RSSI, level from pointing (strictly inside
// the wedge only), what it paints, and its place on the Status page fed by
// the window's ground RSSI.
#include "testsupport.h"

#include "signal_bar.h"
#include "ui_wireless_video_link.h"
#include "wireless_video_link.h"

#include <QApplication>
#include <QImage>
#include <QTest>

using namespace testsupport;

namespace {
void press(Signal_Bar& bar, QPoint at, Qt::MouseButton button = Qt::LeftButton)
{
    QMouseEvent e(QEvent::MouseButtonPress, at, button, button, Qt::NoModifier);
    QApplication::sendEvent(&bar, &e);
}

void move(Signal_Bar& bar, QPoint at, Qt::MouseButtons buttons = Qt::LeftButton)
{
    QMouseEvent e(QEvent::MouseMove, at, Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(&bar, &e);
}

void release(Signal_Bar& bar, QPoint at)
{
    QMouseEvent e(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
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

class SignalBarTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        init_resources();
    }

    void level_from_rssi_data()
    {
        QTest::addColumn<int>("rssi");
        QTest::addColumn<int>("level");
        QTest::newRow("no reading") << 255 << 0;
        QTest::newRow("-91 dBm") << 91 << 0;
        QTest::newRow("-90 dBm") << 90 << 0;
        QTest::newRow("-84 dBm, 6 dB") << 84 << 0;
        QTest::newRow("-83 dBm, 7 dB") << 83 << 1;
        QTest::newRow("-76 dBm") << 76 << 2;
        QTest::newRow("-20 dBm") << 20 << 10;
        QTest::newRow("-7 dBm") << 7 << 11;
        QTest::newRow("-6 dBm") << 6 << 12;
        QTest::newRow("0 dBm") << 0 << 12;
        QTest::newRow("negative magnitude") << -40 << 12;
    }

    void level_from_rssi()
    {
        QFETCH(int, rssi);
        QFETCH(int, level);
        Signal_Bar bar;
        bar.rcv_rssi(50); // start from something else
        bar.rcv_rssi(rssi);
        QCOMPARE(bar.level(), level);
    }

    // Points in logical coordinates (510 x 150, wedge tip at the bottom
    // left, vertical edge at x = 500, base at y = 140), tried at the
    // logical size and at half of it.
    void pointing_data()
    {
        QTest::addColumn<int>("scale_div");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<int>("level"); // -1: unchanged
        for (int div : {1, 2}) {
            const QByteArray s = div == 1 ? "full " : "half ";
            QTest::newRow(s + "near the left tip") << div << QPoint(10, 138) << 1;
            QTest::newRow(s + "middle") << div << QPoint(250, 100) << 7;
            QTest::newRow(s + "near the top right") << div << QPoint(498, 2) << 12;
            QTest::newRow(s + "on the base line") << div << QPoint(250, 140) << -1;
            QTest::newRow(s + "below the base") << div << QPoint(250, 146) << -1;
            QTest::newRow(s + "on the vertical edge") << div << QPoint(500, 100) << -1;
            QTest::newRow(s + "right of the edge") << div << QPoint(506, 100) << -1;
            QTest::newRow(s + "on the hypotenuse") << div << QPoint(250, 70) << -1;
            QTest::newRow(s + "above the hypotenuse") << div << QPoint(100, 10) << -1;
        }
    }

    void pointing()
    {
        QFETCH(int, scale_div);
        QFETCH(QPoint, at);
        QFETCH(int, level);
        Signal_Bar bar;
        bar.resize(510 / scale_div, 150 / scale_div);
        bar.rcv_rssi(69); // level 3
        press(bar, at / scale_div);
        QCOMPARE(bar.level(), level < 0 ? 3 : level);
    }

    // Steps "p x,y" press, "P x,y" right press, "m x,y" move (left held),
    // "M x,y" move (right held), "r" release, each "=level" after it.
    void dragging_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::newRow("only the left button points") << "P250,100=0 M400,100=0";
        QTest::newRow("follows the pointer until released")
            << "m250,100=0 p10,138=1 m250,100=7 m250,10=7 m450,130=11 r=11 m10,138=11";
        QTest::newRow("a press outside starts no drag") << "p100,10=0 m250,100=0";
    }
    void dragging()
    {
        QFETCH(QString, steps);
        Signal_Bar bar;
        bar.resize(510, 150);
        for (const QString& step : steps.split(' ')) {
            const QStringList xy = step.mid(1).section('=', 0, 0).split(',');
            const QPoint at = xy.size() == 2 ? QPoint(xy[0].toInt(), xy[1].toInt()) : QPoint();
            switch (step[0].toLatin1()) {
            case 'p': press(bar, at); break;
            case 'P': press(bar, at, Qt::RightButton); break;
            case 'm': move(bar, at); break;
            case 'M': move(bar, at, Qt::RightButton); break;
            default: release(bar, at);
            }
            QVERIFY2(bar.level() == step.section('=', 1).toInt(), qPrintable(step));
        }
    }

    void paints_the_lit_part_with_the_gradient()
    {
        Signal_Bar bar;
        bar.resize(510, 150);

        bar.rcv_rssi(255); // nothing lit
        QImage image = rendered(bar);
        QVERIFY(is_grey(image.pixel(60, 132)));
        QVERIFY(is_grey(image.pixel(400, 120)));
        QCOMPARE(image.pixel(100, 10), QColor(Qt::white).rgb()); // outside the wedge

        bar.rcv_rssi(48); // 42 dB above the floor: 6 segments, up to x = 250
        image = rendered(bar);
        const QRgb lit = image.pixel(200, 130);
        QVERIFY(!is_grey(lit));
        QVERIFY(qRed(lit) > 120 && qGreen(lit) > 60 && qBlue(lit) < 30);
        QVERIFY(is_grey(image.pixel(400, 120)));

        bar.rcv_rssi(0); // all lit: red at the tip, green at the edge
        image = rendered(bar);
        const QRgb tip = image.pixel(60, 132);
        const QRgb edge = image.pixel(480, 120);
        QVERIFY(qRed(tip) > 200 && qGreen(tip) < 40);
        QVERIFY(qGreen(edge) > 200 && qRed(edge) < 40);
    }

    void status_page_shows_the_ground_rssi()
    {
        Wireless_Video_Link w;
        Signal_Bar* bar = w.form()->widget_signal_bar;
        QCOMPARE(bar->level(), 0);
        emit w.cast_rssi(20);
        QCOMPARE(bar->level(), 10);
        emit w.cast_rssi(255);
        QCOMPARE(bar->level(), 0);
    }
};

QTEST_MAIN(SignalBarTest)
#include "tst_signal_bar.moc"
