#include "telemetry/d3dkmt_processes.h"

#include <algorithm>
#include <cstring>

#include "platform/clock.h"
#include "telemetry/d3dkmt_adapters.h"

namespace tarvelon {
namespace {

// The query's input (a segment or node id) sits after the result; everything else starts zero.
int32_t queryStatistics(const D3dkmtFunctions& functions, const D3dkmtLuid& luid, void* process,
                        uint32_t type, uint32_t id, D3dkmtQueryStatistics* query) {
    std::memset(query, 0, sizeof *query);
    query->type = type;
    query->luid = luid;
    query->process = process;
    query->queryId = id;
    return functions.queryStatistics(query);
}

}  // namespace

void openProcessTable(ProcessTable& table) {
    static uint32_t ids[kMaxOpenedProcesses];
    const int32_t count = listProcessIds(ids, kMaxOpenedProcesses);
    table.count = 0;
    table.unopened = 0;
    for (int32_t i = 0; i < count; ++i) {
        ProcessHandle* handle = openProcessForQuery(ids[i]);
        uint64_t start = 0;
        if (handle != nullptr && processStartTime(handle, &start)) {
            table.processes[table.count++] = OpenedProcess{ids[i], start, handle};
            continue;
        }
        closeProcessHandle(handle);
        ++table.unopened;
    }
}

void closeProcessTable(ProcessTable& table) {
    for (int32_t i = 0; i < table.count; ++i) closeProcessHandle(table.processes[i].handle);
    table.count = 0;
    table.unopened = 0;
}

void findGpuAdapters(const D3dkmtFunctions& functions, const GpuRecord* gpus, int32_t count,
                     D3dkmtLuid* luids, bool* found) {
    for (int32_t i = 0; i < count; ++i) found[i] = false;
    static D3dkmtAdapterInfo enumerated[kMaxEnumeratedAdapters];
    std::memset(enumerated, 0, sizeof enumerated);
    D3dkmtEnumAdapters2 enumeration{kMaxEnumeratedAdapters, enumerated};
    if (functions.enumAdapters2(&enumeration) != kNtSuccess) return;
    const int32_t adapters =
        static_cast<int32_t>(std::min<uint32_t>(enumeration.count, kMaxEnumeratedAdapters));
    for (int32_t a = 0; a < adapters; ++a) {
        D3dkmtAdapterAddress address{};
        D3dkmtQueryAdapterInfo query{enumerated[a].adapter, kKmtAdapterAddress, &address, sizeof address};
        const bool addressed = functions.queryAdapterInfo(&query) == kNtSuccess;
        // Two adapters at one address are one GPU: the first is taken, as for the tiles.
        for (int32_t i = 0; i < count && addressed; ++i) {
            if (found[i] || gpus[i].present == 0 || gpus[i].pciBus != address.bus ||
                gpus[i].pciSlot != address.device)
                continue;
            luids[i] = enumerated[a].luid;
            found[i] = true;
        }
        const D3dkmtCloseAdapter close{enumerated[a].adapter};
        functions.closeAdapter(&close);
    }
}

void sampleAdapterProcesses(const D3dkmtFunctions& functions, const D3dkmtLuid& luid,
                            const ProcessTable& table, GpuProcessSample& sample) {
    std::memset(&sample, 0, sizeof sample);
    sample.unopened = table.unopened;
    static D3dkmtQueryStatistics statistics;
    if (queryStatistics(functions, luid, nullptr, kStatisticsAdapter, 0, &statistics) != kNtSuccess) return;
    const int32_t nodeCount =
        static_cast<int32_t>(std::min<uint32_t>(statistics.result.adapter.nodeCount, kMaxProcessNodes));
    // A segment count no GPU has is refused: then no memory is counted.
    const uint32_t segmentsGiven = statistics.result.adapter.segmentCount;
    const int32_t segmentCount =
        segmentsGiven <= kMaxAdapterSegments ? static_cast<int32_t>(segmentsGiven) : 0;
    sample.taken = true;
    sample.takenAt = tickCount100ns();

    bool local[kMaxAdapterSegments] = {};
    sample.dedicatedRead = segmentCount > 0;
    for (int32_t segment = 0; segment < segmentCount; ++segment) {
        const bool read =
            queryStatistics(functions, luid, nullptr, kStatisticsSegment, segment, &statistics) == kNtSuccess;
        local[segment] = read && statistics.result.segment.aperture == 0;
        sample.dedicatedRead = sample.dedicatedRead && read;
        if (local[segment]) sample.dedicatedBytes += statistics.result.segment.bytesCommitted;
    }
    sample.nodeCount = nodeCount;
    for (int32_t node = 0; node < nodeCount; ++node) {
        sample.nodeRead[node] =
            queryStatistics(functions, luid, nullptr, kStatisticsNode, node, &statistics) == kNtSuccess;
        sample.runningTimes[node] = statistics.result.node.runningTime;
    }

    for (int32_t i = 0; i < table.count && sample.count < kMaxSampledProcesses; ++i) {
        const OpenedProcess& opened = table.processes[i];
        void* const handle = processSystemHandle(opened.handle);
        if (queryStatistics(functions, luid, handle, kStatisticsProcessAdapter, 0, &statistics) != kNtSuccess)
            continue;  // no figures on this adapter
        ProcessOnGpu& process = sample.processes[sample.count];
        process.pid = opened.pid;
        process.startTime = opened.startTime;
        process.nodeCount = nodeCount;
        bool any = false;
        for (int32_t node = 0; node < nodeCount; ++node) {
            process.nodeRead[node] = queryStatistics(functions, luid, handle, kStatisticsProcessNode, node,
                                                     &statistics) == kNtSuccess;
            process.runningTimes[node] = statistics.result.processNode.runningTime;
            any = any || (process.nodeRead[node] && process.runningTimes[node] != 0);
        }
        for (int32_t segment = 0; segment < segmentCount; ++segment) {
            if (!local[segment] || queryStatistics(functions, luid, handle, kStatisticsProcessSegment,
                                                   segment, &statistics) != kNtSuccess)
                continue;
            process.dedicatedBytes += statistics.result.processSegment.bytesCommitted;
        }
        if (!any && process.dedicatedBytes == 0) {
            process = ProcessOnGpu{};
            continue;  // a process that never ran there nor holds memory there takes no place
        }
        if (!processImageName(opened.handle, process.name)) process.name[0] = 0;
        ++sample.count;
    }
}

}  // namespace tarvelon
