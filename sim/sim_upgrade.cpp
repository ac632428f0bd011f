#include "sim_upgrade.h"

#include "sim_bus.h"
#include "sim_unit.h"

#include <algorithm>
#include <memory>

namespace sim {

namespace {

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void putU32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool needsErase(SimUpgrade::Target t)
{
    return t != SimUpgrade::Edid && t != SimUpgrade::Hi3516;
}

bool usesCommandStatus(SimUpgrade::Target t)
{
    return t == SimUpgrade::Mcu1 || t == SimUpgrade::Fpga;
}

bool isProcessor(SimUpgrade::Target t)
{
    return t == SimUpgrade::Hi3516 || t == SimUpgrade::Hi3798;
}

} // namespace

int SimUpgrade::eraseDoneBit(Target t)
{
    switch (t) {
    case Mcu1: return 0;
    case Fpga: return 2;
    case Bootloader: return 4;
    case Kernel: return 6;
    case FileSystem: return 8;
    case Mcu2: return 10;
    case Hi3798: return 13;
    default: return -1;
    }
}

int SimUpgrade::programFailedBit(Target t)
{
    switch (t) {
    case Mcu1: return 1;
    case Fpga: return 3;
    case Bootloader: return 5;
    case Kernel: return 7;
    case FileSystem: return 9;
    case Mcu2: return 11;
    case Edid: return 12;
    case Hi3798: return 14;
    default: return -1;
    }
}

const char* SimUpgrade::targetName(Target t)
{
    static const char* const names[] = {"MCU1", "MCU2", "FPGA", "bootloader", "kernel",
                                        "file system", "EDID", "HI3516", "HI3798"};
    return t >= 0 && t < TargetCount ? names[t] : "none";
}

SimUpgrade::SimUpgrade(SimUnit& owner) : m_owner(owner)
{
    std::fill(std::begin(m_eraseInquiries), std::end(m_eraseInquiries), 1);
    std::fill(std::begin(m_failAtTransfer), std::end(m_failAtTransfer), -1);
}

SimUpgrade::~SimUpgrade()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_cv.notify_all();
    if (m_thread.joinable()) {
        // The restart thread may hold the last reference to the unit.
        if (m_thread.get_id() == std::this_thread::get_id())
            m_thread.detach();
        else
            m_thread.join();
    }
}

// ------------------------------------------------------------ set-up

void SimUpgrade::setEraseInquiries(int n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::fill(std::begin(m_eraseInquiries), std::end(m_eraseInquiries), n);
}

void SimUpgrade::setEraseInquiries(Target t, int n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (t >= 0 && t < TargetCount)
        m_eraseInquiries[t] = n;
}

void SimUpgrade::setProgramReadyInquiries(int n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_programReadyInquiries = n;
}

void SimUpgrade::setFpgaCheckInquiries(int n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fpgaCheckInquiries = n;
}

void SimUpgrade::setPreparationInquiries(int n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_preparationInquiries = n;
}

void SimUpgrade::setFifoBusyInquiries(int n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fifoBusy = n;
}

void SimUpgrade::setResultInquiries(int n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_resultInquiries = n;
}

void SimUpgrade::setRestartTiming(std::chrono::milliseconds off, std::chrono::milliseconds back,
                                  bool comesBack)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_restartOff = off;
    m_restartBack = back;
    m_restartComesBack = comesBack;
}

void SimUpgrade::setRestartHandler(std::function<void(bool)> handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_restartHandler = std::move(handler);
}

void SimUpgrade::failProgramAtTransfer(Target t, int transfer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (t >= 0 && t < TargetCount)
        m_failAtTransfer[t] = transfer;
}

void SimUpgrade::rejectCheck(Target t, bool reject)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (t >= 0 && t < TargetCount)
        m_rejectCheck[t] = reject;
}

void SimUpgrade::setStatusBitsForced(uint32_t bits)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_forcedBits = bits;
}

// ------------------------------------------------------------ observation

std::vector<SimUpgrade::Session> SimUpgrade::sessions() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sessions;
}

std::vector<uint8_t> SimUpgrade::flashed(Target t) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return t >= 0 && t < TargetCount ? m_flash[t] : std::vector<uint8_t>{};
}

int SimUpgrade::eraseCount(Target t) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return t >= 0 && t < TargetCount ? m_eraseCount[t] : 0;
}

std::vector<uint8_t> SimUpgrade::finishedFlags() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_finished;
}

int SimUpgrade::restarts() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_restarts;
}

uint32_t SimUpgrade::statusWord() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_status | m_forcedBits;
}

bool SimUpgrade::waitRestartIdle(std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [this] { return !m_restarting; });
}

bool SimUpgrade::ownsCommandStatus() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_active;
}

// ------------------------------------------------------------ protocol

