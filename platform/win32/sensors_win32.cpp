#include <windows.h>
// The PDH headers need the Windows types declared first.
#include <pdh.h>
#include <pdhmsg.h>

#include <cstdlib>

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

}  // namespace tarvelon
