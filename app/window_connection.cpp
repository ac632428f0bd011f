// The main window's device connection: open on plug-in, close on unplug,
// close and reopen around the second controller's restart.
#include "wireless_video_link.h"
#include "ui_wireless_video_link.h"

#include "binding_dialog.h"
#include "enable_switch.h"
#include "switch_button.h"
#include "command_channel.h"
#include "poll_control.h"
#include "unit_connection.h"
#include "update_thread.h"
#include "usb_transport.h"

#include <QDebug>
#include <QtCharts/QChart>
#include <libusb.h>

namespace {
constexpr uint8_t kReqIdentity = 0xE3;
constexpr uint8_t kReqDeviceInfo = 0xE0;
constexpr uint8_t kReqSoftwareInfo = 0xE1;
constexpr int kPollIntervalMs = 1000;

uint32_t le32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
} // namespace

libusb_device_handle* Wireless_Video_Link::device_handle() const
{
    return connection->handle();
}

void Wireless_Video_Link::build_connection()
{
    connection = new UnitConnection(this);
    poll = new PollControl(&timer, this);
    channel = new CommandChannel(connection, poll);
    timer.setInterval(kPollIntervalMs);
    connect(&timer, &QTimer::timeout, this, &Wireless_Video_Link::poll_status, Qt::UniqueConnection);
    connect(&timer, &QTimer::timeout, this, &Wireless_Video_Link::on_timer_trigger, Qt::UniqueConnection);
    connect(connection, &UnitConnection::access_denied, this, &Wireless_Video_Link::device_access_denied);
    connect(connection, &UnitConnection::device_opened, this,
            [this] { ui->label_connect->setText(tr("Connected")); });
    // The one place borrowers learn the handle: a close takes it from them
    // before it goes, a reopen (the second controller's restart, a re-plug
    // seen during an upgrade) gives them the new one.
    connect(connection, &UnitConnection::handle_changed, this, [this] {
        libusb_device_handle* const handle = connection->handle();
        if (upThread)
            upThread->set_dev_handle(handle);
        if (binding_dialog)
            binding_dialog->set_dev_handle(handle);
    });
}

