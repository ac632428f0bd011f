// The Update page: choosing an image (the dialog, typing, a drop), asking
// before flashing, starting the upgrade engine, showing its progress and
// what failed, and giving the window back when it is done.
#include "wireless_video_link.h"
#include "ui_wireless_video_link.h"

#include "file_places.h"
#include "poll_control.h"
#include "unit_connection.h"
#include "update_thread.h"
#include "upgrade_control.h"
#include "usb_transport.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QShortcut>
#include <QStyle>
#include <QVBoxLayout>

namespace {
constexpr int kEndPauseMs = 5000;

// A dynamic property's new value only shows once the style looks again.
void repolish(QWidget* w)
{
    w->style()->unpolish(w);
    w->style()->polish(w);
    w->update();
}
} // namespace

void Wireless_Video_Link::on_Select_file_button_clicked()
{
    const QString path =
        upgrade_ui::open_file_function()(this, tr("Open File"), last_image_folder, tr("Images (*.bin *.hex)"));
    // Something new is chosen: the last run's failure has been seen.
    upgrade_failure_shown = false;
    ui->lineEdit_file->setText(path);
    // Chosen again unchanged, the file may have changed on disk meanwhile.
    show_image_info();
}

void Wireless_Video_Link::build_upgrade_page()
{
    // Under the message, in its cell: what failed in the last run, and a run
    // an earlier start of the tool did not see to its end.
    upgrade_failure = new QLabel(ui->frame_2);
    upgrade_failure->setObjectName(QStringLiteral("label_upgrade_failure"));
    upgrade_failure->setWordWrap(true);
    upgrade_failure->setStyleSheet(QStringLiteral("color: #b3261e; font-weight: bold;"));
    upgrade_failure->hide();
    upgrade_interrupted = new QLabel(ui->frame_2);
    upgrade_interrupted->setObjectName(QStringLiteral("label_upgrade_interrupted"));
    upgrade_interrupted->setWordWrap(true);
    upgrade_interrupted->setStyleSheet(QStringLiteral("color: #8a5a00;"));
    upgrade_interrupted->hide();
    if (auto* grid = qobject_cast<QGridLayout*>(ui->frame_2->layout())) {
        int row = 0, column = 0, rows = 1, columns = 1;
        grid->getItemPosition(grid->indexOf(ui->label_update_message), &row, &column, &rows, &columns);
        grid->removeWidget(ui->label_update_message);
        auto* lines = new QVBoxLayout;
        lines->setContentsMargins(0, 0, 0, 0);
        lines->setSpacing(4);
        lines->addWidget(ui->label_update_message);
        lines->addWidget(upgrade_failure);
        lines->addWidget(upgrade_interrupted);
        grid->addLayout(lines, row, column, rows, columns);
    }
    file_places::on_events(upgrade_failure, {QEvent::LanguageChange}, [this] {
        if (!upgrade_failure->isHidden())
            upgrade_failure->setText(upgrade_ui::failure_text(upgrade_failure->property("stage").toInt(),
                                                              upgrade_failure->property("type").toUInt()));
    });
    // The failed state is red; the purple of the style sheet is progress.
    ui->progressBar->setProperty("failed", false);
    ui->progressBar->setStyleSheet(QStringLiteral("QProgressBar[failed=\"true\"]::chunk { background: #b3261e; }"));

    // Whatever sets the path (the dialog, typing, a paste, a drop), the
    // page says what the file holds before the upgrade is started.
    connect(ui->lineEdit_file, &QLineEdit::textChanged, this, [this](const QString& path) {
        upgrade_failure_shown = false;
        if (!path.isEmpty() && QFileInfo(path).isFile())
            last_image_folder = QFileInfo(path).absolutePath();
        show_image_info();
    });
    // Dropped over the path field too: the window takes it, not as text.
    setAcceptDrops(true);
    ui->lineEdit_file->setAcceptDrops(false);
    file_places::on_events(ui->label_image_info, {QEvent::LanguageChange}, [this] { show_image_info(); });
    show_image_info();

    auto update_tools = [this] {
        const bool any = !ui->textEdit_debug_message->document()->isEmpty();
        ui->pushButton_copy_debug->setEnabled(any);
        ui->pushButton_save_debug->setEnabled(any);
    };
    connect(ui->textEdit_debug_message, &QTextEdit::textChanged, this, update_tools);
    update_tools();

    // An earlier start was killed, or lost its power, during an upgrade.
    const upgrade_ui::UpgradeRecord record = upgrade_ui::read_upgrade_record();
    if (record.present) {
        auto say = [this, record] { upgrade_interrupted->setText(upgrade_ui::interrupted_text(record)); };
        say();
        upgrade_interrupted->show();
        file_places::on_events(upgrade_interrupted, {QEvent::LanguageChange}, say);
        file_places::on_events(this, {QEvent::Show}, [this] { show_interrupted_upgrade(); });
    }
}

