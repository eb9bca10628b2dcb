#include "panel/window_rules.h"

#include <cstdio>

#include "panel/about.h"

namespace tarvelon {

namespace {
constexpr int32_t kEdgeZone = 16;
constexpr uint32_t kLeftButtonDown = 0x0201;
constexpr uint32_t kLeftButtonDoubleClick = 0x0203;
constexpr uint32_t kRightButtonDown = 0x0204;
constexpr uint32_t kContextMenu = 0x007B;
}  // namespace

DragResult dragStep(ScreenPoint cursor, ScreenPoint anchor, ScreenRect window, ScreenRect virtualScreen,
                    int32_t layout) {
    // 64-bit intermediates: stored positions may be anywhere in the 32-bit range.
    int64_t x = int64_t{window.left} + cursor.x - anchor.x;
    int64_t y = int64_t{window.top} + cursor.y - anchor.y;
    const int64_t right = int64_t{virtualScreen.left} + virtualScreen.width;
    const int64_t bottom = int64_t{virtualScreen.top} + virtualScreen.height;
    if (x < virtualScreen.left) x = virtualScreen.left;
    if (y < virtualScreen.top) y = virtualScreen.top;
    if (x + window.width > right) x = right - window.width;
    if (y + window.height > bottom) y = bottom - window.height;

    if (cursor.x < virtualScreen.left + kEdgeZone) layout = 2;
    if (cursor.x > right - kEdgeZone) layout = 2;
    if (cursor.y < virtualScreen.top + kEdgeZone) layout = 1;
    if (cursor.y > bottom - kEdgeZone) layout = 1;
    return {static_cast<int32_t>(x), static_cast<int32_t>(y), layout};
}

TrayAction routeTrayEvent(const TrayRouting& routing, uint32_t message, uint32_t eventCode) {
    if (message != routing.callbackMessage) return TrayAction::NotHandled;
    switch (eventCode) {
        case kLeftButtonDown:
            return routing.hasLeftButtonHandler ? TrayAction::LeftButtonHandler : TrayAction::NotHandled;
        case kLeftButtonDoubleClick:
            return routing.hasDoubleClickHandler ? TrayAction::DoubleClickHandler : TrayAction::NotHandled;
        case kRightButtonDown:
        case kContextMenu:
            if (routing.hasContextMenuHandler) return TrayAction::ContextMenuHandler;
            return routing.menuId == 0 ? TrayAction::NotHandled : TrayAction::ShowMenu;
        default:
            return TrayAction::NotHandled;
    }
}

void formatAboutText(char* out, size_t capacity, const char* buildDate, const char* buildTime) {
    std::snprintf(out, capacity, "%s\r\n%s\r\nCompile Date: %s\r\nCompile Time: %s", kMakerCredit,
                  kMakerWebAddress, buildDate, buildTime);
}

}  // namespace tarvelon
