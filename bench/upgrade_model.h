// What an upgrade of an image must cost at the least: the engine's own
// pauses when the unit answers every inquiry with "ready" the first time
// it is asked, and the transfers that the protocol makes in that case. The
// pauses come from the engine's constants, so the floor follows them.
#pragma once

#include "firmware_image.h"

#include <cstdint>

namespace bench {

struct UpgradeFloor
{
    int64_t pause_ms = 0;   // sum of the engine's prescribed pauses
    int64_t controls = 0;   // control transfers on the wire
    int64_t bulks = 0;      // bulk transfers (full chunks and final transfers)
    int64_t full_chunks = 0;

    // The floor when every transfer takes `per_transfer_us` on the bus.
    double seconds(double per_transfer_us = 0) const
    {
        return pause_ms / 1e3 + double(controls + bulks) * per_transfer_us / 1e6;
    }
};

// The floor of a run over `header`, every used record upgraded in turn and
// the closing request sent.
UpgradeFloor upgrade_floor(const fw::ImageHeader& header);

} // namespace bench
