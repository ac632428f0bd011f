// The main window's device connection: open on plug-in, close on unplug,
// close and reopen around the second controller's restart.
#include "wireless_video_link.h"
#include "ui_wireless_video_link.h"

#include "binding_dialog.h"
#include "enable_switch.h"
#include "hotplug_thread.h"
#include "switch_button.h"
#include "update_thread.h"
#include "usb_transport.h"

#include <QDebug>
#include <QtCharts/QChart>
#include <libusb.h>

namespace {
constexpr uint8_t kReqIdentity = 0xE3;
constexpr uint8_t kReqDeviceInfo = 0xE0;
constexpr uint8_t kReqSoftwareInfo = 0xE1;
constexpr int kLibusbLogLevel = 3;
constexpr int kPollIntervalMs = 1000;

// Whether the first matching unit on the bus refuses to be opened for lack
// of permission.
bool open_refused_for_access(libusb_device** list, ssize_t count)
{
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor desc;
        if (libusb_get_device_descriptor(list[i], &desc) < 0)
            continue;
        if (desc.idVendor != usb::kVendorId || desc.idProduct != usb::kProductId)
            continue;
        libusb_device_handle* probe = nullptr;
        const int rc = libusb_open(list[i], &probe);
        if (rc == 0)
            libusb_close(probe);
        return rc == LIBUSB_ERROR_ACCESS;
    }
    return false;
}

uint32_t le32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
} // namespace

