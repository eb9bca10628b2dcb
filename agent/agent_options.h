// The agent's command line: options, their defaults and the help text, parsed into one record, with
// a message for every option it refuses. Also the numeric listen address, IPv4 or IPv6 with an
// optional interface scope.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "agent/metrics_request.h"
#include "agent/web_config.h"
#include "net/allow_list.h"
#include "net/query_server.h"
#include "platform/sockets.h"

namespace tarvelon {

struct AgentOptions {
    uint16_t port;
    std::string name;  // empty: the machine's host name
    ServerListen listen;
    std::string root;  // prefix of /proc and /sys; empty for the machine itself
    std::string nvmlLibrary;
    std::string gpuIdLists;  // directory of amdgpu.ids and pci.ids; empty: where the system keeps them
    bool metricsEnabled;
    MetricsListen metrics;
    std::vector<IpNetwork> probeAllow;  // empty: no probes
    AllowList allow;                    // who may send UDP queries; empty: everyone
    std::string webConfigPath;          // empty: plain HTTP, no passwords
    WebConfig web;                      // read from webConfigPath while the options are parsed
    std::string ignoredInterfaces;      // a POSIX extended expression over whole interface names
    bool collectProcesses;              // /metrics names the processes using each GPU
};

// Loopback, containers' virtual ends and Docker's bridges: traffic counted again on a real interface.
constexpr const char* kDefaultIgnoredInterfaces = "lo|veth.*|docker[0-9]+|br-.*";

enum class OptionsOutcome { Run, Help, Version, Error };

// Parses argv[1..argc-1]; on Error, message says what was wrong with which option.
OptionsOutcome parseAgentOptions(int argc, const char* const* argv, AgentOptions* options,
                                 std::string* message);

const char* agentUsageText();

// "192.0.2.7", "2001:db8::7", "fe80::1%eth0" or "fe80::1%2"; false for anything else.
bool parseListenAddress(const std::string& text, IpAddress* address);

}  // namespace tarvelon
