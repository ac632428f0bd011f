// A drawn on/off switch that only the program changes; the main window shows
// the device connection with it.
#pragma once

#include "switch_base.h"

class switch_button : public switch_base
{
    Q_OBJECT

public:
    explicit switch_button(QWidget* parent = nullptr);

    // Slides the knob to the position of the stored state.
    void startSlide();

public slots:
    // Stores the state, slides the knob to it and reports it, even when the
    // state does not change.
    void emit_checked(bool on);
};
