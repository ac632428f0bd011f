#include "debug_log.h"

#include "tsan_annotations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QStandardPaths>

namespace debuglog {

namespace {

char kind_letter(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return 'D';
    case QtInfoMsg: return 'I';
    case QtWarningMsg: return 'W';
    case QtCriticalMsg: return 'C';
    case QtFatalMsg: return 'F';
    }
    return '?';
}

// The handler's state. The handler runs on whichever thread writes to the
// stream (the upgrade engine writes from its own), hence the lock, shown to
// ThreadSanitizer as one.
QMutex g_lock;
LogFile* g_file = nullptr;
QtMessageHandler g_previous = nullptr;
bool g_installed = false;
// A write that itself warns (a full disk, say) must not come back into the
// file: the inner message is only passed on.
thread_local bool t_inside = false;

void handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    QtMessageHandler previous = nullptr;
    {
        tsan::MutexLocker locker(&g_lock);
        previous = g_previous;
        if (g_file && !t_inside) {
            t_inside = true;
            g_file->append(format_line(type, QDateTime::currentDateTime(), message));
            t_inside = false;
        }
    }
    if (previous)
        previous(type, context, message);
}

} // namespace

QByteArray format_line(QtMsgType type, const QDateTime& when, const QString& message)
{
    QString body = message;
    body.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    body.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    // Continuation lines are indented under the message.
    body.replace(QLatin1Char('\n'), QLatin1String("\n    "));
    const QString line = when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")) + QLatin1Char(' ')
        + QLatin1Char(kind_letter(type)) + QLatin1Char(' ') + body + QLatin1Char('\n');
    return line.toUtf8();
}

bool needs_rotation(qint64 current_size, qint64 incoming, qint64 limit)
{
    return current_size > 0 && current_size + incoming > limit;
}

QString rotated_path(const QString& path)
{
    return path + QStringLiteral(".1");
}

LogFile::LogFile(const QString& path, qint64 limit)
    : file_path(path)
    , limit(limit)
    , file(path)
{
}

LogFile::~LogFile()
{
    file.close();
}

bool LogFile::open()
{
    const QFileInfo info(file_path);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    written = file.size();
    return true;
}

bool LogFile::rotate()
{
    file.close();
    const QString old = rotated_path(file_path);
    QFile::remove(old);
    // Should the rename fail, the file is begun anew rather than growing
    // without bound.
    const bool renamed = QFile::rename(file_path, old);
    const QIODevice::OpenMode mode =
        QIODevice::WriteOnly | (renamed ? QIODevice::Append : QIODevice::Truncate);
    if (!file.open(mode))
        return false;
    written = file.size();
    return true;
}

bool LogFile::append(const QByteArray& bytes)
{
    if (!file.isOpen())
        return false;
    if (needs_rotation(written, bytes.size(), limit) && !rotate())
        return false;
    const qint64 n = file.write(bytes);
    if (n > 0)
        written += n;
    // A crash must not take the last lines with it.
    file.flush();
    return n == bytes.size();
}

QString default_folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

bool install(const QString& folder, qint64 limit)
{
    tsan::MutexLocker locker(&g_lock);
    if (g_file)
        return true;
    if (folder.isEmpty())
        return false;
    auto* file = new LogFile(QDir(folder).filePath(QLatin1String(kFileName)), limit);
    if (!file->open()) {
        delete file;
        return false;
    }
    // A mark in the file only, so that the runs can be told apart.
    file->append(format_line(QtInfoMsg, QDateTime::currentDateTime(),
                             QStringLiteral("---- %1 started (process %2)")
                                 .arg((QCoreApplication::applicationName() + QLatin1Char(' ')
                                       + QCoreApplication::applicationVersion())
                                          .trimmed())
                                 .arg(QCoreApplication::applicationPid())));
    g_file = file;
    if (!g_installed) {
        g_previous = qInstallMessageHandler(&handler);
        g_installed = true;
    }
    return true;
}

void uninstall()
{
    tsan::MutexLocker locker(&g_lock);
    delete g_file;
    g_file = nullptr;
    if (!g_installed)
        return;
    // Put the previous handler back only if ours is still the one in use;
    // one installed after it goes on passing messages through it, which
    // then only forwards them.
    const QtMessageHandler current = qInstallMessageHandler(g_previous);
    if (current == &handler) {
        g_installed = false;
        g_previous = nullptr;
    } else {
        qInstallMessageHandler(current);
    }
}

QString installed_path()
{
    tsan::MutexLocker locker(&g_lock);
    return g_file ? g_file->path() : QString();
}

} // namespace debuglog
