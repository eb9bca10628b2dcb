#include <windows.h>
#include <winsock2.h>
// The headers below need the Windows and socket types declared first.
#include <ws2ipdef.h>
// The interface table needs the socket address types.
#include <iphlpapi.h>
#include <netioapi.h>
#include <pdh.h>
#include <pdhmsg.h>
#include <powrprof.h>
#include <winternl.h>

#include <cstdlib>
#include <vector>

#include "platform/sensors.h"

namespace tarvelon {
namespace {

const wchar_t* const kCounterPaths[kPerfCounterCount] = {
    L"\\Processor(_Total)\\% Processor Time",
    L"\\Processor Information(*)\\% of Maximum Frequency",
    L"\\Processor Information(*)\\Processor Frequency",
    L"\\System\\Processes",
    L"\\System\\Threads",
    L"\\Network Interface(*)\\Bytes Received/sec",
    L"\\Network Interface(*)\\Bytes Sent/sec",
};

PDH_HQUERY query;
PDH_HCOUNTER counters[kPerfCounterCount];

// One processor's entry of CallNtPowerInformation(ProcessorInformation); the public headers lack it.
struct ProcessorPowerInformation {
    ULONG number;
    ULONG maxMhz;
    ULONG currentMhz;
    ULONG mhzLimit;
    ULONG maxIdleState;
    ULONG currentIdleState;
};

uint64_t fileTimeUnits(const FILETIME& time) {
    return static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

DWORD pdhFormat(CounterFormat format) {
    return format == CounterFormat::Double ? PDH_FMT_DOUBLE : PDH_FMT_LONG;
}

}  // namespace

bool openPerfQuery(bool (&added)[kPerfCounterCount]) {
    for (bool& counter : added) counter = false;
    if (PdhOpenQueryW(nullptr, 0, &query) != ERROR_SUCCESS) {
        query = nullptr;
        return false;
    }
    for (int i = 0; i < kPerfCounterCount; ++i) {
        added[i] = PdhAddEnglishCounterW(query, kCounterPaths[i], 0, &counters[i]) == ERROR_SUCCESS;
    }
    return true;
}

void closePerfQuery() {
    if (query != nullptr) PdhCloseQuery(query);
    query = nullptr;
}

bool collectPerfQuery() {
    return query != nullptr && PdhCollectQueryData(query) == ERROR_SUCCESS;
}

bool readPerfDouble(PerfCounter counter, double* value) {
    PDH_FMT_COUNTERVALUE formatted;
    if (PdhGetFormattedCounterValue(counters[counter], PDH_FMT_DOUBLE, nullptr, &formatted) !=
        ERROR_SUCCESS) {
        return false;
    }
    *value = formatted.doubleValue;
    return true;
}

bool readPerfLong(PerfCounter counter, int32_t* value) {
    PDH_FMT_COUNTERVALUE formatted;
    if (PdhGetFormattedCounterValue(counters[counter], PDH_FMT_LONG, nullptr, &formatted) != ERROR_SUCCESS) {
        return false;
    }
    *value = formatted.longValue;
    return true;
}

bool readPerfArray(PerfCounter counter, CounterFormat format, CounterArray* array) {
    *array = CounterArray{nullptr, 0, nullptr};
    DWORD bufferSize = 0;
    DWORD itemCount = 0;
    const PDH_STATUS sizing =
        PdhGetFormattedCounterArrayW(counters[counter], pdhFormat(format), &bufferSize, &itemCount, nullptr);
    if (sizing != static_cast<PDH_STATUS>(PDH_MORE_DATA)) return sizing == ERROR_SUCCESS;
    // One block: the PDH items first, then the portable items that point into them.
    const size_t portableOffset =
        (bufferSize + alignof(CounterItem) - 1) / alignof(CounterItem) * alignof(CounterItem);
    void* buffer = std::malloc(portableOffset + sizeof(CounterItem) * itemCount);
    if (buffer == nullptr) return false;
    auto* pdhItems = static_cast<PDH_FMT_COUNTERVALUE_ITEM_W*>(buffer);
    if (PdhGetFormattedCounterArrayW(counters[counter], pdhFormat(format), &bufferSize, &itemCount,
                                     pdhItems) != ERROR_SUCCESS) {
        std::free(buffer);
        return false;
    }
    auto* items = reinterpret_cast<CounterItem*>(static_cast<char*>(buffer) + portableOffset);
    for (DWORD i = 0; i < itemCount; ++i) {
        items[i].name = reinterpret_cast<const char16_t*>(pdhItems[i].szName);
        items[i].doubleValue = format == CounterFormat::Double ? pdhItems[i].FmtValue.doubleValue : 0.0;
        items[i].longValue = format == CounterFormat::Long ? pdhItems[i].FmtValue.longValue : 0;
    }
    *array = CounterArray{items, static_cast<int32_t>(itemCount), buffer};
    return true;
}

void freePerfArray(CounterArray* array) {
    std::free(array->buffer);
    *array = CounterArray{nullptr, 0, nullptr};
}

bool readMemoryStatus(MemoryStatus* status) {
    MEMORYSTATUSEX memory = {};
    memory.dwLength = sizeof memory;
    static_assert(sizeof(MEMORYSTATUSEX) == 64);
    if (!GlobalMemoryStatusEx(&memory)) return false;
    *status = MemoryStatus{memory.ullTotalPhys, memory.ullAvailPhys, memory.ullTotalPageFile,
                           memory.ullAvailPageFile};
    return true;
}

int32_t processorKeySubkeyCount() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\", 0, KEY_READ,
                      &key) != ERROR_SUCCESS) {
        return -1;
    }
    DWORD subkeys = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        subkeys = 0;
    }
    RegCloseKey(key);
    return static_cast<int32_t>(subkeys);
}

