// Reads a statistics log file without ever writing to it: a read-only
// SQLite connection of its own, statements kept short so that the tool's
// recording (or any other writer) never waits long for the file.
#pragma once

#include "history_data.h"

#include <QCoreApplication>
#include <QDate>
#include <QString>
#include <QStringList>
#include <QVector>

class QSqlError;

namespace history {

struct TableInfo
{
    QString name;
    qint64 rows = 0;
    qint64 first_ms = 0;
    qint64 last_ms = 0;
    bool has_times = false;    // first_ms and last_ms are known
    bool date_assumed = false; // some rows have no date
    QStringList missing;       // log columns the table lacks
    QStringList extra;         // columns the log does not have
    QString error;             // why it cannot be read
    bool readable() const { return missing.isEmpty() && error.isEmpty(); }
};

struct LoadResult
{
    QVector<Sample> samples; // sorted by time
    int skipped = 0;         // rows whose time could not be read
    QString error;
};

class LogFile
{
    Q_DECLARE_TR_FUNCTIONS(HistoryLog)

public:
    explicit LogFile(const QString& path);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Opens the file and lists its tables; false, with a message for the
    // user, when the file cannot be read at all.
    bool open(QString* error);
    const QVector<TableInfo>& tables() const { return m_tables; }
    LoadResult load(const QString& table) const;

    QString path() const { return m_path; }
    // The day rows without a date are put on.
    QDate file_day() const { return m_day; }

    // `name` as an SQL identifier, exactly: quotes doubled, nothing else
    // changed.
    static QString quote(const QString& name);

private:
    QString describe(const QSqlError& e) const;
    TableInfo inspect(const QString& table) const;

    QString m_path;
    QString m_connection;
    QDate m_day;
    QVector<TableInfo> m_tables;
};

} // namespace history
