#include "history_plot.h"

#include <QGraphicsLineItem>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <QtCharts/QAbstractSeries>
#include <QtCharts/QChart>
#include <cmath>

using namespace QtCharts;

namespace {
constexpr int kLaneHeight = 12;
constexpr int kLaneGap = 3;
constexpr uint32_t kStatuses[] = {history::kLinkUp, 2, 1, 0};
} // namespace

HistoryChartView::HistoryChartView(QChart* chart, QWidget* parent)
    : QChartView(chart, parent)
{
    setRenderHint(QPainter::Antialiasing, false); // thousands of segments
    setRubberBand(QChartView::HorizontalRubberBand);
    setMouseTracking(true);
    marker = new QGraphicsLineItem;
    marker->setPen(QPen(QColor(0x55, 0x55, 0x55), 1, Qt::DashLine));
    marker->setZValue(100);
    marker->hide();
    chart->scene()->addItem(marker);
}

double HistoryChartView::time_at(const QPointF& pos) const
{
    const QList<QAbstractSeries*> series = chart()->series();
    if (series.isEmpty())
        return NAN;
    return chart()->mapToValue(chart()->mapFromScene(mapToScene(pos.toPoint())), series.first()).x();
}

void HistoryChartView::set_marker(qint64 ms)
{
    const QList<QAbstractSeries*> series = chart()->series();
    if (ms < 0 || series.isEmpty()) {
        marker->hide();
        return;
    }
    const QRectF area = chart()->plotArea();
    const qreal x = chart()->mapToPosition(QPointF(double(ms), 0), series.first()).x();
    if (x < area.left() || x > area.right()) {
        marker->hide();
        return;
    }
    marker->setLine(
        QLineF(chart()->mapToScene(QPointF(x, area.top())), chart()->mapToScene(QPointF(x, area.bottom()))));
    marker->show();
}

void HistoryChartView::mouseMoveEvent(QMouseEvent* event)
{
    QChartView::mouseMoveEvent(event);
    const QPointF in_chart = chart()->mapFromScene(mapToScene(event->pos()));
    if (chart()->plotArea().contains(in_chart)) {
        const double t = time_at(event->pos());
        if (!std::isnan(t))
            emit hovered(qint64(t));
    } else {
        emit left();
    }
}

void HistoryChartView::leaveEvent(QEvent* event)
{
    QChartView::leaveEvent(event);
    emit left();
}

void HistoryChartView::wheelEvent(QWheelEvent* event)
{
    const int steps = event->angleDelta().y();
    const double t = time_at(event->position());
    if (steps == 0 || std::isnan(t)) {
        event->ignore();
        return;
    }
    emit wheel_zoom(t, std::pow(0.8, steps / 120.0));
    event->accept();
}

void HistoryChartView::mouseReleaseEvent(QMouseEvent* event)
{
    // The view's own zoom out would scale the value axes too.
    if (event->button() == Qt::RightButton) {
        const double t = time_at(event->pos());
        if (!std::isnan(t))
            emit wheel_zoom(t, 2.0);
        event->accept();
        return;
    }
    QChartView::mouseReleaseEvent(event);
}

// ---- strip

LinkStrip::LinkStrip(QWidget* parent)
    : QWidget(parent)
{
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize LinkStrip::sizeHint() const
{
    return QSize(400, 2 * kLaneHeight + kLaneGap + fontMetrics().height() + 10);
}

QColor LinkStrip::colour(uint32_t status)
{
    switch (status) {
    case history::kLinkUp: return QColor(0x2e, 0x9d, 0x4a);
    case 2: return QColor(0xe6, 0xa2, 0x3c);
    case 1: return QColor(0x3b, 0x82, 0xf6);
    case 0: return QColor(0xd9, 0x53, 0x4f);
    default: return QColor(0x9c, 0xa3, 0xaf);
    }
}

void LinkStrip::set_data(const QVector<history::Sample>* s, int from, int to)
{
    samples = s;
    first = from;
    last = to;
    update();
}

void LinkStrip::set_scale(double from_ms, double to_ms, int x0, int x1)
{
    min_ms = from_ms;
    max_ms = to_ms > from_ms ? to_ms : from_ms + 1;
    left = x0;
    right = x1 > x0 ? x1 : x0 + 1;
    update();
}

void LinkStrip::set_texts(const QStringList& lane_names, const QStringList& legend_texts)
{
    lanes = lane_names;
    legend = legend_texts;
    updateGeometry();
    update();
}

void LinkStrip::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const double scale = (right - left) / (max_ms - min_ms);
    auto x_of = [&](double ms) { return left + (ms - min_ms) * scale; };
    p.setPen(palette().color(QPalette::WindowText));
    for (int lane = 0; lane < 2; ++lane) {
        const int top = lane * (kLaneHeight + kLaneGap);
        const QRectF band(left, top, right - left, kLaneHeight);
        p.fillRect(band, QColor(0xee, 0xee, 0xee));
        if (lane < lanes.size())
            p.drawText(QRectF(0, top, left - 6, kLaneHeight), Qt::AlignRight | Qt::AlignVCenter,
                       lanes.at(lane));
        if (!samples || last < first || last >= samples->size())
            continue;
        // Each row's state lasts until the next row.
        auto status = [&](int i) {
            const statlog::LogRecord& r = samples->at(i).rec;
            return lane == 0 ? r.grd_link_status : r.air_link_status;
        };
        p.save();
        p.setClipRect(band);
        int run = first;
        for (int i = first + 1; i <= last + 1; ++i) {
            if (i <= last && status(i) == status(run))
                continue;
            const double end = i <= last ? double(samples->at(i).ms) : double(samples->at(last).ms);
            const double x0 = x_of(double(samples->at(run).ms));
            const double x1 = std::max(x_of(end), x0 + 1);
            if (x1 >= left && x0 <= right)
                p.fillRect(QRectF(x0, top, x1 - x0, kLaneHeight), colour(status(run)));
            run = i;
        }
        p.restore();
    }
    // The legend: a square of each colour and its meaning.
    const int y = 2 * kLaneHeight + kLaneGap + 5;
    const int h = fontMetrics().height();
    int x = left;
    for (int i = 0; i < legend.size() && i < int(std::size(kStatuses)) + 1; ++i) {
        const QColor c = i < int(std::size(kStatuses)) ? colour(kStatuses[i]) : colour(0xFF);
        p.fillRect(QRect(x, y + (h - 10) / 2, 10, 10), c);
        x += 14;
        p.drawText(QRect(x, y, width() - x, h), Qt::AlignLeft | Qt::AlignVCenter, legend.at(i));
        x += fontMetrics().horizontalAdvance(legend.at(i)) + 16;
    }
}

void LinkStrip::mouseMoveEvent(QMouseEvent* event)
{
    if (event->pos().x() >= left && event->pos().x() <= right)
        emit hovered(qint64(min_ms + (event->pos().x() - left) * (max_ms - min_ms) / (right - left)));
    QWidget::mouseMoveEvent(event);
}