int32_t Wireless_Video_Link::open_device(bool open)
{
    if (open) {
        // A handle left by an earlier open whose claim failed is closed
        // here, not leaked by the new one.
        if (dev_handle || ctx) {
            if (dev_handle)
                libusb_close(dev_handle);
            if (ctx)
                libusb_exit(ctx);
            dev_handle = nullptr;
            ctx = nullptr;
        }

        int rc = libusb_init(&ctx);
        if (rc < 0) {
            ctx = nullptr;
            qDebug() << "Init Error " << rc;
            return -1;
        }
        libusb_set_option(ctx, LIBUSB_OPTION_LOG_LEVEL, kLibusbLogLevel);

        libusb_device** list = nullptr;
        const ssize_t count = libusb_get_device_list(ctx, &list);
        if (count < 0) {
            list = nullptr;
            qDebug() << "Get Device Error";
        }

        dev_handle = libusb_open_device_with_vid_pid(ctx, usb::kVendorId, usb::kProductId);
        if (!dev_handle) {
            qDebug() << "Cannot open device";
            // A unit that is there but may not be opened by this user waits
            // for nothing: say so, with the fix.
            if (list && open_refused_for_access(list, count))
                emit device_access_denied();
            if (list)
                libusb_free_device_list(list, 1);
            libusb_exit(ctx);
            ctx = nullptr;
            return -1;
        }
        ui->label_connect->setText(tr("Connected"));
        qDebug() << "Device Opened";
        if (list)
            libusb_free_device_list(list, 1);

        if (libusb_kernel_driver_active(dev_handle, 0) == 1) {
            qDebug() << "Kernel Driver Active";
            if (libusb_detach_kernel_driver(dev_handle, 0) == 0)
                qDebug() << "Kernel Driver Detached!";
        }

        if (libusb_claim_interface(dev_handle, 0) < 0) {
            qDebug() << "Cannot Claim Interface 0";
            // Nothing can be done with an unclaimed handle; close it now so
            // that it neither leaks nor keeps the unit busy.
            libusb_close(dev_handle);
            libusb_exit(ctx);
            dev_handle = nullptr;
            ctx = nullptr;
            ui->label_connect->setText(tr("DisConnected"));
            return -2;
        }
        qDebug() << "Claimed Interface 0";
        emit dev_connect_status(true);
        // Link encryption is set through the unit: its form is offered
        // while one is connected.
        ui->widget_encry->show();

        if (upThread && upThread->isRunning()) {
            qDebug() << "upThread running! ";
            return 0;
        }
        if (!mcu2_restarting) {
            ui->label_update_message->clear();
            ui->progressBar->setValue(0);
        }

        std::array<unsigned char, 40> identity{};
        if (usb_vendor_transfer(dev_handle, usb::kDirIn, usb::kRecipientInterface, kReqIdentity, 0, 0,
                                identity.data(), identity.size(), usb::kReadTimeoutMs)
            >= 0) {
            const uint32_t mcu2 = le32(&identity[20]);
            qDebug() << "dv.mcu2_version" << mcu2;
            identity_raw = identity;
            set_func_from_version(mcu2);
            std::array<unsigned char, 4> info{};
            usb_vendor_transfer(dev_handle, usb::kDirIn, usb::kRecipientInterface, kReqDeviceInfo, 0, 0,
                                info.data(), info.size(), usb::kReadTimeoutMs);
            setdev_info(info.data(), 0);
        } else {
            qDebug() << "get SN number failed";
            std::array<unsigned char, 4> info{};
            usb_vendor_transfer(dev_handle, usb::kDirIn, usb::kRecipientInterface, kReqDeviceInfo, 0, 0,
                                info.data(), info.size(), usb::kReadTimeoutMs);
            setdev_info(info.data(), 1);
        }

        // A failed read leaves zeros, which are a model (2.4 GHz), a
        // variant and a version of their own: taken, they would switch the
        // band and show "0.0.0". The poll reads the record again.
        std::array<unsigned char, 4> soft{};
        if (usb_vendor_transfer(dev_handle, usb::kDirIn, usb::kRecipientInterface, kReqSoftwareInfo, 0, 0,
                                soft.data(), soft.size(), usb::kReadTimeoutMs)
            >= 0) {
            setsof_info(soft.data());
            set_ui_feature_from_mcu1(soft[1] & 0x0F);
            ui->label_info_firm->setText(QStringLiteral("%1.%2.%3")
                                             .arg(soft[1] & 0x0F)
                                             .arg(soft[0] >> 4)
                                             .arg(soft[0] & 0x0F));
        }

        timer.setInterval(kPollIntervalMs);
        if (!timer.isActive())
            timer.start();
        connect(&timer, &QTimer::timeout, this, &Wireless_Video_Link::poll_status, Qt::UniqueConnection);
        connect(&timer, &QTimer::timeout, this, &Wireless_Video_Link::on_timer_trigger,
                Qt::UniqueConnection);

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

        if (!downlink_trimmed) {
            ui->comboBox_downlink->removeItem(6);
            ui->comboBox_downlink->removeItem(2);
            downlink_trimmed = true;
        }
        set_freq_chart_from_version();
        return 0;
    }

    if (!dev_handle)
        return 0;
    if (scan_series && scan_series->chart())
        scan_chart->removeSeries(scan_series);
    emit dev_connect_status(false);
    if (upThread)
        upThread->set_dev_handle(nullptr);
    if (binding_dialog)
        binding_dialog->set_dev_handle(nullptr);

    const int rc = libusb_release_interface(dev_handle, 0);
    // A unit that has been pulled out answers every call with NO_DEVICE;
    // the close must still finish, or the window would keep polling a
    // dead handle and show "Connected".
    if (rc < 0 && rc != LIBUSB_ERROR_NO_DEVICE) {
        qDebug() << "Cannot Release Interface";
        return -1;
    }
    qDebug() << "Released Interface";
    libusb_attach_kernel_driver(dev_handle, 0);
    libusb_close(dev_handle);
    libusb_exit(ctx);
    dev_handle = nullptr;
    ctx = nullptr;

    if (timer.isActive())
        timer.stop();
    if (ui) {
        ui->label_connect->setText(tr("DisConnected"));
        ui->widget_encry->hide();
    }
    disconnect(&timer, &QTimer::timeout, this, &Wireless_Video_Link::poll_status);
    disconnect(&timer, &QTimer::timeout, this, &Wireless_Video_Link::on_timer_trigger);
    if (ui) {
        ui->progressBar_ground_rssi->setValue(0);
        ui->progressBar_ground_rssi_2->setValue(0);
        ui->progressBar_air_rssi->setValue(0);
        ui->progressBar_air_rssi_2->setValue(0);
    }
    return 0;
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
    if (dev_handle)
        open_device(false);
}

void Wireless_Video_Link::deal_mcu2_update(bool reopen)
{
    open_device(reopen);
    mcu2_restarting = !reopen;
    if (upThread && upThread->isRunning())
        upThread->set_dev_handle(dev_handle);
}
