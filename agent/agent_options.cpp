#include "agent/agent_options.h"

#include <arpa/inet.h>
#include <net/if.h>

#include <cstdlib>
#include <cstring>

#include "agent/machine_figures.h"
#include "agent/nvml_api.h"
#include "agent/port_text.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

enum class Option {
    Port,
    Name,
    Listen,
    IPv4Only,
    IPv6Only,
    Root,
    Nvml,
    GpuIdLists,
    Metrics,
    ProbeAllow,
    IgnoreInterfaces,
    CollectProcesses,
    Allow,
    WebConfig,
    Help,
    Version
};

struct OptionEntry {
    Option option;
    const char* longName;
    char shortName;  // 0: long form only
    bool takesValue;
};

constexpr OptionEntry kOptions[] = {
    {Option::Port, "port", 'p', true},
    {Option::Name, "name", 'n', true},
    {Option::Listen, "listen", 'l', true},
    {Option::IPv4Only, "ipv4-only", '4', false},
    {Option::IPv6Only, "ipv6-only", '6', false},
    {Option::Root, "root", 0, true},
    {Option::Nvml, "nvml", 0, true},
    {Option::GpuIdLists, "gpu-id-lists", 0, true},
    {Option::Metrics, "metrics", 0, true},
    {Option::ProbeAllow, "probe-allow", 0, true},
    {Option::IgnoreInterfaces, "metrics-ignore-interfaces", 0, true},
    {Option::CollectProcesses, "collect-processes", 0, false},
    {Option::Allow, "allow", 0, true},
    {Option::WebConfig, "web-config", 0, true},
    {Option::Help, "help", 'h', false},
    {Option::Version, "version", 0, false},
};

const OptionEntry* findLong(const std::string& name) {
    for (const OptionEntry& entry : kOptions) {
        if (name == entry.longName) return &entry;
    }
    return nullptr;
}

const OptionEntry* findShort(char name) {
    for (const OptionEntry& entry : kOptions) {
        if (entry.shortName != 0 && entry.shortName == name) return &entry;
    }
    return nullptr;
}

struct Parsing {
    AgentOptions* options;
    std::string* message;
    bool ipv4Only = false;
    bool ipv6Only = false;
    bool listenGiven = false;
    bool help = false;
    bool version = false;
};

bool apply(Parsing& parsing, const OptionEntry& entry, const std::string& shown, const std::string& value) {
    AgentOptions& options = *parsing.options;
    switch (entry.option) {
        case Option::Port:
            if (parsePort(value, &options.port)) return true;
            *parsing.message =
                "invalid port '" + value + "' for " + shown + ": give a number from 1 to 65535";
            return false;
        case Option::Name:
            if (value.empty()) {
                *parsing.message = "the name given to " + shown + " is empty";
                return false;
            }
            options.name = value;
            return true;
        case Option::Listen: {
            IpAddress address;
            if (!parseListenAddress(value, &address)) {
                *parsing.message = "invalid address '" + value + "' for " + shown +
                                   ": give a numeric IPv4 or IPv6 address of this machine";
                return false;
            }
            const bool ipv4 = address.family == IpFamily::IPv4;
            if (!parsing.listenGiven) {  // the first address replaces the wildcards of both families
                options.listen.serveIPv4 = false;
                options.listen.serveIPv6 = false;
                parsing.listenGiven = true;
            }
            bool& served = ipv4 ? options.listen.serveIPv4 : options.listen.serveIPv6;
            if (served) {
                *parsing.message = std::string("more than one ") + (ipv4 ? "IPv4" : "IPv6") +
                                   " address for " + shown + ": give at most one of each family";
                return false;
            }
            served = true;
            (ipv4 ? options.listen.ipv4 : options.listen.ipv6) = address;
            return true;
        }
        case Option::IPv4Only:
            parsing.ipv4Only = true;
            return true;
        case Option::IPv6Only:
            parsing.ipv6Only = true;
            return true;
        case Option::Root:
            if (value.empty()) {
                *parsing.message = "the directory given to " + shown + " is empty";
                return false;
            }
            options.root = value;
            return true;
        case Option::Nvml:
            if (value.empty()) {
                *parsing.message = "the library given to " + shown + " is empty";
                return false;
            }
            options.nvmlLibrary = value;
            return true;
        case Option::GpuIdLists:
            if (value.empty()) {
                *parsing.message = "the directory given to " + shown + " is empty";
                return false;
            }
            options.gpuIdLists = value;
            return true;
        case Option::Metrics:
            if (!parseMetricsListen(value, &options.metrics, parsing.message)) {
                *parsing.message += " (" + shown + ")";
                return false;
            }
            options.metricsEnabled = true;
            return true;
        case Option::ProbeAllow:
            if (!parseNetworkList(value, &options.probeAllow, parsing.message)) {
                *parsing.message += " (" + shown + ")";
                return false;
            }
            return true;
        case Option::Allow: {
            const std::u16string text = fromUtf8(value);
            const char16_t* bad = nullptr;
            if (!parseAllowList(text.c_str(), &options.allow, &bad)) {
                const std::u16string rest(bad);
                const std::string entry = toUtf8(rest.substr(0, rest.find(u',')).c_str());
                *parsing.message = "'" + entry + "' is not an address or a network such as 192.0.2.0/24 or " +
                                   "2001:db8::/32 (" + shown + ")";
                return false;
            }
            return true;
        }
        case Option::WebConfig:
            options.webConfigPath = value;
            return readWebConfig(value, &options.web, parsing.message);
        case Option::IgnoreInterfaces: {
            regex_t pattern;
            if (!compileInterfacePattern(value, &pattern)) {
                *parsing.message =
                    "'" + value + "' given to " + shown + " is not a POSIX extended regular expression";
                return false;
            }
            regfree(&pattern);
            options.ignoredInterfaces = value;
            return true;
        }
        case Option::CollectProcesses:
            options.collectProcesses = true;
            return true;
        case Option::Help:
            parsing.help = true;
            return true;
        case Option::Version:
            parsing.version = true;
            return true;
    }
    return false;
}

