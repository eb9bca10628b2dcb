// Basic authentication of a scrape against the users of the web configuration. bcrypt is slow on
// purpose, so a header that was accepted is remembered while the users stay as they are and for
// kRememberedHeaderMs after its last use: a scraper polling once a minute or faster pays one bcrypt,
// and never meets a lock its neighbours earned. A wrong password costs a full check, at the cost of
// the slowest user's hash whether or not the user exists. Every attempt is counted against its
// client (an IPv4 address, an IPv6 /64) before its check: past kMostFailedLogins a minute, or with
// kMostChecksPerClient checks already running for it, the client is turned away without one, and no
// more checks run at once than there are processors.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "agent/web_config.h"
#include "platform/sockets.h"

namespace tarvelon {

constexpr uint64_t kRememberedHeaderMs = 10 * 60000;
constexpr size_t kRememberedHeaders = 64;  // the least recently used gives way
// More failed logins than this from one client within kFailedLoginWindowMs of its first: turned away.
constexpr uint32_t kMostFailedLogins = 10;
constexpr uint64_t kFailedLoginWindowMs = 60000;
constexpr unsigned kMostChecksPerClient = 2;
// Clients whose attempts are counted at once; the oldest that is not turned away gives way.
constexpr size_t kFailedLoginClients = 256;

struct RememberedHeader {
    std::string header;  // the whole Authorization value that was accepted; empty: a free entry
    uint64_t lastUsedMs;
};

struct LoginAttempts {
    IpAddress client;   // addressGroup of the address
    uint64_t sinceMs;   // the first attempt of the window
    uint32_t attempts;  // failed, or still being checked
    uint32_t checking;  // checks running now; an entry with any is never given away
    bool lockLogged;    // the turning away of this window was reported
};

// Whether password is the one hash was made from.
using PasswordCheck = bool (*)(const std::string& password, const std::string& hash);
bool bcryptMatches(const std::string& password, const std::string& hash);

struct BasicAuth {
    std::mutex lock;  // guards everything below: requests are answered on several threads
    std::vector<WebUser> users;
    std::string unknownUserHash;  // checked for a name no user has, at the highest cost among them
    RememberedHeader remembered[kRememberedHeaders];
    LoginAttempts clients[kFailedLoginClients]{};
    std::condition_variable checkEnded;
    unsigned checksRunning = 0;
    unsigned mostChecks = 1;       // the processors
    uint64_t usersGeneration = 0;  // a check begun under other users remembers nothing
    PasswordCheck check = bcryptMatches;
};

enum class LoginOutcome {
    Accepted,
    Refused,        // 401
    LockedAnew,     // 429 without a check: the client has just met its lock, worth a log line
    Locked,         // 429 without a check, for the rest of the client's minute
    TooManyChecks,  // 429 without a check: kMostChecksPerClient of its checks are running
};

// Sets the users (a change forgets every remembered header) and processors (at least 1), which
// bounds the checks that run at once.
void setBasicAuthUsers(BasicAuth& auth, const std::vector<WebUser>& users, unsigned processors);

// Accepted when there are no users, or authorization (the header's value, null when absent) is
// "Basic" with the user name and password of one of them; from: the client's address.
LoginOutcome checkLogin(BasicAuth& auth, const char* authorization, const IpAddress& from, uint64_t nowMs);

// "user:password" from the base64 of a Basic header value; false when it is not one.
bool decodeBasicCredentials(const char* authorization, std::string* user, std::string* password);

// Whether the users' hashes have different costs: a user of a lower cost then answers faster than a
// name that does not exist, which tells the name.
bool bcryptCostsDiffer(const std::vector<WebUser>& users);

}  // namespace tarvelon
