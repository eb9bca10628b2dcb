#include <windows.h>

#include <string>

#include "platform/files.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

const wchar_t* wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

bool writeFile(const char16_t* path, DWORD access, DWORD disposition, const char* bytes, size_t size) {
    // Sharing reads and writes: the user may open the log in another program while it grows.
    HANDLE file = CreateFileW(wide(path), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool written = true;
    while (written && size > 0) {
        const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        DWORD done = 0;
        written = WriteFile(file, bytes, chunk, &done, nullptr) != FALSE && done == chunk;
        bytes += chunk;
        size -= chunk;
    }
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
    bool written = atEnd;
    while (written && size > 0) {
        const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        DWORD done = 0;
        written = WriteFile(file, bytes, chunk, &done, nullptr) != FALSE && done == chunk;
        bytes += chunk;
        size -= chunk;
    }
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

}  // namespace tarvelon
