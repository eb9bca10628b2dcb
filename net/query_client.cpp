#include "net/query_client.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <random>
#include <thread>

#include "net/name_resolution.h"
#include "net/poll_exchange.h"
#include "net/protocol.h"
#include "net/slot_table.h"
#include "platform/clock.h"
#include "platform/fatal.h"
#include "platform/sockets.h"
#include "platform/text16.h"
#include "platform/thread_priority.h"
#include "settings/settings.h"

namespace tarvelon {
namespace {

constexpr uint32_t kPollPauseMs = 900;
constexpr uint32_t kManagerPassMs = 100;
constexpr uint32_t kCommandPauseMs = 10;
constexpr int64_t kResolveIntervalSeconds = 120;
constexpr int64_t kFirstResolutionBacklogSeconds = 10000;
constexpr int kDetailsLineUnits = 200;

// One poll thread and its receive buffer, owned by the client manager. The thread reads its slot
// index and buffer, which do not change while it runs, and the stop request, which is stored under
// stopLock so that a pause cannot miss it and read as it is while the thread waits for a reply.
struct PollThreadEntry {
    int slotIndex = -1;
    std::thread thread;
    uint8_t* buffer = nullptr;

    std::mutex stopLock;
    std::condition_variable stopSignal;
    std::atomic<bool> stopRequested{false};

