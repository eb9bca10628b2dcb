#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/files.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

// A read or write may move fewer bytes than asked, or be interrupted: true once all have moved. move
// takes the bytes, their count and the file offset they start at.
template <class Byte, class Move>
bool moveWhole(Byte* at, size_t size, int64_t offset, Move move) {
    while (size > 0) {
        const ssize_t done = move(at, size, offset);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        at += done;
        offset += done;
        size -= static_cast<size_t>(done);
    }
    return true;
}

bool writeAll(int fd, const char* bytes, size_t size) {
    return moveWhole(bytes, size, 0,
                     [fd](const char* at, size_t count, int64_t) { return ::write(fd, at, count); });
}

bool writeFile(const char16_t* path, int flags, const char* bytes, size_t size) {
    const int fd = ::open(toUtf8(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0644);
    if (fd < 0) return false;
    const bool written = writeAll(fd, bytes, size);
    return ::close(fd) == 0 && written;
}

bool isDirectory(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

int64_t fileSize(const char16_t* path) {
    struct stat status {};
    if (::stat(toUtf8(path).c_str(), &status) != 0) return -1;
    return static_cast<int64_t>(status.st_size);
}

bool appendToFile(const char16_t* path, const char* bytes, size_t size) {
    const int fd = ::open(toUtf8(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const off_t before = ::lseek(fd, 0, SEEK_END);
    const bool written = before >= 0 && writeAll(fd, bytes, size);
    if (!written && before >= 0) (void)::ftruncate(fd, before);  // a part of a row is worse than none
    return ::close(fd) == 0 && written;
}

bool replaceFile(const char16_t* path, const char* bytes, size_t size) {
    return writeFile(path, O_TRUNC, bytes, size);
}

bool createDirectories(const char16_t* path) {
    const std::string whole = toUtf8(path);
    if (whole.empty()) return false;
    for (size_t at = 1; at <= whole.size(); ++at) {
        if (at != whole.size() && whole[at] != '/') continue;
        const std::string part = whole.substr(0, at);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return isDirectory(whole);
}

bool renameFile(const char16_t* from, const char16_t* to) {
    return ::rename(toUtf8(from).c_str(), toUtf8(to).c_str()) == 0;
}

bool deleteFile(const char16_t* path) {
    return ::unlink(toUtf8(path).c_str()) == 0;
}

struct PlacedFile {
    int fd;
};

PlacedFile* openPlacedFile(const char16_t* path, bool writable) {
    const int fd =
        ::open(toUtf8(path).c_str(), writable ? O_RDWR | O_CREAT | O_CLOEXEC : O_RDONLY | O_CLOEXEC, 0644);
    return fd < 0 ? nullptr : new PlacedFile{fd};
}

void closePlacedFile(PlacedFile* file) {
    if (file == nullptr) return;
    ::close(file->fd);
    delete file;
}

int64_t placedFileSize(PlacedFile* file) {
    struct stat status {};
    return ::fstat(file->fd, &status) == 0 ? static_cast<int64_t>(status.st_size) : -1;
}

bool readPlaced(PlacedFile* file, int64_t offset, void* bytes, size_t size) {
    return moveWhole(static_cast<char*>(bytes), size, offset, [file](char* at, size_t count, int64_t from) {
        return ::pread(file->fd, at, count, from);
    });
}

bool writePlaced(PlacedFile* file, int64_t offset, const void* bytes, size_t size) {
    return moveWhole(
        static_cast<const char*>(bytes), size, offset,
        [file](const char* at, size_t count, int64_t from) { return ::pwrite(file->fd, at, count, from); });
}

bool resizePlaced(PlacedFile* file, int64_t size) {
    return ::ftruncate(file->fd, size) == 0;
}

int listFolder(const char16_t* folder, FolderFile* files, int capacity) {
    const std::string path = toUtf8(folder);
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return 0;
    int count = 0;
    while (count < capacity) {
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) break;
        struct stat status {};
        if (::stat((path + "/" + entry->d_name).c_str(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
        const std::u16string name = fromUtf8(entry->d_name);
        if (name.size() >= kFolderNameUnits) continue;
        name.copy(files[count].name, name.size());
        files[count].name[name.size()] = 0;
        files[count].written = static_cast<int64_t>(status.st_mtime);
        ++count;
    }
    ::closedir(dir);
    return count;
}

}  // namespace tarvelon
