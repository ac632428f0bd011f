// The tool on the simulated bus, with the "Simulated unit" control window
// beside it: a 2.4 GHz ground unit is plugged in about a second after
// start, so the whole road from start page to main window can be seen
// without hardware, and the window then changes what is attached.
#include "app_main.h"
#include "mainpage.h"
#include "sim_control_window.h"
#include "wireless_video_link.h"

#include <QGuiApplication>
#include <QIcon>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>

namespace {
constexpr int kAutoPlugMs = 1000;
constexpr int kScreenMargin = 4;
// Room left for a window manager's title bar above each window.
constexpr int kTitleBar = 28;
} // namespace

int main(int argc, char** argv)
{
    return run_application(argc, argv, [](MainPage* page) {
        // Lives for the whole run, like the tool's own windows. It does not
        // keep the program alive: closing the tool ends the demo. It scrolls,
        // so that it can sit beside the tool on a small screen.
        auto* control = new SimControlWindow;
        auto* frame = new QScrollArea;
        frame->setAttribute(Qt::WA_QuitOnClose, false);
        frame->setWidgetResizable(true);
        frame->setWidget(control);
        frame->setWindowTitle(control->windowTitle());
        frame->setWindowIcon(control->windowIcon());
        control->adjustSize();
        frame->resize(control->size() + QSize(frame->verticalScrollBar()->sizeHint().width() + 4, 4));
        if (QScreen* screen = page->screen()) {
            // Side by side: the tool as narrow as its pages allow on the
            // left, the control window in the rest of the screen.
            const QRect free = screen->availableGeometry();
            Wireless_Video_Link* w = page->main_window();
            const int tool_w = std::min(w->width(), std::max(w->minimumSizeHint().width(),
                                                              free.width() - frame->width() - 3 * kScreenMargin));
            const int tool_h = std::min(w->height(), free.height() - 2 * kScreenMargin - kTitleBar);
            w->setGeometry(free.left() + kScreenMargin, free.top() + kScreenMargin + kTitleBar, tool_w, tool_h);
            page->move(free.left() + kScreenMargin, free.top() + kScreenMargin);
            const int control_w = std::min(frame->width(), free.width() - tool_w - 3 * kScreenMargin);
            const int control_h = std::min(frame->height(), free.height() - 2 * kScreenMargin - kTitleBar);
            frame->setGeometry(free.right() - control_w - kScreenMargin + 1, free.top() + kScreenMargin + kTitleBar,
                               control_w, control_h);
        }
        frame->show();
        // The window starts on "2.4 GHz ground unit, healthy link".
        QTimer::singleShot(kAutoPlugMs, control, [control] {
            if (!control->isPlugged())
                control->plugIn();
        });
    }, true);
}
