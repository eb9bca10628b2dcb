// tarvelon-query: asks one Tarvelon server for its figures with one query under the protocol's own
// client rules (the exchange a poll thread makes) and prints the records it accepted.
#include <netdb.h>

#include <cstdio>
#include <string>
#include <vector>

#include "agent/query_tool.h"
#include "net/poll_exchange.h"
#include "net/protocol.h"
#include "platform/sockets.h"
#include "platform/text16.h"
#include "tarvelon_version.h"

using namespace tarvelon;

namespace {

int presentGpuCount(const SlotRecords& records) {
    int count = 0;
    for (const GpuRecord& gpu : records.gpus) count += gpu.present != 0 ? 1 : 0;
    return count;
}

int fail(int status, const std::string& message) {
    std::fprintf(stderr, "tarvelon-query: %s\n", message.c_str());
    return status;
}

std::string targetText(const QueryTarget& target) {
    const bool ipv6 = target.host.find(':') != std::string::npos;
    return (ipv6 ? "[" + target.host + "]" : target.host) + ":" + std::to_string(target.port);
}

}  // namespace

int main(int argc, char** argv) {
    QueryOptions options;
    std::string message;
    switch (parseQueryOptions(argc, argv, &options, &message)) {
        case QueryOptionsOutcome::Help:
            std::fputs(queryUsageText(), stdout);
            return 0;
        case QueryOptionsOutcome::Version:
            std::fputs("tarvelon-query " TARVELON_VERSION "\n", stdout);
            return 0;
        case QueryOptionsOutcome::Error:
            return fail(2, message + "\nTry 'tarvelon-query --help' for more information.");
        case QueryOptionsOutcome::Run:
            break;
    }
    int32_t socketError = 0;
    startSockets(&socketError);

    const std::string server = targetText(options.target);
    const uint32_t timeoutMs = options.highLatency ? kHighLatencyReceiveTimeoutMs : kReceiveTimeoutMs;
    ResolvedAddress address;
    const int32_t resolved =
        resolveUdpAddress(fromUtf8(options.target.host).c_str(),
                          fromUtf8(std::to_string(options.target.port)).c_str(), &address);
    if (resolved != 0)
        return fail(2, "cannot resolve '" + options.target.host + "': " + gai_strerror(resolved));

    static ServerSlot slot;  // the exchange stores an accepted reply in a slot, as a poll thread's does
    slot.HighLatency.store(options.highLatency ? 1 : 0);
    std::vector<uint8_t> buffer(kDatagramBufferBytes);
    exchangeWithServer(slot, address, 1, buffer.data());

    switch (slot.Status.load()) {
        case kStatusOk:
            break;
        case kStatusNoResponse:
            return fail(1, "no answer from " + server + " within " + std::to_string(timeoutMs) + " ms");
        case kStatusVersionMismatch:
            return fail(
                1, server + " answered, but not with a full reply to this query (wrong sequence or code)");
        case kStatusSocketError:
            return fail(1, "cannot open a socket for " + server);
        default:
            return fail(1, "cannot send the query to " + server);
    }
    const SlotRecords records = readSlotRecords(slot);
    if (!options.processes) {
        std::fputs((options.json ? recordsAsJson(records) : recordsAsText(records)).c_str(), stdout);
        return 0;
    }
    // The buffer still holds the accepted reply: only a server that announces the question is asked it.
    if (!announcesProcesses(buffer.data()))
        return fail(1, server + " does not tell which processes use its GPUs (an earlier version)");
    ProcessAnswer answer;
    if (presentGpuCount(records) > 0) {
        if (!exchangeProcesses(address, 2, timeoutMs, buffer.data(), &answer))
            return fail(1, "cannot send the processes question to " + server);
        if (answer.gpuCount == 0)
            return fail(1, "no answer to the processes question from " + server + " within " +
                               std::to_string(timeoutMs) + " ms");
    } else {
        answer = ProcessAnswer{};
    }
    std::fputs((options.json ? processesAsJson(records, answer) : processesAsText(records, answer)).c_str(),
               stdout);
    return 0;
}
