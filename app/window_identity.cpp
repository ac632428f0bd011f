// The unit's identity: which unit, which model and band, which firmware
// generation; the window adapts its controls, channel list and chart.
#include "wireless_video_link.h"
#include "ui_wireless_video_link.h"

#include "link_tables.h"
#include "poll_control.h"
#include "request_codes.h"
#include "unit_connection.h"
#include "status_records.h"
#include "unit_profile.h"
#include "usb_transport.h"

#include <QDebug>
#include <QComboBox>
#include <QLayout>
#include <QtCharts/QChart>
#include <algorithm>

namespace {
const char k16QamEntry[] = "16QAM_1/2 (7.52Mbps)";

using Widgets = QList<QWidget*>;

void show_all(const Widgets& widgets)
{
    for (QWidget* w : widgets)
        w->show();
}

void hide_all(const Widgets& widgets)
{
    for (QWidget* w : widgets)
        w->hide();
}

// The groups the unit's profile shows or hides, label and value together.
Widgets air_counters(Ui::Wireless_Video_Link* ui)
{
    return {ui->label_a_buf_overflow,        ui->label_a_buf_overflow_l,      ui->label_a_packet_recv,
            ui->label_a_packet_recv_l,       ui->label_a_packets_send,        ui->label_a_packets_send_l,
            ui->label_a_packets_submitted,   ui->label_a_packets_submitted_l, ui->label_a_packets_discard,
            ui->label_a_packets_discard_l,   ui->label_a_packets_retransmit,  ui->label_a_packets_retransmit_l};
}

Widgets ground_counters(Ui::Wireless_Video_Link* ui)
{
    return {ui->label_g_buf_overflow,        ui->label_g_buf_overflow_l,      ui->label_g_packet_recv,
            ui->label_g_packet_recv_l,       ui->label_g_packets_send,        ui->label_g_packets_send_l,
            ui->label_g_packets_submitted,   ui->label_g_packets_submitted_l, ui->label_g_packets_discard,
            ui->label_g_packets_discard_l,   ui->label_g_packets_retransmit,  ui->label_g_packets_retransmit_l};
}

Widgets loss_labels(Ui::Wireless_Video_Link* ui)
{
    return {ui->label_lostp,    ui->label_packet_lost_l, ui->label_ETH_LOST,
            ui->label_ETH_LOST_l, ui->label_ETH_RECV,    ui->label_RECV_l};
}

Widgets bb_temp_labels(Ui::Wireless_Video_Link* ui)
{
    return {ui->label_G_BB_TEMP, ui->label_g_bb_temp_l, ui->label_A_BB_TEMP, ui->label_a_bb_temp_l,
            ui->label_g_BB_TEMP, ui->label_g_BB_TEMP_L, ui->label_a_BB_TEMP, ui->label_a_BB_TEMP_L};
}

void show_if_hidden(QWidget* w)
{
    if (w->isHidden())
        w->show();
}
} // namespace

void Wireless_Video_Link::setdev_info(unsigned char* data, int flag)
{
    std::copy(data, data + devinfo_raw.size(), devinfo_raw.begin());
    const rec::DeviceInfo info = rec::decode_device_info(data);
    if (flag != 0) {
        if (info.air_unit) {
            ui->label_info_dev->setText(tr("Air"));
            unit_type = 1;
        } else {
            ui->label_info_dev->setText(tr("Ground"));
            unit_type = 2;
        }
    }
    ui->label_info_fpga->setText(QString::number(info.baseband, 16));
}

void Wireless_Video_Link::setdev_info(unsigned char* data)
{
    setdev_info(data, 1);
}

