#include "usb_transport.h"

#include "tsan_annotations.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <libusb.h>
#include <vector>

QMutex usb_mutex;

namespace {
// Guarded by usb_mutex. One or two entries: a plain vector is enough.
std::vector<libusb_device_handle*>& live_handles()
{
    static std::vector<libusb_device_handle*> handles;
    return handles;
}

bool is_live_locked(libusb_device_handle* handle)
{
    const auto& v = live_handles();
    return std::find(v.begin(), v.end(), handle) != v.end();
}
} // namespace

namespace usb {
void adopt_handle(libusb_device_handle* handle)
{
    if (!handle)
        return;
    tsan::MutexLocker lock(&usb_mutex);
    if (!is_live_locked(handle))
        live_handles().push_back(handle);
}

void retire_handle_locked(libusb_device_handle* handle)
{
    auto& v = live_handles();
    v.erase(std::remove(v.begin(), v.end(), handle), v.end());
}
} // namespace usb

int32_t usb_vendor_transfer(libusb_device_handle* handle, uint8_t direction, int recipient,
                            uint8_t request, uint16_t value, uint16_t index, unsigned char* data,
                            uint16_t length, uint32_t timeout_ms)
{
    if (!handle)
        return -1;
    tsan::MutexLocker lock(&usb_mutex);
    if (!is_live_locked(handle))
        return LIBUSB_ERROR_NO_DEVICE;
    return libusb_control_transfer(handle, usb::request_type(direction, recipient), request, value,
                                   index, data, length, timeout_ms);
}

int32_t usb_bulk_transfer(libusb_device_handle* handle, uint8_t endpoint, unsigned char* data,
                          int32_t length, uint32_t timeout_ms, int* transferred)
{
    if (endpoint == 0 || !data || !handle)
        return -1;
    int moved = 0;
    int rc;
    {
        tsan::MutexLocker lock(&usb_mutex);
        rc = is_live_locked(handle)
                 ? libusb_bulk_transfer(handle, endpoint, data, length, &moved, timeout_ms)
                 : LIBUSB_ERROR_NO_DEVICE;
    }
    if (transferred)
        *transferred = moved;
    return rc;
}

QString usb_error_text(int code)
{
    const char* text = nullptr;
    switch (code) {
    case -1: text = QT_TRANSLATE_NOOP("QObject", "usb Input/output error"); break;
    case -2: text = QT_TRANSLATE_NOOP("QObject", "usb Invalid parameter"); break;
    case -3: text = QT_TRANSLATE_NOOP("QObject", "usb Access denied"); break;
    case -4: text = QT_TRANSLATE_NOOP("QObject", "usb device may have been disconnected"); break;
    case -5: text = QT_TRANSLATE_NOOP("QObject", "Entity not found"); break;
    case -6: text = QT_TRANSLATE_NOOP("QObject", "Resource busy"); break;
    case -7: text = QT_TRANSLATE_NOOP("QObject", "Operation timed out"); break;
    case -8: text = QT_TRANSLATE_NOOP("QObject", "Overflow"); break;
    case -9: text = QT_TRANSLATE_NOOP("QObject", "Pipe error"); break;
    case -10: text = QT_TRANSLATE_NOOP("QObject", "System call interrupted"); break;
    case -11: text = QT_TRANSLATE_NOOP("QObject", "Insufficient memory"); break;
    case -12: text = QT_TRANSLATE_NOOP("QObject", "Operation not supported"); break;
    case -99: text = QT_TRANSLATE_NOOP("QObject", "Other error"); break;
    default: break;
    }
    const QString result = text ? QCoreApplication::translate("QObject", text) : QString();
    qDebug().noquote() << result;
    return result;
}

void delay_msec(int ms)
{
    // Monotonic, so a wall-clock step (midnight, NTP) cannot shorten or
    // stretch the wait. Sleeps in the event loop instead of spinning: a
    // precise timer wakes it at the deadline, any event earlier.
    QElapsedTimer clock;
    clock.start();
    QTimer wake;
    wake.setTimerType(Qt::PreciseTimer);
    wake.setSingleShot(true);
    for (;;) {
        const qint64 left = ms - clock.elapsed();
        if (left <= 0)
            return;
        if (!wake.isActive())
            wake.start(static_cast<int>(left));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}
