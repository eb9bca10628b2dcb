#include "agent/gpu_processes.h"

#include <algorithm>
#include <cstring>

#include "platform/posix/proc_text.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

constexpr char kEnginePrefix[] = "drm-engine-";
constexpr char kCapacityPrefix[] = "drm-engine-capacity-";
// Memory keys, the most telling first: amdgpu's, then xe's and i915's resident local memory.
constexpr const char* kMemoryKeys[] = {"drm-memory-vram", "drm-resident-vram0", "drm-resident-local0"};

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// "123", "123 ns", "4 KiB": the number, then only the unit expected or none where allowed.
bool numberWithUnit(const char* at, const char* end, const char* const* units, size_t unitCount,
                    uint64_t* value, size_t* unit) {
    while (at < end && (*at == ' ' || *at == '\t')) ++at;  // the kernel writes a tab after the colon
    if (!nextDecimal(&at, end, value)) return false;
    while (at < end && (*at == ' ' || *at == '\t')) ++at;
    while (end > at && (end[-1] == ' ' || end[-1] == '\t')) --end;
    const std::string rest(at, end);
    for (size_t i = 0; i < unitCount; ++i) {
        if (rest == units[i]) {
            *unit = i;
            return true;
        }
    }
    return false;
}

DrmEngineTime* engineNamed(DrmClientUsage* usage, const std::string& name) {
    if (name.empty() || name.size() >= kDrmEngineNameBytes) return nullptr;
    for (int i = 0; i < usage->engineCount; ++i) {
        if (name == usage->engines[i].name) return &usage->engines[i];
    }
    if (usage->engineCount == kMostDrmEngines) return nullptr;
    DrmEngineTime& engine = usage->engines[usage->engineCount++];
    engine = DrmEngineTime{};
    std::memcpy(engine.name, name.c_str(), name.size() + 1);
    engine.capacity = 1;
    return &engine;
}

}  // namespace

bool parseDrmFdinfo(const std::string& text, DrmClientUsage* usage) {
    *usage = DrmClientUsage{};
    int memoryRank = static_cast<int>(std::size(kMemoryKeys));
    size_t line = 0;
    while (line < text.size()) {
        size_t lineEnd = text.find('\n', line);
        if (lineEnd == std::string::npos) lineEnd = text.size();
        const size_t colon = text.find(':', line);
        if (colon < lineEnd) {
            const std::string key = text.substr(line, colon - line);
            const char* at = text.c_str() + colon + 1;
            const char* end = text.c_str() + lineEnd;
            uint64_t value = 0;
            size_t unit = 0;
            static const char* const kNoUnit[] = {""};
            static const char* const kNanoseconds[] = {"ns"};
            static const char* const kSizes[] = {"", "KiB", "MiB"};
            if (key == "drm-pdev") {
                while (at < end && (*at == ' ' || *at == '\t')) ++at;
                while (end > at && (end[-1] == ' ' || end[-1] == '\t')) --end;
                usage->pdev.assign(at, end);
            } else if (key == "drm-client-id") {
                usage->clientIdRead = numberWithUnit(at, end, kNoUnit, 1, &usage->clientId, &unit);
            } else if (startsWith(key, kCapacityPrefix)) {
                DrmEngineTime* engine =
                    numberWithUnit(at, end, kNoUnit, 1, &value, &unit) && value > 0 && value <= 64
                        ? engineNamed(usage, key.substr(std::strlen(kCapacityPrefix)))
                        : nullptr;
                if (engine != nullptr) engine->capacity = static_cast<uint32_t>(value);
            } else if (startsWith(key, kEnginePrefix)) {
                DrmEngineTime* engine = numberWithUnit(at, end, kNanoseconds, 1, &value, &unit)
                                            ? engineNamed(usage, key.substr(std::strlen(kEnginePrefix)))
                                            : nullptr;
                if (engine != nullptr) engine->busyNs = value;
            } else {
                for (int rank = 0; rank < memoryRank; ++rank) {
                    if (key != kMemoryKeys[rank] || !numberWithUnit(at, end, kSizes, 3, &value, &unit))
                        continue;
                    const uint64_t scale = unit == 0 ? 1 : unit == 1 ? 1024 : 1024 * 1024;
                    if (value > UINT64_MAX / scale) break;
                    usage->memoryRead = true;
                    usage->memoryBytes = value * scale;
                    memoryRank = rank;
                    break;
                }
            }
        }
        line = lineEnd + 1;
    }
    return !usage->pdev.empty() && usage->clientIdRead;
}

bool engineBusyShare(uint64_t beforeNs, uint64_t afterNs, uint64_t wallNs, uint32_t capacity, double* share) {
    if (wallNs == 0 || capacity == 0 || afterNs < beforeNs) return false;
    const double busy = static_cast<double>(afterNs - beforeNs) / (static_cast<double>(wallNs) * capacity);
    // Counters and the clock are read at slightly different moments.
    *share = std::min(busy, 1.0);
    return true;
}

void keepTopProcesses(std::vector<GpuProcess>& processes) {
    std::sort(processes.begin(), processes.end(), [](const GpuProcess& a, const GpuProcess& b) {
        if (a.slot != b.slot) return a.slot < b.slot;
        const uint64_t memoryA = a.memoryRead ? a.memoryBytes : 0, memoryB = b.memoryRead ? b.memoryBytes : 0;
        if (memoryA != memoryB) return memoryA > memoryB;
        const double busyA = a.busyRead ? a.busyRatio : 0, busyB = b.busyRead ? b.busyRatio : 0;
        if (busyA != busyB) return busyA > busyB;
        return a.pid < b.pid;
    });
    size_t kept = 0, inSlot = 0;
    for (size_t i = 0; i < processes.size(); ++i) {
        inSlot = i > 0 && processes[i].slot == processes[i - 1].slot ? inSlot + 1 : 0;
        if (inSlot >= kMostProcessesPerGpu) continue;
        if (kept != i) processes[kept] = std::move(processes[i]);
        ++kept;
    }
    processes.resize(kept);
}

std::string commandName(const std::string& comm) {
    return toUtf8(fromUtf8(comm.substr(0, comm.find('\n'))).c_str());
}

}  // namespace tarvelon
