#include "device_file.h"

#include <glib.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <linux/usb/ch9.h>
#include <sys/ioctl.h> // before usbdevice_fs.h, which needs its _IO macros
#include <linux/usbdevice_fs.h>

namespace sim {
namespace usbfs {

namespace {

// The unit's descriptors: one configuration with a vendor-specific
// interface 0, bulk IN 0x81 and bulk OUT 0x02, high speed.
const uint8_t kDeviceDescriptor[18] = {
    0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40, 0x83, 0x04,
    0x68, 0x58, 0x00, 0x01, 0x01, 0x02, 0x03, 0x01,
};
const uint8_t kConfigDescriptor[32] = {
    0x09, 0x02, 0x20, 0x00, 0x01, 0x01, 0x00, 0xC0, 0x32,   // configuration 1
    0x09, 0x04, 0x00, 0x00, 0x02, 0xFF, 0x00, 0x00, 0x00,   // interface 0, vendor
    0x07, 0x05, kBulkInEndpoint, 0x02, 0x00, 0x02, 0x00,    // bulk IN, 512 bytes
    0x07, 0x05, kBulkOutEndpoint, 0x02, 0x00, 0x02, 0x00,   // bulk OUT, 512 bytes
};
const char* const kStrings[] = {nullptr, "Quorlan", "Wireless video link", "QL0000000001"};

// What a request that never completes gives instead of a status.
constexpr int kPending = INT_MIN;
constexpr int kNoFault = 0;

// The status a URB ends with for a fault that fails it outright, or 0.
int failedStatus(int fault)
{
    switch (fault) {
    case 0:
    case int(Fault::Short):
    case int(Fault::Timeout):
    case int(Fault::Unplug):
        return 0;
    case int(Fault::Pipe): return -EPIPE;
    case int(Fault::Overflow): return -EOVERFLOW;
    case int(Fault::NoDevice): return -ENODEV;
    default: return -EPROTO;
    }
}

// What libusb makes of a URB's final status (its synchronous calls end a
// URB the device never answered by discarding it at their timeout).
int libusbResult(int status, int actual, bool discarded)
{
    if (discarded)
        return int(Fault::Timeout);
    switch (status) {
    case 0: return actual;
    case -EPIPE: return int(Fault::Pipe);
    case -EOVERFLOW: return int(Fault::Overflow);
    case -ENODEV:
    case -ESHUTDOWN: return int(Fault::NoDevice);
    default: return int(Fault::Io);
    }
}

const char* ioctlName(unsigned long request)
{
    switch (request) {
    case USBDEVFS_CONTROL: return "CONTROL";
    case USBDEVFS_BULK: return "BULK";
    case USBDEVFS_RESETEP: return "RESETEP";
    case USBDEVFS_SETINTERFACE: return "SETINTERFACE";
    case USBDEVFS_SETCONFIGURATION: return "SETCONFIGURATION";
    case USBDEVFS_GETDRIVER: return "GETDRIVER";
    case USBDEVFS_SUBMITURB: return "SUBMITURB";
    case USBDEVFS_DISCARDURB: return "DISCARDURB";
    case USBDEVFS_REAPURB: return "REAPURB";
    case USBDEVFS_REAPURBNDELAY: return "REAPURBNDELAY";
    case USBDEVFS_CLAIMINTERFACE: return "CLAIMINTERFACE";
    case USBDEVFS_RELEASEINTERFACE: return "RELEASEINTERFACE";
    case USBDEVFS_CONNECTINFO: return "CONNECTINFO";
    case USBDEVFS_IOCTL: return "IOCTL";
    case USBDEVFS_RESET: return "RESET";
    case USBDEVFS_CLEAR_HALT: return "CLEAR_HALT";
    case USBDEVFS_GET_CAPABILITIES: return "GET_CAPABILITIES";
    case USBDEVFS_DISCONNECT_CLAIM: return "DISCONNECT_CLAIM";
    case USBDEVFS_GET_SPEED: return "GET_SPEED";
    case USBDEVFS_DROP_PRIVILEGES: return "DROP_PRIVILEGES";
    default: return nullptr;
    }
}

// Fetches `len` bytes of client memory that the pointer at `offset` of
// `data` points to. The result is a new reference.
UMockdevIoctlData* resolve(UMockdevIoctlData* data, size_t offset, size_t len)
{
    GError* error = nullptr;
    UMockdevIoctlData* r = umockdev_ioctl_data_resolve(data, offset, len, &error);
    if (!r) {
        g_warning("usbfs: cannot reach the caller's memory: %s", error ? error->message : "?");
        g_clear_error(&error);
    }
    return r;
}

// The block an ioctl's argument points to, for the length of one call.
class Resolved
{
public:
    Resolved(UMockdevIoctlData* arg, size_t len) : m_data(resolve(arg, 0, len)) {}
    ~Resolved()
    {
        if (m_data)
            g_object_unref(m_data);
    }
    Resolved(const Resolved&) = delete;
    Resolved& operator=(const Resolved&) = delete;
    explicit operator bool() const { return m_data != nullptr; }
    UMockdevIoctlData* data() const { return m_data; }
    template <typename T> T* as() const { return reinterpret_cast<T*>(m_data->data); }

private:
    UMockdevIoctlData* m_data;
};

void answer(UMockdevIoctlClient* client, long result)
{
    if (result < 0)
        umockdev_ioctl_client_complete(client, -1, int(-result));
    else
        umockdev_ioctl_client_complete(client, result, 0);
}

int endpointIndex(unsigned endpoint)
{
    return int((endpoint & 0x0F) | ((endpoint & 0x80) ? 0x10 : 0));
}

bool endpointExists(unsigned endpoint)
{
    return endpoint == kBulkInEndpoint || endpoint == kBulkOutEndpoint;
}

// A timer's hold on the device: the timer may outlive it.
struct Job
{
    std::weak_ptr<DeviceFile> self;
    uint64_t id = 0;
};

void deleteJob(void* job)
{
    delete static_cast<Job*>(job);
}

} // namespace

// A URB submitted and not yet reaped.
struct DeviceFile::Urb
{
    uint64_t id = 0;
    UMockdevIoctlData* urb = nullptr;    // the caller's struct usbdevfs_urb
    UMockdevIoctlData* buffer = nullptr; // its buffer, when it has one
    unsigned long address = 0;           // the caller's address of the urb
    const void* file = nullptr;
    bool ready = false;
    uint64_t completion = 0;
    GSource* timer = nullptr; // its latency
    std::shared_ptr<Transfer> record;
    // Decided at submission, shown at completion.
    int status = 0;
    int actual = 0;

