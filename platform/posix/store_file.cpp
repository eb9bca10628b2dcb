// The settings store off Windows: one text file per key in a per-user directory, with the registry's
// names, types and byte sizes. A key is read whole when opened and, if anything changed, written back
// whole when closed, to a temporary file that then replaces the old one, so a crash never leaves half
// a file. Lines that cannot be parsed are skipped: a damaged file loses those values, nothing more.
//
// Directory: $TARVELON_STORE_DIR, else $XDG_CONFIG_HOME/tarvelon, else $HOME/.config/tarvelon.
// Line format: <type number> TAB <value name, UTF-8> TAB <data as hex bytes>.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/posix/proc_text.h"
#include "platform/store.h"
#include "platform/text16.h"

namespace tarvelon {

// Far above what a key's values take as hex; the bound only keeps a stray huge file out of memory.
constexpr size_t kMostKeyFileBytes = size_t{64} << 20;

struct StoreValue {
    std::string name;
    uint32_t type;
    std::vector<uint8_t> data;
};

struct StoreKey {
    std::string file;
    std::vector<StoreValue> values;
    bool dirty;
};

namespace {

std::mutex fileLock;  // one process writes a key file at a time

std::string storeDirectory() {
    if (const char* dir = std::getenv("TARVELON_STORE_DIR"); dir != nullptr && *dir != 0) return dir;
    if (const char* dir = std::getenv("XDG_CONFIG_HOME"); dir != nullptr && *dir != 0) {
        return std::string(dir) + "/tarvelon";
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : ".") + "/.config/tarvelon";
}

void makeDirectories(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0700);
    }
    mkdir(path.c_str(), 0700);
}

std::string keyFile(const char16_t* path) {
    std::string name;
    for (const char16_t* p = path; *p != 0; ++p) {
        const char16_t c = *p;
        const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
        name += plain ? static_cast<char>(c) : '_';
    }
    return storeDirectory() + "/" + name + ".values";
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool parseLine(const std::string& line, StoreValue& value) {
    const size_t first = line.find('\t');
    const size_t second = first == std::string::npos ? first : line.find('\t', first + 1);
    if (second == std::string::npos) return false;
    char* end = nullptr;
    const unsigned long type = std::strtoul(line.c_str(), &end, 10);
    if (end != line.c_str() + first) return false;
    const std::string hex = line.substr(second + 1);
    if (hex.size() % 2 != 0) return false;
    value.type = static_cast<uint32_t>(type);
    value.name = line.substr(first + 1, second - first - 1);
    value.data.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = hexDigit(hex[i]);
        const int low = hexDigit(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        value.data.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return true;
}

StoreValue* findValue(StoreKey* key, const std::string& name) {
    for (StoreValue& value : key->values) {
        if (value.name == name) return &value;
    }
    return nullptr;
}

bool writeFile(const StoreKey& key) {
    const size_t slash = key.file.rfind('/');
    makeDirectories(key.file.substr(0, slash));
    const std::string temporary = key.file + ".tmp";
    std::string text;
    static const char* digits = "0123456789abcdef";
    for (const StoreValue& value : key.values) {
        text += std::to_string(value.type) + "\t" + value.name + "\t";
        for (uint8_t byte : value.data) {
            text += digits[byte >> 4];
            text += digits[byte & 15];
        }
        text += "\n";
    }
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    const bool complete = written == text.size() && fsync(fd) == 0;
    close(fd);
    if (!complete || rename(temporary.c_str(), key.file.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

StoreKey* openUserKey(const char16_t* path, StoreAccess access) {
    std::lock_guard<std::mutex> guard(fileLock);
    auto* key = new StoreKey{keyFile(path), {}, false};
    std::string text;
    if (!readTextFile(key->file, &text, kMostKeyFileBytes)) {
        if (access == StoreAccess::Read) {
            delete key;
            return nullptr;
        }
        key->dirty = true;  // creating the key creates its file, even with no values
        return key;
    }
    for (size_t start = 0; start < text.size();) {
        size_t stop = text.find('\n', start);
        if (stop == std::string::npos) stop = text.size();
        StoreValue value;
        if (parseLine(text.substr(start, stop - start), value) && findValue(key, value.name) == nullptr)
            key->values.push_back(value);
        start = stop + 1;
    }
    return key;
}

void closeUserKey(StoreKey* key) {
    if (key == nullptr) return;
    if (key->dirty) {
        std::lock_guard<std::mutex> guard(fileLock);
        writeFile(*key);
    }
    delete key;
}

StoreStatus readStoreValue(StoreKey* key, const char16_t* name, void* buffer, uint32_t* byteCount,
                           uint32_t* type) {
    const StoreValue* value = findValue(key, toUtf8(name));
    if (value == nullptr) return StoreStatus::NotFound;
    if (type != nullptr) *type = value->type;
    const uint32_t size = static_cast<uint32_t>(value->data.size());
    if (size > *byteCount) {
        *byteCount = size;
        return StoreStatus::MoreData;
    }
    if (size != 0) std::memcpy(buffer, value->data.data(), size);
    *byteCount = size;
    return StoreStatus::Ok;
}

bool writeStoreValue(StoreKey* key, const char16_t* name, StoreType type, const void* data,
                     uint32_t byteCount) {
    const std::string utf8 = toUtf8(name);
    if (utf8.empty() || utf8.find_first_of("\t\n\r") != std::string::npos) return false;
    StoreValue* value = findValue(key, utf8);
    if (value == nullptr) {
        key->values.push_back({utf8, 0, {}});
        value = &key->values.back();
    }
    value->type = static_cast<uint32_t>(type);
    const auto* bytes = static_cast<const uint8_t*>(data);
    value->data.assign(bytes, bytes + byteCount);
    key->dirty = true;
    return true;
}

bool deleteStoreValue(StoreKey* key, const char16_t* name) {
    const std::string utf8 = toUtf8(name);
    for (size_t i = 0; i < key->values.size(); ++i) {
        if (key->values[i].name == utf8) {
            key->values.erase(key->values.begin() + static_cast<long>(i));
            key->dirty = true;
            break;
        }
    }
    return true;
}

bool deleteUserKey(const char16_t* path) {
    std::lock_guard<std::mutex> guard(fileLock);
    return unlink(keyFile(path).c_str()) == 0;
}

// Beside the settings, so that one TARVELON_STORE_DIR keeps a test's whole state.
std::u16string historyFolder() {
    return fromUtf8(storeDirectory() + "/history");
}

}  // namespace tarvelon
