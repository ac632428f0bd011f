#include "history_window.h"
#include "ui_history_window.h"

#include "history_plot.h"
#include "history_reader.h"
#include "stat_log.h"

#include <QCheckBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QPainter>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtCharts/QChart>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cmath>

using namespace QtCharts;
using namespace history;

QPointer<HistoryWindow> HistoryWindow::instance;

namespace {

const char kDateTime[] = "yyyy-MM-dd HH:mm:ss";
const char kTime[] = "HH:mm:ss";
constexpr qint64 kMinSpanMs = 10000;

QString when(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QLatin1String(kDateTime));
}

QString minute(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString time_of(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QLatin1String(kTime));
}

QString dialog_open(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
{
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QString dialog_save(QWidget* parent, const QString& caption, const QString& path, const QString& filter)
{
    return QFileDialog::getSaveFileName(parent, caption, path, filter);
}

// The smallest and largest value of some series, NaN when they have none.
std::pair<double, double> extent(const std::array<QVector<QPointF>, SeriesCount>& full,
                                 std::initializer_list<SeriesId> ids)
{
    double lo = NAN, hi = NAN;
    for (SeriesId id : ids)
        for (const QPointF& p : full[size_t(id)]) {
            if (std::isnan(p.y()))
                continue;
            lo = std::isnan(lo) ? p.y() : std::min(lo, p.y());
            hi = std::isnan(hi) ? p.y() : std::max(hi, p.y());
        }
    return {lo, hi};
}

constexpr int kTicks = 5;

// A range around [lo, hi] whose kTicks ticks fall on round numbers, so
// that the axes on either side share the grid lines.
std::pair<double, double> nice_range(double lo, double hi)
{
    const double span = std::max(hi - lo, 1e-9) / (kTicks - 1);
    const double magnitude = std::pow(10.0, std::floor(std::log10(span)));
    double step = magnitude;
    for (double m : {1.0, 1.5, 2.0, 2.5, 3.0, 4.0, 5.0, 6.0, 8.0, 10.0}) {
        step = m * magnitude;
        if (std::floor(lo / step) * step + step * (kTicks - 1) >= hi)
            break;
    }
    const double first = std::floor(lo / step) * step;
    return {first, first + step * (kTicks - 1)};
}

void set_range(QValueAxis* axis, double lo, double hi)
{
    const auto [from, to] = nice_range(lo, hi);
    axis->setRange(from, to);
}

} // namespace

HistoryWindow::HistoryWindow(QWidget* parent)
    : QWidget(parent)
    , open_dialog(dialog_open)
    , save_dialog(dialog_save)
    , ui(new Ui::HistoryWindow)
{
    ui->setupUi(this);
    ui->splitter->setStretchFactor(0, 0);
    ui->splitter->setStretchFactor(1, 1);
    ui->widget_lists->setMinimumWidth(340);
    ui->splitter->setSizes({450, 830});
    ui->label_message->hide();
    ui->label_date_note->hide();
    // Two lines of values: the layout stays put while the mouse moves.
    ui->label_readout->setMinimumHeight(2 * ui->label_readout->fontMetrics().lineSpacing());
    for (QTreeWidget* list : {ui->treeWidget_units, ui->treeWidget_recordings})
        list->setSelectionMode(QAbstractItemView::SingleSelection);

    build_plot();
    name_plot();

    refresh_timer.setSingleShot(true);
    refresh_timer.setInterval(0);
    connect(&refresh_timer, &QTimer::timeout, this, &HistoryWindow::refresh_series);

    connect(ui->pushButton_open, &QPushButton::clicked, this, [this] {
        const QString start = log ? QFileInfo(log->path()).absolutePath()
                                  : QFileInfo(statlog::database_path()).absolutePath();
        const QString path = open_dialog(this, tr("Open a statistics log"), start,
                                         tr("Statistics logs (*.db *.sqlite *.sqlite3);;All files (*)"));
        if (!path.isEmpty())
            open_file(path);
    });
    connect(ui->pushButton_own_log, &QPushButton::clicked, this, &HistoryWindow::open_own_log);
    connect(ui->pushButton_reload, &QPushButton::clicked, this, &HistoryWindow::reload);
    connect(ui->pushButton_reset_zoom, &QPushButton::clicked, this, &HistoryWindow::reset_zoom);
    connect(ui->pushButton_export_csv, &QPushButton::clicked, this, &HistoryWindow::export_csv);
    connect(ui->pushButton_save_png, &QPushButton::clicked, this, &HistoryWindow::save_png);
    connect(ui->treeWidget_units, &QTreeWidget::itemSelectionChanged, this, [this] {
        const QList<QTreeWidgetItem*> items = ui->treeWidget_units->selectedItems();
        if (!items.isEmpty())
            choose_table(ui->treeWidget_units->indexOfTopLevelItem(items.first()));
    });
    connect(ui->treeWidget_recordings, &QTreeWidget::itemSelectionChanged, this, [this] {
        const QList<QTreeWidgetItem*> items = ui->treeWidget_recordings->selectedItems();
        if (!items.isEmpty())
            choose_recording(ui->treeWidget_recordings->indexOfTopLevelItem(items.first()));
    });
    clear_recording();
}

HistoryWindow::~HistoryWindow()
{
    delete ui;
}

HistoryWindow* HistoryWindow::show_window(QWidget* owner)
{
    if (!instance) {
        instance = new HistoryWindow;
        instance->setAttribute(Qt::WA_DeleteOnClose);
        // Closing the tool's main window ends the tool, this one open or not.
        instance->setAttribute(Qt::WA_QuitOnClose, false);
        if (owner)
            connect(owner, &QObject::destroyed, instance.data(), &QWidget::close);
        instance->open_own_log();
    }
    instance->show();
    instance->raise();
    instance->activateWindow();
    return instance;
}

// ---- the plot

void HistoryWindow::build_plot()
{
    chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignTop);
    chart->setMargins(QMargins(4, 4, 4, 4));
    axis_time = new QDateTimeAxis;
    axis_time->setTickCount(7);
    chart->addAxis(axis_time, Qt::AlignBottom);
    auto value_axis = [this](Qt::Alignment side, const QColor& colour) {
        auto* a = new QValueAxis;
        a->setLabelFormat(QStringLiteral("%g"));
        a->setTickCount(kTicks);
        a->setTitleBrush(colour);
        a->setLabelsColor(colour);
        chart->addAxis(a, side);
        return a;
    };
    axis_rssi = value_axis(Qt::AlignLeft, QColor(0x1f, 0x4e, 0x9a));
    axis_snr = value_axis(Qt::AlignLeft, QColor(0x2c, 0x7a, 0x2c));
    axis_rate = value_axis(Qt::AlignRight, QColor(0x6a, 0x3d, 0x9a));
    axis_loss = value_axis(Qt::AlignRight, QColor(0xc0, 0x50, 0x00));

    const struct
    {
        SeriesId id;
        QValueAxis* axis;
        QColor colour;
        Qt::PenStyle style;
    } looks[] = {
        {AirRssi1, axis_rssi, QColor(0x1f, 0x77, 0xb4), Qt::SolidLine},
        {AirRssi2, axis_rssi, QColor(0x1f, 0x77, 0xb4), Qt::DashLine},
        {GroundRssi1, axis_rssi, QColor(0xd6, 0x27, 0x28), Qt::SolidLine},
        {GroundRssi2, axis_rssi, QColor(0xd6, 0x27, 0x28), Qt::DashLine},
        {GroundSnr, axis_snr, QColor(0x2c, 0xa0, 0x2c), Qt::SolidLine},
        {AirSnr, axis_snr, QColor(0x2c, 0xa0, 0x2c), Qt::DashLine},
        {DownlinkRate, axis_rate, QColor(0x94, 0x67, 0xbd), Qt::SolidLine},
        {GroundLoss, axis_loss, QColor(0xff, 0x7f, 0x0e), Qt::SolidLine},
        {AirLoss, axis_loss, QColor(0xff, 0x7f, 0x0e), Qt::DashLine},
    };
    // Added last first: the spiky loss and rate lines lie under the levels.
    for (auto it = std::rbegin(looks); it != std::rend(looks); ++it) {
        const auto& look = *it;
        auto* s = new QLineSeries;
        s->setUseOpenGL(false);
        QPen pen(look.colour, 1.5, look.style);
        s->setPen(pen);
        chart->addSeries(s);
        s->attachAxis(axis_time);
        s->attachAxis(look.axis);
        lines[size_t(look.id)] = s;
    }
    chart->legend()->hide();
    auto* legend = new QWidget(ui->widget_plot);
    auto* rows = new QVBoxLayout(legend);
    rows->setContentsMargins(6, 2, 6, 2);
    rows->setSpacing(2);
    QHBoxLayout* row = nullptr;
    const std::initializer_list<SeriesId> members[] = {{AirRssi1, AirRssi2, GroundRssi1, GroundRssi2},
                                                       {GroundSnr, AirSnr},
                                                       {DownlinkRate},
                                                       {GroundLoss, AirLoss}};
    for (size_t g = 0; g < groups.size(); ++g) {
        // RSSI on the first line, the rest on the second.
        if (g < 2) {
            if (row)
                row->addStretch(1);
            row = new QHBoxLayout;
            rows->addLayout(row);
        } else {
            row->addSpacing(14);
        }
        groups[g] = new QLabel(legend);
        row->addWidget(groups[g]);
        for (SeriesId id : members[g]) {
            QLineSeries* s = lines[size_t(id)];
            QPixmap sample(24, 10);
            sample.fill(Qt::transparent);
            QPainter paint(&sample);
            QPen pen = s->pen();
            pen.setWidth(2);
            paint.setPen(pen);
            paint.drawLine(0, 5, 24, 5);
            paint.end();
            auto* box = new QCheckBox(legend);
            box->setIcon(QIcon(sample));
            box->setIconSize(sample.size());
            box->setChecked(true);
            connect(box, &QCheckBox::toggled, s, &QLineSeries::setVisible);
            row->addWidget(box);
            toggles[size_t(id)] = box;
        }
    }
    row->addStretch(1);
    ui->layout_plot->addWidget(legend);

    view = new HistoryChartView(chart, ui->widget_plot);
    view->setMinimumHeight(320);
    strip = new LinkStrip(ui->widget_plot);
    ui->layout_plot->addWidget(view, 1);
    ui->layout_plot->addWidget(strip);

    connect(axis_time, &QDateTimeAxis::rangeChanged, this, &HistoryWindow::on_range_changed);
    connect(chart, &QChart::plotAreaChanged, this, [this] { refresh_timer.start(); });
    connect(view, &HistoryChartView::wheel_zoom, this, &HistoryWindow::zoom_about);
    connect(view, &HistoryChartView::hovered, this, &HistoryWindow::show_values_at);
    connect(strip, &LinkStrip::hovered, this, &HistoryWindow::show_values_at);
    connect(view, &HistoryChartView::left, this, [this] { show_values_at(-1); });
}

