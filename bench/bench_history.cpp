// The history window's figures (run by scripts/bench), and its screenshots.
//   quorlan-bench-history                  history_open_ms_100k and
//                                          history_mem_mb_100k: a log of
//                                          100,000 rows opened and plotted
//   quorlan-bench-history --screenshots DIR  history_en.png, history_zh.png
// The logs hold what the simulated unit reports over a flight that goes out
// and back, written with the log's own statements.
//
// Each measurement runs in a process of its own (this program with --open),
// so that the memory counted is the window's and not the writing's.
#include "app_main.h"
#include "history_plot.h"
#include "history_window.h"
#include "sim_link.h"
#include "stat_log.h"
#include "ui_history_window.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMouseEvent>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTranslator>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

constexpr int kRows = 100000;
constexpr int kRuns = 3;

// Writes `rows` one-second rows of a simulated flight into `table`,
// starting at `start`: the air unit goes out to about 8 km and back every
// 40 minutes, the rate steps down while far, and now and then the air
// unit is out of reach for 15 s.
bool write_flight(const QString& path, const QString& table, const QDateTime& start, int rows,
                  bool time_of_day_only = false)
{
    std::mutex mutex;
    sim::SimLink link(mutex);
    link.setNoiseSeed(7);
    link.updateSettings([](sim::LinkSettings& s) { s.frequency = 2437; });
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("flight"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            q.exec(statlog::create_statement(table));
            db.transaction();
            ok = q.prepare(statlog::insert_statement(table));
            for (int i = 0; ok && i < rows; ++i) {
                const double phase = 2 * M_PI * (i % 2400) / 2400.0;
                const double metres = 200 + 7800 * (0.5 - 0.5 * std::cos(phase));
                link.setAirDistance(metres);
                link.updateSettings([metres](sim::LinkSettings& s) { s.downlinkCode = metres > 6000 ? 5 : 8; });
                link.setPeerPresent(i % 3000 < 1500 || i % 3000 >= 1515);
                const auto st = link.devStatus();
                const auto st2 = link.devStatus2();
                link.advance();
                const statlog::LogRecord r = statlog::make_log_record(st.data(), st2.data());
                const QDateTime at = start.addSecs(i);
                q.bindValue(QStringLiteral(":time"),
                            at.toString(time_of_day_only ? QStringLiteral("hh:mm:ss")
                                                         : QStringLiteral("yyyy-MM-dd hh:mm:ss")));
                q.bindValue(QStringLiteral(":freq"), r.freq);
                q.bindValue(QStringLiteral(":G_LDPC_PASS"), r.g_ldpc_pass);
                q.bindValue(QStringLiteral(":G_LDPC_FAIL"), r.g_ldpc_fail);
                q.bindValue(QStringLiteral(":G_RSSI_1"), r.g_rssi_1);
                q.bindValue(QStringLiteral(":G_RSSI_2"), r.g_rssi_2);
                q.bindValue(QStringLiteral(":G_SNR"), r.g_snr);
                q.bindValue(QStringLiteral(":G_rf_power"), r.g_rf_power);
                q.bindValue(QStringLiteral(":A_LDPC_PASS"), r.a_ldpc_pass);
                q.bindValue(QStringLiteral(":A_LDPC_FAIL"), r.a_ldpc_fail);
                q.bindValue(QStringLiteral(":A_RSSI_1"), r.a_rssi_1);
                q.bindValue(QStringLiteral(":A_RSSI_2"), r.a_rssi_2);
                q.bindValue(QStringLiteral(":A_SNR"), r.a_snr);
                q.bindValue(QStringLiteral(":A_rx_power"), r.a_rx_power);
                q.bindValue(QStringLiteral(":downlink"), r.downlink);
                q.bindValue(QStringLiteral(":range"), r.range);
                q.bindValue(QStringLiteral(":a_VGA"), r.a_vga);
                q.bindValue(QStringLiteral(":g_VGA"), r.g_vga);
                q.bindValue(QStringLiteral(":grd_link_status"), r.grd_link_status);
                q.bindValue(QStringLiteral(":air_link_status"), r.air_link_status);
                q.bindValue(QStringLiteral(":eth_lost_packet"), r.eth_lost_packet);
                q.bindValue(QStringLiteral(":eth_rev_packet"), r.eth_rev_packet);
                q.bindValue(QStringLiteral(":antenna_status"), r.antenna_status);
                q.bindValue(QStringLiteral(":current_antenna"), r.current_antenna);
                ok = q.exec();
            }
            ok = db.commit() && ok;
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("flight"));
    return ok;
}

double mem_mb(const char* key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return NAN;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return NAN;
}

// Notes the first paint of a widget.
class Painted : public QObject
{
public:
    bool seen = false;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            seen = true;
        return QObject::eventFilter(watched, event);
    }
};

void settle(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

// In a process of its own: the window shown empty, then the file opened
// and plotted. Prints open_ms, load_ms and mem_mb.
int measure(QApplication& app, const QString& path)
{
    apply_tool_look(app);
    HistoryWindow w;
    w.resize(1200, 760);
    w.show();
    settle(300);
    auto* view = w.findChild<QtCharts::QChartView*>();
    const double base = mem_mb("VmRSS:");
    // The peak from here on.
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
    clear.close();

    Painted painted;
    view->viewport()->installEventFilter(&painted);
    QElapsedTimer clock;
    clock.start();
    if (!w.open_file(path) || w.recordings().isEmpty()) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(path), qPrintable(w.message()));
        return 1;
    }
    const double load_ms = double(clock.nsecsElapsed()) / 1e6;
    while (!painted.seen)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    // What the first paint set off (the plot's layout, its second thinning).
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    const double open_ms = double(clock.nsecsElapsed()) / 1e6;
    const int plotted = w.series(history::GroundRssi1)->count();
    std::printf("open_ms=%.1f load_ms=%.1f mem_mb=%.1f points=%d rows=%d\n", open_ms, load_ms,
                mem_mb("VmHWM:") - base, plotted, w.recordings().last().last + 1);
    return 0;
}