    ~Urb()
    {
        if (timer) {
            g_source_destroy(timer);
            g_source_unref(timer);
        }
        if (buffer)
            g_object_unref(buffer);
        if (urb)
            g_object_unref(urb);
    }
};

DeviceFile::DeviceFile(std::shared_ptr<SimUnit> unit, int busNumber, int address, int port,
                       std::function<int64_t()> clock)
    : m_unit(std::move(unit)), m_bus(busNumber), m_address(address), m_port(port),
      m_clock(std::move(clock))
{
}

DeviceFile::~DeviceFile()
{
    shutdown();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_urbs.clear();
    for (File& f : m_files) {
        if (f.parked && umockdev_ioctl_client_get_connected(f.client))
            answer(f.client, -ENODEV);
        g_object_unref(f.client);
    }
    m_files.clear();
    if (m_handler)
        g_object_unref(m_handler);
    if (m_context)
        g_main_context_unref(m_context);
}

std::string DeviceFile::devnode() const
{
    char path[32];
    std::snprintf(path, sizeof path, "/dev/bus/usb/%03d/%03d", m_bus, m_address);
    return path;
}

bool DeviceFile::plugged() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_gone;
}

std::vector<uint8_t> DeviceFile::descriptors()
{
    std::vector<uint8_t> all(sizeof kDeviceDescriptor + sizeof kConfigDescriptor);
    std::memcpy(all.data(), kDeviceDescriptor, sizeof kDeviceDescriptor);
    std::memcpy(all.data() + sizeof kDeviceDescriptor, kConfigDescriptor, sizeof kConfigDescriptor);
    return all;
}

// ------------------------------------------------------------ settings

void DeviceFile::failNext(int request, Fault fault, int times)
{
    if (times == 0)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.push_back({request, fault, times});
}

void DeviceFile::clearFaults()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.clear();
}

void DeviceFile::setLatency(std::chrono::milliseconds latency)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_latency = latency;
}

void DeviceFile::setKernelDriver(const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_driver = name;
    m_driverAvailable = name;
}

void DeviceFile::setReapPark(std::chrono::milliseconds park)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_park = park;
}

void DeviceFile::setUnplugRequest(std::function<void()> request)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_unplugRequest = std::move(request);
}

// ------------------------------------------------------------ records