// The families left after -4, -6 and --listen; false with a message when nothing is left.
bool settleFamilies(Parsing& parsing) {
    ServerListen& listen = parsing.options->listen;
    if (parsing.ipv4Only && parsing.ipv6Only) {
        *parsing.message = "--ipv4-only and --ipv6-only exclude each other";
        return false;
    }
    if (parsing.ipv4Only) listen.serveIPv6 = false;
    if (parsing.ipv6Only) listen.serveIPv4 = false;
    if (!listen.serveIPv4 && !listen.serveIPv6) {
        *parsing.message = std::string("--listen gives no ") + (parsing.ipv4Only ? "IPv4" : "IPv6") +
                           " address, the only family " + (parsing.ipv4Only ? "--ipv4-only" : "--ipv6-only") +
                           " leaves";
        return false;
    }
    return true;
}

}  // namespace

OptionsOutcome parseAgentOptions(int argc, const char* const* argv, AgentOptions* options,
                                 std::string* message) {
    *options = AgentOptions{};
    options->port = kDefaultTarvelonPort;
    options->listen =
        ServerListen{true, true, IpAddress{IpFamily::IPv4, {}, 0}, IpAddress{IpFamily::IPv6, {}, 0}};
    options->nvmlLibrary = kNvmlLibraryName;
    options->ignoredInterfaces = kDefaultIgnoredInterfaces;
    message->clear();
    Parsing parsing{options, message};

    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const OptionEntry* entry = nullptr;
        std::string shown, value;
        bool valueAttached = false;
        if (argument.compare(0, 2, "--") == 0 && argument.size() > 2) {
            const size_t equals = argument.find('=');
            shown = argument.substr(0, equals);
            entry = findLong(shown.substr(2));
            if (equals != std::string::npos) {
                value = argument.substr(equals + 1);
                valueAttached = true;
            }
        } else if (argument.size() >= 2 && argument[0] == '-' && argument[1] != '-') {
            shown = argument.substr(0, 2);
            entry = findShort(argument[1]);
            if (argument.size() > 2) {
                value = argument.substr(2);
                valueAttached = true;
            }
        } else {
            *message = "unexpected argument '" + argument + "'";
            return OptionsOutcome::Error;
        }
        if (entry == nullptr) {
            *message = "unknown option '" + shown + "'";
            return OptionsOutcome::Error;
        }
        if (entry->takesValue && !valueAttached) {
            if (i + 1 >= argc) {
                *message = "option '" + shown + "' needs a value";
                return OptionsOutcome::Error;
            }
            value = argv[++i];
        } else if (!entry->takesValue && valueAttached) {
            *message = "option '" + shown + "' takes no value";
            return OptionsOutcome::Error;
        }
        if (!apply(parsing, *entry, shown, value)) return OptionsOutcome::Error;
    }
    if (parsing.help) return OptionsOutcome::Help;
    if (parsing.version) return OptionsOutcome::Version;
    if (!settleFamilies(parsing)) return OptionsOutcome::Error;
    if (!options->webConfigPath.empty() && !options->metricsEnabled) {
        *message = "--web-config needs --metrics, the HTTP endpoint it protects";
        return OptionsOutcome::Error;
    }
    if (!options->probeAllow.empty() && !options->metricsEnabled) {
        *message = "--probe-allow needs --metrics, the HTTP endpoint that serves the probes";
        return OptionsOutcome::Error;
    }
    if (options->collectProcesses && !options->metricsEnabled) {
        *message = "--collect-processes needs --metrics, the HTTP endpoint that shows the processes";
        return OptionsOutcome::Error;
    }
    return OptionsOutcome::Run;
}

