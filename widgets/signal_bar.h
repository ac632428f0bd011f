// A signal-strength wedge of 12 segments, lit from the left with a
// red-to-green gradient up to the current level. The level follows an
// RSSI magnitude (n means -n dBm) or the pointer.
#pragma once

#include <QWidget>

class Signal_Bar : public QWidget
{
    Q_OBJECT

public:
    explicit Signal_Bar(QWidget* parent = nullptr);

    int level() const { return level_; }
    static constexpr int kSegments = 12;
    // The level an RSSI magnitude lights: one segment per 7 dB above -90 dBm.
    static int level_for_rssi(int rssi);

    QSize sizeHint() const override;

public slots:
    void rcv_rssi(int rssi);
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Sets the level from a pointer position; false when it lies outside
    // the wedge.
    bool point_at(QMouseEvent* event);

    int level_ = 0;
    int segments = kSegments;
    // Logical drawing size; the picture scales to the widget.
    int logical_w = 510;
    int logical_h = 150;
    float scale_x = 1.0f;
    float scale_y = 1.0f;
    bool dragging = false;
};
