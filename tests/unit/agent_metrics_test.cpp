// The metrics endpoint's rules: --metrics and --probe-allow values, routing, probe targets and the
// scrape timeout, and the exposition text with its escaping and numbers.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "agent/agent_options.h"
#include "agent/exposition.h"
#include "agent/machine_figures.h"
#include "agent/metrics_request.h"

namespace tarvelon {
namespace {

template <size_t N>
void expectEveryLineIn(const std::string& text, const char* const (&lines)[N]) {
    for (const char* line : lines) EXPECT_NE(text.find(line), std::string::npos) << line << "\nin\n" << text;
}

TEST(AgentMetrics, ListenAddresses) {
    const struct {
        const char* text;
        bool ok;
        bool every;
        IpFamily family;
        uint16_t port;
    } cases[] = {
        {"127.0.0.1:9999", true, false, IpFamily::IPv4, 9999},
        {"[::1]:9999", true, false, IpFamily::IPv6, 9999},
        {":9999", true, true, IpFamily::IPv4, 9999},
        {"127.0.0.1", true, false, IpFamily::IPv4, 8221},
        {"[::1]", true, false, IpFamily::IPv6, 8221},
        {"::1", true, false, IpFamily::IPv6, 8221},
        {"", false, false, IpFamily::IPv4, 0},
        {":", false, false, IpFamily::IPv4, 0},
        {"[::1]:", false, false, IpFamily::IPv4, 0},
        {"127.0.0.1:0", false, false, IpFamily::IPv4, 0},
        {"127.0.0.1:65536", false, false, IpFamily::IPv4, 0},
        {"[::1]9999", false, false, IpFamily::IPv4, 0},
        {"host.example:9999", false, false, IpFamily::IPv4, 0},
    };
    for (const auto& c : cases) {
        MetricsListen listen;
        std::string message;
        ASSERT_EQ(parseMetricsListen(c.text, &listen, &message), c.ok) << c.text;
        if (!c.ok) {
            EXPECT_NE(message.find(c.text), std::string::npos) << message;
            continue;
        }
        EXPECT_EQ(listen.everyAddress, c.every) << c.text;
        if (!c.every) {
            EXPECT_EQ(listen.address.family, c.family) << c.text;
        }
        EXPECT_EQ(listen.port, c.port) << c.text;
    }
}

TEST(AgentMetrics, AllowedNetworks) {
    std::vector<IpNetwork> networks;
    std::string message;
    ASSERT_TRUE(parseNetworkList("10.1.2.3/8,192.0.2.7,2001:db8::/32,::1,::ffff:198.51.100.0/120", &networks,
                                 &message))
        << message;
    ASSERT_EQ(networks.size(), 5u);
    EXPECT_EQ(networks[0].address.bytes[1], 0);  // host bits cleared
    const struct {
        const char* address;
        bool allowed;
    } addresses[] = {
        {"10.255.0.1", true},       {"11.0.0.1", false},    {"192.0.2.7", true}, {"192.0.2.8", false},
        {"2001:db8:ff::1", true},   {"2001:db9::1", false}, {"::1", true},       {"::2", false},
        {"::ffff:10.0.0.1", true},  // a mapped address is the IPv4 address it carries
        {"::ffff:11.0.0.1", false}, {"198.51.100.9", true}, {"198.51.101.9", false},
    };
    for (const auto& a : addresses) {
        IpAddress address;
        ASSERT_TRUE(parseListenAddress(a.address, &address)) << a.address;
        EXPECT_EQ(anyNetworkContains(networks, address), a.allowed) << a.address;
    }
    ASSERT_TRUE(parseNetworkList("0.0.0.0/0", &networks, &message));
    IpAddress any{IpFamily::IPv4, {203, 0, 113, 9}, 0};
    EXPECT_TRUE(networkContains(networks[0], any));
    ASSERT_TRUE(parseNetworkList("::/0", &networks, &message));
    IpAddress mapped;
    ASSERT_TRUE(parseListenAddress("::ffff:127.0.0.1", &mapped));
    EXPECT_FALSE(anyNetworkContains(networks, mapped));
    for (const char* bad : {"", "10.0.0.0/33", "::/129", "10.0.0.0/", "10.0.0.0/-1", "10.0.0.0/8,", "host/8",
                            "fe80::1%1/64", "10.0.0.0/0008"}) {
        EXPECT_FALSE(parseNetworkList(bad, &networks, &message)) << bad;
    }
}

TEST(AgentMetrics, RoutesAndProbeTargets) {
    EXPECT_EQ(routeRequest("GET", "/metrics"), MetricsRoute::Metrics);
    EXPECT_EQ(routeRequest("GET", "/probe"), MetricsRoute::Probe);
    EXPECT_EQ(routeRequest("GET", "/metrics/"), MetricsRoute::NotFound);
    EXPECT_EQ(routeRequest("HEAD", "/metrics"), MetricsRoute::Metrics);
    EXPECT_EQ(routeRequest("GET", "/"), MetricsRoute::Landing);
    EXPECT_EQ(routeRequest("GET", "/-/healthy"), MetricsRoute::Healthy);
    EXPECT_EQ(routeRequest("GET", "/index.html"), MetricsRoute::NotFound);
    for (const char* method : {"POST", "PUT", "get"})
        EXPECT_EQ(routeRequest(method, "/metrics"), MetricsRoute::MethodNotAllowed) << method;

    const struct {
        const char* target;
        const char* host;  // null: refused
        uint16_t port;
    } targets[] = {
        {"pc7", "pc7", 8221},
        {"pc7:9000", "pc7", 9000},
        {"[2001:db8::7]:9000", "2001:db8::7", 9000},
        {"::1", "::1", 8221},
        {nullptr, nullptr, 0},
        {"", nullptr, 0},
        {"pc7:0", nullptr, 0},
        {"pc7:70000", nullptr, 0},
        {"pc7:", nullptr, 0},
        {"[::1", nullptr, 0},
        {"pc 7", nullptr, 0},
        {"pc7\n", nullptr, 0},
        {"\xc3\xa9t\xc3\xa9", nullptr, 0},
        {":9000", nullptr, 0},
    };
    for (const auto& t : targets) {
        QueryTarget target;
        std::string reason;
        const bool ok = parseProbeTarget(t.target, &target, &reason);
        ASSERT_EQ(ok, t.host != nullptr) << (t.target ? t.target : "(none)");
        if (!ok) {
            EXPECT_FALSE(reason.empty());
            EXPECT_EQ(reason.find('\n'), std::string::npos);
            continue;
        }
        EXPECT_EQ(target.host, t.host);
        EXPECT_EQ(target.port, t.port);
    }
    QueryTarget target;
    std::string reason;
    EXPECT_TRUE(parseProbeTarget((std::string(253, 'a') + ":8221").c_str(), &target, &reason));
    EXPECT_FALSE(parseProbeTarget(std::string(262, 'a').c_str(), &target, &reason));

    const struct {
        const char* header;
        uint64_t spentMs;
        uint32_t leftMs;
    } timeouts[] = {{nullptr, 0, 9950}, {"0.5", 0, 450}, {"0.9", 100, 750}, {"2", 1950, 0},
                    {"2", 5000, 0},     {"x", 0, 9950},  {"1.5s", 0, 9950}, {"-1", 0, 9950}};
    for (const auto& t : timeouts)
        EXPECT_EQ(probeTimeLeftMs(t.header, t.spentMs), t.leftMs) << (t.header ? t.header : "none") << t.spentMs;
}

TEST(AgentMetrics, SampleValuesAndEscapes) {
    const struct {
        double value;
        const char* text;
    } values[] = {{0, "0"},
                  {12884901888.0, "12884901888"},
                  {0.37, "0.37"},
                  {1e300, "1e+300"},
                  {-2, "-2"},
                  {9007199254740994.0, "9007199254740994"},
                  {0.1 + 0.2, "0.30000000000000004"}};
    for (const auto& v : values) EXPECT_EQ(sampleValue(v.value), v.text);
    EXPECT_EQ(escapeLabelValue("a\"b\\c\nd\re"), "a\\\"b\\\\c\\nd\re");
}

TEST(AgentMetrics, ExpositionOfAReply) {
    SlotRecords records{};
    const char16_t name[] = u"rack\"7\\\n";
    std::memcpy(records.host.hostName, name, sizeof name);
    records.host.cpuCount = 8;
    records.host.cpuLoad = 25;
    records.host.physTotalMb = 16384;
    records.host.netIoMbit = 16;
    records.host.gpuCount = 1;
    GpuRecord& gpu = records.gpus[1];
    gpu.present = 1;
    gpu.gpuName[0] = u'G';
    gpu.gpuName[1] = 0xD800;  // a lone surrogate from the wire
    gpu.memTotalMb = 8192;
    gpu.coreTempC = 65;
    gpu.fanRpmDiv32 = 50;

    const MachineFigures figures = replyMachineFigures(records);
    const std::string text = probeExposition(true, 0.25, &figures);
    const char* expected[] = {
        "# HELP tarvelon_probe_success ",
        "# TYPE tarvelon_probe_success gauge\ntarvelon_probe_success 1\n",
        "tarvelon_probe_duration_seconds 0.25\n",
        "# TYPE tarvelon_cpus gauge\ntarvelon_cpus{host=\"rack\\\"7\\\\\\n\"} 8\n",
        "tarvelon_cpu_utilization_ratio{host=\"rack\\\"7\\\\\\n\"} 0.25\n",
        "tarvelon_memory_bytes{host=\"rack\\\"7\\\\\\n\"} 17179869184\n",
        "tarvelon_network_io_bytes_per_second{host=\"rack\\\"7\\\\\\n\"} 2097152\n",
        "tarvelon_gpu_info{host=\"rack\\\"7\\\\\\n\",gpu=\"1\",name=\"G\xef\xbf\xbd\",pci_bus=\"0\",pci_"
        "device=\"0\"} 1\n",
        "tarvelon_gpu_memory_bytes{host=\"rack\\\"7\\\\\\n\",gpu=\"1\",name=\"G\xef\xbf\xbd\"} 8589934592\n",
        "tarvelon_gpu_fan_speed_rpm{host=\"rack\\\"7\\\\\\n\",gpu=\"1\",name=\"G\xef\xbf\xbd\"} 1600\n",
        "tarvelon_gpu_temperature_celsius{host=\"rack\\\"7\\\\\\n\",gpu=\"1\",name=\"G\xef\xbf\xbd\",sensor="
        "\"core\"} 65\n",
    };
    expectEveryLineIn(text, expected);
    // An unread sensor has no series; a clock of a machine without one has no family at all.
    EXPECT_EQ(text.find("sensor=\"memory\""), std::string::npos);
    EXPECT_EQ(text.find("tarvelon_cpu_frequency_hertz"), std::string::npos);
    EXPECT_EQ(text.find("_total"), std::string::npos);

    const std::string failed = probeExposition(false, 0.9, nullptr);
    EXPECT_EQ(failed.find("host="), std::string::npos);
    EXPECT_NE(failed.find("tarvelon_probe_success 0\n"), std::string::npos);
}

TEST(AgentMetrics, AgentFiguresKeepFullPrecision) {
    AgentPassFigures pass{};
    pass.host.cpuCount = 4;
    pass.host.cpuMhz = 2400;
    pass.host.cpuMaxFreqPct = 60;
    pass.hostFigures =
        HostPassFigures{true, MemoryStatus{17179869184u + 4095, 1000, 3, 2}, true, 12.5, true, 70000, false,
                        0,    {InterfaceBytes{"eth0", 5000000000u, 7}}};
    pass.gpuSlots = 1;
    pass.answers[0].memory = NvmlMemory{25769803776u + 1, 123456789, 0};
    pass.answers[0].coreTemperatureC = 71;
    pass.answers[0].memoryTemperatureStatus = 3;
    const std::string text = machineExposition(agentMachineFigures(pass));
    const char* expected[] = {
        "tarvelon_memory_bytes{host=\"\"} 17179873279\n",
        "tarvelon_cpu_utilization_ratio{host=\"\"} 0.125\n",
        "tarvelon_cpu_frequency_hertz{host=\"\"} 2400000000\n",
        "tarvelon_cpu_frequency_max_ratio{host=\"\"} 0.6\n",
        "tarvelon_processes{host=\"\"} 70000\n",
        "tarvelon_gpu_memory_bytes{host=\"\",gpu=\"0\",name=\"\"} 25769803777\n",
        "tarvelon_gpu_memory_free_bytes{host=\"\",gpu=\"0\",name=\"\"} 123456789\n",
        "tarvelon_gpu_temperature_celsius{host=\"\",gpu=\"0\",name=\"\",sensor=\"core\"} 71\n",
        "# TYPE tarvelon_network_receive_bytes_total counter\n"
        "tarvelon_network_receive_bytes_total{host=\"\",interface=\"eth0\"} 5000000000\n",
    };
    expectEveryLineIn(text, expected);
    EXPECT_EQ(text.find("tarvelon_threads"), std::string::npos);
    EXPECT_EQ(text.find("sensor=\"memory\""), std::string::npos);
    EXPECT_EQ(text.find("tarvelon_network_io_bytes_per_second"), std::string::npos);
}

}  // namespace
}  // namespace tarvelon
