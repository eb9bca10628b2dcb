#include "settings/start_with_windows.h"

#include <cstdint>

#include "platform/store.h"
#include "platform/text16.h"

namespace tarvelon {

const char16_t kRunKeyPath[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char16_t kRunValueName[] = u"Tarvelon";
const char16_t kStartupApprovedKeyPath[] =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";

namespace {

// Quotes, path and terminator.
constexpr int kCommandUnits = kProgramPathChars + 3;

char16_t foldCase(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

void deleteRunValue(const char16_t* keyPath) {
    if (StoreKey* key = openUserKey(keyPath, StoreAccess::Write)) {
        deleteStoreValue(key, kRunValueName);
        closeUserKey(key);
    }
}

}  // namespace

bool runCommandNames(const char16_t* command, const char16_t* programPath) {
    const char16_t* begin = command;
    while (isBlank(*begin)) ++begin;
    const char16_t* end;
    if (*begin == u'"') {
        ++begin;
        end = begin;
        while (*end != 0 && *end != u'"') ++end;
    } else {
        end = begin + text16Length(begin, kCommandUnits);
        while (end > begin && isBlank(end[-1])) --end;
    }
    const char16_t* path = programPath;
    for (const char16_t* c = begin; c != end; ++c, ++path) {
        if (*path == 0 || foldCase(*c) != foldCase(*path)) return false;
    }
    return begin != end && *path == 0;
}

bool startsWithWindows(const char16_t* programPath) {
    StoreKey* key = openUserKey(kRunKeyPath, StoreAccess::Read);
    if (key == nullptr) return false;
    char16_t command[kCommandUnits + 1] = {};
    uint32_t size = kCommandUnits * 2;
    uint32_t type = 0;
    const bool read = readStoreValue(key, kRunValueName, command, &size, &type) == StoreStatus::Ok &&
                      type == static_cast<uint32_t>(StoreType::String);
    closeUserKey(key);
    return read && runCommandNames(command, programPath);
}

bool setStartWithWindows(const char16_t* programPath, bool on) {
    deleteRunValue(kStartupApprovedKeyPath);
    if (!on) {
        deleteRunValue(kRunKeyPath);
        return startsWithWindows(programPath);
    }
    if (text16Length(programPath, kProgramPathChars + 1) > static_cast<size_t>(kProgramPathChars)) return false;
    if (StoreKey* key = openUserKey(kRunKeyPath, StoreAccess::Write)) {
        char16_t command[kCommandUnits];
        const int units = format16(command, kCommandUnits, u"\"%s\"", programPath);
        writeStoreText(key, kRunValueName, command, static_cast<size_t>(units));
        closeUserKey(key);
    }
    return startsWithWindows(programPath);
}

void deleteStartWithWindows() {
    deleteRunValue(kRunKeyPath);
    deleteRunValue(kStartupApprovedKeyPath);
}

}  // namespace tarvelon
