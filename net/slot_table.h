// The table of 64 remote servers: each slot's configuration, the run-time state the query client
// keeps for it, and the last records received from it; and slotTableCommand, the word through which
// the Network Setup dialog and the client manager agree on moving entries.
//
// Threads meet here without a lock on the state words: State, slotTableCommand, Active, Enabled,
// HighLatency, Status, the three times and LatencyMs are atomics. Configuration written before a State
// or Active store (release) is visible to the thread that loads it (acquire). Hostname and Port are
// plain: they are only written while no other thread uses them (before the start request, or
// while the manager idles during a move). The resolved address and the received records are guarded
// by the slot's own lock, because the dialog's details text and the poll thread read the address
// while the manager replaces it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/sockets.h"
#include "settings/stored_slot.h"
#include "telemetry/records.h"

namespace tarvelon {

// Values of ServerSlot::State.
enum SlotState : int32_t {
    kStateNeverStarted = 0,
    kStateStartEnabled = 1,
    kStateStartDeactivated = 2,
    kStateStarted = 6,
    kStateRemoveRequest = 7,
    kStateRemoved = 8,
};

// Values of ServerSlot::Status.
enum SlotStatus : int32_t {
    kStatusUnknown = 0,
    kStatusVersionMismatch = 1,
    kStatusNoResponse = 2,
    kStatusOk = 3,
    kStatusUnresolvable = 4,
    kStatusSocketError = 5,
    kStatusSendToError = 6,
    kStatusPending = 7,
    kStatusRemoving = 8,
};

// Values of slotTableCommand.
enum SlotTableCommand : int32_t {
    kCommandNone = 0,
    kCommandStopAll = 1,
    kCommandStopped = 2,
    kCommandRestart = 3,
};

struct SlotRecords {
    HostRecord host;
    GpuRecord gpus[kGpuSlots];
};

// The stored fields (Active, Enabled, HighLatency, Hostname, Port) come from StoredSlot.
struct ServerSlot : StoredSlot {
    std::atomic<int32_t> State;
    std::atomic<uint32_t> LatencyMs;
    std::atomic<int32_t> Status;
    std::atomic<int64_t> LastQueryTime;
    std::atomic<int64_t> LastAnswerTime;      // of the last accepted reply
    std::atomic<int64_t> LastResolutionTime;  // of the last resolution begun
    std::atomic<int32_t> AnnouncesProcesses;  // the last accepted reply said the server answers them

    std::mutex recordLock;      // guards the resolved address, Host and Gpus
    bool hasAddresses;          // "Addresses holds a list"
    ResolvedAddress Addresses;  // the first entry of the resolution
    HostRecord Host;
    GpuRecord Gpus[kGpuSlots];
};

extern ServerSlot slotTable[kServerSlots];
extern std::atomic<int32_t> slotTableCommand;

// Zeroes every slot (configuration, state and records) and slotTableCommand, as at start-up.
void clearSlotTable();

// "deactivated" when Enabled is 0, otherwise the text of Status.
const char16_t* slotStatusText(const ServerSlot& slot);
// The text of a status code; "Unknown Status" outside 0..8.
const char16_t* statusCodeText(int32_t status);

// A copy of a slot's received records.
SlotRecords readSlotRecords(ServerSlot& slot);

// The resolved address under the slot's lock; false when the slot holds none.
bool readSlotAddress(ServerSlot& slot, ResolvedAddress* out);
// Replaces the resolved address under the slot's lock; nullptr leaves the slot with none.
void writeSlotAddress(ServerSlot& slot, const ResolvedAddress* address);

// Runs update(Host, Gpus) on the slot's records under its lock.
template <class Update>
void updateSlotRecords(ServerSlot& slot, Update&& update) {
    std::lock_guard<std::mutex> guard(slot.recordLock);
    update(slot.Host, slot.Gpus);
}

// Runs take(Host, Gpus) on the slot's records under its lock, then clears their change flags in the
// slot, in one step, so that a flag is consumed exactly once. The records are read in place: the
// panel copies them once a second for every shown server, straight into its list.
template <class Take>
void takeSlotRecords(ServerSlot& slot, Take&& take) {
    std::lock_guard<std::mutex> guard(slot.recordLock);
    take(static_cast<const HostRecord&>(slot.Host), static_cast<const GpuRecord(&)[kGpuSlots]>(slot.Gpus));
    slot.Host.changed = 0;
    for (GpuRecord& gpu : slot.Gpus) gpu.changed = 0;
}

// Exchanges the complete contents of two slots. Only while no poll thread runs (move handshake).
void exchangeSlots(int a, int b);

}  // namespace tarvelon