int SimUpgrade::statusInquiry()
{
    if (m_erasing == NoTarget || m_eraseCountdown <= 0)
        return 0; // nothing under way, or an erase that never ends (kNever)
    if (--m_eraseCountdown > 0)
        return 0;
    m_status |= 1u << eraseDoneBit(m_erasing);
    if (usesCommandStatus(m_erasing))
        m_cmdStatus = 1;
    m_erasing = NoTarget;
    return 0;
}

void SimUpgrade::startErase(Target t)
{
    m_session = -1; // an open session ends
    m_erased[t] = true;
    ++m_eraseCount[t];
    m_flash[t].clear();
    m_status &= ~(1u << eraseDoneBit(t));
    if (programFailedBit(t) >= 0)
        m_status &= ~(1u << programFailedBit(t));
    if (t == Hi3798)
        m_hi3798Erased = true;
    if (usesCommandStatus(t)) {
        m_cmdStatus = 0;
        m_cmdReadyAfter = 0;
    }
    m_erasing = t;
    m_eraseCountdown = m_eraseInquiries[t];
    if (m_eraseCountdown == 0) {
        m_eraseCountdown = 1;
        statusInquiry();
    }
}

void SimUpgrade::startSession(Target t, uint32_t announced)
{
    Session s;
    s.target = t;
    s.announced = announced;
    m_sessions.push_back(s);
    m_session = int(m_sessions.size()) - 1;
    m_erased[t] = false; // the next programming needs a new erase
    if (t == Hi3798)
        m_hi3798Erased = false;
    m_flash[t].clear();
    if (programFailedBit(t) >= 0)
        m_status &= ~(1u << programFailedBit(t));
    m_fifoInquiries = 0;
    m_prepInquiries = 0;
    m_resultPending = false;
}

int SimUpgrade::control(uint8_t bmRequestType, uint8_t bRequest, uint8_t* data, uint16_t wLength)
{
    if ((bmRequestType & 0x60) != 0x40)
        return kStall;
    const bool in = bmRequestType & 0x80;
    auto out = [&](int len) { return !in && wLength == len && (len == 0 || data); };
    auto inOf = [&](int len) { return in && wLength == len && data; };

    std::lock_guard<std::mutex> lock(m_mutex);
    m_active = true;

    auto erase = [&](Target t) {
        if (!out(0))
            return int(kStall);
        startErase(t);
        return 0;
    };
    auto program = [&](Target t) {
        if (!out(0))
            return int(kStall);
        if (needsErase(t) && !m_erased[t])
            return int(kStall); // flash not erased
        startSession(t, 0);
        if (usesCommandStatus(t)) {
            m_cmdReadyAfter = m_programReadyInquiries;
            if (m_cmdReadyAfter != 0)
                m_cmdStatus = 0;
        }
        return 0;
    };
    Session* open = m_session >= 0 ? &m_sessions[size_t(m_session)] : nullptr;

    switch (bRequest) {
    case kReqEraseMcu1: return erase(Mcu1);
    case kReqEraseFpga: return erase(Fpga);
    case kReqEraseBoot: return erase(Bootloader);
    case kReqEraseKernel: return erase(Kernel);
    case kReqEraseFs: return erase(FileSystem);
    case kReqEraseHi3798: return erase(Hi3798);
    case kReqEraseMcu2: return erase(Mcu2);
    case kReqProgramMcu1: return program(Mcu1);
    case kReqProgramFpga: return program(Fpga);
    case kReqProgramBoot: return program(Bootloader);
    case kReqProgramKernel: return program(Kernel);
    case kReqProgramFs: return program(FileSystem);
    case kReqProgramEdid: return program(Edid);
    case kReqProgramMcu2: return program(Mcu2);

    case kReqProgramHi: {
        if (!out(4))
            return kStall;
        const uint32_t announced = le32(data);
        if (open && isProcessor(open->target) && open->transfers == 0) {
            // Asked again while preparing: the processor starts over.
            open->announced = announced;
            m_prepInquiries = 0;
            return 4;
        }
        startSession(m_hi3798Erased ? Hi3798 : Hi3516, announced);
        return 4;
    }

    case kReqStatusWord:
        if (!inOf(4))
            return kStall;
        statusInquiry();
        putU32(data, m_status | m_forcedBits);
        return 4;

    case kReqCommandStatus:
        if (!inOf(1))
            return kStall;
        statusInquiry();
        if (m_cmdReadyAfter > 0 && --m_cmdReadyAfter == 0)
            m_cmdStatus = 1;
        data[0] = m_cmdStatus;
        return 1;

    case kReqDataCheck: {
        if (!out(1))
            return kStall;
        const Target t = data[0] == 0x10 ? Mcu1 : data[0] == 0x20 ? Fpga : NoTarget;
        if (t == NoTarget || !open || open->target != t || m_rejectCheck[t])
            return kStall;
        open->checked = true;
        m_session = -1;
        if (t == Fpga) {
            m_cmdReadyAfter = m_fpgaCheckInquiries;
            m_cmdStatus = m_cmdReadyAfter != 0 ? 0 : 1;
        }
        return 1;
    }

    case kReqCheckMcu2:
        if (!out(0) || !open || open->target != Mcu2 || m_rejectCheck[Mcu2])
            return kStall;
        open->checked = true;
        m_session = -1;
        return 0;

    case kReqCheckHi3798:
        if (!out(1) || data[0] != 0x30 || !open || open->target != Hi3798)
            return kStall;
        m_resultPending = true;
        m_resultCount = 0;
        m_resultBad = m_rejectCheck[Hi3798] || open->data.size() != open->announced;
        m_hi3798Session = m_session;
        m_session = -1;
        return 1;

    case kReqHi3798Result:
        if (!inOf(1))
            return kStall;
        data[0] = 0;
        if (m_resultPending) {
            ++m_resultCount;
            if (m_resultBad)
                data[0] = kResultBad;
            else if (m_resultInquiries != kNever && m_resultCount >= m_resultInquiries) {
                data[0] = kReady;
                if (m_hi3798Session >= 0)
                    m_sessions[size_t(m_hi3798Session)].checked = true;
            }
        }
        return 1;

    case kReqPreparation:
        if (!inOf(1))
            return kStall;
        data[0] = 0;
        if (open && isProcessor(open->target)) {
            ++m_prepInquiries;
            if (m_preparationInquiries != kNever && m_prepInquiries >= m_preparationInquiries)
                data[0] = kReady;
        }
        return 1;

    case kReqFifo:
        if (!inOf(1))
            return kStall;
        if (m_fifoBusy == kNever) {
            data[0] = 1;
        } else {
            ++m_fifoInquiries;
            data[0] = m_fifoInquiries > m_fifoBusy ? 0 : 1;
        }
        return 1;

    case kReqRestartMcu2:
        if (!out(0))
            return kStall;
        ++m_restarts;
        if (!m_restarting && !m_stop) {
            if (m_thread.joinable())
                m_thread.join(); // the last restart is over
            m_restarting = true;
            m_thread = std::thread(&SimUpgrade::restartThread, this);
        }
        return 0;

    case kReqFinished:
        if (!out(1))
            return kStall;
        m_finished.push_back(data[0]);
        m_session = -1;
        m_active = false;
        return 1;

    default:
        return kStall;
    }
}

