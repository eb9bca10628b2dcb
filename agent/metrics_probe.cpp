#include "agent/metrics_probe.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <random>
#include <vector>

#include "agent/exposition.h"
#include "agent/machine_figures.h"
#include "net/poll_exchange.h"
#include "net/protocol.h"
#include "net/reply_budget.h"
#include "net/slot_table.h"
#include "platform/clock.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

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

double elapsedSeconds(uint64_t startMs) {
    return static_cast<double>(tickCountMs() - startMs) / 1000.0;
}

HttpAnswer failed(uint64_t startMs) {
    return HttpAnswer{200, probeExposition(false, elapsedSeconds(startMs), nullptr), true};
}

}  // namespace

HttpAnswer answerProbe(const char* target, const char* scrapeTimeout, const std::vector<IpNetwork>& allowed) {
    const uint64_t startMs = tickCountMs();
    QueryTarget parsed;
    std::string reason;
    if (!parseProbeTarget(target, &parsed, &reason)) return text(400, reason);

    // Counted from here: a slow resolver holds a probe as much as a slow target does.
    const InFlight inFlight;
    if (!inFlight.admitted) return text(503, "too many probes in flight; try again later");

    ResolvedAddress address;
    if (resolveUdpAddress(fromUtf8(parsed.host).c_str(), fromUtf8(std::to_string(parsed.port)).c_str(),
                          &address) != 0)
        return failed(startMs);
    SocketAddress socketAddress{};
    std::memcpy(socketAddress.bytes, address.bytes, sizeof socketAddress.bytes);
    socketAddress.length = address.length;
    IpAddress resolved;
    if (!senderIpAddress(socketAddress, &resolved) || !anyNetworkContains(allowed, resolved))
        return text(403, "target outside the networks of --probe-allow");
    if (!probeWaitFits(scrapeTimeout, tickCountMs() - startMs)) return failed(startMs);
    {
        std::lock_guard<std::mutex> guard(budgetLock);
        if (!takeFullReply(targetBudget(), resolved, tickCountMs()))
            return text(429, "this target was probed more often than it answers; try again later");
    }

    ServerSlot slot{};
    std::vector<uint8_t> buffer(kDatagramBufferBytes);
    exchangeWithServer(slot, address, static_cast<uint8_t>(nextSequence.fetch_add(1)), buffer.data());
    if (slot.Status.load() != kStatusOk) return failed(startMs);
    const MachineFigures figures = replyMachineFigures(readSlotRecords(slot));
    return HttpAnswer{200, probeExposition(true, elapsedSeconds(startMs), &figures), true};
}

}  // namespace tarvelon
