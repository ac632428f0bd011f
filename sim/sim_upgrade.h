// The simulated unit's side of the firmware upgrade: erase, program and
// check requests per target, the upgrade status word, the command status
// byte while an upgrade runs, the processors' preparation, FIFO and result
// statuses, the second controller's restart and the closing flags.
// Transport-neutral like SimUnit, which owns one and hands it the upgrade
// requests and the bulk data.
//
// Time is counted in inquiries: an erase is done at the n-th status
// inquiry after its request, a processor is prepared at the n-th 0xF4, and
// so on, so a test decides exactly when a wait of the tool ends. Only the
// restart of the second controller runs on a clock (its own thread: the
// unit drops off the bus and comes back, like a real re-enumeration).
//
// The unit keeps every programming session (target, bytes received, length
// announced) and, per target, what is in its flash, so a test can compare
// the flash with the image's payloads byte for byte.
//
// Thread safety: every public member takes the object's own mutex.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace sim {

class SimUnit;

class SimUpgrade
{
public:
    // The unit's programmable parts.
    enum Target {
        Mcu1,
        Mcu2,
        Fpga,
        Bootloader,
        Kernel,
        FileSystem,
        Edid,
        Hi3516,
        Hi3798,
        TargetCount,
        NoTarget = -1,
    };

    // Request codes of the upgrade.
    static constexpr uint8_t kReqEraseMcu1 = 0xB0;
    static constexpr uint8_t kReqProgramMcu1 = 0xB1;
    static constexpr uint8_t kReqEraseFpga = 0xB2;
    static constexpr uint8_t kReqProgramFpga = 0xB3;
    static constexpr uint8_t kReqEraseBoot = 0xB4;
    static constexpr uint8_t kReqProgramBoot = 0xB5;
    static constexpr uint8_t kReqEraseKernel = 0xB6;
    static constexpr uint8_t kReqProgramKernel = 0xB7;
    static constexpr uint8_t kReqEraseFs = 0xB8;
    static constexpr uint8_t kReqProgramFs = 0xB9;
    static constexpr uint8_t kReqStatusWord = 0xBA;     // IN 4
    static constexpr uint8_t kReqDataCheck = 0xBC;      // OUT 1: 0x10 MCU1, 0x20 FPGA
    static constexpr uint8_t kReqProgramEdid = 0xBD;
    static constexpr uint8_t kReqEraseHi3798 = 0xBE;
    static constexpr uint8_t kReqProgramHi = 0xBF;      // OUT 4: length
    static constexpr uint8_t kReqEraseMcu2 = 0xD0;
    static constexpr uint8_t kReqProgramMcu2 = 0xD1;
    static constexpr uint8_t kReqRestartMcu2 = 0xD2;
    static constexpr uint8_t kReqCheckMcu2 = 0xD3;
    static constexpr uint8_t kReqFifo = 0xF1;           // IN 1: 0 ready
    static constexpr uint8_t kReqCheckHi3798 = 0xF2;    // OUT 1: 0x30
    static constexpr uint8_t kReqHi3798Result = 0xF3;   // IN 1: 0x5A done
    static constexpr uint8_t kReqPreparation = 0xF4;    // IN 1: 0x5A ready
    static constexpr uint8_t kReqFinished = 0xF5;       // OUT 1: upgraded units
    static constexpr uint8_t kReqCommandStatus = 0xF8;  // IN 1

    static constexpr uint8_t kReady = 0x5A;
    static constexpr uint8_t kResultBad = 0xA5;
    static constexpr int kNever = -1;

    // Bits of the status word.
    static int eraseDoneBit(Target t);     // -1 when the target has no erase
    static int programFailedBit(Target t); // -1 when it has none
    static const char* targetName(Target t);

    explicit SimUpgrade(SimUnit& owner);
    ~SimUpgrade();
    SimUpgrade(const SimUpgrade&) = delete;
    SimUpgrade& operator=(const SimUpgrade&) = delete;

