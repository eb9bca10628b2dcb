#include <windows.h>
// After windows.h.
#include <shlobj.h>

#include <string>

#include "platform/files.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

const wchar_t* wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

// WriteFile takes a DWORD's worth at a time; true when every byte went out.
bool writeWhole(HANDLE file, const char* bytes, size_t size) {
    while (size > 0) {
        const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        DWORD done = 0;
        if (WriteFile(file, bytes, chunk, &done, nullptr) == FALSE || done != chunk) return false;
        bytes += chunk;
        size -= chunk;
    }
    return true;
}

bool writeFile(const char16_t* path, DWORD access, DWORD disposition, const char* bytes, size_t size) {
    // Sharing reads and writes: the user may open the log in another program while it grows.
    HANDLE file = CreateFileW(wide(path), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool written = writeWhole(file, bytes, size);
    return CloseHandle(file) != FALSE && written;
}

bool isDirectory(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(wide(path.c_str()));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

int64_t fileSize(const char16_t* path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExW(wide(path), GetFileExInfoStandard, &data) == FALSE) return -1;
    return static_cast<int64_t>(static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow);
}

bool appendToFile(const char16_t* path, const char* bytes, size_t size) {
    HANDLE file = CreateFileW(wide(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER before{};
    const bool atEnd = SetFilePointerEx(file, LARGE_INTEGER{}, &before, FILE_END) != FALSE;
    const bool written = atEnd && writeWhole(file, bytes, size);
    // A part of a row is worse than none: cut the file back.
    if (!written && atEnd && SetFilePointerEx(file, before, nullptr, FILE_BEGIN) != FALSE) SetEndOfFile(file);
    return CloseHandle(file) != FALSE && written;
}

bool replaceFile(const char16_t* path, const char* bytes, size_t size) {
    return writeFile(path, GENERIC_WRITE, CREATE_ALWAYS, bytes, size);
}

bool createDirectories(const char16_t* path) {
    const std::u16string whole(path);
    if (whole.empty()) return false;
    for (size_t at = 1; at <= whole.size(); ++at) {
        if (at != whole.size() && whole[at] != u'\\' && whole[at] != u'/') continue;
        const std::u16string part = whole.substr(0, at);
        // "C:" and "\\server\share" are no folders to create; the last part tells.
        CreateDirectoryW(wide(part.c_str()), nullptr);
    }
    return isDirectory(whole);
}

bool renameFile(const char16_t* from, const char16_t* to) {
    return MoveFileExW(wide(from), wide(to), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool deleteFile(const char16_t* path) {
    return DeleteFileW(wide(path)) != FALSE;
}

struct PlacedFile {
    HANDLE handle;
};

PlacedFile* openPlacedFile(const char16_t* path, bool writable) {
    // Shared both ways: an export reads while the panel writes.
    HANDLE handle = CreateFileW(wide(path), writable ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                writable ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle == INVALID_HANDLE_VALUE ? nullptr : new PlacedFile{handle};
}

void closePlacedFile(PlacedFile* file) {
    if (file == nullptr) return;
    CloseHandle(file->handle);
    delete file;
}

int64_t placedFileSize(PlacedFile* file) {
    LARGE_INTEGER size{};
    return GetFileSizeEx(file->handle, &size) != FALSE ? static_cast<int64_t>(size.QuadPart) : -1;
}

bool readPlaced(PlacedFile* file, int64_t offset, void* bytes, size_t size) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD done = 0;
    return ReadFile(file->handle, bytes, static_cast<DWORD>(size), &done, &at) != FALSE && done == size;
}

bool writePlaced(PlacedFile* file, int64_t offset, const void* bytes, size_t size) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD done = 0;
    return WriteFile(file->handle, bytes, static_cast<DWORD>(size), &done, &at) != FALSE && done == size;
}

bool resizePlaced(PlacedFile* file, int64_t size) {
    LARGE_INTEGER at{};
    at.QuadPart = size;
    return SetFilePointerEx(file->handle, at, nullptr, FILE_BEGIN) != FALSE && SetEndOfFile(file->handle) != FALSE;
}

int listFolder(const char16_t* folder, FolderFile* files, int capacity) {
    const std::u16string pattern = std::u16string(folder) + u"\\*";
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(wide(pattern.c_str()), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        const std::u16string name(reinterpret_cast<const char16_t*>(found.cFileName));
        if (name.size() >= kFolderNameUnits) continue;
        name.copy(files[count].name, name.size());
        files[count].name[name.size()] = 0;
        // 100 ns intervals since 1601 to seconds since 1970.
        const uint64_t ticks = static_cast<uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32 |
                               found.ftLastWriteTime.dwLowDateTime;
        files[count].written = static_cast<int64_t>(ticks / 10000000) - 11644473600;
        ++count;
    } while (count < capacity && FindNextFileW(search, &found) != FALSE);
    FindClose(search);
    return count;
}

std::u16string historyFolder() {
    wchar_t local[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local) != S_OK) return u"";
    return reinterpret_cast<const char16_t*>(local) + std::u16string(u"\\Tarvelon\\History");
}

}  // namespace tarvelon
