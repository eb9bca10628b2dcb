// /probe?target=HOST[:PORT]: one query to a Tarvelon server through the poll threads' own exchange,
// answered as exposition text. The target must resolve into an allowed network before any datagram
// leaves; probes in flight are capped; and each target address is sent no more than its own reply
// budget would answer, so a busy Prometheus cannot make the agent a flood source.
#pragma once

#include <string>
#include <vector>

#include "agent/metrics_request.h"

namespace tarvelon {

constexpr int kMostProbesInFlight = 8;

struct HttpAnswer {
    unsigned status;
    std::string body;
    bool exposition;  // the body is exposition text, else one line of plain text
};

// target: the query's target argument, scrapeTimeout: Prometheus's header; either null when absent.
HttpAnswer answerProbe(const char* target, const char* scrapeTimeout, const std::vector<IpNetwork>& allowed);

}  // namespace tarvelon
