#include "binding_dialog.h"
#include "ui_binding_dialog.h"

#include "request_codes.h"
#include "usb_transport.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QHBoxLayout>
#include <QPointer>

namespace {
constexpr int kDevStatusSize = 64;
constexpr int kBindByteOffset = 27;
constexpr unsigned char kBound = 1;
constexpr int kResultShownMs = 1000;
Binding_Dialog::WaitFunction g_test_wait = nullptr;
} // namespace

void Binding_Dialog::set_test_clock(WaitFunction wait)
{
    g_test_wait = wait;
}

void Binding_Dialog::wait(int ms)
{
    if (g_test_wait)
        g_test_wait(ms);
    else
        delay_msec(ms);
}

Binding_Dialog::Binding_Dialog(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::Binding_Dialog)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    ui->binding_progressBar->setRange(0, kTickLimit);
    ui->binding_progressBar->setValue(0);
    ui->label->setText(tr("Binding..."));

    // How long the wait can still last, and a way out of it.
    time_left = new QLabel(this);
    time_left->setObjectName(QStringLiteral("label_time_left"));
    time_left->setAlignment(Qt::AlignCenter);
    cancel_button = new QPushButton(tr("Cancel"), this);
    cancel_button->setObjectName(QStringLiteral("pushButton_cancel"));
    cancel_button->setAutoDefault(false);
    // In the form's bottom margin, so the dialog keeps its size.
    auto* row = new QWidget(this);
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    line->addWidget(time_left, 1);
    line->addWidget(cancel_button);
    const QMargins m = layout() ? layout()->contentsMargins() : QMargins(20, 0, 20, 60);
    row->setGeometry(m.left(), height() - m.bottom() + 8, width() - m.left() - m.right(), m.bottom() - 16);
    connect(cancel_button, &QPushButton::clicked, this, &Binding_Dialog::reject);
    show_time_left();

    // The status read of a tick must come before its count.
    tick_timer.setInterval(kTickMs);
    connect(&tick_timer, &QTimer::timeout, this, &Binding_Dialog::get_bstatus);
    connect(&tick_timer, &QTimer::timeout, this, &Binding_Dialog::deal_timer);
    if (!g_test_wait)
        tick_timer.start();
}

Binding_Dialog::~Binding_Dialog()
{
    delete ui;
}

void Binding_Dialog::reject()
{
    if (ended)
        return;
    closing = true;
    ended = true;
    tick_timer.stop();
    ui->label->setText(tr("Bind cancelled"));
    accept();
    emit bind_done();
}

void Binding_Dialog::show_time_left()
{
    time_left->setText(tr("%1 s left").arg(kTickLimit - seconds_counter));
}

void Binding_Dialog::deal_timer()
{
    if (closing)
        return;
    if (seconds_counter >= kTickLimit || bound) {
        finish_binding();
        return;
    }
    ++seconds_counter;
    ui->binding_progressBar->setValue(seconds_counter);
    show_time_left();
}

void Binding_Dialog::deal_binded()
{
    bound = true;
}

void Binding_Dialog::_end_binding()
{
    if (ended)
        return;
    ended = true;
    QPointer<Binding_Dialog> self(this);
    wait(kResultShownMs);
    if (!self)
        return;
    accept();
    emit bind_done();
}

void Binding_Dialog::get_bstatus()
{
    if (closing)
        return;
    if (!dev_handle) {
        closing = true;
        tick_timer.stop();
        QMessageBox::warning(this, QStringLiteral("error"), QStringLiteral("Device has been pulled out!"),
                             QMessageBox::Ok);
        _end_binding();
        return;
    }
    unsigned char status[kDevStatusSize] = {};
    if (usb_vendor_transfer(dev_handle, usb::kDirIn, usb::kRecipientInterface, req::DevStatus, 0, 0, status,
                            kDevStatusSize, usb::kReadTimeoutMs)
        < 0) {
        tick_timer.stop();
        finish_binding();
        return;
    }
    if (status[kBindByteOffset] == kBound)
        bound = true;
}

void Binding_Dialog::finish_binding()
{
    if (closing)
        return;
    closing = true;
    tick_timer.stop();
    cancel_button->setEnabled(false);
    if (bound) {
        ui->binding_progressBar->setValue(kBoundProgress);
        ui->label->setText(tr("Bind success"));
    } else {
        ui->label->setText(tr("Bind failed"));
    }
    _end_binding();
}