void HistoryWindow::name_plot()
{
    const QString names[SeriesCount]
        = {tr("Air RSSI 1"), tr("Air RSSI 2"),    tr("Ground RSSI 1"), tr("Ground RSSI 2"), tr("Ground SNR"),
           tr("Air SNR"),    tr("Downlink rate"), tr("Ground loss"),   tr("Air loss")};
    const QString short_names[SeriesCount]
        = {tr("Air 1"), tr("Air 2"),    tr("Ground 1"), tr("Ground 2"), tr("Ground"),
           tr("Air"),   tr("Downlink"), tr("Ground"),   tr("Air")};
    for (int i = 0; i < SeriesCount; ++i) {
        lines[size_t(i)]->setName(names[i]);
        toggles[size_t(i)]->setText(short_names[i]);
        toggles[size_t(i)]->setToolTip(names[i]);
    }
    const QString group_names[4] = {tr("RSSI:"), tr("SNR:"), tr("Rate:"), tr("Loss:")};
    for (size_t g = 0; g < groups.size(); ++g)
        groups[g]->setText(group_names[g]);
    axis_rssi->setTitleText(tr("RSSI (dBm)"));
    axis_snr->setTitleText(tr("SNR (dB)"));
    axis_rate->setTitleText(tr("Rate (Mbps)"));
    axis_loss->setTitleText(tr("Loss (%)"));
    strip->set_texts({tr("Ground"), tr("Air")},
                     {tr("linked"), tr("paired, no link"), tr("pairing"), tr("not paired"), tr("other")});
    strip->setToolTip(tr("Link status of the ground and the air unit"));
}

