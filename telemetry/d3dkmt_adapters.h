// The GPUs Windows knows beside those of the NVIDIA driver library: which adapters of the kernel-thunk
// enumeration become tiles and in what order, the handles they hold between rescans, and one pass's
// reading of each into its GpuRecord. The adapter list is scanned anew once a minute, when Windows
// reports a display or device change, and at once when an adapter answers that it was removed.
#pragma once

#include <cstdint>

#include "telemetry/d3dkmt_access.h"
#include "telemetry/d3dkmt_figures.h"
#include "telemetry/records.h"

namespace tarvelon {

constexpr int kMaxEnumeratedAdapters = 64;  // capacity of one enumeration
constexpr uint64_t kRescanPeriodMs = 60'000;

// What a scan learns of one enumerated adapter. A query that failed leaves its flag false.
struct AdapterFacts {
    bool typeRead;
    uint32_t type;  // D3DKMT_ADAPTERTYPE bits
    bool idsRead;
    uint32_t vendorId;
    bool addressRead;
    D3dkmtAdapterAddress address;
};

// A PCI bus and device already shown by a GPU of the NVIDIA driver library.
struct PciPlace {
    uint32_t bus;
    uint32_t device;
};

// Software adapters (the Basic Render Driver among them), adapters without a PCI address (indirect
// and remote displays) and the NVIDIA library's own GPUs do not become tiles.
bool adapterBecomesTile(const AdapterFacts& facts, const PciPlace* shown, int32_t shownCount);

// One adapter that is a tile: its handle from the last scan, what the scan learnt, and what the
// passes carry from one to the next.
struct D3dkmtAdapter {
    D3dkmtHandle handle;
    D3dkmtLuid luid;
    D3dkmtAdapterAddress address;
    char16_t name[kRegistryTextUnits];   // as the driver gave it; empty when it did not
    int32_t nodeCount;                   // -1: not given, or more than kMaxAdapterNodes
    int32_t segmentCount;                // -1: likewise, kMaxAdapterSegments
    int32_t node3d;                      // the 3D engine's ordinal, -1 when none is known
    bool runningRead[kMaxAdapterNodes];  // each node's load baseline
    int64_t runningTimes[kMaxAdapterNodes];
    uint64_t runningReadAt[kMaxAdapterNodes];
    KeptClocks kept;
};

// The tiles in order of PCI bus, device and function, at most one slot's worth.
struct D3dkmtAdapters {
    int32_t count;
    D3dkmtAdapter adapters[kGpuSlots];
    bool scanned;
    uint64_t scannedAtMs;
};

// Asks for a rescan at the next pass. Called from the window's thread on a display or device change.
void requestD3dkmtRescan();

// One pass: rescans when due (the NVIDIA library's GPUs in nvidia, its present slots), reads every
// adapter and fills records 0 … count-1. Returns the number of adapters, 0 without the functions.
int32_t sampleD3dkmtAdapters(const D3dkmtFunctions* functions, D3dkmtAdapters& list, const GpuRecord* nvidia,
                             int32_t nvidiaCount, GpuRecord* records, uint64_t nowMs);

// Closes every handle the list holds and empties it.
void closeD3dkmtAdapters(const D3dkmtFunctions& functions, D3dkmtAdapters& list);

}  // namespace tarvelon
