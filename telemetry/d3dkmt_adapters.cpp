#include "telemetry/d3dkmt_adapters.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/clock.h"

namespace tarvelon {
namespace {

constexpr uint32_t kMaxPciBus = 255;
constexpr uint32_t kMaxPciDevice = 31;
constexpr uint32_t kMaxPciFunction = 7;

std::atomic<bool> rescanRequested{false};

int32_t queryInfo(const D3dkmtFunctions& functions, D3dkmtHandle adapter, uint32_t type, void* answer,
                  uint32_t size) {
    D3dkmtQueryAdapterInfo query{adapter, type, answer, size};
    return functions.queryAdapterInfo(&query);
}

// The query's input (a segment or node id) sits after the result; everything else starts zero.
int32_t queryStatistics(const D3dkmtFunctions& functions, const D3dkmtLuid& luid, uint32_t type, uint32_t id,
                        D3dkmtQueryStatistics* query) {
    std::memset(query, 0, sizeof *query);
    query->type = type;
    query->luid = luid;
    query->queryId = id;
    return functions.queryStatistics(query);
}

void closeHandle(const D3dkmtFunctions& functions, D3dkmtHandle adapter) {
    const D3dkmtCloseAdapter close{adapter};
    functions.closeAdapter(&close);
}

bool sameLuid(const D3dkmtLuid& a, const D3dkmtLuid& b) {
    return a.lowPart == b.lowPart && a.highPart == b.highPart;
}

bool pciBefore(const D3dkmtAdapterAddress& a, const D3dkmtAdapterAddress& b) {
    if (a.bus != b.bus) return a.bus < b.bus;
    if (a.device != b.device) return a.device < b.device;
    return a.function < b.function;
}

bool samePci(const D3dkmtAdapterAddress& a, const D3dkmtAdapterAddress& b) {
    return a.bus == b.bus && a.device == b.device && a.function == b.function;
}

AdapterFacts adapterFacts(const D3dkmtFunctions& functions, D3dkmtHandle adapter) {
    AdapterFacts facts{};
    facts.typeRead =
        queryInfo(functions, adapter, kKmtAdapterType, &facts.type, sizeof facts.type) == kNtSuccess;
    D3dkmtQueryDeviceIds ids{};  // physical adapter 0
    facts.idsRead =
        queryInfo(functions, adapter, kKmtPhysicalAdapterDeviceIds, &ids, sizeof ids) == kNtSuccess;
    facts.vendorId = ids.vendorId;
    facts.addressRead =
        queryInfo(functions, adapter, kKmtAdapterAddress, &facts.address, sizeof facts.address) == kNtSuccess;
    return facts;
}

// What a scan keeps of a tile: its name, its counts and its 3D engine. A count no GPU has is refused.
void learnAdapter(const D3dkmtFunctions& functions, D3dkmtAdapter& adapter) {
    static D3dkmtAdapterRegistryInfo registry;
    std::memset(&registry, 0, sizeof registry);
    if (queryInfo(functions, adapter.handle, kKmtAdapterRegistryInfo, &registry, sizeof registry) ==
        kNtSuccess) {
        std::memcpy(adapter.name, registry.adapterString, sizeof adapter.name);
    }
    adapter.nodeCount = -1;
    adapter.segmentCount = -1;
    adapter.node3d = -1;
    D3dkmtQueryStatistics statistics;
    if (queryStatistics(functions, adapter.luid, kStatisticsAdapter, 0, &statistics) != kNtSuccess) return;
    const D3dkmtAdapterStatistics& counts = statistics.result.adapter;
    if (counts.segmentCount <= kMaxAdapterSegments)
        adapter.segmentCount = static_cast<int32_t>(counts.segmentCount);
    if (counts.nodeCount > kMaxAdapterNodes) return;
    adapter.nodeCount = static_cast<int32_t>(counts.nodeCount);
    for (int32_t node = 0; node < adapter.nodeCount; ++node) {
        D3dkmtNodeMetadata metadata{};
        metadata.nodeOrdinalAndAdapterIndex = static_cast<uint32_t>(node);  // adapter index 0 above
        if (queryInfo(functions, adapter.handle, kKmtNodeMetadata, &metadata, sizeof metadata) ==
                kNtSuccess &&
            metadata.engineType == kEngine3d) {
            adapter.node3d = node;
            return;
        }
    }
}

// Enumerates afresh and replaces the list: the new handles of the tiles are kept, every other handle
// (the enumeration's others, the list's old ones) is closed. An adapter still present keeps its
// last running times and clocks.
void scan(const D3dkmtFunctions& functions, D3dkmtAdapters& list, const PciPlace* shown, int32_t shownCount,
          uint64_t nowMs) {
    static D3dkmtAdapterInfo enumerated[kMaxEnumeratedAdapters];
    static D3dkmtAdapters fresh;
    std::memset(enumerated, 0, sizeof enumerated);  // entries a driver counts but does not fill stay invalid
    D3dkmtEnumAdapters2 enumeration{kMaxEnumeratedAdapters, enumerated};
    int32_t count = 0;
    if (functions.enumAdapters2(&enumeration) == kNtSuccess) {
        count = static_cast<int32_t>(std::min<uint32_t>(enumeration.count, kMaxEnumeratedAdapters));
    }

    struct Candidate {
        int32_t index;
        D3dkmtAdapterAddress address;
    };
    Candidate candidates[kMaxEnumeratedAdapters];
    int32_t candidateCount = 0;
    for (int32_t i = 0; i < count; ++i) {
        const AdapterFacts facts = adapterFacts(functions, enumerated[i].adapter);
        bool taken = false;  // two adapters at one address are one GPU: the first is shown
        for (int32_t c = 0; c < candidateCount; ++c)
            taken = taken || samePci(candidates[c].address, facts.address);
        if (adapterBecomesTile(facts, shown, shownCount) && !taken) {
            candidates[candidateCount++] = Candidate{i, facts.address};
        } else {
            closeHandle(functions, enumerated[i].adapter);
        }
    }
    std::sort(candidates, candidates + candidateCount,
              [](const Candidate& a, const Candidate& b) { return pciBefore(a.address, b.address); });

    std::memset(&fresh, 0, sizeof fresh);
    for (int32_t c = 0; c < candidateCount; ++c) {
        const D3dkmtAdapterInfo& info = enumerated[candidates[c].index];
        if (c >= kGpuSlots) {
            closeHandle(functions, info.adapter);
            continue;
        }
        D3dkmtAdapter& adapter = fresh.adapters[fresh.count++];
        adapter.handle = info.adapter;
        adapter.luid = info.luid;
        adapter.address = candidates[c].address;
        learnAdapter(functions, adapter);
        for (int32_t old = 0; old < list.count; ++old) {
            const D3dkmtAdapter& before = list.adapters[old];
            if (!sameLuid(before.luid, adapter.luid) || before.nodeCount != adapter.nodeCount) continue;
            std::memcpy(adapter.runningRead, before.runningRead, sizeof adapter.runningRead);
            std::memcpy(adapter.runningTimes, before.runningTimes, sizeof adapter.runningTimes);
            std::memcpy(adapter.runningReadAt, before.runningReadAt, sizeof adapter.runningReadAt);
            adapter.kept = before.kept;
        }
    }
    for (int32_t old = 0; old < list.count; ++old) closeHandle(functions, list.adapters[old].handle);
    fresh.scanned = true;
    fresh.scannedAtMs = nowMs;
    list = fresh;
}

// Reads one adapter for a pass. False when a query answered that the adapter was removed.
bool readAdapter(const D3dkmtFunctions& functions, const D3dkmtAdapter& adapter, D3dkmtReadings& readings) {
    bool removed = false;
    const auto answered = [&removed](int32_t status) {
        removed = removed || status == kNtDeviceRemoved;
        return status == kNtSuccess;
    };
    readings.name = adapter.name;
    readings.nameUnits = kRegistryTextUnits;
    readings.address = adapter.address;

    D3dkmtQueryStatistics statistics;
    readings.nodeCount = adapter.nodeCount < 0 ? 0 : adapter.nodeCount;
    for (int32_t node = 0; node < readings.nodeCount; ++node) {
        NodeRunningTime& running = readings.nodes[node];
        // Each node's time is the middle of its own query, so that a pause between queries (another
        // thread, another process) does not count against any engine.
        const uint64_t before = tickCount100ns();
        running.read = answered(queryStatistics(functions, adapter.luid, kStatisticsNode, node, &statistics));
        running.readAt = before + (tickCount100ns() - before) / 2;
        running.runningTime = statistics.result.node.runningTime;
        running.previousRead = adapter.runningRead[node];
        running.previousRunningTime = adapter.runningTimes[node];
        running.previousReadAt = adapter.runningReadAt[node];
    }

    readings.segmentSizeRead = answered(queryInfo(functions, adapter.handle, kKmtGetSegmentSize,
                                                  &readings.segmentSize, sizeof readings.segmentSize));
    readings.segmentCount = adapter.segmentCount;
    for (int32_t segment = 0; segment < adapter.segmentCount; ++segment) {
        SegmentReading& reading = readings.segments[segment];
        reading.read =
            answered(queryStatistics(functions, adapter.luid, kStatisticsSegment, segment, &statistics));
        reading.aperture = statistics.result.segment.aperture != 0;
        reading.bytesResident = statistics.result.segment.bytesResident;
    }

    if (adapter.node3d >= 0) {
        readings.nodePerf.nodeOrdinal = static_cast<uint32_t>(adapter.node3d);  // physical adapter 0
        readings.nodePerfRead = answered(queryInfo(functions, adapter.handle, kKmtNodePerfData,
                                                   &readings.nodePerf, sizeof readings.nodePerf));
    }
    readings.adapterPerfRead = answered(queryInfo(functions, adapter.handle, kKmtAdapterPerfData,
                                                  &readings.adapterPerf, sizeof readings.adapterPerf));
    return !removed;
}

// The running times of a pass become the baselines of the next, where they may.
void keepRunningTimes(D3dkmtAdapter& adapter, const D3dkmtReadings& readings) {
    for (int32_t node = 0; node < readings.nodeCount; ++node) {
        const NodeRunningTime& running = readings.nodes[node];
        if (!startsNewBaseline(running)) continue;
        adapter.runningRead[node] = running.read;
        adapter.runningTimes[node] = running.runningTime;
        adapter.runningReadAt[node] = running.readAt;
    }
}

}  // namespace

bool adapterBecomesTile(const AdapterFacts& facts, const PciPlace* shown, int32_t shownCount) {
    if (facts.typeRead && (facts.type & kAdapterTypeSoftwareDevice) != 0) return false;
    if (facts.idsRead && facts.vendorId == kVendorMicrosoft) return false;
    if (!facts.addressRead) return false;
    const D3dkmtAdapterAddress& address = facts.address;
    if (address.bus > kMaxPciBus || address.device > kMaxPciDevice || address.function > kMaxPciFunction)
        return false;
    for (int32_t i = 0; i < shownCount; ++i) {
        if (shown[i].bus == address.bus && shown[i].device == address.device) return false;
    }
    return true;
}

void requestD3dkmtRescan() {
    rescanRequested.store(true, std::memory_order_relaxed);
}

int32_t sampleD3dkmtAdapters(const D3dkmtFunctions* functions, D3dkmtAdapters& list, const GpuRecord* nvidia,
                             int32_t nvidiaCount, GpuRecord* records, uint64_t nowMs) {
    if (functions == nullptr) return 0;
    PciPlace shown[kGpuSlots];
    int32_t shownCount = 0;
    for (int32_t i = 0; i < nvidiaCount && i < kGpuSlots; ++i) {
        if (nvidia[i].present != 0) shown[shownCount++] = PciPlace{nvidia[i].pciBus, nvidia[i].pciSlot};
    }
    bool due = rescanRequested.exchange(false, std::memory_order_relaxed) || !list.scanned ||
               nowMs - list.scannedAtMs >= kRescanPeriodMs;

    static D3dkmtReadings readings[kGpuSlots];
    bool answered[kGpuSlots];
    // A removed adapter makes an immediate rescan; one that still answers so after it leaves the list.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (due) scan(*functions, list, shown, shownCount, nowMs);
        bool removed = false;
        for (int32_t i = 0; i < list.count; ++i) {
            std::memset(&readings[i], 0, sizeof readings[i]);
            answered[i] = readAdapter(*functions, list.adapters[i], readings[i]);
            removed = removed || !answered[i];
        }
        if (!removed || attempt == 1) break;
        due = true;
    }

    int32_t kept = 0;
    for (int32_t i = 0; i < list.count; ++i) {
        if (!answered[i]) {
            closeHandle(*functions, list.adapters[i].handle);
            continue;
        }
        if (kept != i) {
            list.adapters[kept] = list.adapters[i];
            readings[kept] = readings[i];
        }
        D3dkmtAdapter& adapter = list.adapters[kept];
        fillD3dkmtRecord(records[kept], readings[kept], adapter.kept);
        keepRunningTimes(adapter, readings[kept]);
        ++kept;
    }
    list.count = kept;
    return kept;
}

void closeD3dkmtAdapters(const D3dkmtFunctions& functions, D3dkmtAdapters& list) {
    for (int32_t i = 0; i < list.count; ++i) closeHandle(functions, list.adapters[i].handle);
    std::memset(&list, 0, sizeof list);
}

}  // namespace tarvelon
