// The tool on the simulated bus, with the "Simulated unit" control window
// beside it: a 2.4 GHz ground unit is plugged in about a second after
// start, so the whole road from start page to main window can be seen
// without hardware, and the window then changes what is attached.
#include "app_main.h"
#include "mainpage.h"
#include "sim_control_window.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

namespace {
constexpr int kAutoPlugMs = 1000;
constexpr int kScreenMargin = 24;
} // namespace

int main(int argc, char** argv)
{
    return run_application(argc, argv, [](MainPage* page) {
        // Lives for the whole run, like the tool's own windows. It does not
        // keep the program alive: closing the tool ends the demo.
        auto* control = new SimControlWindow;
        control->setAttribute(Qt::WA_QuitOnClose, false);
        control->adjustSize();
        if (QScreen* screen = page->screen()) {
            const QRect free = screen->availableGeometry();
            control->move(free.right() - control->frameGeometry().width() - kScreenMargin,
                          free.top() + kScreenMargin);
        }
        control->show();
        // The window starts on "2.4 GHz ground unit, healthy link".
        QTimer::singleShot(kAutoPlugMs, control, [control] {
            if (!control->isPlugged())
                control->plugIn();
        });
    }, true);
}
