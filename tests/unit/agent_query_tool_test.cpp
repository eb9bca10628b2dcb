// tarvelon-query's rules: server arguments with and without ports and brackets, its options, and the
// records as text and as JSON.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "agent/query_tool.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

TEST(QueryTarget, HostsPortsAndBrackets) {
    struct Case {
        const char* text;
        const char* host;
        uint16_t port;
    };
    const Case accepted[] = {
        {"gpu-box", "gpu-box", 8221},
        {"gpu-box:9000", "gpu-box", 9000},
        {"192.0.2.7:1", "192.0.2.7", 1},
        {"[2001:db8::7]:65535", "2001:db8::7", 65535},
        {"[::1]", "::1", 8221},
        {"::1", "::1", 8221},
        {"fe80::1%eth0", "fe80::1%eth0", 8221},
        {"[fe80::1%eth0]:8300", "fe80::1%eth0", 8300},
    };
    for (const Case& c : accepted) {
        QueryTarget target;
        std::string message;
        ASSERT_TRUE(parseQueryTarget(c.text, &target, &message)) << c.text << ": " << message;
        EXPECT_EQ(target.host, c.host);
        EXPECT_EQ(target.port, c.port) << c.text;
    }

    const std::pair<const char*, const char*> refused[] = {
        {"", "'' names no host"},
        {":8221", "':8221' names no host"},
        {"[]:8221", "'[]:8221' names no host"},
        {"host:", "'' in 'host:' is not a port from 1 to 65535"},
        {"host:0", "'0' in 'host:0' is not a port from 1 to 65535"},
        {"host:99999", "'99999' in 'host:99999' is not a port from 1 to 65535"},
        {"host:http", "'http' in 'host:http' is not a port from 1 to 65535"},
        {"[::1", "'[::1' opens '[' without closing it"},
        {"[::1]8221", "'[::1]8221' has '8221' after the bracketed address; write [ADDRESS]:PORT"},
    };
    for (const auto& c : refused) {
        QueryTarget target;
        std::string message;
        EXPECT_FALSE(parseQueryTarget(c.first, &target, &message)) << c.first;
        EXPECT_EQ(message, c.second);
    }
}

QueryOptionsOutcome parse(std::vector<const char*> arguments, QueryOptions* options, std::string* message) {
    arguments.insert(arguments.begin(), "tarvelon-query");
    return parseQueryOptions(static_cast<int>(arguments.size()), arguments.data(), options, message);
}

TEST(QueryOptions, OneServerAndTheFlags) {
    QueryOptions options;
    std::string message;
    ASSERT_EQ(parse({"--json", "[::1]:9000", "--high-latency"}, &options, &message),
              QueryOptionsOutcome::Run);
    EXPECT_TRUE(options.json);
    EXPECT_TRUE(options.highLatency);
    EXPECT_EQ(options.target.port, 9000);
    EXPECT_EQ(parse({"host", "-h"}, &options, &message), QueryOptionsOutcome::Help);
    EXPECT_EQ(parse({"--version"}, &options, &message), QueryOptionsOutcome::Version);

    EXPECT_EQ(parse({}, &options, &message), QueryOptionsOutcome::Error);
    EXPECT_EQ(message, "no server given");
    EXPECT_EQ(parse({"a", "b"}, &options, &message), QueryOptionsOutcome::Error);
    EXPECT_EQ(message, "more than one server given ('b')");
    EXPECT_EQ(parse({"--xml", "a"}, &options, &message), QueryOptionsOutcome::Error);
    EXPECT_EQ(message, "unknown option '--xml'");
}

SlotRecords sampleRecords() {
    SlotRecords records{};
    copyText16(records.host.hostName, kRecordTextUnits, u"rack \"7\"\\a");
    records.host.cpuCount = 8;
    records.host.cpuLoad = 12;
    records.host.cpuMhz = 2400;
    records.host.cpuMaxFreqPct = 80;
    records.host.physTotalMb = 16384;
    records.host.netIoMbit = 16;
    records.host.gpuCount = 2;
    GpuRecord& gpu = records.gpus[1];  // slot 0 not present: only present records are written
    gpu.present = 1;
    copyText16(gpu.gpuName, kRecordTextUnits, u"GPU\tOne");
    gpu.pciBus = 1;
    gpu.coreMhz = 1800;
    gpu.coreBoostMhz = 1905;
    gpu.coreClockPct = 94;
    gpu.fanRpmDiv32 = 46;
    gpu.memTempC = 80;
    return records;
}

TEST(QueryOutput, TextShowsTheHostAndThePresentGpus) {
    const std::string text = recordsAsText(sampleRecords());
    EXPECT_NE(text.find("host          rack \"7\"\\a\n"), std::string::npos) << text;
    EXPECT_NE(text.find("processors    8, load 12 %, 2400 MHz (80 % of maximum)\n"), std::string::npos);
    SlotRecords unknownMaximum = sampleRecords();
    unknownMaximum.host.cpuMaxFreqPct = 0;
    EXPECT_NE(recordsAsText(unknownMaximum).find("2400 MHz\n"), std::string::npos);
    EXPECT_NE(text.find("network       16 Mbit/s\n"), std::string::npos);
    EXPECT_EQ(text.find("GPU 0 "), std::string::npos);
    EXPECT_NE(text.find("GPU 1         GPU?One, PCI bus 1 device 0\n"), std::string::npos);
    EXPECT_NE(text.find("  core        1800 MHz of 1905 MHz (94 %)\n"), std::string::npos);
    EXPECT_NE(text.find("  fan         1472 RPM\n"), std::string::npos);
}

TEST(QueryOutput, NamesFromTheWireCannotDriveTheTerminalOrBreakUtf8) {
    SlotRecords records{};
    const char16_t name[] = {u'a', 0x1B, u'[', u'2', u'J', 0x9B, 0xD800, u'b', 0xDC00, 0xD83D, 0xDE00, 0};
    copyText16(records.host.hostName, kRecordTextUnits, name);
    EXPECT_NE(recordsAsText(records).find("host          a?[2J?\xEF\xBF\xBD"
                                          "b\xEF\xBF\xBD\xF0\x9F\x98\x80\n"),
              std::string::npos)
        << recordsAsText(records);
    EXPECT_NE(recordsAsJson(records).find("\"hostName\": \"a\\u001b[2J\xC2\x9B\xEF\xBF\xBD"
                                          "b\xEF\xBF\xBD\xF0\x9F\x98\x80\""),
              std::string::npos)
        << recordsAsJson(records);
}

TEST(QueryOutput, JsonUsesTheFieldNamesAndEscapesTexts) {
    const std::string json = recordsAsJson(sampleRecords());
    EXPECT_NE(json.find("\"hostName\": \"rack \\\"7\\\"\\\\a\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"cpuMhz\": 2400,"), std::string::npos);
    EXPECT_NE(json.find("\"gpuCount\": 2\n"), std::string::npos);
    EXPECT_NE(json.find("\"slot\": 1,"), std::string::npos);
    EXPECT_NE(json.find("\"gpuName\": \"GPU\\u0009One\""), std::string::npos);
    EXPECT_NE(json.find("\"fanRpm\": 1472,"), std::string::npos);
    EXPECT_NE(json.find("\"memTempC\": 80\n"), std::string::npos);
    EXPECT_EQ(json.find("\"slot\": 0"), std::string::npos);

    EXPECT_NE(recordsAsJson(SlotRecords{}).find("\"gpus\": []\n}"), std::string::npos);
}

}  // namespace
}  // namespace tarvelon