int32_t Wireless_Video_Link::open_device(bool open)
{
    if (open) {
        // What a unit decides is decided again for the one now attached:
        // an earlier ground unit must not make this one "Ground" when its
        // records cannot be read.
        unit_type = 0;
        const int rc = connection->open();
        if (rc == -2) {
            ui->label_connect->setText(tr("DisConnected"));
            // The title-bar switch follows the state, not the attempt.
            ui->widget_status->setChecked(false);
            ui->widget_status->startSlide();
            return -2;
        }
        if (rc < 0)
            return -1;
        emit dev_connect_status(true);
        // Link encryption is set through the unit: its form is offered
        // while one is connected.
        ui->widget_encry->show();

        if (upThread && upThread->isRunning()) {
            qDebug() << "upThread running! ";
            // The poll stays held by the upgrade; its end starts it.
            poll->set_connected(true);
            apply_control_state();
            return 0;
        }
        // A failure stays on the Update page until the user starts anew.
        reset_upgrade_page_on_connect();

        // A record that could not be read decides nothing: zeros would
        // make any unit a ground unit on a 2.4 GHz model.
        std::array<unsigned char, 40> identity{};
        std::array<unsigned char, 4> info{};
        if (usb_vendor_transfer(connection->handle(), usb::kDirIn, usb::kRecipientInterface, kReqIdentity, 0,
                                0, identity.data(), identity.size(), usb::kReadTimeoutMs)
            >= 0) {
            const uint32_t mcu2 = le32(&identity[20]);
            qDebug() << "dv.mcu2_version" << mcu2;
            identity_raw = identity;
            set_func_from_version(mcu2);
            if (usb_vendor_transfer(connection->handle(), usb::kDirIn, usb::kRecipientInterface, kReqDeviceInfo,
                                    0, 0, info.data(), info.size(), usb::kReadTimeoutMs)
                >= 0)
                setdev_info(info.data(), 0);
        } else {
            qDebug() << "get SN number failed";
            if (usb_vendor_transfer(connection->handle(), usb::kDirIn, usb::kRecipientInterface, kReqDeviceInfo,
                                    0, 0, info.data(), info.size(), usb::kReadTimeoutMs)
                >= 0) {
                setdev_info(info.data(), 1);
            } else {
                // Undecided until a read succeeds (the poll reads the
                // identity again and adapts the window then).
                unit_type = 0;
                ui->label_info_dev->setText(tr("unknow"));
            }
        }

        // A failed read leaves zeros, which are a model (2.4 GHz), a
        // variant and a version of their own: taken, they would switch the
        // band and show "0.0.0". The poll reads the record again.
        std::array<unsigned char, 4> soft{};
        if (usb_vendor_transfer(connection->handle(), usb::kDirIn, usb::kRecipientInterface, kReqSoftwareInfo, 0,
                                0, soft.data(), soft.size(), usb::kReadTimeoutMs)
            >= 0) {
            setsof_info(soft.data());
            set_ui_feature_from_mcu1(soft[1] & 0x0F);
            ui->label_info_firm->setText(QStringLiteral("%1.%2.%3")
                                             .arg(soft[1] & 0x0F)
                                             .arg(soft[0] >> 4)
                                             .arg(soft[0] & 0x0F));
        }

        timer.setInterval(kPollIntervalMs);
        poll->set_connected(true);

        apply_unit_type_pages();
        apply_control_state();

        if (!downlink_trimmed) {
            ui->comboBox_downlink->removeItem(6);
            ui->comboBox_downlink->removeItem(2);
            downlink_trimmed = true;
        }
        set_freq_chart_from_version();
        return 0;
    }

    if (!connection->is_open())
        return 0;
    if (scan_series && scan_series->chart())
        scan_chart->removeSeries(scan_series);
    emit dev_connect_status(false);

    if (connection->close() < 0)
        return -1;

    poll->set_connected(false);
    if (ui) {
        apply_control_state();
        ui->label_connect->setText(tr("DisConnected"));
        ui->widget_encry->hide();
        ui->progressBar_ground_rssi->setValue(0);
        ui->progressBar_ground_rssi_2->setValue(0);
        ui->progressBar_air_rssi->setValue(0);
        ui->progressBar_air_rssi_2->setValue(0);
    }
    return 0;
}

void Wireless_Video_Link::apply_unit_type_pages()
{
    if (unit_type == 2) {
        qDebug() << "button is unvisible , show";
        for (QWidget* w : {static_cast<QWidget*>(ui->pushButton_status),
                           static_cast<QWidget*>(ui->pushButton_frequency),
                           static_cast<QWidget*>(ui->pushButton_configure)})
            if (w->isHidden())
                w->show();
        ui->widget_config_grd2->show();
    } else {
        qDebug() << "button is visible , hide";
        for (QWidget* w : {static_cast<QWidget*>(ui->pushButton_status),
                           static_cast<QWidget*>(ui->pushButton_frequency)})
            if (!w->isHidden())
                w->hide();
        ui->widget_config_grd2->hide();
    }
}

void Wireless_Video_Link::auto_connect_dev()
{
    ui->widget_status->setChecked(true);
    ui->widget_status->startSlide();
    open_device(true);
}

void Wireless_Video_Link::deal_dev_disconnected()
{
    ui->widget_status->setChecked(false);
    ui->widget_status->startSlide();
    ui->switch_bind->setChecked(false);
    ui->switch_bind->startSlide(false);
    if (connection->is_open())
        open_device(false);
}

void Wireless_Video_Link::deal_mcu2_update(bool reopen)
{
    // The engine receives the new handle (or loses the old one) through
    // the connection's handle_changed.
    open_device(reopen);
    mcu2_restarting = !reopen;
}
