#include "net/remote_processes.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "net/poll_exchange.h"
#include "net/protocol.h"
#include "net/slot_table.h"
#include "platform/clock.h"
#include "platform/fatal.h"
#include "platform/text16.h"
#include "telemetry/gpu_process_watch.h"

namespace tarvelon {
namespace {

constexpr uint32_t kAskEveryMs = 1000;

std::mutex watchLock;  // guards everything below
int32_t askedSlot = -1, askedGpu = -1;
uint64_t askedAtMs = 0;
bool answered = false;  // lists holds an answer for askedSlot and askedGpu
GpuProcessList answeredList;

// Asks while a window keeps asking; the exchange runs outside the lock, so the window never waits.
void askingThread() {
    static uint8_t buffer[kDatagramBufferBytes];
    static ProcessAnswer answer;
    uint8_t sequence = 0;
    for (;;) {
        sleepMs(kAskEveryMs);
        int32_t slot = -1, gpu = -1;
        {
            std::lock_guard<std::mutex> guard(watchLock);
            if (askedSlot < 0 || tickCountMs() >= askedAtMs + kProcessAskHoldMs) continue;
            slot = askedSlot;
            gpu = askedGpu;
        }
        ServerSlot& server = slotTable[slot];
        ResolvedAddress address;
        if (server.AnnouncesProcesses.load() == 0 || !readSlotAddress(server, &address)) continue;
        const uint32_t timeoutMs =
            server.HighLatency.load() != 0 ? kHighLatencyReceiveTimeoutMs : kReceiveTimeoutMs;
        if (!exchangeProcesses(address, ++sequence, timeoutMs, buffer, &answer)) continue;
        if (gpu >= answer.gpuCount || !answer.arrived[gpu]) continue;
        std::lock_guard<std::mutex> guard(watchLock);
        if (slot != askedSlot || gpu != askedGpu) continue;  // the window moved on meanwhile
        answeredList = answer.lists[gpu];
        answered = true;
    }
}

}  // namespace

int32_t rowsOfWireList(const GpuProcessList& list, GpuProcessRow* rows, int32_t capacity) {
    int32_t count = 0;
    for (int i = 0; i < list.count && count < capacity; ++i) {
        const WireProcess& process = list.processes[i];
        GpuProcessRow& row = rows[count++];
        row = GpuProcessRow{};
        row.unnamed = (process.flags & kProcessUnnamed) != 0;
        row.pid = process.pid;
        copyText16(row.name, kProcessNameUnits, process.name);
        row.loadPct = process.flags & kProcessLoadKnown ? process.loadPct : 0;
        row.memoryBytes = process.flags & kProcessMemoryKnown ? process.memoryBytes : 0;
    }
    return count;
}

void askRemoteProcesses(int32_t slot, int32_t gpu, uint64_t nowMs) {
    if (slot < 0 || slot >= kServerSlots || gpu < 0 || gpu >= kGpuSlots) return;
    static std::once_flag started;
    std::call_once(started, [] {
        startThreadOrFail(kSiteRemoteProcesses, [] { return std::thread(askingThread); }).detach();
    });
    std::lock_guard<std::mutex> guard(watchLock);
    if (slot != askedSlot || gpu != askedGpu) answered = false;
    askedSlot = slot;
    askedGpu = gpu;
    askedAtMs = nowMs;
}

int32_t readRemoteProcesses(int32_t slot, int32_t gpu, GpuProcessRow* rows, int32_t capacity) {
    std::lock_guard<std::mutex> guard(watchLock);
    if (!answered || slot != askedSlot || gpu != askedGpu) return -1;
    return rowsOfWireList(answeredList, rows, capacity);
}

}  // namespace tarvelon
