#include <windows.h>

#include "platform/fatal.h"

namespace tarvelon {

void failOutOfMemory(int32_t site) {
    char16_t text[200];
    formatOutOfMemoryText(text, 200, site);
    MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text), L"No more memory available", MB_ICONERROR);
    ExitProcess(0);
}

}  // namespace tarvelon
