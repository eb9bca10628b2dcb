#include "agent/agent_log.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "net/server_rules.h"
#include "platform/sockets.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

std::mutex logLock;

struct ErrorMeaning {
    int32_t code;
    const char* meaning;
};

constexpr ErrorMeaning kSocketErrorMeanings[] = {
    {10013, "permission denied"},
    {kSocketErrorMessageSize, "a datagram was larger than the receive buffer"},
    {10047, "this address family is not available"},
    {kSocketErrorAddressInUse, "the port is already in use"},
    {10049, "the address is not one of this machine's"},
};

// The message on one line: the server's line breaks become single spaces.
std::string flatten(const char16_t* message) {
    std::string text;
    bool space = false;
    for (char c : toUtf8(message)) {
        if (c == '\r' || c == '\n') {
            space = !text.empty();
            continue;
        }
        if (space) text += ' ';
        space = false;
        text += c;
    }
    return text;
}

// The Winsock number after "Code : " in a server message, or 0.
int32_t errorCodeIn(const std::string& message) {
    const size_t at = message.find("Code : ");
    return at == std::string::npos ? 0 : std::atoi(message.c_str() + at + 7);
}

struct GapSource {
    bool HostSourceGaps::*field;
    const char* missing;
    const char* back;
};

constexpr GapSource kGapSources[] = {
    {&HostSourceGaps::processorTimes, "cannot read /proc/stat: processor load and count are not updated",
     "/proc/stat readable again"},
    {&HostSourceGaps::memory, "cannot read /proc/meminfo: memory figures are not updated",
     "/proc/meminfo readable again"},
    {&HostSourceGaps::frequencies,
     "no processor frequencies in /sys (cpufreq) or /proc/cpuinfo: the CPU clock shows 0",
     "processor frequencies found again"},
    {&HostSourceGaps::network, "cannot read /proc/net/dev: network traffic shows 0",
     "/proc/net/dev readable again"},
};

}  // namespace

void logLine(const std::string& text) {
    std::lock_guard<std::mutex> guard(logLock);
    if (std::getenv("JOURNAL_STREAM") == nullptr) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &local);
        std::fputs(stamp, stderr);
    }
    std::fprintf(stderr, "tarvelon-agent: %s\n", text.c_str());
    std::fflush(stderr);
}

std::string serverStateLine(int32_t state, const char16_t* message, uint16_t port) {
    if (state == kServerRunning) return "query server running on UDP port " + std::to_string(port);
    if (state != kServerError) return "query server " + toUtf8(serverStateNameOf(state));
    std::string line = "query server error: " + flatten(message);
    const int32_t code = errorCodeIn(line);
    for (const ErrorMeaning& entry : kSocketErrorMeanings) {
        if (entry.code == code) return line + " (" + entry.meaning + ")";
    }
    return line;
}

std::string gpuOutcomeLine(NvmlOpenOutcome outcome, int32_t count, const std::string& library) {
    switch (outcome) {
        case NvmlOpenOutcome::NoLibrary:
            return "no NVIDIA GPUs: " + library + " could not be loaded (no NVIDIA driver)";
        case NvmlOpenOutcome::InitFailed:
            return "no NVIDIA GPUs: " + library + " did not start (is the NVIDIA driver loaded?)";
        case NvmlOpenOutcome::CountFailed:
            return "no NVIDIA GPUs: " + library + " could not count the GPUs";
        case NvmlOpenOutcome::Ready:
            break;
    }
    std::string line = std::to_string(count) + (count == 1 ? " GPU" : " GPUs") + " found through " + library;
    if (count > kGpuSlots) line += "; the first " + std::to_string(kGpuSlots) + " are shown";
    return line;
}

std::vector<std::string> hostGapLines(const HostSourceGaps& before, const HostSourceGaps& now) {
    std::vector<std::string> lines;
    for (const GapSource& source : kGapSources) {
        if (before.*source.field == now.*source.field) continue;
        lines.push_back(now.*source.field ? source.missing : source.back);
    }
    return lines;
}

}  // namespace tarvelon
