// The local calendar time of a moment, to the second, as the user's clock shows it.
#pragma once

#include <cstdint>

namespace tarvelon {

struct LocalTime {
    int32_t year;
    int32_t month;  // 1 to 12
    int32_t day;    // 1 to 31
    int32_t hour;
    int32_t minute;
    int32_t second;
};

// unixSeconds: seconds since 1970 UTC, as wallClockSeconds gives them.
LocalTime localTimeOf(int64_t unixSeconds);

}  // namespace tarvelon
