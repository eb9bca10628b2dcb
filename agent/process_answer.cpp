#include "agent/process_answer.h"

#include <algorithm>
#include <cmath>

#include "platform/text16.h"

namespace tarvelon {
namespace {

WireProcess wireProcessOf(const GpuProcess& process) {
    WireProcess wire{};
    wire.pid = process.pid;
    if (process.busyRead) {
        wire.flags |= kProcessLoadKnown;
        wire.loadPct = static_cast<uint8_t>(std::lround(std::clamp(process.busyRatio, 0.0, 1.0) * 100));
    }
    if (process.memoryRead) {
        wire.flags |= kProcessMemoryKnown;
        wire.memoryBytes = process.memoryBytes;
    }
    const std::u16string name = fromUtf8(process.command);
    cleanProcessName(name.c_str(), name.size() + 1, wire.name);
    return wire;
}

// The busiest first, a share not yet measured after any measured one, then the largest.
bool listedBefore(const WireProcess& a, const WireProcess& b) {
    const int loadA = a.flags & kProcessLoadKnown ? a.loadPct : -1;
    const int loadB = b.flags & kProcessLoadKnown ? b.loadPct : -1;
    if (loadA != loadB) return loadA > loadB;
    if (a.memoryBytes != b.memoryBytes) return a.memoryBytes > b.memoryBytes;
    return a.pid < b.pid;
}

}  // namespace

int processAnswerLists(const std::vector<GpuProcess>& processes, const uint16_t (&totals)[kGpuSlots],
                       const LocalStore& store, GpuProcessList (&lists)[kGpuSlots]) {
    int count = 0;
    std::vector<WireProcess> found;
    for (int slot = 0; slot < kGpuSlots; ++slot) {
        if (store.gpus[slot].present == 0) continue;
        found.clear();
        for (const GpuProcess& process : processes) {
            if (process.slot == slot) found.push_back(wireProcessOf(process));
        }
        std::sort(found.begin(), found.end(), listedBefore);
        GpuProcessList& list = lists[count++];
        list = GpuProcessList{};
        list.pciBus = store.gpus[slot].pciBus;
        list.pciSlot = store.gpus[slot].pciSlot;
        list.count = static_cast<int32_t>(std::min<size_t>(found.size(), kMostWireProcesses));
        std::copy(found.begin(), found.begin() + list.count, list.processes);
        list.total = std::max<uint16_t>(totals[slot], static_cast<uint16_t>(found.size()));
    }
    return count;
}

}  // namespace tarvelon