void HistoryWindow::clear_recording()
{
    current = -1;
    for (auto& points : full)
        points.clear();
    for (QLineSeries* s : lines)
        s->clear();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    clamping = true;
    axis_time->setRange(QDateTime::fromMSecsSinceEpoch(now - 60000), QDateTime::fromMSecsSinceEpoch(now));
    clamping = false;
    axis_time->setFormat(QLatin1String(kTime));
    set_range(axis_rssi, -100, -20);
    set_range(axis_snr, 0, 40);
    set_range(axis_rate, 0, 10);
    set_range(axis_loss, 0, 1);
    strip->set_data(nullptr, 0, -1);
    ui->plainTextEdit_summary->clear();
    ui->label_readout->clear();
    for (QPushButton* b : {ui->pushButton_export_csv, ui->pushButton_save_png, ui->pushButton_reset_zoom})
        b->setEnabled(false);
}

void HistoryWindow::plot_recording()
{
    const Recording& r = recs.at(current);
    for (int i = 0; i < SeriesCount; ++i)
        full[size_t(i)] = series_points(samples, r, SeriesId(i));

    const auto [rssi_lo, rssi_hi] = extent(full, {AirRssi1, AirRssi2, GroundRssi1, GroundRssi2});
    if (std::isnan(rssi_lo))
        set_range(axis_rssi, -100, -20);
    else
        set_range(axis_rssi, rssi_lo - 3, std::min(0.0, rssi_hi + 3));
    const double snr_hi = extent(full, {GroundSnr, AirSnr}).second;
    set_range(axis_snr, 0, std::isnan(snr_hi) ? 40 : std::max(10.0, snr_hi));
    const double rate_hi = extent(full, {DownlinkRate}).second;
    set_range(axis_rate, 0, std::isnan(rate_hi) ? 10 : std::max(1.0, rate_hi * 1.1));
    const double loss_hi = extent(full, {GroundLoss, AirLoss}).second;
    set_range(axis_loss, 0, std::isnan(loss_hi) ? 1 : std::max(0.1, loss_hi * 1.1));

    strip->set_data(&samples, r.first, r.last);
    for (QPushButton* b : {ui->pushButton_export_csv, ui->pushButton_save_png, ui->pushButton_reset_zoom})
        b->setEnabled(true);
    reset_zoom();
    refresh_series();
    fill_summary();
    show_values_at(-1);
}

