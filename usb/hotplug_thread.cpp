#include "hotplug_thread.h"

#include "tsan_annotations.h"

#include <cstdio>
#include <libusb.h>

HotplugThread::HotplugThread(QObject* parent)
    : QObject(parent)
{
}

HotplugThread::~HotplugThread()
{
    // The owner stops the watcher's thread and waits for its end before
    // deleting it; that wait goes through Qt's locks, which ThreadSanitizer
    // cannot see, so the scans are ordered before this here.
    tsan::acquire(this);
}

void HotplugThread::detect_usb_device()
{
    const tsan::ReleaseAtExit scanned(this);
    // A fresh context per scan: libusb's device list of a long-lived context
    // is what we would otherwise have to keep in step with the bus.
    libusb_context* ctx = nullptr;
    if (libusb_init(&ctx) < 0)
        return;
    libusb_device** dev_list = nullptr;
    const ssize_t dev_count = libusb_get_device_list(ctx, &dev_list);
    if (dev_count < 0) {
        libusb_exit(ctx);
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
    libusb_exit(ctx);
}