std::vector<Transfer> DeviceFile::urbs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Transfer> out;
    out.reserve(m_log.size());
    for (const auto& r : m_log)
        out.push_back(*r);
    return out;
}

void DeviceFile::clearUrbs()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.clear(); // URBs still in flight keep their records, unlisted
}

std::vector<uint8_t> DeviceFile::requestCodes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t> codes;
    for (const auto& r : m_log)
        if (r->kind == Transfer::Control)
            codes.push_back(r->bRequest);
    return codes;
}

std::vector<IoctlRecord> DeviceFile::ioctls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ioctls;
}

int DeviceFile::ioctlCount(const std::string& name) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (name == "REAPURBNDELAY")
        return m_reaps;
    return int(std::count_if(m_ioctls.begin(), m_ioctls.end(),
                             [&](const IoctlRecord& r) { return r.name == name; }));
}

int DeviceFile::reapCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reaps;
}

std::string DeviceFile::kernelDriver() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return interfaceDriver();
}

bool DeviceFile::interfaceClaimed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return claimant() != nullptr;
}

bool DeviceFile::endpointHalted(uint8_t endpoint) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_halted[endpointIndex(endpoint)];
}

int DeviceFile::clearHaltCount(uint8_t endpoint) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_clearHalts[endpointIndex(endpoint)];
}

int DeviceFile::openFiles() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(std::count_if(m_files.begin(), m_files.end(), [](const File& f) {
        return umockdev_ioctl_client_get_connected(f.client) != FALSE;
    }));
}

int DeviceFile::filesOpened() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_filesOpened;
}

// ------------------------------------------------------------ open files

DeviceFile::File* DeviceFile::fileOf(const void* client)
{
    for (File& f : m_files)
        if (f.client == client)
            return &f;
    return nullptr;
}

bool DeviceFile::fileOpen(const void* client) const
{
    for (const File& f : m_files)
        if (f.client == client)
            return umockdev_ioctl_client_get_connected(f.client) != FALSE;
    return false;
}

const void* DeviceFile::claimant() const
{
    // A file that has been closed holds nothing, even before the handler
    // has noticed.
    return m_claimedBy && fileOpen(m_claimedBy) ? m_claimedBy : nullptr;
}

std::string DeviceFile::interfaceDriver() const
{
    return claimant() ? std::string("usbfs") : m_driver;
}

void DeviceFile::dropFile(File& f)
{
    // What usbfs does when a file closes: its claim goes, its URBs too.
    const void* client = f.client;
    if (m_claimedBy == client)
        m_claimedBy = nullptr;
    m_urbs.erase(std::remove_if(m_urbs.begin(), m_urbs.end(),
                                [client](const std::unique_ptr<Urb>& u) { return u->file == client; }),
                 m_urbs.end());
    stopTimer(f.parkTimer);
    f.parked = false; // nobody is left to answer
    g_object_unref(f.client);
    f.client = nullptr;
}

void DeviceFile::dropClosedFiles()
{
    // umockdev 0.17 marks a closed file as no longer connected but does
    // not announce it with "client-vanished": look for them.
    for (File& f : m_files)
        if (!umockdev_ioctl_client_get_connected(f.client))
            dropFile(f);
    m_files.erase(std::remove_if(m_files.begin(), m_files.end(), [](const File& f) { return !f.client; }),
                  m_files.end());
}

// ------------------------------------------------------------ the handler

UMockdevIoctlBase* DeviceFile::handler()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_handler) {
        m_handler = umockdev_ioctl_base_new();
        g_signal_connect(m_handler, "handle-ioctl", G_CALLBACK(&DeviceFile::onIoctl), this);
        g_signal_connect(m_handler, "handle-read", G_CALLBACK(&DeviceFile::onRead), this);
        g_signal_connect(m_handler, "client-connected", G_CALLBACK(&DeviceFile::onConnected), this);
        g_signal_connect(m_handler, "client-vanished", G_CALLBACK(&DeviceFile::onVanished), this);
    }
    return m_handler;
}

DeviceFile::File& DeviceFile::ensureFile(UMockdevIoctlClient* client)
{
    if (File* known = fileOf(client))
        return *known;
    File f;
    f.client = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
    f.id = ++m_ids;
    m_files.push_back(f);
    ++m_filesOpened;
    return m_files.back();
}

void DeviceFile::onConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self)
{
    auto* d = static_cast<DeviceFile*>(self);
    std::lock_guard<std::mutex> lock(d->m_mutex);
    d->ensureFile(client);
}

