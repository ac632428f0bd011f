// Link encryption: the form's requests become vendor requests.
#include "wireless_video_link.h"

void Wireless_Video_Link::on_set_encrypt_key(QString)
{
}

void Wireless_Video_Link::on_set_encrypt_enable(bool)
{
}
