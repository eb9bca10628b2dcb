// /probe?target=HOST[:PORT]: one query to a Tarvelon server, answered as exposition text. The target
// must resolve into an allowed network before any datagram leaves; probes in flight are capped; and
// each target address is sent no more than its own reply budget would answer, so a busy Prometheus
// cannot make the agent a flood source. Whatever the target does, the probe ends within the scrape
// timeout Prometheus announces.
#pragma once

#include <string>
#include <vector>

#include "agent/metrics_request.h"

namespace tarvelon {

// Prometheus scrapes a probe job's targets all at once; silent targets each hold a probe for the
// whole wait.
constexpr int kMostProbesInFlight = 64;

struct HttpAnswer {
    unsigned status;
    std::string body;
    bool exposition;  // the body is exposition text, else one line of plain text
};

// target: the query's target argument, scrapeTimeout: Prometheus's header; either null when absent.
// A target that does not resolve or answer is 200 with tarvelon_probe_success 0; 429 and 503 ask
// Prometheus to probe less often or fewer at once.
HttpAnswer answerProbe(const char* target, const char* scrapeTimeout, const std::vector<IpNetwork>& allowed);

}  // namespace tarvelon
