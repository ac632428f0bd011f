// What the window tells the operator besides the readings: the result of
// the last setting, which controls can act now, the page shortcuts and the
// language switch.
#include "wireless_video_link.h"
#include "ui_wireless_video_link.h"

#include "command_channel.h"
#include "enable_switch.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>

namespace {
constexpr int kResultShownMs = 6000;
} // namespace

void Wireless_Video_Link::build_feedback()
{
    // The pages scroll rather than hold the window at their full size, so
    // the tool fits a 1366 x 768 laptop screen (and the demo's two windows
    // side by side on it).
    if (auto* grid = qobject_cast<QGridLayout*>(ui->widget->layout())) {
        const int index = grid->indexOf(ui->stackedWidget);
        int row = 0, column = 0, rows = 1, columns = 1;
        if (index >= 0) {
            grid->getItemPosition(index, &row, &column, &rows, &columns);
            auto* scroll = new QScrollArea(ui->widget);
            scroll->setObjectName(QStringLiteral("scrollArea_pages"));
            scroll->setFrameShape(QFrame::NoFrame);
            scroll->setWidgetResizable(true);
            scroll->setStyleSheet(QStringLiteral("QScrollArea#scrollArea_pages { background: transparent; }"));
            grid->removeWidget(ui->stackedWidget);
            scroll->setWidget(ui->stackedWidget);
            scroll->viewport()->setAutoFillBackground(false);
            grid->addWidget(scroll, row, column, rows, columns);
        }
    }

    form_size = size();

    // A strip under the pages: the last setting's result on the left, the
    // test page's marker and the language switch on the right.
    auto* strip = new QWidget(this);
    strip->setObjectName(QStringLiteral("widget_feedback"));
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(12, 0, 12, 4);
    setting_result = new QLabel(strip);
    setting_result->setObjectName(QStringLiteral("label_setting_result"));
    setting_result->setWordWrap(true);
    test_page_marker = new QLabel(strip);
    test_page_marker->setObjectName(QStringLiteral("label_test_page_marker"));
    test_page_marker->hide();
    language_button = new QToolButton(strip);
    language_button->setObjectName(QStringLiteral("toolButton_language"));
    row->addWidget(setting_result, 1);
    row->addWidget(test_page_marker);
    row->addWidget(language_button);
    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addWidget(strip, grid->rowCount(), 0);

    result_timer = new QTimer(this);
    result_timer->setSingleShot(true);
    result_timer->setInterval(kResultShownMs);
    connect(result_timer, &QTimer::timeout, setting_result, &QLabel::clear);

    connect(language_button, &QToolButton::clicked, this, [this] {
        emit language_requested(!chinese_shown());
    });
    connect(ui->stackedWidget, &QStackedWidget::currentChanged, this,
            [this] { test_page_marker->setVisible(ui->stackedWidget->currentWidget() == ui->page_test); });

    // Ctrl+1 ... Ctrl+5 open the pages, in the order of their buttons; the
    // buttons take focus, so Tab and Space reach them too.
    const QPushButton* const buttons[] = {ui->pushButton_infomation, ui->pushButton_status,
                                          ui->pushButton_frequency, ui->pushButton_configure,
                                          ui->pushButton_Update};
    for (int i = 0; i < 5; ++i) {
        QPushButton* button = const_cast<QPushButton*>(buttons[i]);
        button->setFocusPolicy(Qt::StrongFocus);
        // Narrower than its text allows: the window may be narrower than
        // the title bar with every label (the buttons then show their icons).
        button->setMinimumWidth(button->iconSize().width() + 28);
        auto* key = new QShortcut(QKeySequence(Qt::CTRL | (Qt::Key_1 + i)), this);
        connect(key, &QShortcut::activated, button, [button] {
            if (button->isVisible() && button->isEnabled())
                button->click();
        });
    }
    apply_feedback_texts();
    apply_control_state();
}

void Wireless_Video_Link::mark_simulated()
{
    simulated = true;
    if (!simulated_banner) {
        simulated_banner = new QLabel(this);
        simulated_banner->setObjectName(QStringLiteral("label_simulated_banner"));
        simulated_banner->setAlignment(Qt::AlignCenter);
        simulated_banner->setStyleSheet(
            QStringLiteral("background: #8a5a00; color: white; font-weight: bold; padding: 4px;"));
        if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
            // Above the pages, across the window.
            QLayoutItem* pages = grid->itemAtPosition(0, 0);
            if (pages && pages->widget()) {
                QWidget* body = pages->widget();
                grid->removeWidget(body);
                auto* column = new QVBoxLayout;
                column->setContentsMargins(0, 0, 0, 0);
                column->setSpacing(0);
                column->addWidget(simulated_banner);
                column->addWidget(body, 1);
                grid->addLayout(column, 0, 0);
            }
        }
        simulated_banner->show();
    }
    apply_feedback_texts();
}

bool Wireless_Video_Link::chinese_shown() const
{
    // The form's own texts say which catalogue is in use.
    return tr("About") != QLatin1String("About");
}

void Wireless_Video_Link::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (ui && language_button)
        apply_compact_navigation();
}

