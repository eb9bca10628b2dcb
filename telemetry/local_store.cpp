#include "telemetry/local_store.h"

#include <cstring>
#include <mutex>

namespace tarvelon {
namespace {

std::mutex storeLock;
LocalStore store;  // zero-filled at process start

}  // namespace

LocalStore readLocalStore() {
    std::lock_guard<std::mutex> guard(storeLock);
    return store;
}

void publishLocalStore(const LocalStore& values) {
    std::lock_guard<std::mutex> guard(storeLock);
    const uint8_t hostChanged = store.host.changed;
    uint8_t gpuChanged[kGpuSlots];
    for (int i = 0; i < kGpuSlots; ++i) gpuChanged[i] = store.gpus[i].changed;
    store = values;
    store.host.changed = hostChanged;
    for (int i = 0; i < kGpuSlots; ++i) store.gpus[i].changed = gpuChanged[i];
}

LocalStore takeLocalStore() {
    std::lock_guard<std::mutex> guard(storeLock);
    LocalStore copy = store;
    store.host.changed = 0;
    for (GpuRecord& gpu : store.gpus) gpu.changed = 0;
    return copy;
}

void markLocalStoreChanged(uint8_t changed) {
    std::lock_guard<std::mutex> guard(storeLock);
    store.host.changed = changed;
    for (GpuRecord& gpu : store.gpus) gpu.changed = changed;
}

void clearLocalStore() {
    std::lock_guard<std::mutex> guard(storeLock);
    std::memset(&store, 0, sizeof store);
}

}  // namespace tarvelon
