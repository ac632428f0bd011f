// Helpers of the fault tests: how long the user-interface thread went
// without turning its event loop.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>

namespace testsupport {

// Ticks every few milliseconds on the thread it lives on and keeps the
// longest time between two ticks: a slot or a transfer that holds the event
// loop shows up as a long gap. Nested event loops (waits that process
// events, modal dialogs) keep it ticking, as they keep the window alive.
class Heartbeat
{
public:
    explicit Heartbeat(int interval_ms = 5)
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(interval_ms);
        QObject::connect(&timer, &QTimer::timeout, [this] { beat(); });
    }
    void start() { longest = last = 0; clock.start(); timer.start(); }
    // The longest gap, the time since the last tick included.
    qint64 stop() { beat(); timer.stop(); return longest; }

private:
    void beat() { const qint64 now = clock.elapsed(); longest = std::max(longest, now - last); last = now; }

    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
};

} // namespace testsupport
