// The Update page: choosing an image, starting the upgrade engine, showing
// its progress, and giving the window back when it is done.
#include "upgrade_control.h"

#include "wireless_video_link.h"
#include "ui_wireless_video_link.h"

#include "enable_switch.h"
#include "update_thread.h"
#include "usb_transport.h"

#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace {

QString platform_open_file(QWidget* parent, const QString& caption, const QString& dir,
                           const QString& filter)
{
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

upgrade_ui::OpenFileFunction g_open_file = &platform_open_file;

constexpr int kEndPauseMs = 5000;

} // namespace

namespace upgrade_ui {
void set_open_file_function(OpenFileFunction function)
{
    g_open_file = function ? function : &platform_open_file;
}

OpenFileFunction open_file_function()
{
    return g_open_file;
}
} // namespace upgrade_ui

void Wireless_Video_Link::on_Select_file_button_clicked()
{
    const QString path = g_open_file(this, tr("Open File"), QString(), tr("Images (*.bin *.hex)"));
    ui->lineEdit_file->setText(path);
}

void Wireless_Video_Link::set_upgrade_lock(bool locked)
{
    // The page buttons among them keep the window on the Update page.
    QWidget* const controls[] = {
        ui->comboBox_downlink,     ui->pushButton_upgrade, ui->Select_file_button,
        ui->comboBox_freq,         ui->comboBox_RadioRate, ui->pushButton_auto,
        ui->pushButton_manual,     ui->radioButton_ppm,    ui->radioButton_sbus,
        ui->pushButton_infomation, ui->pushButton_status,  ui->pushButton_configure,
        ui->pushButton_frequency,  ui->switch_bind,
    };
    for (QWidget* w : controls)
        w->setEnabled(!locked);
}

void Wireless_Video_Link::pause_poll_for_upgrade()
{
    timer.stop();
    qDebug() << "mytimer stop";
    disconnect(&timer, &QTimer::timeout, this, &Wireless_Video_Link::poll_status);
    disconnect(&timer, &QTimer::timeout, this, &Wireless_Video_Link::on_timer_trigger);
}

void Wireless_Video_Link::resume_poll_after_upgrade()
{
    // Someone may have started it again meanwhile (a reconnection does):
    // then it is running and connected already.
    if (timer.isActive())
        return;
    timer.start();
    connect(&timer, &QTimer::timeout, this, &Wireless_Video_Link::poll_status, Qt::UniqueConnection);
    connect(&timer, &QTimer::timeout, this, &Wireless_Video_Link::on_timer_trigger,
            Qt::UniqueConnection);
}

void Wireless_Video_Link::on_pushButton_upgrade_clicked()
{
    const QString path = ui->lineEdit_file->text();
    if (path.isEmpty() || !QFileInfo(path).isFile() || !dev_handle)
        return;
    // One engine at a time, and not while the last one's end is pending.
    if (upgrade_busy)
        return;
    upgrade_busy = true;

    set_upgrade_lock(true);
    ui->label_update_message->setText(tr("updata starting"));

    // The previous engine has been joined by its end; nothing refers to it.
    delete upThread;
    upThread = new updateThread(this);
    upThread->set_file_path(path);
    upThread->set_dev_handle(dev_handle);

    pause_poll_for_upgrade();

    upgrade_connections = {
        connect(upThread, &updateThread::refresh_update_text, this,
                &Wireless_Video_Link::on_label_update_message_linkActivated),
        connect(upThread, &updateThread::refresh_horizen_value, this,
                &Wireless_Video_Link::set_processbar_value),
        connect(upThread, &updateThread::isdone, this, &Wireless_Video_Link::deal_update_done),
        connect(upThread, &updateThread::mcu2_update, this, &Wireless_Video_Link::deal_mcu2_update),
        connect(upThread, &updateThread::inqure_hi3798_version, this,
                &Wireless_Video_Link::deal_essert_hi3798_ver),
        connect(upThread, &updateThread::fpga_upfailed, this,
                &Wireless_Video_Link::mention_fpga_upgrade_failed),
        connect(upThread, &updateThread::mcu2_restart, this,
                &Wireless_Video_Link::mention_mcu2_upgrade_done),
        connect(this, &Wireless_Video_Link::deal_upthread_hi3798_require_done, upThread,
                &updateThread::essert_hi3798_ver),
        connect(upThread, &updateThread::refresh_debug_text, this,
                &Wireless_Video_Link::upgrade_debug_mes),
    };

    upThread->start(QThread::TimeCriticalPriority);
}

void Wireless_Video_Link::deal_update_done()
{
    for (const QMetaObject::Connection& c : qAsConst(upgrade_connections))
        disconnect(c);
    upgrade_connections.clear();
    if (upThread) {
        upThread->quit();
        upThread->wait();
    }
    delay_msec(kEndPauseMs);
    set_upgrade_lock(false);
    resume_poll_after_upgrade();
    upgrade_busy = false;
}

void Wireless_Video_Link::on_label_update_message_linkActivated(QString text)
{
    ui->label_update_message->setText(text);
}

void Wireless_Video_Link::set_processbar_value(int value)
{
    ui->progressBar->setValue(value);
}

void Wireless_Video_Link::upgrade_debug_mes(QString line)
{
    ui->textEdit_debug_message->append(line);
}

void Wireless_Video_Link::deal_essert_hi3798_ver()
{
    emit deal_upthread_hi3798_require_done(!hi3798_version.isEmpty());
}

void Wireless_Video_Link::mention_fpga_upgrade_failed()
{
    QMessageBox box(QMessageBox::Warning, tr("warning"), tr("Please don't power off and try again."),
                    QMessageBox::Ok);
    box.exec();
}

void Wireless_Video_Link::mention_mcu2_upgrade_done()
{
    QMessageBox box(QMessageBox::Information, tr("prompt"), tr("Please restart device."),
                    QMessageBox::Ok);
    box.exec();
}
