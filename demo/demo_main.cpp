// The tool on the simulated bus, with the "Simulated unit" control window
// beside it: a 2.4 GHz ground unit is plugged in about a second after
// start, so the whole road from start page to main window can be seen
// without hardware, and the window then changes what is attached.
#include "app_main.h"
#include "mainpage.h"
#include "sim_control_window.h"
#include "wireless_video_link.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <algorithm>

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
            // Side by side: the control window on the right, the tool in
            // the rest of the screen (as small as its pages allow).
            const QRect free = screen->availableGeometry();
            const QSize frame = control->frameGeometry().size() - control->size();
            const int control_w = control->frameGeometry().width();
            control->move(free.right() - control_w - kScreenMargin + 1, free.top() + kScreenMargin);
            Wireless_Video_Link* w = page->main_window();
            const QSize least = w->minimumSizeHint();
            const int width = std::max(least.width(), free.width() - control_w - 3 * kScreenMargin - frame.width());
            const int height = std::max(least.height(), free.height() - 2 * kScreenMargin - frame.height());
            w->setGeometry(free.left() + kScreenMargin, free.top() + kScreenMargin + frame.height(),
                           std::min(width, w->width()), std::min(height, w->height()));
            page->move(free.left() + kScreenMargin, free.top() + kScreenMargin);
        }
        control->show();
        // The window starts on "2.4 GHz ground unit, healthy link".
        QTimer::singleShot(kAutoPlugMs, control, [control] {
            if (!control->isPlugged())
                control->plugIn();
        });
    }, true);
}
