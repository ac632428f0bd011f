#include "bus_watch.h"

#include <algorithm>
#include <chrono>

namespace sim {

namespace {
// Installed before main(), so no libusb object is opened unwatched.
const bool g_installed = (BusWatch::instance(), true);
}

BusWatch& BusWatch::instance()
{
    static BusWatch* watch = [] {
        auto* w = new BusWatch; // lives as long as the process: the bus may outlive statics
        VirtualBus::instance().setObserver(w);
        return w;
    }();
    return *watch;
}

int BusWatch::liveContexts() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_contexts;
}

int BusWatch::liveHandles() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_handles;
}

int BusWatch::liveDevices() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_deviceRefs;
}

int BusWatch::closedHandleUses() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_closedUses;
}

int BusWatch::maxConcurrentTransfers(const SimDevice& device) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_devices.find(&device);
    return it == m_devices.end() ? 0 : it->second.maxInFlight;
}

void BusWatch::holdTransfers(const SimDevice& device, bool hold)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_devices[&device].held = hold;
    }
    m_released.notify_all();
}

void BusWatch::note(Event event)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (event) {
    case ContextOpened: ++m_contexts; break;
    case ContextClosed: --m_contexts; break;
    case HandleOpened: ++m_handles; break;
    case HandleClosed: --m_handles; break;
    case DeviceRefCreated: ++m_deviceRefs; break;
    case DeviceRefDestroyed: --m_deviceRefs; break;
    case ClosedHandleUsed: ++m_closedUses; break;
    case BusReset: m_closedUses = 0; break;
    }
}

void BusWatch::plugged(const SimDevice& device)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_devices[&device] = PerDevice();
}

void BusWatch::transferSubmitting(const SimDevice& device)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    // The unplug does not reach the watch, so a held transfer looks again
    // every few milliseconds.
    while (m_devices[&device].held && device.plugged())
        m_released.wait_for(lock, std::chrono::milliseconds(2));
}

void BusWatch::transferStarted(const SimDevice& device)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    PerDevice& d = m_devices[&device];
    d.maxInFlight = std::max(d.maxInFlight, ++d.inFlight);
}

void BusWatch::transferEnded(const SimDevice& device)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_devices[&device].inFlight;
}

} // namespace sim
