// The unit's identity records, read right after the connection opens.
#include "wireless_video_link.h"
#include "ui_wireless_video_link.h"

#include <algorithm>

void Wireless_Video_Link::setdev_info(unsigned char* data, int flag)
{
    std::copy(data, data + devinfo_raw.size(), devinfo_raw.begin());
    identity_without_sn = (flag != 0);
}

void Wireless_Video_Link::setdev_info(unsigned char* data)
{
    setdev_info(data, 0);
}

void Wireless_Video_Link::setsof_info(unsigned char* data)
{
    std::copy(data, data + sofinfo_raw.size(), sofinfo_raw.begin());
}

void Wireless_Video_Link::set_func_from_version(uint32_t version)
{
    mcu2_version = version;
}

void Wireless_Video_Link::set_ui_feature_from_mcu1(int)
{
}

void Wireless_Video_Link::set_freq_chart_from_version()
{
}
