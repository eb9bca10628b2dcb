#include <windows.h>

#include "platform/local_time.h"

namespace tarvelon {

LocalTime localTimeOf(int64_t unixSeconds) {
    // FILETIME counts 100 ns from 1601; 11644473600 s lie between 1601 and 1970.
    const uint64_t ticks = static_cast<uint64_t>(unixSeconds + 11644473600LL) * 10000000ULL;
    const FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME universal{};
    SYSTEMTIME local{};
    FileTimeToSystemTime(&utc, &universal);
    SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local);
    return {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}

}  // namespace tarvelon
