// The agent's HTTP endpoint for Prometheus, served by libmicrohttpd: GET /metrics with the agent's
// own figures and, with allowed networks, GET /probe?target=; over TLS and behind a password when the
// web configuration asks for them. Requests are bounded in size and time
// and connections in number; every rule lives in metrics_request, metrics_probe and exposition.
#pragma once

#include <string>
#include <vector>

#include "agent/agent_sampler.h"
#include "agent/metrics_request.h"
#include "agent/web_config.h"

namespace tarvelon {

struct MetricsServerSetup {
    MetricsListen listen;
    std::vector<IpNetwork> probeAllow;  // empty: /probe answers 404
    AgentSampler* sampler;
    std::string ignoredInterfaces;  // a POSIX extended expression; empty: every interface shown
    WebConfig web;  // TLS and users; default: plain HTTP for everyone
};

// Starts serving on threads of the library's own; false with a message when it cannot listen.
bool startMetricsServer(const MetricsServerSetup& setup, std::string* message);

}  // namespace tarvelon
