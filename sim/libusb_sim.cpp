// The libusb-1.0 calls the program makes, answered by the virtual bus.
// Results follow libusb 1.0.26 on Linux (usbfs back-end), including its
// less convenient corners, so code tested here behaves the same on a real
// bus: calls on an unplugged unit fail with LIBUSB_ERROR_NO_DEVICE while
// closing still works, descriptors stay readable from a list taken before
// the unplug, and so on.

#include "libusb_sim.h"
#include "sim_bus.h"

#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>

struct libusb_context
{
    int logLevel = LIBUSB_LOG_LEVEL_NONE;
};

struct libusb_device
{
    std::shared_ptr<sim::SimDevice> sim;
    libusb_context* ctx = nullptr;
    std::atomic<int> refs{1};
};

struct libusb_device_handle
{
    libusb_device* dev = nullptr;
    // libusb's own record of what this handle claimed; usbfs keeps its own
    // (an implicit claim by a bulk transfer is only there).
    std::atomic<bool> claimed{false};
};

namespace {

constexpr int kMaxInterfaces = 32; // USB_MAXINTERFACES in libusb
constexpr int kInterfaces = 1;     // the unit has interface 0 only

// Contexts alive, in creation order; the first is libusb's fallback when a
// call passes no context and there is no default one. Never destroyed, so
// a late call during process exit still finds it.
struct Registry
{
    std::mutex mutex;
    std::vector<libusb_context*> contexts;
    libusb_context* defaultCtx = nullptr;
    int defaultRefs = 0;
};

Registry& registry()
{
    static Registry* r = new Registry;
    return *r;
}

// Handles open now. A call on any other pointer is a handle used after its
// close: counted, and answered without touching it.
std::mutex& handles_mutex()
{
    static std::mutex* m = new std::mutex;
    return *m;
}

std::unordered_set<const libusb_device_handle*>& open_handles()
{
    static auto* set = new std::unordered_set<const libusb_device_handle*>;
    return *set;
}

bool handle_open(const libusb_device_handle* h)
{
    std::lock_guard<std::mutex> lock(handles_mutex());
    if (open_handles().count(h))
        return true;
    sim::VirtualBus::instance().noteClosedHandleUse();
    return false;
}

libusb_context* resolveContext(libusb_context* ctx)
{
    if (ctx)
        return ctx;
    Registry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    if (reg.defaultCtx)
        return reg.defaultCtx;
    return reg.contexts.empty() ? nullptr : reg.contexts.front();
}

// Both called with the registry's mutex held.
libusb_context* newContext()
{
    Registry& reg = registry();
    auto* ctx = new libusb_context;
    reg.contexts.push_back(ctx);
    sim::VirtualBus::instance().contextOpened();
    return ctx;
}

void deleteContext(libusb_context* ctx)
{
    Registry& reg = registry();
    const auto it = std::find(reg.contexts.begin(), reg.contexts.end(), ctx);
    if (it == reg.contexts.end())
        return; // exited twice: ignore rather than free again
    reg.contexts.erase(it);
    delete ctx;
    sim::VirtualBus::instance().contextClosed();
}

bool pluggedIn(libusb_device_handle* h)
{
    return h && h->dev && h->dev->sim->plugged();
}

} // namespace

namespace sim {

std::vector<int> contextLogLevels()
{
    Registry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    std::vector<int> levels;
    for (const libusb_context* ctx : reg.contexts)
        levels.push_back(ctx->logLevel);
    return levels;
}

} // namespace sim

