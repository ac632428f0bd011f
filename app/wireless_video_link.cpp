// The window frame: construction, navigation, retranslation, teardown.
#include "wireless_video_link.h"
#include "ui_wireless_video_link.h"

#include "encry_form.h"
#include "command_channel.h"
#include "link_tables.h"
#include "enable_switch.h"
#include "history_window.h"
#include "switch_button.h"
#include "unit_connection.h"
#include "update_thread.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDebug>
#include <QPen>
#include <QRegularExpression>
#include <QShortcut>
#include <QTextToSpeech>
#include <QtCharts/QChartView>

using namespace QtCharts;

namespace {
constexpr int kPollBufferSize = 64;

// The form binds slots by name; the window's slots that belong to no
// object of the form (they are connected by hand) would each draw a
// warning at every start. Those and only those are dropped.
QtMessageHandler g_previous_handler = nullptr;

// The window being built; a slot whose object exists in it but was not
// bound (a renamed signal, say) still gets its warning.
QWidget* g_building = nullptr;

void drop_unbound_slot_warnings(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    static const QRegularExpression unbound(
        QStringLiteral("^QMetaObject::connectSlotsByName: No matching signal for on_(\\w+)_[A-Za-z0-9]+\\("));
    if (type == QtWarningMsg) {
        const QRegularExpressionMatch m = unbound.match(message);
        if (m.hasMatch() && g_building && !g_building->findChild<QObject*>(m.captured(1)))
            return;
    }
    if (g_previous_handler)
        g_previous_handler(type, context, message);
}
} // namespace

Wireless_Video_Link::Wireless_Video_Link(QWidget* parent)
    : QWidget(parent)
{
    qRegisterMetaType<RSSI_Set>("RSSI_Set");

    ui = new Ui::Wireless_Video_Link;
    g_building = this;
    g_previous_handler = qInstallMessageHandler(&drop_unbound_slot_warnings);
    ui->setupUi(this);
    qInstallMessageHandler(g_previous_handler);
    g_building = nullptr;
    build_connection();
    // The layout's channel list is the 2.4 GHz one; each entry carries the
    // MHz it sends, whatever entries a unit later lacks.
    for (int i = 0; i < ui->comboBox_freq->count(); ++i)
        ui->comboBox_freq->setItemData(i, link::channel_mhz(24, i));

    logo.load(QStringLiteral(":/Black/logo.png"));
    ui->label_logo->setMaximumHeight(33);
    ui->label_logo->setScaledContents(true);
    ui->label_logo->setPixmap(logo);
    ui->label_logo->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);

    setWindowTitle(QStringLiteral("Quorlan"));
    ui->label_devpic->setStyleSheet(
        QStringLiteral("color: #4f3c89;border-radius: 10px;border: 2px solid #ecf0f6;")
        + QStringLiteral("image: url(:/Black/dev_picture.png);"));
    ui->widget_encry->hide();
    setWindowIcon(QIcon(QStringLiteral(":/Black/IT_USB.ico")));

    // The button's own shortcut only fires while the About page shows it;
    // the test page must be reachable from every page.
    test_shortcut = new QShortcut(QKeySequence(QStringLiteral("Ctrl+T")), this);
    connect(test_shortcut, &QShortcut::activated, this, &Wireless_Video_Link::on_test_show_clicked);
    ui->test_show->setShortcut(QKeySequence());

    ui->tabWidget->setCurrentWidget(ui->tab_status);
    ui->stackedWidget->setCurrentWidget(ui->page_info);

    build_button_groups();
    build_navigation();
    build_upgrade_page();
    build_file_places();
    build_feedback();
    // The statistics log read back, in a window of its own.
    connect(ui->pushButton_history, &QPushButton::clicked, this, [this] { HistoryWindow::show_window(this); });

    connect(ui->switch_bind, &enable_switch::checkedChanged, this, &Wireless_Video_Link::set_BindMode);
    connect(this, &Wireless_Video_Link::change_connect_label, ui->widget_status, &switch_button::setChecked);
    connect(this, &Wireless_Video_Link::bind_start, this, &Wireless_Video_Link::on_physical_Button_bind);
    connect(ui->widget_encry, &Encry_Form::set_encry, this, &Wireless_Video_Link::on_set_encrypt_key);
    connect(this, &Wireless_Video_Link::set_enable_crystatus, ui->widget_encry, &Encry_Form::set_encry_status);
    connect(this, &Wireless_Video_Link::set_encry_model, ui->widget_encry, &Encry_Form::set_encry_mode);
    connect(ui->widget_encry, &Encry_Form::enable_encry, this, &Wireless_Video_Link::on_set_encrypt_enable);

    poll_buffer = new unsigned char[kPollBufferSize]();

    build_scan_chart();

    ui->label_ETH_LOST->hide();
    ui->label_ETH_LOST_l->hide();
    ui->label_ETH_RECV->hide();
    ui->label_RECV_l->hide();
}

Wireless_Video_Link::~Wireless_Video_Link()
{
    close_log();
    delete ui;
    ui = nullptr;
    if (connection->is_open())
        open_device(false);
    delete[] poll_buffer;
    delete speech;
    // The series belongs to the chart once added; the chart owns the axes.
    if (scan_series && !scan_series->chart())
        delete scan_series;
    delete scan_chart;
    delete channel;
}

