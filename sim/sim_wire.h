// What the two simulated buses share: the faults a request can meet on the
// wire, and the record of a transfer as the unit saw it. The libusb bus
// (sim_bus) answers the program's libusb calls itself; the device-file bus
// (usbdevfs/) sits under the real libusb. A fault is named by the libusb
// result the program gets, so one test row means the same on either bus.
#pragma once

#include <cstdint>
#include <thread>
#include <vector>

namespace sim {

enum class Fault : int {
    Io = -1,            // the device file: status -EPROTO
    InvalidParam = -2,
    Access = -3,
    NoDevice = -4,      // the device file: status -ENODEV
    NotFound = -5,
    Busy = -6,
    Timeout = -7,       // the device file: the URB never completes; the host's discard ends it
    Overflow = -8,      // the device file: status -EOVERFLOW
    Pipe = -9,          // a stall; a bulk endpoint stays halted until cleared
    Interrupted = -10,
    NoMemory = -11,
    NotSupported = -12,
    Other = -99,
    Short = 1000,       // the unit answers, and one byte fewer moves than asked
    Unplug = 1001,      // the unit is pulled out while the request runs
};

// The libusb error code of a fault; Short and Unplug have none of their own.
constexpr int libusbCode(Fault fault) { return int(fault) < 0 ? int(fault) : 0; }

// One transfer as the unit saw it.
struct Transfer
{
    enum Kind { Control, Bulk };
    Kind kind = Control;
    uint8_t endpoint = 0;      // bulk only
    uint8_t bmRequestType = 0; // the setup packet, control only
    uint8_t bRequest = 0;
    uint16_t wValue = 0;
    uint16_t wIndex = 0;
    uint16_t wLength = 0;
    std::vector<uint8_t> data; // bytes sent (OUT) or answered (IN)
    int result = 0;            // bytes moved, or the libusb error code the program got
    bool discarded = false;    // ended by the host (its timeout) before the unit answered
    int64_t t_us = 0;          // submitted, on the bus clock (microseconds)
    int64_t end_us = -1;       // completed; -1 while in flight
    const void* through = nullptr; // device-file bus only: the open file it came through
    unsigned timeout_ms = 0;   // libusb bus only: the device file never sees the host's timeout
    std::thread::id thread;    // libusb bus only: the caller's thread
};

} // namespace sim
