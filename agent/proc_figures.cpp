#include "agent/proc_figures.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace tarvelon {
namespace {

constexpr uint64_t kCounter32 = uint64_t{1} << 32;
constexpr uint64_t kLargestWrap = uint64_t{1} << 31;

// The kB value of a "Name:   123 kB" line, in bytes.
bool meminfoBytes(const std::string& text, const char* name, uint64_t* bytes) {
    const std::string key = std::string("\n") + name + ":";
    const size_t at = ("\n" + text).find(key);
    if (at == std::string::npos) return false;
    unsigned long long kilobytes = 0;
    if (std::sscanf(text.c_str() + at + key.size() - 1, "%llu", &kilobytes) != 1) return false;
    *bytes = static_cast<uint64_t>(kilobytes) * 1024;
    return true;
}

bool isDigits(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

int32_t perSecond(uint64_t bytes, double seconds) {
    const double rate = static_cast<double>(bytes) / seconds;
    return rate >= 2147483647.0 ? 2147483647 : static_cast<int32_t>(rate);
}

}  // namespace

bool parseProcStat(const std::string& text, ProcStat* stat) {
    *stat = ProcStat{};
    bool aggregate = false;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string label;
        fields >> label;
        if (label == "cpu") {
            int count = 0;
            uint64_t value;
            while (count < kProcessorTimeFields && fields >> value) stat->times[count++] = value;
            aggregate = count >= 4;  // user nice system idle at least; older kernels stop there
        } else if (label.size() > 3 && label.compare(0, 3, "cpu") == 0 && isDigits(label.substr(3))) {
            stat->processors.push_back(std::atoi(label.c_str() + 3));
        }
    }
    return aggregate;
}

bool busyPercent(const ProcStat& before, const ProcStat& now, double* percent) {
    uint64_t total = 0;
    uint64_t idle = 0;
    for (int field = 0; field < kProcessorTimeFields; ++field) {
        const uint64_t ticks =
            now.times[field] >= before.times[field] ? now.times[field] - before.times[field] : 0;
        total += ticks;
        if (field == 3 || field == 4) idle += ticks;  // idle and I/O wait
    }
    if (total == 0) return false;
    *percent = 100.0 * static_cast<double>(total - idle) / static_cast<double>(total);
    return true;
}

bool parseMemoryFigures(const std::string& text, MemoryStatus* status) {
    uint64_t total = 0, available = 0, commitLimit = 0, committed = 0;
    if (!meminfoBytes(text, "MemTotal", &total)) return false;
    if (!meminfoBytes(text, "MemAvailable", &available) && !meminfoBytes(text, "MemFree", &available))
        return false;
    meminfoBytes(text, "CommitLimit", &commitLimit);
    meminfoBytes(text, "Committed_AS", &committed);
    // With overcommit the kernel lets Committed_AS pass the limit; nothing is then available.
    const uint64_t commitAvailable = committed < commitLimit ? commitLimit - committed : 0;
    *status = MemoryStatus{total, available, commitLimit, commitAvailable};
    return true;
}

uint64_t counterDelta(uint64_t before, uint64_t now) {
    if (now >= before) return now - before;
    if (before < kCounter32 && kCounter32 - before + now <= kLargestWrap) return kCounter32 - before + now;
    return 0;
}

std::vector<InterfaceRate> interfaceRates(const std::vector<InterfaceBytes>& before,
                                          const std::vector<InterfaceBytes>& now, double seconds) {
    std::vector<InterfaceRate> rates;
    if (!(seconds > 0)) return rates;
    for (const InterfaceBytes& current : now) {
        if (current.name == "lo") continue;
        for (const InterfaceBytes& earlier : before) {
            if (earlier.name != current.name) continue;
            rates.push_back(InterfaceRate{
                current.name, perSecond(counterDelta(earlier.received, current.received), seconds),
                perSecond(counterDelta(earlier.sent, current.sent), seconds)});
            break;
        }
    }
    return rates;
}

bool parseKilohertz(const std::string& text, double* kilohertz) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !(value > 0)) return false;
    *kilohertz = value;
    return true;
}

}  // namespace tarvelon
