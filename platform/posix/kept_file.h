// Kernel files and directories kept open between passes. A read starts again at offset 0, where
// /proc and /sys produce fresh contents, so a pass pays no path lookup, open, check or close. Every
// read takes regular files only and at most a bound, so that a FIFO or a device standing in a tree
// under --root can neither hang a pass nor fill memory.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace tarvelon {

// A sysfs value or a short /proc file.
constexpr size_t kKernelFileBytes = 64 * 1024;
// /proc's lists, which grow with the processors and interfaces (/proc/cpuinfo of 1024 processors).
constexpr size_t kKernelListBytes = 4 * 1024 * 1024;

// path opened for reading without blocking (a FIFO opens at once); -1 when it cannot be opened or
// is not a regular file.
int openRegularFile(const char* path);

// The contents of fd from offset 0 into text, read until a read returns 0 (seq_file files such as
// /proc/net/dev give about a page a read, whatever was asked); room is the first read's size and
// keeps what the file needed. False on a read error or past mostBytes. read is pread but for tests.
using PositionalRead = ssize_t (*)(int fd, void* buffer, size_t bytes, off_t offset);
bool readFromStart(int fd, std::string* text, size_t mostBytes, size_t* room, PositionalRead read = pread);

class KeptFile {
  public:
    KeptFile() = default;
    explicit KeptFile(std::string path, size_t mostBytes = kKernelFileBytes)
        : path_(std::move(path)), mostBytes_(mostBytes) {}
    ~KeptFile();
    KeptFile(KeptFile&& other) noexcept;
    KeptFile& operator=(KeptFile&& other) noexcept;

    // The whole contents into text (whose capacity serves the next read); false when the file cannot
    // be opened or read, is not a regular file or is longer than its bound. Only a file of /proc or /sys
    // stays open; any other file is opened by its path on every read.
    bool read(std::string* text);

  private:
    void close();

    std::string path_;
    int fd_ = -1;
    bool kernelFile_ = false;
    size_t mostBytes_ = kKernelFileBytes;
    size_t room_ = 4096;  // what the last read needed, so one pread usually takes the whole file
};

class KeptDirectory {
  public:
    KeptDirectory() = default;
    explicit KeptDirectory(std::string path) : path_(std::move(path)) {}
    ~KeptDirectory();
    KeptDirectory(KeptDirectory&& other) noexcept;
    KeptDirectory& operator=(KeptDirectory&& other) noexcept;

    // How many entries have names of digits only (the processes of /proc); false when the directory
    // cannot be opened.
    bool countNumericEntries(int32_t* count);

  private:
    std::string path_;
    DIR* directory_ = nullptr;
};

}  // namespace tarvelon
