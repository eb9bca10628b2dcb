// The agent's command line and its log lines: defaults, every way of giving an option, the refusals
// with their messages, listen addresses, and the lines for server states, GPU outcomes and host
// sources.
#include "agent/agent_options.h"

#include <gtest/gtest.h>

#include <vector>

#include "agent/agent_log.h"
#include "net/server_rules.h"

namespace tarvelon {
namespace {

OptionsOutcome parse(std::vector<const char*> arguments, AgentOptions* options, std::string* message) {
    arguments.insert(arguments.begin(), "tarvelon-agent");
    return parseAgentOptions(static_cast<int>(arguments.size()), arguments.data(), options, message);
}

TEST(AgentOptions, DefaultsServeBothFamiliesOnTheWildcardOfPort8221) {
    AgentOptions options;
    std::string message;
    ASSERT_EQ(parse({}, &options, &message), OptionsOutcome::Run);
    EXPECT_EQ(options.port, 8221);
    EXPECT_TRUE(options.name.empty());
    EXPECT_TRUE(options.listen.serveIPv4 && options.listen.serveIPv6);
    EXPECT_EQ(options.listen.ipv4.family, IpFamily::IPv4);
    EXPECT_EQ(options.listen.ipv6.family, IpFamily::IPv6);
    for (uint8_t byte : options.listen.ipv6.bytes) EXPECT_EQ(byte, 0);
    EXPECT_EQ(options.nvmlLibrary, "libnvidia-ml.so.1");
    EXPECT_TRUE(options.root.empty());
}

TEST(AgentOptions, EveryFormOfAnOptionIsAccepted) {
    const std::vector<std::vector<const char*>> forms = {
        {"--port", "9000"}, {"--port=9000"}, {"-p", "9000"}, {"-p9000"}};
    for (const auto& form : forms) {
        AgentOptions options;
        std::string message;
        ASSERT_EQ(parse(form, &options, &message), OptionsOutcome::Run) << form[0] << ": " << message;
        EXPECT_EQ(options.port, 9000);
    }
    AgentOptions options;
    std::string message;
    ASSERT_EQ(parse({"-n", "rack 7", "--root=/srv/fake", "--nvml", "/opt/lib.so", "-4",
                     "--metrics-ignore-interfaces=tap[0-9]+"},
                    &options, &message),
              OptionsOutcome::Run);
    EXPECT_EQ(options.ignoredInterfaces, "tap[0-9]+");
    EXPECT_EQ(options.name, "rack 7");
    EXPECT_EQ(options.root, "/srv/fake");
    EXPECT_EQ(options.nvmlLibrary, "/opt/lib.so");
    EXPECT_TRUE(options.listen.serveIPv4);
    EXPECT_FALSE(options.listen.serveIPv6);
    ASSERT_EQ(parse({"--allow", "10.0.0.0/8, ::1"}, &options, &message), OptionsOutcome::Run) << message;
    EXPECT_EQ(options.allow.count, 2);
}

TEST(AgentOptions, ListenAddressesNarrowTheFamilies) {
    AgentOptions options;
    std::string message;
    ASSERT_EQ(parse({"--listen", "127.0.0.1"}, &options, &message), OptionsOutcome::Run);
    EXPECT_TRUE(options.listen.serveIPv4);
    EXPECT_FALSE(options.listen.serveIPv6);
    EXPECT_EQ(options.listen.ipv4.bytes[0], 127);
    EXPECT_EQ(options.listen.ipv4.bytes[3], 1);

    ASSERT_EQ(parse({"-l", "::1", "-l", "192.0.2.7"}, &options, &message), OptionsOutcome::Run);
    EXPECT_TRUE(options.listen.serveIPv4 && options.listen.serveIPv6);
    EXPECT_EQ(options.listen.ipv6.bytes[15], 1);
    EXPECT_EQ(options.listen.ipv4.bytes[0], 192);

    ASSERT_EQ(parse({"-l", "::1", "-l", "192.0.2.7", "-6"}, &options, &message), OptionsOutcome::Run);
    EXPECT_FALSE(options.listen.serveIPv4);
    EXPECT_TRUE(options.listen.serveIPv6);
}

TEST(AgentOptions, HelpThenVersionWinOverEverythingValid) {
    AgentOptions options;
    std::string message;
    EXPECT_EQ(parse({"-p", "9000", "--help"}, &options, &message), OptionsOutcome::Help);
    EXPECT_EQ(parse({"-h"}, &options, &message), OptionsOutcome::Help);
    EXPECT_EQ(parse({"--version", "-h"}, &options, &message), OptionsOutcome::Help);
    EXPECT_EQ(parse({"-4", "-6", "--version"}, &options, &message), OptionsOutcome::Version);
    EXPECT_EQ(parse({"--version=1"}, &options, &message), OptionsOutcome::Error);
    EXPECT_NE(std::string(agentUsageText()).find("--listen"), std::string::npos);
}

TEST(AgentOptions, RefusalsSayWhatIsWrong) {
    struct Case {
        std::vector<const char*> arguments;
        const char* message;
    };
    const Case cases[] = {
        {{"--port", "0"}, "invalid port '0' for --port: give a number from 1 to 65535"},
        {{"-p", "65536"}, "invalid port '65536' for -p: give a number from 1 to 65535"},
        {{"--port=80a"}, "invalid port '80a' for --port: give a number from 1 to 65535"},
        {{"--port=-1"}, "invalid port '-1' for --port: give a number from 1 to 65535"},
        {{"--port"}, "option '--port' needs a value"},
        {{"--verbose"}, "unknown option '--verbose'"},
        {{"-x"}, "unknown option '-x'"},
        {{"--ipv4-only=yes"}, "option '--ipv4-only' takes no value"},
        {{"-46"}, "option '-4' takes no value"},
        {{"extra"}, "unexpected argument 'extra'"},
        {{"-"}, "unexpected argument '-'"},
        {{"--name="}, "the name given to --name is empty"},
        {{"--root", ""}, "the directory given to --root is empty"},
        {{"--listen", "localhost"},
         "invalid address 'localhost' for --listen: give a numeric IPv4 or IPv6 address of this machine"},
        {{"-l", "10.0.0.1", "-l", "10.0.0.2"},
         "more than one IPv4 address for -l: give at most one of each family"},
        {{"-4", "-6"}, "--ipv4-only and --ipv6-only exclude each other"},
        {{"-l", "127.0.0.1", "-6"}, "--listen gives no IPv6 address, the only family --ipv6-only leaves"},
        {{"--probe-allow=10.0.0.0/8"},
         "--probe-allow needs --metrics, the HTTP endpoint that serves the probes"},
        {{"--metrics=:8221", "--probe-allow=10.0.0.0/40"},
         "'10.0.0.0/40' is not a network such as 192.0.2.0/24 or 2001:db8::/32 (--probe-allow)"},
        {{"--allow=10.0.0.0/8,host.example"},
         "'host.example' is not an address or a network such as 192.0.2.0/24 or 2001:db8::/32 (--allow)"},
        {{"--metrics=:8221", "--web-config=/nonexistent.yml"}, "/nonexistent.yml: No such file or directory"},
        {{"--web-config=/dev/null"}, "--web-config needs --metrics, the HTTP endpoint it protects"},
        {{"--collect-processes"},
         "--collect-processes needs --metrics, the HTTP endpoint that shows the processes"},
        {{"--metrics-ignore-interfaces=veth(.*"},
         "'veth(.*' given to --metrics-ignore-interfaces is not a POSIX extended regular expression"},
    };
    for (const Case& c : cases) {
        AgentOptions options;
        std::string message;
        EXPECT_EQ(parse(c.arguments, &options, &message), OptionsOutcome::Error) << c.message;
        EXPECT_EQ(message, c.message);
    }
}

TEST(ListenAddress, NumericFormsWithAnOptionalScope) {
    struct Case {
        const char* text;
        bool accepted;
        IpFamily family;
        uint32_t scopeId;
    };
    const Case cases[] = {
        {"192.0.2.7", true, IpFamily::IPv4, 0},
        {"0.0.0.0", true, IpFamily::IPv4, 0},
        {"2001:db8::7", true, IpFamily::IPv6, 0},
        {"fe80::1%2", true, IpFamily::IPv6, 2},
        {"fe80::1%lo", true, IpFamily::IPv6, 1},  // the loopback interface is always index 1
        {"fe80::1%", false, IpFamily::IPv6, 0},
        {"fe80::1%nosuch0", false, IpFamily::IPv6, 0},
        {"fe80::1%0", false, IpFamily::IPv6, 0},
        {"192.0.2.256", false, IpFamily::IPv4, 0},
        {"192.0.2.7%1", false, IpFamily::IPv4, 0},
        {"[::1]", false, IpFamily::IPv6, 0},
        {"", false, IpFamily::IPv4, 0},
    };
    for (const Case& c : cases) {
        IpAddress address;
        EXPECT_EQ(parseListenAddress(c.text, &address), c.accepted) << c.text;
        if (!c.accepted) continue;
        EXPECT_EQ(address.family, c.family) << c.text;
        EXPECT_EQ(address.scopeId, c.scopeId) << c.text;
    }
}

TEST(AgentLog, ServerLinesNameTheStateAndExplainSocketErrors) {
    EXPECT_EQ(serverStateLine(kServerRunning, u"Server goes into wait", 8221),
              "query server running on UDP port 8221");
    EXPECT_EQ(serverStateLine(kServerStartUp, u"Try to start the server", 1), "query server Start Up");
    EXPECT_EQ(
        serverStateLine(kServerError, u"Could not bind to port.\r\nWSA Error Code : 10048", 1),
        "query server error: Could not bind to port. WSA Error Code : 10048 (the port is already in use)");
    EXPECT_EQ(serverStateLine(kServerError, u"Could not create socket.\r\nWSA Error Code : 10107", 1),
              "query server error: Could not create socket. WSA Error Code : 10107");
}

TEST(AgentLog, GpuAndHostSourceLines) {
    EXPECT_EQ(gpuOutcomeLine(NvmlOpenOutcome::NoLibrary, 0, "libnvidia-ml.so.1"),
              "no NVIDIA GPUs: libnvidia-ml.so.1 could not be loaded (no NVIDIA driver)");
    EXPECT_EQ(gpuOutcomeLine(NvmlOpenOutcome::Ready, 1, "lib"), "1 GPU found through lib");
    EXPECT_EQ(gpuOutcomeLine(NvmlOpenOutcome::Ready, 20, "lib"),
              "20 GPUs found through lib; the first 16 are shown");

    const HostSourceGaps none{};
    HostSourceGaps some{};
    some.frequencies = true;
    some.network = true;
    EXPECT_TRUE(hostGapLines(none, none).empty());
    const std::vector<std::string> lost = hostGapLines(none, some);
    ASSERT_EQ(lost.size(), 2u);
    EXPECT_EQ(lost[0], "no processor frequencies in /sys (cpufreq) or /proc/cpuinfo: the CPU clock shows 0");
    EXPECT_EQ(lost[1], "cannot read /proc/net/dev: network traffic shows 0");
    EXPECT_EQ(hostGapLines(some, none).back(), "/proc/net/dev readable again");
}

}  // namespace
}  // namespace tarvelon
