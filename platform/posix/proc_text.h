// Reading the Linux kernel's text files that stand in for the Windows counters natively:
// /proc/meminfo, the first line of /proc/stat, /proc/loadavg and /proc/net/dev.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/kept_file.h"
#include "platform/sensors.h"

namespace tarvelon {

// The whole text of a regular file of at most mostBytes, read once; false when it cannot be opened
// or read, is not a regular file (a FIFO does not block it) or is longer.
bool readTextFile(const std::string& path, std::string* text, size_t mostBytes = kKernelFileBytes);

// The decimal number after spaces at *at, moving *at past its digits; false when none starts there
// or it does not fit 64 bits.
bool nextDecimal(const char** at, const char* end, uint64_t* value);

// The kB value of a "Name:   123 kB" line of /proc/meminfo, in bytes; false when the line is missing.
bool meminfoBytes(const std::string& text, const char* name, uint64_t* bytes);

// Total and available memory, and the commit figures as physical memory plus swap; bytes.
bool parseMeminfo(const std::string& text, MemoryStatus* status);

// Jiffies of all processors together: busy (everything but idle and iowait) and total.
bool parseCpuTimes(const std::string& text, uint64_t* busy, uint64_t* total);

// Number of scheduling entities (threads) in the fourth field "running/total".
bool parseLoadavgThreads(const std::string& text, int32_t* threads);

struct InterfaceBytes {
    std::string name;
    uint64_t received;
    uint64_t sent;
};
std::vector<InterfaceBytes> parseNetDev(const std::string& text);

}  // namespace tarvelon
