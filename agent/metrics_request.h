// The rules of the agent's metrics endpoint, apart from the HTTP library that carries them: the
// listen address of --metrics, the networks of --probe-allow, which request goes where, what a probe
// target may be and how long a probe may wait.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "agent/query_tool.h"
#include "platform/sockets.h"

namespace tarvelon {

struct MetricsListen {
    bool everyAddress;  // ":PORT": IPv6 and IPv4 wildcards both
    IpAddress address;
    uint16_t port;
};

// "127.0.0.1:9999", "[::1]:9999", ":9999", or an address alone for the default port.
bool parseMetricsListen(const std::string& text, MetricsListen* listen, std::string* message);

struct IpNetwork {
    IpAddress address;  // host bits cleared
    int prefixBits;
};

// "10.0.0.0/8,192.0.2.7,2001:db8::/32"; an address without a prefix is a network of itself.
bool parseNetworkList(const std::string& text, std::vector<IpNetwork>* networks, std::string* message);
// Same family and the same leading prefixBits. A network within the IPv4-mapped range is parsed as
// the IPv4 network it carries.
bool networkContains(const IpNetwork& network, const IpAddress& address);
// An IPv4-mapped IPv6 address is matched as the IPv4 address it carries, so it neither slips
// through an IPv6-only list nor past an IPv4 one.
bool anyNetworkContains(const std::vector<IpNetwork>& networks, const IpAddress& address);

enum class MetricsRoute { Metrics, Probe, Landing, Healthy, NotFound, MethodNotAllowed };
// GET and HEAD are served; path is the request target without its query.
MetricsRoute routeRequest(const std::string& method, const std::string& path);

// No route takes a body, and reading one would hold a connection for as long as the client trickles
// it: a request that announces one (its Content-Length and Transfer-Encoding header values, null when
// absent) is answered at once with 400, or 413 past kLargestSmallBody bytes; 0 for a request without.
constexpr uint64_t kLargestSmallBody = 4096;
unsigned bodyRefusalStatus(const char* contentLength, const char* transferEncoding);

// The target argument of /probe (null when absent): HOST[:PORT] as tarvelon-query takes it, at most
// kLongestProbeTarget characters of printable ASCII. False with a one-line reason for a 400.
constexpr size_t kLongestProbeTarget = 261;  // a 253-character name, ':' and a port, or brackets
bool parseProbeTarget(const char* argument, QueryTarget* target, std::string* reason);

// How long a probe may still take after spentMs of its scrape: the scrape timeout Prometheus
// announces (its header value, null when absent or unreadable: Prometheus's default of 10 s) less
// a margin to answer in; 0 when nothing is left.
constexpr uint32_t kProbeAnswerMarginMs = 50;
constexpr uint32_t kDefaultScrapeTimeoutMs = 10000;
uint32_t probeTimeLeftMs(const char* scrapeTimeoutHeader, uint64_t spentMs);

}  // namespace tarvelon
