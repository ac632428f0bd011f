// Pairing the air and ground units.
#include "wireless_video_link.h"

void Wireless_Video_Link::set_BindMode(bool)
{
}

void Wireless_Video_Link::on_physical_Button_bind()
{
}
