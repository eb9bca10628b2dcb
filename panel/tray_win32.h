// The tray icon: its process-wide state, created before the entry point runs and torn down at
// process exit, and the routing of its mouse events to handlers or to the context menu.
#pragma once

#include <windows.h>
#include <shellapi.h>

namespace tarvelon {

// A tray handler takes (window, message, wParam, mouse event code) and returns true when it handled it.
using TrayHandler = bool (*)(HWND window, UINT message, WPARAM wParam, UINT eventCode);

struct TrayIcon {
    HINSTANCE instance;
    HWND ownerWindow;
    UINT callbackMessage;
    UINT menuId;
    UINT taskbarCreatedMessage;  // the shell's "TaskbarCreated", broadcast when it starts again
    NOTIFYICONDATAW notifyData;
    TrayHandler onLeftButtonDown;
    TrayHandler onDoubleClick;
    TrayHandler onContextMenu;
    UINT normalIconId;
    UINT alertIconId;
    HICON normalIcon;
    HICON alertIcon;  // shown while an alarm is active
    bool alertShown;
    bool noticePending;  // a notice the shell could not take: shown when it has the icon again
    NOTIFYICONDATAW pendingNotice;
};

extern TrayIcon* trayIcon;
extern bool trayIconInstalled;

void createTrayIcon();
void destroyTrayIcon();

// Adds the icon once (NIM_ADD), and removes it once (NIM_DELETE).
void installTrayIcon();
void removeTrayIcon();
// Adds the installed icon again, to a shell that has started anew and no longer knows it.
void addTrayIconAgain();

// A balloon from the installed icon (NIF_INFO): it neither blocks nor takes the focus. Texts are cut
// to what the balloon holds. One the shell cannot take now (Explorer restarting) waits for it.
void showTrayNotice(const char16_t* title, const char16_t* text, bool information);
// Shows the alert variant of the icon, or the normal one again.
void showTrayAlert(bool alert);
// Loads both icons at the size the tray uses at the primary monitor's DPI, and shows the one in use.
void loadTrayIcons();
// Sets the icon's tooltip (NIF_TIP) when text differs from the one shown; kept for a shell that
// starts anew.
void setTrayTooltip(const char16_t* text);

bool handleTrayMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Shows, raises and activates the window; a window that lies on no monitor is first moved onto the
// primary one (and the move stores its position).
bool bringToFront(HWND window, UINT message, WPARAM wParam, UINT eventCode);

// Shows menu resource menuId of instance at the cursor, owned by owner; the choice arrives as WM_COMMAND.
void showContextMenu(HINSTANCE instance, UINT menuId, HWND owner);

}  // namespace tarvelon