void HistoryWindow::reset_zoom()
{
    if (current < 0)
        return;
    const Recording& r = recs.at(current);
    const qint64 pad = r.duration_ms() < kMinSpanMs ? (kMinSpanMs - r.duration_ms()) / 2 : 0;
    axis_time->setRange(QDateTime::fromMSecsSinceEpoch(r.start_ms - pad),
                        QDateTime::fromMSecsSinceEpoch(r.end_ms + pad));
}

void HistoryWindow::zoom_about(double center_ms, double factor)
{
    if (current < 0)
        return;
    const double lo = double(axis_time->min().toMSecsSinceEpoch());
    const double hi = double(axis_time->max().toMSecsSinceEpoch());
    double new_lo = center_ms - (center_ms - lo) * factor;
    double new_hi = center_ms + (hi - center_ms) * factor;
    if (new_hi - new_lo < kMinSpanMs)
        return;
    axis_time->setRange(QDateTime::fromMSecsSinceEpoch(qint64(new_lo)),
                        QDateTime::fromMSecsSinceEpoch(qint64(new_hi)));
}

void HistoryWindow::on_range_changed()
{
    if (clamping || current < 0)
        return;
    // Zooming out never goes past the recording.
    const Recording& r = recs.at(current);
    const qint64 lo = axis_time->min().toMSecsSinceEpoch();
    const qint64 hi = axis_time->max().toMSecsSinceEpoch();
    const qint64 pad = r.duration_ms() < kMinSpanMs ? (kMinSpanMs - r.duration_ms()) / 2 : 0;
    const qint64 first = r.start_ms - pad, last = r.end_ms + pad;
    if (lo < first || hi > last) {
        clamping = true;
        axis_time->setRange(QDateTime::fromMSecsSinceEpoch(std::max(lo, first)),
                            QDateTime::fromMSecsSinceEpoch(std::min(hi, last)));
        clamping = false;
    }
    const qint64 span = axis_time->max().toMSecsSinceEpoch() - axis_time->min().toMSecsSinceEpoch();
    axis_time->setFormat(QLatin1String(span > 24 * 3600 * 1000LL ? "MM-dd HH:mm" : kTime));
    refresh_timer.start();
}

