#include "panel/dialog_placement.h"

namespace tarvelon {

DialogOrigin dialogOriginAtCursor(int32_t cursorX, int32_t cursorY, int32_t width, int32_t height) {
    DialogOrigin origin{cursorX - width, cursorY - height};
    if (origin.left < 0) origin.left = 10;
    if (origin.top < 0) origin.top = 10;
    return origin;
}

}  // namespace tarvelon
