// The processes of the local GPUs someone is looking at. Opening every process of the machine costs,
// so the sampler reads a GPU's processes only while a reader keeps asking for them (the history
// window of its tile, each second it is open), and the readers take the latest ranked rows.
#pragma once

#include <cstdint>

#include "telemetry/d3dkmt_access.h"
#include "telemetry/gpu_processes.h"
#include "telemetry/records.h"

namespace tarvelon {

// An ask holds this long: a reader that stops asking stops the reading within a pass or two.
constexpr uint64_t kProcessAskHoldMs = 2500;

// Asks for the processes of local GPU slot gpu; called from the window's thread.
void askGpuProcesses(int32_t gpu, uint64_t nowMs);

// The sampler's step after the GPU records of a pass: samples the processes of every GPU asked for
// within kProcessAskHoldMs and publishes their rows; forgets the others.
void sampleAskedGpuProcesses(const D3dkmtFunctions* functions, const GpuRecord* gpus, int32_t count,
                             uint64_t nowMs);

// The latest rows of slot gpu, at most capacity of them, ranked; -1 when none were read for it yet.
int32_t readGpuProcesses(int32_t gpu, GpuProcessRow* rows, int32_t capacity);

}  // namespace tarvelon