void HistoryWindow::refresh_series()
{
    const double lo = double(axis_time->min().toMSecsSinceEpoch());
    const double hi = double(axis_time->max().toMSecsSinceEpoch());
    const QRectF area = chart->plotArea();
    // One slice per pixel column: more points would not show.
    const int columns = area.width() > 10 ? int(area.width()) : 1000;
    for (int i = 0; i < SeriesCount; ++i)
        lines[size_t(i)]->replace(decimate(full[size_t(i)], lo, hi, columns));
    const QPoint origin = view->mapTo(ui->widget_plot, view->mapFromScene(chart->mapToScene(area.topLeft())));
    const QPoint end = view->mapTo(ui->widget_plot, view->mapFromScene(chart->mapToScene(area.topRight())));
    strip->set_scale(lo, hi, origin.x() - strip->x(), end.x() - strip->x());
}

// ---- values under the mouse

void HistoryWindow::show_values_at(qint64 ms)
{
    if (current < 0 || ms < 0) {
        view->set_marker(-1);
        ui->label_readout->setText(current < 0 ? QString() : tr("Point at the plot to read the values."));
        return;
    }
    const Recording& r = recs.at(current);
    const auto begin = samples.begin() + r.first, end = samples.begin() + r.last + 1;
    auto it = std::lower_bound(begin, end, ms, [](const Sample& s, qint64 t) { return s.ms < t; });
    if (it == end || (it != begin && ms - (it - 1)->ms < it->ms - ms))
        --it;
    const int i = int(it - samples.begin());
    auto value = [&](SeriesId id, int decimals) {
        const double v = full[size_t(id)].value(i - r.first).y();
        return std::isnan(v) ? QStringLiteral("–") : QString::number(v, 'f', decimals);
    };
    const statlog::LogRecord& rec = it->rec;
    ui->label_readout->setText(
        tr("%1   RSSI air %2 / %3 dBm, ground %4 / %5 dBm · SNR ground %6 dB, air %7 dB · downlink %8 Mbps · "
           "loss ground %9 %, air %10 % · link ground %11, air %12")
            .arg(when(it->ms), value(AirRssi1, 0), value(AirRssi2, 0), value(GroundRssi1, 0),
                 value(GroundRssi2, 0), value(GroundSnr, 0), value(AirSnr, 0), value(DownlinkRate, 2),
                 value(GroundLoss, 2))
            .arg(value(AirLoss, 2))
            .arg(rec.grd_link_status)
            .arg(rec.air_link_status)
        + (it->date_assumed ? tr(" (date assumed)") : QString()));
    view->set_marker(it->ms);
}

// ---- summary

