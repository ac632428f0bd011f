// How a setting reaches the unit: the poll is paused for the request, its
// acknowledgement and the settle time only, the command status byte is read
// back and judged, and nothing is sent while an upgrade holds the unit.
// Waits go through one replaceable function, so that tests of settings take
// no real time.
#pragma once

#include <QString>
#include <cstdint>

class PollControl;
class UnitConnection;

class CommandChannel
{
public:
    // What became of the last setting.
    enum class Verdict {
        NotSent,    // no unit, or an upgrade holds it
        Failed,     // the request or the status read failed on the bus
        Sent,       // sent; no confirmation asked for
        Done,       // the unit confirmed it
        Rejected,   // the unit said it failed
        Unconfirmed // no confirmation in time, or an unknown answer
    };

    CommandChannel(UnitConnection* unit, PollControl* poll);

    // Every wait of a setting (acknowledgement, settle). The default
    // processes events while it waits; null restores it. Process-wide.
    using WaitFunction = void (*)(int ms);
    static void set_wait_function(WaitFunction function);

    bool may_send() const;

    // 0, or the negative code of the failed transfer. `name` goes into the
    // judgement line "Set <name> done|timeout|failed|unknow error".
    int send_set_command(const unsigned char* data, uint16_t length, uint8_t request, const QString& name,
                         bool wait_for_ack, int settle_ms);
    // One OUT setting, 300 ms, one status read judged against "done"; the
    // failure text is logged when the unit does not confirm.
    void quick_handshake(uint8_t request, const unsigned char* data, uint16_t length,
                         const char* failure_text, int settle_ms, bool pause_poll);
    // One OUT setting the unit does not confirm; the byte count or a
    // negative code (-1 when nothing may be sent now).
    int send_unconfirmed(uint8_t request, unsigned char* data, uint16_t length, bool pause_poll);

    Verdict last_verdict() const { return m_verdict; }

private:
    static void wait(int ms);

    UnitConnection* m_unit;
    PollControl* m_poll;
    Verdict m_verdict = Verdict::NotSent;
};
