// The one owner of "the status poll is paused, and why". The poll timer
// runs exactly while a unit is connected and nothing holds it: a setting
// in flight, an upgrade, a pairing. Whoever paused it resumes only its own
// reason, so a setting that ends during an upgrade cannot restart the poll
// under the engine, and the end of the upgrade restarts it whatever ran
// meanwhile.
#pragma once

#include <QObject>

class QTimer;

class PollControl : public QObject
{
    Q_OBJECT
public:
    enum Reason {
        Setting = 0, // counted: settings may nest inside each other's waits
        Upgrade,
        Pairing,
        ReasonCount
    };

    PollControl(QTimer* timer, QObject* parent = nullptr);

    void set_connected(bool connected);
    bool connected() const { return m_connected; }

    void pause(Reason reason);
    void resume(Reason reason);
    bool paused(Reason reason) const { return m_holds[reason] > 0; }
    bool paused() const;

    // Pauses for a setting while in scope.
    class Hold
    {
    public:
        Hold(PollControl& control, Reason reason = Setting) : m_control(control), m_reason(reason)
        {
            m_control.pause(m_reason);
        }
        ~Hold() { m_control.resume(m_reason); }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        PollControl& m_control;
        Reason m_reason;
    };

private:
    void apply();

    QTimer* m_timer;
    bool m_connected = false;
    int m_holds[ReasonCount] = {};
};
