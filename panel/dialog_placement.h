// Where a setup dialog appears when the tray menu shows it: with its bottom-right corner at the
// mouse cursor, pulled back into the work area of the monitor under the cursor (which may lie left of
// or above the primary one, at negative coordinates) when it would leave it.
#pragma once

#include <cstdint>

#include "panel/window_rules.h"

namespace tarvelon {

struct DialogOrigin {
    int32_t left;
    int32_t top;
};

// A left or top edge past the work area's lands 10 pixels inside it; a right or bottom edge past it
// moves the dialog back in, as far as its left and top edges allow.
DialogOrigin dialogOriginAtCursor(int32_t cursorX, int32_t cursorY, int32_t width, int32_t height,
                                  const ScreenRect& workArea);

}  // namespace tarvelon
