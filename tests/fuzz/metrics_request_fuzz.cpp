// What a client of the agent's metrics endpoint controls, after the HTTP library has split the request:
// the method and path, the probe target, the scrape timeout header, and what the operator gives to
// --probe-allow and --metrics; and a label value from the wire through the exposition's escaping. A
// target is taken only when short, printable and complete; an allowed network holds its own address;
// an escaped value reads back as itself.
//
// Input: up to seven texts separated by 0 bytes: method, path, target, timeout header, network list,
// listen address, label value. A text absent from the input is null where the endpoint allows it.
#include <cstring>
#include <string>
#include <vector>

#include "agent/exposition.h"
#include "agent/metrics_request.h"
#include "fuzz_input.h"

using namespace tarvelon;

namespace {

std::string unescaped(const std::string& escaped) {
    std::string value;
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '\\') {
            FUZZ_CHECK(escaped[i] != '\n' && escaped[i] != '"');
            value += escaped[i];
            continue;
        }
        FUZZ_CHECK(i + 1 < escaped.size());
        const char next = escaped[++i];
        FUZZ_CHECK(next == '\\' || next == '"' || next == 'n');
        value += next == 'n' ? '\n' : next;
    }
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> texts;
    const char* at = reinterpret_cast<const char*>(data);
    const char* end = at + size;
    while (at < end && texts.size() < 7) {
        const char* stop = static_cast<const char*>(std::memchr(at, 0, static_cast<size_t>(end - at)));
        if (stop == nullptr) stop = end;
        texts.emplace_back(at, stop);
        at = stop + 1;
    }
    auto text = [&](size_t index) { return index < texts.size() ? texts[index].c_str() : nullptr; };

    const MetricsRoute route = routeRequest(text(0) ? text(0) : "", text(1) ? text(1) : "");
    if (route == MetricsRoute::Metrics || route == MetricsRoute::Probe)
        FUZZ_CHECK(std::strcmp(text(0), "GET") == 0 || std::strcmp(text(0), "HEAD") == 0);

    QueryTarget target;
    std::string reason;
    if (parseProbeTarget(text(2), &target, &reason)) {
        const std::string given = text(2);
        FUZZ_CHECK(given.size() <= kLongestProbeTarget);
        for (char c : given) FUZZ_CHECK(c > 0x20 && c < 0x7F);
        FUZZ_CHECK(!target.host.empty() && target.port != 0);
    } else {
        FUZZ_CHECK(!reason.empty() && reason.find('\n') == std::string::npos);
    }

    probeTimeLeftMs(text(3), size);

    std::vector<IpNetwork> networks;
    if (text(4) != nullptr && parseNetworkList(text(4), &networks, &reason)) {
        FUZZ_CHECK(!networks.empty());
        for (const IpNetwork& network : networks) {
            FUZZ_CHECK(network.prefixBits >= 0 &&
                       network.prefixBits <= (network.address.family == IpFamily::IPv4 ? 32 : 128));
            FUZZ_CHECK(networkContains(network, network.address));
        }
    }

    MetricsListen listen;
    if (text(5) != nullptr && parseMetricsListen(text(5), &listen, &reason)) FUZZ_CHECK(listen.port != 0);

    if (text(6) != nullptr) FUZZ_CHECK(unescaped(escapeLabelValue(texts[6])) == texts[6]);
    return 0;
}
