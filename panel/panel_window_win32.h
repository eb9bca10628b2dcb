// The panel window: its window procedure and the globals of the user-interface thread.
#pragma once

#include <windows.h>

namespace tarvelon {

constexpr UINT kFontSizeMessage = WM_USER;
constexpr UINT kAlwaysOnTopMessage = WM_USER + 1;
constexpr UINT_PTR kPanelTimer = 666;
constexpr UINT kTrayCallbackMessage = 1111;
// The session-wide name that marks a running Tarvelon, and the message a second start sends it.
constexpr wchar_t kInstanceMutexName[] = L"Local\\Tarvelon.Panel";
constexpr wchar_t kBringToFrontMessageName[] = L"Tarvelon.BringToFront";

extern HWND mainWindow;
extern HINSTANCE appInstance;

LRESULT CALLBACK panelWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace tarvelon
