// Watches the bus for the ground unit from its own thread: one scan per
// tick of the start page's timer, each appearance and disappearance
// reported exactly once.
#pragma once

#include <QObject>

struct libusb_context;
struct libusb_device;

namespace usb {
constexpr uint16_t kVendorId = 0x0483;
constexpr uint16_t kProductId = 0x5868;
} // namespace usb

class HotplugThread : public QObject
{
    Q_OBJECT
public:
    explicit HotplugThread(QObject* parent = nullptr);

    bool devicePresent() const { return device_present; }

public slots:
    void detect_usb_device();

signals:
    void dev_connected();
    void dev_unconnected();
    void isdone();

private:
    libusb_context* ctx = nullptr;
    libusb_device** dev_list = nullptr;
    ssize_t dev_count = 0;
    bool device_present = false;
};
