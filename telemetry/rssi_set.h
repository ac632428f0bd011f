// Four RSSI readings, air and ground unit, receive paths 1 and 2, passed by
// value from the status poll to the antenna check.
#pragma once

#include <QMetaType>

struct RSSI_Set
{
    unsigned int A_RSSI_1 = 0;
    unsigned int A_RSSI_2 = 0;
    unsigned int G_RSSI_1 = 0;
    unsigned int G_RSSI_2 = 0;
};
Q_DECLARE_METATYPE(RSSI_Set)