static QString duration_text(qint64 ms)
{
    const qint64 s = ms / 1000;
    if (s >= 3600)
        return HistoryWindow::tr("%1 h %2 min %3 s").arg(s / 3600).arg(s / 60 % 60).arg(s % 60);
    if (s >= 60)
        return HistoryWindow::tr("%1 min %2 s").arg(s / 60).arg(s % 60);
    return HistoryWindow::tr("%1 s").arg(s);
}

void HistoryWindow::fill_summary()
{
    const Recording& r = recs.at(current);
    const Summary s = summarize(samples, r);
    QStringList out;
    out << tr("Duration: %1 (%2 rows)").arg(duration_text(s.duration_ms)).arg(r.last - r.first + 1);
    out << tr("Lowest / median RSSI:");
    const QString paths[4] = {tr("Air unit, path 1"), tr("Air unit, path 2"), tr("Ground unit, path 1"),
                              tr("Ground unit, path 2")};
    for (int p = 0; p < 4; ++p) {
        const PathLevel& level = s.rssi[size_t(p)];
        out << QStringLiteral("  %1: %2")
                   .arg(paths[p],
                        level.any ? tr("%1 / %2 dBm").arg(level.min_dbm).arg(level.median_dbm)
                                  : tr("no reading"));
    }
    out << tr("Worst loss in one interval:");
    const QString units[2] = {tr("Ground unit"), tr("Air unit")};
    for (size_t u = 0; u < 2; ++u)
        out << QStringLiteral("  %1: %2")
                   .arg(units[u],
                        s.worst_loss[u] < 0 ? tr("no blocks counted")
                                            : tr("%1 % at %2")
                                                  .arg(QString::number(s.worst_loss[u], 'f', 2))
                                                  .arg(when(s.worst_loss_at[u])));
    out << tr("Link drops (ground unit): %1").arg(s.drops.size());
    for (const LinkDrop& d : s.drops)
        out << QStringLiteral("  ") + when(d.at_ms) + QStringLiteral(", ")
                + (d.restored_ms < 0 ? tr("not restored")
                                     : tr("restored after %1").arg(duration_text(d.restored_ms - d.at_ms)));
    if (r.date_assumed)
        out << QString()
            << tr("* Date assumed: rows written by an earlier version have no date; they are "
                  "placed on %1, the day the file was last changed.")
                   .arg(log->file_day().toString(Qt::ISODate));
    ui->plainTextEdit_summary->setPlainText(out.join(QLatin1Char('\n')));
}

// ---- files and lists

QString HistoryWindow::message() const
{
    return ui->label_message->text();
}

void HistoryWindow::show_message(const QString& text, bool error)
{
    ui->label_message->setStyleSheet(error ? QStringLiteral("color: #b42318;")
                                           : QStringLiteral("color: #1f7a3a;"));
    ui->label_message->setText(text);
    ui->label_message->setVisible(!text.isEmpty());
}

QString HistoryWindow::unit_label(const QString& name) const
{
    if (name == statlog::table_name(QString()))
        return tr("(no serial number)");
    return name.startsWith(QLatin1String("SN")) ? name.mid(2) : name;
}

void HistoryWindow::open_own_log()
{
    const QString path = statlog::database_path();
    if (!QFileInfo::exists(path)) {
        log.reset();
        fill_tables();
        ui->label_file->setText(QDir::toNativeSeparators(path));
        show_message(
            tr("Nothing has been recorded yet: %1 does not exist. Switch on \"Record statistics\" on "
               "the Status page, or open another log.")
                .arg(QDir::toNativeSeparators(path)),
            false);
        return;
    }
    open_file(path);
}

