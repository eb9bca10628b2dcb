// The query server's decisions and texts: what a peek means, the state names, uptime and report.
#include "net/server_rules.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/sockets.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

TEST(DecidePeek, TellsDatagramsFromFailures) {
    struct Case {
        int result;
        int32_t error;
        PeekOutcome outcome;
    };
    const Case cases[] = {
        {3, 0, PeekOutcome::Answer},
        {0, 0, PeekOutcome::Answer},  // an empty datagram is received and dropped by the answer rules
        {-1, 10060, PeekOutcome::PeekAgain},
        {-1, 0, PeekOutcome::Wait},
        {-1, 10054, PeekOutcome::ClearReset},
        {-1, 10040, PeekOutcome::DiscardOversize},
        {-1, 10038, PeekOutcome::Fail},
        {-1, 10050, PeekOutcome::Fail},
    };
    for (const Case& c : cases)
        EXPECT_EQ(decidePeek(c.result, c.error), c.outcome) << c.result << " " << c.error;
}

TEST(ServerMessages, NameTheErrorCode) {
    char16_t text[kServerMessageUnits];
    formatSocketFailure(text, kServerMessageUnits, 10047);
    EXPECT_EQ(toUtf8(text), "Could not create socket.\r\nWSA Error Code : 10047");
    formatBindFailure(text, kServerMessageUnits, 10048);
    EXPECT_EQ(toUtf8(text), "Could not bind to port.\r\nWSA Error Code : 10048");
    formatReceiveFailure(text, kServerMessageUnits, 10038);
    EXPECT_EQ(
        toUtf8(text),
        "Could not receive UDP datas.\r\nWSA Error Code : 10038\r\nThis looks like you try to use a port\r\n"
        "that already in use. Maybe ...");
    formatReceiveFailure(text, kServerMessageUnits, 10050);
    EXPECT_EQ(toUtf8(text),
              "Could not receive UDP datas.\r\nWSA Error Code : 10050\r\nGoogle for: win32 WSA Error <and "
              "this number>");
}

TEST(ServerStateOfBothThreads, ShowsTheWorse) {
    struct Case {
        int32_t a, b, shown;
    };
    const Case cases[] = {
        {kServerRunning, kServerRunning, kServerRunning},   {kServerRunning, kServerError, kServerError},
        {kServerError, kServerStartUp, kServerError},       {kServerRunning, kServerStartUp, kServerStartUp},
        {kServerShutdown, kServerStopped, kServerShutdown}, {kServerDisabled, kServerStopped, kServerStopped},
        {kServerRunning, kServerDisabled, kServerDisabled},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(worseServerState(c.a, c.b), c.shown) << c.a << " " << c.b;
        EXPECT_EQ(worseServerState(c.b, c.a), c.shown) << c.b << " " << c.a;
    }
}

TEST(RetryDelay, GrowsFromHalfASecondToEightSeconds) {
    uint32_t delay = 0;
    std::vector<uint32_t> delays;
    for (int failure = 0; failure < 7; ++failure) delays.push_back(delay = nextRetryDelayMs(delay));
    EXPECT_EQ(delays, (std::vector<uint32_t>{500, 1000, 2000, 4000, 8000, 8000, 8000}));
}

TEST(ServerStateName, CoversEveryState) {
    const char* expected[] = {"Stopped", "Shutdown", "Start Up", "Running", "Error", "Stopped"};
    for (int32_t state = kServerStopped; state <= kServerDisabled; ++state) {
        EXPECT_EQ(toUtf8(serverStateNameOf(state)), expected[state]);
    }
}

TEST(Uptime, SwitchesUnitOnlyPastEachBound) {
    struct Case {
        int64_t seconds;
        const char* text;
    };
    const Case cases[] = {
        {-5, "0 seconds"},       {0, "0 seconds"},           {180, "180 seconds"},
        {181, "3 minutes"},      {10800, "180 minutes"},     {10801, "3 hours"},
        {259200, "72 hours"},    {259201, "3 days"},         {1209600, "14 days"},
        {1209601, "2 weeks"},    {60480000, "100 weeks"},    {60480001, "1 years"},
        {346896000, "11 years"}, {346896001, "1 centuries"}, {3153600000, "10 centuries"},
    };
    char16_t text[kServerTextUnits];
    for (const Case& c : cases) {
        formatUptime(text, kServerTextUnits, kServerRunning, c.seconds);
        EXPECT_EQ(toUtf8(text), c.text) << c.seconds;
    }
    for (int32_t state : {kServerStopped, kServerShutdown, kServerStartUp, kServerError, kServerDisabled}) {
        formatUptime(text, kServerTextUnits, state, 500);
        EXPECT_EQ(toUtf8(text), "not running");
    }
}

TEST(StatusReport, ShowsRunningTimeOnlyWhileRunningOrShuttingDown) {
    struct Case {
        int32_t state;
        const char* line;
        uint64_t runningTime;
    };
    const Case cases[] = {
        {kServerStopped, "Server is stopped and not running", 0},
        {kServerDisabled, "Server is stopped and not running", 0},
        {kServerShutdown, "Server is going to shutdown", 75},
        {kServerStartUp, "Server is going to start up", 0},
        {kServerRunning, "Server is running", 75},
        {kServerError, "Detecting a error ... read Additional Message and try to fix it", 0},
    };
    char16_t text[kStatusReportUnits];
    for (const Case& c : cases) {
        const ServerSnapshot server = {c.state, u"last words", 1000075, 1000000, 12, 34, 5};
        formatStatusReport(text, kStatusReportUnits, server);
        EXPECT_EQ(toUtf8(text),
                  std::string("Server Status: ") + c.line +
                      "\r\nAdditional Message (or last Message):\r\nlast words\r\n\r\nRunning Time: " +
                      std::to_string(c.runningTime) +
                      " seconds\r\nCount of requests IPv4: 12\r\nCount of requests IPv6: 34\r\n"
                      "Count of replies from other senders: 5");
    }
    // A wall clock set back since the start shows no running time rather than 2^64 - 5 seconds.
    formatStatusReport(text, kStatusReportUnits, {kServerRunning, u"", 1000000, 1000005, 0, 0, 0});
    EXPECT_NE(toUtf8(text).find("Running Time: 0 seconds"), std::string::npos);
}

}  // namespace
}  // namespace tarvelon
