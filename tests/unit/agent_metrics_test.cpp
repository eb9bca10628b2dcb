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
#include "agent/process_figures.h"

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
        {"10.255.0.1", true},       {"11.0.0.1", false},    {"192.0.2.7", true},     {"192.0.2.8", false},
        {"2001:db8:ff::1", true},   {"2001:db9::1", false}, {"::1", true},           {"::2", false},
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
        const char* contentLength;
        const char* transferEncoding;
        unsigned status;
    } bodies[] = {
        {nullptr, nullptr, 0},       {"0", nullptr, 0},
        {"000", nullptr, 0},         {"1", nullptr, 400},
        {"4096", nullptr, 400},      {"4097", nullptr, 413},
        {"100000000", nullptr, 413}, {"99999999999999999999999", nullptr, 413},
        {"-1", nullptr, 400},        {"1 ", nullptr, 400},
        {nullptr, "chunked", 400},   {"0", "chunked", 400},
    };
    for (const auto& body : bodies)
        EXPECT_EQ(bodyRefusalStatus(body.contentLength, body.transferEncoding), body.status)
            << (body.contentLength ? body.contentLength : "-") << " "
            << (body.transferEncoding ? "chunked" : "");

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
        EXPECT_EQ(probeTimeLeftMs(t.header, t.spentMs), t.leftMs)
            << (t.header ? t.header : "none") << t.spentMs;
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

    gpu.pciBus = 0x41;
    gpu.pciSlot = 2;

    const MachineFigures figures = replyMachineFigures(records);
    const std::string text = probeExposition(true, 0.25, &figures);
    const char* expected[] = {
        "# HELP tarvelon_probe_success ",
        "# TYPE tarvelon_probe_success gauge\ntarvelon_probe_success 1\n",
        "tarvelon_probe_duration_seconds 0.25\n",
        "# TYPE tarvelon_host_info gauge\ntarvelon_host_info{host=\"rack\\\"7\\\\\\n\"} 1\n",
        "# TYPE tarvelon_cpus gauge\ntarvelon_cpus 8\n",
        "tarvelon_cpu_utilization_ratio 0.25\n",
        "tarvelon_memory_total_bytes 17179869184\n",
        "tarvelon_network_io_bytes_per_second 2097152\n",
        "tarvelon_gpu_info{gpu=\"1\",name=\"G\xef\xbf\xbd\",pci_bus_id=\"00000000:41:02.0\"} 1\n",
        "tarvelon_gpu_memory_total_bytes{gpu=\"1\"} 8589934592\n",
        "tarvelon_gpu_fan_speed_rpm{gpu=\"1\"} 1600\n",
        "tarvelon_gpu_temperature_celsius{gpu=\"1\",sensor=\"core\"} 65\n",
    };
    expectEveryLineIn(text, expected);
    // An unread sensor has no series; a clock of a machine without one has no family at all, nor
    // have the agent's own figures.
    EXPECT_EQ(text.find("sensor=\"memory\""), std::string::npos);
    for (const char* absent : {"tarvelon_cpu_frequency_hertz", "_total ", "tarvelon_gpu_library_up",
                               "uuid=", "tarvelon_gpu_power"})
        EXPECT_EQ(text.find(absent), std::string::npos) << absent;

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
        HostPassFigures{true,
                        MemoryStatus{17179869184u + 4095, 1000, 3, 2},
                        true,
                        12.5,
                        true,
                        70000,
                        false,
                        0,
                        {InterfaceBytes{"eth0", 5000000000u, 7}, InterfaceBytes{"veth1a", 1, 1}},
                        true,
                        {250, 0, 100, 1000},
                        1796000000.5};
    pass.gpuSlots = 2;
    pass.answers.libraryUp = true;
    pass.answers.driverVersion = "550.54.14";
    pass.answers.uuids[0] = "GPU-1";
    pass.answers.vendors[0] = pass.answers.vendors[1] = "nvidia";
    NvmlAnswers& first = pass.answers.gpus[0];
    first.memory = NvmlMemory{25769803776u + 1, 123456789, 25646346988u};
    first.coreTemperatureC = 71;
    first.memoryTemperatureStatus = 3;
    std::memcpy(first.pci.busId, "00000000:41:00.0", 17);
    first.powerMilliwatts = 123456;
    first.powerLimitMilliwatts = 250000;
    first.energyMillijoules = 5000000001;
    first.throttleReasons = 0x5;
    NvmlAnswers& second = pass.answers.gpus[1];
    second.powerStatus = second.powerLimitStatus = second.energyStatus = second.throttleStatus =
        kNvmlErrorNotSupported;

    MachineFigures figures = agentMachineFigures(pass, 100);
    regex_t ignored;
    ASSERT_TRUE(compileInterfacePattern(kDefaultIgnoredInterfaces, &ignored));
    dropInterfaces(figures, ignored);
    regfree(&ignored);
    const std::string text = machineExposition(figures);
    const char* expected[] = {
        "tarvelon_memory_total_bytes 17179873279\n",
        "tarvelon_cpu_utilization_ratio 0.125\n",
        "tarvelon_cpu_frequency_hertz 2400000000\n",
        "tarvelon_cpu_frequency_max_ratio 0.6\n",
        "tarvelon_processes 70000\n",
        "tarvelon_last_sample_timestamp_seconds 1796000000.5\n",
        "tarvelon_gpu_library_up 1\n",
        "# TYPE tarvelon_cpu_seconds_total counter\ntarvelon_cpu_seconds_total{mode=\"user\"} 2.5\n",
        "tarvelon_cpu_seconds_total{mode=\"idle\"} 10\n",
        "tarvelon_cpu_seconds_total{mode=\"steal\"} 0\n",
        "tarvelon_gpu_info{gpu=\"0\",vendor=\"nvidia\",name=\"\",uuid=\"GPU-1\",pci_bus_id=\"00000000:41:00."
        "0\",driver_version="
        "\"550.54."
        "14\"} 1\n",
        "tarvelon_gpu_info{gpu=\"1\",vendor=\"nvidia\",name=\"\",driver_version=\"550.54.14\"} 1\n",
        "tarvelon_gpu_memory_total_bytes{gpu=\"0\"} 25769803777\n",
        "tarvelon_gpu_memory_free_bytes{gpu=\"0\"} 123456789\n",
        "tarvelon_gpu_memory_used_bytes{gpu=\"0\"} 25646346988\n",
        "tarvelon_gpu_temperature_celsius{gpu=\"0\",sensor=\"core\"} 71\n",
        "# TYPE tarvelon_gpu_power_watts gauge\ntarvelon_gpu_power_watts{gpu=\"0\"} 123.456\n#",
        "# TYPE tarvelon_gpu_power_limit_watts gauge\ntarvelon_gpu_power_limit_watts{gpu=\"0\"} 250\n#",
        "# TYPE tarvelon_gpu_energy_joules_total counter\ntarvelon_gpu_energy_joules_total{gpu=\"0\"} "
        "5000000.001\n#",
        "tarvelon_gpu_clock_throttle_active{gpu=\"0\",reason=\"gpu_idle\"} 1\n",
        "tarvelon_gpu_clock_throttle_active{gpu=\"0\",reason=\"applications_clocks_setting\"} 0\n",
        "tarvelon_gpu_clock_throttle_active{gpu=\"0\",reason=\"sw_power_cap\"} 1\n",
        "# TYPE tarvelon_network_receive_bytes_total counter\n"
        "tarvelon_network_receive_bytes_total{interface=\"eth0\"} 5000000000\n#",
    };
    expectEveryLineIn(text, expected);
    for (const char* absent :
         {"tarvelon_threads", "gpu=\"0\",sensor=\"memory\"", "tarvelon_network_io_bytes_per_second",
          "gpu=\"1\",reason", "veth1a", "tarvelon_gpu_power_watts{gpu=\"1\"}"})
        EXPECT_EQ(text.find(absent), std::string::npos) << absent;
}