bool HistoryWindow::open_file(const QString& path)
{
    show_message(QString());
    auto file = std::make_unique<LogFile>(path);
    QString error;
    const bool ok = file->open(&error);
    log = ok ? std::move(file) : nullptr;
    file.reset();
    ui->label_file->setText(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
    ui->label_file->setToolTip(ui->label_file->text());
    setWindowTitle(tr("Statistics history") + QStringLiteral(" – ") + QFileInfo(path).fileName());
    fill_tables();
    if (!ok) {
        show_message(error);
        return false;
    }
    if (log->tables().isEmpty()) {
        show_message(tr("There are no statistics in this file."));
        return true;
    }
    const auto& tables = log->tables();
    const auto readable
        = std::find_if(tables.begin(), tables.end(), [](const TableInfo& t) { return t.readable(); });
    if (readable == tables.end()) {
        show_message(tr("None of the tables in this file is a statistics table of this tool."));
        return true;
    }
    ui->treeWidget_units->setCurrentItem(ui->treeWidget_units->topLevelItem(int(readable - tables.begin())));
    return true;
}

void HistoryWindow::reload()
{
    if (!log) {
        open_own_log();
        return;
    }
    const QString keep_table = table;
    const qint64 keep_start = current >= 0 ? recs.at(current).start_ms : -1;
    if (!open_file(log->path()) || !log)
        return;
    for (int i = 0; i < log->tables().size(); ++i)
        if (log->tables().at(i).name == keep_table)
            ui->treeWidget_units->setCurrentItem(ui->treeWidget_units->topLevelItem(i));
    for (int i = 0; i < recs.size(); ++i)
        if (recs.at(i).start_ms == keep_start)
            ui->treeWidget_recordings->setCurrentItem(ui->treeWidget_recordings->topLevelItem(i));
}

void HistoryWindow::fill_tables()
{
    const QSignalBlocker block(ui->treeWidget_units);
    ui->treeWidget_units->clear();
    ui->treeWidget_recordings->clear();
    table.clear();
    samples.clear();
    recs.clear();
    clear_recording();
    if (!log)
        return;
    for (const TableInfo& t : log->tables()) {
        auto* item = new QTreeWidgetItem(ui->treeWidget_units);
        item->setText(0, unit_label(t.name));
        item->setText(1, QString::number(t.rows));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        if (t.has_times) {
            // An asterisk marks a date taken from the file (see the note).
            const QString mark = t.date_assumed ? QStringLiteral("*") : QString();
            item->setText(2, minute(t.first_ms) + mark);
            item->setText(3, minute(t.last_ms) + mark);
        }
        QStringList notes, details{tr("Table: %1").arg(t.name)};
        if (!t.error.isEmpty()) {
            notes << tr("cannot be read");
            details << t.error;
        } else if (!t.missing.isEmpty()) {
            notes << tr("not a statistics table");
            details << tr("Lacks the columns %1.").arg(t.missing.join(QLatin1String(", ")));
        }
        if (!t.extra.isEmpty()) {
            notes << tr("extra columns left aside");
            details << tr("Columns this tool does not write, left aside: %1.")
                           .arg(t.extra.join(QLatin1String(", ")));
        }
        if (t.date_assumed) {
            details << tr("* Date assumed: rows written by an earlier version have no date; they are "
                          "placed on %1, the day the file was last changed.")
                           .arg(log->file_day().toString(Qt::ISODate));
        }
        item->setText(4, notes.join(QLatin1String(", ")));
        for (int c = 0; c < 5; ++c)
            item->setToolTip(c, details.join(QLatin1Char('\n')));
        if (!t.readable())
            item->setForeground(0, QColor(0x9c, 0xa3, 0xaf));
    }
    for (int c = 0; c < 4; ++c)
        ui->treeWidget_units->resizeColumnToContents(c);
    show_date_note();
}

void HistoryWindow::show_date_note()
{
    const bool any = log && std::any_of(log->tables().begin(), log->tables().end(), [](const TableInfo& t) {
                         return t.date_assumed;
                     });
    ui->label_date_note->setVisible(any);
    if (any)
        ui->label_date_note->setText(
            tr("* Date assumed: rows written by an earlier version have no date; they are "
               "placed on %1, the day the file was last changed.")
                .arg(log->file_day().toString(Qt::ISODate)));
}

void HistoryWindow::choose_table(int row)
{
    if (!log || row < 0 || row >= log->tables().size())
        return;
    const TableInfo& t = log->tables().at(row);
    {
        const QSignalBlocker block(ui->treeWidget_recordings);
        ui->treeWidget_recordings->clear();
    }
    samples.clear();
    recs.clear();
    clear_recording();
    table = t.name;
    show_message(QString());
    LoadResult loaded = log->load(t.name);
    if (!loaded.error.isEmpty()) {
        show_message(loaded.error);
        return;
    }
    samples = std::move(loaded.samples);
    recs = split_recordings(samples);
    if (loaded.skipped > 0)
        show_message(tr("%1 rows were left out: their time could not be read.").arg(loaded.skipped));
    else if (samples.isEmpty())
        show_message(tr("This unit has no rows."), false);

    const QSignalBlocker block(ui->treeWidget_recordings);
    for (const Recording& r : recs) {
        auto* item = new QTreeWidgetItem(ui->treeWidget_recordings);
        const QString mark = r.date_assumed ? QStringLiteral("*") : QString();
        item->setText(0, when(r.start_ms) + mark);
        const bool same_day = QDateTime::fromMSecsSinceEpoch(r.start_ms).date()
            == QDateTime::fromMSecsSinceEpoch(r.end_ms).date();
        item->setText(1, (same_day ? time_of(r.end_ms) : when(r.end_ms)) + mark);
        item->setText(2, duration_text(r.duration_ms()));
    }
    for (int c = 0; c < 3; ++c)
        ui->treeWidget_recordings->resizeColumnToContents(c);
    if (!recs.isEmpty()) {
        // The latest recording is the one most often looked for.
        ui->treeWidget_recordings->setCurrentItem(ui->treeWidget_recordings->topLevelItem(recs.size() - 1));
        choose_recording(recs.size() - 1);
    }
}

void HistoryWindow::choose_recording(int row)
{
    if (row < 0 || row >= recs.size() || row == current)
        return;
    current = row;
    plot_recording();
}

QString HistoryWindow::suggested_name(const QString& suffix) const
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (dir.isEmpty())
        dir = QDir::homePath();
    QString unit = unit_label(table);
    unit.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]")), QStringLiteral("_"));
    const QString start = QDateTime::fromMSecsSinceEpoch(recs.at(current).start_ms)
                              .toString(QStringLiteral("yyyyMMdd-HHmmss"));
    return QDir(dir).filePath(unit + QLatin1Char('_') + start + suffix);
}

