// The yardstick for tarvelon.exe under Wine: a Win32 program that does nothing but keep a small window
// with a one-second timer and run its message loop. What both cost alike is Wine's own share.
#include <windows.h>

namespace {

LRESULT CALLBACK idleWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER:
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = idleWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"IdleWindow";
    if (RegisterClassW(&windowClass) == 0) return 1;
    HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, L"IdleWindow", L"Idle window", WS_POPUP | WS_VISIBLE, 100,
                                  100, 136, 112, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 1;
    SetTimer(window, 1, 1000, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
