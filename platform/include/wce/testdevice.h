// In-process stand-ins for parallel printer hardware, which cannot exist on this
// machine. A test registers a device for an LPTn: name; CreateFileW on that name then
// talks to it instead of a Linux printer device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "wce/types.h"

namespace wce {

struct TestParallelDevice {
    std::mutex lock;                  // guards every field below
    std::string deviceId;             // IEEE 1284 ID text the device reports
    std::vector<DWORD> statusWords;   // successive status replies; the last one repeats
    size_t bytesPerWrite = SIZE_MAX;  // how many bytes each write takes; 0 stalls
    std::vector<std::string> writes;  // the bytes each accepted write carried
    std::string received;             // everything accepted, in order

    // What each of the next writes takes, before bytesPerWrite applies again;
    // {0} stalls the first write only.
    std::vector<size_t> acceptPlan;
    bool deviceIdFails = false;        // the device ID read fails
    bool statusFails = false;          // the status read fails
    std::string capabilityReply;       // reply to the capability read; empty: it fails
    DWORD lastCapabilitySelector = 0;  // the 4-byte input of the last capability read
    size_t writeCalls = 0;             // every write, stalled ones included
    size_t statusReads = 0;
};

// A new device replaces any device registered under the same name (letter case ignored).
std::shared_ptr<TestParallelDevice> RegisterTestParallelDevice(std::u16string_view name);
void UnregisterTestParallelDevice(std::u16string_view name);

}  // namespace wce
