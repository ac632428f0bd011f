// How a setting reaches the unit: the poll is paused, the request sent, the
// command status byte read back and judged, and the unit left alone for the
// operation's settle time.
#include "wireless_video_link.h"

#include "poll_control.h"
#include "request_codes.h"
#include "unit_connection.h"
#include "usb_transport.h"

#include <QDebug>
#include <optional>

namespace {
constexpr int kAckAttempts = 3;
constexpr int kAckWaitMs = 400;
constexpr int kQuickWaitMs = 300;

int read_command_status(libusb_device_handle* handle, unsigned char* status)
{
    return usb_vendor_transfer(handle, usb::kDirIn, usb::kRecipientInterface, req::CommandStatus, 0,
                               0, status, 1, usb::kSettingTimeoutMs);
}
} // namespace

bool Wireless_Video_Link::may_send_setting() const
{
    // Nothing but the engine talks to the unit while it flashes: a request
    // between its steps could land in the middle of an erase or a chunk.
    return connection->handle() && !poll->paused(PollControl::Upgrade);
}

int Wireless_Video_Link::send_set_command(const unsigned char* data, uint16_t length, uint8_t request,
                                          const QString& name, bool wait_for_ack, int settle_ms)
{
    if (!may_send_setting())
        return 0;
    // Held for the request, its acknowledgement and the settle time only;
    // on every way out the poll runs again if the unit is still there.
    PollControl::Hold hold(*poll);

    // The transport does not write OUT data; the copy keeps the caller's
    // buffer const.
    QByteArray payload(reinterpret_cast<const char*>(data), length);
    int rc = usb_vendor_transfer(connection->handle(), usb::kDirOut, usb::kRecipientInterface, request, 0,
                                 0, reinterpret_cast<unsigned char*>(payload.data()), length,
                                 usb::kSettingTimeoutMs);
    if (rc < 0)
        return rc;

    if (wait_for_ack) {
        unsigned char status = 0;
        for (int attempt = 0; attempt < kAckAttempts; ++attempt) {
            delay_msec(kAckWaitMs);
            rc = read_command_status(connection->handle(), &status);
            if (rc < 0)
                return rc;
            if ((status & 0x7F) == cmdstatus::Done)
                break;
        }
        switch (status) {
        case cmdstatus::Done: qDebug().noquote() << QStringLiteral("Set %1 done").arg(name); break;
        case cmdstatus::Pending: qDebug().noquote() << QStringLiteral("Set %1 timeout").arg(name); break;
        case cmdstatus::Failed: qDebug().noquote() << QStringLiteral("Set %1 failed").arg(name); break;
        default: qDebug().noquote() << QStringLiteral("Set %1 unknow error").arg(name); break;
        }
    }

    delay_msec(settle_ms);
    return 0;
}

void Wireless_Video_Link::quick_handshake(uint8_t request, const unsigned char* data, uint16_t length,
                                          const char* failure_text, int settle_ms, bool pause_poll)
{
    if (!may_send_setting())
        return;
    std::optional<PollControl::Hold> hold;
    if (pause_poll)
        hold.emplace(*poll);
    QByteArray payload(reinterpret_cast<const char*>(data), length);
    const int sent = usb_vendor_transfer(connection->handle(), usb::kDirOut, usb::kRecipientInterface,
                                         request, 0, 0, reinterpret_cast<unsigned char*>(payload.data()),
                                         length, usb::kSettingTimeoutMs);
    delay_msec(kQuickWaitMs);
    unsigned char status = 0;
    const int rc = read_command_status(connection->handle(), &status);
    // A setting that never reached the unit has not been carried out, even
    // when the status byte still says "done" for the setting before it.
    if (sent < 0 || rc < 1 || status != cmdstatus::Done)
        qDebug().noquote() << failure_text;
    if (settle_ms > 0)
        delay_msec(settle_ms);
}

int Wireless_Video_Link::send_unconfirmed(uint8_t request, unsigned char* data, uint16_t length, bool pause_poll)
{
    if (!may_send_setting())
        return -1;
    std::optional<PollControl::Hold> hold;
    if (pause_poll)
        hold.emplace(*poll);
    return usb_vendor_transfer(connection->handle(), usb::kDirOut, usb::kRecipientInterface, request, 0, 0,
                               data, length, usb::kSettingTimeoutMs);
}
