#include "platform/posix/kept_file.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace tarvelon {

KeptFile::~KeptFile() {
    close();
}

KeptFile::KeptFile(KeptFile&& other) noexcept
    : path_(std::move(other.path_)),
      fd_(std::exchange(other.fd_, -1)),
      kernelFile_(other.kernelFile_),
      room_(other.room_) {}

KeptFile& KeptFile::operator=(KeptFile&& other) noexcept {
    if (this != &other) {
        close();
        path_ = std::move(other.path_);
        fd_ = std::exchange(other.fd_, -1);
        kernelFile_ = other.kernelFile_;
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
        fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) return false;
        struct statfs filesystem;
        kernelFile_ = fstatfs(fd_, &filesystem) == 0 &&
                      (filesystem.f_type == PROC_SUPER_MAGIC || filesystem.f_type == SYSFS_MAGIC);
    }
    text->resize(room_);
    size_t length = 0;
    for (;;) {
        const ssize_t got = pread(fd_, &(*text)[length], text->size() - length, static_cast<off_t>(length));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            close();
            return false;
        }
        length += static_cast<size_t>(got);
        // Kernel files fill every read they can: a short one is the end.
        if (length < text->size()) break;
        room_ *= 2;
        text->resize(room_);
    }
    text->resize(length);
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
