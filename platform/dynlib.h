// Loading a system library at run time: its full path in the system directory, loading and freeing
// it, looking up an export, and an identity stamp that changes when a different file is loaded.
// Windows: LoadLibraryW on <system directory>\<name>, GetProcAddress, and the PE header of the loaded
// module. Native: dlopen on <directory>/lib<name without .dll>.so, where the directory is
// $TARVELON_SYSTEM_DIR (default /usr/lib), and the file's modification time, size and inode.
#pragma once

#include <cstdint>

namespace tarvelon {

struct DynamicLibrary;

constexpr int kLibraryPathUnits = 520;

// Full path of the library fileName (a Windows name such as "nvapi.dll") in the system directory.
// Returns false when the directory cannot be determined or the path does not fit.
bool systemLibraryPath(const char16_t* fileName, char16_t (&path)[kLibraryPathUnits]);

// The full path an environment variable names (a test seam); false when it is unset, empty or does
// not fit.
bool libraryPathFromEnvironment(const char* variable, char16_t (&path)[kLibraryPathUnits]);

// Loads the library at a full path, never through a search path; null on failure.
DynamicLibrary* loadLibraryAt(const char16_t* path);
void freeLibrary(DynamicLibrary* library);

// The address of an export, or null.
void* librarySymbol(DynamicLibrary* library, const char* name);

// A 32-bit stamp that identifies the loaded file; a replaced file gives a different stamp.
uint32_t libraryIdentityStamp(DynamicLibrary* library);

}  // namespace tarvelon
