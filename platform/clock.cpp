#include "platform/clock.h"

#include <chrono>
#include <cstdint>
#include <thread>

namespace tarvelon {

int64_t wallClockSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int64_t wallClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int64_t secondsSince(int64_t since, int64_t now) {
    if (now <= since) return 0;
    const uint64_t seconds = static_cast<uint64_t>(now) - static_cast<uint64_t>(since);
    return seconds > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(seconds);
}

uint64_t tickCountMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

uint64_t tickCount100ns() {
    using Units = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
    return static_cast<uint64_t>(
        std::chrono::duration_cast<Units>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

void sleepMs(uint32_t milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

}  // namespace tarvelon
