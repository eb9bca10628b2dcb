// Time and sleeping: wall-clock seconds since 1970, the monotonic millisecond tick counter, pauses.
#pragma once

#include <cstdint>

namespace tarvelon {

int64_t wallClockSeconds();
uint64_t tickCountMs();  // monotonic, as GetTickCount64
void sleepMs(uint32_t milliseconds);

}  // namespace tarvelon
