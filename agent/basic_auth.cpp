#include "agent/basic_auth.h"

#include <crypt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "agent/address_group.h"

namespace tarvelon {
namespace {

// Salt and hash for checking a user name that does not exist, behind "$2b$NN$" with the cost of the
// slowest user, so that it costs what a real check costs.
constexpr char kUnknownUserSaltAndHash[] = "012345678901234567890urVuV8fgyOyxh5n8RGRs2vYgnyDa7b9O";

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

bool sameText(const std::string& a, const std::string& b) {
    // Length first (it is not secret: a bcrypt hash is always 60), then every byte whatever differs.
    if (a.size() != b.size()) return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

bool counting(const LoginAttempts& entry, uint64_t nowMs) {
    return entry.checking > 0 || (entry.attempts > 0 && nowMs < entry.sinceMs + kFailedLoginWindowMs);
}

bool locked(const LoginAttempts& entry) {
    return entry.attempts >= kMostFailedLogins;
}

// The client's entry, a new one in a free place, else in place of the oldest that is not turned
// away: a full table must not free a client that is locked this minute. Null when every entry is
// locked or checking.
LoginAttempts* attemptsOf(BasicAuth& auth, const IpAddress& client, uint64_t nowMs) {
    LoginAttempts* free = nullptr;
    LoginAttempts* oldest = nullptr;
    for (LoginAttempts& entry : auth.clients) {
        const bool inUse = counting(entry, nowMs);
        if (sameGroup(entry.client, client) && (inUse || entry.checking > 0)) {
            // A window that ended while checks ran starts again with them.
            if (nowMs >= entry.sinceMs + kFailedLoginWindowMs)
                entry = LoginAttempts{client, nowMs, entry.checking, entry.checking, false};
            return &entry;
        }
        if (!inUse) {
            if (free == nullptr) free = &entry;
        } else if (!locked(entry) && entry.checking == 0 &&
                   (oldest == nullptr || entry.sinceMs < oldest->sinceMs)) {
            oldest = &entry;
        }
    }
    LoginAttempts* taken = free != nullptr ? free : oldest;
    if (taken != nullptr) *taken = LoginAttempts{client, nowMs, 0, 0, false};
    return taken;
}

bool rememberedHeader(BasicAuth& auth, const char* authorization, uint64_t nowMs) {
    for (RememberedHeader& entry : auth.remembered) {
        if (!entry.header.empty() && nowMs < entry.lastUsedMs + kRememberedHeaderMs &&
            sameText(entry.header, authorization)) {
            entry.lastUsedMs = nowMs;
            return true;
        }
    }
    return false;
}

void rememberHeader(BasicAuth& auth, const char* authorization, uint64_t nowMs) {
    RememberedHeader* place = &auth.remembered[0];
    for (RememberedHeader& entry : auth.remembered) {
        if (entry.header.empty() || entry.header == authorization) {
            place = &entry;
            break;
        }
        if (entry.lastUsedMs < place->lastUsedMs) place = &entry;
    }
    *place = RememberedHeader{authorization, nowMs};
}

// The check itself, waiting while as many run as there are processors.
bool boundedPasswordCheck(BasicAuth& auth, const std::string& password, const std::string& hash) {
    {
        std::unique_lock<std::mutex> guard(auth.lock);
        auth.checkEnded.wait(guard, [&] { return auth.checksRunning < auth.mostChecks; });
        ++auth.checksRunning;
    }
    const bool matches = auth.check(password, hash);
    {
        std::lock_guard<std::mutex> guard(auth.lock);
        --auth.checksRunning;
    }
    auth.checkEnded.notify_one();
    return matches;
}

bool sameUsers(const std::vector<WebUser>& a, const std::vector<WebUser>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].bcryptHash != b[i].bcryptHash) return false;
    }
    return true;
}

}  // namespace

