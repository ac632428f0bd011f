#include "sim_bus.h"

#include <libusb.h>

#include <algorithm>
#include <cstring>

namespace sim {

using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------- SimDevice

SimDevice::SimDevice(std::shared_ptr<SimUnit> unit, uint16_t vid, uint16_t pid)
    : m_unit(std::move(unit)), m_vid(vid), m_pid(pid)
{
}

void SimDevice::failNext(int request, Fault fault, int times)
{
    if (times == 0)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.push_back({request, fault, times});
}

void SimDevice::setInstantTimeouts(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_instantTimeouts = on;
}

void SimDevice::clearFaults()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.clear();
}

int SimDevice::takeFault(int request)
{
    for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
        const bool match = it->request == request
                           || (it->request == kAnyControl && request != kBulk);
        if (!match)
            continue;
        const int code = int(it->fault);
        if (it->times > 0 && --it->times == 0)
            m_faults.erase(it);
        return code;
    }
    return 0;
}

void SimDevice::setOpenFailure(int code)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_openFailure = code;
}

void SimDevice::setClaimFailure(int code)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_claimFailure = code;
}

void SimDevice::setKernelDriverActive(bool active)
{
    setKernelDriverActiveInternal(active);
}

bool SimDevice::kernelDriverActive() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_kernelDriver;
}

bool SimDevice::interfaceClaimed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_claimedBy != nullptr;
}

uint8_t SimDevice::busNumber() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bus;
}

uint8_t SimDevice::address() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_address;
}

int SimDevice::endpointIndex(uint8_t endpoint)
{
    return (endpoint & 0x0F) | ((endpoint & 0x80) ? 0x10 : 0);
}

bool SimDevice::endpointHalted(uint8_t endpoint) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_halted[endpointIndex(endpoint)];
}

int SimDevice::clearHaltCount(uint8_t endpoint) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_clearHalts[endpointIndex(endpoint)];
}

std::vector<Transfer> SimDevice::log() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_log;
}

void SimDevice::clearLog()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.clear();
}

std::vector<uint8_t> SimDevice::requestCodes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t> codes;
    for (const Transfer& t : m_log)
        if (t.kind == Transfer::Control)
            codes.push_back(t.bRequest);
    return codes;
}

void SimDevice::setLatency(std::chrono::microseconds latency)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_latency = latency;
}

bool SimDevice::waitUnlessUnplugged(std::unique_lock<std::mutex>& lock,
                                    const Clock::time_point* deadline)
{
    auto gone = [this] { return !m_plugged.load(); };
    if (deadline)
        m_unplugCv.wait_until(lock, *deadline, gone);
    else
        m_unplugCv.wait(lock, gone);
    return m_plugged.load();
}

void SimDevice::finishTransfer(Transfer& t)
{
    t.discarded = t.result == LIBUSB_ERROR_TIMEOUT;
    t.end_us = VirtualBus::instance().nowUs();
    t.thread = std::this_thread::get_id();
    // A demo left running for days must not grow without end: past the
    // limit the older half goes (tests never come near it).
    if (m_log.size() >= kLogLimit)
        m_log.erase(m_log.begin(), m_log.begin() + kLogLimit / 2);
    m_log.push_back(t);
}

