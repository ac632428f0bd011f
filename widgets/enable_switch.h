// A drawn on/off switch that the user toggles with a click; the main window
// starts pairing with it.
#pragma once

#include "switch_base.h"

class enable_switch : public switch_base
{
    Q_OBJECT

public:
    explicit enable_switch(QWidget* parent = nullptr);

    // Slides the knob to the position of state `on` without storing it.
    void startSlide(bool on);

protected:
    // Any button toggles: the new state is reported before the knob moves.
    void mousePressEvent(QMouseEvent* event) override;
};