void DeviceFile::onVanished(UMockdevIoctlBase*, UMockdevIoctlClient*, void* self)
{
    auto* d = static_cast<DeviceFile*>(self);
    std::lock_guard<std::mutex> lock(d->m_mutex);
    d->dropClosedFiles();
}

int DeviceFile::onRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self)
{
    // usbfs reads give the device descriptor and the raw configuration
    // descriptors, from the file position on.
    auto* d = static_cast<DeviceFile*>(self);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const std::vector<uint8_t> all = descriptors();
    long n;
    {
        std::lock_guard<std::mutex> lock(d->m_mutex);
        if (d->m_gone) {
            n = -ENODEV;
        } else {
            File& f = d->ensureFile(client);
            const size_t left = f.readOffset < all.size() ? all.size() - f.readOffset : 0;
            const size_t count = std::min(left, size_t(std::max(arg->data_len, 0)));
            std::memcpy(arg->data, all.data() + f.readOffset, count);
            f.readOffset += count;
            n = long(count);
        }
    }
    answer(client, n);
    return TRUE;
}

int DeviceFile::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self)
{
    auto* d = static_cast<DeviceFile*>(self);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    bool answered = false;
    long result;
    std::function<void()> unplug;
    {
        std::lock_guard<std::mutex> lock(d->m_mutex);
        if (!d->m_context) {
            GMainContext* ctx = g_main_context_get_thread_default();
            d->m_context = g_main_context_ref(ctx ? ctx : g_main_context_default());
        }
        d->dropClosedFiles();
        d->ensureFile(client);
        if (request == USBDEVFS_REAPURBNDELAY || request == USBDEVFS_REAPURB) {
            result = d->handleReap(client, &answered);
        } else {
            result = d->handleIoctl(client, request);
            const char* name = ioctlName(request);
            char unknown[24];
            if (!name) {
                std::snprintf(unknown, sizeof unknown, "0x%lx", request);
                name = unknown;
            }
            d->m_ioctls.push_back({name, result, client});
        }
        if (d->m_unplugRequested) {
            d->m_unplugRequested = false;
            unplug = d->m_unplugRequest;
        }
    }
    if (!answered)
        answer(client, result);
    if (unplug)
        unplug();
    return TRUE;
}

long DeviceFile::handleReap(UMockdevIoctlClient* client, bool* answered)
{
    // Reaps go on after the unplug, for what had completed.
    ++m_reaps;
    File* f = fileOf(client);
    const long r = reapUrb(client, umockdev_ioctl_client_get_arg(client));
    // The emulated file always polls writable, so libusb reaps in a loop
    // while it waits. An empty reap is held back until one of the file's
    // URBs completes or the park time passes -- except the empty reap that
    // ends libusb's loop after a completion, or every transfer would cost
    // the park time.
    const bool spinning = f->lastReapEmpty;
    f->lastReapEmpty = r == -EAGAIN;
    const bool inFlight = std::any_of(m_urbs.begin(), m_urbs.end(), [client](const std::unique_ptr<Urb>& u) {
        return u->file == client && !u->ready;
    });
    if (r == -EAGAIN && m_park.count() > 0 && !f->parked && (inFlight || spinning)) {
        f->parked = true;
        f->parkTimer = startTimer(unsigned(m_park.count()), &DeviceFile::parkExpired, f->id);
        *answered = true;
    }
    return r;
}

