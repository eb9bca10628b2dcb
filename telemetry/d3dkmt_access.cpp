#include "telemetry/d3dkmt_access.h"

#include "platform/dynlib.h"
#include "platform/text16.h"

namespace tarvelon {

DynamicLibrary* loadD3dkmtFunctions(const char16_t* path, D3dkmtFunctions* functions) {
    DynamicLibrary* library = loadLibraryAt(path);
    if (library == nullptr) return nullptr;
    functions->enumAdapters2 =
        reinterpret_cast<D3dkmtEnumAdapters2Function>(librarySymbol(library, "D3DKMTEnumAdapters2"));
    functions->closeAdapter =
        reinterpret_cast<D3dkmtCloseAdapterFunction>(librarySymbol(library, "D3DKMTCloseAdapter"));
    functions->queryAdapterInfo =
        reinterpret_cast<D3dkmtQueryAdapterInfoFunction>(librarySymbol(library, "D3DKMTQueryAdapterInfo"));
    functions->queryStatistics =
        reinterpret_cast<D3dkmtQueryStatisticsFunction>(librarySymbol(library, "D3DKMTQueryStatistics"));
    if (functions->enumAdapters2 != nullptr && functions->closeAdapter != nullptr &&
        functions->queryAdapterInfo != nullptr && functions->queryStatistics != nullptr) {
        return library;
    }
    freeLibrary(library);
    return nullptr;
}

const D3dkmtFunctions* systemD3dkmtFunctions() {
    static D3dkmtFunctions functions;
    // Kept loaded for the life of the process: the adapter handles are the library's.
    static DynamicLibrary* const library = []() -> DynamicLibrary* {
        char16_t named[kLibraryPathUnits];
        if (!libraryPathFromEnvironment("TARVELON_D3DKMT_DLL", named)) {
            copyText16(named, kLibraryPathUnits, u"gdi32.dll");
        }
        // A bare file name is one in the system directory, never one found through a search path.
        bool bare = true;
        for (const char16_t* unit = named; *unit != 0; ++unit) bare = bare && *unit != u'\\' && *unit != u'/';
        char16_t path[kLibraryPathUnits];
        if (!bare) {
            copyText16(path, kLibraryPathUnits, named);
        } else if (!systemLibraryPath(named, path)) {
            return nullptr;
        }
        return loadD3dkmtFunctions(path, &functions);
    }();
    return library != nullptr ? &functions : nullptr;
}

}  // namespace tarvelon
