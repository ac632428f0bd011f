// Packet counters of both units and the sliding packet-loss rate.
#include "wireless_video_link.h"
#include "ui_wireless_video_link.h"

#include "request_codes.h"
#include "status_records.h"
#include "unit_connection.h"
#include "usb_transport.h"

#include <QDebug>

namespace {
constexpr int kLossWindow = 10;

void push_window(QList<int>& window, int value)
{
    window.append(value);
    if (window.size() > kLossWindow)
        window.removeFirst();
}

uint32_t window_sum(const QList<int>& window)
{
    uint32_t sum = 0; // 32-bit, wrapping like the unit's counters
    for (int v : window)
        sum += uint32_t(v);
    return sum;
}
} // namespace

void Wireless_Video_Link::get_quorlanpro_status()
{
    unsigned char buf[64] = {};
    QLabel* const counters[] = {ui->label_g_buf_overflow,      ui->label_g_packet_recv,
                                ui->label_g_packets_send,      ui->label_g_packets_discard,
                                ui->label_g_packets_submitted, ui->label_g_packets_retransmit,
                                ui->label_a_buf_overflow,      ui->label_a_packet_recv,
                                ui->label_a_packets_send,      ui->label_a_packets_discard,
                                ui->label_a_packets_submitted, ui->label_a_packets_retransmit};
    const int rc = usb_vendor_transfer(connection->handle(), usb::kDirIn, usb::kRecipientInterface, req::ProStatus, 0,
                                       0, buf, rec::kProStatusSize, usb::kReadTimeoutMs);
    if (rc < 0) {
        qDebug() << "pro stat ret" << rc;
        for (QLabel* l : counters)
            l->setText(tr("unknow"));
        return;
    }
    const rec::ProStatus p = rec::decode_pro_status(buf);
    pro_config_byte = p.config_byte();
    if (pro_config_byte & 0x04) {
        ui->pushButton_antenna_2->setChecked(true);
        feature_mask |= 2;
        show_multi_settings();
    } else {
        ui->pushButton_antenna_1->setChecked(true);
        feature_mask &= ~2;
        hide_multi_settings();
    }
    const uint32_t values[] = {p.g_buf_overflow,      p.g_packets_recv,     p.g_packets_send,
                               p.g_packets_discard,   p.g_packets_submitted, p.g_packets_retransmit,
                               p.a_buf_overflow,      p.a_packets_recv,     p.a_packets_send,
                               p.a_packets_discard,   p.a_packets_submitted, p.a_packets_retransmit};
    for (size_t i = 0; i < std::size(counters); ++i)
        counters[i]->setText(QString::number(values[i]));
    if (!(feature_mask & 4)) {
        ui->label_datalink_recv->setText(QString::number(p.datalink_recv));
        ui->label_datalink_send->setText(QString::number(p.datalink_send));
    }
}

void Wireless_Video_Link::caculate_packet_lost_rate(uint fail, uint pass)
{
    push_window(pass_deltas, int(uint32_t(pass) - last_pass));
    last_pass = pass;
    push_window(fail_deltas, int(uint32_t(fail) - last_fail));
    last_fail = fail;

    const uint32_t f = window_sum(fail_deltas);
    const uint32_t total = f + window_sum(pass_deltas);
    // No packets in the window: there is no rate to show.
    if (total == 0) {
        ui->label_lostp->setText(tr("N/A"));
        return;
    }
    const float rate = float(uint32_t(f * 100u)) / float(total);
    ui->label_lostp->setText(QStringLiteral("%1").arg(double(rate)) + QStringLiteral("%"));
}
