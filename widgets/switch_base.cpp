#include "switch_base.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QTimer>

namespace {
constexpr int kTickMs = 5;

// A fiftieth of the width per tick, so a slide lasts as long at any size;
// at least one pixel, or a switch narrower than 50 pixels never arrives.
int step_for_width(int width)
{
    return qMax(1, width / 50);
}
} // namespace

switch_base::switch_base(bool initially_on, QWidget* parent)
    : QWidget(parent),
      checked(initially_on),
      image_off(QStringLiteral(":/Black/shutdown.png")),
      image_on(QStringLiteral(":/Black/open2.png")),
      step(step_for_width(width())),
      timer(new QTimer(this))
{
    setFont(QFont(QStringLiteral("Microsoft Yahei"), 10));
    timer->setInterval(kTickMs);
    connect(timer, &QTimer::timeout, this, &switch_base::updateValue);
}

bool switch_base::isAnimating() const
{
    return timer->isActive();
}

int switch_base::end_position(bool on, int unchanged) const
{
    if (!on)
        return 0;
    const int w = width();
    const int h = height();
    switch (button_style) {
    case ButtonStyle_Rect:
        return w - w / 2;
    case ButtonStyle_CircleIn:
        return w - h;
    case ButtonStyle_CircleOut:
        return w - h + space_px;
    case ButtonStyle_Image:
        break;
    }
    return unchanged;
}

void switch_base::slide_to(bool on)
{
    step = step_for_width(width());
    end_x = end_position(on, end_x);
    timer->start();
}

void switch_base::updateValue()
{
    if (checked && start_x < end_x) {
        start_x += step;
    } else if (!checked && start_x > end_x) {
        start_x -= step;
    } else {
        start_x = end_x;
        timer->stop();
    }
    update();
}

void switch_base::setChecked(bool on)
{
    if (checked == on)
        return;
    checked = on;
    emit checkedChanged(checked);
    update();
}

void switch_base::setButtonStyle(ButtonStyle style)
{
    button_style = style;
    update();
}

void switch_base::setBgColor(const QColor& off, const QColor& on)
{
    bg_color_off = off;
    bg_color_on = on;
    update();
}

void switch_base::setSliderColor(const QColor& off, const QColor& on)
{
    slider_color_off = off;
    slider_color_on = on;
    update();
}

void switch_base::setTextColor(const QColor& off, const QColor& on)
{
    text_color_off = off;
    text_color_on = on;
    update();
}

void switch_base::setText(const QString& off, const QString& on)
{
    text_off = off;
    text_on = on;
    update();
}

void switch_base::setImage(const QString& off, const QString& on)
{
    image_off = off;
    image_on = on;
    update();
}

void switch_base::setSpace(int space)
{
    space_px = space;
    update();
}

void switch_base::setRectRadius(int radius)
{
    rect_radius = radius;
    update();
}

void switch_base::resizeEvent(QResizeEvent*)
{
    // The knob jumps to its place for the new size. A slide that was running
    // ends there as well rather than heading for a place computed for the
    // old size.
    step = step_for_width(width());
    start_x = end_position(checked, start_x);
    end_x = start_x;
    timer->stop();
    update();
}

void switch_base::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (button_style == ButtonStyle_Image) {
        paint_picture(painter);
        return;
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(bgColor(checked));
    paint_background(painter);
    painter.setBrush(sliderColor(checked));
    paint_knob(painter);
    paint_text(painter);
}

void switch_base::paint_background(QPainter& painter) const
{
    const int w = width();
    const int h = height();
    if (button_style == ButtonStyle_Rect) {
        painter.drawRoundedRect(QRect(0, 0, w, h), rect_radius, rect_radius);
    } else if (button_style == ButtonStyle_CircleIn) {
        QPainterPath pill;
        pill.moveTo(h / 2, 0);
        pill.arcTo(QRectF(0, 0, h, h), 90, 180);
        pill.lineTo(w - h / 2, h);
        pill.arcTo(QRectF(w - h, 0, h, h), 270, 180);
        pill.lineTo(h / 2, 0);
        painter.drawPath(pill);
    } else {
        painter.drawRoundedRect(QRect(space_px, space_px, w - 2 * space_px, h - 2 * space_px),
                                rect_radius, rect_radius);
    }
}

void switch_base::paint_knob(QPainter& painter) const
{
    const int w = width();
    const int h = height();
    if (button_style == ButtonStyle_Rect) {
        painter.drawRoundedRect(QRect(start_x + space_px, space_px, w / 2 - 2 * space_px, h - 2 * space_px),
                                rect_radius, rect_radius);
    } else if (button_style == ButtonStyle_CircleIn) {
        painter.drawEllipse(QRect(start_x + space_px, space_px, h - 2 * space_px, h - 2 * space_px));
    } else {
        painter.drawEllipse(QRect(start_x, space_px / 2, h - space_px, h - space_px));
    }
}

void switch_base::paint_text(QPainter& painter) const
{
    // Each label stands in the half the knob leaves free in its state.
    const int w = width();
    const int h = height();
    painter.setPen(textColor(checked));
    if (checked)
        painter.drawText(QRect(0, 0, w / 2 + 2 * space_px, h), Qt::AlignCenter, text_on);
    else
        painter.drawText(QRect(w / 2, 0, w / 2 - space_px, h), Qt::AlignCenter, text_off);
}

void switch_base::paint_picture(QPainter& painter) const
{
    const QPixmap picture(image(checked));
    if (picture.isNull())
        return;
    painter.drawPixmap((width() - 1) / 2 - picture.width() / 2, (height() - 1) / 2 - picture.height() / 2,
                       picture);
}
