#include "platform/posix/proc_text.h"

#include <cinttypes>
#include <cstdio>
#include <sstream>

namespace tarvelon {

bool readTextFile(const std::string& path, std::string* text) {
    FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr) return false;
    text->clear();
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text->append(chunk, got);
    std::fclose(file);
    return true;
}
namespace {

// The value of a "Name:   123 kB" line, in bytes.
bool meminfoField(const std::string& text, const char* name, uint64_t* bytes) {
    const std::string key = std::string("\n") + name + ":";
    const std::string padded = "\n" + text;
    const size_t at = padded.find(key);
    if (at == std::string::npos) return false;
    unsigned long long kilobytes = 0;
    if (std::sscanf(padded.c_str() + at + key.size(), "%llu", &kilobytes) != 1) return false;
    *bytes = static_cast<uint64_t>(kilobytes) * 1024;
    return true;
}

}  // namespace

bool parseMeminfo(const std::string& text, MemoryStatus* status) {
    uint64_t total, available, swapTotal = 0, swapFree = 0;
    if (!meminfoField(text, "MemTotal", &total)) return false;
    if (!meminfoField(text, "MemAvailable", &available) && !meminfoField(text, "MemFree", &available))
        return false;
    meminfoField(text, "SwapTotal", &swapTotal);
    meminfoField(text, "SwapFree", &swapFree);
    *status = MemoryStatus{total, available, total + swapTotal, available + swapFree};
    return true;
}

bool parseCpuTimes(const std::string& text, uint64_t* busy, uint64_t* total) {
    std::istringstream line(text.substr(0, text.find('\n')));
    std::string label;
    line >> label;
    if (label != "cpu") return false;
    uint64_t sum = 0, idle = 0, value;
    int field = 0;
    // user nice system idle iowait irq softirq steal; guest time is already inside user and nice.
    while (field < 8 && line >> value) {
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
    double load1, load5, load15;
    int running, total;
    if (std::sscanf(text.c_str(), "%lf %lf %lf %d/%d", &load1, &load5, &load15, &running, &total) != 5)
        return false;
    *threads = total;
    return true;
}

std::vector<InterfaceBytes> parseNetDev(const std::string& text) {
    std::vector<InterfaceBytes> interfaces;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;  // the two heading lines
        const size_t first = line.find_first_not_of(' ');
        std::istringstream fields(line.substr(colon + 1));
        uint64_t values[9];
        int count = 0;
        while (count < 9 && fields >> values[count]) ++count;
        if (count < 9 || first >= colon) continue;
        // Receive has 8 columns (bytes first), then transmit bytes.
        interfaces.push_back(InterfaceBytes{line.substr(first, colon - first), values[0], values[8]});
    }
    return interfaces;
}

}  // namespace tarvelon