TEST(AgentMetrics, ProcessStat) {
    // A command name with a space and a parenthesis; utime 250, stime 50, starttime 1000 ticks.
    const std::string stat =
        "4242 (a) b) S 1 4242 4242 0 -1 4194560 900 0 0 0 250 50 0 0 20 0 3 0 1000 "
        "123456789 2048 18446744073709551615";
    const ProcessFigures figures = parseProcessStat(stat, 1796000000, 100, 4096);
    EXPECT_EQ(figures.cpuSeconds.value, 3);
    EXPECT_EQ(figures.startTimeSeconds.value, 1796000010);
    EXPECT_EQ(figures.virtualBytes.value, 123456789);
    EXPECT_EQ(figures.residentBytes.value, 8388608);
    EXPECT_FALSE(parseProcessStat("4242 (agent) S 1 2", 1796000000, 100, 4096).cpuSeconds.present);
    const std::string text = processExposition(figures, "1.2.3");
    EXPECT_NE(text.find("tarvelon_build_info{version=\"1.2.3\"} 1\n"), std::string::npos);
    EXPECT_NE(text.find("# TYPE process_cpu_seconds_total counter\nprocess_cpu_seconds_total 3\n"),
              std::string::npos);
}

}  // namespace
}  // namespace tarvelon
