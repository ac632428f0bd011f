// The firmware upgrade engine: runs on its own thread, one per upgrade.
#pragma once

#include <QAtomicPointer>
#include <QThread>

struct libusb_device_handle;

class updateThread : public QThread
{
    Q_OBJECT
public:
    explicit updateThread(QObject* parent = nullptr);

    // Written by the main window while the engine sleeps (the connection is
    // closed and reopened around the second controller's restart).
    void set_dev_handle(libusb_device_handle* handle) { dev_handle.storeRelease(handle); }
    libusb_device_handle* current_dev_handle() const { return dev_handle.loadAcquire(); }

signals:
    void isdone();

protected:
    void run() override;

private:
    QAtomicPointer<libusb_device_handle> dev_handle{nullptr};
};