int SimDevice::control(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue, uint16_t wIndex,
                       uint8_t* data, uint16_t wLength, unsigned timeout_ms)
{
    // timeout 0 means no timeout, as in libusb
    auto start = Clock::now();
    auto deadline = start + std::chrono::milliseconds(timeout_ms);
    const Clock::time_point* deadlinePtr = timeout_ms ? &deadline : nullptr;
    const bool in = bmRequestType & 0x80;

    Transfer t;
    t.kind = Transfer::Control;
    t.t_us = VirtualBus::instance().nowUs();
    t.bmRequestType = bmRequestType;
    t.bRequest = bRequest;
    t.wValue = wValue;
    t.wIndex = wIndex;
    t.wLength = wLength;
    t.timeout_ms = timeout_ms;
    if (!in && wLength && data)
        t.data.assign(data, data + wLength);

    BusObserver* const watch = VirtualBus::instance().observer();
    if (watch) {
        watch->transferSubmitting(*this);
        start = Clock::now();
        deadline = start + std::chrono::milliseconds(timeout_ms);
        t.t_us = VirtualBus::instance().nowUs();
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_plugged) {
        // libusb fails the submission; nothing reaches the wire.
        t.result = LIBUSB_ERROR_NO_DEVICE;
        finishTransfer(t);
        return t.result;
    }
    if (watch)
        watch->transferStarted(*this);
    const int fault = takeFault(bRequest);
    const auto latency = m_latency;

    auto finish = [&](int result) {
        t.result = result;
        if (watch)
            watch->transferEnded(*this);
        finishTransfer(t);
        return result;
    };
    // Waits for the unit until `until`, but never past the transfer's
    // deadline. Returns 0 to go on, or the libusb code that ends the transfer.
    auto holdUntil = [&](Clock::time_point until) {
        const bool timesOut = deadlinePtr && deadline <= until;
        if (!waitUnlessUnplugged(lock, timesOut ? deadlinePtr : &until))
            return int(LIBUSB_ERROR_NO_DEVICE);
        return timesOut ? int(LIBUSB_ERROR_TIMEOUT) : 0;
    };
    auto noAnswer = [&]() {
        const Clock::time_point now = Clock::now();
        const Clock::time_point* until = m_instantTimeouts && deadlinePtr ? &now : deadlinePtr;
        return waitUnlessUnplugged(lock, until) ? int(LIBUSB_ERROR_TIMEOUT) : int(LIBUSB_ERROR_NO_DEVICE);
    };

    if (latency.count() > 0) {
        if (const int rc = holdUntil(start + latency))
            return finish(rc);
    }

    if (fault == int(Fault::Unplug)) {
        lock.unlock();
        // shared_from_this is empty only for a device made outside plug().
        if (auto self = weak_from_this().lock())
            VirtualBus::instance().unplug(self);
        else
            markUnplugged();
        lock.lock();
        return finish(LIBUSB_ERROR_NO_DEVICE);
    }
    if (fault == LIBUSB_ERROR_TIMEOUT)
        return finish(noAnswer());
    if (fault < 0)
        return finish(fault);

    // The unit answers outside our lock: it has its own, and transfers on
    // this device must be able to overlap.
    lock.unlock();
    std::vector<uint8_t> buf(wLength, 0);
    if (!in && wLength && data)
        std::memcpy(buf.data(), data, wLength);
    int answer = m_unit->control(bmRequestType, bRequest, wValue, wIndex, buf.data(), wLength);
    lock.lock();

    if (!m_plugged)
        return finish(LIBUSB_ERROR_NO_DEVICE);
    if (answer == kStall)
        return finish(LIBUSB_ERROR_PIPE);
    if (answer == kNoAnswer)
        return finish(noAnswer());
    if (answer < 0)
        return finish(LIBUSB_ERROR_IO);
    answer = std::min<int>(answer, wLength);
    if (!in)
        answer = wLength; // a completed OUT data stage always moves all of it
    if (fault == int(Fault::Short))
        answer = std::max(0, std::min<int>(answer, wLength - 1));
    if (in && answer > 0) {
        if (data)
            std::memcpy(data, buf.data(), static_cast<size_t>(answer));
        t.data.assign(buf.begin(), buf.begin() + answer);
    }
    return finish(answer);
}

