#include "net/server_rules.h"

#include "platform/clock.h"
#include "platform/sockets.h"
#include "platform/text16.h"

namespace tarvelon {

PeekOutcome decidePeek(int peekResult, int32_t errorCode) {
    if (errorCode == kSocketErrorConnectionReset) return PeekOutcome::ClearReset;
    // A pause after a quiet second would only let the next burst overflow the socket's queue and
    // lose honest queries with it.
    if (peekResult < 0 && errorCode == kSocketErrorTimedOut) return PeekOutcome::PeekAgain;
    if (peekResult < 0 && errorCode == 0) return PeekOutcome::Wait;
    // Any host can send a datagram this long; it must not be able to stop the server.
    if (errorCode == kSocketErrorMessageSize) return PeekOutcome::DiscardOversize;
    if (errorCode != 0) return PeekOutcome::Fail;
    return PeekOutcome::Answer;
}

void formatSocketFailure(char16_t* out, size_t capacity, int32_t errorCode) {
    format16(out, capacity, u"Could not create socket.\r\nWSA Error Code : %d", errorCode);
}

void formatBindFailure(char16_t* out, size_t capacity, int32_t errorCode) {
    format16(out, capacity, u"Could not bind to port.\r\nWSA Error Code : %d", errorCode);
}

void formatReceiveFailure(char16_t* out, size_t capacity, int32_t errorCode) {
    if (errorCode == kSocketErrorNotSocket) {
        format16(out, capacity,
                 u"Could not receive UDP datas.\r\nWSA Error Code : %d\r\nThis looks like you try to use a "
                 u"port\r\n"
                 u"that already in use. Maybe ...",
                 errorCode);
    } else {
        format16(out, capacity,
                 u"Could not receive UDP datas.\r\nWSA Error Code : %d\r\nGoogle for: win32 WSA Error <and "
                 u"this number>",
                 errorCode);
    }
}

namespace {

// Lower is worse.
int stateRank(int32_t state) {
    switch (state) {
        case kServerError:
            return 0;
        case kServerStartUp:
            return 1;
        case kServerShutdown:
            return 2;
        case kServerStopped:
            return 3;
        case kServerDisabled:
            return 4;
        default:
            return 5;
    }
}

}  // namespace

int32_t worseServerState(int32_t a, int32_t b) {
    return stateRank(b) < stateRank(a) ? b : a;
}

uint32_t nextRetryDelayMs(uint32_t previousMs) {
    if (previousMs == 0) return kFirstRetryDelayMs;
    return previousMs >= kLongestRetryDelayMs / 2 ? kLongestRetryDelayMs : previousMs * 2;
}

const char16_t* serverStateNameOf(int32_t state) {
    switch (state) {
        case kServerStopped:
        case kServerDisabled:
            return u"Stopped";
        case kServerShutdown:
            return u"Shutdown";
        case kServerStartUp:
            return u"Start Up";
        case kServerRunning:
            return u"Running";
        case kServerError:
            return u"Error";
        default:
            return u"";
    }
}

void formatUptime(char16_t* out, size_t capacity, int32_t state, int64_t uptimeSeconds) {
    if (state != kServerRunning) {
        format16(out, capacity, u"not running");
        return;
    }
    struct Unit {
        int64_t bound;
        const char16_t* format;
        int64_t divisor;
    };
    // "centuries" divides by ten years: the text has always shown it so.
    static const Unit units[] = {
        {180, u"%d minutes", 60},          {10800, u"%d hours", 3600},
        {259200, u"%d days", 86400},       {1209600, u"%d weeks", 604800},
        {60480000, u"%d years", 31536000}, {346896000, u"%d centuries", 315360000},
    };
    const char16_t* format = u"%d seconds";
    if (uptimeSeconds < 0) uptimeSeconds = 0;  // the clock was set back since the start
    int64_t value = uptimeSeconds;
    for (const Unit& unit : units) {
        if (uptimeSeconds > unit.bound) {
            format = unit.format;
            value = uptimeSeconds / unit.divisor;
        }
    }
    format16(out, capacity, format, static_cast<int32_t>(value));
}

void formatStatusReport(char16_t* out, size_t capacity, const ServerSnapshot& server) {
    const char16_t* line = u"";
    bool showsRunningTime = false;
    switch (server.state) {
        case kServerStopped:
        case kServerDisabled:
            line = u"Server is stopped and not running";
            break;
        case kServerShutdown:
            line = u"Server is going to shutdown";
            showsRunningTime = true;
            break;
        case kServerStartUp:
            line = u"Server is going to start up";
            break;
        case kServerRunning:
            line = u"Server is running";
            showsRunningTime = true;
            break;
        case kServerError:
            line = u"Detecting a error ... read Additional Message and try to fix it";
            break;
        default:
            break;
    }
    const uint64_t runningTime =
        showsRunningTime ? static_cast<uint64_t>(secondsSince(server.startTime, server.now)) : 0;
    format16(out, capacity,
             u"Server Status: %s\r\nAdditional Message (or last Message):\r\n%s\r\n\r\nRunning Time: %I64u "
             u"seconds\r\nCount of requests IPv4: %I64u\r\nCount of requests IPv6: %I64u\r\nCount of replies "
             u"from other senders: %I64u",
             line, server.message, runningTime, server.requestsIPv4, server.requestsIPv6, server.strayReplies);
}

}  // namespace tarvelon
