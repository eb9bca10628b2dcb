// Where the kernel-thunk GPU functions come from: gdi32.dll of the system directory, looked up with
// GetProcAddress and never linked, so the program starts on any Windows and under Wine, whose gdi32
// lacks some of them. When the environment variable TARVELON_D3DKMT_DLL names a library (a full path,
// or a file name in the system directory), they are looked up there instead: a seam for tests, which
// put a stand-in there.
#pragma once

#include "platform/dynlib.h"
#include "telemetry/d3dkmt_types.h"

namespace tarvelon {

struct D3dkmtFunctions {
    D3dkmtEnumAdapters2Function enumAdapters2;
    D3dkmtCloseAdapterFunction closeAdapter;
    D3dkmtQueryAdapterInfoFunction queryAdapterInfo;
    D3dkmtQueryStatisticsFunction queryStatistics;
};

// Loads the library at path and looks the four functions up. Returns the library, which must stay
// loaded while the functions are used, or null (nothing kept) when it does not load or lacks any.
DynamicLibrary* loadD3dkmtFunctions(const char16_t* path, D3dkmtFunctions* functions);

// The process's functions, looked up on first use and kept for the life of the process; null when
// this Windows (or Wine) does not provide all four.
const D3dkmtFunctions* systemD3dkmtFunctions();

}  // namespace tarvelon
