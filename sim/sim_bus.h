// The virtual USB bus behind the simulated libusb. Units are plugged and
// unplugged at run time from any thread; every libusb call the program
// makes is answered from here, with the semantics libusb has on Linux.
#pragma once

#include "sim_unit.h"
#include "sim_wire.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

// One unit as it sits on the bus. Transfers on it follow libusb on Linux:
// control transfers need no claim (vendor requests are not checked against
// the interface owner), bulk transfers and clear-halt take the interface
// implicitly when nobody holds it and fail when someone else does, a stall
// on a bulk endpoint halts it until libusb_clear_halt, and after an unplug
// everything but closing fails with LIBUSB_ERROR_NO_DEVICE.
class SimDevice : public std::enable_shared_from_this<SimDevice>
{
public:
    SimDevice(std::shared_ptr<SimUnit> unit, uint16_t vid, uint16_t pid);

    SimUnit& unit() { return *m_unit; }
    std::shared_ptr<SimUnit> unitPtr() { return m_unit; }
    uint16_t vendorId() const { return m_vid; }
    uint16_t productId() const { return m_pid; }
    bool plugged() const { return m_plugged.load(); }

    // Fault injection. `request` is a bRequest code, kAnyControl or kBulk.
    // The next `times` matching transfers meet `fault`; a negative `times`
    // fails every matching transfer until clearFaults(). A timeout lasts
    // the transfer's timeout; a pipe error on bulk halts the endpoint; the
    // unit does not see a failed request. Short moves one byte fewer than
    // asked (bulk: `transferred` one less, result 0).
    static constexpr int kAnyControl = -1;
    static constexpr int kBulk = 0x100;
    void failNext(int request, Fault fault, int times = 1);
    // The same, the fault given as its libusb error code.
    void failNext(int request, int libusbCode, int times = 1) { failNext(request, Fault(libusbCode), times); }
    void clearFaults();
    // A transfer that gets no answer (a -7 fault, a silent unit) times out
    // at once instead of at its deadline; it still records its timeout.
    // Off by default: lets tests of timeouts run without waiting them out.
    void setInstantTimeouts(bool on);

    // Failures of the connection steps (0 = succeed); they last until reset.
    void setOpenFailure(int code);
    void setClaimFailure(int code);
    // Whether a kernel driver is bound to interface 0 (default: none, as
    // for a vendor-specific device). While it is, claiming fails with
    // LIBUSB_ERROR_BUSY, as on Linux.
    void setKernelDriverActive(bool active);
    bool kernelDriverActive() const;
    bool interfaceClaimed() const;

    // Where the bus put the unit (bus 1; addresses count up per plug).
    uint8_t busNumber() const;
    uint8_t address() const;

    // Bulk endpoint state. clearHaltCount counts the clear-halt requests
    // for the endpoint, including the refused ones for the default pipe.
    bool endpointHalted(uint8_t endpoint) const;
    int clearHaltCount(uint8_t endpoint) const;

    // Every transfer made on this device, in completion order (the latest
    // kLogLimit at most). Calls made after the unplug are logged too
    // (result LIBUSB_ERROR_NO_DEVICE) so a test can see what the program
    // still tried.
    static constexpr size_t kLogLimit = 200000;
    std::vector<Transfer> log() const;
    void clearLog();
    // Only the bRequest codes of the control transfers, in order.
    std::vector<uint8_t> requestCodes() const;

    // Time each transfer takes inside the unit (default 0).
    void setLatency(std::chrono::microseconds latency);

    // --- used by the libusb layer ---
    // Results are libusb codes; `handle` identifies the caller's handle.
    int control(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue, uint16_t wIndex,
                uint8_t* data, uint16_t wLength, unsigned timeout_ms);
    int bulk(uint8_t endpoint, uint8_t* data, int length, int* transferred, unsigned timeout_ms);
    int claim(const void* handle);
    int release(const void* handle);
    int openFailure() const;
    void setKernelDriverActiveInternal(bool active);
    void markUnplugged();
    void setLocation(uint8_t bus, uint8_t address);
    int kernelDriverQuery() const;   // 1, 0 or LIBUSB_ERROR_NO_DEVICE
    int detachKernelDriver();
    int attachKernelDriver();
    int interfaceAccess(const void* handle); // implicit claim for bulk/clear-halt
    int clearHalt(const void* handle, uint8_t endpoint);
    void handleClosed(const void* handle); // closing a handle drops its claim

private:
    int takeFault(int request);
    void finishTransfer(Transfer& t);
    // Waits until `deadline` (none: until unplugged) with m_mutex held by
    // `lock`; false when the unit was pulled out meanwhile.
    bool waitUnlessUnplugged(std::unique_lock<std::mutex>& lock,
                             const std::chrono::steady_clock::time_point* deadline);
    static int endpointIndex(uint8_t endpoint);

