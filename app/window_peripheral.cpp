// Peripheral interface settings of the Configure page: the radio's UART
// baud rate, the RC signal format, the datalink interface and the ground
// unit's identity.
#include "wireless_video_link.h"

#include "request_codes.h"

namespace {
constexpr int kPeripheralSettleMs = 1000;
constexpr int kIdentitySettleMs = 2000;

constexpr unsigned char kRcPpm = 1;
constexpr unsigned char kRcSbus = 0;
constexpr unsigned char kDatalinkUsb = 0x5A;
constexpr unsigned char kDatalinkUart = 0xA5;
constexpr unsigned char kObserver = 1;
constexpr unsigned char kPilot = 0;
} // namespace

void Wireless_Video_Link::on_comboBox_RadioRate_activated(int index)
{
    const unsigned char baud = uint8_t(index);
    quick_handshake(req::BaudRate, &baud, 1, "set COM baundrate failed", kPeripheralSettleMs, true);
}

void Wireless_Video_Link::on_radioButton_ppm_clicked()
{
    quick_handshake(req::RcMode, &kRcPpm, 1, "set ppm  failed", kPeripheralSettleMs, true);
}

void Wireless_Video_Link::on_radioButton_sbus_clicked()
{
    quick_handshake(req::RcMode, &kRcSbus, 1, "set sbus  failed", kPeripheralSettleMs, true);
}

// The datalink interface is the one setting of this page sent without
// reading the command status byte.
void Wireless_Video_Link::on_radioButton_usb_clicked()
{
    send_set_command(&kDatalinkUsb, 1, req::Datalink, QStringLiteral("datalink from usb"), false,
                     kPeripheralSettleMs);
}

void Wireless_Video_Link::on_radioButton_uart_clicked()
{
    send_set_command(&kDatalinkUart, 1, req::Datalink, QStringLiteral("datalink from uart"), false,
                     kPeripheralSettleMs);
}

void Wireless_Video_Link::on_radioButton_RO_clicked()
{
    send_set_command(&kObserver, 1, req::GroundIdentity, QStringLiteral("ground send and recv"), true,
                     kIdentitySettleMs);
}

void Wireless_Video_Link::on_radioButton_RT_clicked()
{
    send_set_command(&kPilot, 1, req::GroundIdentity, QStringLiteral("ground send and recv"), true,
                     kIdentitySettleMs);
}
