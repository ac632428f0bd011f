// Runs the rows of a data-driven test function in several copies of the
// test program at once. Meant for rows that mostly wait (settle times,
// timeouts, the Update page's closing pause): the copies wait side by side.
// Each copy is the same program run with "function:tag" arguments, so one
// row can always be run by itself the same way.
#pragma once

#include "testsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QVector>
#include <algorithm>
#include <memory>
#include <vector>

namespace testsupport {

struct ShardedRun
{
    int run = 0;
    int held = 0;
    QStringList problems;     // one line per row that did not hold
    qint64 longest_gap = 0;   // from "CELL-GAP <tag>: <n> ms" lines of the rows
    QString longest_gap_row;
    double seconds = 0;
    bool in_time = true;
};

// Whether the command line names rows of `function` ("function:tag").
inline bool rows_named(int argc, char** argv, const char* function)
{
    const QByteArray prefix = QByteArray(function) + ':';
    for (int i = 1; i < argc; ++i)
        if (QByteArray(argv[i]).startsWith(prefix))
            return true;
    return false;
}

// Runs `function` of `test_class` for every tag, spread over `workers`
// copies of this program; `costs` (ms, same order) balance the copies.
inline ShardedRun run_sharded(const QString& test_class, const QString& function, const QStringList& tags,
                              const QList<int>& costs, int workers)
{
    ShardedRun result;
    workers = std::max(1, std::min(workers, int(tags.size())));
    // Longest first, each to the least loaded copy.
    QList<int> order;
    for (int i = 0; i < tags.size(); ++i)
        order << i;
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return costs.value(a) > costs.value(b); });
    QVector<QStringList> args(workers);
    QVector<qint64> load(workers, 0);
    for (int i : order) {
        const int k = int(std::min_element(load.begin(), load.end()) - load.begin());
        load[k] += costs.value(i);
        args[k] << function + QLatin1Char(':') + tags[i];
    }

    QElapsedTimer clock;
    clock.start();
    std::vector<std::unique_ptr<QProcess>> procs;
    QVector<QByteArray> out(workers);
    for (int k = 0; k < workers; ++k) {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::MergedChannels);
        QProcess* raw = p.get();
        QObject::connect(raw, &QProcess::readyRead, raw, [raw, &out, k] { out[k] += raw->readAll(); });
        p->start(QCoreApplication::applicationFilePath(), QStringList{"-maxwarnings", "0"} + args[k]);
        p->waitForStarted(10000);
        procs.push_back(std::move(p));
    }
    const qint64 limit = *std::max_element(load.begin(), load.end()) * 3 + 120000;
    result.in_time = wait_for(
        [&] {
            for (const auto& p : procs)
                if (p->state() != QProcess::NotRunning)
                    return false;
            return true;
        },
        int(limit));
    for (int k = 0; k < workers; ++k) {
        QProcess& p = *procs[size_t(k)];
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished(5000);
        }
        out[k] += p.readAll();
    }

    QMap<QString, QString> verdict; // tag -> "" held, or why not
    const QString head = QRegularExpression::escape(test_class + QStringLiteral("::") + function);
    const QRegularExpression pass(QStringLiteral("^PASS   : %1\\((.*)\\)$").arg(head));
    const QRegularExpression fail(QStringLiteral("^FAIL!  : %1\\((.*)\\) (.*)$").arg(head));
    const QRegularExpression gap(QStringLiteral("^CELL-GAP (.*): (\\d+) ms"));
    for (int k = 0; k < workers; ++k) {
        QString last_started;
        const QStringList lines = QString::fromLocal8Bit(out[k]).split(QLatin1Char('\n'));
        for (int i = 0; i < lines.size(); ++i) {
            const QString line = lines[i].trimmed();
            if (line.startsWith(QLatin1String("CELL-START ")))
                last_started = line.mid(11);
            QRegularExpressionMatch m;
            if ((m = pass.match(line)).hasMatch()) {
                if (!verdict.contains(m.captured(1)))
                    verdict[m.captured(1)] = QString();
            } else if ((m = fail.match(line)).hasMatch()) {
                QString why = m.captured(2);
                // QCOMPARE's values and the location follow on lines of their own.
                for (int j = i + 1; j < lines.size() && j <= i + 3; ++j) {
                    const QString more = lines[j].trimmed();
                    if (!more.startsWith(QLatin1String("Actual")) && !more.startsWith(QLatin1String("Expected"))
                        && !more.startsWith(QLatin1String("Loc:")))
                        break;
                    why += QLatin1Char(' ') + more;
                }
                if (verdict.value(m.captured(1)).isEmpty())
                    verdict[m.captured(1)] = why;
            } else if ((m = gap.match(line)).hasMatch()) {
                if (m.captured(2).toLongLong() > result.longest_gap) {
                    result.longest_gap = m.captured(2).toLongLong();
                    result.longest_gap_row = m.captured(1);
                }
            }
        }
        const QProcess& p = *procs[size_t(k)];
        if (p.exitStatus() == QProcess::CrashExit)
            result.problems << QStringLiteral("copy %1 crashed during \"%2\"").arg(k).arg(last_started);
    }
    for (const QString& tag : tags) {
        ++result.run;
        if (!verdict.contains(tag))
            result.problems << QStringLiteral("%1: no result (its copy ended early)").arg(tag);
        else if (!verdict[tag].isEmpty())
            result.problems << QStringLiteral("%1: %2").arg(tag, verdict[tag]);
        else
            ++result.held;
    }
    result.seconds = double(clock.elapsed()) / 1000.0;
    return result;
}

} // namespace testsupport
