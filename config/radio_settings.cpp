// Radio link settings: frequency, hopping, downlink rate, region, antenna,
// configuration byte, test mode.
#include "wireless_video_link.h"
#include "ui_wireless_video_link.h"

#include "link_tables.h"

void Wireless_Video_Link::set_current_downlink(int code)
{
    const int index = link::downlink_index_for_code(code);
    if (index >= 0)
        ui->comboBox_downlink->setCurrentIndex(index);
}
