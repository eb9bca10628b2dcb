// The panel window's decisions, apart from Win32: one step of dragging the panel (clamped to the
// bounding box of all monitors, switching the layout near its edges) and what ends a drag, which
// positions are stored and how the panel is shown, finding a panel that lies on no monitor, the
// routing of tray events, and the about text.
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

// What the mouse does to a drag. A drag ends with the button's release, and also when the panel loses
// the mouse capture (a right click or Alt+Tab swallows the release) or sees a move without the button.
enum class PointerEvent { LeftButtonDown, LeftButtonUp, CaptureLost, MoveWithButton, MoveWithoutButton };
bool draggingAfter(bool dragging, PointerEvent event);

// Whether a window position may be stored: never where a minimised window sits (-32000, -32000), or
// the panel would be lost on every later start.
bool positionWorthStoring(bool minimised, int32_t x, int32_t y);

// The show command the panel starts with: a minimised panel can neither be seen nor dragged, so a
// start asked to be minimised (a shortcut set to "Minimized") shows it normally.
int32_t panelShowCommand(int32_t requested);

// A panel that lies on no monitor (one unplugged, a resolution changed) is moved, centred, onto the
// primary monitor: true with its new top-left corner; false while any part of it is on a monitor, or
// when no monitor is known (nothing to judge by).
bool findLostPanel(ScreenRect window, const ScreenRect* monitors, int32_t monitorCount, ScreenRect primary,
                   ScreenPoint* position);

// What a tray callback event leads to; AddAgain: the shell has restarted ("TaskbarCreated") and has
// forgotten the icon.
enum class TrayAction {
    NotHandled,
    LeftButtonHandler,
    DoubleClickHandler,
    ContextMenuHandler,
    ShowMenu,
    AddAgain
};

struct TrayRouting {
    uint32_t callbackMessage;
    uint32_t menuId;
    bool hasLeftButtonHandler;
    bool hasDoubleClickHandler;
    bool hasContextMenuHandler;
    uint32_t taskbarCreatedMessage;  // 0 when it could not be registered
};

TrayAction routeTrayEvent(const TrayRouting& routing, uint32_t message, uint32_t eventCode);

// The about box text: credit, web address, version, and the build's date and time, one per line.
// Writes at most capacity bytes, terminated.
void formatAboutText(char* out, size_t capacity, const char* version, const char* buildDate,
                     const char* buildTime);

}  // namespace tarvelon
