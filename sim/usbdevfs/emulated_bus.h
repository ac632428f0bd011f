// A USB bus for the real libusb: umockdev's test bed (a private sysfs,
// udev database, uevent channel and /dev) with simulated units plugged
// into it as device files. The process must run under libumockdev-preload
// (umockdev-wrapper), and the bus must exist before the first
// libusb_init(): from then on every libusb context of the process, and of
// its child processes, sees these units and nothing of the machine's USB.
#pragma once

#include "device_file.h"

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace sim {
namespace usbfs {

class EmulatedBus
{
public:
    EmulatedBus();
    // Unplugs everything and removes the test bed's folder.
    ~EmulatedBus();
    EmulatedBus(const EmulatedBus&) = delete;
    EmulatedBus& operator=(const EmulatedBus&) = delete;

    // Whether the process runs under libumockdev-preload. (umockdev's own
    // check looks at the inode of /sys, which is not reliable in a
    // container.)
    static bool preloadActive();

    // Whether the test bed could be made; error() says why not.
    bool ok() const { return m_testbed != nullptr; }
    std::string error() const { return m_error; }
    std::string rootDir() const { return m_root; }

    // Plugs a unit in as 0483:5868 on bus 1 at the next free address (as
    // Linux numbers them) and announces it with an "add" uevent. Null on
    // failure (see error()).
    std::shared_ptr<DeviceFile> plug(std::shared_ptr<SimUnit> unit);
    // Pulls a unit out: open files on it fail with ENODEV from now on, a
    // "remove" uevent goes out, and the device leaves sysfs and /dev.
    void unplug(const std::shared_ptr<DeviceFile>& device);
    void unplugAll();
    // Units plugged in now, in plugging order.
    std::vector<std::shared_ptr<DeviceFile>> devices() const;
    // The device the unit is plugged in as, or null.
    std::shared_ptr<DeviceFile> deviceOf(const SimUnit& unit) const;

    // Lets the unit's second-controller restart drop it off this bus and
    // bring it back as a new device, as a real re-enumeration does.
    void followRestarts(const std::shared_ptr<SimUnit>& unit);

    // Microseconds since the bus was made (the clock of the URB records).
    int64_t nowUs() const;

    // Removes test-bed folders that runs of a program using this bus left
    // behind when they did not end normally (their process is gone).
    static void removeStaleTestbeds();

private:
    struct Plugged
    {
        std::shared_ptr<DeviceFile> device;
        std::string syspath;
    };
    // Shared with callbacks that may outlive the bus (restart threads).
    struct Anchor
    {
        std::mutex mutex;
        EmulatedBus* bus = nullptr;
    };

    void unplugLocked(const std::shared_ptr<DeviceFile>& device);
    void requestUnplug(const std::weak_ptr<DeviceFile>& device);

    UMockdevTestbed* m_testbed = nullptr;
    std::string m_root;
    std::string m_error;
    std::shared_ptr<Anchor> m_anchor;
    mutable std::recursive_mutex m_mutex;
    std::vector<Plugged> m_plugged;
    // Every device ever plugged: a file opened on it may still talk to its
    // handler after the unplug.
    std::vector<std::shared_ptr<DeviceFile>> m_all;
    int m_nextAddress = 2;
    std::vector<std::thread> m_tasks;
    const std::chrono::steady_clock::time_point m_t0;
};

} // namespace usbfs
} // namespace sim
