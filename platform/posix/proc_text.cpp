#include "platform/posix/proc_text.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace tarvelon {

bool readTextFile(const std::string& path, std::string* text, size_t mostBytes) {
    const int fd = openRegularFile(path.c_str());
    if (fd < 0) return false;
    size_t room = 4096;
    const bool read = readFromStart(fd, text, mostBytes, &room);
    close(fd);
    return read;
}

namespace {

const char* lineEnd(const char* line, const char* end) {
    const auto* newline = static_cast<const char*>(std::memchr(line, '\n', static_cast<size_t>(end - line)));
    return newline != nullptr ? newline : end;
}

}  // namespace

bool nextDecimal(const char** at, const char* end, uint64_t* value) {
    const char* c = *at;
    while (c < end && *c == ' ') ++c;
    if (c == end || *c < '0' || *c > '9') return false;
    uint64_t number = 0;
    for (; c < end && *c >= '0' && *c <= '9'; ++c) {
        const uint64_t digit = static_cast<uint64_t>(*c - '0');
        // A number past 64 bits would wrap into a plausible small one.
        if (number > (UINT64_MAX - digit) / 10) return false;
        number = number * 10 + digit;
    }
    *value = number;
    *at = c;
    return true;
}

bool meminfoBytes(const std::string& text, const char* name, uint64_t* bytes) {
    const size_t nameLength = std::strlen(name);
    const char* const end = text.data() + text.size();
    for (const char* line = text.data(); line < end; line = lineEnd(line, end) + 1) {
        if (static_cast<size_t>(end - line) <= nameLength || line[nameLength] != ':' ||
            std::memcmp(line, name, nameLength) != 0)
            continue;
        const char* value = line + nameLength + 1;
        uint64_t kilobytes = 0;
        if (!nextDecimal(&value, lineEnd(value, end), &kilobytes)) return false;
        *bytes = kilobytes * 1024;
        return true;
    }
    return false;
}

bool parseMeminfo(const std::string& text, MemoryStatus* status) {
    uint64_t total, available, swapTotal = 0, swapFree = 0;
    if (!meminfoBytes(text, "MemTotal", &total)) return false;
    if (!meminfoBytes(text, "MemAvailable", &available) && !meminfoBytes(text, "MemFree", &available))
        return false;
    meminfoBytes(text, "SwapTotal", &swapTotal);
    meminfoBytes(text, "SwapFree", &swapFree);
    *status = MemoryStatus{total, available, total + swapTotal, available + swapFree};
    return true;
}

bool parseCpuTimes(const std::string& text, uint64_t* busy, uint64_t* total) {
    if (text.compare(0, 4, "cpu ") != 0) return false;
    const char* at = text.data() + 4;
    const char* const end = lineEnd(at, text.data() + text.size());
    uint64_t sum = 0, idle = 0, value;
    int field = 0;
    // user nice system idle iowait irq softirq steal; guest time is already inside user and nice.
    while (field < 8 && nextDecimal(&at, end, &value)) {
        sum += value;
        if (field == 3 || field == 4) idle += value;
        ++field;
    }
    if (field < 4) return false;
    *busy = sum - idle;
    *total = sum;
    return true;
}

bool parseLoadavgThreads(const std::string& text, int32_t* threads) {
    // "0.52 0.58 0.59 3/1234 56789": the fourth field, after the slash.
    const char* at = text.data();
    const char* const end = lineEnd(at, text.data() + text.size());
    for (int space = 0; space < 3; ++space) {
        at = static_cast<const char*>(std::memchr(at, ' ', static_cast<size_t>(end - at)));
        if (at == nullptr) return false;
        ++at;
    }
    uint64_t running = 0, total = 0;
    if (!nextDecimal(&at, end, &running) || at == end || *at != '/') return false;
    ++at;
    if (!nextDecimal(&at, end, &total) || total > INT32_MAX) return false;
    *threads = static_cast<int32_t>(total);
    return true;
}

std::vector<InterfaceBytes> parseNetDev(const std::string& text) {
    std::vector<InterfaceBytes> interfaces;
    const char* const end = text.data() + text.size();
    for (const char* line = text.data(); line < end; line = lineEnd(line, end) + 1) {
        const char* const stop = lineEnd(line, end);
        const auto* colon =
            static_cast<const char*>(std::memchr(line, ':', static_cast<size_t>(stop - line)));
        if (colon == nullptr) continue;  // the two heading lines
        const char* first = line;
        while (first < colon && *first == ' ') ++first;
        const char* at = colon + 1;
        uint64_t values[9];
        int count = 0;
        while (count < 9 && nextDecimal(&at, stop, &values[count])) ++count;
        if (count < 9 || first == colon) continue;
        // Receive has 8 columns (bytes first), then transmit bytes.
        interfaces.push_back(InterfaceBytes{std::string(first, colon), values[0], values[8]});
    }
    return interfaces;
}

}  // namespace tarvelon
