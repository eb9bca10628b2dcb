// The agent's HTTP endpoint for Prometheus, served by libmicrohttpd: GET /metrics with the agent's
// own figures and, with allowed networks, GET /probe?target=; over TLS and behind a password when the
// web configuration asks for them, whose file is read again when it changes. Requests are bounded in
// size and time and connections in number; every rule lives in metrics_request, metrics_probe,
// exposition, basic_auth and connection_admission.
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
    WebConfig web;                  // TLS and users; default: plain HTTP for everyone
    std::string webConfigPath;      // where web came from, read again when it changes; empty: none
};

enum class MetricsStart {
    Serving,
    ConfigurationRefused,  // the TLS library refuses the certificate and key, say: a mistake to name
    CannotServe,           // no port, no library
};

// Starts serving on threads of the library's own; otherwise a message says why.
MetricsStart startMetricsServer(const MetricsServerSetup& setup, std::string* message);

// Reads the web configuration again now, whether or not its file changed (SIGHUP).
void rereadMetricsWebConfig();

}  // namespace tarvelon
