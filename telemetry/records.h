// The two fixed-layout records that carry every measured value. They travel between machines
// byte for byte, so every offset, width and padding byte below is part of the wire format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace tarvelon {

constexpr int kRecordTextUnits = 40;  // 39 characters and a terminating 0 unit
constexpr int kGpuSlots = 16;

struct HostRecord {
    uint8_t changed;
    uint8_t pad1;
    char16_t hostName[kRecordTextUnits];
    uint16_t cpuCount;
    uint8_t cpuLoad;
    uint8_t pad2;
    uint16_t cpuMhz;
    uint8_t cpuMaxFreqPct;
    uint8_t pad3;
    uint16_t processCount;
    uint16_t threadCount;
    uint8_t pad4[2];
    uint32_t physTotalMb;
    uint32_t physFreeMb;
    uint8_t physUsedPct;
    uint8_t pad5[3];
    uint32_t pageTotalMb;
    uint32_t pageFreeMb;
    uint8_t pageUsedPct;
    uint8_t pad6;
    uint16_t netIoMbit;
    uint8_t gpuCount;
    uint8_t pad7[3];
};

struct GpuRecord {
    uint8_t changed;
    uint8_t present;
    uint8_t pciBus;
    uint8_t pciSlot;
    uint8_t filled;
    uint8_t pad1;
    char16_t gpuName[kRecordTextUnits];
    uint8_t gpuLoad;
    uint8_t pad2;
    uint16_t coreBoostMhz;
    uint16_t coreMhz;
    uint8_t coreClockPct;
    uint8_t pad3;
    uint16_t memBoostMhz;
    uint16_t memMhz;
    uint8_t memClockPct;
    uint8_t pad4;
    uint16_t memTotalMb;
    uint16_t memFreeMb;
    uint8_t memUsedPct;
    uint8_t fanRpmDiv32;
    uint8_t coreTempC;
    uint8_t memTempC;
};

static_assert(sizeof(char16_t) == 2);
static_assert(sizeof(HostRecord) == 124);
static_assert(offsetof(HostRecord, changed) == 0);
static_assert(offsetof(HostRecord, hostName) == 2);
static_assert(offsetof(HostRecord, cpuCount) == 82);
static_assert(offsetof(HostRecord, cpuLoad) == 84);
static_assert(offsetof(HostRecord, cpuMhz) == 86);
static_assert(offsetof(HostRecord, cpuMaxFreqPct) == 88);
static_assert(offsetof(HostRecord, processCount) == 90);
static_assert(offsetof(HostRecord, threadCount) == 92);
static_assert(offsetof(HostRecord, physTotalMb) == 96);
static_assert(offsetof(HostRecord, physFreeMb) == 100);
static_assert(offsetof(HostRecord, physUsedPct) == 104);
static_assert(offsetof(HostRecord, pageTotalMb) == 108);
static_assert(offsetof(HostRecord, pageFreeMb) == 112);
static_assert(offsetof(HostRecord, pageUsedPct) == 116);
static_assert(offsetof(HostRecord, netIoMbit) == 118);
static_assert(offsetof(HostRecord, gpuCount) == 120);

static_assert(sizeof(GpuRecord) == 108);
static_assert(offsetof(GpuRecord, changed) == 0);
static_assert(offsetof(GpuRecord, present) == 1);
static_assert(offsetof(GpuRecord, pciBus) == 2);
static_assert(offsetof(GpuRecord, pciSlot) == 3);
static_assert(offsetof(GpuRecord, filled) == 4);
static_assert(offsetof(GpuRecord, gpuName) == 6);
static_assert(offsetof(GpuRecord, gpuLoad) == 86);
static_assert(offsetof(GpuRecord, coreBoostMhz) == 88);
static_assert(offsetof(GpuRecord, coreMhz) == 90);
static_assert(offsetof(GpuRecord, coreClockPct) == 92);
static_assert(offsetof(GpuRecord, memBoostMhz) == 94);
static_assert(offsetof(GpuRecord, memMhz) == 96);
static_assert(offsetof(GpuRecord, memClockPct) == 98);
static_assert(offsetof(GpuRecord, memTotalMb) == 100);
static_assert(offsetof(GpuRecord, memFreeMb) == 102);
static_assert(offsetof(GpuRecord, memUsedPct) == 104);
static_assert(offsetof(GpuRecord, fanRpmDiv32) == 105);
static_assert(offsetof(GpuRecord, coreTempC) == 106);
static_assert(offsetof(GpuRecord, memTempC) == 107);

// Records are copied as whole blocks and must stay plain bytes.
static_assert(std::is_trivially_copyable_v<HostRecord> && std::is_standard_layout_v<HostRecord>);
static_assert(std::is_trivially_copyable_v<GpuRecord> && std::is_standard_layout_v<GpuRecord>);

}  // namespace tarvelon