void Wireless_Video_Link::build_button_groups()
{
    auto make = [this](std::initializer_list<QAbstractButton*> buttons) {
        auto* group = new QButtonGroup(this);
        group->setExclusive(true);
        for (QAbstractButton* b : buttons)
            group->addButton(b);
        return group;
    };
    group_navigation = make({ui->pushButton_infomation, ui->pushButton_status, ui->pushButton_Update,
                             ui->pushButton_frequency, ui->pushButton_configure});
    group_band = make({ui->pushButton_manual, ui->pushButton_auto});
    group_datalink = make({ui->radioButton_usb, ui->radioButton_uart});
    group_rc_mode = make({ui->radioButton_ppm, ui->radioButton_sbus});
    group_identity = make({ui->radioButton_RO, ui->radioButton_RT});
    group_antenna = make({ui->pushButton_antenna_1, ui->pushButton_antenna_2});
}

void Wireless_Video_Link::build_navigation()
{
    const std::pair<QPushButton*, QWidget*> pages[] = {
        {ui->pushButton_infomation, ui->page_info},
        {ui->pushButton_status, ui->page_status},
        {ui->pushButton_configure, ui->page_config},
        {ui->pushButton_frequency, ui->page_frequency},
        {ui->pushButton_Update, ui->page_update},
    };
    for (const auto& [button, page] : pages) {
        QWidget* target = page;
        connect(button, &QPushButton::clicked, button,
                [this, target] { ui->stackedWidget->setCurrentWidget(target); });
    }
}

void Wireless_Video_Link::build_scan_chart()
{
    scan_series = new QSplineSeries();
    scan_series->setPen(QPen(QColor(0x4f, 0x3c, 0x89), 2));
    scan_chart = new QChart();
    axis_x = new QValueAxis();
    axis_y = new QValueAxis();

    axis_x->setRange(2400, 2500);
    axis_x->setLabelFormat(QStringLiteral("%g"));
    axis_x->setTitleText(tr("Frequency (MHz)"));
    axis_x->setMinorTickCount(3);

    axis_y->setRange(-100, 0);
    axis_y->setTitleText(tr("RSSI (dBm)"));
    axis_y->setLabelFormat(QStringLiteral("%i"));
    axis_y->setTickCount(5);
    axis_y->setGridLineVisible(true);

    scan_chart->addAxis(axis_x, Qt::AlignBottom);
    scan_chart->addAxis(axis_y, Qt::AlignLeft);
    scan_chart->legend()->hide();
    ui->chart_widget->setRenderHint(QPainter::Antialiasing, true);
    // The view comes with a chart of its own, which it gives up unowned.
    QChart* builtin = ui->chart_widget->chart();
    ui->chart_widget->setChart(scan_chart);
    delete builtin;
}

void Wireless_Video_Link::translateUI()
{
    // The form's retranslation rewrites combo items by index, as the form
    // built them. A list the unit has reshaped since (another band's
    // channels, entries taken out) would get wrong texts, and the index a
    // setting sends would no longer match what the user reads: such a list
    // keeps its items (they are all texts the catalogue keeps in English).
    // Texts and the values they carry (a channel's MHz).
    using Items = QVector<QPair<QString, QVariant>>;
    auto texts = [](const QComboBox* box) {
        Items list;
        for (int i = 0; i < box->count(); ++i)
            list.append({box->itemText(i), box->itemData(i)});
        return list;
    };
    auto restore = [](QComboBox* box, const Items& items) {
        const int current = box->currentIndex();
        box->clear();
        for (const auto& item : items)
            box->addItem(item.first, item.second);
        box->setCurrentIndex(current);
    };
    const Items channels = texts(ui->comboBox_freq);
    const Items rates = texts(ui->comboBox_downlink);
    const bool channels_reshaped = band_code != 24 || channels.size() != 16;
    const bool rates_reshaped = rates.size() != 9;

    ui->retranslateUi(this);
    ui->test_show->setShortcut(QKeySequence()); // the window-wide one serves

    if (channels_reshaped)
        restore(ui->comboBox_freq, channels);
    if (rates_reshaped)
        restore(ui->comboBox_downlink, rates);

    apply_feedback_texts();
    // The chart's axes are not part of the form.
    if (axis_x)
        axis_x->setTitleText(tr("Frequency (MHz)"));
    if (axis_y)
        axis_y->setTitleText(tr("RSSI (dBm)"));
}

void Wireless_Video_Link::on_test_show_clicked()
{
    // The test page has no navigation button: none may look current. An
    // exclusive group refuses to uncheck its checked button, so lift the
    // exclusivity for the moment.
    group_navigation->setExclusive(false);
    for (QAbstractButton* button : group_navigation->buttons())
        button->setChecked(false);
    group_navigation->setExclusive(true);
    ui->stackedWidget->setCurrentWidget(ui->page_test);
}

bool Wireless_Video_Link::eventFilter(QObject* watched, QEvent* event)
{
    return QWidget::eventFilter(watched, event);
}

void Wireless_Video_Link::paintEvent(QPaintEvent*)
{
}
