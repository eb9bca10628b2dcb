#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/files.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

bool writeAll(int fd, const char* bytes, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool writeFile(const char16_t* path, int flags, const char* bytes, size_t size) {
    const int fd = ::open(toUtf8(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0644);
    if (fd < 0) return false;
    const bool written = writeAll(fd, bytes, size);
    return ::close(fd) == 0 && written;
}

bool isDirectory(const std::string& path) {
    struct stat status{};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

int64_t fileSize(const char16_t* path) {
    struct stat status{};
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

}  // namespace tarvelon
