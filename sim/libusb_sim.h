// What the simulated libusb knows about its contexts, for tests that check
// how the program set them up.
#pragma once

#include <vector>

namespace sim {

// Log levels of the contexts that are open right now (the implicit default
// context included), in the order they were created.
std::vector<int> contextLogLevels();

} // namespace sim
