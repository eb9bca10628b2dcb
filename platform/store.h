// The per-user settings store, with the registry's semantics: named values of type REG_DWORD or
// REG_SZ under one key, read into a caller buffer with an in/out byte count that reports "not found"
// and "more data", deleted one by one, or deleted with the whole key.
// Windows: the current user's registry. Native: one file per key that is replaced atomically.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvelon {

enum class StoreType : uint32_t { String = 1, Dword = 4 };  // REG_SZ, REG_DWORD
enum class StoreStatus { Ok, NotFound, MoreData, Failed };
enum class StoreAccess { Read, Write };

struct StoreKey;

// Opens the key at path under the current user's root; Write access creates it when missing.
// Returns null on failure.
StoreKey* openUserKey(const char16_t* path, StoreAccess access);
void closeUserKey(StoreKey* key);

// Reads a value. On entry *byteCount is the buffer size; on return it is the stored size. A value
// larger than the buffer gives MoreData and leaves the buffer untouched. type may be null.
StoreStatus readStoreValue(StoreKey* key, const char16_t* name, void* buffer, uint32_t* byteCount,
                           uint32_t* type);
bool writeStoreValue(StoreKey* key, const char16_t* name, StoreType type, const void* data,
                     uint32_t byteCount);
// Writes the first length units of text as a string value: little-endian UTF-16 with its terminator,
// as the registry stores REG_SZ. False for a text of kStoreTextUnits units or more.
constexpr size_t kStoreTextUnits = 2048;
bool writeStoreText(StoreKey* key, const char16_t* name, const char16_t* text, size_t length);
// Deleting an absent value is no error.
bool deleteStoreValue(StoreKey* key, const char16_t* name);

// Deletes the key at path with all its values.
bool deleteUserKey(const char16_t* path);

}  // namespace tarvelon