long DeviceFile::handleIoctl(UMockdevIoctlClient* client, unsigned long request)
{
    if (m_gone)
        return -ENODEV;
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);

    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        Resolved caps(arg, sizeof(uint32_t));
        if (!caps)
            return -EFAULT;
        *caps.as<uint32_t>() = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION
                               | USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        return 0;
    }
    case USBDEVFS_CLAIMINTERFACE: {
        Resolved ifno(arg, sizeof(unsigned));
        if (!ifno)
            return -EFAULT;
        return claimInterface(client, *ifno.as<unsigned>());
    }
    case USBDEVFS_RELEASEINTERFACE: {
        Resolved ifno(arg, sizeof(unsigned));
        if (!ifno)
            return -EFAULT;
        if (*ifno.as<unsigned>() != 0)
            return -ENOENT;
        if (m_claimedBy != client)
            return -EINVAL;
        m_claimedBy = nullptr;
        return 0;
    }
    case USBDEVFS_GETDRIVER: {
        Resolved gd(arg, sizeof(usbdevfs_getdriver));
        if (!gd)
            return -EFAULT;
        auto* g = gd.as<usbdevfs_getdriver>();
        const std::string driver = interfaceDriver();
        if (g->interface != 0 || driver.empty())
            return -ENODATA;
        g_strlcpy(g->driver, driver.c_str(), sizeof g->driver);
        return 0;
    }
    case USBDEVFS_IOCTL: {
        Resolved io(arg, sizeof(usbdevfs_ioctl));
        if (!io)
            return -EFAULT;
        auto* c = io.as<usbdevfs_ioctl>();
        if (c->ifno != 0)
            return -EINVAL;
        if (c->ioctl_code == int(USBDEVFS_DISCONNECT))
            return unbindInterface();
        if (c->ioctl_code == int(USBDEVFS_CONNECT)) {
            // The kernel answers 1 when a driver got bound and 0 when none
            // matches, as for this vendor-specific interface.
            if (!interfaceDriver().empty())
                return -EBUSY;
            if (m_driverAvailable.empty())
                return 0;
            m_driver = m_driverAvailable;
            return 1;
        }
        return -ENOTTY;
    }
    case USBDEVFS_DISCONNECT_CLAIM: {
        Resolved dc(arg, sizeof(usbdevfs_disconnect_claim));
        if (!dc)
            return -EFAULT;
        auto* c = dc.as<usbdevfs_disconnect_claim>();
        if ((c->flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER) && (c->flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER))
            return -EINVAL;
        if (c->interface != 0)
            return -EINVAL;
        const std::string driver = interfaceDriver();
        if (!driver.empty() && claimant() != client) {
            const bool same = std::strncmp(c->driver, driver.c_str(), sizeof c->driver) == 0;
            if ((c->flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER) && !same)
                return -EBUSY;
            if ((c->flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) && same)
                return -EBUSY;
            unbindInterface();
        }
        return claimInterface(client, 0);
    }
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP: {
        Resolved ep(arg, sizeof(unsigned));
        if (!ep)
            return -EFAULT;
        const unsigned endpoint = *ep.as<unsigned>();
        // usbfs looks the endpoint up among the interface's; endpoint 0 is
        // not one of them.
        if (endpoint & ~(USB_DIR_IN | 0x0Fu))
            return -EINVAL;
        if (!endpointExists(endpoint))
            return -ENOENT;
        if (const long rc = claimInterface(client, 0))
            return rc;
        if (request == USBDEVFS_CLEAR_HALT) {
            m_halted[endpointIndex(endpoint)] = false;
            ++m_clearHalts[endpointIndex(endpoint)];
        }
        return 0;
    }
    case USBDEVFS_CONNECTINFO: {
        Resolved ci(arg, sizeof(usbdevfs_connectinfo));
        if (!ci)
            return -EFAULT;
        ci.as<usbdevfs_connectinfo>()->devnum = unsigned(m_address);
        ci.as<usbdevfs_connectinfo>()->slow = 0;
        return 0;
    }
    case USBDEVFS_GET_SPEED:
        return USB_SPEED_HIGH;
    case USBDEVFS_CONTROL: {
        // A synchronous control request (libusb uses it only without sysfs).
        Resolved ct(arg, sizeof(usbdevfs_ctrltransfer));
        if (!ct)
            return -EFAULT;
        auto* c = ct.as<usbdevfs_ctrltransfer>();
        Transfer rec;
        rec.bmRequestType = c->bRequestType;
        rec.bRequest = c->bRequest;
        rec.wValue = c->wValue;
        rec.wIndex = c->wIndex;
        rec.wLength = c->wLength;
        std::vector<uint8_t> scratch(c->wLength);
        UMockdevIoctlData* buf = nullptr;
        if (c->wLength) {
            buf = resolve(ct.data(), offsetof(usbdevfs_ctrltransfer, data), c->wLength);
            if (!buf)
                return -EFAULT;
            std::memcpy(scratch.data(), buf->data, c->wLength);
        }
        const int n = runControl(rec, scratch.data(), takeFault(c->bRequest));
        if (n > 0 && (c->bRequestType & USB_DIR_IN))
            std::memcpy(buf->data, scratch.data(), size_t(n));
        if (buf)
            g_object_unref(buf);
        return n == kPending ? -ETIMEDOUT : n;
    }
    case USBDEVFS_SUBMITURB:
        return submitUrb(client, arg);
    case USBDEVFS_DISCARDURB:
        return discardUrb(client, arg);
    default:
        g_message("usbfs: ioctl 0x%lx (%s) not emulated", request, ioctlName(request) ? ioctlName(request) : "?");
        return -ENOTTY;
    }
}

