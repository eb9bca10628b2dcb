// The machine's processes as the per-process GPU figures need them: their ids, a handle that may only
// ask (the least right that reads a process's figures), when a process started, which tells a new
// process from an ended one that had the same id, and its image's file name.
// Windows: a Toolhelp snapshot, OpenProcess with PROCESS_QUERY_LIMITED_INFORMATION, GetProcessTimes
// and QueryFullProcessImageNameW. Native: /proc, the start time from /proc/PID/stat and the name from
// /proc/PID/comm.
#pragma once

#include <cstdint>

namespace tarvelon {

struct ProcessHandle;

constexpr int kProcessNameUnits = 64;

// The ids of the running processes, at most capacity of them; returns how many were filled in.
int32_t listProcessIds(uint32_t* ids, int32_t capacity);

// Null when the process cannot be opened (it ended, or is elevated or protected).
ProcessHandle* openProcessForQuery(uint32_t pid);
void closeProcessHandle(ProcessHandle* process);

// When the process started, in the system's units; false when it cannot be read.
bool processStartTime(ProcessHandle* process, uint64_t* start);

// The file name of the process's image ("render.exe"), cut to fit; false when it cannot be read.
bool processImageName(ProcessHandle* process, char16_t (&name)[kProcessNameUnits]);

// The handle as the system's own functions take it.
void* processSystemHandle(ProcessHandle* process);

}  // namespace tarvelon