    // Pauses, and tells whether the thread should go on: false once a stop was requested.
    bool pauseUnlessStopped(uint32_t milliseconds) {
        std::unique_lock<std::mutex> lock(stopLock);
        return !stopSignal.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                    [this] { return stopRequested.load(); });
    }
};

// Lives as long as the process: the poll threads are never joined at exit.
PollThreadEntry* const pollThreads = new PollThreadEntry[kServerSlots];

void pollThread(PollThreadEntry* entry) {
    setCurrentThreadLowestPriority();
    ServerSlot& slot = slotTable[entry->slotIndex];
    // Servers only echo the sequence; a start nobody can predict keeps forged replies from matching it.
    auto sequence = static_cast<uint8_t>(std::random_device{}());
    while (entry->pauseUnlessStopped(kPollPauseMs)) {
        if (slot.Active.load() == 0 || slot.Enabled.load() == 0) continue;
        const int32_t status = slot.Status.load();
        if (status == kStatusUnresolvable || status == kStatusRemoving) continue;
        ResolvedAddress address;
        if (!readSlotAddress(slot, &address)) continue;
        slot.LastQueryTime.store(wallClockSeconds());
        ++sequence;
        exchangeWithServer(slot, address, sequence, entry->buffer, &entry->stopRequested);
    }
}

void requestStop(PollThreadEntry& entry) {
    if (!entry.thread.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(entry.stopLock);
        entry.stopRequested.store(true);
    }
    entry.stopSignal.notify_one();
}

// Waits for a requested stop; afterwards the thread runs no more and holds no socket.
void completeStop(PollThreadEntry& entry) {
    if (!entry.thread.joinable()) return;
    entry.thread.join();
    delete[] entry.buffer;
    entry.buffer = nullptr;
    entry.slotIndex = -1;
}

void stopPollThread(int index) {
    requestStop(pollThreads[index]);
    completeStop(pollThreads[index]);
}

void startPollThread(int index) {
    stopPollThread(index);  // a slot has at most one poll thread
    PollThreadEntry& entry = pollThreads[index];
    entry.slotIndex = index;
    entry.buffer = new (std::nothrow) uint8_t[kDatagramBufferBytes];
    if (entry.buffer == nullptr) failOutOfMemory(kSitePollThread);
    std::memset(entry.buffer, 0, kDatagramBufferBytes);
    entry.stopRequested.store(false);  // no thread runs on this entry now
    entry.thread = startThreadOrFail(kSitePollThread, [&entry] { return std::thread(pollThread, &entry); });
}

// All stop requests first, so the threads wind down together: the whole stop takes at most one
// receive slice, not one per slot.
void stopAllPollThreads() {
    for (int i = 0; i < kServerSlots; ++i) requestStop(pollThreads[i]);
    for (int i = 0; i < kServerSlots; ++i) completeStop(pollThreads[i]);
}

// The first resolution of a slot: until it succeeds the slot holds no address.
void beginFirstResolution(int index) {
    ServerSlot& slot = slotTable[index];
    writeSlotAddress(slot, nullptr);
    slot.LastQueryTime.store(wallClockSeconds());
    slot.LastResolutionTime.store(wallClockSeconds());
    beginResolution(index, slot.Hostname, slot.Port);
}

// Takes the slot's finished resolution, if any; false while one is under way. A resolution that comes
// while the slot already holds an address replaces it; a failed one leaves the address it had.
bool landResolution(int index) {
    ResolvedAddress address;
    const ResolutionOutcome outcome = takeResolution(index, &address);
    if (outcome == ResolutionOutcome::Pending) return false;
    if (outcome == ResolutionOutcome::Resolved) {
        ServerSlot& slot = slotTable[index];
        writeSlotAddress(slot, &address);
        int32_t unresolved = kStatusUnresolvable;
        slot.Status.compare_exchange_strong(unresolved, kStatusOk);
    }
    return true;
}

// A move exchanges the slots' contents, so no resolution may land after it: finished ones are taken
// now, the ones under way are forgotten and become due again at once.
void settleResolutions() {
    for (int i = 0; i < kServerSlots; ++i) {
        if (landResolution(i)) continue;
        forgetResolution(i);
        ServerSlot& slot = slotTable[i];
        if (slot.Status.load() == kStatusUnresolvable) {
            slot.LastQueryTime.store(wallClockSeconds() - kResolveIntervalSeconds);
        }
        slot.LastResolutionTime.store(0);
    }
}

void startSlot(int index, int32_t request) {
    ServerSlot& slot = slotTable[index];
    stopPollThread(index);
    forgetResolution(index);
    slot.Status.store(kStatusUnresolvable);
    writeSlotAddress(slot, nullptr);
    slot.LastQueryTime.store(wallClockSeconds() - kFirstResolutionBacklogSeconds);
    slot.Active.store(1);
    slot.Enabled.store(request == kStateStartEnabled ? 1 : 0);
    startPollThread(index);
    slot.State.store(kStateStarted);
}

void removeSlot(int index) {
    ServerSlot& slot = slotTable[index];
    stopPollThread(index);
    forgetResolution(index);
    slot.Active.store(0);
    slot.Enabled.store(0);
    writeSlotAddress(slot, nullptr);
    slot.Status.store(kStatusUnresolvable);
    saveSettings();
    slot.State.store(kStateRemoved);
}

// Only a started slot is resolved: while the dialog is still filling in a new entry (Active already
// set, State not yet 1) its Port is not ready to be read.
bool isPolled(const ServerSlot& slot) {
    return slot.State.load() == kStateStarted && slot.Active.load() != 0 && slot.Enabled.load() != 0;
}

bool firstResolutionDue(const ServerSlot& slot) {
    if (!isPolled(slot) || slot.Status.load() != kStatusUnresolvable) return false;
    return wallClockSeconds() - slot.LastQueryTime.load() >= kResolveIntervalSeconds;
}

bool resolutionAgainDue(const ServerSlot& slot) {
    return isPolled(slot) && resolveAgainDue(slot.Status.load(), wallClockSeconds(),
                                             slot.LastAnswerTime.load(), slot.LastResolutionTime.load());
}

void managerPass() {
    for (int i = 0; i < kServerSlots; ++i) {
        ServerSlot& slot = slotTable[i];
        const int32_t state = slot.State.load();
        if (state == kStateStartEnabled || state == kStateStartDeactivated) {
            startSlot(i, state);
        } else if (state == kStateRemoveRequest) {
            removeSlot(i);
        }
        if (!landResolution(i)) continue;
        if (firstResolutionDue(slot)) {
            beginFirstResolution(i);
        } else if (resolutionAgainDue(slot)) {
            // Numeric addresses are only marked, so that they are looked at once per interval.
            slot.LastResolutionTime.store(wallClockSeconds());
            if (!isNumericHost(slot.Hostname)) beginResolution(i, slot.Hostname, slot.Port);
        }
    }
}

void clientManager() {
    for (;;) {
        switch (slotTableCommand.load()) {
            case kCommandStopAll:
                stopAllPollThreads();
                settleResolutions();
                sleepMs(kCommandPauseMs);
                slotTableCommand.store(kCommandStopped);
                continue;
            case kCommandStopped:
                sleepMs(kCommandPauseMs);
                continue;
            case kCommandRestart:
                for (int i = 0; i < kServerSlots; ++i) {
                    if (slotTable[i].Active.load() != 0) startPollThread(i);
                }
                slotTableCommand.store(kCommandNone);
                continue;
            default:
                managerPass();
                sleepMs(kManagerPassMs);
                break;
        }
    }
}

char16_t detailsText[7 * kDetailsLineUnits + 16];

}  // namespace

