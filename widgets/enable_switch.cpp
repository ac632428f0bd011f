#include "enable_switch.h"

#include <QMouseEvent>
#include <QPointer>

enable_switch::enable_switch(QWidget* parent)
    : switch_base(false, parent)
{
    setBgColor(QColor(225, 225, 225), QColor(173, 210, 229));
    setSliderColor(QColor(146, 135, 177), QColor(45, 162, 231));
    setTextColor(QColor(255, 252, 251), QColor(10, 10, 10));
}

void enable_switch::startSlide(bool on)
{
    slide_to(on);
}

void enable_switch::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    store_checked(!isChecked());
    // Repaint now: a receiver may hold the emission for long (pairing runs a
    // modal dialog), and the picture should show the new state meanwhile.
    update();
    QPointer<enable_switch> alive(this);
    emit checkedChanged(isChecked());
    // A receiver may have set the state again; the knob follows the state
    // as it is now.
    if (alive)
        startSlide(isChecked());
}
