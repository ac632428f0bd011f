// An application object that lets one copy of the tool run per user and
// carries a text from a later start to the running copy, over a local socket.
#pragma once

#include <QApplication>
#include <QPointer>
#include <QString>

class QLocalServer;
class QLocalSocket;
class QWidget;

// Name of the local socket that the running copy for `id` listens on; it
// contains the user, so that every user has a copy of their own.
QString single_instance_server_name(const QString& id);

class SingleApplication : public QApplication
{
    Q_OBJECT

public:
    SingleApplication(const QString& id, int& argc, char** argv);

    // True when another process with the same id already ran for this user
    // when this object was made.
    bool isRunning();

    // Delivers `message` to the running copy. True once that copy has
    // confirmed it within `timeout` milliseconds.
    bool sendMessage(const QString& message, int timeout);

    // Registers the window that activateWindow() brings forward, replacing
    // an earlier one. With `activateOnMessage` every received message does so.
    void setActivationWindow(QWidget* w, bool activateOnMessage = true);

public slots:
    void activateWindow();

signals:
    void messageReceived(const QString& message);

private:
    void accept_connections();
    void read_messages(QLocalSocket* socket);

    QString server_name;
    QLocalServer* server = nullptr; // only in the copy that runs first
    bool other_running = false;
    QPointer<QWidget> activation_window;
};
