// Files the program writes for the user (the CSV log, a saved history): append to a file, replace a
// file, create a folder with its parents. Paths are UTF-16, as settings keep them; "/" and "\" both
// separate folders on Windows.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvelon {

// The file's size in bytes, or -1 when it does not exist or cannot be looked at.
int64_t fileSize(const char16_t* path);
// Appends size bytes, creating the file when missing: all of them or none. False when the file cannot
// be opened or not every byte was written, and then the file is cut back to its length before.
bool appendToFile(const char16_t* path, const char* bytes, size_t size);
// Replaces the file's contents with size bytes.
bool replaceFile(const char16_t* path, const char* bytes, size_t size);
// Creates the folder and any missing parents; true when it exists afterwards.
bool createDirectories(const char16_t* path);

}  // namespace tarvelon
