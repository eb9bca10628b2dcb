#include "net/slot_table.h"

#include <cstring>
#include <utility>

namespace tarvelon {

ServerSlot slotTable[kServerSlots];
std::atomic<int32_t> slotTableCommand{0};

namespace {

// Runs before main, so the first loadSettings already finds the slots.
const bool slotsListedForStore = [] {
    for (int i = 0; i < kServerSlots; ++i) storedSlots[i] = &slotTable[i];
    return true;
}();

void clearSlot(ServerSlot& slot) {
    slot.State.store(0);
    slot.Active.store(0);
    slot.Enabled.store(0);
    slot.HighLatency.store(0);
    slot.LatencyMs.store(0);
    std::memset(slot.Hostname, 0, sizeof slot.Hostname);
    slot.Port = 0;
    slot.Status.store(0);
    slot.LastQueryTime.store(0);
    slot.LastAnswerTime.store(0);
    slot.LastResolutionTime.store(0);
    slot.AnnouncesProcesses.store(0);
    std::lock_guard<std::mutex> guard(slot.recordLock);
    slot.hasAddresses = false;
    std::memset(&slot.Addresses, 0, sizeof slot.Addresses);
    std::memset(&slot.Host, 0, sizeof slot.Host);
    std::memset(slot.Gpus, 0, sizeof slot.Gpus);
}

template <class T>
void exchangeAtomic(std::atomic<T>& a, std::atomic<T>& b) {
    const T value = a.load();
    a.store(b.load());
    b.store(value);
}

}  // namespace

void clearSlotTable() {
    for (ServerSlot& slot : slotTable) clearSlot(slot);
    slotTableCommand.store(0);
}

const char16_t* statusCodeText(int32_t status) {
    static const char16_t* const texts[] = {
        u"Unknown",
        u"Version mismatch (delay 15s)",
        u"No Response (delay 15s)",
        u"OK",
        u"Unresolvable (delay 120s)",
        u"Socket Error (delay 15s)",
        u"SendTo Error (delay 15s)",
        u"Pending",
        u"Removing",
    };
    if (status < 0 || status > kStatusRemoving) return u"Unknown Status";
    return texts[status];
}

const char16_t* slotStatusText(const ServerSlot& slot) {
    if (slot.Enabled.load() == 0) return u"deactivated";
    return statusCodeText(slot.Status.load());
}

SlotRecords readSlotRecords(ServerSlot& slot) {
    SlotRecords copy;
    std::lock_guard<std::mutex> guard(slot.recordLock);
    copy.host = slot.Host;
    std::memcpy(copy.gpus, slot.Gpus, sizeof copy.gpus);
    return copy;
}

bool readSlotAddress(ServerSlot& slot, ResolvedAddress* out) {
    std::lock_guard<std::mutex> guard(slot.recordLock);
    if (slot.hasAddresses) *out = slot.Addresses;
    return slot.hasAddresses;
}

void writeSlotAddress(ServerSlot& slot, const ResolvedAddress* address) {
    std::lock_guard<std::mutex> guard(slot.recordLock);
    slot.hasAddresses = address != nullptr;
    if (address != nullptr) {
        slot.Addresses = *address;
    } else {
        std::memset(&slot.Addresses, 0, sizeof slot.Addresses);
    }
}

void exchangeSlots(int a, int b) {
    if (a == b) return;
    ServerSlot& first = slotTable[a < b ? a : b];
    ServerSlot& second = slotTable[a < b ? b : a];
    exchangeAtomic(first.State, second.State);
    exchangeAtomic(first.Active, second.Active);
    exchangeAtomic(first.Enabled, second.Enabled);
    exchangeAtomic(first.HighLatency, second.HighLatency);
    exchangeAtomic(first.LatencyMs, second.LatencyMs);
    std::swap(first.Hostname, second.Hostname);
    std::swap(first.Port, second.Port);
    exchangeAtomic(first.Status, second.Status);
    exchangeAtomic(first.LastQueryTime, second.LastQueryTime);
    exchangeAtomic(first.LastAnswerTime, second.LastAnswerTime);
    exchangeAtomic(first.LastResolutionTime, second.LastResolutionTime);
    exchangeAtomic(first.AnnouncesProcesses, second.AnnouncesProcesses);
    std::scoped_lock guard(first.recordLock, second.recordLock);
    std::swap(first.hasAddresses, second.hasAddresses);
    std::swap(first.Addresses, second.Addresses);
    std::swap(first.Host, second.Host);
    std::swap(first.Gpus, second.Gpus);
}

}  // namespace tarvelon
