// The sampler: a priming pass on the caller's thread at start-up, then a thread that refreshes the
// local store once per 900 ms of sleep from the machine's counters, memory status, processor count
// and the GPUs of its own GPU context.
#pragma once

#include <cstdint>

#include "telemetry/gpu_context.h"

namespace tarvelon {

// Opens the counter query, runs the priming pass and starts the sampler thread. Called once.
void startSampler();

// The first part of startSampler: opens the live counter query with its seven counters and takes a
// first sample; without a query, or when that sample fails, the counter fields are never read.
void openSamplerCounters();

// The sampler thread's routine. With kPrimingRun it runs one pass on its own GPU context, closes the
// context and returns; with any other mode it runs passes forever. Returns 0.
constexpr uint32_t kPrimingRun = 0xCAFEAFFE;
uint32_t samplingRoutine(uint32_t mode);

// One pass: reads everything, computes the records on a copy of the store and publishes it.
void samplePass(GpuContext* context);

}  // namespace tarvelon
