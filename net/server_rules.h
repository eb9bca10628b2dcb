// The query server's decisions and texts, free of sockets and threads: what a peek at the socket
// means for the receive loop, the state words, the messages, and the state name, uptime and status
// report texts the Network Setup dialog shows.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvelon {

// Values of serverState.
enum ServerState : int32_t {
    kServerStopped = 0,
    kServerShutdown = 1,
    kServerStartUp = 2,
    kServerRunning = 3,
    kServerError = 4,
    kServerDisabled = 5,
};

constexpr int kServerMessageUnits = 256;
constexpr int kStatusReportUnits = 2000;
constexpr int kServerTextUnits = 100;

// What the receive loop does after peeking at the socket.
enum class PeekOutcome {
    Answer,  // a datagram of at most the read limit is waiting
    // 10054, an earlier reply was refused: one plain receive takes the report away. Whatever datagram
    // it brings is answered like any other, so that a sender who makes replies bounce cannot have the
    // next query thrown away.
    ClearReset,
    PeekAgain,        // time-out: the peek itself waited, so peeking again does not spin
    Wait,             // a failure without a code: pause, then peek again
    DiscardOversize,  // 10040, a datagram longer than the read limit: read it away, keep serving
    Fail,             // anything else: close the socket and go into Error
};
PeekOutcome decidePeek(int peekResult, int32_t errorCode);

// "Could not create socket..." / "Could not bind to port..." / "Could not receive UDP datas..."
void formatSocketFailure(char16_t* out, size_t capacity, int32_t errorCode);
void formatBindFailure(char16_t* out, size_t capacity, int32_t errorCode);
void formatReceiveFailure(char16_t* out, size_t capacity, int32_t errorCode);

// Each thread follows its own state; the dialog shows one, the worse of the two: Error, then Start Up,
// Shutdown, Stopped, Disabled, and Running only when both run.
int32_t worseServerState(int32_t a, int32_t b);

// After a failure the thread opens and binds again by itself, first 0.5 s later, then waiting twice
// as long after each failure in a row, at most 8 s. previousMs is 0 after a success.
constexpr uint32_t kFirstRetryDelayMs = 500;
constexpr uint32_t kLongestRetryDelayMs = 8000;
uint32_t nextRetryDelayMs(uint32_t previousMs);

// "Stopped", "Shutdown", "Start Up", "Running", "Error".
const char16_t* serverStateNameOf(int32_t state);

// "not running" unless Running; otherwise the uptime in the largest unit whose bound it exceeds.
void formatUptime(char16_t* out, size_t capacity, int32_t state, int64_t uptimeSeconds);

struct ServerSnapshot {
    int32_t state;
    const char16_t* message;
    int64_t now;
    int64_t startTime;
    uint64_t requestsIPv4;
    uint64_t requestsIPv6;
    uint64_t strayReplies;  // replies to this machine's queries that came from elsewhere
};
void formatStatusReport(char16_t* out, size_t capacity, const ServerSnapshot& server);

}  // namespace tarvelon
