// Which wall-clock second a tick records, and when the next tick is due. The panel's timer is armed
// afresh at every tick for just after the next second begins, so a late tick does not push the rest
// late (a skipped second) and an early one does not record the same second twice. A clock set back
// goes on recording from the second it now shows.
#pragma once

#include <cstdint>

namespace tarvelon {

// How far past the start of a second a tick is aimed: timers fire a few milliseconds early or late.
constexpr int32_t kTickMarginMs = 20;

struct TickSecond {
    int64_t second;   // the wall-clock second the tick records
    bool fresh;       // false when that second is the one recorded last
    int32_t delayMs;  // until the next tick
};

// lastSecond: the second the previous tick recorded; wallMs: the wall clock now, in milliseconds.
TickSecond tickSecond(int64_t lastSecond, int64_t wallMs);

}  // namespace tarvelon