long DeviceFile::claimInterface(const void* file, unsigned ifno)
{
    if (ifno >= 32)
        return -EINVAL;
    if (ifno != 0)
        return -ENOENT;
    const void* holder = claimant();
    if (holder == file)
        return 0;
    // Bound to a kernel driver, or claimed through another open file.
    if (holder || !m_driver.empty())
        return -EBUSY;
    m_claimedBy = file;
    return 0;
}

long DeviceFile::unbindInterface()
{
    // Whatever driver holds the interface lets it go, usbfs included.
    if (claimant()) {
        m_claimedBy = nullptr;
        return 0;
    }
    if (m_driver.empty())
        return -ENODATA;
    m_driver.clear();
    return 0;
}

int DeviceFile::takeFault(int request)
{
    for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
        const bool match = it->request == request || (it->request == kAnyControl && request != kBulk);
        if (!match)
            continue;
        const int fault = int(it->fault);
        if (it->times > 0 && --it->times == 0)
            m_faults.erase(it);
        return fault;
    }
    return kNoFault;
}

int DeviceFile::standardRequest(const Transfer& rec, uint8_t* payload) const
{
    if (!(rec.bmRequestType & USB_DIR_IN))
        return -EPIPE;
    auto give = [&](const uint8_t* bytes, size_t size) {
        const size_t n = std::min<size_t>(size, rec.wLength);
        std::memcpy(payload, bytes, n);
        return int(n);
    };
    switch (rec.bRequest) {
    case USB_REQ_GET_DESCRIPTOR: {
        const int type = rec.wValue >> 8, index = rec.wValue & 0xFF;
        if (type == USB_DT_DEVICE)
            return give(kDeviceDescriptor, sizeof kDeviceDescriptor);
        if (type == USB_DT_CONFIG && index == 0)
            return give(kConfigDescriptor, sizeof kConfigDescriptor);
        if (type == USB_DT_STRING && index == 0) {
            const uint8_t languages[4] = {4, USB_DT_STRING, 0x09, 0x04}; // English (US)
            return give(languages, sizeof languages);
        }
        if (type == USB_DT_STRING && index < int(sizeof kStrings / sizeof kStrings[0])) {
            uint8_t s[64] = {0, USB_DT_STRING};
            size_t len = 2;
            for (const char* c = kStrings[index]; *c && len + 2 <= sizeof s; ++c, len += 2)
                s[len] = uint8_t(*c); // UTF-16LE of ASCII
            s[0] = uint8_t(len);
            return give(s, len);
        }
        return -EPIPE;
    }
    case USB_REQ_GET_CONFIGURATION: {
        const uint8_t configuration = 1;
        return give(&configuration, 1);
    }
    case USB_REQ_GET_STATUS: {
        const bool device = (rec.bmRequestType & USB_RECIP_MASK) == USB_RECIP_DEVICE;
        const uint8_t status[2] = {uint8_t(device ? 1 : 0), 0}; // self-powered
        return give(status, 2);
    }
    default:
        return -EPIPE;
    }
}

// One control request through the unit: the bytes moved, -errno for the
// URB's status, or kPending when it never completes.
int DeviceFile::runControl(Transfer& rec, uint8_t* payload, int fault)
{
    const bool in = rec.bmRequestType & USB_DIR_IN;
    if (!in && rec.wLength)
        rec.data.assign(payload, payload + rec.wLength);
    if (const int status = failedStatus(fault))
        return status;
    if (fault == int(Fault::Timeout))
        return kPending;
    if (fault == int(Fault::Unplug)) {
        m_unplugRequested = true;
        return kPending;
    }

    int moved;
    if ((rec.bmRequestType & USB_TYPE_MASK) == USB_TYPE_STANDARD) {
        moved = standardRequest(rec, payload);
        if (moved < 0)
            return moved;
    } else {
        const int answer = m_unit->control(rec.bmRequestType, rec.bRequest, rec.wValue, rec.wIndex, payload,
                                           rec.wLength);
        if (answer == kStall)
            return -EPIPE;
        if (answer == kNoAnswer)
            return kPending;
        if (answer < 0)
            return -EPROTO;
        // A completed OUT data stage moves all of it.
        moved = in ? std::min<int>(answer, rec.wLength) : rec.wLength;
    }
    if (fault == int(Fault::Short))
        moved = std::max(0, std::min<int>(moved, rec.wLength - 1));
    if (in)
        rec.data.assign(payload, payload + moved);
    return moved;
}

