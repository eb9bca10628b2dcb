#include <dirent.h>

#include <cstdlib>
#include <string>

#include "platform/posix/proc_text.h"
#include "platform/processes.h"
#include "platform/text16.h"

namespace tarvelon {

struct ProcessHandle {
    uint32_t pid;
};

int32_t listProcessIds(uint32_t* ids, int32_t capacity) {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return 0;
    int32_t count = 0;
    while (const dirent* entry = readdir(proc)) {
        if (count >= capacity) break;
        char* end = nullptr;
        const unsigned long pid = std::strtoul(entry->d_name, &end, 10);
        if (*end == 0 && pid != 0 && pid <= 0xFFFFFFFFul) ids[count++] = static_cast<uint32_t>(pid);
    }
    closedir(proc);
    return count;
}

ProcessHandle* openProcessForQuery(uint32_t pid) {
    std::string stat;
    if (!readTextFile("/proc/" + std::to_string(pid) + "/stat", &stat)) return nullptr;
    return new ProcessHandle{pid};
}

void closeProcessHandle(ProcessHandle* process) {
    delete process;
}

bool processStartTime(ProcessHandle* process, uint64_t* start) {
    std::string stat;
    if (!readTextFile("/proc/" + std::to_string(process->pid) + "/stat", &stat)) return false;
    // The name in parentheses may hold spaces: the fields are counted after its closing one.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return false;
    const char* at = stat.c_str() + close + 1;
    const char* end = stat.c_str() + stat.size();
    int field = 2;  // the name was the second
    while (at < end && field < 21) {
        while (at < end && *at == ' ') ++at;
        while (at < end && *at != ' ') ++at;
        ++field;
    }
    return nextDecimal(&at, end, start);  // field 22, starttime
}

bool processImageName(ProcessHandle* process, char16_t (&name)[kProcessNameUnits]) {
    std::string comm;
    if (!readTextFile("/proc/" + std::to_string(process->pid) + "/comm", &comm) || comm.empty()) return false;
    if (comm.back() == '\n') comm.pop_back();
    copyText16(name, kProcessNameUnits, fromUtf8(comm).c_str());
    return name[0] != 0;
}

void* processSystemHandle(ProcessHandle* process) {
    return process;
}

}  // namespace tarvelon
