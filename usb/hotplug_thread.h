// Watches the bus for the ground unit from its own thread: one scan per
// tick of the start page's timer, each appearance and disappearance
// reported exactly once.
#pragma once

#include <QObject>
#include <atomic>

namespace usb {
constexpr uint16_t kVendorId = 0x0483;
constexpr uint16_t kProductId = 0x5868;
} // namespace usb

class HotplugThread : public QObject
{
    Q_OBJECT
public:
    explicit HotplugThread(QObject* parent = nullptr);
    // Only once the watcher's thread has ended (or it never had one).
    ~HotplugThread() override;

    // Any thread may ask; the watcher's thread changes it.
    bool devicePresent() const { return device_present.load(); }

public slots:
    void detect_usb_device();

signals:
    void dev_connected();
    void dev_unconnected();
    void isdone();

private:
    std::atomic<bool> device_present{false};
};