int SimDevice::bulk(uint8_t endpoint, uint8_t* data, int length, int* transferred,
                    unsigned timeout_ms)
{
    auto start = Clock::now();
    auto deadline = start + std::chrono::milliseconds(timeout_ms);
    const Clock::time_point* deadlinePtr = timeout_ms ? &deadline : nullptr;
    const bool in = endpoint & 0x80;
    const int ep = endpointIndex(endpoint);

    Transfer t;
    t.kind = Transfer::Bulk;
    t.t_us = VirtualBus::instance().nowUs();
    t.endpoint = endpoint;
    t.timeout_ms = timeout_ms;
    if (!in && length > 0 && data)
        t.data.assign(data, data + length);

    BusObserver* const watch = VirtualBus::instance().observer();
    if (watch) {
        watch->transferSubmitting(*this);
        start = Clock::now();
        deadline = start + std::chrono::milliseconds(timeout_ms);
        t.t_us = VirtualBus::instance().nowUs();
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_plugged) {
        // Submission fails: libusb leaves `transferred` untouched.
        t.result = LIBUSB_ERROR_NO_DEVICE;
        finishTransfer(t);
        return t.result;
    }
    if (watch)
        watch->transferStarted(*this);
    const int fault = takeFault(kBulk);
    const auto latency = m_latency;
    int moved = 0;

    auto finish = [&](int result) {
        t.result = result;
        if (transferred)
            *transferred = moved;
        if (watch)
            watch->transferEnded(*this);
        finishTransfer(t);
        return result;
    };
    auto noAnswer = [&]() {
        const Clock::time_point now = Clock::now();
        const Clock::time_point* until = m_instantTimeouts && deadlinePtr ? &now : deadlinePtr;
        return waitUnlessUnplugged(lock, until) ? int(LIBUSB_ERROR_TIMEOUT) : int(LIBUSB_ERROR_NO_DEVICE);
    };

    if (m_halted[ep])
        return finish(LIBUSB_ERROR_PIPE);

    if (latency.count() > 0) {
        const auto until = start + latency;
        const bool timesOut = deadlinePtr && deadline <= until;
        if (!waitUnlessUnplugged(lock, timesOut ? deadlinePtr : &until))
            return finish(LIBUSB_ERROR_NO_DEVICE);
        if (timesOut)
            return finish(LIBUSB_ERROR_TIMEOUT);
    }

    if (fault == int(Fault::Unplug)) {
        lock.unlock();
        if (auto self = weak_from_this().lock())
            VirtualBus::instance().unplug(self);
        else
            markUnplugged();
        lock.lock();
        return finish(LIBUSB_ERROR_NO_DEVICE);
    }
    if (fault == LIBUSB_ERROR_TIMEOUT)
        return finish(noAnswer());
    if (fault == LIBUSB_ERROR_PIPE) {
        m_halted[ep] = true;
        return finish(LIBUSB_ERROR_PIPE);
    }
    if (fault < 0)
        return finish(fault);

    lock.unlock();
    const int answer = m_unit->bulk(endpoint, data, length);
    lock.lock();

    if (!m_plugged)
        return finish(LIBUSB_ERROR_NO_DEVICE);
    if (answer == kStall) {
        m_halted[ep] = true;
        return finish(LIBUSB_ERROR_PIPE);
    }
    if (answer == kNoAnswer)
        return finish(noAnswer());
    if (answer < 0)
        return finish(LIBUSB_ERROR_IO);
    moved = std::min(answer, length);
    if (fault == int(Fault::Short))
        moved = std::max(0, std::min(moved, length - 1));
    if (!in)
        t.data.resize(static_cast<size_t>(moved));
    return finish(0);
}

int SimDevice::claim(const void* handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_plugged)
        return LIBUSB_ERROR_NO_DEVICE;
    if (m_claimedBy == handle)
        return 0;
    if (m_claimFailure)
        return m_claimFailure;
    // Bound to another handle, or to a kernel driver that was not detached.
    if (m_claimedBy || m_kernelDriver)
        return LIBUSB_ERROR_BUSY;
    m_claimedBy = handle;
    return 0;
}

int SimDevice::release(const void* handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_plugged)
        return LIBUSB_ERROR_NO_DEVICE;
    if (m_claimedBy != handle)
        return LIBUSB_ERROR_OTHER; // usbfs: EINVAL, not ours to release
    m_claimedBy = nullptr;
    return 0;
}

int SimDevice::openFailure() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_plugged)
        return LIBUSB_ERROR_NO_DEVICE;
    return m_openFailure;
}

void SimDevice::setKernelDriverActiveInternal(bool active)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_kernelDriver = active;
    // A driver once bound can be bound again after a detach.
    if (active)
        m_driverKnown = true;
}

void SimDevice::markUnplugged()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_plugged = false;
    }
    m_unplugCv.notify_all();
}

void SimDevice::setLocation(uint8_t bus, uint8_t address)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bus = bus;
    m_address = address;
}

int SimDevice::kernelDriverQuery() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_plugged)
        return LIBUSB_ERROR_NO_DEVICE;
    // A claimed interface is bound to usbfs, which libusb does not count.
    return (m_kernelDriver && !m_claimedBy) ? 1 : 0;
}

int SimDevice::detachKernelDriver()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_plugged)
        return LIBUSB_ERROR_NO_DEVICE;
    if (m_claimedBy || !m_kernelDriver)
        return LIBUSB_ERROR_NOT_FOUND;
    m_kernelDriver = false;
    return 0;
}

int SimDevice::attachKernelDriver()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_plugged)
        return LIBUSB_ERROR_NO_DEVICE;
    // usbfs (a claim) or the driver itself is bound already: EBUSY.
    if (m_claimedBy || m_kernelDriver)
        return LIBUSB_ERROR_BUSY;
    // The kernel finds no driver for a vendor-specific interface: libusb
    // reports NOT_FOUND and nothing is bound.
    if (!m_driverKnown)
        return LIBUSB_ERROR_NOT_FOUND;
    m_kernelDriver = true;
    return 0;
}

