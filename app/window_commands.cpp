// The window's side of the command channel: its specified entry points
// forward to the one channel it owns.
#include "wireless_video_link.h"

#include "command_channel.h"
#include "unit_connection.h"

bool Wireless_Video_Link::may_send_setting() const
{
    return channel->may_send();
}

int Wireless_Video_Link::send_set_command(const unsigned char* data, uint16_t length, uint8_t request,
                                          const QString& name, bool wait_for_ack, int settle_ms)
{
    const int rc = channel->send_set_command(data, length, request, name, wait_for_ack, settle_ms);
    if (ui)
        show_setting_result(int(channel->last_verdict()));
    return rc;
}

void Wireless_Video_Link::quick_handshake(uint8_t request, const unsigned char* data, uint16_t length,
                                          const char* failure_text, int settle_ms, bool pause_poll)
{
    channel->quick_handshake(request, data, length, failure_text, settle_ms, pause_poll);
    if (ui)
        show_setting_result(int(channel->last_verdict()));
}

int Wireless_Video_Link::send_unconfirmed(uint8_t request, unsigned char* data, uint16_t length, bool pause_poll)
{
    const int rc = channel->send_unconfirmed(request, data, length, pause_poll);
    if (ui)
        show_setting_result(int(channel->last_verdict()));
    return rc;
}

bool Wireless_Video_Link::connection_is_open() const
{
    return connection->is_open();
}