void hover(HistoryWindow& w, double fraction)
{
    auto* view = w.findChild<QtCharts::QChartView*>();
    const QRectF area = view->chart()->plotArea();
    const QPoint at = view->mapFromScene(
        view->chart()->mapToScene(QPointF(area.left() + fraction * area.width(), area.center().y())));
    QMouseEvent move(QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &move);
}

int screenshots(QApplication& app, const QString& folder)
{
    const QString out = QDir(folder).absolutePath(); // before the working folder changes
    apply_tool_look(app);
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path()); // where the tool keeps its log
    const QDate day(2024, 6, 9);
    const QString log = statlog::database_path();
    bool ok = write_flight(log, statlog::table_name(QStringLiteral("QL24G0000001")),
                           QDateTime(day, QTime(9, 12, 5)), 240)
        && write_flight(log, statlog::table_name(QStringLiteral("QL24G0000001")),
                        QDateTime(day, QTime(10, 2, 40)), 2700)
        && write_flight(log, statlog::table_name(QStringLiteral("QL58G0000417")),
                        QDateTime(day, QTime(16, 40, 0)), 600, true);
    if (!ok) {
        std::fprintf(stderr, "cannot write the sample log\n");
        return 1;
    }
    QDir().mkpath(out);
    for (const char* lang : {"en", "zh"}) {
        QTranslator translator;
        if (QLatin1String(lang) == QLatin1String("zh")) {
            if (!translator.load(QStringLiteral(":/WirelessVideo_CH.qm")))
                return 1;
            QCoreApplication::installTranslator(&translator);
        }
        HistoryWindow w;
        w.resize(1280, 800);
        w.open_own_log();
        w.show();
        settle(500);
        hover(w, 0.62);
        settle(200);
        const QString file = QDir(out).filePath(QStringLiteral("history_%1.png").arg(QLatin1String(lang)));
        if (!w.grab().save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
        std::printf("saved %s\n", qPrintable(file));
        QCoreApplication::removeTranslator(&translator);
    }
    QDir::setCurrent(previous);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("--open"))
        return measure(app, args.at(2));
    if (args.size() == 3 && args.at(1) == QLatin1String("--screenshots"))
        return screenshots(app, args.at(2));
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: quorlan-bench-history [--screenshots DIR]\n");
        return 2;
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.db"));
    QElapsedTimer clock;
    clock.start();
    if (!write_flight(path, statlog::table_name(QStringLiteral("QL24G0000001")),
                      QDateTime(QDate(2024, 6, 9), QTime(6, 0)), kRows)) {
        std::fprintf(stderr, "cannot write the log\n");
        return 1;
    }
    std::printf("history_log_rows=%d (written in %.1f s, %.1f MB)\n", kRows, double(clock.elapsed()) / 1000,
                double(QFileInfo(path).size()) / 1e6);
    std::vector<double> open_ms, load_ms, mem;
    for (int i = 0; i < kRuns; ++i) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--open"), path});
        if (!child.waitForFinished(60000) || child.exitCode() != 0) {
            std::fprintf(stderr, "the measuring run failed\n");
            return 1;
        }
        const QString out = QString::fromUtf8(child.readAllStandardOutput()).trimmed();
        for (const QString& word : out.split(QLatin1Char(' '))) {
            const QString value = word.section(QLatin1Char('='), 1);
            if (word.startsWith(QLatin1String("open_ms=")))
                open_ms.push_back(value.toDouble());
            else if (word.startsWith(QLatin1String("load_ms=")))
                load_ms.push_back(value.toDouble());
            else if (word.startsWith(QLatin1String("mem_mb=")))
                mem.push_back(value.toDouble());
        }
        std::printf("history_run_%d: %s\n", i + 1, qPrintable(out));
    }
    if (open_ms.size() != size_t(kRuns) || load_ms.size() != size_t(kRuns) || mem.size() != size_t(kRuns))
        return 1;
    std::sort(open_ms.begin(), open_ms.end());
    std::sort(load_ms.begin(), load_ms.end());
    std::printf("history_open_ms_100k=%.1f\n", open_ms[kRuns / 2]);
    std::printf("history_load_ms_100k=%.1f\n", load_ms[kRuns / 2]);
    std::printf("history_mem_mb_100k=%.1f\n", *std::max_element(mem.begin(), mem.end()));
    std::printf("\n%-28s %10s  %-8s %-5s %s\n", "figure", "value", "target", "", "what");
    std::printf("%-28s %10.1f  %-8s %-5s %s\n", "history_open_ms_100k", open_ms[kRuns / 2], "<= 1000",
                open_ms[kRuns / 2] <= 1000 ? "ok" : "OVER", "100,000 rows opened and plotted (median of 3)");
    const double peak = *std::max_element(mem.begin(), mem.end());
    std::printf("%-28s %10.1f  %-8s %-5s %s\n", "history_mem_mb_100k", peak, "<= 50",
                peak <= 50 ? "ok" : "OVER", "peak resident above the empty window (worst of 3)");
    return 0;
}
