// The debug log file: every line of the Qt debug stream is also appended to
// "quorlan.log" in the user's application-data folder, so that a technician
// can read what happened after the window is gone. The stream itself keeps
// its texts: the handler passes every message on unchanged to the handler
// that was in place before it.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <QtGlobal>

namespace debuglog {

constexpr char kFileName[] = "quorlan.log";
// Past this size the file is moved aside to "quorlan.log.1" (replacing the
// older one) and a new file is begun: at most twice this much is kept.
constexpr qint64 kDefaultLimit = 1024 * 1024;

// One line of the file: local time with milliseconds, the message kind
// (D, I, W, C, F) and the message. Lines of a message that has several are
// indented, so that every line of the file that starts with a date starts a
// message. Ends with a newline; UTF-8.
QByteArray format_line(QtMsgType type, const QDateTime& when, const QString& message);

// Whether a file of `current_size` bytes must be moved aside before
// `incoming` more bytes are appended. A line longer than the limit goes into
// an empty file all the same.
bool needs_rotation(qint64 current_size, qint64 incoming, qint64 limit);

// The name the file gets when it is moved aside.
QString rotated_path(const QString& path);

// An append-only file that moves itself aside past its limit.
class LogFile
{
public:
    LogFile(const QString& path, qint64 limit = kDefaultLimit);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Creates the folder if needed and opens the file for appending.
    bool open();
    // Appends the bytes as they are, rotating first when they would pass
    // the limit; false when the file cannot be written.
    bool append(const QByteArray& bytes);
    QString path() const { return file_path; }
    qint64 size() const { return written; }

private:
    bool rotate();

    QString file_path;
    qint64 limit;
    QFile file;
    qint64 written = 0;
};

// The folder the log goes to: the application-data folder.
QString default_folder();

// Opens `folder`/quorlan.log and installs the handler. False (and nothing
// installed) when the file cannot be opened; a second call while installed
// does nothing and returns true.
bool install(const QString& folder = default_folder(), qint64 limit = kDefaultLimit);
// Puts the previous handler back and closes the file.
void uninstall();
// The file being written; empty while no handler is installed.
QString installed_path();

} // namespace debuglog