void Wireless_Video_Link::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    auto* scroll = findChild<QScrollArea*>(QStringLiteral("scrollArea_pages"));
    if (fitted_to_pages || !scroll || !screen())
        return;
    fitted_to_pages = true;
    if (size() != form_size)
        return;
    layout()->activate();
    const QSize missing = (ui->stackedWidget->minimumSizeHint() - scroll->maximumViewportSize())
                              .expandedTo(QSize(0, 0));
    if (missing.isNull())
        return;
    // Room for the window's frame, which is not known before it is mapped.
    const QSize room = screen()->availableGeometry().size() - QSize(16, 48);
    resize((size() + missing).boundedTo(room).expandedTo(size()));
}

void Wireless_Video_Link::apply_compact_navigation()
{
    // Below this width the page buttons' labels would be cut: they show
    // their icons, and their names in the tool tips.
    constexpr int kCompactBelow = 1100;
    const bool compact = width() < kCompactBelow;
    for (QPushButton* button : {ui->pushButton_infomation, ui->pushButton_status, ui->pushButton_frequency,
                                ui->pushButton_configure, ui->pushButton_Update}) {
        if (!button->text().isEmpty())
            button->setProperty("full_text", button->text());
        const QString full = button->property("full_text").toString();
        button->setText(compact ? QString() : full);
    }
}

void Wireless_Video_Link::apply_feedback_texts()
{
    const std::pair<QPushButton*, const char*> tips[] = {
        {ui->pushButton_infomation, "Ctrl+1"}, {ui->pushButton_status, "Ctrl+2"},
        {ui->pushButton_frequency, "Ctrl+3"},  {ui->pushButton_configure, "Ctrl+4"},
        {ui->pushButton_Update, "Ctrl+5"},
    };
    for (const auto& [button, key] : tips) {
        if (!button->text().isEmpty())
            button->setProperty("full_text", button->text());
        button->setToolTip(tr("%1 (%2)").arg(button->property("full_text").toString(), QLatin1String(key)));
    }
    apply_compact_navigation();
    test_page_marker->setText(tr("Test page (Ctrl+T)"));
    if (simulated) {
        setWindowTitle(tr("Quorlan (simulated unit)"));
        simulated_banner->setText(
            tr("Simulated unit: nothing you do here reaches real hardware. Use quorlan for a real unit."));
    }
    language_button->setText(chinese_shown() ? QStringLiteral("English") : QStringLiteral("中文"));
    language_button->setToolTip(tr("Switch the language"));
    ui->switch_bind->setToolTip(tr("Pairing: on while the air and ground units are paired; click to pair"));
    ui->widget_status->setToolTip(tr("Connection: on while a ground unit is connected"));
    if (!setting_result->text().isEmpty())
        show_setting_result(int(channel->last_verdict()));
}

void Wireless_Video_Link::show_setting_result(int verdict)
{
    QString text;
    QString colour = QStringLiteral("#1b5e20");
    switch (CommandChannel::Verdict(verdict)) {
    case CommandChannel::Verdict::Done: text = tr("Setting confirmed by the unit."); break;
    case CommandChannel::Verdict::Sent: text = tr("Setting sent to the unit."); break;
    case CommandChannel::Verdict::Rejected:
        text = tr("The unit rejected the setting; it keeps its previous value, which the page shows again "
                  "at the next reading.");
        colour = QStringLiteral("#b3261e");
        break;
    case CommandChannel::Verdict::Unconfirmed:
        text = tr("The unit did not confirm the setting in time; the page shows what it reports.");
        colour = QStringLiteral("#8a5a00");
        break;
    case CommandChannel::Verdict::Failed:
        text = tr("The setting did not reach the unit.");
        colour = QStringLiteral("#b3261e");
        break;
    case CommandChannel::Verdict::NotSent:
        text = connection_is_open() ? tr("Not sent: an upgrade is running.") : tr("Not sent: no unit is connected.");
        colour = QStringLiteral("#b3261e");
        break;
    }
    setting_result->setStyleSheet(QStringLiteral("color: %1;").arg(colour));
    setting_result->setText(text);
    result_timer->start();
}

void Wireless_Video_Link::apply_control_state()
{
    const bool connected = connection_is_open();
    // Readings of a unit that is gone are greyed until one is back.
    for (QWidget* w : {static_cast<QWidget*>(ui->widget_air_rssi), static_cast<QWidget*>(ui->widget_ground_rssi),
                       static_cast<QWidget*>(ui->widget_a_power), static_cast<QWidget*>(ui->widget_g_power),
                       static_cast<QWidget*>(ui->label_a_status), static_cast<QWidget*>(ui->label_g_status),
                       static_cast<QWidget*>(ui->widget_signal_bar), static_cast<QWidget*>(ui->tab_status),
                       static_cast<QWidget*>(ui->widget_freqstatus), static_cast<QWidget*>(ui->stackedWidget_freq)})
        w->setEnabled(connected);
    // Controls that send something need a unit, and are locked while the
    // engine runs.
    const bool may_set = connected && !upgrade_locked;
    for (QWidget* w : {static_cast<QWidget*>(ui->widget_config_2), static_cast<QWidget*>(ui->groupBox_technician),
                       static_cast<QWidget*>(ui->comboBox_region), static_cast<QWidget*>(ui->pushButton_antenna_1),
                       static_cast<QWidget*>(ui->pushButton_antenna_2),
                       static_cast<QWidget*>(ui->pushButton_antenna_test)})
        w->setEnabled(may_set);
}
