#include "platform/posix/kept_file.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace tarvelon {

int openRegularFile(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool readFromStart(int fd, std::string* text, size_t mostBytes, size_t* room, PositionalRead read) {
    *room = std::max<size_t>(std::min(*room, mostBytes), 1);
    text->resize(*room);
    size_t length = 0;
    for (;;) {
        if (length == text->size()) {
            // One byte past the bound tells a file at the bound from a longer one.
            if (text->size() > mostBytes) return false;
            *room = std::min(text->size() * 2, mostBytes + 1);
            text->resize(*room);
        }
        const ssize_t got = read(fd, &(*text)[length], text->size() - length, static_cast<off_t>(length));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;
        length += static_cast<size_t>(got);
    }
    text->resize(length);
    return true;
}

KeptFile::~KeptFile() {
    close();
}

KeptFile::KeptFile(KeptFile&& other) noexcept
    : path_(std::move(other.path_)),
      fd_(std::exchange(other.fd_, -1)),
      kernelFile_(other.kernelFile_),
      mostBytes_(other.mostBytes_),
      room_(other.room_) {}

KeptFile& KeptFile::operator=(KeptFile&& other) noexcept {
    if (this != &other) {
        close();
        path_ = std::move(other.path_);
        fd_ = std::exchange(other.fd_, -1);
        kernelFile_ = other.kernelFile_;
        mostBytes_ = other.mostBytes_;
        room_ = other.room_;
    }
    return *this;
}

void KeptFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool KeptFile::read(std::string* text) {
    if (fd_ < 0) {
        fd_ = openRegularFile(path_.c_str());
        if (fd_ < 0) return false;
        struct statfs filesystem;
        kernelFile_ = fstatfs(fd_, &filesystem) == 0 &&
                      (filesystem.f_type == PROC_SUPER_MAGIC || filesystem.f_type == SYSFS_MAGIC);
    }
    if (!readFromStart(fd_, text, mostBytes_, &room_)) {
        close();
        return false;
    }
    // An ordinary file (in a tree standing in for /proc) can be replaced between reads.
    if (!kernelFile_) close();
    return true;
}

KeptDirectory::~KeptDirectory() {
    if (directory_ != nullptr) closedir(directory_);
}

KeptDirectory::KeptDirectory(KeptDirectory&& other) noexcept
    : path_(std::move(other.path_)), directory_(std::exchange(other.directory_, nullptr)) {}

KeptDirectory& KeptDirectory::operator=(KeptDirectory&& other) noexcept {
    if (this != &other) {
        if (directory_ != nullptr) closedir(directory_);
        path_ = std::move(other.path_);
        directory_ = std::exchange(other.directory_, nullptr);
    }
    return *this;
}

bool KeptDirectory::countNumericEntries(int32_t* count) {
    if (directory_ == nullptr) {
        directory_ = opendir(path_.c_str());
        if (directory_ == nullptr) return false;
    } else {
        rewinddir(directory_);
    }
    *count = 0;
    while (const dirent* entry = readdir(directory_)) {
        const char* name = entry->d_name;
        bool digits = *name != 0;
        for (const char* c = name; *c != 0 && digits; ++c) digits = *c >= '0' && *c <= '9';
        if (digits) ++*count;
    }
    return true;
}

}  // namespace tarvelon
