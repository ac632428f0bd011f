// The once-a-second status poll: reads the unit's status records and shows
// them on every page.
#include "wireless_video_link.h"
#include "ui_wireless_video_link.h"

#include "link_tables.h"
#include "request_codes.h"
#include "status_records.h"
#include "unit_connection.h"
#include "usb_transport.h"

#include <QDebug>
#include <QProgressBar>
#include <cstring>

namespace {
// Latest RSSI magnitudes: A_RSSI_1, A_RSSI_2, G_RSSI_1, G_RSSI_2.
unsigned last_rssi[4] = {0, 0, 0, 0};
// Ticks that got past the first read since the program started.
unsigned sn_poll_counter = 0;

void apply_rssi_bar(QProgressBar* bar, unsigned n, bool zero)
{
    bar->setValue(zero ? 0 : rec::rssi_bar_value(n));
    if (n != 0xFF)
        bar->setFormat(QStringLiteral("-%1 dBm").arg(n));
    else
        bar->resetFormat();
}

void show_temperature(QLabel* label, int8_t celsius)
{
    // Setting a style sheet re-polishes the label even when it is the same
    // one; the colour changes rarely, the poll comes every second.
    const QString sheet = rec::temperature_hot(celsius) ? QStringLiteral("color:red;")
                                                        : QStringLiteral("color:green;");
    if (label->styleSheet() != sheet)
        label->setStyleSheet(sheet);
    label->setText(rec::temperature_text(celsius));
}

QString dbm(int value)
{
    return QString::number(value) + QStringLiteral("dBm");
}
} // namespace

void Wireless_Video_Link::on_timer_trigger()
{
}

