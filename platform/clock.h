// Time and sleeping: wall-clock seconds since 1970, the monotonic millisecond tick counter, pauses.
#pragma once

#include <cstdint>

namespace tarvelon {

int64_t wallClockSeconds();
int64_t wallClockMs();  // milliseconds since 1970
// Wall-clock seconds from since to now; 0 when the clock has been set back past since.
int64_t secondsSince(int64_t since, int64_t now);
uint64_t tickCountMs();  // monotonic, as GetTickCount64
uint64_t tickCount100ns();  // the same clock in the 100 ns units of GPU engine running times
void sleepMs(uint32_t milliseconds);

}  // namespace tarvelon
