#include "single_application.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QWidget>
#include <QtEndian>
#include <QtGlobal>
#include <climits>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

// Wire format: every message is its UTF-8 bytes behind a 4-byte big-endian
// length; the running copy answers each complete message with one ACK byte.

namespace {
constexpr int kHeaderBytes = 4;
// Far more than any message of the tool; a longer length is not one of ours.
constexpr quint32 kMaxMessageBytes = 1u << 20;
constexpr char kAck = '\x06';
// A live copy accepts at once; the wait only covers a loaded machine.
constexpr int kProbeTimeoutMs = 1000;
// Held only for the probe and the listen, so a long wait means a hung start.
constexpr int kStartLockTimeoutMs = 5000;

QString user_tag()
{
#ifdef Q_OS_WIN
    return qEnvironmentVariable("USERNAME");
#else
    return QString::number(::getuid());
#endif
}

int remaining_ms(const QDeadlineTimer& deadline)
{
    const qint64 left = deadline.remainingTime(); // -1 for no limit
    return left > INT_MAX ? INT_MAX : int(left);
}
} // namespace

QString single_instance_server_name(const QString& id)
{
    // A hash keeps the name short and free of characters a socket path
    // cannot take, whatever the id is.
    const QByteArray hash = QCryptographicHash::hash(id.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QStringLiteral("qsingleapp-%1-%2").arg(QString::fromLatin1(hash), user_tag());
}

SingleApplication::SingleApplication(const QString& id, int& argc, char** argv)
    : QApplication(argc, argv), server_name(single_instance_server_name(id))
{
    // Two copies started at the same moment must not both find nobody and
    // both listen: the probe and the listen happen under a lock. Should the
    // lock not come, carry on without it rather than not start.
    QLockFile start_lock(QDir(QDir::tempPath()).filePath(server_name + QStringLiteral(".lock")));
    start_lock.tryLock(kStartLockTimeoutMs);

    QLocalSocket probe;
    probe.connectToServer(server_name);
    if (probe.waitForConnected(kProbeTimeoutMs)) {
        other_running = true;
        probe.abort();
        return;
    }

    // Nobody answers. A socket file left by a copy that crashed would make
    // listen() fail, so clear the name first.
    QLocalServer::removeServer(server_name);
    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(server_name)) {
        qWarning("Single instance: cannot listen on %s: %s", qPrintable(server_name),
                 qPrintable(server->errorString()));
        delete server;
        server = nullptr;
        return;
    }
    connect(server, &QLocalServer::newConnection, this, &SingleApplication::accept_connections);
}

bool SingleApplication::isRunning()
{
    return other_running;
}

bool SingleApplication::sendMessage(const QString& message, int timeout)
{
    if (!other_running)
        return false;
    const QByteArray payload = message.toUtf8();
    if (quint32(payload.size()) > kMaxMessageBytes)
        return false;

    const QDeadlineTimer deadline(timeout);
    QLocalSocket socket;
    socket.connectToServer(server_name);
    if (!socket.waitForConnected(remaining_ms(deadline)))
        return false;

    QByteArray frame(kHeaderBytes, '\0');
    qToBigEndian<quint32>(quint32(payload.size()), frame.data());
    frame += payload;
    socket.write(frame);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(remaining_ms(deadline)))
            return false;
    }
    // Wait for the answer, so the text is known to have arrived before this
    // process goes away.
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(remaining_ms(deadline)))
            return false;
    }
    char answer = 0;
    return socket.getChar(&answer) && answer == kAck;
}

void SingleApplication::setActivationWindow(QWidget* w, bool activateOnMessage)
{
    activation_window = w;
    if (activateOnMessage)
        connect(this, &SingleApplication::messageReceived, this, &SingleApplication::activateWindow,
                Qt::UniqueConnection);
    else
        disconnect(this, &SingleApplication::messageReceived, this, &SingleApplication::activateWindow);
}

void SingleApplication::activateWindow()
{
    QWidget* w = activation_window;
    if (!w)
        return;
    // A hidden window stays hidden: none of these show it.
    w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
    w->raise();
    w->activateWindow();
}

void SingleApplication::accept_connections()
{
    while (QLocalSocket* socket = server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read_messages(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        read_messages(socket);
    }
}

void SingleApplication::read_messages(QLocalSocket* socket)
{
    // Bytes come in pieces of any size; they wait in the socket's buffer
    // until a whole message is there.
    QStringList messages;
    while (socket->bytesAvailable() >= kHeaderBytes) {
        char header[kHeaderBytes];
        socket->peek(header, kHeaderBytes);
        const quint32 length = qFromBigEndian<quint32>(header);
        if (length > kMaxMessageBytes) {
            socket->abort();
            socket->deleteLater();
            break;
        }
        if (socket->bytesAvailable() < kHeaderBytes + qint64(length))
            break;
        socket->skip(kHeaderBytes);
        messages << QString::fromUtf8(socket->read(length));
        if (socket->state() == QLocalSocket::ConnectedState)
            socket->putChar(kAck);
    }
    if (socket->state() == QLocalSocket::ConnectedState)
        socket->flush();
    // Emitted last: a receiver may run a nested event loop.
    for (const QString& message : qAsConst(messages))
        emit messageReceived(message);
}
