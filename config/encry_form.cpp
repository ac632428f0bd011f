#include "encry_form.h"
#include "ui_encry_form.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QStyleOption>

Encry_Form::Encry_Form(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::Encry_Form)
{
    ui->setupUi(this);
    // No key can be typed until a mode is known (chosen here or reported
    // by the unit); the .ui already starts the field read-only.
    ui->lineEdit_encry->setReadOnly(true);

    // The key is hidden as it is typed, with a switch to look at it and a
    // count of the characters against the mode's length.
    ui->lineEdit_encry->setEchoMode(QLineEdit::Password);
    show_key = new QCheckBox(this);
    show_key->setObjectName(QStringLiteral("checkBox_show_key"));
    key_count = new QLabel(this);
    key_count->setObjectName(QStringLiteral("label_key_count"));
    key_count->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(key_count);
    row->addWidget(show_key);
    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addLayout(row, 0, 1);
    connect(show_key, &QCheckBox::toggled, this, [this](bool on) {
        ui->lineEdit_encry->setEchoMode(on ? QLineEdit::Normal : QLineEdit::Password);
    });
    connect(ui->lineEdit_encry, &QLineEdit::textChanged, this, &Encry_Form::show_key_count);
    retranslate_extras();
}

Encry_Form::~Encry_Form()
{
    delete ui;
}

void Encry_Form::apply_key_length(quint8 length)
{
    key_length = length;
    ui->lineEdit_encry->setReadOnly(false);
    ui->lineEdit_encry->setMaxLength(length);
    show_key_count();
}

void Encry_Form::show_key_count()
{
    const int typed = ui->lineEdit_encry->text().length();
    key_count->setText(key_length ? QStringLiteral("%1/%2").arg(typed).arg(key_length) : QString());
}

void Encry_Form::retranslate_extras()
{
    show_key->setText(tr("Show"));
    show_key->setToolTip(tr("Show the key as it is typed"));
}

// The enable state is shown nowhere in this form.
void Encry_Form::set_encry_status(bool)
{
}

// The unit's report: follow it silently, unless the user has just chosen
// another mode and not sent a key yet. The poll keeps running meanwhile;
// the choice only holds the form for a while, so a choice left unsent does
// not hide the unit's real mode for good.
void Encry_Form::set_encry_mode(int mode)
{
    if (user_choice.isValid() && user_choice.elapsed() < kChoiceHoldMs)
        return;
    user_choice.invalidate();
    if (mode == 0) {
        ui->radioButton_AES128->setChecked(true);
        apply_key_length(16);
    } else if (mode == 1) {
        ui->radioButton_AES256->setChecked(true);
        apply_key_length(32);
    }
}

// The form has no check box; kept for the slot table of the class.
void Encry_Form::on_checkBox_encry_stateChanged(int)
{
}

void Encry_Form::on_radioButton_AES128_clicked()
{
    apply_key_length(16);
    user_choice.start();
    emit change_encry_mode();
}

void Encry_Form::on_radioButton_AES256_clicked()
{
    apply_key_length(32);
    user_choice.start();
    emit change_encry_mode();
}

void Encry_Form::on_pushButton_encry_clicked()
{
    const QString key = ui->lineEdit_encry->text();
    if (key_length != 0 && key.length() == key_length) {
        // From now on the unit's report says what it took.
        user_choice.invalidate();
        emit set_encry(key);
        return;
    }
    if (key_length == 16) {
        QMessageBox::warning(nullptr, tr("warning"), tr("Key length must be 16"),
                             QMessageBox::Yes, QMessageBox::Yes);
    } else if (key_length == 32) {
        QMessageBox::warning(nullptr, tr("warning"), tr("Key length must be 32"),
                             QMessageBox::Yes, QMessageBox::Yes);
    }
}

void Encry_Form::on_checkBox_encry_clicked()
{
}

// A plain QWidget subclass ignores style-sheet backgrounds unless it asks
// the style to draw them.
void Encry_Form::paintEvent(QPaintEvent *)
{
    QStyleOption opt;
    opt.initFrom(this);
    QPainter p(this);
    style()->drawPrimitive(QStyle::PE_Widget, &opt, &p, this);
}

void Encry_Form::hideEvent(QHideEvent *event)
{
    // Left without sending: the form shows the unit's mode again.
    user_choice.invalidate();
    QWidget::hideEvent(event);
}

void Encry_Form::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        retranslate_extras();
    }
    QWidget::changeEvent(event);
}
