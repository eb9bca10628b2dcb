// Where a setup dialog appears when the tray menu shows it: with its bottom-right corner at the
// mouse cursor, pulled back onto the screen when that would push its left or top edge past zero.
#pragma once

#include <cstdint>

namespace tarvelon {

struct DialogOrigin {
    int32_t left;
    int32_t top;
};

// A negative left or top becomes 10.
DialogOrigin dialogOriginAtCursor(int32_t cursorX, int32_t cursorY, int32_t width, int32_t height);

}  // namespace tarvelon
