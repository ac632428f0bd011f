// The "History" window: the statistics log read back. Lists the units
// (tables) of a log file, splits the chosen unit's rows into recordings and
// plots one against time, with a summary and CSV and PNG export. Never
// writes to the file and needs no unit connected.
#pragma once

#include "history_data.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

namespace QtCharts {
class QChart;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;
} // namespace QtCharts
namespace Ui {
class HistoryWindow;
}
namespace history {
class LogFile;
}
class HistoryChartView;
class LinkStrip;
class QCheckBox;
class QLabel;

class HistoryWindow : public QWidget
{
    Q_OBJECT

public:
    explicit HistoryWindow(QWidget* parent = nullptr);
    ~HistoryWindow() override;

    // The tool's one history window, on the tool's own log the first time
    // it opens. It is a window of its own and closes when `owner` goes.
    static HistoryWindow* show_window(QWidget* owner);

    // Opens a log file and shows its units; the first readable unit and its
    // latest recording are chosen. False when the file cannot be read.
    bool open_file(const QString& path);
    void open_own_log();
    void reload();
    void choose_table(int row);
    void choose_recording(int row);
    void reset_zoom();
    bool export_csv();
    bool save_png();

    // The file dialogs: (parent, caption, folder or suggested path, filter)
    // to the chosen path, empty when cancelled. Tests put their own here.
    using FileDialog = std::function<QString(QWidget*, const QString&, const QString&, const QString&)>;
    FileDialog open_dialog;
    FileDialog save_dialog;

    Ui::HistoryWindow* form() const { return ui; }
    QtCharts::QLineSeries* series(history::SeriesId id) const { return lines[size_t(id)]; }
    QtCharts::QDateTimeAxis* time_axis() const { return axis_time; }
    const QVector<history::Recording>& recordings() const { return recs; }
    QString message() const;

protected:
    void changeEvent(QEvent* event) override;

private:
    void build_plot();
    void name_plot();
    void show_message(const QString& text, bool error = true);
    void fill_tables();
    void clear_recording();
    void plot_recording();
    void refresh_series();
    void on_range_changed();
    void zoom_about(double center_ms, double factor);
    void show_values_at(qint64 ms);
    void fill_summary();
    void show_date_note();
    QString unit_label(const QString& table) const;
    QString suggested_name(const QString& suffix) const;
    // Where an export goes: empty when cancelled or when it would be the
    // log itself (said in the window).
    QString export_path(const QString& title, const QString& suffix, const QString& filter);

    Ui::HistoryWindow* ui = nullptr;
    std::unique_ptr<history::LogFile> log;
    QString table;
    QVector<history::Sample> samples;
    QVector<history::Recording> recs;
    int current = -1;
    std::array<QVector<QPointF>, history::SeriesCount> full;

    QtCharts::QChart* chart = nullptr;
    HistoryChartView* view = nullptr;
    LinkStrip* strip = nullptr;
    QtCharts::QDateTimeAxis* axis_time = nullptr;
    QtCharts::QValueAxis* axis_rssi = nullptr;
    QtCharts::QValueAxis* axis_snr = nullptr;
    QtCharts::QValueAxis* axis_rate = nullptr;
    QtCharts::QValueAxis* axis_loss = nullptr;
    std::array<QtCharts::QLineSeries*, history::SeriesCount> lines{};
    // The legend: a check box per line, under the name of its quantity.
    std::array<QCheckBox*, history::SeriesCount> toggles{};
    std::array<QLabel*, 4> groups{};
    QTimer refresh_timer;
    bool clamping = false;

    static QPointer<HistoryWindow> instance;
};
