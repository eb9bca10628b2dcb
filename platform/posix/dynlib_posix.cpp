#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "platform/dynlib.h"
#include "platform/text16.h"

namespace tarvelon {

struct DynamicLibrary {
    void* handle;
    std::string path;
};

bool systemLibraryPath(const char16_t* fileName, char16_t (&path)[kLibraryPathUnits]) {
    const char* directory = std::getenv("TARVELON_SYSTEM_DIR");
    std::string name = toUtf8(fileName);
    const std::string windowsSuffix = ".dll";
    if (name.size() > windowsSuffix.size() &&
        name.compare(name.size() - windowsSuffix.size(), windowsSuffix.size(), windowsSuffix) == 0) {
        name = "lib" + name.substr(0, name.size() - windowsSuffix.size()) + ".so";
    }
    const std::u16string full =
        fromUtf8(std::string(directory != nullptr && *directory != 0 ? directory : "/usr/lib") + "/" + name);
    if (full.size() >= kLibraryPathUnits) return false;
    copyText16(path, kLibraryPathUnits, full.c_str());
    return true;
}

bool libraryPathFromEnvironment(const char* variable, char16_t (&path)[kLibraryPathUnits]) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == 0) return false;
    const std::u16string full = fromUtf8(value);
    if (full.size() >= kLibraryPathUnits) return false;
    copyText16(path, kLibraryPathUnits, full.c_str());
    return true;
}

DynamicLibrary* loadLibraryAt(const char16_t* path) {
    const std::string file = toUtf8(path);
    if (file.empty() || file[0] != '/') return nullptr;  // a bare name would go through the search path
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return nullptr;
    return new DynamicLibrary{handle, file};
}

void freeLibrary(DynamicLibrary* library) {
    dlclose(library->handle);
    delete library;
}

void* librarySymbol(DynamicLibrary* library, const char* name) {
    return dlsym(library->handle, name);
}

uint32_t libraryIdentityStamp(DynamicLibrary* library) {
    struct stat status;
    if (stat(library->path.c_str(), &status) != 0) return 0;
    const uint64_t mixed = static_cast<uint64_t>(status.st_mtim.tv_sec) * 1000000007u +
                           static_cast<uint64_t>(status.st_mtim.tv_nsec) * 31u +
                           static_cast<uint64_t>(status.st_size) * 131u +
                           static_cast<uint64_t>(status.st_ino);
    return static_cast<uint32_t>(mixed ^ (mixed >> 32));
}

}  // namespace tarvelon
