#include "agent/drm_gpus.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "agent/agent_log.h"
#include "platform/posix/proc_text.h"
#include "platform/text16.h"
#include "telemetry/sampler_pass.h"

namespace tarvelon {
namespace {

struct Driver {
    const char* name;
    const char* vendor;
};
constexpr Driver kDrivers[] = {{"amdgpu", "amd"}, {"i915", "intel"}, {"xe", "intel"}};

// Where each figure's file may be: below the card, the PCI device or the device's hwmon directory.
enum class Base { Card, Device, Hwmon };
struct Place {
    DrmFile file;
    Base base;
    const char* name;
};
constexpr Place kPlaces[] = {
    {kDrmBusyPercent, Base::Device, "gpu_busy_percent"},
    {kDrmCoreLevels, Base::Device, "pp_dpm_sclk"},
    {kDrmMemoryLevels, Base::Device, "pp_dpm_mclk"},
    {kDrmCoreHz, Base::Hwmon, "freq1_input"},
    {kDrmMemoryHz, Base::Hwmon, "freq2_input"},
    {kDrmCoreMhz, Base::Card, "gt_act_freq_mhz"},                // i915
    {kDrmCoreMhz, Base::Device, "tile0/gt0/freq0/act_freq"},     // xe
    {kDrmCoreMaxMhz, Base::Card, "gt_max_freq_mhz"},             // i915
    {kDrmCoreMaxMhz, Base::Device, "tile0/gt0/freq0/max_freq"},  // xe
    {kDrmVramTotal, Base::Device, "mem_info_vram_total"},
    {kDrmVramUsed, Base::Device, "mem_info_vram_used"},
    {kDrmFanRpm, Base::Hwmon, "fan1_input"},
    {kDrmPowerMicrowatts, Base::Hwmon, "power1_average"},
    {kDrmPowerMicrowatts, Base::Hwmon, "power1_input"},
    {kDrmPowerLimitMicrowatts, Base::Hwmon, "power1_cap"},
    {kDrmPowerLimitMicrowatts, Base::Hwmon, "power1_max"},
    {kDrmEnergyMicrojoules, Base::Hwmon, "energy1_input"},
};

// hwmon temperature labels: amdgpu's, then xe's.
struct Sensor {
    const char* label;
    DrmFile file;
};
constexpr Sensor kSensors[] = {{"edge", kDrmCoreMilliC},
                               {"pkg", kDrmCoreMilliC},
                               {"mem", kDrmMemoryMilliC},
                               {"vram", kDrmMemoryMilliC},
                               {"junction", kDrmHotspotMilliC}};

// What a figure can be: a value past it is a fault of the file, not a reading, and leaves the figure
// out as an unreadable file does (a cast would wrap it into a plausible small number).
constexpr uint64_t kMostPercent = 100;
constexpr uint64_t kMostFanRpm = 100000;
constexpr uint64_t kMostMicrowatts = 10000000000;  // 10 kW
constexpr uint64_t kMostMilliCelsius = 200000;
constexpr uint64_t kMostMegahertz = 100000;

bool cardName(const char* name) {
    if (std::strncmp(name, "card", 4) != 0 || name[4] == 0) return false;
    for (const char* c = name + 4; *c != 0; ++c) {
        if (*c < '0' || *c > '9') return false;
    }
    return true;
}

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool resolved(const std::string& path, std::string* real) {
    char buffer[PATH_MAX];
    if (realpath(path.c_str(), buffer) == nullptr) return false;
    *real = buffer;
    return true;
}

const Driver* boundDriver(const std::string& device) {
    char target[PATH_MAX];
    const ssize_t length = readlink((device + "/driver").c_str(), target, sizeof target - 1);
    if (length <= 0) return nullptr;
    const std::string name = baseName(std::string(target, static_cast<size_t>(length)));
    for (const Driver& driver : kDrivers) {
        if (name == driver.name) return &driver;
    }
    return nullptr;
}

// A file holding one unsigned decimal number and nothing else but white space.
bool parseWhole(const std::string& text, uint64_t* value) {
    const char* at = text.c_str();
    const char* end = at + text.size();
    if (!nextDecimal(&at, end, value)) return false;
    for (; at < end; ++at) {
        if (*at != ' ' && *at != '\n' && *at != '\t') return false;
    }
    return true;
}

bool hexFile(const std::string& path, std::string& text, unsigned* value) {
    if (!readTextFile(path, &text)) return false;
    char* end = nullptr;
    const unsigned long number = std::strtoul(text.c_str(), &end, 16);
    if (end == text.c_str()) return false;
    *value = static_cast<unsigned>(number);
    return true;
}

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

std::string firstHwmon(const std::string& device) {
    DIR* directory = opendir((device + "/hwmon").c_str());
    if (directory == nullptr) return std::string();
    std::string found;
    while (const dirent* entry = readdir(directory)) {
        if (std::strncmp(entry->d_name, "hwmon", 5) == 0) {
            found = device + "/hwmon/" + entry->d_name;
            break;
        }
    }
    closedir(directory);
    return found;
}

void keep(DrmGpu& gpu, DrmFile file, const std::string& path) {
    if (gpu.has[file] || access(path.c_str(), R_OK) != 0) return;
    gpu.files[file] = KeptFile(path);
    gpu.has[file] = true;
}

void findSensors(DrmGpu& gpu, const std::string& hwmon, std::string& text) {
    DIR* directory = opendir(hwmon.c_str());
    if (directory == nullptr) return;
    while (const dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        const size_t suffix = name.rfind("_label");
        if (name.compare(0, 4, "temp") != 0 || suffix == std::string::npos || suffix + 6 != name.size() ||
            !readTextFile(hwmon + "/" + name, &text))
            continue;
        const std::string label = firstLine(text);
        for (const Sensor& sensor : kSensors) {
            if (label == sensor.label)
                keep(gpu, sensor.file, hwmon + "/" + name.substr(0, suffix) + "_input");
        }
    }
    closedir(directory);
}

DrmGpu findGpu(const std::string& card, const std::string& device, const std::string& address,
               const Driver& driver, const IdListPaths& idLists, std::string& text) {
    DrmGpu gpu{};
    gpu.address = address;
    gpu.device = device;
    gpu.driver = driver.name;
    gpu.vendor = driver.vendor;
    unsigned domain = 0, bus = 0, slot = 0, function = 0;
    if (std::sscanf(address.c_str(), "%x:%x:%x.%x", &domain, &bus, &slot, &function) == 4) {
        gpu.pci.domain = domain;
        gpu.pci.bus = bus;
        gpu.pci.device = slot;
    }
    std::snprintf(gpu.pci.busId, sizeof gpu.pci.busId, "%s", address.c_str());
    unsigned vendor = 0, model = 0, revision = 0;
    hexFile(device + "/vendor", text, &vendor);
    hexFile(device + "/device", text, &model);
    hexFile(device + "/revision", text, &revision);
    gpu.name = fromUtf8(gpuName(idLists, vendor, model, revision));
    if (readTextFile(device + "/unique_id", &text)) gpu.uuid = firstLine(text);

    const std::string hwmon = firstHwmon(device);
    for (const Place& place : kPlaces) {
        const std::string& base = place.base == Base::Card     ? card
                                  : place.base == Base::Device ? device
                                                               : hwmon;
        if (!base.empty()) keep(gpu, place.file, base + "/" + place.name);
    }
    // The clock levels name the highest clock too; hwmon's clocks are for drivers without them.
    if (gpu.has[kDrmCoreLevels]) gpu.has[kDrmCoreHz] = false;
    if (gpu.has[kDrmMemoryLevels]) gpu.has[kDrmMemoryHz] = false;
    if (!hwmon.empty()) findSensors(gpu, hwmon, text);
    return gpu;
}

void answerClock(bool read, unsigned megahertz, NvmlReturn* status, unsigned* field) {
    if (!read) return;
    *status = kNvmlSuccess;
    *field = megahertz;
}

}  // namespace

DrmGpus makeDrmGpus(const std::string& root, const IdListPaths& idLists) {
    DrmGpus drm{};
    drm.root = root == "/" ? "" : root;
    drm.idLists = idLists;
    return drm;
}

void scanDrmGpus(DrmGpus& drm, uint64_t nowMs) {
    drm.scanned = true;
    drm.scannedAtMs = nowMs;
    const std::string classDirectory = drm.root + "/sys/class/drm";
    std::vector<DrmGpu> gpus;
    std::vector<std::string> found;  // new since the last scan, logged in bus order
    DIR* directory = opendir(classDirectory.c_str());
    while (directory != nullptr) {
        const dirent* entry = readdir(directory);
        if (entry == nullptr) break;
        if (!cardName(entry->d_name)) continue;  // connectors (card0-DP-1) and render nodes
        std::string card, device;
        const std::string entryPath = classDirectory + "/" + entry->d_name;
        if (!resolved(entryPath, &card) || !resolved(entryPath + "/device", &device)) continue;
        const Driver* driver = boundDriver(device);
        if (driver == nullptr) continue;
        const std::string address = baseName(device);
        auto known = std::find_if(drm.gpus.begin(), drm.gpus.end(),
                                  [&](const DrmGpu& gpu) { return gpu.address == address; });
        if (known != drm.gpus.end()) {
            gpus.push_back(std::move(*known));
            continue;
        }
        gpus.push_back(findGpu(card, device, address, *driver, drm.idLists, drm.text));
        found.push_back(address);
    }
    if (directory != nullptr) closedir(directory);
    std::sort(gpus.begin(), gpus.end(),
              [](const DrmGpu& a, const DrmGpu& b) { return a.address < b.address; });
    for (const DrmGpu& gpu : gpus) {
        if (std::find(found.begin(), found.end(), gpu.address) != found.end())
            logLine("GPU found: " + toUtf8(gpu.name.c_str()) + " (" + gpu.driver + ", " + gpu.address + ")");
    }
    drm.gpus = std::move(gpus);
}

bool parseClockLevels(const std::string& text, unsigned* currentMhz, unsigned* highestMhz) {
    bool marked = false;
    *highestMhz = 0;
    size_t line = 0;
    while (line < text.size()) {
        size_t lineEnd = text.find('\n', line);
        if (lineEnd == std::string::npos) lineEnd = text.size();
        const size_t colon = text.find(':', line);
        if (colon < lineEnd) {
            const char* at = text.c_str() + colon + 1;
            const char* end = text.c_str() + lineEnd;
            uint64_t megahertz = 0;
            if (nextDecimal(&at, end, &megahertz) && megahertz <= kMostMegahertz) {
                const unsigned value = static_cast<unsigned>(megahertz);
                *highestMhz = std::max(*highestMhz, value);
                if (std::find(at, end, '*') != end) {
                    *currentMhz = value;
                    marked = true;
                }
            }
        }
        line = lineEnd + 1;
    }
    return marked;
}

bool readDrmGpu(DrmGpu& gpu, uint64_t nowMs, std::string& text, NvmlAnswers* answers) {
    bool anyFile = false, anyRead = false;
    const auto readFile = [&](DrmFile file) {
        if (!gpu.has[file]) return false;
        anyFile = true;
        if (!gpu.files[file].read(&text)) return false;
        anyRead = true;
        return true;
    };
    const auto number = [&](DrmFile file, uint64_t* value, uint64_t most = UINT64_MAX) {
        return readFile(file) && parseWhole(text, value) && *value <= most;
    };

    NvmlAnswers& told = *answers;
    told = NvmlAnswers{};
    for (NvmlReturn* status :
         {&told.utilizationStatus, &told.maxGraphicsStatus, &told.graphicsStatus, &told.maxMemoryStatus,
          &told.memoryClockStatus, &told.memoryStatus, &told.fanStatus, &told.coreTemperatureStatus,
          &told.memoryTemperatureStatus, &told.hotspotTemperatureStatus, &told.powerStatus,
          &told.powerLimitStatus, &told.energyStatus, &told.throttleStatus})
        *status = kNvmlErrorNotSupported;
    told.pciStatus = kNvmlSuccess;
    told.pci = gpu.pci;
    told.name = gpu.name;

    uint64_t value = 0;
    if (number(kDrmBusyPercent, &value, kMostPercent)) {
        told.utilizationStatus = kNvmlSuccess;
        told.utilization.gpu = static_cast<uint32_t>(value);
    }
    unsigned current = 0, highest = 0;
    if (readFile(kDrmCoreLevels) && parseClockLevels(text, &current, &highest)) {
        answerClock(true, current, &told.graphicsStatus, &told.graphicsMhz);
        answerClock(true, highest, &told.maxGraphicsStatus, &told.maxGraphicsMhz);
    }
    if (readFile(kDrmMemoryLevels) && parseClockLevels(text, &current, &highest)) {
        answerClock(true, current, &told.memoryClockStatus, &told.memoryMhz);
        answerClock(true, highest, &told.maxMemoryStatus, &told.maxMemoryMhz);
    }
    if (number(kDrmCoreHz, &value, kMostMegahertz * 1000000))
        answerClock(true, value / 1000000, &told.graphicsStatus, &told.graphicsMhz);
    if (number(kDrmMemoryHz, &value, kMostMegahertz * 1000000))
        answerClock(true, value / 1000000, &told.memoryClockStatus, &told.memoryMhz);
    if (number(kDrmCoreMhz, &value, kMostMegahertz))
        answerClock(true, value, &told.graphicsStatus, &told.graphicsMhz);
    if (number(kDrmCoreMaxMhz, &value, kMostMegahertz))
        answerClock(true, value, &told.maxGraphicsStatus, &told.maxGraphicsMhz);

    uint64_t total = 0, used = 0;
    if (number(kDrmVramTotal, &total) && number(kDrmVramUsed, &used)) {
        told.memoryStatus = kNvmlSuccess;
        told.memory.total = total;
        told.memory.used = used;
        told.memory.free = total > used ? total - used : 0;
    }
    if (number(kDrmFanRpm, &value, kMostFanRpm)) {
        told.fanStatus = kNvmlSuccess;
        told.fanRpm = static_cast<unsigned>(value);
    }
    const struct {
        DrmFile file;
        NvmlReturn* status;
        unsigned* celsius;
    } temperatures[] = {{kDrmCoreMilliC, &told.coreTemperatureStatus, &told.coreTemperatureC},
                        {kDrmMemoryMilliC, &told.memoryTemperatureStatus, &told.memoryTemperatureC},
                        {kDrmHotspotMilliC, &told.hotspotTemperatureStatus, &told.hotspotTemperatureC}};
    for (const auto& temperature : temperatures) {
        if (!number(temperature.file, &value, kMostMilliCelsius)) continue;
        *temperature.status = kNvmlSuccess;
        *temperature.celsius = static_cast<unsigned>(value / 1000);
    }
    if (number(kDrmPowerLimitMicrowatts, &value, kMostMicrowatts)) {
        told.powerLimitStatus = kNvmlSuccess;
        told.powerLimitMilliwatts = static_cast<unsigned>(value / 1000);
    }
    if (number(kDrmPowerMicrowatts, &value, kMostMicrowatts)) {
        told.powerStatus = kNvmlSuccess;
        told.powerMilliwatts = static_cast<unsigned>(value / 1000);
    }
    if (number(kDrmEnergyMicrojoules, &value)) {
        told.energyStatus = kNvmlSuccess;
        told.energyMillijoules = value / 1000;
        // Microjoules over milliseconds are milliwatts. A counter that went back started again.
        const uint64_t milliwatts = gpu.energyRead && nowMs > gpu.energyAtMs && value >= gpu.energyMicrojoules
                                        ? (value - gpu.energyMicrojoules) / (nowMs - gpu.energyAtMs)
                                        : UINT64_MAX;
        if (told.powerStatus != kNvmlSuccess && milliwatts <= kMostMicrowatts / 1000) {
            told.powerStatus = kNvmlSuccess;
            told.powerMilliwatts = static_cast<unsigned>(milliwatts);
        }
        gpu.energyRead = true;
        gpu.energyMicrojoules = value;
        gpu.energyAtMs = nowMs;
    } else {
        gpu.energyRead = false;
    }
    return !anyFile || anyRead;
}

int32_t sampleDrmGpus(DrmGpus& drm, uint64_t nowMs, int32_t nvidiaCount, LocalStore& store,
                      NvmlPassAnswers* answers) {
    if (!drm.scanned || nowMs - drm.scannedAtMs >= kDrmLookAgainMs) scanDrmGpus(drm, nowMs);
    std::vector<NvmlAnswers> told(drm.gpus.size());
    size_t kept = 0;
    for (size_t index = 0; index < drm.gpus.size(); ++index) {
        DrmGpu& gpu = drm.gpus[index];
        // A GPU still bound to its driver whose files fail stays, without figures, rather than being
        // lost now and found again at the next look.
        if (!readDrmGpu(gpu, nowMs, drm.text, &told[kept]) && boundDriver(gpu.device) == nullptr) {
            logLine("GPU gone: " + toUtf8(gpu.name.c_str()) + " (" + gpu.address +
                    "), unplugged or its driver unloaded");
            continue;
        }
        if (kept != index) drm.gpus[kept] = std::move(gpu);
        ++kept;
    }
    drm.gpus.resize(kept);

    const int32_t total = nvidiaCount + static_cast<int32_t>(kept);
    if (total == 0) {
        store.host.gpuCount = 0;
        for (GpuRecord& gpu : store.gpus) gpu.present = 0;
        return 0;
    }
    const int32_t slots = prepareGpuSlots(store, total);
    const int32_t first = std::min(nvidiaCount, kGpuSlots);
    for (int32_t slot = 0; slot < first; ++slot) drm.slotAddresses[slot].clear();
    for (int32_t slot = first; slot < slots; ++slot) {
        const DrmGpu& gpu = drm.gpus[slot - first];
        const NvmlAnswers& answered = told[slot - first];
        GpuRecord& record = store.gpus[slot];
        // Clocks not told keep their last value; another GPU's must not show in this one's slot.
        if (drm.slotAddresses[slot] != gpu.address) {
            record = GpuRecord{};
            drm.slotAddresses[slot] = gpu.address;
        }
        GpuPassReadings pass;
        translateNvmlAnswers(answered, &pass);
        fillGpuRecord(record, pass.readings);
        if (answers != nullptr) {
            answers->gpus[slot] = answered;
            answers->uuids[slot] = gpu.uuid;
            answers->vendors[slot] = gpu.vendor;
        }
    }
    return slots;
}

}  // namespace tarvelon