// One bulk URB through the unit, as runControl().
int DeviceFile::runBulk(Transfer& rec, uint8_t* buffer, int length, int fault)
{
    const bool in = rec.endpoint & USB_DIR_IN;
    const int ep = endpointIndex(rec.endpoint);
    if (!in && length > 0)
        rec.data.assign(buffer, buffer + length);
    if (m_halted[ep])
        return -EPIPE;
    if (const int status = failedStatus(fault)) {
        if (status == -EPIPE)
            m_halted[ep] = true;
        return status;
    }
    if (fault == int(Fault::Timeout))
        return kPending;
    if (fault == int(Fault::Unplug)) {
        m_unplugRequested = true;
        return kPending;
    }
    const int answer = m_unit->bulk(rec.endpoint, buffer, length);
    if (answer == kStall) {
        m_halted[ep] = true;
        return -EPIPE;
    }
    if (answer == kNoAnswer)
        return kPending;
    if (answer < 0)
        return -EPROTO;
    int moved = std::min(answer, length);
    if (fault == int(Fault::Short))
        moved = std::max(0, std::min(moved, length - 1));
    if (!in)
        rec.data.resize(size_t(moved));
    else
        rec.data.assign(buffer, buffer + moved);
    return moved;
}

long DeviceFile::submitUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    auto urb = std::make_unique<Urb>();
    urb->urb = resolve(arg, 0, sizeof(usbdevfs_urb));
    if (!urb->urb)
        return -EFAULT;
    // After the resolve the argument holds our copy's address; the caller's
    // is what DISCARDURB names.
    urb->address = urb->urb->client_addr;
    urb->file = client;
    auto* u = reinterpret_cast<usbdevfs_urb*>(urb->urb->data);
    if (u->buffer_length < 0)
        return -EINVAL;
    if (u->buffer_length > 0) {
        urb->buffer = resolve(urb->urb, offsetof(usbdevfs_urb, buffer), size_t(u->buffer_length));
        if (!urb->buffer)
            return -EFAULT;
    }
    uint8_t* buf = urb->buffer ? urb->buffer->data : nullptr;

    auto rec = std::make_shared<Transfer>();
    rec->endpoint = u->endpoint;
    rec->t_us = m_clock();
    rec->through = client;
    int result;
    if (u->type == USBDEVFS_URB_TYPE_CONTROL) {
        // The setup packet comes in front of the data.
        if ((u->endpoint & 0x7F) != 0)
            return -ENOENT;
        if (u->buffer_length < 8)
            return -EINVAL;
        rec->kind = Transfer::Control;
        rec->bmRequestType = buf[0];
        rec->bRequest = buf[1];
        rec->wValue = uint16_t(buf[2] | buf[3] << 8);
        rec->wIndex = uint16_t(buf[4] | buf[5] << 8);
        rec->wLength = uint16_t(buf[6] | buf[7] << 8);
        if (rec->wLength + 8 > u->buffer_length)
            return -EINVAL;
        result = runControl(*rec, buf + 8, takeFault(rec->bRequest));
    } else if (u->type == USBDEVFS_URB_TYPE_BULK) {
        if (!endpointExists(u->endpoint))
            return -ENOENT;
        // usbfs claims an unclaimed interface for the file on first use.
        if (const long rc = claimInterface(client, 0))
            return rc;
        rec->kind = Transfer::Bulk;
        result = runBulk(*rec, buf, u->buffer_length, takeFault(kBulk));
    } else {
        return -EINVAL; // the unit has no interrupt or isochronous endpoints
    }

    urb->id = ++m_ids;
    urb->record = rec;
    m_log.push_back(rec);
    Urb& submitted = *urb;
    m_urbs.push_back(std::move(urb));
    if (result == kPending)
        return 0; // in flight until discarded or unplugged
    submitted.status = result < 0 ? result : 0;
    submitted.actual = result < 0 ? 0 : result;
    if (m_latency.count() > 0)
        submitted.timer = startTimer(unsigned(m_latency.count()), &DeviceFile::latencyDone, submitted.id);
    else
        complete(submitted, submitted.status, submitted.actual);
    return 0;
}

