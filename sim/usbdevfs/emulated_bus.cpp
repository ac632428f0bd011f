#include "emulated_bus.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <signal.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <unistd.h>

namespace sim {
namespace usbfs {

namespace {

// Marks a test-bed folder as ours, with the pid of the process using it.
const char kOwnerFile[] = "quorlan-usbdevfs.pid";

int removeEntry(const char* path, const struct stat*, int, struct FTW*)
{
    ::remove(path);
    return 0;
}

void removeTree(const std::string& path)
{
    if (!path.empty())
        nftw(path.c_str(), &removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

bool processAlive(long pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

std::string joinPath(const std::string& a, const std::string& b)
{
    gchar* p = g_build_filename(a.c_str(), b.c_str(), nullptr);
    std::string s(p);
    g_free(p);
    return s;
}

} // namespace

bool EmulatedBus::preloadActive()
{
    const char* preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "libumockdev-preload");
}

void EmulatedBus::removeStaleTestbeds()
{
    const std::string tmp = g_get_tmp_dir();
    GDir* dir = g_dir_open(tmp.c_str(), 0, nullptr);
    if (!dir)
        return;
    while (const char* name = g_dir_read_name(dir)) {
        if (!g_str_has_prefix(name, "umockdev."))
            continue;
        const std::string root = joinPath(tmp, name);
        gchar* text = nullptr;
        if (!g_file_get_contents(joinPath(root, kOwnerFile).c_str(), &text, nullptr, nullptr))
            continue; // not one of ours
        const long pid = std::strtol(text, nullptr, 10);
        g_free(text);
        if (!processAlive(pid))
            removeTree(root);
    }
    g_dir_close(dir);
}

EmulatedBus::EmulatedBus() : m_anchor(std::make_shared<Anchor>()), m_t0(std::chrono::steady_clock::now())
{
    m_anchor->bus = this;
    if (!preloadActive()) {
        m_error = "not running under libumockdev-preload (use umockdev-wrapper)";
        return;
    }
    removeStaleTestbeds();
    // Sets UMOCKDEV_DIR for this process and its children.
    m_testbed = umockdev_testbed_new();
    if (!m_testbed) {
        m_error = "umockdev_testbed_new failed";
        return;
    }
    gchar* root = umockdev_testbed_get_root_dir(m_testbed);
    m_root = root;
    g_free(root);
    const std::string pid = std::to_string(long(::getpid()));
    g_file_set_contents(joinPath(m_root, kOwnerFile).c_str(), pid.c_str(), -1, nullptr);
}

EmulatedBus::~EmulatedBus()
{
    {
        std::lock_guard<std::mutex> lock(m_anchor->mutex);
        m_anchor->bus = nullptr;
    }
    for (std::thread& t : m_tasks)
        if (t.joinable())
            t.join();
    if (!m_testbed)
        return;
    unplugAll();
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    for (const auto& d : m_all) {
        d->shutdown();
        umockdev_testbed_detach_ioctl(m_testbed, d->devnode().c_str(), nullptr);
    }
    m_all.clear();
    // Removes the test bed's folder.
    g_object_unref(m_testbed);
    m_testbed = nullptr;
    removeTree(m_root); // what the test bed itself did not know of
}

int64_t EmulatedBus::nowUs() const
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - m_t0)
        .count();
}

std::shared_ptr<DeviceFile> EmulatedBus::plug(std::shared_ptr<SimUnit> unit)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!m_testbed)
        return nullptr;
    const int bus = 1;
    // The next free address, 1 being the root hub; the lowest free port.
    int address = m_nextAddress;
    for (int tries = 0; tries < 126; ++tries) {
        const bool used = std::any_of(m_plugged.begin(), m_plugged.end(),
                                      [address](const Plugged& p) { return p.device->address() == address; });
        if (!used)
            break;
        address = address >= 127 ? 2 : address + 1;
    }
    m_nextAddress = address >= 127 ? 2 : address + 1;
    int port = 1;
    while (std::any_of(m_plugged.begin(), m_plugged.end(), [port](const Plugged& p) { return p.device->port() == port; }))
        ++port;