void Wireless_Video_Link::set_func_from_version(uint32_t version)
{
    mcu2_version = version;
    const rec::Mcu2Version v = rec::decode_mcu2_version(version);
    if (v.unit_decision == 1) {
        ui->label_info_dev->setText(tr("Ground"));
        unit_type = 2;
        ui->groupBox_g_status->show();
    } else if (v.unit_decision == 0) {
        if (unit_type != 1)
            ui->pushButton_infomation->click();
        ui->label_info_dev->setText(tr("Air"));
        unit_type = 1;
        ui->groupBox_g_status->hide();
    } else {
        ui->label_info_dev->setText(tr("unknow"));
    }
    qDebug() << "set_func_from_version";
    qDebug() << "devt" << v.unit;

    if (v.unit <= 1)
        hide_all({ui->label_Datalink_I, ui->radioButton_usb, ui->radioButton_uart});

    QLayout* config_layout = ui->widget_config_2->layout();
    QMargins margins = config_layout ? config_layout->contentsMargins() : QMargins();
    if (v.extended()) {
        if (v.unit > 1) {
            show_if_hidden(ui->label_Datalink_I);
            show_if_hidden(ui->radioButton_usb);
            show_if_hidden(ui->radioButton_uart);
        }
        for (QWidget* w : {static_cast<QWidget*>(ui->label_Guc_mode), static_cast<QWidget*>(ui->radioButton_RT),
                           static_cast<QWidget*>(ui->radioButton_RO),
                           static_cast<QWidget*>(ui->pushButton_configure)})
            show_if_hidden(w);
        if (config_layout && margins.bottom() > 100) {
            margins.setBottom(40);
            config_layout->setContentsMargins(margins);
        }
    } else {
        hide_all({ui->label_Datalink_I, ui->radioButton_usb, ui->radioButton_uart, ui->label_Guc_mode,
                  ui->radioButton_RT, ui->radioButton_RO});
        if (config_layout && margins.bottom() <= 99) {
            margins.setBottom(margins.bottom() + 220);
            config_layout->setContentsMargins(margins);
        }
        if (unit_type != 2)
            ui->pushButton_configure->hide();
    }
}

void Wireless_Video_Link::setsof_info(unsigned char* data)
{
    std::copy(data, data + sofinfo_raw.size(), sofinfo_raw.begin());
    const rec::SoftwareInfo soft = rec::decode_software_info(data);
    const rec::ModelBand model = rec::model_band(soft.model_index);
    if (!model.known) {
        band_code = 0;
        return;
    }
    power_level = model.power_level;
    power_offset_flag = model.power_offset_flag;
    if (band_code == model.band_code)
        return;

    band_code = model.band_code;
    fill_channel_list();
    const profile::BandView view = profile::band_view(band_code);
    if (view.known) {
        axis_x->setRange(view.low_mhz, view.high_mhz);
        ui->stackedWidget_freq->setCurrentWidget(view.scan_page ? ui->page_scan : ui->page_blank);
        qDebug() << view.mark;
    }
    // The scan moves the series' points by index; points left from the
    // old band would stay on the chart, outside its range.
    set_freq_chart_from_version();
}

void Wireless_Video_Link::fill_channel_list()
{
    const QVector<link::Channel> want = link::unit_channels(band_code, hardware_variant);
    if (want.isEmpty())
        return;
    QComboBox* const box = ui->comboBox_freq;
    auto mhz_at = [box](int i) { return box->itemData(i).toUInt(); };
    auto matches = [&](int skip) {
        if (box->count() != want.size() + (skip >= 0 ? 1 : 0))
            return false;
        for (int i = 0, j = 0; i < box->count(); ++i) {
            if (i == skip)
                continue;
            if (mhz_at(i) != want[j++].mhz)
                return false;
        }
        return true;
    };
    // Built from the unit, never by taking one more entry off what the
    // list holds: the same unit plugged in again gets the same list. The
    // texts of the entries kept stay as they are (the layout's own list of
    // a 2.4 GHz unit keeps its translated texts).
    if (matches(-1))
        return;
    for (int k = 0; k < box->count(); ++k) {
        if (matches(k)) {
            box->removeItem(k);
            return;
        }
    }
    box->clear();
    for (const link::Channel& c : want)
        box->addItem(c.text, c.mhz);
}

void Wireless_Video_Link::set_ui_feature_from_mcu1(int variant)
{
    hardware_variant = variant;
    const profile::VariantFeatures f = profile::variant_features(variant, unit_type);
    if (f.known) {
        if (f.qam16)
            add_16QAM();
        else
            remove_16QAM();
        if (f.bb_temp)
            show_bb_temp();
        else
            hide_bb_temp();
        if (f.air_counters)
            show_air_retransmit_settings();
        else
            hide_air_retransmit_settings();
        if (f.antenna_choice)
            show_antenna_choise_settings();
        else
            hide_antenna_choise_settings();
        feature_mask = f.feature_mask;
    }
    fill_channel_list();
}

