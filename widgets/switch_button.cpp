#include "switch_button.h"

switch_button::switch_button(QWidget* parent)
    : switch_base(true, parent)
{
    setBgColor(QColor(210, 210, 210), QColor(255, 255, 255));
    setSliderColor(QColor(100, 100, 100), QColor(71, 186, 240));
    setTextColor(QColor(255, 255, 255), QColor(10, 10, 10));
}

void switch_button::startSlide()
{
    slide_to(isChecked());
}

void switch_button::emit_checked(bool on)
{
    store_checked(on);
    startSlide();
    emit checkedChanged(on);
}