    std::shared_ptr<SimUnit> m_unit;
    uint16_t m_vid, m_pid;
    std::atomic<bool> m_plugged{true};
    mutable std::mutex m_mutex;
    std::condition_variable m_unplugCv;
    struct PendingFault { int request; Fault fault; int times; };
    std::vector<PendingFault> m_faults;
    bool m_instantTimeouts = false;
    int m_openFailure = 0;
    int m_claimFailure = 0;
    bool m_kernelDriver = false;
    bool m_driverKnown = false; // a driver exists that attach can bind
    const void* m_claimedBy = nullptr;
    std::vector<Transfer> m_log;
    std::chrono::microseconds m_latency{0};
    uint8_t m_bus = 1, m_address = 0;
    bool m_halted[32] = {};
    int m_clearHalts[32] = {};
};

// Watches the bus for tests and benchmarks: leaks, overlapping transfers,
// calls on closed handles, a transfer held back before it starts. The
// demo runs without one. Called on the calling threads; a watcher keeps
// its own lock.
class BusObserver
{
public:
    enum Event {
        ContextOpened, ContextClosed, HandleOpened, HandleClosed, DeviceRefCreated, DeviceRefDestroyed,
        ClosedHandleUsed, // a call on a handle already closed (on real libusb: freed memory)
        BusReset,         // between tests: whole-bus failures cleared, everything unplugged
    };
    virtual ~BusObserver() = default;
    virtual void note(Event event) = 0;
    virtual void plugged(const SimDevice& device) = 0;
    // Before a transfer is submitted (its timeout has not started); may
    // block, and must return once the device is unplugged.
    virtual void transferSubmitting(const SimDevice& device) = 0;
    virtual void transferStarted(const SimDevice& device) = 0;
    virtual void transferEnded(const SimDevice& device) = 0;
};

class VirtualBus
{
public:
    static VirtualBus& instance();

    // Plug a unit in; it appears at the end of the device list.
    std::shared_ptr<SimDevice> plug(std::shared_ptr<SimUnit> unit, uint16_t vid = 0x0483,
                                    uint16_t pid = 0x5868);
    // Pull a unit out: open handles on it fail with LIBUSB_ERROR_NO_DEVICE
    // from now on, and it is gone from the next device list.
    void unplug(const std::shared_ptr<SimDevice>& dev);
    void unplugAll();
    std::vector<std::shared_ptr<SimDevice>> devices() const;
    // Unplug everything and clear the whole-bus failures (between tests).
    void reset();

    // Whole-bus failures, for the connection and watcher paths.
    void setInitFailure(int code);         // libusb_init fails with code
    void setDeviceListFailure(int code);   // libusb_get_device_list fails
    void setDescriptorFailure(int code);   // libusb_get_device_descriptor fails

    // At most one observer; null removes it. It must outlive its use.
    void setObserver(BusObserver* observer);
    BusObserver* observer() const { return m_observer.load(); }

    int64_t nowUs() const;

    // --- used by the libusb layer ---
    int initFailure() const;
    int deviceListFailure() const;
    int descriptorFailure() const;
    void contextOpened() { note(BusObserver::ContextOpened); }
    void contextClosed() { note(BusObserver::ContextClosed); }
    void handleOpened() { note(BusObserver::HandleOpened); }
    void handleClosed() { note(BusObserver::HandleClosed); }
    void deviceRefCreated() { note(BusObserver::DeviceRefCreated); }
    void deviceRefDestroyed() { note(BusObserver::DeviceRefDestroyed); }
    void noteClosedHandleUse() { note(BusObserver::ClosedHandleUsed); }

private:
    VirtualBus();
    void note(BusObserver::Event event)
    {
        if (BusObserver* o = m_observer.load())
            o->note(event);
    }
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<SimDevice>> m_devices;
    int m_initFailure = 0, m_listFailure = 0, m_descFailure = 0;
    std::atomic<BusObserver*> m_observer{nullptr};
    uint8_t m_nextAddress = 2;
    std::chrono::steady_clock::time_point m_t0;
};

} // namespace sim