void Wireless_Video_Link::show_interrupted_upgrade()
{
    // Said once, when the operator first sees the window; the line stays on
    // the Update page until the next upgrade.
    if (interrupted_said || upgrade_interrupted->isHidden())
        return;
    interrupted_said = true;
    upgrade_ui::remove_upgrade_record();
    auto* box = new QMessageBox(QMessageBox::Warning, tr("warning"), upgrade_interrupted->text(), QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

void Wireless_Video_Link::update_upgrade_button()
{
    ui->pushButton_upgrade->setEnabled(!upgrade_locked && image_accepted);
}

void Wireless_Video_Link::show_upgrade_failure(int stage, uint32_t type)
{
    upgrade_failure->setProperty("stage", stage);
    upgrade_failure->setProperty("type", type);
    upgrade_failure->setText(upgrade_ui::failure_text(stage, type));
    upgrade_failure->show();
    ui->progressBar->setProperty("failed", true);
    repolish(ui->progressBar);
}

void Wireless_Video_Link::clear_upgrade_failure()
{
    upgrade_failure->clear();
    upgrade_failure->hide();
    ui->progressBar->setProperty("failed", false);
    repolish(ui->progressBar);
}

void Wireless_Video_Link::dragEnterEvent(QDragEnterEvent* event)
{
    if (!upgrade_busy && !upgrade_ui::dropped_image_path(event->mimeData()->urls()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void Wireless_Video_Link::dropEvent(QDropEvent* event)
{
    const QString path = upgrade_ui::dropped_image_path(event->mimeData()->urls());
    if (upgrade_busy || path.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // As chosen in the dialog: something new, described afresh, and the
    // page that describes it in front.
    upgrade_failure_shown = false;
    ui->lineEdit_file->setText(path);
    show_image_info();
    ui->pushButton_Update->click();
}

void Wireless_Video_Link::show_image_info()
{
    const upgrade_ui::ImageDescription d = upgrade_ui::describe_image_file(ui->lineEdit_file->text());
    ui->label_image_info->setText(d.text);
    ui->label_image_info->setProperty("refused", d.refused);
    ui->label_image_info->setStyleSheet(d.refused ? QStringLiteral("color: #b3261e;") : QString());
    ui->label_image_info->setVisible(!d.text.isEmpty());
    image_accepted = !d.refused && !d.targets.isEmpty();
    update_upgrade_button();
}

void Wireless_Video_Link::on_pushButton_copy_debug_clicked()
{
    QGuiApplication::clipboard()->setText(ui->textEdit_debug_message->toPlainText());
}

void Wireless_Video_Link::on_pushButton_save_debug_clicked()
{
    const QString suggested = QDir::home().filePath(
        QStringLiteral("upgrade_%1.txt")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_hhmmss"))));
    const QString path = upgrade_ui::save_file_function()(this, tr("Save debug messages"), suggested,
                                     tr("Text files (*.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    QString text = ui->textEdit_debug_message->toPlainText();
    if (!text.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    QString error;
    if (upgrade_ui::write_text_file(path, text, &error))
        return;
    QMessageBox box(QMessageBox::Warning, tr("warning"),
                    tr("The debug messages could not be saved to %1: %2").arg(path, error),
                    QMessageBox::Ok, this);
    box.exec();
}

void Wireless_Video_Link::set_upgrade_lock(bool locked)
{
    // The page buttons among them keep the window on the Update page; the
    // test page's shortcut would lead to its technician settings, and the
    // encryption form sends a key. The command channel refuses every
    // setting while the engine runs besides, whatever control asks.
    QWidget* const controls[] = {
        ui->comboBox_downlink,     ui->pushButton_upgrade, ui->Select_file_button,
        ui->comboBox_freq,         ui->comboBox_RadioRate, ui->pushButton_auto,
        ui->pushButton_manual,     ui->radioButton_ppm,    ui->radioButton_sbus,
        ui->pushButton_infomation, ui->pushButton_status,  ui->pushButton_configure,
        ui->pushButton_frequency,  ui->switch_bind,        ui->groupBox_technician,
        ui->widget_encry,          ui->test_show,
    };
    for (QWidget* w : controls)
        w->setEnabled(!locked);
    test_shortcut->setEnabled(!locked);
    upgrade_locked = locked;
    apply_control_state();
    update_upgrade_button();
}

void Wireless_Video_Link::pause_poll_for_upgrade()
{
    poll->pause(PollControl::Upgrade);
    qDebug() << "mytimer stop";
    // Not even a stray start of the timer may poll under the engine.
    disconnect(&timer, &QTimer::timeout, this, &Wireless_Video_Link::poll_status);
    disconnect(&timer, &QTimer::timeout, this, &Wireless_Video_Link::on_timer_trigger);
}

void Wireless_Video_Link::resume_poll_after_upgrade()
{
    // Whatever ran meanwhile (a setting's end, a reconnection), only the
    // upgrade's own hold goes; the poll runs if the unit is there.
    connect(&timer, &QTimer::timeout, this, &Wireless_Video_Link::poll_status, Qt::UniqueConnection);
    connect(&timer, &QTimer::timeout, this, &Wireless_Video_Link::on_timer_trigger, Qt::UniqueConnection);
    poll->resume(PollControl::Upgrade);
}

void Wireless_Video_Link::on_pushButton_upgrade_clicked()
{
    const QString path = ui->lineEdit_file->text();
    if (path.isEmpty() || !QFileInfo(path).isFile() || !connection->is_open())
        return;
    // One engine at a time, and not while the last one's end is pending.
    if (upgrade_busy)
        return;
    upgrade_busy = true;

    // What goes into which unit, before anything is sent.
    const upgrade_ui::UnitSummary unit{unit_type, serial_number, ui->label_info_firm->text(),
                                       ui->label_info_fpga->text(), hi3798_version};
    const bool go = upgrade_ui::confirm_upgrade_function()(
        this, tr("Upgrade"), upgrade_ui::confirmation_text(unit, path, upgrade_ui::describe_image_file(path)));
    // The unit may have gone while the question was open.
    if (!go || !connection->is_open()) {
        upgrade_busy = false;
        return;
    }
    upgrade_failure_shown = false;
    clear_upgrade_failure();
    upgrade_interrupted->hide();

    set_upgrade_lock(true);
    ui->label_update_message->setText(tr("updata starting"));
    ui->textEdit_debug_message->append(
        tr("---- upgrade of %1, %2 ----")
            .arg(QFileInfo(path).fileName(),
                 QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))));
    // Kept until the engine reports its end: a start after a crash or a
    // power loss finds it.
    upgrade_ui::record_upgrade_start(QFileInfo(path).absoluteFilePath(), serial_number);

    // The previous engine has been joined by its end; nothing refers to it.
    delete upThread;
    upThread = new updateThread(this);
    upThread->set_file_path(path);
    upThread->set_dev_handle(connection->handle());

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
        connect(upThread, &updateThread::target_started, this,
                [](uint type) { upgrade_ui::record_upgrade_target(type); }),
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
        // Set before the pause: a reconnection during it must not wipe
        // the reason off the page.
        upgrade_failure_shown = !upThread->succeeded();
        if (upgrade_failure_shown && !upgrade_closing)
            show_upgrade_failure(int(upThread->failed_stage()), upThread->failed_type());
        // A run stopped by closing the window may have left a part half
        // written: its record stays for the next start to mention.
        if (!upgrade_closing)
            upgrade_ui::remove_upgrade_record();
    }
    // A window closing over a stopped upgrade has nothing to show.
    if (!upgrade_closing)
        upgrade_ui::end_pause_function()(kEndPauseMs);
    set_upgrade_lock(false);
    resume_poll_after_upgrade();
    upgrade_busy = false;
    upgrade_closing = false;
}

void Wireless_Video_Link::reset_upgrade_page_on_connect()
{
    // A run's texts are its own until its end has been handled, and a
    // failure stays until the user starts something new: the unit coming
    // back (the second controller after the engine gave up on it) is not
    // an answer to it.
    if (upgrade_busy || mcu2_restarting || upgrade_failure_shown)
        return;
    ui->label_update_message->clear();
    ui->progressBar->setValue(0);
    clear_upgrade_failure();
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
    if (upgrade_closing)
        return;
    QMessageBox box(QMessageBox::Warning, tr("warning"), tr("Please don't power off and try again."),
                    QMessageBox::Ok);
    box.exec();
}

void Wireless_Video_Link::mention_mcu2_upgrade_done()
{
    if (upgrade_closing)
        return;
    QMessageBox box(QMessageBox::Information, tr("prompt"), tr("Please restart device."),
                    QMessageBox::Ok);
    box.exec();
}

void Wireless_Video_Link::closeEvent(QCloseEvent* event)
{
    if (!upThread || !upThread->isRunning()) {
        QWidget::closeEvent(event);
        return;
    }
    const bool close_anyway = upgrade_ui::close_question_function()(
        this, tr("warning"),
        tr("An upgrade is running. Closing now stops it part-way and may leave the unit without working "
           "firmware until it is upgraded again. Close anyway?"));
    if (!close_anyway) {
        event->ignore();
        return;
    }
    // The run may have ended while the question was open.
    if (upThread && upThread->isRunning()) {
        qDebug() << "window closing: upgrade stopped by the user";
        upgrade_closing = true;
        // The engine stops before its next request or pause; at most the
        // transfer in flight is waited for.
        upThread->requestInterruption();
        upThread->wait();
    }
    QWidget::closeEvent(event);
}
