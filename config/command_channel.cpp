#include "command_channel.h"

#include "poll_control.h"
#include "request_codes.h"
#include "unit_connection.h"
#include "usb_transport.h"

#include <QByteArray>
#include <QDebug>
#include <atomic>
#include <optional>

namespace {
constexpr int kAckAttempts = 3;
constexpr int kAckWaitMs = 400;
constexpr int kQuickWaitMs = 300;

std::atomic<CommandChannel::WaitFunction> g_wait{&delay_msec};

int read_command_status(libusb_device_handle* handle, unsigned char* status)
{
    return usb_vendor_transfer(handle, usb::kDirIn, usb::kRecipientInterface, req::CommandStatus, 0, 0, status,
                               1, usb::kSettingTimeoutMs);
}
} // namespace

CommandChannel::CommandChannel(UnitConnection* unit, PollControl* poll) : m_unit(unit), m_poll(poll) {}

void CommandChannel::set_wait_function(WaitFunction function)
{
    g_wait = function ? function : &delay_msec;
}

void CommandChannel::wait(int ms)
{
    g_wait.load()(ms);
}

bool CommandChannel::may_send() const
{
    // Nothing but the engine talks to the unit while it flashes: a request
    // between its steps could land in the middle of an erase or a chunk.
    return m_unit->handle() && !m_poll->paused(PollControl::Upgrade);
}

int CommandChannel::send_set_command(const unsigned char* data, uint16_t length, uint8_t request,
                                     const QString& name, bool wait_for_ack, int settle_ms)
{
    m_verdict = Verdict::NotSent;
    if (!may_send())
        return 0;
    // Held for the request, its acknowledgement and the settle time only;
    // on every way out the poll runs again if the unit is still there.
    PollControl::Hold hold(*m_poll);

    // The transport does not write OUT data; the copy keeps the caller's
    // buffer const.
    QByteArray payload(reinterpret_cast<const char*>(data), length);
    int rc = usb_vendor_transfer(m_unit->handle(), usb::kDirOut, usb::kRecipientInterface, request, 0, 0,
                                 reinterpret_cast<unsigned char*>(payload.data()), length, usb::kSettingTimeoutMs);
    if (rc < 0) {
        m_verdict = Verdict::Failed;
        return rc;
    }
    m_verdict = Verdict::Sent;

    if (wait_for_ack) {
        unsigned char status = 0;
        for (int attempt = 0; attempt < kAckAttempts; ++attempt) {
            wait(kAckWaitMs);
            rc = read_command_status(m_unit->handle(), &status);
            if (rc < 0) {
                m_verdict = Verdict::Failed;
                return rc;
            }
            if ((status & 0x7F) == cmdstatus::Done)
                break;
        }
        switch (status) {
        case cmdstatus::Done:
            qDebug().noquote() << QStringLiteral("Set %1 done").arg(name);
            m_verdict = Verdict::Done;
            break;
        case cmdstatus::Pending:
            qDebug().noquote() << QStringLiteral("Set %1 timeout").arg(name);
            m_verdict = Verdict::Unconfirmed;
            break;
        case cmdstatus::Failed:
            qDebug().noquote() << QStringLiteral("Set %1 failed").arg(name);
            m_verdict = Verdict::Rejected;
            break;
        default:
            qDebug().noquote() << QStringLiteral("Set %1 unknow error").arg(name);
            m_verdict = Verdict::Unconfirmed;
            break;
        }
    }

    wait(settle_ms);
    return 0;
}

void CommandChannel::quick_handshake(uint8_t request, const unsigned char* data, uint16_t length,
                                     const char* failure_text, int settle_ms, bool pause_poll)
{
    m_verdict = Verdict::NotSent;
    if (!may_send())
        return;
    std::optional<PollControl::Hold> hold;
    if (pause_poll)
        hold.emplace(*m_poll);
    QByteArray payload(reinterpret_cast<const char*>(data), length);
    const int sent = usb_vendor_transfer(m_unit->handle(), usb::kDirOut, usb::kRecipientInterface, request, 0, 0,
                                         reinterpret_cast<unsigned char*>(payload.data()), length,
                                         usb::kSettingTimeoutMs);
    wait(kQuickWaitMs);
    unsigned char status = 0;
    const int rc = read_command_status(m_unit->handle(), &status);
    // A setting that never reached the unit has not been carried out, even
    // when the status byte still says "done" for the setting before it.
    if (sent < 0 || rc < 1)
        m_verdict = Verdict::Failed;
    else if (status == cmdstatus::Done)
        m_verdict = Verdict::Done;
    else if (status == cmdstatus::Failed)
        m_verdict = Verdict::Rejected;
    else
        m_verdict = Verdict::Unconfirmed;
    if (m_verdict != Verdict::Done)
        qDebug().noquote() << failure_text;
    if (settle_ms > 0)
        wait(settle_ms);
}

int CommandChannel::send_unconfirmed(uint8_t request, unsigned char* data, uint16_t length, bool pause_poll)
{
    m_verdict = Verdict::NotSent;
    if (!may_send())
        return -1;
    std::optional<PollControl::Hold> hold;
    if (pause_poll)
        hold.emplace(*m_poll);
    const int rc = usb_vendor_transfer(m_unit->handle(), usb::kDirOut, usb::kRecipientInterface, request, 0, 0,
                                       data, length, usb::kSettingTimeoutMs);
    m_verdict = rc < 0 ? Verdict::Failed : Verdict::Sent;
    return rc;
}
