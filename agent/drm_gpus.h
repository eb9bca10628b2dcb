// The agent's AMD and Intel GPUs, from what their kernel drivers publish in sysfs: the
// /sys/class/drm/cardN entries bound to amdgpu, i915 or xe, in PCI bus order. Each GPU's files are
// found once and then kept open, and every pass turns what they say into the management library's
// answers, so the same translation makes their GpuRecords and /metrics series as for NVIDIA's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "agent/nvml_gpus.h"
#include "agent/pci_names.h"
#include "platform/posix/kept_file.h"
#include "telemetry/local_store.h"

namespace tarvelon {

// GPUs plugged in or bound to a driver later are looked for this often.
constexpr uint64_t kDrmLookAgainMs = 60000;

// The figures a GPU's files can give. A figure has one file: the first of its places that exists.
enum DrmFile {
    kDrmBusyPercent,
    kDrmCoreLevels,    // pp_dpm_sclk: the clock levels, the current one marked "*"
    kDrmMemoryLevels,  // pp_dpm_mclk
    kDrmCoreHz,        // hwmon, where there are no levels
    kDrmMemoryHz,
    kDrmCoreMhz,     // Intel's actual clock
    kDrmCoreMaxMhz,  // Intel's highest clock
    kDrmVramTotal,
    kDrmVramUsed,
    kDrmFanRpm,
    kDrmCoreMilliC,
    kDrmMemoryMilliC,
    kDrmHotspotMilliC,
    kDrmPowerMicrowatts,
    kDrmPowerLimitMicrowatts,
    kDrmEnergyMicrojoules,
    kDrmFileCount
};

struct DrmGpu {
    std::string address;  // the PCI address, "0000:03:00.0": identity and order
    std::string device;   // its directory in /sys/devices
    const char* driver;   // "amdgpu", "i915" or "xe"
    const char* vendor;   // "amd" or "intel"
    NvmlPciInfo pci;
    std::u16string name;
    std::string uuid;  // unique_id, where the driver gives one
    bool has[kDrmFileCount];
    KeptFile files[kDrmFileCount];
    // Power drawn, where only energy is told, comes from the energy between two passes.
    bool energyRead;
    uint64_t energyMicrojoules;
    uint64_t energyAtMs;
};

struct DrmGpus {
    std::string root;  // prefix of /sys, "" for the machine itself
    IdListPaths idLists;
    bool scanned;
    uint64_t scannedAtMs;
    std::vector<DrmGpu> gpus;              // PCI bus order
    std::string slotAddresses[kGpuSlots];  // which GPU each slot showed last
    std::string text;                      // the read buffer
};

DrmGpus makeDrmGpus(const std::string& root, const IdListPaths& idLists);

// Lists /sys/class/drm again: GPUs still there keep their open files, new ones are found (and
// logged), the ones gone are dropped.
void scanDrmGpus(DrmGpus& drm, uint64_t nowMs);

// One GPU's files as the management library's answers (a figure not told is not supported, nor one
// past what it can be); false when none of its files read any more.
bool readDrmGpu(DrmGpu& gpu, uint64_t nowMs, std::string& text, NvmlAnswers* answers);

// The GPU step after NVIDIA's, whose nvidiaCount GPUs fill the first slots: scans when due, reads
// every GPU (one whose files fail and that is no longer bound to its driver is dropped and logged;
// one still bound stays without figures), stores the whole count and fills the slots
// after NVIDIA's. answers, when given, receives what each slot's GPU told. Returns the slots
// filled in all.
int32_t sampleDrmGpus(DrmGpus& drm, uint64_t nowMs, int32_t nvidiaCount, LocalStore& store,
                      NvmlPassAnswers* answers = nullptr);

// pp_dpm_sclk's "1: 1800Mhz *" lines: the marked level and the highest; false without a marked one.
bool parseClockLevels(const std::string& text, unsigned* currentMhz, unsigned* highestMhz);

}  // namespace tarvelon
