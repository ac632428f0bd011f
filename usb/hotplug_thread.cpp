#include "hotplug_thread.h"

#include <cstdio>
#include <libusb.h>

HotplugThread::HotplugThread(QObject* parent)
    : QObject(parent)
{
}

void HotplugThread::detect_usb_device()
{
    // A fresh context per scan: libusb's device list of a long-lived context
    // is what we would otherwise have to keep in step with the bus.
    if (libusb_init(&ctx) < 0) {
        ctx = nullptr;
        return;
    }
    dev_count = libusb_get_device_list(ctx, &dev_list);
    if (dev_count < 0) {
        dev_list = nullptr;
        libusb_exit(ctx);
        ctx = nullptr;
        return;
    }

    bool found = false;
    bool decided = true;
    for (ssize_t i = 0; i < dev_count; ++i) {
        libusb_device_descriptor desc;
        if (libusb_get_device_descriptor(dev_list[i], &desc) < 0) {
            std::fprintf(stderr, "failed to get device descriptor\n");
            decided = false;
            break;
        }
        if (desc.idVendor == usb::kVendorId && desc.idProduct == usb::kProductId) {
            found = true;
            if (!device_present) {
                emit dev_connected();
                device_present = true;
            }
        }
    }
    if (decided && device_present && !found) {
        emit dev_unconnected();
        device_present = false;
    }

    libusb_free_device_list(dev_list, 1);
    dev_list = nullptr;
    dev_count = 0;
    libusb_exit(ctx);
    ctx = nullptr;
}
