#include "panel/decimal_text.h"

#include <limits>

namespace tarvelon {

namespace {

bool isWhiteSpace(char16_t unit) {
    return unit == u' ' || (unit >= u'\t' && unit <= u'\r');  // space, tab, line feed, vt, ff, cr
}

}  // namespace

int32_t parseDecimal(const char16_t* text) {
    if (text == nullptr) return 0;
    while (isWhiteSpace(*text)) ++text;
    bool negative = false;
    if (*text == u'+' || *text == u'-') {
        negative = *text == u'-';
        ++text;
    }
    // Accumulated as a magnitude that stops growing one past the largest negative value.
    constexpr int64_t kLimit = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
    int64_t magnitude = 0;
    for (; *text >= u'0' && *text <= u'9'; ++text) {
        magnitude = magnitude * 10 + (*text - u'0');
        if (magnitude > kLimit) magnitude = kLimit;
    }
    if (negative) return static_cast<int32_t>(-magnitude);
    if (magnitude > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(magnitude);
}

}  // namespace tarvelon
