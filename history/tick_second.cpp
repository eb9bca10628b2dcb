#include "history/tick_second.h"

namespace tarvelon {

TickSecond tickSecond(int64_t lastSecond, int64_t wallMs) {
    int64_t second = wallMs / 1000;
    int64_t intoSecond = wallMs % 1000;
    if (intoSecond < 0) {  // before 1970: floor, not truncation
        --second;
        intoSecond += 1000;
    }
    return {second, second != lastSecond, static_cast<int32_t>(1000 - intoSecond + kTickMarginMs)};
}

}  // namespace tarvelon
