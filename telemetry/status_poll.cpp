// The once-a-second status poll.
#include "wireless_video_link.h"

void Wireless_Video_Link::on_timer_trigger()
{
}
