// The processes of a watched machine's GPU while its history window is open: the window asks each
// second, a thread of its own puts the processes question, about once a second while asked, to that
// server when its last accepted reply announced it, and the window takes the rows of the latest
// answer. One GPU at a time, as there is one history window.
#pragma once

#include <cstdint>

#include "net/process_reply.h"
#include "telemetry/gpu_processes.h"

namespace tarvelon {

// Asks for the processes of GPU gpu (its place in the slot's Gpus) of server slot; holds as long as
// a local ask (kProcessAskHoldMs). Starts the asking thread the first time.
void askRemoteProcesses(int32_t slot, int32_t gpu, uint64_t nowMs);

// The rows of the latest answer for that GPU, at most capacity; -1 when none came for it yet.
int32_t readRemoteProcesses(int32_t slot, int32_t gpu, GpuProcessRow* rows, int32_t capacity);

// One GPU's list of an answer as the rows a local GPU shows.
int32_t rowsOfWireList(const GpuProcessList& list, GpuProcessRow* rows, int32_t capacity);

}  // namespace tarvelon