void startQueryClient() {
    static std::once_flag started;
    std::call_once(started, [] {
        slotTableCommand.store(kCommandNone);
        startThreadOrFail(kSiteClientManager, [] { return std::thread(clientManager); }).detach();
        for (ServerSlot& slot : slotTable) {
            if (slot.Active.load() == 0) continue;
            slot.State.store(slot.Enabled.load() != 0 ? kStateStartEnabled : kStateStartDeactivated);
        }
    });
}

const char16_t* slotDetailsText(int index) {
    detailsText[0] = 0;
    if (index < 0 || index >= kServerSlots) return detailsText;
    ServerSlot& slot = slotTable[index];
    char16_t lines[7][kDetailsLineUnits];

    copyText16(lines[0], kDetailsLineUnits,
               slot.Active.load() != 0 ? u"Server is enabled" : u"Server is not enabled");
    format16(lines[1], kDetailsLineUnits, u"Server Address : %s\r\nServer Port : %d", slot.Hostname,
             slot.Port);
    format16(lines[2], kDetailsLineUnits, u"Server Status : %s\r\nLast Query : %I64u seconds ago",
             slotStatusText(slot),
             static_cast<uint64_t>(secondsSince(slot.LastQueryTime.load(), wallClockSeconds())));
    format16(lines[3], kDetailsLineUnits,
             slot.HighLatency.load() != 0
                 ? u"Current latency : %d\r\nLatency Setup : High Latency (10 second) enabled"
                 : u"Current latency : %d\r\nLatency Setup : normal",
             static_cast<int32_t>(slot.LatencyMs.load()));
    ResolvedAddress address;
    if (readSlotAddress(slot, &address)) {
        char16_t text[190];
        addressToText(address, text, 190);
        format16(lines[4], kDetailsLineUnits, u"Resolved IP : %s", text);
    } else {
        copyText16(lines[4], kDetailsLineUnits, u"Address is not resolved");
    }
    const SlotRecords records = readSlotRecords(slot);
    format16(lines[5], kDetailsLineUnits, u"Reported servername : %s", records.host.hostName);
    int presentGpus = 0;
    for (const GpuRecord& gpu : records.gpus) presentGpus += gpu.present != 0 ? 1 : 0;
    format16(lines[6], kDetailsLineUnits, u"Reported NVidia GPUs : %d", presentGpus);

    format16(detailsText, sizeof detailsText / sizeof detailsText[0],
             u"%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n%s", lines[0], lines[1], lines[2], lines[3], lines[4],
             lines[5], lines[6]);
    return detailsText;
}

}  // namespace tarvelon
