#include "unit_connection.h"

#include "hotplug_thread.h"
#include "tsan_annotations.h"
#include "usb_transport.h"

#include <QDebug>
#include <libusb.h>

namespace {
constexpr int kLibusbLogLevel = 3;

// Whether the first matching unit on the bus refuses to be opened for lack
// of permission.
bool open_refused_for_access(libusb_device** list, ssize_t count)
{
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor desc;
        if (libusb_get_device_descriptor(list[i], &desc) < 0)
            continue;
        if (desc.idVendor != usb::kVendorId || desc.idProduct != usb::kProductId)
            continue;
        libusb_device_handle* probe = nullptr;
        const int rc = libusb_open(list[i], &probe);
        if (rc == 0)
            libusb_close(probe);
        return rc == LIBUSB_ERROR_ACCESS;
    }
    return false;
}
} // namespace

UnitConnection::UnitConnection(QObject* parent) : QObject(parent) {}

UnitConnection::~UnitConnection()
{
    if (m_handle)
        close();
    if (m_handle)
        drop(false);
}

void UnitConnection::drop(bool reattach_driver)
{
    libusb_device_handle* const handle = m_handle;
    m_handle = nullptr;
    if (handle) {
        emit handle_changed();
        tsan::MutexLocker lock(&usb_mutex);
        usb::retire_handle_locked(handle);
        if (reattach_driver)
            libusb_attach_kernel_driver(handle, 0);
        libusb_close(handle);
    }
    if (m_ctx)
        libusb_exit(m_ctx);
    m_ctx = nullptr;
}

int UnitConnection::open()
{
    // A handle left by an earlier open (a re-plug seen before the unplug,
    // the second controller's restart) is closed here, not leaked; its
    // borrowers are told before it goes.
    if (m_handle || m_ctx)
        drop(false);

    int rc = libusb_init(&m_ctx);
    if (rc < 0) {
        m_ctx = nullptr;
        qDebug() << "Init Error " << rc;
        return -1;
    }
    libusb_set_option(m_ctx, LIBUSB_OPTION_LOG_LEVEL, kLibusbLogLevel);

    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(m_ctx, &list);
    if (count < 0) {
        list = nullptr;
        qDebug() << "Get Device Error";
    }

    libusb_device_handle* handle = libusb_open_device_with_vid_pid(m_ctx, usb::kVendorId, usb::kProductId);
    if (!handle) {
        qDebug() << "Cannot open device";
        // A unit that is there but may not be opened by this user waits
        // for nothing: say so, with the fix.
        const bool refused = list && open_refused_for_access(list, count);
        if (list)
            libusb_free_device_list(list, 1);
        libusb_exit(m_ctx);
        m_ctx = nullptr;
        if (refused)
            emit access_denied();
        return -1;
    }
    emit device_opened();
    qDebug() << "Device Opened";
    if (list)
        libusb_free_device_list(list, 1);

    bool detached = false;
    if (libusb_kernel_driver_active(handle, 0) == 1) {
        qDebug() << "Kernel Driver Active";
        if (libusb_detach_kernel_driver(handle, 0) == 0) {
            qDebug() << "Kernel Driver Detached!";
            detached = true;
        }
    }

    if (libusb_claim_interface(handle, 0) < 0) {
        qDebug() << "Cannot Claim Interface 0";
        // Nothing can be done with an unclaimed handle; close it now so
        // that it neither leaks nor keeps the unit busy, and give the unit
        // back to the driver it was taken from.
        if (detached)
            libusb_attach_kernel_driver(handle, 0);
        libusb_close(handle);
        libusb_exit(m_ctx);
        m_ctx = nullptr;
        return -2;
    }
    qDebug() << "Claimed Interface 0";
    m_handle = handle;
    usb::adopt_handle(handle);
    emit handle_changed();
    return 0;
}

int UnitConnection::close()
{
    if (!m_handle)
        return 0;
    libusb_device_handle* const handle = m_handle;
    {
        // Under usb_mutex: a transfer in flight on the upgrade thread ends
        // first, and from the moment the lock is released the handle is no
        // longer usable by anyone.
        tsan::MutexLocker lock(&usb_mutex);
        const int rc = libusb_release_interface(handle, 0);
        // A unit that has been pulled out answers every call with
        // NO_DEVICE; the close must still finish, or the window would keep
        // polling a dead handle and show "Connected".
        if (rc < 0 && rc != LIBUSB_ERROR_NO_DEVICE) {
            qDebug() << "Cannot Release Interface";
            return -1;
        }
        qDebug() << "Released Interface";
        usb::retire_handle_locked(handle);
        libusb_attach_kernel_driver(handle, 0);
        libusb_close(handle);
    }
    m_handle = nullptr;
    emit handle_changed();
    libusb_exit(m_ctx);
    m_ctx = nullptr;
    return 0;
}
