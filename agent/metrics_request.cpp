#include "agent/metrics_request.h"

#include <cstdlib>
#include <cstring>

#include "agent/agent_options.h"
#include "agent/port_text.h"
#include "net/allow_list.h"

namespace tarvelon {
namespace {

int familyBits(IpFamily family) {
    return family == IpFamily::IPv4 ? 32 : 128;
}

bool parseNetwork(const std::string& text, IpNetwork* network) {
    const size_t slash = text.find('/');
    const std::string address = text.substr(0, slash);
    // A scope names an interface, not a network.
    if (address.find('%') != std::string::npos || !parseListenAddress(address, &network->address))
        return false;
    const int bits = familyBits(network->address.family);
    network->prefixBits = bits;
    if (slash != std::string::npos) {
        const std::string prefix = text.substr(slash + 1);
        if (prefix.empty() || prefix.size() > 3 ||
            prefix.find_first_not_of("0123456789") != std::string::npos)
            return false;
        network->prefixBits = std::atoi(prefix.c_str());
        if (network->prefixBits > bits) return false;
    }
    if (isMappedIPv4(network->address) && network->prefixBits >= 96) {
        network->address = unmappedIPv4(network->address);
        network->prefixBits -= 96;
    }
    for (int bit = network->prefixBits; bit < familyBits(network->address.family); ++bit)
        network->address.bytes[bit / 8] &= static_cast<uint8_t>(~(0x80u >> (bit % 8)));
    return true;
}

}  // namespace

bool parseMetricsListen(const std::string& text, MetricsListen* listen, std::string* message) {
    *listen = MetricsListen{false, IpAddress{}, kDefaultTarvelonPort};
    if (text.size() > 1 && text[0] == ':' && text.find(':', 1) == std::string::npos) {
        listen->everyAddress = true;
        if (parsePort(text.substr(1), &listen->port)) return true;
        *message = "invalid port in '" + text + "': give a number from 1 to 65535";
        return false;
    }
    // Otherwise ADDRESS[:PORT] is split as a query target is.
    QueryTarget target;
    if (!parseQueryTarget(text, &target, message)) return false;
    listen->port = target.port;
    if (!parseListenAddress(target.host, &listen->address)) {
        *message = "invalid address in '" + text + "': give a numeric IPv4 or IPv6 address of this machine";
        return false;
    }
    return true;
}

bool parseNetworkList(const std::string& text, std::vector<IpNetwork>* networks, std::string* message) {
    networks->clear();
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string item =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        IpNetwork network{};
        if (!parseNetwork(item, &network)) {
            *message = "'" + item + "' is not a network such as 192.0.2.0/24 or 2001:db8::/32";
            return false;
        }
        networks->push_back(network);
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

bool networkContains(const IpNetwork& network, const IpAddress& address) {
    return networkHolds(network.address, network.prefixBits, address);
}

bool anyNetworkContains(const std::vector<IpNetwork>& networks, const IpAddress& address) {
    const IpAddress matched = unmappedIPv4(address);
    for (const IpNetwork& network : networks) {
        if (networkContains(network, matched)) return true;
    }
    return false;
}

MetricsRoute routeRequest(const std::string& method, const std::string& path) {
    if (method != "GET" && method != "HEAD") return MetricsRoute::MethodNotAllowed;
    if (path == "/metrics") return MetricsRoute::Metrics;
    if (path == "/probe") return MetricsRoute::Probe;
    if (path == "/") return MetricsRoute::Landing;
    if (path == "/-/healthy") return MetricsRoute::Healthy;
    return MetricsRoute::NotFound;
}

unsigned bodyRefusalStatus(const char* contentLength, const char* transferEncoding) {
    if (transferEncoding != nullptr) return 400;  // chunked: no length to judge by
    if (contentLength == nullptr) return 0;
    const size_t digits = std::strspn(contentLength, "0123456789");
    if (digits == 0 || contentLength[digits] != 0) return 400;
    const char* significant = contentLength + std::strspn(contentLength, "0");
    if (*significant == 0) return 0;
    // More than 19 digits would not fit a number: large either way.
    return std::strlen(significant) > 19 || std::strtoull(significant, nullptr, 10) > kLargestSmallBody ? 413
                                                                                                        : 400;
}

bool parseProbeTarget(const char* argument, QueryTarget* target, std::string* reason) {
    if (argument == nullptr || argument[0] == 0) {
        *reason = "no target given: ask for /probe?target=HOST[:PORT]";
        return false;
    }
    const size_t length = std::strlen(argument);
    if (length > kLongestProbeTarget) {
        *reason = "target longer than " + std::to_string(kLongestProbeTarget) + " characters";
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(argument[i]);
        if (c <= 0x20 || c >= 0x7F) {
            *reason = "target holds a space, a control character or a character beyond ASCII";
            return false;
        }
    }
    std::string message;
    if (!parseQueryTarget(argument, target, &message)) {
        *reason = "malformed target: " + message;
        return false;
    }
    return true;
}

uint32_t probeTimeLeftMs(const char* scrapeTimeoutHeader, uint64_t spentMs) {
    double scrapeMs = kDefaultScrapeTimeoutMs;
    if (scrapeTimeoutHeader != nullptr) {
        char* end = nullptr;
        const double seconds = std::strtod(scrapeTimeoutHeader, &end);
        if (end != scrapeTimeoutHeader && *end == 0 && seconds > 0 && seconds < 86400)
            scrapeMs = seconds * 1000.0;
    }
    const double left = scrapeMs - static_cast<double>(spentMs) - kProbeAnswerMarginMs;
    return left > 0 ? static_cast<uint32_t>(left) : 0;
}

}  // namespace tarvelon