int SimDevice::interfaceAccess(const void* handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_plugged)
        return LIBUSB_ERROR_NO_DEVICE;
    if (m_claimedBy == handle)
        return 0;
    if (m_claimedBy || m_kernelDriver)
        return LIBUSB_ERROR_BUSY;
    // usbfs claims an unclaimed interface for the caller on first use.
    m_claimedBy = handle;
    return 0;
}

int SimDevice::clearHalt(const void* handle, uint8_t endpoint)
{
    if ((endpoint & 0x7F) == 0) {
        // usbfs knows only the interface's endpoints: the default pipe
        // cannot be cleared (ENOENT). The attempt is still counted.
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_plugged)
            return LIBUSB_ERROR_NO_DEVICE;
        ++m_clearHalts[0];
        return LIBUSB_ERROR_NOT_FOUND;
    }
    if (endpoint != kBulkOutEndpoint && endpoint != kBulkInEndpoint)
        return LIBUSB_ERROR_NOT_FOUND;
    if (const int rc = interfaceAccess(handle))
        return rc == LIBUSB_ERROR_NO_DEVICE ? rc : int(LIBUSB_ERROR_OTHER);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_plugged)
        return LIBUSB_ERROR_NO_DEVICE;
    m_halted[endpointIndex(endpoint)] = false;
    ++m_clearHalts[endpointIndex(endpoint)];
    return 0;
}

void SimDevice::handleClosed(const void* handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_claimedBy == handle)
        m_claimedBy = nullptr;
}

// --------------------------------------------------------------- VirtualBus

VirtualBus::VirtualBus() : m_t0(Clock::now()) {}

VirtualBus& VirtualBus::instance()
{
    // Never destroyed: a thread still scanning while the process exits
    // must not find the bus gone.
    static VirtualBus* bus = new VirtualBus;
    return *bus;
}

std::shared_ptr<SimDevice> VirtualBus::plug(std::shared_ptr<SimUnit> unit, uint16_t vid,
                                            uint16_t pid)
{
    auto dev = std::make_shared<SimDevice>(std::move(unit), vid, pid);
    std::lock_guard<std::mutex> lock(m_mutex);
    // Linux hands out the next free address on the bus, 1 being the hub.
    uint8_t addr = m_nextAddress;
    for (int tries = 0; tries < 126; ++tries) {
        const bool used = std::any_of(m_devices.begin(), m_devices.end(),
                                      [addr](const auto& d) { return d->address() == addr; });
        if (!used)
            break;
        addr = addr >= 127 ? 2 : uint8_t(addr + 1);
    }
    m_nextAddress = addr >= 127 ? 2 : uint8_t(addr + 1);
    dev->setLocation(1, addr);
    m_devices.push_back(dev);
    if (BusObserver* o = m_observer.load())
        o->plugged(*dev);
    return dev;
}

void VirtualBus::unplug(const std::shared_ptr<SimDevice>& dev)
{
    if (!dev)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_devices.erase(std::remove(m_devices.begin(), m_devices.end(), dev), m_devices.end());
    }
    dev->markUnplugged();
}

void VirtualBus::unplugAll()
{
    std::vector<std::shared_ptr<SimDevice>> gone;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        gone.swap(m_devices);
    }
    for (const auto& dev : gone)
        dev->markUnplugged();
}

void VirtualBus::reset()
{
    unplugAll();
    note(BusObserver::BusReset);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_initFailure = m_listFailure = m_descFailure = 0;
}

std::vector<std::shared_ptr<SimDevice>> VirtualBus::devices() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_devices;
}

void VirtualBus::setInitFailure(int code)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_initFailure = code;
}

void VirtualBus::setDeviceListFailure(int code)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_listFailure = code;
}

void VirtualBus::setDescriptorFailure(int code)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_descFailure = code;
}

void VirtualBus::setObserver(BusObserver* observer)
{
    m_observer.store(observer);
}

int64_t VirtualBus::nowUs() const
{
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - m_t0).count();
}

int VirtualBus::initFailure() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_initFailure;
}

int VirtualBus::deviceListFailure() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_listFailure;
}

int VirtualBus::descriptorFailure() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_descFailure;
}


} // namespace sim