void setBasicAuthUsers(BasicAuth& auth, const std::vector<WebUser>& users, unsigned processors) {
    std::lock_guard<std::mutex> guard(auth.lock);
    auth.mostChecks = processors;
    if (sameUsers(auth.users, users) && !auth.unknownUserHash.empty()) return;
    auth.users = users;
    ++auth.usersGeneration;
    for (RememberedHeader& entry : auth.remembered) entry = RememberedHeader{};
    int cost = 4;
    for (const WebUser& user : users) cost = std::max(cost, bcryptCost(user.bcryptHash));
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "$2b$%02d$", cost);
    auth.unknownUserHash = std::string(prefix) + kUnknownUserSaltAndHash;
}

bool bcryptMatches(const std::string& password, const std::string& hash) {
    auto data = std::make_unique<crypt_data>();
    const char* result = crypt_r(password.c_str(), hash.c_str(), data.get());
    return result != nullptr && result[0] != '*' && sameText(result, hash);
}

bool bcryptCostsDiffer(const std::vector<WebUser>& users) {
    for (const WebUser& user : users) {
        if (bcryptCost(user.bcryptHash) != bcryptCost(users[0].bcryptHash)) return true;
    }
    return false;
}

bool decodeBasicCredentials(const char* authorization, std::string* user, std::string* password) {
    if (authorization == nullptr || strncasecmp(authorization, "Basic ", 6) != 0) return false;
    const char* text = authorization + 6;
    while (*text == ' ') ++text;
    std::string decoded;
    uint32_t bits = 0;
    int bitCount = 0;
    size_t length = std::strlen(text);
    while (length > 0 && text[length - 1] == ' ') --length;
    size_t padding = 0;
    while (padding < 2 && length > 0 && text[length - 1] == '=') {
        --length;
        ++padding;
    }
    for (size_t i = 0; i < length; ++i) {
        const int value = base64Value(text[i]);
        if (value < 0) return false;
        bits = bits << 6 | static_cast<uint32_t>(value);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            decoded.push_back(static_cast<char>((bits >> bitCount) & 0xFF));
        }
    }
    const size_t colon = decoded.find(':');
    if (colon == std::string::npos) return false;
    *user = decoded.substr(0, colon);
    *password = decoded.substr(colon + 1);
    return true;
}

LoginOutcome checkLogin(BasicAuth& auth, const char* authorization, const IpAddress& from, uint64_t nowMs) {
    std::string name;
    std::string password;
    const bool decoded = decodeBasicCredentials(authorization, &name, &password);
    LoginAttempts* client = nullptr;
    std::string hash;
    bool known = false;
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> guard(auth.lock);
        if (auth.users.empty()) return LoginOutcome::Accepted;
        if (!decoded) return LoginOutcome::Refused;
        // Before the count: a scraper behind the same address as a guesser is still served.
        if (rememberedHeader(auth, authorization, nowMs)) return LoginOutcome::Accepted;
        client = attemptsOf(auth, addressGroup(from), nowMs);
        if (client == nullptr) return LoginOutcome::Locked;
        if (locked(*client)) {
            if (client->lockLogged) return LoginOutcome::Locked;
            client->lockLogged = true;
            return LoginOutcome::LockedAnew;
        }
        if (client->checking >= kMostChecksPerClient) return LoginOutcome::TooManyChecks;
        // Counted before the check, so that attempts sent at once cannot all pass the limit.
        ++client->attempts;
        ++client->checking;
        hash = auth.unknownUserHash;
        for (const WebUser& user : auth.users) {
            if (sameText(user.name, name)) {
                hash = user.bcryptHash;
                known = true;
            }
        }
        generation = auth.usersGeneration;
    }
    const bool matches = boundedPasswordCheck(auth, password, hash) && known;
    std::lock_guard<std::mutex> guard(auth.lock);
    --client->checking;
    if (!matches) return LoginOutcome::Refused;
    if (client->attempts > 0) --client->attempts;  // not a failure after all
    if (generation == auth.usersGeneration) rememberHeader(auth, authorization, nowMs);
    return LoginOutcome::Accepted;
}

}  // namespace tarvelon