    auto clock = [t0 = m_t0] {
        return int64_t(std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0)
                           .count());
    };
    auto device = std::make_shared<DeviceFile>(std::move(unit), bus, address, port, clock);
    const std::string devnode = device->devnode();

    // A handler left on the same node by a device plugged long ago goes.
    for (auto it = m_all.begin(); it != m_all.end();) {
        if ((*it)->devnode() == devnode) {
            (*it)->shutdown();
            umockdev_testbed_detach_ioctl(m_testbed, devnode.c_str(), nullptr);
            it = m_all.erase(it);
        } else {
            ++it;
        }
    }

    // sysfs and udev as libusb's Linux back-end reads them. Attributes end
    // in a newline, as the kernel writes them.
    const int minor = (bus - 1) * 128 + (address - 1);
    const std::string name = std::to_string(bus) + "-" + std::to_string(port);
    const std::string busnum = std::to_string(bus) + "\n", devnum = std::to_string(address) + "\n";
    const std::string devpath = std::to_string(port) + "\n";
    const std::string majmin = "189:" + std::to_string(minor) + "\n";
    char bus3[8], dev3[8];
    std::snprintf(bus3, sizeof bus3, "%03d", bus);
    std::snprintf(dev3, sizeof dev3, "%03d", address);
    const std::string minorText = std::to_string(minor);
    gchar* syspath = umockdev_testbed_add_device(
        m_testbed, "usb", name.c_str(), nullptr,
        // attributes
        "busnum", busnum.c_str(), "devnum", devnum.c_str(), "devpath", devpath.c_str(),
        "idVendor", "0483\n", "idProduct", "5868\n", "bcdDevice", "0100\n", "bDeviceClass", "00\n",
        "bDeviceSubClass", "00\n", "bDeviceProtocol", "00\n", "bMaxPacketSize0", "64\n",
        "bNumConfigurations", "1\n", "bConfigurationValue", "1\n", "bNumInterfaces", " 1\n",
        "speed", "480\n", "manufacturer", "Quorlan\n", "product", "Wireless video link\n",
        "serial", "QL0000000001\n", "dev", majmin.c_str(), nullptr,
        // udev properties
        "DEVNAME", devnode.c_str(), "DEVTYPE", "usb_device", "DRIVER", "usb", "BUSNUM", bus3,
        "DEVNUM", dev3, "PRODUCT", "483/5868/100", "TYPE", "0/0/0", "MAJOR", "189", "MINOR",
        minorText.c_str(), nullptr);
    if (!syspath) {
        m_error = "umockdev_testbed_add_device failed";
        return nullptr;
    }
    const std::string sys(syspath);
    g_free(syspath);
    std::vector<uint8_t> desc = DeviceFile::descriptors();
    umockdev_testbed_set_attribute_binary(m_testbed, sys.c_str(), "descriptors", desc.data(), int(desc.size()));

    // The test bed records the node's major:minor but makes no file for
    // it; without the file the preload does not route the open to the
    // handler.
    const std::string node = joinPath(m_root, devnode);
    gchar* nodeDir = g_path_get_dirname(node.c_str());
    g_mkdir_with_parents(nodeDir, 0755);
    g_free(nodeDir);
    GError* error = nullptr;
    if (!g_file_set_contents(node.c_str(), "", 0, &error)
        || !umockdev_testbed_attach_ioctl(m_testbed, devnode.c_str(), device->handler(), &error)) {
        m_error = error ? error->message : "cannot make the device node";
        g_clear_error(&error);
        umockdev_testbed_remove_device(m_testbed, sys.c_str());
        return nullptr;
    }

    device->setUnplugRequest([this, weak = std::weak_ptr<DeviceFile>(device)] { requestUnplug(weak); });
    m_plugged.push_back({device, sys});
    m_all.push_back(device);
    // Everything is in place now: announce it (again: the test bed's own
    // "add" went out before the descriptors were there).
    umockdev_testbed_uevent(m_testbed, sys.c_str(), "add");
    return device;
}

void EmulatedBus::unplug(const std::shared_ptr<DeviceFile>& device)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    unplugLocked(device);
}

void EmulatedBus::unplugLocked(const std::shared_ptr<DeviceFile>& device)
{
    auto it = std::find_if(m_plugged.begin(), m_plugged.end(),
                           [&](const Plugged& p) { return p.device == device; });
    if (it == m_plugged.end() || !m_testbed)
        return;
    const Plugged gone = *it;
    m_plugged.erase(it);
    // First the device file dies, as the kernel's does; then the uevent
    // (it carries the properties libusb needs to find the device, so it
    // must go before the device leaves the test bed).
    gone.device->markUnplugged();
    umockdev_testbed_uevent(m_testbed, gone.syspath.c_str(), "remove");
    umockdev_testbed_remove_device(m_testbed, gone.syspath.c_str());
    g_remove(joinPath(m_root, gone.device->devnode()).c_str());
}

void EmulatedBus::unplugAll()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    while (!m_plugged.empty())
        unplugLocked(m_plugged.front().device);
}

std::vector<std::shared_ptr<DeviceFile>> EmulatedBus::devices() const
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    std::vector<std::shared_ptr<DeviceFile>> out;
    for (const Plugged& p : m_plugged)
        out.push_back(p.device);
    return out;
}

std::shared_ptr<DeviceFile> EmulatedBus::deviceOf(const SimUnit& unit) const
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    for (const Plugged& p : m_plugged)
        if (&p.device->unit() == &unit)
            return p.device;
    return nullptr;
}

void EmulatedBus::requestUnplug(const std::weak_ptr<DeviceFile>& device)
{
    // Called on umockdev's worker thread, inside an ioctl: the unplug
    // runs on a thread of its own so that the worker is free meanwhile.
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_tasks.emplace_back([anchor = m_anchor, device] {
        std::lock_guard<std::mutex> hold(anchor->mutex);
        if (auto d = device.lock())
            if (anchor->bus)
                anchor->bus->unplug(d);
    });
}

void EmulatedBus::followRestarts(const std::shared_ptr<SimUnit>& unit)
{
    std::weak_ptr<SimUnit> weakUnit = unit;
    unit->upgrade().setRestartHandler([anchor = m_anchor, weakUnit](bool present) {
        auto u = weakUnit.lock();
        std::lock_guard<std::mutex> hold(anchor->mutex);
        if (!u || !anchor->bus)
            return;
        if (present) {
            anchor->bus->plug(u);
        } else if (auto d = anchor->bus->deviceOf(*u)) {
            anchor->bus->unplug(d);
        }
    });
}

} // namespace usbfs
} // namespace sim
