#include "agent/drm_processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/posix/kept_file.h"

namespace tarvelon {
namespace {

// fdinfo entries are a few lines; a client with many memory regions a few dozen.
constexpr size_t kMostFdinfoBytes = 16 * 1024;

bool digitsOnly(const char* name) {
    if (*name == 0) return false;
    for (const char* c = name; *c != 0; ++c) {
        if (*c < '0' || *c > '9') return false;
    }
    return true;
}

// Files below a process's directory are opened relative to it: a walk of /proc opens thousands, and
// each full path would be looked up component by component again.
bool readRegularAt(int directory, const char* name, std::string* text, size_t mostBytes) {
    const int fd = openat(directory, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat status;
    size_t room = 4096;
    const bool read =
        fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && readFromStart(fd, text, mostBytes, &room);
    close(fd);
    return read;
}

// A descriptor whose link names anything but a DRM device is passed over without reading its
// fdinfo; one whose link cannot be read (a tree without fd links, a race with close) is read.
bool maybeDrm(int fdDirectory, const char* name) {
    constexpr char kDrmDevices[] = "/dev/dri/";
    char target[64];
    const ssize_t length = fdDirectory < 0 ? -1 : readlinkat(fdDirectory, name, target, sizeof target);
    if (length <= 0) return true;
    return static_cast<size_t>(length) >= sizeof kDrmDevices - 1 &&
           std::memcmp(target, kDrmDevices, sizeof kDrmDevices - 1) == 0;
}

struct ClientFound {
    DrmClientUsage usage;
    int gpu;  // index into the addresses
    uint32_t pid;
};

const DrmClientSeen* findSeen(const std::vector<DrmClientSeen>& seen, const DrmClientUsage& usage) {
    for (const DrmClientSeen& client : seen) {
        if (client.clientId == usage.clientId && client.pdev == usage.pdev) return &client;
    }
    return nullptr;
}

// The clients of the process whose directory is open as processDirectory, each added once.
void readProcessClients(DrmProcessWalk& walk, int processDirectory, uint32_t pid,
                        const std::vector<std::string>& addresses, std::vector<ClientFound>* found) {
    const int fdinfo = openat(processDirectory, "fdinfo", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdinfo < 0) return;
    DIR* directory = fdopendir(fdinfo);
    if (directory == nullptr) {
        close(fdinfo);
        return;
    }
    const int fdLinks = openat(processDirectory, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ClientFound client{};
    while (const dirent* entry = readdir(directory)) {
        if (!digitsOnly(entry->d_name) || !maybeDrm(fdLinks, entry->d_name)) continue;
        if (!readRegularAt(fdinfo, entry->d_name, &walk.text, kMostFdinfoBytes) ||
            !parseDrmFdinfo(walk.text, &client.usage))
            continue;
        const auto gpu = std::find(addresses.begin(), addresses.end(), client.usage.pdev);
        if (gpu == addresses.end()) continue;
        const bool known = std::any_of(found->begin(), found->end(), [&](const ClientFound& other) {
            return other.usage.clientId == client.usage.clientId && other.usage.pdev == client.usage.pdev;
        });
        if (known) continue;
        client.gpu = static_cast<int>(gpu - addresses.begin());
        client.pid = pid;
        found->push_back(client);
    }
    if (fdLinks >= 0) close(fdLinks);
    closedir(directory);
}

// One GpuProcess a GPU among the process's clients found[before..]: memory summed, busy from the
// busiest engine's time summed over them.
void appendProcess(const DrmProcessWalk& walk, const std::vector<ClientFound>& found, size_t before,
                   uint32_t pid, const std::string& command, int gpuCount, int firstSlot, uint64_t nowNs,
                   std::vector<GpuProcess>* processes) {
    for (int gpu = 0; gpu < gpuCount; ++gpu) {
        GpuProcess process{firstSlot + gpu, pid, command, false, 0, false, 0};
        bool uses = false;
        // Busy time by engine over this process's clients of this GPU.
        DrmEngineTime moved[kMostDrmEngines] = {};
        int movedCount = 0;
        for (size_t i = before; i < found.size(); ++i) {
            const ClientFound& client = found[i];
            if (client.gpu != gpu) continue;
            uses = true;
            if (client.usage.memoryRead) {
                process.memoryRead = true;
                process.memoryBytes += client.usage.memoryBytes;
            }
            const DrmClientSeen* seen = walk.walked ? findSeen(walk.seen, client.usage) : nullptr;
            if (seen == nullptr || seen->pid != pid) continue;
            const DrmEngineTime* then[kMostDrmEngines];
            bool wentBack = false;
            for (int e = 0; e < client.usage.engineCount; ++e) {
                const DrmEngineTime& now = client.usage.engines[e];
                then[e] = std::find_if(
                    seen->engines, seen->engines + seen->engineCount,
                    [&](const DrmEngineTime& engine) { return std::strcmp(engine.name, now.name) == 0; });
                if (then[e] == seen->engines + seen->engineCount) then[e] = nullptr;
                wentBack = wentBack || (then[e] != nullptr && now.busyNs < then[e]->busyNs);
            }
            // Any counter behind its last reading: not the counters of the last walk, none compare.
            if (wentBack) continue;
            for (int e = 0; e < client.usage.engineCount; ++e) {
                const DrmEngineTime& now = client.usage.engines[e];
                if (then[e] == nullptr) continue;
                DrmEngineTime* sum = std::find_if(moved, moved + movedCount, [&](const DrmEngineTime& m) {
                    return std::strcmp(m.name, now.name) == 0;
                });
                if (sum == moved + movedCount) {
                    *sum = now;
                    sum->busyNs = 0;
                    ++movedCount;
                }
                sum->busyNs += now.busyNs - then[e]->busyNs;
            }
        }
        if (!uses) continue;
        for (int e = 0; e < movedCount; ++e) {
            double share = 0;
            if (!engineBusyShare(0, moved[e].busyNs, nowNs - walk.walkedAtNs, moved[e].capacity, &share))
                continue;
            process.busyRead = true;
            process.busyRatio = std::max(process.busyRatio, share);
        }
        processes->push_back(process);
    }
}

}  // namespace

DrmProcessWalk makeDrmProcessWalk(const std::string& root) {
    DrmProcessWalk walk{};
    walk.root = root == "/" ? "" : root;
    return walk;
}

void walkDrmProcesses(DrmProcessWalk& walk, const std::vector<std::string>& addresses, int firstSlot,
                      uint64_t nowNs, std::vector<GpuProcess>* processes) {
    std::vector<ClientFound> found;
    if (!addresses.empty()) {
        const int proc = open((walk.root + "/proc").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        // In PID order, so that a client shared by a parent and its children counts as the parent's.
        std::vector<uint32_t> pids;
        if (DIR* directory = proc < 0 ? nullptr : opendir((walk.root + "/proc").c_str())) {
            while (const dirent* entry = readdir(directory)) {
                if (digitsOnly(entry->d_name) && std::strlen(entry->d_name) <= 9)
                    pids.push_back(static_cast<uint32_t>(std::strtoul(entry->d_name, nullptr, 10)));
            }
            closedir(directory);
        }
        std::sort(pids.begin(), pids.end());
        for (const uint32_t pid : pids) {
            const int process = openat(proc, std::to_string(pid).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (process < 0) continue;
            const size_t before = found.size();
            readProcessClients(walk, process, pid, addresses, &found);
            // The name is read after the clients: a process that ended meanwhile (its PID perhaps
            // already another's) is left out rather than shown under a name not its own.
            if (found.size() != before && !readRegularAt(process, "comm", &walk.text, kMostFdinfoBytes))
                found.resize(before);
            close(process);
            if (found.size() == before) continue;
            appendProcess(walk, found, before, pid, commandName(walk.text),
                          static_cast<int>(addresses.size()), firstSlot, nowNs, processes);
        }
        if (proc >= 0) close(proc);
    }
    walk.seen.clear();
    for (const ClientFound& client : found) {
        DrmClientSeen seen{
            client.usage.pdev, client.usage.clientId, client.pid, client.usage.engineCount, {}};
        std::copy(client.usage.engines, client.usage.engines + client.usage.engineCount, seen.engines);
        walk.seen.push_back(seen);
    }
    walk.walked = true;
    walk.walkedAtNs = nowNs;
}

}  // namespace tarvelon
