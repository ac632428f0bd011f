#include "upgrade_model.h"

#include "update_thread.h"

using namespace upgrade_timing;

namespace bench {

UpgradeFloor upgrade_floor(const fw::ImageHeader& header)
{
    UpgradeFloor f;
    bool any = false;
    for (const fw::ImageRecord& r : header) {
        if (!r.used())
            continue;
        const fw::Target* t = fw::find_target(r.type);
        if (!t)
            continue;
        any = true;
        const fw::Chunking c = fw::chunk_payload(r.length, t->chunk_size);
        const bool processor = t->index == fw::kHi3516 || t->index == fw::kHi3798;
        const bool cmd_target = t->index == fw::kMcu1 || t->index == fw::kFpga;

        // Preparation.
        if (t->index == fw::kMcu2) {
            f.controls += 1; // restart request
            f.pause_ms += kMcu2ResetWaitMs + kMcu2ReopenWaitMs;
        } else if (t->index == fw::kHi3798) {
            f.pause_ms += kHi3798VersionWaitMs;
        }

        // Step 1 and step 2: the erase clears what earlier records read, so
        // its wait makes one inquiry round at the least. After an MCU1 or
        // FPGA erase wait the command status reads "done".
        bool cmd_done = false;
        if (t->erase_request != fw::kNoRequest) {
            f.controls += 2;
            f.pause_ms += kEraseStartWaitMs + kEraseRoundMs;
            cmd_done = cmd_target;
        }

        // Step 3: program request (processors: request, pause, one
        // inquiry, pause); the program status wait passes at once after
        // the erase wait.
        if (processor) {
            f.controls += 2;
            f.pause_ms += 2 * kPreparationPauseMs;
        } else if (t->program_request != fw::kNoRequest) {
            f.controls += 1;
        }
        if (cmd_target && !cmd_done) {
            f.pause_ms += kProgramStatusRoundMs;
            f.controls += 1;
            cmd_done = true;
        }
        f.pause_ms += kTransferStartPauseMs;
        // Every chunk: (FIFO inquiry,) bulk, status inquiry; then the final
        // transfer the same way.
        const int64_t transfers = int64_t(c.count) + 1;
        f.full_chunks += c.count;
        f.bulks += transfers;
        f.controls += transfers * (processor ? 2 : 1);
        f.pause_ms += kAfterDataPauseMs;

        // Data check.
        switch (t->index) {
        case fw::kMcu1:
        case fw::kMcu2:
            f.controls += 1;
            break;
        case fw::kFpga:
            f.controls += 1;
            if (!cmd_done) {
                f.pause_ms += kFpgaCheckRoundMs;
                f.controls += 1;
            }
            break;
        case fw::kHi3798:
            f.pause_ms += kHi3798CheckPauseMs + kHi3798UnzipWaitMs;
            f.controls += 3; // FIFO inquiry, check request, result inquiry
            break;
        default:
            break;
        }
        f.pause_ms += kSuccessPauseMs + kAfterSuccessPauseMs;
    }
    if (any)
        f.controls += 1; // the closing request
    return f;
}

} // namespace bench
