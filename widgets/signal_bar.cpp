// The signal wedge: drawn in logical coordinates so that it scales with the
// widget, set by RSSI or by pointing.
#include "signal_bar.h"

#include <QDebug>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <algorithm>

namespace {
// The weakest reading that still lights a segment, and the dB per segment.
constexpr int kFloorMagnitude = 90;
constexpr int kDbPerSegment = 7;
} // namespace

Signal_Bar::Signal_Bar(QWidget* parent)
    : QWidget(parent)
{
}

QSize Signal_Bar::sizeHint() const
{
    return QSize(logical_w / 2, logical_h / 2);
}

int Signal_Bar::level_for_rssi(int rssi)
{
    const int d = kFloorMagnitude - rssi;
    if (d < 0)
        return 0;
    return std::min(d / kDbPerSegment, kSegments);
}

void Signal_Bar::rcv_rssi(int rssi)
{
    level_ = level_for_rssi(rssi);
    update();
}

bool Signal_Bar::point_at(QMouseEvent* event)
{
    if (width() <= 0 || height() <= 0)
        return false;
    scale_x = float(width()) / float(logical_w);
    scale_y = float(height()) / float(logical_h);
    const QPoint p = event->localPos().toPoint();
    const float lx = float(p.x()) / scale_x;
    const float ly = float(p.y()) / scale_y;
    qDebug() << "signal bar" << width() << height() << p << lx << ly;

    const float base = float(logical_h - 10);
    const float edge = float(logical_w - 10);
    // Strictly inside: above the base, left of the vertical edge and below
    // the hypotenuse.
    if (!(ly > (edge - lx) * base / edge && ly < base && lx < edge))
        return false;
    level_ = int(float(segments) * lx / edge + 1.0f);
    qDebug() << "signal bar level" << level_;
    return true;
}

void Signal_Bar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (!point_at(event))
        return;
    dragging = true;
    update();
}

void Signal_Bar::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragging)
        return;
    if (point_at(event))
        update();
}

void Signal_Bar::mouseReleaseEvent(QMouseEvent*)
{
    dragging = false;
}

void Signal_Bar::paintEvent(QPaintEvent*)
{
    const int w = logical_w;
    const int h = logical_h;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setWindow(0, 0, w, h);

    const QPen pen(QColor(115, 115, 115), 5, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
    painter.setPen(pen);

    const QPolygon wedge({QPoint(0, h - 10), QPoint(w - 10, h - 10), QPoint(w - 10, 0)});
    painter.setBrush(QColor(160, 160, 160));
    painter.drawPolygon(wedge);

    const int x = (w - 10) * level_ / segments;
    const int y = (segments - level_) * (h - 10) / segments;
    QLinearGradient gradient(0, 50, w - 10, 50);
    gradient.setColorAt(0, QColor(255, 0, 0));
    gradient.setColorAt(1, QColor(0, 255, 0));
    painter.setBrush(gradient);
    painter.drawPolygon(QPolygon({QPoint(0, h - 10), QPoint(x, h - 10), QPoint(x, y)}));

    for (int i = 1; i < segments; ++i) {
        const int sx = (w - 10) * i / segments;
        painter.drawLine(sx, (segments - i) * (h - 9) / segments, sx, h - 10);
    }
}
