#include "telemetry/d3dkmt_access.h"

#include "platform/dynlib.h"

namespace tarvelon {

bool loadD3dkmtFunctions(const char16_t* path, D3dkmtFunctions* functions) {
    DynamicLibrary* library = loadLibraryAt(path);
    if (library == nullptr) return false;
    functions->enumAdapters2 =
        reinterpret_cast<D3dkmtEnumAdapters2Function>(librarySymbol(library, "D3DKMTEnumAdapters2"));
    functions->closeAdapter = reinterpret_cast<D3dkmtCloseAdapterFunction>(librarySymbol(library, "D3DKMTCloseAdapter"));
    functions->queryAdapterInfo =
        reinterpret_cast<D3dkmtQueryAdapterInfoFunction>(librarySymbol(library, "D3DKMTQueryAdapterInfo"));
    functions->queryStatistics =
        reinterpret_cast<D3dkmtQueryStatisticsFunction>(librarySymbol(library, "D3DKMTQueryStatistics"));
    if (functions->enumAdapters2 != nullptr && functions->closeAdapter != nullptr &&
        functions->queryAdapterInfo != nullptr && functions->queryStatistics != nullptr) {
        return true;  // kept loaded: gdi32 stays in the process anyway, and handles depend on it
    }
    freeLibrary(library);
    return false;
}

const D3dkmtFunctions* systemD3dkmtFunctions() {
    static D3dkmtFunctions functions;
    static const bool found = [] {
        char16_t path[kLibraryPathUnits];
        if (!libraryPathFromEnvironment("TARVELON_D3DKMT_DLL", path) && !systemLibraryPath(u"gdi32.dll", path)) {
            return false;
        }
        return loadD3dkmtFunctions(path, &functions);
    }();
    return found ? &functions : nullptr;
}

}  // namespace tarvelon
