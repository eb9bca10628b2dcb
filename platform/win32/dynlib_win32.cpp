#include <windows.h>

#include "platform/dynlib.h"
#include "platform/pe_header.h"
#include "platform/text16.h"

namespace tarvelon {

bool systemLibraryPath(const char16_t* fileName, char16_t (&path)[kLibraryPathUnits]) {
    wchar_t directory[MAX_PATH];
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    if (length + 1 + text16Length(fileName, kLibraryPathUnits) >= kLibraryPathUnits) return false;
    format16(path, kLibraryPathUnits, u"%s\\%s", reinterpret_cast<char16_t*>(directory), fileName);
    return true;
}

bool libraryPathFromEnvironment(const char* variable, char16_t (&path)[kLibraryPathUnits]) {
    wchar_t name[64];
    if (MultiByteToWideChar(CP_ACP, 0, variable, -1, name, 64) == 0) return false;
    const DWORD length = GetEnvironmentVariableW(name, reinterpret_cast<wchar_t*>(path), kLibraryPathUnits);
    return length != 0 && length < kLibraryPathUnits;
}

DynamicLibrary* loadLibraryAt(const char16_t* path) {
    // The altered search order resolves the library's own imports from its directory, never ours.
    return reinterpret_cast<DynamicLibrary*>(
        LoadLibraryExW(reinterpret_cast<const wchar_t*>(path), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

void freeLibrary(DynamicLibrary* library) {
    FreeLibrary(reinterpret_cast<HMODULE>(library));
}

void* librarySymbol(DynamicLibrary* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

uint32_t libraryIdentityStamp(DynamicLibrary* library) {
    // A module handle is the address of its mapped headers; they span at least one page.
    return peIdentityStamp(reinterpret_cast<const uint8_t*>(library), 4096);
}

}  // namespace tarvelon