int SimUpgrade::bulk(const uint8_t* data, int length)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int n = std::max(length, 0);
    m_fifoInquiries = 0;
    if (m_session < 0)
        return n; // no programming under way: the unit drops the data
    Session& s = m_sessions[size_t(m_session)];
    // The flash was cleared when the session began, so it follows the
    // session's data chunk by chunk (appending, not copying the whole).
    if (n > 0 && data) {
        s.data.insert(s.data.end(), data, data + n);
        m_flash[s.target].insert(m_flash[s.target].end(), data, data + n);
    }
    const int index = s.transfers++;
    if (m_failAtTransfer[s.target] == index) {
        m_failAtTransfer[s.target] = -1;
        if (programFailedBit(s.target) >= 0)
            m_status |= 1u << programFailedBit(s.target);
    }
    return n;
}

// ------------------------------------------------------------ restart

void SimUpgrade::restartThread()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto off = m_restartOff;
    const auto back = m_restartBack;
    const bool comesBack = m_restartComesBack;
    const auto handler = m_restartHandler;
    auto stopped = [this] { return m_stop; };

    std::shared_ptr<SimUnit> unit; // kept only from the replug on
    std::weak_ptr<SimUnit> weakUnit;
    uint16_t vid = 0, pid = 0;

    if (!m_cv.wait_for(lock, off, stopped)) {
        lock.unlock();
        if (handler) {
            handler(false);
        } else {
            auto& bus = VirtualBus::instance();
            for (const auto& dev : bus.devices()) {
                if (&dev->unit() != &m_owner)
                    continue;
                weakUnit = dev->unitPtr();
                vid = dev->vendorId();
                pid = dev->productId();
                bus.unplug(dev);
            }
        }
        lock.lock();
        if (comesBack && !m_cv.wait_for(lock, back, stopped)) {
            lock.unlock();
            if (handler) {
                handler(true);
            } else if ((unit = weakUnit.lock())) {
                VirtualBus::instance().plug(unit, vid, pid);
            }
            lock.lock();
        }
    }
    m_restarting = false;
    m_cv.notify_all();
    lock.unlock();
    // Last: this may drop the final reference to the unit, and with it
    // this object (whose destructor then lets the thread go).
    unit.reset();
}

} // namespace sim
