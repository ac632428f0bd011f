// Shared helpers of the tests: resources, the simulated bus, waiting.
#pragma once

#include "sim_bus.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <initializer_list>
#include <memory>

namespace testsupport {

// Registers the compiled-in resources once.
void init_resources();

// A ground unit with a plausible identity.
std::shared_ptr<sim::SimUnit> make_ground_unit();

// Plugs a unit into the virtual bus.
std::shared_ptr<sim::SimDevice> plug(std::shared_ptr<sim::SimUnit> unit = make_ground_unit());

// Unplugs everything and resets whole-bus faults.
void reset_bus();

// Bytes as written in a test table.
inline QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray out;
    for (int b : list)
        out.append(char(uint8_t(b)));
    return out;
}

// Waits (processing events) until `cond` holds or `timeout_ms` passes.
bool wait_for(const std::function<bool()>& cond, int timeout_ms = 3000);

// Captures the Qt debug stream while alive.
class DebugCapture
{
public:
    DebugCapture();
    ~DebugCapture();
    QStringList lines() const;
    bool contains(const QString& line) const;
    int count(const QString& line) const;
    void clear();
};

} // namespace testsupport
