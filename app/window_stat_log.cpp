// The main window's side of the statistics log: the switch, and one row
// per poll while recording is on.
#include "wireless_video_link.h"
#include "ui_wireless_video_link.h"

#include "stat_log.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QLabel>
#include <QDebug>
#include <QSignalBlocker>

void Wireless_Video_Link::set_record_enabled(bool on)
{
    record_enabled = on;
    show_record_problem(QString());
    if (on) {
        if (open_log(serial_number) < 0) {
            record_enabled = false;
            qDebug() << "creat record file failed!" << Qt::endl;
            show_record_problem(tr("Not recording: %1").arg(statlog::last_failure()));
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

void Wireless_Video_Link::record_row_failed()
{
    // Nothing is written any more: the switch says so, and why. The file
    // is left as it is (a foreign file or table is never changed).
    const QString why = statlog::last_failure();
    set_record_enabled(false);
    show_record_problem(tr("Recording stopped: %1").arg(why));
}

void Wireless_Video_Link::show_record_problem(const QString& text)
{
    if (!record_problem) {
        record_problem = new QLabel(ui->checkBox_record->parentWidget());
        record_problem->setObjectName(QStringLiteral("label_record_problem"));
        record_problem->setStyleSheet(QStringLiteral("color: #b3261e;"));
        record_problem->setWordWrap(true);
        if (auto* row = qobject_cast<QBoxLayout*>(ui->horizontalLayout_record))
            row->addWidget(record_problem, 1);
    }
    record_problem->setText(text);
    record_problem->setVisible(!text.isEmpty());
}
