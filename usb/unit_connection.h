// The one owner of the libusb context and the device handle of the ground
// unit: open, detach, claim, and the release/re-attach/close sequence.
// Closing happens under usb_mutex, so a transfer another thread has in
// flight ends first and the handle is retired before anyone can use it
// again; borrowers follow handle_changed(). It knows no widget.
#pragma once

#include <QObject>

struct libusb_context;
struct libusb_device_handle;

class UnitConnection : public QObject
{
    Q_OBJECT
public:
    explicit UnitConnection(QObject* parent = nullptr);
    ~UnitConnection() override;

    // 0 opened and claimed; -1 not opened (no unit, no context, no access);
    // -2 opened but interface 0 could not be claimed (then closed again,
    // with a kernel driver that was detached for it re-attached).
    // A connection already open is closed first.
    int open();
    // 0 closed (or nothing open); -1 when the unit refused to release the
    // interface, in which case the handle stays open.
    int close();

    libusb_device_handle* handle() const { return m_handle; }
    bool is_open() const { return m_handle != nullptr; }

signals:
    // handle() is what borrowers must use from now on (null: none).
    // Emitted on the connection's thread; receivers connect directly.
    void handle_changed();
    // The unit is on the bus but this user may not open it.
    void access_denied();
    // Open, before the claim.
    void device_opened();

private:
    // Closes handle and context without the release step.
    void drop(bool reattach_driver);

    libusb_context* m_ctx = nullptr;
    libusb_device_handle* m_handle = nullptr;
};