uint32_t systemProcessorCount() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors;
}

bool readProcessorTimes(ProcessorTimes* times) {
    FILETIME idle, kernel, user;
    if (!GetSystemTimes(&idle, &kernel, &user)) return false;
    // Kernel time includes the idle time.
    *times = ProcessorTimes{fileTimeUnits(idle), fileTimeUnits(kernel) + fileTimeUnits(user)};
    return true;
}

bool readProcessCounts(int32_t* processes, int32_t* threads) {
    // One call for the whole process list (a toolhelp snapshot costs three times as much under Wine).
    // The buffer is kept for the next pass and grows, with room to spare, when the list outgrows it.
    constexpr NTSTATUS kLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
    static void* buffer = nullptr;
    static ULONG capacity = 0;
    NTSTATUS status = kLengthMismatch;
    for (int attempt = 0; attempt < 4 && status == kLengthMismatch; ++attempt) {
        ULONG needed = 0;
        status = NtQuerySystemInformation(SystemProcessInformation, buffer, capacity, &needed);
        if (status != kLengthMismatch) break;
        const ULONG grown = (needed > capacity ? needed : capacity) + 64 * 1024;
        void* larger = std::realloc(buffer, grown);
        if (larger == nullptr) return false;
        buffer = larger;
        capacity = grown;
    }
    if (status != 0) return false;
    int32_t processCount = 0;
    int32_t threadCount = 0;
    for (const char* entry = static_cast<const char*>(buffer);;) {
        const auto* process = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(entry);
        ++processCount;
        threadCount += static_cast<int32_t>(process->NumberOfThreads);
        if (process->NextEntryOffset == 0) break;
        entry += process->NextEntryOffset;
    }
    *processes = processCount;
    *threads = threadCount;
    return true;
}

int32_t readInterfaceOctets(InterfaceOctets (&rows)[kMaxInterfaces]) {
    MIB_IF_TABLE2* table = nullptr;
    if (GetIfTable2(&table) != NO_ERROR) return -1;
    int32_t count = 0;
    for (ULONG i = 0; i < table->NumEntries && count < kMaxInterfaces; ++i) {
        const MIB_IF_ROW2& row = table->Table[i];
        rows[count++] = InterfaceOctets{row.InterfaceLuid.Value, row.Type == IF_TYPE_SOFTWARE_LOOPBACK,
                                        row.InterfaceAndOperStatusFlags.FilterInterface != 0, row.InOctets,
                                        row.OutOctets};
    }
    FreeMibTable(table);
    return count;
}

int32_t readProcessorClocks(ProcessorClock (&clocks)[kMaxProcessorClocks]) {
    // The call wants an entry for every processor of the machine, which a 32-bit process under WOW64
    // is not told by GetSystemInfo (it stops at 32).
    const DWORD processors = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    if (processors == 0) return -1;
    static std::vector<ProcessorPowerInformation> power;  // the sampler's alone, kept between passes
    power.resize(processors);
    if (CallNtPowerInformation(ProcessorInformation, nullptr, 0, power.data(),
                               static_cast<ULONG>(sizeof power[0] * processors)) != 0) {
        return -1;
    }
    const DWORD kept = processors < kMaxProcessorClocks ? processors : static_cast<DWORD>(kMaxProcessorClocks);
    for (DWORD i = 0; i < kept; ++i) clocks[i] = ProcessorClock{power[i].currentMhz, power[i].maxMhz};
    return static_cast<int32_t>(kept);
}

}  // namespace tarvelon
