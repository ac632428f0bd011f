// One plug of a simulated unit as the Linux kernel shows it to the real
// libusb: the device file /dev/bus/usb/BBB/DDD and the usbdevfs ioctls on
// it. umockdev routes every ioctl a process makes on the file to this
// handler, which answers it from the unit's protocol model (the same
// SimUnit the simulated bus drives) with the kernel's semantics: URBs are
// submitted and reaped, a stalled bulk endpoint stays halted until
// CLEAR_HALT, the interface is claimed per open file and let go when the
// file closes, a timed-out URB is discarded, and after an unplug every
// ioctl but a reap fails with ENODEV.
//
// The handler runs on umockdev's worker thread; every public member may be
// called from any thread.
#pragma once

#include "sim_unit.h"
#include "sim_wire.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef struct _GMainContext GMainContext;
typedef struct _GSource GSource;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace sim {
namespace usbfs {

// One ioctl other than a reap, with what it answered (>= 0, or -errno).
struct IoctlRecord
{
    std::string name; // the usbdevfs name without its prefix: "CLAIMINTERFACE"
    long result = 0;
    const void* file = nullptr;
};

class DeviceFile : public std::enable_shared_from_this<DeviceFile>
{
public:
    // Matches of failNext() besides a bRequest code.
    static constexpr int kAnyControl = -1;
    static constexpr int kBulk = 0x100;

    DeviceFile(std::shared_ptr<SimUnit> unit, int busNumber, int address, int port,
               std::function<int64_t()> clock);
    ~DeviceFile();
    DeviceFile(const DeviceFile&) = delete;
    DeviceFile& operator=(const DeviceFile&) = delete;

    SimUnit& unit() { return *m_unit; }
    std::shared_ptr<SimUnit> unitPtr() const { return m_unit; }
    int busNumber() const { return m_bus; }
    int address() const { return m_address; }
    int port() const { return m_port; }
    std::string devnode() const; // "/dev/bus/usb/001/002"
    bool plugged() const;

    // --- fault injection ---
    // The next `times` URBs with bRequest `request` (or kAnyControl, or
    // kBulk for the bulk endpoints) meet `fault`; a negative `times` hits
    // every one until clearFaults(). The URB ends with the status that
    // libusb turns into the fault's code (Timeout: it never completes);
    // a fault a URB status cannot give (Access, Busy, ...) ends it as Io.
    void failNext(int request, Fault fault, int times = 1);
    void clearFaults();
    // Time every URB spends in the unit before it completes (default 0).
    void setLatency(std::chrono::milliseconds latency);
    // A kernel driver bound to interface 0 (empty: none, as for this
    // vendor-specific unit); USBDEVFS_CONNECT binds it again.
    void setKernelDriver(const std::string& name);
    // How long an empty REAPURBNDELAY is held back, waiting for a URB to
    // complete (0: answer EAGAIN at once). The emulated file always polls
    // writable, so without this libusb spins on reaps. Default 1 ms.
    void setReapPark(std::chrono::milliseconds park);

    // --- what the device saw ---
    std::vector<Transfer> urbs() const;
    void clearUrbs();
    std::vector<uint8_t> requestCodes() const; // bRequest of every control URB
    std::vector<IoctlRecord> ioctls() const;
    int ioctlCount(const std::string& name) const;
    int reapCount() const;
    std::string kernelDriver() const; // as GETDRIVER names it ("usbfs" when claimed)
    bool interfaceClaimed() const;
    bool endpointHalted(uint8_t endpoint) const;
    int clearHaltCount(uint8_t endpoint) const;
    int openFiles() const;   // files open on the node now
    int filesOpened() const; // files ever opened on it

    // --- used by the bus ---
    // The handler umockdev calls for the node; made on first use.
    UMockdevIoctlBase* handler();
    // The unit is gone: URBs in flight complete with -ESHUTDOWN, held
    // reaps are answered, every further ioctl but a reap fails with ENODEV.
    void markUnplugged();
    // Called, outside the handler's lock, when a Fault::Unplug hits.
    void setUnplugRequest(std::function<void()> request);
    // Stops the timers; the bus detaches the handler.
    void shutdown();

    // Device and configuration descriptors, as sysfs "descriptors" has them.
    static std::vector<uint8_t> descriptors();

private:
    struct Urb;
    // One open file on the node (one umockdev client).
    struct File
    {
        UMockdevIoctlClient* client = nullptr; // referenced
        uint64_t id = 0;
        bool parked = false;   // a reap of it is held back
        GSource* parkTimer = nullptr;
        bool lastReapEmpty = false;
        size_t readOffset = 0;
    };

    // umockdev's signals, on its worker thread.
    static int onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self);
    static int onRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self);
    static void onConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self);
    static void onVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self);
    static int parkExpired(void* job);
    static int latencyDone(void* job);

    // With m_mutex held.
    File* fileOf(const void* client);
    File& ensureFile(UMockdevIoctlClient* client);
    bool fileOpen(const void* client) const;
    const void* claimant() const;
    void dropClosedFiles();
    void dropFile(File& f);
    long handleIoctl(UMockdevIoctlClient* client, unsigned long request);
    long handleReap(UMockdevIoctlClient* client, bool* answered);
    long submitUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    long reapUrb(const void* file, UMockdevIoctlData* arg);
    long discardUrb(const void* file, UMockdevIoctlData* arg);
    long claimInterface(const void* file, unsigned ifno);
    long unbindInterface();
    int runControl(Transfer& rec, uint8_t* payload, int fault);
    int runBulk(Transfer& rec, uint8_t* buffer, int length, int fault);
    int standardRequest(const Transfer& rec, uint8_t* payload) const;
    int takeFault(int request);
    void complete(Urb& urb, int status, int actual);
    void unpark(File& f);
    void stopTimer(GSource*& timer);
    GSource* startTimer(unsigned ms, int (*fn)(void*), uint64_t id);
    std::string interfaceDriver() const;

    const std::shared_ptr<SimUnit> m_unit;
    const int m_bus, m_address, m_port;
    const std::function<int64_t()> m_clock;

    mutable std::mutex m_mutex;
    UMockdevIoctlBase* m_handler = nullptr;
    GMainContext* m_context = nullptr; // the worker's, seen at the first call
    bool m_gone = false;
    std::string m_driver;          // bound kernel driver, empty: none
    std::string m_driverAvailable; // what CONNECT binds
    const void* m_claimedBy = nullptr;
    bool m_halted[32] = {};
    int m_clearHalts[32] = {};
    struct FaultRule { int request; Fault fault; int times; };
    std::vector<FaultRule> m_faults;
    std::chrono::milliseconds m_latency{0};
    std::chrono::milliseconds m_park{1};
    std::vector<std::unique_ptr<Urb>> m_urbs; // submitted, not yet reaped
    std::vector<File> m_files;
    uint64_t m_ids = 0;         // for URBs and files
    uint64_t m_completions = 0; // completion order, for the reaps
    std::function<void()> m_unplugRequest;
    bool m_unplugRequested = false;

    std::vector<std::shared_ptr<Transfer>> m_log;
    std::vector<IoctlRecord> m_ioctls;
    int m_reaps = 0;
    int m_filesOpened = 0;
};

} // namespace usbfs
} // namespace sim
