// How a setting reaches the unit: the poll is paused, the request sent, the
// command status byte read back and judged, and the unit left alone for the
// operation's settle time.
#include "wireless_video_link.h"

#include "request_codes.h"
#include "usb_transport.h"

#include <QDebug>

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

int Wireless_Video_Link::send_set_command(const unsigned char* data, uint16_t length, uint8_t request,
                                          const QString& name, bool wait_for_ack, int settle_ms)
{
    if (!dev_handle)
        return 0;
    timer.stop();

    // The transport does not write OUT data; the copy keeps the caller's
    // buffer const.
    QByteArray payload(reinterpret_cast<const char*>(data), length);
    // A failed transfer ends the setting, but not the live display: a
    // unit still connected is polled again (one lost request must not
    // leave stale readings on screen until the next plug-in).
    auto fail = [this](int code) {
        if (dev_handle)
            timer.start();
        return code;
    };
    int rc = usb_vendor_transfer(dev_handle, usb::kDirOut, usb::kRecipientInterface, request, 0, 0,
                                 reinterpret_cast<unsigned char*>(payload.data()), length,
                                 usb::kSettingTimeoutMs);
    if (rc < 0)
        return fail(rc);

    if (wait_for_ack) {
        unsigned char status = 0;
        for (int attempt = 0; attempt < kAckAttempts; ++attempt) {
            delay_msec(kAckWaitMs);
            rc = read_command_status(dev_handle, &status);
            if (rc < 0)
                return fail(rc);
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
    // A unit pulled out during the wait has been closed meanwhile; its
    // poll must stay stopped.
    if (dev_handle)
        timer.start();
    return 0;
}

void Wireless_Video_Link::quick_handshake(uint8_t request, const unsigned char* data, uint16_t length,
                                          const char* failure_text, int settle_ms, bool pause_poll)
{
    if (!dev_handle)
        return;
    if (pause_poll)
        timer.stop();
    QByteArray payload(reinterpret_cast<const char*>(data), length);
    const int sent = usb_vendor_transfer(dev_handle, usb::kDirOut, usb::kRecipientInterface, request, 0,
                                         0, reinterpret_cast<unsigned char*>(payload.data()), length,
                                         usb::kSettingTimeoutMs);
    delay_msec(kQuickWaitMs);
    unsigned char status = 0;
    const int rc = read_command_status(dev_handle, &status);
    // A setting that never reached the unit has not been carried out, even
    // when the status byte still says "done" for the setting before it.
    if (sent < 0 || rc < 1 || status != cmdstatus::Done)
        qDebug().noquote() << failure_text;
    if (settle_ms > 0)
        delay_msec(settle_ms);
    if (pause_poll && dev_handle)
        timer.start();
}
