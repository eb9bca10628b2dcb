// Windows test programs against the simulated GPU driver library: installs the nvapi.dll built
// beside the test program into the system directory and removes it again, writes the library's
// configuration, and reaches the library's counters while it is loaded.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

namespace tarvelon {

inline std::wstring directoryOf(const std::wstring& path) {
    return path.substr(0, path.find_last_of(L"\\/"));
}

inline std::wstring testProgramDirectory() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return directoryOf(std::wstring(path, length));
}

inline std::wstring builtDriverLibrary() {
    return testProgramDirectory() + L"\\nvapi.dll";
}

inline std::wstring installedDriverLibrary() {
    wchar_t directory[MAX_PATH];
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    return std::wstring(directory, length) + L"\\nvapi.dll";
}

inline bool fileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline bool installSimulatedDriver() {
    return CopyFileW(builtDriverLibrary().c_str(), installedDriverLibrary().c_str(), FALSE) != 0;
}

inline void removeSimulatedDriver() {
    DeleteFileW(installedDriverLibrary().c_str());
}

// Writes the configuration to a file of this process and points the library at it.
inline void configureSimulatedDriver(const std::string& text) {
    wchar_t temporary[MAX_PATH];
    GetTempPathW(MAX_PATH, temporary);
    const std::wstring path = std::wstring(temporary) + L"tarvelon-simulated-gpus-" +
                              std::to_wstring(GetCurrentProcessId()) + L".txt";
    if (FILE* file = _wfopen(path.c_str(), L"wb")) {
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
    SetEnvironmentVariableW(L"TARVELON_SIMULATED_GPUS", path.c_str());
}

// A counter of the loaded library (simulated_query_count, simulated_call_count), -1 when not loaded.
inline int simulatedDriverCounter(const char* name, uint32_t interfaceId) {
    HMODULE library = GetModuleHandleW(installedDriverLibrary().c_str());
    if (library == nullptr) return -1;
    auto counter =
        reinterpret_cast<int(__cdecl*)(uint32_t)>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    return counter != nullptr ? counter(interfaceId) : -1;
}

}  // namespace tarvelon
