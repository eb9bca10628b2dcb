// Files the program writes for the user (the CSV log, a saved history): append to a file, replace a
// file, create a folder with its parents. Paths are UTF-16, as settings keep them; "/" and "\" both
// separate folders on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

bool renameFile(const char16_t* from, const char16_t* to);
bool deleteFile(const char16_t* path);

// A file read and written in place at offsets, as the history's archives are: they never grow.
struct PlacedFile;
// Opens the file for reading, and for writing too when writable (creating it when missing); null when
// it cannot be.
PlacedFile* openPlacedFile(const char16_t* path, bool writable);
void closePlacedFile(PlacedFile* file);
int64_t placedFileSize(PlacedFile* file);
// All size bytes at offset, or false.
bool readPlaced(PlacedFile* file, int64_t offset, void* bytes, size_t size);
bool writePlaced(PlacedFile* file, int64_t offset, const void* bytes, size_t size);
bool resizePlaced(PlacedFile* file, int64_t size);

// A file of a folder and the wall-clock second it was last written.
constexpr int kFolderNameUnits = 260;
struct FolderFile {
    char16_t name[kFolderNameUnits];
    int64_t written;
};
// The plain files of folder, up to capacity of them; returns how many were filled in.
int listFolder(const char16_t* folder, FolderFile* files, int capacity);

// Where the history's archives live: %LOCALAPPDATA%\Tarvelon\History on Windows, history/ in the
// settings folder elsewhere.
std::u16string historyFolder();

}  // namespace tarvelon
