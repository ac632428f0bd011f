#include "history_reader.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <algorithm>
#include <limits>

namespace history {

namespace {

// Never writes, never creates the file. A writer holds the file only for
// the moment of one insert; a lock held longer than this is another
// program's, and the user is told so.
const char kOptions[] = "QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=300";
// Rows per statement: the file's read lock is let go between them.
constexpr int kBatch = 4096;

// SQLite's primary result code of an error (extended codes keep it in
// their low byte).
int primary_code(const QSqlError& e)
{
    bool ok = false;
    const int code = e.nativeErrorCode().toInt(&ok);
    return ok ? code & 0xFF : -1;
}

bool is_busy(const QSqlError& e)
{
    const int code = primary_code(e);
    return code == 5 || code == 6; // SQLITE_BUSY, SQLITE_LOCKED
}

bool is_not_database(const QSqlError& e)
{
    const int code = primary_code(e);
    return code == 26 || code == 11; // SQLITE_NOTADB, SQLITE_CORRUPT
}

QSqlDatabase connection(const QString& name)
{
    return QSqlDatabase::database(name, false);
}

int index_of(const QStringList& names, const QString& name)
{
    for (int i = 0; i < names.size(); ++i)
        if (names.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

// A name for the row id that no column of the table hides.
QString rowid_name(const QStringList& columns)
{
    for (const char* alias : {"rowid", "_rowid_", "oid"})
        if (index_of(columns, QLatin1String(alias)) < 0)
            return QLatin1String(alias);
    return QString();
}

QStringList log_columns()
{
    QStringList names{QLatin1String(kTimeColumn)};
    for (const Field& f : fields())
        names << QLatin1String(f.name);
    return names;
}

} // namespace

LogFile::LogFile(const QString& path)
    : m_path(path)
{
    static QAtomicInt counter;
    m_connection = QStringLiteral("history-%1").arg(counter.fetchAndAddRelaxed(1));
}

LogFile::~LogFile()
{
    {
        QSqlDatabase db = connection(m_connection);
        if (db.isValid())
            db.close();
    }
    if (QSqlDatabase::contains(m_connection))
        QSqlDatabase::removeDatabase(m_connection);
}

QString LogFile::quote(const QString& name)
{
    QString body = name;
    body.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + body + QLatin1Char('"');
}

QString LogFile::describe(const QSqlError& e) const
{
    const QString file = QDir::toNativeSeparators(m_path);
    if (is_busy(e))
        return tr("%1 is locked by another program. Try again in a moment.").arg(file);
    if (is_not_database(e))
        return tr("%1 is not a statistics log: it is not an SQLite database, or it is damaged.").arg(file);
    return tr("%1 cannot be read: %2").arg(file, e.text());
}

bool LogFile::open(QString* error)
{
    const QFileInfo info(m_path);
    const QString file = QDir::toNativeSeparators(m_path);
    if (!info.exists()) {
        *error = tr("%1 does not exist.").arg(file);
        return false;
    }
    if (!info.isFile()) {
        *error = tr("%1 is not a file.").arg(file);
        return false;
    }
    m_day = info.lastModified().date();

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(info.absoluteFilePath());
    db.setConnectOptions(QLatin1String(kOptions));
    if (!db.open()) {
        *error = describe(db.lastError());
        return false;
    }
    QStringList names;
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (!q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"))) {
            *error = describe(q.lastError());
            return false;
        }
        while (q.next()) {
            const QString name = q.value(0).toString();
            if (!name.startsWith(QLatin1String("sqlite_"), Qt::CaseInsensitive))
                names << name;
        }
    }
    m_tables.clear();
    for (const QString& name : names)
        m_tables << inspect(name);
    return true;
}

TableInfo LogFile::inspect(const QString& table) const
{
    TableInfo t;
    t.name = table;
    QSqlQuery q(connection(m_connection));
    q.setForwardOnly(true);
    const QString from = QStringLiteral(" FROM ") + quote(table);

    if (!q.exec(QStringLiteral("SELECT *") + from + QStringLiteral(" LIMIT 0"))) {
        t.error = describe(q.lastError());
        return t;
    }
    QStringList columns;
    const QSqlRecord record = q.record();
    for (int i = 0; i < record.count(); ++i)
        columns << record.fieldName(i);
    const QStringList wanted = log_columns();
    for (const QString& c : wanted)
        if (index_of(columns, c) < 0)
            t.missing << c;
    for (const QString& c : columns)
        if (index_of(wanted, c) < 0)
            t.extra << c;

    if (!q.exec(QStringLiteral("SELECT count(*)") + from) || !q.next()) {
        t.error = describe(q.lastError());
        return t;
    }
    t.rows = q.value(0).toLongLong();
    q.finish();
    if (t.rows == 0 || index_of(columns, QLatin1String(kTimeColumn)) < 0)
        return t;

    // First and last as written; a table without row ids by its time.
    const QString order = rowid_name(columns);
    QVector<TimeKey> ends;
    for (const char* direction : {"ASC", "DESC"}) {
        const QString tail = QStringLiteral(" LIMIT 1");
        const bool ok = (!order.isEmpty()
                         && q.exec(QStringLiteral("SELECT time") + from + QStringLiteral(" ORDER BY ") + order
                                   + QLatin1Char(' ') + QLatin1String(direction) + tail))
            || q.exec(QStringLiteral("SELECT time") + from + QStringLiteral(" ORDER BY time ")
                      + QLatin1String(direction) + tail);
        if (!ok || !q.next()) {
            t.error = describe(q.lastError());
            return t;
        }
        ends << parse_time_key(q.value(0).toString());
        q.finish();
    }
    const QVector<Placed> placed = place_times(ends, m_day);
    if (ends.at(0).kind != TimeKey::Invalid && ends.at(1).kind != TimeKey::Invalid) {
        t.has_times = true;
        t.first_ms = placed.at(0).ms;
        t.last_ms = placed.at(1).ms;
        t.date_assumed = placed.at(0).date_assumed || placed.at(1).date_assumed;
    }
    return t;
}

LoadResult LogFile::load(const QString& table) const
{
    LoadResult result;
    const auto info
        = std::find_if(m_tables.begin(), m_tables.end(), [&](const TableInfo& t) { return t.name == table; });
    if (info == m_tables.end()) {
        result.error = tr("There is no table %1 in this file.").arg(table);
        return result;
    }
    if (!info->error.isEmpty()) {
        result.error = info->error;
        return result;
    }
    if (!info->missing.isEmpty()) {
        result.error = tr("Table %1 is not a statistics table: it lacks the columns %2.")
                           .arg(table, info->missing.join(QLatin1String(", ")));
        return result;
    }

    QStringList columns{quote(QLatin1String(kTimeColumn))};
    for (const Field& f : fields())
        columns << quote(QLatin1String(f.name));
    const QString order = rowid_name(log_columns() + info->extra);

    QVector<TimeKey> keys;
    QVector<Sample>& samples = result.samples;
    keys.reserve(int(info->rows));
    samples.reserve(int(info->rows));
    auto read_rows = [&](QSqlQuery& q, qint64* last_id) {
        const int shift = last_id ? 1 : 0;
        while (q.next()) {
            if (last_id)
                *last_id = q.value(0).toLongLong();
            keys << parse_time_key(q.value(shift).toString());
            Sample s;
            for (int i = 0; i < kFieldCount; ++i)
                fields()[size_t(i)].set(s.rec, q.value(shift + 1 + i).toLongLong());
            samples << s;
        }
        q.finish();
    };

    QSqlQuery q(connection(m_connection));
    q.setForwardOnly(true);
    const QString list = columns.join(QLatin1String(", "));
    const QString from = QStringLiteral(" FROM ") + quote(table);
    const bool batched = !order.isEmpty()
        && q.prepare(QStringLiteral("SELECT ") + order + QStringLiteral(", ") + list + from
                     + QStringLiteral(" WHERE ") + order + QStringLiteral(" > ? ORDER BY ") + order
                     + QStringLiteral(" LIMIT ") + QString::number(kBatch));
    if (batched) {
        qint64 last_id = std::numeric_limits<qint64>::min();
        for (;;) {
            const int before = samples.size();
            q.bindValue(0, last_id);
            if (!q.exec()) {
                result = LoadResult();
                result.error = describe(q.lastError());
                return result;
            }
            read_rows(q, &last_id);
            if (samples.size() - before < kBatch)
                break;
        }
    } else {
        if (!q.exec(QStringLiteral("SELECT ") + list + from)) {
            result.error = describe(q.lastError());
            return result;
        }
        read_rows(q, nullptr);
    }

    const QVector<Placed> placed = place_times(keys, m_day);
    int kept = 0;
    for (int i = 0; i < samples.size(); ++i) {
        if (keys.at(i).kind == TimeKey::Invalid)
            continue;
        Sample& s = samples[kept++];
        s = samples.at(i);
        s.ms = placed.at(i).ms;
        s.date_assumed = placed.at(i).date_assumed;
    }
    result.skipped = samples.size() - kept;
    samples.resize(kept);
    std::stable_sort(result.samples.begin(), result.samples.end(),
                     [](const Sample& a, const Sample& b) { return a.ms < b.ms; });
    return result;
}

} // namespace history