void Wireless_Video_Link::set_freq_chart_from_version()
{
    const profile::BandView view = profile::band_view(band_code);
    if (!view.known)
        return;
    axis_x->setRange(view.low_mhz, view.high_mhz);
    scan_series->clear();
    for (int k = 0; k < view.points; ++k) {
        const ChartPoint p{view.first_mhz + view.step_mhz * k, -6 * k};
        scan_series->append(p.mhz, p.dbm);
        chart_points_table[size_t(k)] = p;
    }
    const ChartPoint end{view.high_mhz, -100};
    scan_series->append(end.mhz, end.dbm);
    chart_points_table[size_t(view.end_index)] = end;
    if (!scan_series->chart()) {
        scan_chart->addSeries(scan_series);
        scan_series->attachAxis(axis_x);
        scan_series->attachAxis(axis_y);
    }
    if (view.region)
        show_region_settings();
    else
        hide_region_settings();
}

void Wireless_Video_Link::on_pushButton_GET_SN_clicked()
{
    identity_raw.fill(0);
    if (!may_send_setting())
        return;
    PollControl::Hold hold(*poll);
    if (usb_vendor_transfer(connection->handle(), usb::kDirIn, usb::kRecipientInterface, req::Identity, 0, 0,
                            identity_raw.data(), uint16_t(identity_raw.size()), usb::kReadTimeoutMs)
        < 0) {
        qDebug() << "get SN number failed";
        return;
    }
    const rec::Identity id = rec::decode_identity(identity_raw.data());
    serial_number = id.serial.isEmpty() ? QStringLiteral("unknow") : id.serial;
    hi3798_version = id.hi3798_version;
    ui->label_sn->setText(rec::serial_label(id));
    setdev_info(identity_raw.data() + 16, 0);
    // The unit's type could not be read at the connection: decide it now
    // and let the window follow.
    if (unit_type == 0) {
        set_func_from_version(id.mcu2_version);
        if (unit_type == 0)
            setdev_info(identity_raw.data() + 16, 1);
        apply_unit_type_pages();
    }
}

void Wireless_Video_Link::hide_multi_settings()
{
    hide_all({ui->label_Guc_mode, ui->radioButton_RO, ui->radioButton_RT, ui->comboBox_profile,
              ui->label_profile});
}

void Wireless_Video_Link::show_multi_settings()
{
    show_all({ui->label_Guc_mode, ui->radioButton_RO, ui->radioButton_RT, ui->comboBox_profile,
              ui->label_profile});
}

void Wireless_Video_Link::hide_retransmit_settings()
{
    hide_all(ground_counters(ui) + air_counters(ui) + loss_labels(ui));
}

void Wireless_Video_Link::show_retransmit_settings()
{
    show_all(ground_counters(ui) + air_counters(ui) + loss_labels(ui));
}

void Wireless_Video_Link::hide_air_retransmit_settings()
{
    hide_all(air_counters(ui));
}

void Wireless_Video_Link::show_air_retransmit_settings()
{
    show_all(air_counters(ui));
}

void Wireless_Video_Link::hide_bb_temp()
{
    hide_all(bb_temp_labels(ui));
}

void Wireless_Video_Link::show_bb_temp()
{
    show_all(bb_temp_labels(ui));
}

void Wireless_Video_Link::hide_antenna_choise_settings()
{
    hide_all({ui->label_antenna_choise, ui->pushButton_antenna_1, ui->pushButton_antenna_2});
}

void Wireless_Video_Link::show_antenna_choise_settings()
{
    show_all({ui->label_antenna_choise, ui->pushButton_antenna_1, ui->pushButton_antenna_2});
}

void Wireless_Video_Link::hide_region_settings()
{
    hide_all({ui->label_working_region, ui->comboBox_region});
}

void Wireless_Video_Link::show_region_settings()
{
    show_all({ui->label_working_region, ui->comboBox_region});
}

void Wireless_Video_Link::remove_16QAM()
{
    const int index = ui->comboBox_downlink->findText(QString::fromLatin1(k16QamEntry));
    if (index > 0)
        ui->comboBox_downlink->removeItem(index);
}

void Wireless_Video_Link::add_16QAM()
{
    if (ui->comboBox_downlink->findText(QString::fromLatin1(k16QamEntry)) < 0)
        ui->comboBox_downlink->addItem(QString::fromLatin1(k16QamEntry));
}