void DeviceFile::complete(Urb& urb, int status, int actual)
{
    if (urb.ready)
        return;
    stopTimer(urb.timer);
    urb.ready = true;
    urb.completion = ++m_completions;
    auto* u = reinterpret_cast<usbdevfs_urb*>(urb.urb->data);
    u->status = status;
    u->actual_length = actual;
    urb.record->result = libusbResult(status, actual, urb.record->discarded);
    urb.record->end_us = m_clock();
    File* f = fileOf(urb.file);
    if (f && f->parked)
        unpark(*f);
}

long DeviceFile::reapUrb(const void* file, UMockdevIoctlData* arg)
{
    // The file's earliest completion.
    auto next = m_urbs.end();
    for (auto it = m_urbs.begin(); it != m_urbs.end(); ++it)
        if ((*it)->file == file && (*it)->ready && (next == m_urbs.end() || (*it)->completion < (*next)->completion))
            next = it;
    if (next == m_urbs.end())
        return m_gone ? -ENODEV : -EAGAIN;
    UMockdevIoctlData* slot = resolve(arg, 0, sizeof(void*));
    if (!slot)
        return -EFAULT;
    // The caller's "struct usbdevfs_urb *" is made to point at its own URB;
    // the URB and its buffer go back to it with the answer.
    umockdev_ioctl_data_set_ptr(slot, 0, (*next)->urb);
    g_object_unref(slot);
    m_urbs.erase(next);
    return 0;
}

long DeviceFile::discardUrb(const void* file, UMockdevIoctlData* arg)
{
    const unsigned long address = *reinterpret_cast<unsigned long*>(arg->data);
    for (auto& u : m_urbs) {
        if (u->file != file || u->address != address)
            continue;
        if (u->ready)
            return -EINVAL; // completed already: nothing to kill
        // usb_kill_urb(): the URB completes with -ENOENT before the ioctl
        // returns.
        u->record->discarded = true;
        complete(*u, -ENOENT, 0);
        return 0;
    }
    return -EINVAL;
}

void DeviceFile::unpark(File& f)
{
    // umockdev_ioctl_client_complete() may be called from any thread.
    stopTimer(f.parkTimer);
    f.parked = false;
    const long r = reapUrb(f.client, umockdev_ioctl_client_get_arg(f.client));
    f.lastReapEmpty = r == -EAGAIN;
    answer(f.client, r);
}

void DeviceFile::stopTimer(GSource*& timer)
{
    if (timer) {
        g_source_destroy(timer);
        g_source_unref(timer);
        timer = nullptr;
    }
}

GSource* DeviceFile::startTimer(unsigned ms, int (*fn)(void*), uint64_t id)
{
    GSource* src = g_timeout_source_new(ms);
    g_source_set_callback(src, reinterpret_cast<GSourceFunc>(fn), new Job{weak_from_this(), id}, &deleteJob);
    g_source_attach(src, m_context);
    return src;
}

int DeviceFile::parkExpired(void* job)
{
    auto self = static_cast<Job*>(job)->self.lock();
    if (!self)
        return G_SOURCE_REMOVE;
    const uint64_t id = static_cast<Job*>(job)->id;
    std::lock_guard<std::mutex> lock(self->m_mutex);
    for (File& f : self->m_files) {
        // Not when the timer was stopped while this call waited for the lock.
        if (f.id == id && f.parked && f.parkTimer == g_main_current_source())
            self->unpark(f);
    }
    return G_SOURCE_REMOVE;
}

int DeviceFile::latencyDone(void* job)
{
    auto self = static_cast<Job*>(job)->self.lock();
    if (!self)
        return G_SOURCE_REMOVE;
    const uint64_t id = static_cast<Job*>(job)->id;
    std::lock_guard<std::mutex> lock(self->m_mutex);
    for (auto& u : self->m_urbs) {
        if (u->id == id && u->timer && u->timer == g_main_current_source()) {
            self->complete(*u, u->status, u->actual);
            break;
        }
    }
    return G_SOURCE_REMOVE;
}

void DeviceFile::markUnplugged()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_gone)
        return;
    m_gone = true;
    m_claimedBy = nullptr;
    // The host controller gives back every URB in flight; held reaps then
    // get them, or ENODEV.
    for (auto& u : m_urbs)
        complete(*u, -ESHUTDOWN, 0);
    for (File& f : m_files)
        if (f.parked)
            unpark(f);
}

void DeviceFile::shutdown()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (File& f : m_files)
        stopTimer(f.parkTimer);
    for (auto& u : m_urbs)
        stopTimer(u->timer);
}

} // namespace usbfs
} // namespace sim
