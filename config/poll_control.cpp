#include "poll_control.h"

#include <QTimer>

PollControl::PollControl(QTimer* timer, QObject* parent) : QObject(parent), m_timer(timer) {}

void PollControl::set_connected(bool connected)
{
    m_connected = connected;
    apply();
}

void PollControl::pause(Reason reason)
{
    // Upgrade and pairing are one at a time; only settings stack.
    if (reason == Setting)
        ++m_holds[reason];
    else
        m_holds[reason] = 1;
    apply();
}

void PollControl::resume(Reason reason)
{
    if (m_holds[reason] > 0)
        --m_holds[reason];
    apply();
}

bool PollControl::paused() const
{
    for (int n : m_holds)
        if (n > 0)
            return true;
    return false;
}

void PollControl::apply()
{
    const bool run = m_connected && !paused();
    if (run && !m_timer->isActive())
        m_timer->start();
    else if (!run && m_timer->isActive())
        m_timer->stop();
}
