#include <windows.h>

#include "platform/processes.h"
// After windows.h.
#include <tlhelp32.h>

#include "platform/text16.h"

namespace tarvelon {

int32_t listProcessIds(uint32_t* ids, int32_t capacity) {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    int32_t count = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more != FALSE && count < capacity;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID != 0) ids[count++] = entry.th32ProcessID;  // 0 is the idle "process"
    }
    CloseHandle(snapshot);
    return count;
}

ProcessHandle* openProcessForQuery(uint32_t pid) {
    return reinterpret_cast<ProcessHandle*>(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
}

void closeProcessHandle(ProcessHandle* process) {
    if (process != nullptr) CloseHandle(reinterpret_cast<HANDLE>(process));
}

bool processStartTime(ProcessHandle* process, uint64_t* start) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (GetProcessTimes(reinterpret_cast<HANDLE>(process), &created, &exited, &kernel, &user) == FALSE)
        return false;
    *start = (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return true;
}

bool processImageName(ProcessHandle* process, char16_t (&name)[kProcessNameUnits]) {
    wchar_t path[MAX_PATH + 1] = {};
    DWORD units = MAX_PATH;
    if (QueryFullProcessImageNameW(reinterpret_cast<HANDLE>(process), 0, path, &units) == FALSE) return false;
    path[units < MAX_PATH ? units : MAX_PATH] = 0;
    const wchar_t* file = path;
    for (const wchar_t* unit = path; *unit != 0; ++unit) {
        if (*unit == L'\\' || *unit == L'/') file = unit + 1;
    }
    copyText16(name, kProcessNameUnits, reinterpret_cast<const char16_t*>(file));
    return name[0] != 0;
}

void* processSystemHandle(ProcessHandle* process) {
    return process;
}

}  // namespace tarvelon
