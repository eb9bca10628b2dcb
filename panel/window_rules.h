// The panel window's decisions, apart from Win32: one step of dragging the panel (clamped to the
// bounding box of all monitors, switching the layout near its edges), the routing of tray mouse
// events, and the about text.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvelon {

struct ScreenPoint {
    int32_t x;
    int32_t y;
};

struct ScreenRect {
    int32_t left;
    int32_t top;
    int32_t width;
    int32_t height;
};

struct DragResult {
    int32_t x;       // new left edge of the window
    int32_t y;       // new top edge
    int32_t layout;  // layout after the step
};

// One drag step: the window follows the cursor from anchor to cursor, stays inside the virtual screen
// (left and top first, so a window larger than the screen sticks out on the right and bottom), and a
// cursor within 16 pixels of an edge picks the layout: left/right edges stack hosts in columns (2),
// top/bottom edges in rows (1), with top/bottom winning in a corner.
DragResult dragStep(ScreenPoint cursor, ScreenPoint anchor, ScreenRect window, ScreenRect virtualScreen,
                    int32_t layout);

// What a tray callback event leads to.
enum class TrayAction { NotHandled, LeftButtonHandler, DoubleClickHandler, ContextMenuHandler, ShowMenu };

struct TrayRouting {
    uint32_t callbackMessage;
    uint32_t menuId;
    bool hasLeftButtonHandler;
    bool hasDoubleClickHandler;
    bool hasContextMenuHandler;
};

TrayAction routeTrayEvent(const TrayRouting& routing, uint32_t message, uint32_t eventCode);

// The about box text: credit, web address, and the build's date and time, one per line. Writes at
// most capacity bytes, terminated.
void formatAboutText(char* out, size_t capacity, const char* buildDate, const char* buildTime);

}  // namespace tarvelon
