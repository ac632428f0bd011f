// The main window's side of the statistics log: the switch, and one row
// per poll while recording is on.
#include "wireless_video_link.h"
#include "ui_wireless_video_link.h"

#include "stat_log.h"

#include <QCheckBox>
#include <QDebug>
#include <QSignalBlocker>

void Wireless_Video_Link::set_record_enabled(bool on)
{
    record_enabled = on;
    if (on) {
        if (open_log(serial_number) < 0) {
            record_enabled = false;
            qDebug() << "creat record file failed!" << Qt::endl;
        }
    } else {
        close_log();
    }
    // The switch shows what really happens: a log that cannot be opened
    // leaves recording off.
    if (ui && ui->checkBox_record->isChecked() != record_enabled) {
        const QSignalBlocker block(ui->checkBox_record);
        ui->checkBox_record->setChecked(record_enabled);
    }
}

void Wireless_Video_Link::on_checkBox_record_toggled(bool checked)
{
    if (checked != record_enabled)
        set_record_enabled(checked);
}

int Wireless_Video_Link::open_log(QString serial)
{
    return statlog::open_log(serial);
}

void Wireless_Video_Link::close_log()
{
    statlog::close_log();
}

int Wireless_Video_Link::insert_log_row()
{
    return statlog::insert_row(statlog::make_log_record(poll_buffer, dev_status2_kept.data()),
                               statlog::current_time_key());
}
