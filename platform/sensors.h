// The machine's own figures: performance counters (one live query with seven counters, read as
// single values or as arrays over instances), the memory status, and the processor count.
// Windows: PDH with the English counter paths, GlobalMemoryStatusEx, the processor key under
// HKEY_LOCAL_MACHINE and GetSystemInfo. Native: the same figures, in the same units, from /proc, /sys
// and sysconf.
#pragma once

#include <cstdint>

namespace tarvelon {

enum PerfCounter : int {
    kCounterProcessorTime,    // "\Processor(_Total)\% Processor Time", double
    kCounterMaxFrequencyPct,  // "\Processor Information(*)\% of Maximum Frequency", double array
    kCounterFrequencyMhz,     // "\Processor Information(*)\Processor Frequency", double array
    kCounterProcesses,        // "\System\Processes", long
    kCounterThreads,          // "\System\Threads", long
    kCounterBytesReceived,    // "\Network Interface(*)\Bytes Received/sec", long array
    kCounterBytesSent,        // "\Network Interface(*)\Bytes Sent/sec", long array
    kPerfCounterCount
};

// One instance of an array counter: its name and its value in the format asked for.
struct CounterItem {
    const char16_t* name;
    double doubleValue;
    int32_t longValue;
};

// Items of one array read; buffer owns them and is released with freePerfArray.
struct CounterArray {
    CounterItem* items;
    int32_t count;
    void* buffer;
};

enum class CounterFormat { Double, Long };

// Opens the live query and adds the seven counters in order. Returns false when no query could be
// opened; otherwise added[i] tells whether counter i exists.
bool openPerfQuery(bool (&added)[kPerfCounterCount]);
void closePerfQuery();
// Takes a sample of every counter; rates are computed between the last two samples.
bool collectPerfQuery();
bool readPerfDouble(PerfCounter counter, double* value);
bool readPerfLong(PerfCounter counter, int32_t* value);
// Reads every instance of an array counter. On failure the array is empty (and needs no freeing).
bool readPerfArray(PerfCounter counter, CounterFormat format, CounterArray* array);
void freePerfArray(CounterArray* array);

struct MemoryStatus {
    uint64_t totalPhys;
    uint64_t availPhys;
    uint64_t totalPageFile;  // commit limit, physical memory included
    uint64_t availPageFile;
};
bool readMemoryStatus(MemoryStatus* status);

// Number of subkeys of the processor key (one per logical processor), or -1 when it cannot be opened.
int32_t processorKeySubkeyCount();
// The processor count the system information reports.
uint32_t systemProcessorCount();

// The system's own figures, for fields whose counters cannot be added or read. Windows:
// GetSystemTimes, the process list of NtQuerySystemInformation, GetIfTable2 and
// CallNtPowerInformation. Native: none, since the counters there already read the system's files.
struct ProcessorTimes {
    uint64_t idle;   // 100 ns units summed over all processors
    uint64_t total;  // idle, kernel and user time
};
bool readProcessorTimes(ProcessorTimes* times);
bool readProcessCounts(int32_t* processes, int32_t* threads);

constexpr int kMaxInterfaces = 128;  // filter layers add several rows per adapter
struct InterfaceOctets {
    uint64_t id;  // stays the same while the interface exists
    bool loopback;
    bool filterLayer;  // a layer stacked on another interface, counting the same bytes again
    uint64_t received;
    uint64_t sent;
};
// Returns the number of rows filled, or -1 when the table cannot be read.
int32_t readInterfaceOctets(InterfaceOctets (&rows)[kMaxInterfaces]);

constexpr int kMaxProcessorClocks = 64;
struct ProcessorClock {
    uint32_t currentMhz;
    uint32_t maximumMhz;
};
// Returns the number of processors filled, or -1 when the clocks cannot be read.
int32_t readProcessorClocks(ProcessorClock (&clocks)[kMaxProcessorClocks]);

}  // namespace tarvelon
