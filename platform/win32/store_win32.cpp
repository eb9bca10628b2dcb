// The settings store on Windows: the current user's registry.
#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/store.h"

namespace tarvelon {

struct StoreKey {
    HKEY root;
    HKEY key;
};

namespace {
const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
}  // namespace

StoreKey* openUserKey(const char16_t* path, StoreAccess access) {
    HKEY root = nullptr;
    if (RegOpenCurrentUser(access == StoreAccess::Read ? KEY_READ : KEY_ALL_ACCESS, &root) != ERROR_SUCCESS) {
        return nullptr;
    }
    HKEY key = nullptr;
    const LONG result = access == StoreAccess::Read ? RegOpenKeyW(root, wide(path), &key)
                                                    : RegCreateKeyW(root, wide(path), &key);
    if (result != ERROR_SUCCESS) {
        RegCloseKey(root);
        return nullptr;
    }
    return new StoreKey{root, key};
}

void closeUserKey(StoreKey* key) {
    if (key == nullptr) return;
    RegCloseKey(key->key);
    RegCloseKey(key->root);
    delete key;
}

StoreStatus readStoreValue(StoreKey* key, const char16_t* name, void* buffer, uint32_t* byteCount,
                           uint32_t* type) {
    // Read into a scratch buffer first: Windows leaves the caller's buffer undefined on ERROR_MORE_DATA.
    std::vector<BYTE> scratch(*byteCount + 1);
    DWORD size = *byteCount;
    DWORD storedType = 0;
    const LONG result = RegQueryValueExW(key->key, wide(name), nullptr, &storedType, scratch.data(), &size);
    if (type != nullptr) *type = storedType;
    if (result == ERROR_FILE_NOT_FOUND) return StoreStatus::NotFound;
    if (result == ERROR_MORE_DATA) {
        *byteCount = size;
        return StoreStatus::MoreData;
    }
    if (result != ERROR_SUCCESS) return StoreStatus::Failed;
    memcpy(buffer, scratch.data(), size);
    *byteCount = size;
    return StoreStatus::Ok;
}

bool writeStoreValue(StoreKey* key, const char16_t* name, StoreType type, const void* data,
                     uint32_t byteCount) {
    return RegSetValueExW(key->key, wide(name), 0, static_cast<DWORD>(type), static_cast<const BYTE*>(data),
                          byteCount) == ERROR_SUCCESS;
}

bool deleteStoreValue(StoreKey* key, const char16_t* name) {
    const LONG result = RegDeleteValueW(key->key, wide(name));
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

bool deleteUserKey(const char16_t* path) {
    HKEY root = nullptr;
    if (RegOpenCurrentUser(KEY_ALL_ACCESS, &root) != ERROR_SUCCESS) return false;
    const bool deleted = RegDeleteKeyW(root, wide(path)) == ERROR_SUCCESS;
    RegCloseKey(root);
    return deleted;
}

}  // namespace tarvelon