const char* agentUsageText() {
    return "Usage: tarvelon-agent [OPTION]...\n"
           "Answers Tarvelon's UDP queries with this machine's processor, memory, network and\n"
           "GPU figures, so that a Tarvelon desktop can watch it like any other server.\n"
           "\n"
           "  -p, --port=PORT       UDP port to answer on, 1-65535 (default 8221)\n"
           "  -n, --name=NAME       host name the watching desktops show (default: this\n"
           "                        machine's host name; the first 39 characters are sent)\n"
           "  -l, --listen=ADDRESS  answer on this numeric address only, such as 192.0.2.7 or\n"
           "                        fe80::1%eth0; once per family (default: every address)\n"
           "  -4, --ipv4-only       answer over IPv4 only\n"
           "  -6, --ipv6-only       answer over IPv6 only\n"
           "      --root=DIR        read /proc and /sys below DIR instead of /\n"
           "      --nvml=LIBRARY    NVIDIA management library to load (default libnvidia-ml.so.1;\n"
           "                        without it the machine is shown without NVIDIA GPUs)\n"
           "      --gpu-id-lists=DIR\n"
           "                        read the GPU names from DIR/amdgpu.ids and DIR/pci.ids\n"
           "                        (default /usr/share/libdrm and /usr/share/misc)\n"
           "      --metrics=ADDRESS:PORT\n"
           "                        serve Prometheus metrics over HTTP on 127.0.0.1:PORT,\n"
           "                        [::1]:PORT or :PORT (every address); TCP port 8221 when\n"
           "                        the address comes alone; off without this option\n"
           "      --probe-allow=NETWORK[,NETWORK]...\n"
           "                        answer /probe?target=HOST[:PORT] for Tarvelon servers in\n"
           "                        these networks, such as 192.0.2.0/24 or 2001:db8::/32;\n"
           "                        without it /probe is not served\n"
           "      --allow=NETWORK[,NETWORK]...\n"
           "                        answer UDP queries from these addresses and networks only,\n"
           "                        such as 192.0.2.0/24 or 2001:db8::/32 (default: everyone)\n"
           "      --web-config=FILE serve --metrics over TLS and/or ask for a user and password,\n"
           "                        as FILE says (tls_server_config, basic_auth_users)\n"
           "      --metrics-ignore-interfaces=REGEX\n"
           "                        leave out of /metrics the network interfaces whose whole\n"
           "                        name this POSIX extended expression matches (default\n"
           "                        lo|veth.*|docker[0-9]+|br-.*)\n"
           "      --collect-processes\n"
           "                        show in /metrics the processes using each GPU, their\n"
           "                        memory and busy share (at most 20 a GPU); off by default\n"
           "  -h, --help            show this help and exit\n"
           "      --version         show the version and exit\n"
           "\n"
           "Logs go to standard error, one line per change of state. Stop it with SIGTERM or Ctrl+C.\n";
}

bool parseListenAddress(const std::string& text, IpAddress* address) {
    *address = IpAddress{};
    if (inet_pton(AF_INET, text.c_str(), address->bytes) == 1) {
        address->family = IpFamily::IPv4;
        return true;
    }
    const size_t percent = text.find('%');
    const std::string host = text.substr(0, percent);
    address->family = IpFamily::IPv6;
    if (inet_pton(AF_INET6, host.c_str(), address->bytes) != 1) return false;
    if (percent == std::string::npos) return true;
    const std::string scope = text.substr(percent + 1);
    if (scope.empty()) return false;
    if (scope.find_first_not_of("0123456789") == std::string::npos) {
        const unsigned long index = std::strtoul(scope.c_str(), nullptr, 10);
        if (index == 0 || index > 0xFFFFFFFFul) return false;
        address->scopeId = static_cast<uint32_t>(index);
        return true;
    }
    address->scopeId = if_nametoindex(scope.c_str());
    return address->scopeId != 0;
}

}  // namespace tarvelon