QString HistoryWindow::export_path(const QString& title, const QString& suffix, const QString& filter)
{
    const QString path = save_dialog(this, title, suggested_name(suffix), filter);
    if (path.isEmpty())
        return QString();
    // The log is only ever read: never let an export replace it.
    if (log && QFileInfo(path).exists()
        && QFileInfo(path).canonicalFilePath() == QFileInfo(log->path()).canonicalFilePath()) {
        show_message(tr("The export would replace the log itself; choose another file."));
        return QString();
    }
    return path;
}

bool HistoryWindow::export_csv()
{
    if (current < 0)
        return false;
    const QString path = export_path(tr("Export the recording as CSV"), QStringLiteral(".csv"),
                                     tr("CSV files (*.csv)"));
    if (path.isEmpty())
        return false;
    QSaveFile file(path);
    const QByteArray text = csv_text(samples, recs.at(current)).toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        show_message(tr("%1 cannot be written: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
        return false;
    }
    show_message(tr("Saved %1.").arg(QDir::toNativeSeparators(path)), false);
    return true;
}

bool HistoryWindow::save_png()
{
    if (current < 0)
        return false;
    const QString path = export_path(tr("Save the plot as PNG"), QStringLiteral(".png"), tr("PNG images (*.png)"));
    if (path.isEmpty())
        return false;
    if (!ui->widget_plot->grab().save(path, "PNG")) {
        show_message(tr("%1 cannot be written.").arg(QDir::toNativeSeparators(path)));
        return false;
    }
    show_message(tr("Saved %1.").arg(QDir::toNativeSeparators(path)), false);
    return true;
}

void HistoryWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::LanguageChange)
        return;
    ui->retranslateUi(this);
    name_plot();
    // The lists, notes and summary are made of translated texts too.
    if (log)
        reload();
}
