// The local store: this machine's HostRecord and its 16 GPU slots, in static storage for the life of
// the process. The sampler is the only writer of values; the panel consumes the change flags; the
// server threads copy the records into replies. A lock guards the store so that every reader gets a
// whole record of one pass, never a torn one.
#pragma once

#include "telemetry/records.h"

namespace tarvelon {

struct LocalStore {
    HostRecord host;
    GpuRecord gpus[kGpuSlots];
};
static_assert(offsetof(LocalStore, gpus) == sizeof(HostRecord));

// A copy of the whole store.
LocalStore readLocalStore();

// Replaces every value of the store except the change flags, which belong to their consumer.
void publishLocalStore(const LocalStore& values);

// A copy of the whole store whose change flags are then cleared in the store, in one step, so that a
// flag is consumed exactly once.
LocalStore takeLocalStore();

// Sets the change flags of the store (host and every GPU slot) to the given value.
void markLocalStoreChanged(uint8_t changed);

// Zeroes the whole store, as at process start.
void clearLocalStore();

}  // namespace tarvelon
