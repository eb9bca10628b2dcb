#include "panel/dialog_placement.h"

namespace tarvelon {
namespace {

int32_t placeAlong(int32_t cursor, int32_t size, int32_t areaStart, int32_t areaSize) {
    int32_t start = cursor - size;
    if (start < areaStart) start = areaStart + 10;
    if (start + size > areaStart + areaSize) start = areaStart + areaSize - size;
    return start < areaStart ? areaStart : start;
}

}  // namespace

DialogOrigin dialogOriginAtCursor(int32_t cursorX, int32_t cursorY, int32_t width, int32_t height,
                                  const ScreenRect& workArea) {
    return {placeAlong(cursorX, width, workArea.left, workArea.width),
            placeAlong(cursorY, height, workArea.top, workArea.height)};
}

}  // namespace tarvelon