void Wireless_Video_Link::poll_status()
{
    unsigned char buf[rec::kDevStatusSize] = {};
    if (usb_vendor_transfer(connection->handle(), usb::kDirIn, usb::kRecipientInterface, req::DevStatus, 0, 0, buf,
                            rec::kDevStatusSize, usb::kReadTimeoutMs)
        < 0)
        return;
    std::memcpy(poll_buffer, buf, 63);

    rec::DevStatus st = rec::decode_dev_status(poll_buffer);
    if (st.pair_button == 0xA5 && !binding_in_progress)
        on_physical_Button_bind();

    if (st.baud_index == 0xFF) {
        poll_buffer[29] = 2;
        st.baud_index = 2;
    }
    ui->comboBox_RadioRate->setCurrentIndex(st.baud_index);

    const int p_g = link::shown_power(st.g_rf_power, power_offset_flag);
    const int p_a = link::shown_power(st.a_rx_power, power_offset_flag);
    ui->label_RFPOWER->setText(dbm(p_g));
    ui->label_RF_Power_l->setText(dbm(unit_type == 2 ? p_a : p_g));

    ui->comboBox_region->setCurrentIndex(st.region_index());

    ui->label_FREQ->setText(QString::number(st.freq));
    ui->label_frequency_l->setText(QString::number(st.freq) + QStringLiteral("MHz"));
    if (ui->label_FREQ->text().isEmpty())
        ui->label_MHZ->clear();
    else
        ui->label_MHZ->setText(QStringLiteral("MHz"));

    apply_rssi_bar(ui->progressBar_ground_rssi, st.g_rssi_1, false);
    apply_rssi_bar(ui->progressBar_air_rssi, st.a_rssi_1, st.bind == 0);
    last_rssi[2] = st.g_rssi_1;
    last_rssi[0] = st.a_rssi_1;

    ui->label_test_g_ldpcfail->setText(QString::number(st.g_ldpc_fail));
    ui->label_test_g_ldpcpass->setText(QString::number(st.g_ldpc_pass));
    ui->label_test_g_rssi->setText(rec::rssi_text(st.g_rssi_1));
    ui->label_test_g_snr->setText(QString::number(st.g_snr));
    ui->label_g_BB_SNR->setText(QString::number(st.g_snr));
    ui->label_test_downlink->setText(link::downlink_rate_text(int8_t(st.downlink)));
    set_current_downlink(st.downlink);
    ui->label_test_g_vga->setText(QString::number(st.g_vga));
    ui->label_test_bandrate->setText(link::baud_text(int8_t(st.baud_index)));

    if (st.bind == 1) {
        ui->label_bind_status->setText(tr("Binded"));
        if (binding_in_progress)
            emit binded();
    } else {
        ui->label_bind_status->setText(tr("unBinded"));
    }

    ui->label_test_a_ldpcfail->setText(QString::number(st.a_ldpc_fail));
    ui->label_test_a_ldpcpass->setText(QString::number(st.a_ldpc_pass));
    ui->label_test_a_vga->setText(QString::number(st.a_vga));
    ui->label_test_a_rssi->setText(rec::rssi_text(st.a_rssi_1));
    ui->label_test_a_snr->setText(QString::number(st.a_snr));

    ui->label_antenna_sta->setText(st.auto_antenna() ? tr("enable") : tr("disable"));
    ui->label_current_ant->setText(st.second_antenna() ? QStringLiteral("RF2") : QStringLiteral("RF1"));

    ui->label_distance_l->setText(QString::number(st.range) + QStringLiteral("m"));
    ui->label_a_Distance->setText(QString::number(st.range) + QStringLiteral("m"));

    if (feature_mask & 4) {
        ui->label_datalink_recv->setText(QString::number(st.eth_lost_packet));
        ui->label_datalink_send->setText(QString::number(st.eth_rev_packet));
    } else {
        ui->label_RECV_l->setText(QString::number(st.eth_rev_packet));
        ui->label_ETH_LOST_l->setText(QString::number(st.eth_lost_packet));
    }

    if (st.grd_link_status == 4)
        caculate_packet_lost_rate(st.g_ldpc_fail, st.g_ldpc_pass);

    ui->radioButton_ppm->setChecked(st.rc_mode != 0);
    ui->radioButton_sbus->setChecked(st.rc_mode == 0);

    if (st.freq_mode != 0) {
        ui->pushButton_auto->setChecked(true);
        ui->comboBox_freq->setEnabled(false);
    } else {
        ui->pushButton_manual->setChecked(true);
        ui->comboBox_freq->setEnabled(true);
    }

    if (unit_type == 2)
        scan_freq();

    unsigned char buf2[rec::kDevStatus2Size] = {};
    const int rc2 = usb_vendor_transfer(connection->handle(), usb::kDirIn, usb::kRecipientInterface, req::DevStatus2,
                                        0, 0, buf2, rec::kDevStatus2Size, usb::kReadTimeoutMs);
    if (rc2 < 0) {
        qDebug() << "dev_status2 ret" << rc2;
        for (QLabel* l : {ui->label_A_BB_TEMP, ui->label_A_PA_TEMP, ui->label_G_BB_TEMP, ui->label_G_PA_TEMP,
                          ui->label_test_a_rssi_2, ui->label_test_g_rssi_2})
            l->setText(tr("unknow"));
    } else {
        std::memcpy(dev_status2_kept.data(), buf2, sizeof buf2);
        const rec::DevStatus2 s2 = rec::decode_dev_status2(buf2);

        ui->label_A_BB_TEMP->setText(rec::temperature_text(s2.a_bb_temp));
        ui->label_A_PA_TEMP->setText(rec::temperature_text(s2.a_pa_temp));
        ui->label_G_BB_TEMP->setText(rec::temperature_text(s2.g_bb_temp));
        ui->label_G_PA_TEMP->setText(rec::temperature_text(s2.g_pa_temp));
        show_temperature(ui->label_a_BB_TEMP, s2.a_bb_temp);
        show_temperature(ui->label_g_BB_TEMP, s2.g_bb_temp);
        show_temperature(ui->label_a_PA_TEMP, s2.a_pa_temp);
        show_temperature(ui->label_g_PA_TEMP, s2.g_pa_temp);

        ui->label_test_a_rssi_2->setText(rec::rssi_text(s2.a_rssi_2));
        ui->label_test_g_rssi_2->setText(rec::rssi_text(s2.g_rssi_2));
        apply_rssi_bar(ui->progressBar_ground_rssi_2, s2.g_rssi_2, false);
        apply_rssi_bar(ui->progressBar_air_rssi_2, s2.a_rssi_2, st.bind == 0);
        last_rssi[1] = s2.a_rssi_2;
        last_rssi[3] = s2.g_rssi_2;

        if (s2.datalink_usb())
            ui->radioButton_usb->setChecked(true);
        else
            ui->radioButton_uart->setChecked(true);
        if (s2.observer())
            ui->radioButton_RO->setChecked(true);
        else
            ui->radioButton_RT->setChecked(true);
        emit set_enable_crystatus(s2.encryption_on());
        emit set_encry_model(s2.encryption_mode());

        const QString up = QString::number(s2.uplink_rate) + QStringLiteral("Kbit/s");
        const QString down = QString::number(s2.downlink_rate) + QStringLiteral("Kbit/s");
        ui->label_uplink_rate->setText(up);
        ui->label_uplink_rate_2->setText(up);
        ui->label_downlink_rate->setText(down);
        ui->label_downlink_rate_2->setText(down);

        ui->comboBox_profile->setCurrentIndex(s2.profile_index());
    }

    if (antenna_dialog && antenna_dialog->isVisible()) {
        qDebug() << " send state";
        RSSI_Set set;
        set.A_RSSI_1 = last_rssi[0];
        set.A_RSSI_2 = last_rssi[1];
        set.G_RSSI_1 = last_rssi[2];
        set.G_RSSI_2 = last_rssi[3];
        emit send_state(set);
    }

    get_quorlanpro_status();

    // A failed version read must not be taken for a version: the buffer
    // still holds status bytes, which would change the band.
    unsigned char version[4] = {};
    if (usb_vendor_transfer(connection->handle(), usb::kDirIn, usb::kRecipientInterface, req::SoftwareInfo, 0, 0,
                            version, sizeof version, usb::kReadTimeoutMs)
        >= 0) {
        setsof_info(version);
        ui->label_info_firm->setText(rec::firmware_text(rec::decode_software_info(version)));
    }

    if (record_enabled && insert_log_row() < 0) {
        qDebug() << "record log failed! " << Qt::endl;
        record_row_failed();
    }

    emit cast_rssi(int(st.g_rssi_1));

    if ((sn_poll_counter & 3) == 0)
        on_pushButton_GET_SN_clicked();
    ++sn_poll_counter;
}
