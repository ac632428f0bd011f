// The one way the tool talks to the unit: vendor control requests and bulk
// transfers, each under one process-wide mutex so that the user-interface
// thread and the upgrade thread never have two transfers in flight.
#pragma once

#include <QMutex>
#include <QString>
#include <cstdint>

struct libusb_device_handle;

// Held for exactly one libusb transfer call. Locks of callers are always
// taken before it, never while holding it. The program takes it through
// tsan::MutexLocker (tsan_annotations.h), so that a ThreadSanitizer build
// sees the lock and checks that order.
extern QMutex usb_mutex;

namespace usb {
constexpr uint8_t kDirOut = 0;
constexpr uint8_t kDirIn = 1;
constexpr int kRecipientInterface = 1;
constexpr unsigned kSettingTimeoutMs = 2000;
constexpr unsigned kReadTimeoutMs = 300;

// bmRequestType of a vendor request: direction bit, vendor type, recipient.
constexpr uint8_t request_type(uint8_t direction, int recipient)
{
    return static_cast<uint8_t>((direction << 7) | 0x40 | recipient);
}
} // namespace usb

// Handles the unit connection has open. A transfer is only made on one of
// them: a borrower (the upgrade thread) may still hold a handle that was
// closed meanwhile, and must get an error, not touch freed memory.
namespace usb {
// Takes usb_mutex.
void adopt_handle(libusb_device_handle* handle);
// The caller holds usb_mutex (closing happens under it, so that a transfer
// in flight ends before its handle goes).
void retire_handle_locked(libusb_device_handle* handle);
} // namespace usb

// One vendor control request. Returns the byte count or a negative libusb
// code; -1 without touching the bus when there is no handle, and
// LIBUSB_ERROR_NO_DEVICE (-4) for a handle that has been closed.
int32_t usb_vendor_transfer(libusb_device_handle* handle, uint8_t direction, int recipient,
                            uint8_t request, uint16_t value, uint16_t index, unsigned char* data,
                            uint16_t length, uint32_t timeout_ms);

// One bulk transfer. Returns 0 or a negative libusb code; -1 without a
// handle, data or endpoint, -4 for a handle that has been closed.
int32_t usb_bulk_transfer(libusb_device_handle* handle, uint8_t endpoint, unsigned char* data,
                          int32_t length, uint32_t timeout_ms, int* transferred);

// The user text for a libusb error code (also written to the debug log);
// empty for codes it does not know.
QString usb_error_text(int code);

// Waits `ms` milliseconds on a monotonic clock while processing events.
// User-interface thread only.
void delay_msec(int ms);
