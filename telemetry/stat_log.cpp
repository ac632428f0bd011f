// The statistics log: one row per poll while recording is on.
#include "wireless_video_link.h"

int Wireless_Video_Link::insert_log_row()
{
    return 0;
}
