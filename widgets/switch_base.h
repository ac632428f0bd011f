// Common ground of the two drawn on/off switches, switch_button and
// enable_switch: state, look, knob animation and painting. The subclasses
// add their colours and decide who may change the state.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

class QTimer;

class switch_base : public QWidget
{
    Q_OBJECT

public:
    enum ButtonStyle {
        ButtonStyle_Rect = 0,      // rounded rectangle, knob half the width
        ButtonStyle_CircleIn = 1,  // pill with a round knob inside
        ButtonStyle_CircleOut = 2, // slim bar with a round knob standing out
        ButtonStyle_Image = 3      // one picture per state, no knob
    };
    Q_ENUM(ButtonStyle)

    bool isChecked() const { return checked; }
    ButtonStyle buttonStyle() const { return button_style; }
    QColor bgColor(bool on) const { return on ? bg_color_on : bg_color_off; }
    QColor sliderColor(bool on) const { return on ? slider_color_on : slider_color_off; }
    QColor textColor(bool on) const { return on ? text_color_on : text_color_off; }
    QString text(bool on) const { return on ? text_on : text_off; }
    QString image(bool on) const { return on ? image_on : image_off; }
    int space() const { return space_px; }
    int rectRadius() const { return rect_radius; }
    int slideStep() const { return step; }
    int startX() const { return start_x; }
    int endX() const { return end_x; }
    bool isAnimating() const;

signals:
    void checkedChanged(bool on);

public slots:
    void updateValue();
    void setChecked(bool on);
    void setButtonStyle(ButtonStyle style);
    void setBgColor(const QColor& off, const QColor& on);
    void setSliderColor(const QColor& off, const QColor& on);
    void setTextColor(const QColor& off, const QColor& on);
    void setText(const QString& off, const QString& on);
    void setImage(const QString& off, const QString& on);
    void setSpace(int space);
    void setRectRadius(int radius);

protected:
    switch_base(bool initially_on, QWidget* parent);

    // Stores the state without signalling or repainting.
    void store_checked(bool on) { checked = on; }
    // Starts the animation towards the knob position of state `on`.
    void slide_to(bool on);

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Knob position of state `on` at the current size; the picture style has
    // no knob, there `unchanged` is kept when on.
    int end_position(bool on, int unchanged) const;
    void paint_background(QPainter& painter) const;
    void paint_knob(QPainter& painter) const;
    void paint_text(QPainter& painter) const;
    void paint_picture(QPainter& painter) const;

    bool checked;
    ButtonStyle button_style = ButtonStyle_Image;
    QColor bg_color_off, bg_color_on;
    QColor slider_color_off, slider_color_on;
    QColor text_color_off, text_color_on;
    QString text_off, text_on;
    QString image_off, image_on;
    int space_px = 2;
    int rect_radius = 5;
    int step;
    int start_x = 0;
    int end_x = 0;
    QTimer* timer;
};
