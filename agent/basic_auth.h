// Basic authentication of a scrape against the users of the web configuration. bcrypt is slow on
// purpose, so an accepted header is remembered for a minute: a scrape every second costs one bcrypt a
// minute. A wrong password costs a full check, at the cost of the slowest user's hash whether or not
// the user exists, so the timing of an answer tells nothing about a password or a user name; no more
// checks run at once than there are processors, and an address that keeps guessing is turned away
// without one for the rest of its minute.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "agent/web_config.h"
#include "platform/sockets.h"

namespace tarvelon {

constexpr uint64_t kAcceptedCredentialsMs = 60000;
// More failed logins than this from one address within kFailedLoginWindowMs of its first: turned away.
constexpr uint32_t kMostFailedLogins = 10;
constexpr uint64_t kFailedLoginWindowMs = 60000;
// Addresses whose failures are counted at once; the oldest count gives way to a new address.
constexpr size_t kFailedLoginAddresses = 256;

struct RememberedCredentials {
    std::string header;  // the whole Authorization value that was accepted
    uint64_t untilMs;
};

struct FailedLogins {
    IpAddress address;  // an IPv6 address by its /64, which one machine may hold whole
    uint64_t sinceMs;   // the first failure of the window
    uint32_t count;
};

struct BasicAuth {
    std::vector<WebUser> users;
    std::string unknownUserHash;  // checked for a name no user has, at the highest cost among them
    std::mutex lock;              // guards remembered and failures: requests are answered on several threads
    std::vector<RememberedCredentials> remembered;  // one a user, by index
    FailedLogins failures[kFailedLoginAddresses]{};
    std::condition_variable checkEnded;
    unsigned checksRunning = 0;  // guarded by lock
    unsigned mostChecks = 1;     // the processors
};

enum class LoginOutcome {
    Accepted,
    Refused,               // 401
    RefusedAndTurnedAway,  // 401, and the address has just passed kMostFailedLogins: worth a log line
    TurnedAway,            // 429, no check made
};

// processors (at least 1) bounds the bcrypt checks that run at once.
void setBasicAuthUsers(BasicAuth& auth, const std::vector<WebUser>& users, unsigned processors);

// Accepted when there are no users, or authorization (the header's value, null when absent) is
// "Basic" with the user name and password of one of them; from: the client's address.
LoginOutcome checkLogin(BasicAuth& auth, const char* authorization, const IpAddress& from, uint64_t nowMs);

// "user:password" from the base64 of a Basic header value; false when it is not one.
bool decodeBasicCredentials(const char* authorization, std::string* user, std::string* password);

}  // namespace tarvelon