extern "C" {

int LIBUSB_CALL libusb_init(libusb_context** ctx)
{
    if (const int rc = sim::VirtualBus::instance().initFailure())
        return rc;
    Registry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    if (ctx) {
        *ctx = newContext();
        return LIBUSB_SUCCESS;
    }
    // The implicit default context is shared and counted.
    if (!reg.defaultCtx)
        reg.defaultCtx = newContext();
    ++reg.defaultRefs;
    return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_exit(libusb_context* ctx)
{
    Registry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    if (!ctx || ctx == reg.defaultCtx) {
        if (!reg.defaultCtx || --reg.defaultRefs > 0)
            return;
        ctx = reg.defaultCtx;
        reg.defaultCtx = nullptr;
    }
    deleteContext(ctx);
}

int LIBUSB_CALL libusb_set_option(libusb_context* ctx, enum libusb_option option, ...)
{
    int rc = LIBUSB_SUCCESS;
    va_list ap;
    va_start(ap, option);
    switch (option) {
    case LIBUSB_OPTION_LOG_LEVEL: {
        const int level = va_arg(ap, int);
        if (level < LIBUSB_LOG_LEVEL_NONE || level > LIBUSB_LOG_LEVEL_DEBUG) {
            rc = LIBUSB_ERROR_INVALID_PARAM;
            break;
        }
        if (libusb_context* c = resolveContext(ctx)) {
            std::lock_guard<std::mutex> lock(registry().mutex);
            c->logLevel = level;
        }
        break;
    }
    case LIBUSB_OPTION_USE_USBDK:
        rc = LIBUSB_ERROR_NOT_SUPPORTED; // Windows only
        break;
    case LIBUSB_OPTION_NO_DEVICE_DISCOVERY:
        break;
    default:
        rc = LIBUSB_ERROR_INVALID_PARAM;
        break;
    }
    va_end(ap);
    return rc;
}

void LIBUSB_CALL libusb_set_debug(libusb_context* ctx, int level)
{
    (void)libusb_set_option(ctx, LIBUSB_OPTION_LOG_LEVEL, level);
}

ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context* ctx, libusb_device*** list)
{
    ctx = resolveContext(ctx);
    if (!ctx || !list)
        return LIBUSB_ERROR_INVALID_PARAM;
    sim::VirtualBus& bus = sim::VirtualBus::instance();
    if (const int rc = bus.deviceListFailure())
        return rc;
    const auto devices = bus.devices();
    auto** out = new libusb_device*[devices.size() + 1];
    size_t n = 0;
    for (const auto& d : devices) {
        auto* dev = new libusb_device;
        dev->sim = d;
        dev->ctx = ctx;
        bus.deviceRefCreated();
        out[n++] = dev;
    }
    out[n] = nullptr;
    *list = out;
    return static_cast<ssize_t>(n);
}

libusb_device* LIBUSB_CALL libusb_ref_device(libusb_device* dev)
{
    if (dev)
        ++dev->refs;
    return dev;
}

void LIBUSB_CALL libusb_unref_device(libusb_device* dev)
{
    if (!dev)
        return;
    if (--dev->refs == 0) {
        delete dev;
        sim::VirtualBus::instance().deviceRefDestroyed();
    }
}

void LIBUSB_CALL libusb_free_device_list(libusb_device** list, int unref_devices)
{
    if (!list)
        return;
    if (unref_devices)
        for (libusb_device** p = list; *p; ++p)
            libusb_unref_device(*p);
    delete[] list;
}

int LIBUSB_CALL libusb_get_device_descriptor(libusb_device* dev,
                                             struct libusb_device_descriptor* desc)
{
    if (!dev || !desc)
        return LIBUSB_ERROR_INVALID_PARAM;
    if (const int rc = sim::VirtualBus::instance().descriptorFailure())
        return rc;
    // Read from libusb's cache: still answers after the unit is gone.
    desc->bLength = LIBUSB_DT_DEVICE_SIZE;
    desc->bDescriptorType = LIBUSB_DT_DEVICE;
    desc->bcdUSB = 0x0200;
    desc->bDeviceClass = 0;
    desc->bDeviceSubClass = 0;
    desc->bDeviceProtocol = 0;
    desc->bMaxPacketSize0 = 64;
    desc->idVendor = dev->sim->vendorId();
    desc->idProduct = dev->sim->productId();
    desc->bcdDevice = 0x0100;
    desc->iManufacturer = 1;
    desc->iProduct = 2;
    desc->iSerialNumber = 3;
    desc->bNumConfigurations = 1;
    return LIBUSB_SUCCESS;
}

uint8_t LIBUSB_CALL libusb_get_bus_number(libusb_device* dev)
{
    return dev ? dev->sim->busNumber() : 0;
}

uint8_t LIBUSB_CALL libusb_get_device_address(libusb_device* dev)
{
    return dev ? dev->sim->address() : 0;
}

int LIBUSB_CALL libusb_open(libusb_device* dev, libusb_device_handle** dev_handle)
{
    if (!dev || !dev_handle)
        return LIBUSB_ERROR_INVALID_PARAM;
    if (const int rc = dev->sim->openFailure())
        return rc;
    auto* h = new libusb_device_handle;
    h->dev = libusb_ref_device(dev);
    {
        std::lock_guard<std::mutex> lock(handles_mutex());
        open_handles().insert(h);
    }
    sim::VirtualBus::instance().handleOpened();
    *dev_handle = h;
    return LIBUSB_SUCCESS;
}

libusb_device_handle* LIBUSB_CALL libusb_open_device_with_vid_pid(libusb_context* ctx,
                                                                  uint16_t vendor_id,
                                                                  uint16_t product_id)
{
    libusb_device** list = nullptr;
    if (libusb_get_device_list(ctx, &list) < 0)
        return nullptr;
    libusb_device_handle* h = nullptr;
    for (libusb_device** p = list; *p; ++p) {
        libusb_device_descriptor desc;
        if (libusb_get_device_descriptor(*p, &desc) < 0)
            break;
        if (desc.idVendor == vendor_id && desc.idProduct == product_id) {
            // Only the first match is tried, as libusb does.
            if (libusb_open(*p, &h) < 0)
                h = nullptr;
            break;
        }
    }
    libusb_free_device_list(list, 1);
    return h;
}

void LIBUSB_CALL libusb_close(libusb_device_handle* dev_handle)
{
    if (!dev_handle || !handle_open(dev_handle))
        return;
    {
        std::lock_guard<std::mutex> lock(handles_mutex());
        open_handles().erase(dev_handle);
    }
    // Closing the usbfs file gives up whatever the handle held.
    dev_handle->dev->sim->handleClosed(dev_handle);
    libusb_unref_device(dev_handle->dev);
    delete dev_handle;
    sim::VirtualBus::instance().handleClosed();
}

libusb_device* LIBUSB_CALL libusb_get_device(libusb_device_handle* dev_handle)
{
    return dev_handle ? dev_handle->dev : nullptr;
}

int LIBUSB_CALL libusb_kernel_driver_active(libusb_device_handle* dev_handle, int interface_number)
{
    if (dev_handle && !handle_open(dev_handle))
        return LIBUSB_ERROR_NO_DEVICE;
    if (!dev_handle || interface_number < 0 || interface_number >= kMaxInterfaces)
        return LIBUSB_ERROR_INVALID_PARAM;
    if (!pluggedIn(dev_handle))
        return LIBUSB_ERROR_NO_DEVICE;
    if (interface_number >= kInterfaces)
        return 0; // usbfs: ENODATA
    return dev_handle->dev->sim->kernelDriverQuery();
}

int LIBUSB_CALL libusb_detach_kernel_driver(libusb_device_handle* dev_handle, int interface_number)
{
    if (dev_handle && !handle_open(dev_handle))
        return LIBUSB_ERROR_NO_DEVICE;
    if (!dev_handle || interface_number < 0 || interface_number >= kMaxInterfaces)
        return LIBUSB_ERROR_INVALID_PARAM;
    if (!pluggedIn(dev_handle))
        return LIBUSB_ERROR_NO_DEVICE;
    if (interface_number >= kInterfaces)
        return LIBUSB_ERROR_INVALID_PARAM; // usbfs: EINVAL
    return dev_handle->dev->sim->detachKernelDriver();
}

int LIBUSB_CALL libusb_attach_kernel_driver(libusb_device_handle* dev_handle, int interface_number)
{
    if (dev_handle && !handle_open(dev_handle))
        return LIBUSB_ERROR_NO_DEVICE;
    if (!dev_handle || interface_number < 0 || interface_number >= kMaxInterfaces)
        return LIBUSB_ERROR_INVALID_PARAM;
    if (!pluggedIn(dev_handle))
        return LIBUSB_ERROR_NO_DEVICE;
    if (interface_number >= kInterfaces)
        return LIBUSB_ERROR_INVALID_PARAM;
    return dev_handle->dev->sim->attachKernelDriver();
}

int LIBUSB_CALL libusb_claim_interface(libusb_device_handle* dev_handle, int interface_number)
{
    if (dev_handle && !handle_open(dev_handle))
        return LIBUSB_ERROR_NO_DEVICE;
    if (!dev_handle || interface_number < 0 || interface_number >= kMaxInterfaces)
        return LIBUSB_ERROR_INVALID_PARAM;
    if (!pluggedIn(dev_handle))
        return LIBUSB_ERROR_NO_DEVICE;
    // `claimed` stands for libusb's bit of interface 0, the only one.
    if (interface_number >= kInterfaces)
        return LIBUSB_ERROR_NOT_FOUND; // usbfs: ENOENT
    if (dev_handle->claimed)
        return LIBUSB_SUCCESS;
    const int rc = dev_handle->dev->sim->claim(dev_handle);
    if (rc == 0)
        dev_handle->claimed = true;
    return rc;
}

int LIBUSB_CALL libusb_release_interface(libusb_device_handle* dev_handle, int interface_number)
{
    if (dev_handle && !handle_open(dev_handle))
        return LIBUSB_ERROR_NO_DEVICE;
    if (!dev_handle || interface_number < 0 || interface_number >= kMaxInterfaces)
        return LIBUSB_ERROR_INVALID_PARAM;
    // libusb checks its own record before asking the kernel, so a handle
    // that never claimed gets NOT_FOUND even from an unplugged unit.
    if (interface_number >= kInterfaces || !dev_handle->claimed)
        return LIBUSB_ERROR_NOT_FOUND;
    const int rc = dev_handle->dev->sim->release(dev_handle);
    if (rc == 0)
        dev_handle->claimed = false;
    return rc;
}

int LIBUSB_CALL libusb_control_transfer(libusb_device_handle* dev_handle, uint8_t request_type,
                                        uint8_t bRequest, uint16_t wValue, uint16_t wIndex,
                                        unsigned char* data, uint16_t wLength,
                                        unsigned int timeout)
{
    // Real libusb dereferences these; report the misuse instead.
    if (!dev_handle || (wLength && !data))
        return LIBUSB_ERROR_INVALID_PARAM;
    if (!handle_open(dev_handle))
        return LIBUSB_ERROR_NO_DEVICE;
    const int rc = dev_handle->dev->sim->control(request_type, bRequest, wValue, wIndex, data, wLength,
                                                 timeout);
    // Closed while the transfer was in flight: libusb would have been
    // working on freed memory all along.
    handle_open(dev_handle);
    return rc;
}

int LIBUSB_CALL libusb_bulk_transfer(libusb_device_handle* dev_handle, unsigned char endpoint,
                                     unsigned char* data, int length, int* actual_length,
                                     unsigned int timeout)
{
    if (!dev_handle || length < 0 || (length && !data))
        return LIBUSB_ERROR_INVALID_PARAM;
    if (!handle_open(dev_handle))
        return LIBUSB_ERROR_NO_DEVICE;
    sim::SimDevice& dev = *dev_handle->dev->sim;
    if (dev.plugged()) {
        // usbfs refuses the URB (ENOENT, EBUSY); libusb reports both as I/O.
        if (endpoint != sim::kBulkOutEndpoint && endpoint != sim::kBulkInEndpoint)
            return LIBUSB_ERROR_IO;
        const int rc = dev.interfaceAccess(dev_handle);
        if (rc != 0 && rc != LIBUSB_ERROR_NO_DEVICE)
            return LIBUSB_ERROR_IO;
    }
    const int rc = dev.bulk(endpoint, data, length, actual_length, timeout);
    handle_open(dev_handle); // counts a close made while the transfer was in flight
    return rc;
}

int LIBUSB_CALL libusb_clear_halt(libusb_device_handle* dev_handle, unsigned char endpoint)
{
    if (dev_handle && !handle_open(dev_handle))
        return LIBUSB_ERROR_NO_DEVICE;
    if (!dev_handle)
        return LIBUSB_ERROR_INVALID_PARAM;
    if (!pluggedIn(dev_handle))
        return LIBUSB_ERROR_NO_DEVICE;
    return dev_handle->dev->sim->clearHalt(dev_handle, endpoint);
}

const char* LIBUSB_CALL libusb_error_name(int errcode)
{
    switch (errcode) {
    case LIBUSB_ERROR_IO: return "LIBUSB_ERROR_IO";
    case LIBUSB_ERROR_INVALID_PARAM: return "LIBUSB_ERROR_INVALID_PARAM";
    case LIBUSB_ERROR_ACCESS: return "LIBUSB_ERROR_ACCESS";
    case LIBUSB_ERROR_NO_DEVICE: return "LIBUSB_ERROR_NO_DEVICE";
    case LIBUSB_ERROR_NOT_FOUND: return "LIBUSB_ERROR_NOT_FOUND";
    case LIBUSB_ERROR_BUSY: return "LIBUSB_ERROR_BUSY";
    case LIBUSB_ERROR_TIMEOUT: return "LIBUSB_ERROR_TIMEOUT";
    case LIBUSB_ERROR_OVERFLOW: return "LIBUSB_ERROR_OVERFLOW";
    case LIBUSB_ERROR_PIPE: return "LIBUSB_ERROR_PIPE";
    case LIBUSB_ERROR_INTERRUPTED: return "LIBUSB_ERROR_INTERRUPTED";
    case LIBUSB_ERROR_NO_MEM: return "LIBUSB_ERROR_NO_MEM";
    case LIBUSB_ERROR_NOT_SUPPORTED: return "LIBUSB_ERROR_NOT_SUPPORTED";
    case LIBUSB_ERROR_OTHER: return "LIBUSB_ERROR_OTHER";
    case LIBUSB_TRANSFER_ERROR: return "LIBUSB_TRANSFER_ERROR";
    case LIBUSB_TRANSFER_TIMED_OUT: return "LIBUSB_TRANSFER_TIMED_OUT";
    case LIBUSB_TRANSFER_CANCELLED: return "LIBUSB_TRANSFER_CANCELLED";
    case LIBUSB_TRANSFER_STALL: return "LIBUSB_TRANSFER_STALL";
    case LIBUSB_TRANSFER_NO_DEVICE: return "LIBUSB_TRANSFER_NO_DEVICE";
    case LIBUSB_TRANSFER_OVERFLOW: return "LIBUSB_TRANSFER_OVERFLOW";
    case 0: return "LIBUSB_SUCCESS / LIBUSB_TRANSFER_COMPLETED";
    default: return "**UNKNOWN**";
    }
}

const char* LIBUSB_CALL libusb_strerror(int errcode)
{
    // libusb's English texts; anything unknown is "Other error".
    switch (errcode) {
    case LIBUSB_SUCCESS: return "Success";
    case LIBUSB_ERROR_IO: return "Input/Output Error";
    case LIBUSB_ERROR_INVALID_PARAM: return "Invalid parameter";
    case LIBUSB_ERROR_ACCESS: return "Access denied (insufficient permissions)";
    case LIBUSB_ERROR_NO_DEVICE: return "No such device (it may have been disconnected)";
    case LIBUSB_ERROR_NOT_FOUND: return "Entity not found";
    case LIBUSB_ERROR_BUSY: return "Resource busy";
    case LIBUSB_ERROR_TIMEOUT: return "Operation timed out";
    case LIBUSB_ERROR_OVERFLOW: return "Overflow";
    case LIBUSB_ERROR_PIPE: return "Pipe error";
    case LIBUSB_ERROR_INTERRUPTED: return "System call interrupted (perhaps due to signal)";
    case LIBUSB_ERROR_NO_MEM: return "Insufficient memory";
    case LIBUSB_ERROR_NOT_SUPPORTED:
        return "Operation not supported or unimplemented on this platform";
    default: return "Other error";
    }
}

} // extern "C"
