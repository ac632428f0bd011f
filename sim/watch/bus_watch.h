// The observer the tests and benchmarks put on the simulated bus: leaks of
// libusb objects, transfers in flight at once, calls on closed handles,
// and transfers held back so that a test can attach to a thread that is
// already running before the unit sees its first request. Not linked into
// the demo.
#pragma once

#include "sim_bus.h"

#include <condition_variable>
#include <map>
#include <mutex>

namespace sim {

class BusWatch : public BusObserver
{
public:
    // The one watch, put on the bus at its first use (before any test code
    // runs, since this file's static start-up uses it).
    static BusWatch& instance();

    // Contexts and handles open now, libusb device objects still referenced.
    int liveContexts() const;
    int liveHandles() const;
    int liveDevices() const;
    // Calls on closed handles since the bus was last reset.
    int closedHandleUses() const;
    // The most transfers ever in flight at once on `device` since plugged.
    int maxConcurrentTransfers(const SimDevice& device) const;
    // While held, transfers on `device` wait before they are submitted.
    void holdTransfers(const SimDevice& device, bool hold);

    void note(Event event) override;
    void plugged(const SimDevice& device) override;
    void transferSubmitting(const SimDevice& device) override;
    void transferStarted(const SimDevice& device) override;
    void transferEnded(const SimDevice& device) override;

private:
    BusWatch() = default;
    struct PerDevice
    {
        int inFlight = 0;
        int maxInFlight = 0;
        bool held = false;
    };
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    int m_contexts = 0, m_handles = 0, m_deviceRefs = 0, m_closedUses = 0;
    std::map<const SimDevice*, PerDevice> m_devices; // a plug starts a device afresh
};

} // namespace sim
