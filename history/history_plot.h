// The history window's plot: a chart view that zooms with the mouse wheel
// and reports the time under the mouse, and the strip of link states drawn
// under it on the same time scale.
#pragma once

#include "history_data.h"

#include <QColor>
#include <QStringList>
#include <QWidget>
#include <QtCharts/QChartView>

class QGraphicsLineItem;

class HistoryChartView : public QtCharts::QChartView
{
    Q_OBJECT

public:
    explicit HistoryChartView(QtCharts::QChart* chart, QWidget* parent = nullptr);
    // The marker line at a time (ms), or none for a negative time.
    void set_marker(qint64 ms);

signals:
    void hovered(qint64 ms);
    void left();
    // Zoom about a time: factor < 1 narrows the range.
    void wheel_zoom(double center_ms, double factor);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    double time_at(const QPointF& pos) const;
    QGraphicsLineItem* marker = nullptr;
};

class LinkStrip : public QWidget
{
    Q_OBJECT

public:
    explicit LinkStrip(QWidget* parent = nullptr);
    // What to draw: the samples of [first, last] between the times min_ms
    // and max_ms, drawn from x = left to x = right.
    void set_data(const QVector<history::Sample>* samples, int first, int last);
    void set_scale(double min_ms, double max_ms, int left, int right);
    void set_texts(const QStringList& lanes, const QStringList& legend);
    QSize sizeHint() const override;

    // Colour of a link status word.
    static QColor colour(uint32_t status);

signals:
    void hovered(qint64 ms);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    const QVector<history::Sample>* samples = nullptr;
    int first = 0, last = -1;
    double min_ms = 0, max_ms = 1;
    int left = 0, right = 1;
    QStringList lanes, legend;
};
