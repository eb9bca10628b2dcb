#include "net/local_processes.h"

#include "platform/clock.h"
#include "platform/text16.h"
#include "telemetry/gpu_process_watch.h"

namespace tarvelon {

GpuProcessList wireListOfRows(const GpuRecord& gpu, const GpuProcessRow* rows, int32_t count) {
    GpuProcessList list{};
    list.pciBus = gpu.pciBus;
    list.pciSlot = gpu.pciSlot;
    if (count <= 0) return list;  // not read yet: the next question, a pass later, finds the rows
    list.total = static_cast<uint16_t>(count > UINT16_MAX ? UINT16_MAX : count);
    list.count = count < kMostWireProcesses ? count : kMostWireProcesses;
    for (int i = 0; i < list.count; ++i) {
        const GpuProcessRow& row = rows[i];
        WireProcess& process = list.processes[i];
        process.pid = row.unnamed ? 0 : row.pid;
        process.flags = kProcessLoadKnown | kProcessMemoryKnown | (row.unnamed ? kProcessUnnamed : 0);
        process.loadPct = static_cast<uint8_t>(row.loadPct < 0 ? 0 : row.loadPct > 100 ? 100 : row.loadPct);
        process.memoryBytes = row.memoryBytes;
        cleanProcessName(row.unnamed ? u"" : row.name, kProcessNameUnits, process.name);
    }
    return list;
}

int localProcessLists(GpuProcessList (&lists)[kGpuSlots]) {
    static thread_local GpuProcessRow rows[kMaxProcessRows];
    const LocalStore local = readLocalStore();
    const uint64_t now = tickCountMs();
    int count = 0;
    for (int slot = 0; slot < kGpuSlots; ++slot) {
        if (local.gpus[slot].present == 0) continue;
        askGpuProcesses(slot, now);
        lists[count++] =
            wireListOfRows(local.gpus[slot], rows, readGpuProcesses(slot, rows, kMaxProcessRows));
    }
    return count;
}

}  // namespace tarvelon
