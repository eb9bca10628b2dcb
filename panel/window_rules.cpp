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
constexpr int32_t kMinimisedPosition = -32000;
// Show commands (SW_...).
constexpr int32_t kShowNormal = 1;
constexpr int32_t kShowMinimized = 2;
constexpr int32_t kMinimize = 6;
constexpr int32_t kShowMinNoActive = 7;
constexpr int32_t kForceMinimize = 11;

bool overlaps(ScreenRect a, ScreenRect b) {
    return int64_t{a.left} < int64_t{b.left} + b.width && int64_t{b.left} < int64_t{a.left} + a.width &&
           int64_t{a.top} < int64_t{b.top} + b.height && int64_t{b.top} < int64_t{a.top} + a.height;
}
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

bool draggingAfter(bool dragging, PointerEvent event) {
    switch (event) {
        case PointerEvent::LeftButtonDown:
            return true;
        case PointerEvent::MoveWithButton:
            return dragging;
        case PointerEvent::LeftButtonUp:
        case PointerEvent::CaptureLost:
        case PointerEvent::MoveWithoutButton:
            return false;
    }
    return false;
}

bool positionWorthStoring(bool minimised, int32_t x, int32_t y) {
    return !minimised && !(x == kMinimisedPosition && y == kMinimisedPosition);
}

int32_t panelShowCommand(int32_t requested) {
    switch (requested) {
        case kShowMinimized:
        case kMinimize:
        case kShowMinNoActive:
        case kForceMinimize:
            return kShowNormal;
        default:
            return requested;
    }
}

bool findLostPanel(ScreenRect window, const ScreenRect* monitors, int32_t monitorCount, ScreenRect primary,
                   ScreenPoint* position) {
    if (monitorCount <= 0) return false;
    // A window without size still lies where its corner is.
    if (window.width <= 0) window.width = 1;
    if (window.height <= 0) window.height = 1;
    for (int32_t i = 0; i < monitorCount; ++i) {
        if (overlaps(window, monitors[i])) return false;
    }
    position->x = static_cast<int32_t>(primary.left + (int64_t{primary.width} - window.width) / 2);
    position->y = static_cast<int32_t>(primary.top + (int64_t{primary.height} - window.height) / 2);
    return true;
}

TrayAction routeTrayEvent(const TrayRouting& routing, uint32_t message, uint32_t eventCode) {
    if (routing.taskbarCreatedMessage != 0 && message == routing.taskbarCreatedMessage) {
        return TrayAction::AddAgain;
    }
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

void formatAboutText(char* out, size_t capacity, const char* version, const char* buildDate,
                     const char* buildTime) {
    std::snprintf(out, capacity, "%s\r\n%s\r\nVersion: %s\r\nCompile Date: %s\r\nCompile Time: %s", kMakerCredit,
                  kMakerWebAddress, version, buildDate, buildTime);
}

}  // namespace tarvelon