    // --- timing, in inquiries (kNever: the status never comes) ---
    // The erase of a target is done at the n-th status inquiry (0xBA or
    // 0xF8) after its request; 0 = done at once. Default 1.
    void setEraseInquiries(int n);
    void setEraseInquiries(Target t, int n);
    // After a program request of MCU1 or FPGA the command status is 0 until
    // the n-th 0xF8; default 0 (ready at once).
    void setProgramReadyInquiries(int n);
    // After the FPGA's data check the command status is 0 until the n-th
    // 0xF8; default 0.
    void setFpgaCheckInquiries(int n);
    // 0xF4 answers 0x5A from the n-th inquiry after a 0xBF on; default 1.
    void setPreparationInquiries(int n);
    // 0xF1 answers busy (1) this many times before each transfer, then 0;
    // kNever: busy for good. Default 0.
    void setFifoBusyInquiries(int n);
    // 0xF3 answers 0x5A from the n-th inquiry after 0xF2 on; default 1.
    void setResultInquiries(int n);
    // After 0xD2 the unit drops off the bus `off` later and comes back
    // `back` after that (never, when comesBack is false).
    void setRestartTiming(std::chrono::milliseconds off, std::chrono::milliseconds back,
                          bool comesBack = true);
    // What "off the bus" and "back" mean; by default the unit is unplugged
    // from and plugged into the virtual bus (a new device, same unit).
    void setRestartHandler(std::function<void(bool present)> handler);

    // --- faults ---
    // Sets the target's program-failed bit once its bulk transfer number
    // `transfer` (0-based; the final transfer of a payload of `count` full
    // chunks is number `count`) of the next session has arrived.
    void failProgramAtTransfer(Target t, int transfer);
    // The data check of the target is refused: the check request stalls
    // (MCU1, FPGA, MCU2), or the HI3798 result is 0xA5.
    void rejectCheck(Target t, bool reject = true);
    // Bits OR-ed into every status word answered.
    void setStatusBitsForced(uint32_t bits);

    // --- what the unit saw ---
    struct Session
    {
        Target target = NoTarget;
        std::vector<uint8_t> data;
        uint32_t announced = 0; // length sent with 0xBF
        int transfers = 0;
        bool checked = false;   // the target's data check passed
    };
    std::vector<Session> sessions() const;
    // The bytes in the target's flash: erased by its erase request, then
    // what its last programming session received.
    std::vector<uint8_t> flashed(Target t) const;
    int eraseCount(Target t) const;
    std::vector<uint8_t> finishedFlags() const; // byte of every 0xF5
    int restarts() const;
    uint32_t statusWord() const;
    // Waits until no restart is under way (false on timeout).
    bool waitRestartIdle(std::chrono::milliseconds timeout) const;

    // --- used by SimUnit (its mutex held) ---
    // Whether 0xF8 belongs to the upgrade: from the first upgrade request
    // until 0xF5.
    bool ownsCommandStatus() const;
    // Byte count or an Outcome of SimUnit.
    int control(uint8_t bmRequestType, uint8_t bRequest, uint8_t* data, uint16_t wLength);
    int bulk(const uint8_t* data, int length);

private:
    int statusInquiry();
    void startErase(Target t);
    void startSession(Target t, uint32_t announced);
    void restartThread();

    SimUnit& m_owner;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;

    int m_eraseInquiries[TargetCount];
    int m_programReadyInquiries = 0;
    int m_fpgaCheckInquiries = 0;
    int m_preparationInquiries = 1;
    int m_fifoBusy = 0;
    int m_resultInquiries = 1;
    std::chrono::milliseconds m_restartOff{50};
    std::chrono::milliseconds m_restartBack{500};
    bool m_restartComesBack = true;
    std::function<void(bool)> m_restartHandler;

    int m_failAtTransfer[TargetCount];
    bool m_rejectCheck[TargetCount] = {};
    uint32_t m_forcedBits = 0;

    bool m_active = false;
    uint32_t m_status = 0;
    uint8_t m_cmdStatus = 0;
    int m_cmdReadyAfter = 0; // 0xF8 inquiries until m_cmdStatus becomes 1
    Target m_erasing = NoTarget;
    int m_eraseCountdown = 0;
    bool m_erased[TargetCount] = {};
    bool m_hi3798Erased = false; // 0xBF programs the HI3798 after its erase
    int m_session = -1;          // index into m_sessions, -1 outside one
    int m_prepInquiries = 0;
    int m_fifoInquiries = 0;
    int m_resultCount = 0;
    bool m_resultPending = false;
    bool m_resultBad = false;
    int m_hi3798Session = -1; // the session its result is about

    std::vector<Session> m_sessions;
    std::vector<uint8_t> m_flash[TargetCount];
    int m_eraseCount[TargetCount] = {};
    std::vector<uint8_t> m_finished;
    int m_restarts = 0;

    bool m_restarting = false;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace sim
