// What both setup dialogs share on Windows: showing a dialog at the mouse cursor, and the two ways
// out of the process that a person answers (a message box, a web address handed to the shell). Those
// two go through replaceable functions so that a test program can answer them itself.
#pragma once

#include <windows.h>

#include <cstdint>

namespace tarvelon {

// MessageBoxW by default.
extern int (*showDialogBox)(HWND owner, const char16_t* text, const char16_t* caption, UINT type);
// ShellExecuteW "open" by default; true when the shell took the address.
extern bool (*openWebAddress)(const char16_t* address);

// Shows the dialog in its normal state with its bottom-right corner at the cursor and raises it.
void showDialogAtCursor(HWND dialog);

// Escape or Alt+F4 meant for a dialog of this thread (or a control in it) becomes that dialog's
// IDCANCEL, which the setup dialogs treat like their close button. For the message loop, which does
// no dialog navigation; true when the key was taken.
bool routeDialogCloseKey(const MSG& message);

// Control text as UTF-16, for the portable dialog rules.
void setControlText(HWND dialog, int id, const char16_t* text);
void setControlNumber(HWND dialog, int id, int32_t value);
// Reads at most chars characters of a control's text into text (chars + 1 units).
void getControlText(HWND dialog, int id, char16_t* text, int chars);
bool isChecked(HWND dialog, int id);
void setChecked(HWND dialog, int id, bool checked);

}  // namespace tarvelon
