#include "agent/metrics_probe.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <vector>

#include "agent/exposition.h"
#include "agent/machine_figures.h"
#include "agent/probe_exchange.h"
#include "agent/probe_resolution.h"
#include "net/poll_exchange.h"
#include "net/reply_budget.h"
#include "platform/clock.h"

namespace tarvelon {
namespace {

using ProbeClock = std::chrono::steady_clock;

std::atomic<int> probesInFlight{0};
std::atomic<uint32_t> nextSequence{std::random_device{}()};

// The same bucket the targets keep for each sender, kept here for each target: a probe the target
// would not answer is not sent.
std::mutex budgetLock;
ReplyBudget& targetBudget() {
    static ReplyBudget budget = [] {
        ReplyBudget made;
        resetReplyBudget(made, std::random_device{}());
        return made;
    }();
    return budget;
}

struct InFlight {
    bool admitted;
    InFlight() : admitted(probesInFlight.fetch_add(1) < kMostProbesInFlight) {}
    ~InFlight() { probesInFlight.fetch_sub(1); }
};

HttpAnswer text(unsigned status, const std::string& line) {
    return HttpAnswer{status, line + "\n", false};
}

double secondsSince(ProbeClock::time_point start) {
    return std::chrono::duration<double>(ProbeClock::now() - start).count();
}

uint64_t millisecondsSince(ProbeClock::time_point start) {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(ProbeClock::now() - start).count());
}

HttpAnswer failed(ProbeClock::time_point start) {
    return HttpAnswer{200, probeExposition(false, secondsSince(start), nullptr), true};
}

}  // namespace

HttpAnswer answerProbe(const char* target, const char* scrapeTimeout, const std::vector<IpNetwork>& allowed) {
    const ProbeClock::time_point start = ProbeClock::now();
    QueryTarget parsed;
    std::string reason;
    if (!parseProbeTarget(target, &parsed, &reason)) return text(400, reason);

    // Counted from here: a slow resolver holds a probe as much as a slow target does.
    const InFlight inFlight;
    if (!inFlight.admitted) return text(503, "too many probes in flight; probe fewer targets at once");

    const std::vector<IpAddress> addresses =
        resolveProbeHost(parsed.host, probeTimeLeftMs(scrapeTimeout, millisecondsSince(start)));
    if (addresses.empty()) return failed(start);
    const IpAddress* chosen = nullptr;
    for (const IpAddress& address : addresses) {
        if (anyNetworkContains(allowed, address)) {
            chosen = &address;
            break;
        }
    }
    if (chosen == nullptr) return text(403, "target outside the networks of --probe-allow");
    {
        std::lock_guard<std::mutex> guard(budgetLock);
        if (!takeFullReply(targetBudget(), *chosen, tickCountMs()))
            return text(429, "this target was probed more often than it answers; probe it less often");
    }
    const uint32_t leftMs = probeTimeLeftMs(scrapeTimeout, millisecondsSince(start));
    const uint32_t waitMs = leftMs < kReceiveTimeoutMs ? leftMs : kReceiveTimeoutMs;
    SlotRecords records{};
    if (waitMs == 0 || !queryProbeTarget(*chosen, parsed.port, waitMs,
                                         static_cast<uint8_t>(nextSequence.fetch_add(1)), &records))
        return failed(start);
    const MachineFigures figures = replyMachineFigures(records);
    return HttpAnswer{200, probeExposition(true, secondsSince(start), &figures), true};
}

}  // namespace tarvelon
