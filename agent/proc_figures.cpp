#include "agent/proc_figures.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace tarvelon {
namespace {

constexpr uint64_t kCounter32 = uint64_t{1} << 32;
constexpr uint64_t kLargestWrap = uint64_t{1} << 31;

// Moves *at past prefix when the line starts with it.
bool startsWith(const char*& at, const char* lineEnd, const char* prefix) {
    const size_t length = std::strlen(prefix);
    if (static_cast<size_t>(lineEnd - at) < length || std::memcmp(at, prefix, length) != 0) return false;
    at += length;
    return true;
}

// Calls take(line, lineEnd) for each line of text, its newline left out.
template <class Take>
void forEachLine(const std::string& text, Take take) {
    const char* line = text.c_str();
    const char* const end = line + text.size();
    while (line < end) {
        const char* lineEnd = static_cast<const char*>(std::memchr(line, '\n', end - line));
        if (lineEnd == nullptr) lineEnd = end;
        take(line, lineEnd);
        line = lineEnd + 1;
    }
}

int32_t perSecond(uint64_t bytes, double seconds) {
    const double rate = static_cast<double>(bytes) / seconds;
    return rate >= 2147483647.0 ? 2147483647 : static_cast<int32_t>(rate);
}

}  // namespace

bool parseProcStat(const std::string& text, ProcStat* stat) {
    std::fill(std::begin(stat->times), std::end(stat->times), 0);
    stat->processors.clear();  // keeps its capacity for the next pass
    stat->forks = 0;
    stat->forksRead = false;
    bool aggregate = false;
    forEachLine(text, [&](const char* line, const char* lineEnd) {
        const char* field = line;
        if (startsWith(field, lineEnd, "cpu ")) {
            int count = 0;
            while (count < kProcessorTimeFields && nextDecimal(&field, lineEnd, &stat->times[count])) ++count;
            aggregate = count >= 4;  // user nice system idle at least; older kernels stop there
        } else if (startsWith(field, lineEnd, "cpu")) {
            uint64_t processor = 0;
            if (field < lineEnd && *field >= '0' && *field <= '9' &&
                nextDecimal(&field, lineEnd, &processor) && (field == lineEnd || *field == ' ') &&
                processor < kMostProcessorNumber) {
                stat->processors.push_back(static_cast<int>(processor));
            }
        } else if (startsWith(field, lineEnd, "processes ")) {
            stat->forksRead = nextDecimal(&field, lineEnd, &stat->forks);
        }
    });
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

bool parseMemoryFigures(const std::string& text, bool strictCommit, MemoryStatus* status) {
    // Without strict accounting CommitLimit binds nothing (it can be less than the physical memory):
    // what can still be had is the physical memory and the swap, as parseMeminfo counts it.
    if (!parseMeminfo(text, status)) return false;
    if (!strictCommit) return true;
    uint64_t commitLimit = 0, committed = 0;
    meminfoBytes(text, "CommitLimit", &commitLimit);
    meminfoBytes(text, "Committed_AS", &committed);
    // Committed_AS can still pass the limit (the limit was lowered); nothing is then available.
    status->totalPageFile = commitLimit;
    status->availPageFile = committed < commitLimit ? commitLimit - committed : 0;
    return true;
}

bool strictOvercommit(const std::string& text) {
    return text.compare(0, 1, "2") == 0;
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

void parseCpuinfoMegahertz(const std::string& text, std::vector<double>* megahertz) {
    megahertz->clear();
    forEachLine(text, [megahertz](const char* line, const char* lineEnd) {
        const char* field = line;
        const char* colon = static_cast<const char*>(std::memchr(line, ':', lineEnd - line));
        if (colon != nullptr && startsWith(field, lineEnd, "cpu MHz")) {
            char* parsed = nullptr;
            const double value = std::strtod(colon + 1, &parsed);
            if (parsed != colon + 1 && parsed <= lineEnd && value > 0) megahertz->push_back(value);
        }
    });
}

bool parseKilohertz(const std::string& text, double* kilohertz) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !(value > 0)) return false;
    *kilohertz = value;
    return true;
}

}  // namespace tarvelon
