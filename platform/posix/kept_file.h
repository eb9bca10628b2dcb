// Kernel files and directories kept open between passes. A read starts again at offset 0, where
// /proc and /sys produce fresh contents, so a pass pays no path lookup, open, check or close.
#pragma once

#include <dirent.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace tarvelon {

class KeptFile {
  public:
    KeptFile() = default;
    explicit KeptFile(std::string path) : path_(std::move(path)) {}
    ~KeptFile();
    KeptFile(KeptFile&& other) noexcept;
    KeptFile& operator=(KeptFile&& other) noexcept;

    // The whole contents into text (whose capacity serves the next read); false when the file cannot
    // be opened or read. Only a file of /proc or /sys stays open; any other file is opened by its
    // path on every read.
    bool read(std::string* text);

  private:
    void close();

    std::string path_;
    int fd_ = -1;
    bool kernelFile_ = false;
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
