#include "agent/basic_auth.h"

#include <crypt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "net/allow_list.h"

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

bool passwordMatches(const std::string& password, const std::string& hash) {
    auto data = std::make_unique<crypt_data>();
    const char* result = crypt_r(password.c_str(), hash.c_str(), data.get());
    return result != nullptr && result[0] != '*' && sameText(result, hash);
}

// The address whose failures are counted together with from's.
IpAddress failureKey(const IpAddress& from) {
    IpAddress key = isMappedIPv4(from) ? unmappedIPv4(from) : from;
    key.scopeId = 0;
    std::memset(key.bytes + (key.family == IpFamily::IPv4 ? 4 : 8), 0, key.family == IpFamily::IPv4 ? 12 : 8);
    return key;
}

bool counting(const FailedLogins& entry, uint64_t nowMs) {
    return entry.count > 0 && nowMs < entry.sinceMs + kFailedLoginWindowMs;
}

FailedLogins* failuresOf(BasicAuth& auth, const IpAddress& key, uint64_t nowMs) {
    for (FailedLogins& entry : auth.failures) {
        if (counting(entry, nowMs) && entry.address.family == key.family &&
            std::memcmp(entry.address.bytes, key.bytes, sizeof key.bytes) == 0)
            return &entry;
    }
    return nullptr;
}

FailedLogins& newFailures(BasicAuth& auth, const IpAddress& key, uint64_t nowMs) {
    FailedLogins* oldest = &auth.failures[0];
    for (FailedLogins& entry : auth.failures) {
        if (!counting(entry, nowMs)) {
            oldest = &entry;
            break;
        }
        if (entry.sinceMs < oldest->sinceMs) oldest = &entry;
    }
    *oldest = FailedLogins{key, nowMs, 0};
    return *oldest;
}

// The check itself, waiting while as many run as there are processors.
bool boundedPasswordCheck(BasicAuth& auth, const std::string& password, const std::string& hash) {
    {
        std::unique_lock<std::mutex> guard(auth.lock);
        auth.checkEnded.wait(guard, [&] { return auth.checksRunning < auth.mostChecks; });
        ++auth.checksRunning;
    }
    const bool matches = passwordMatches(password, hash);
    {
        std::lock_guard<std::mutex> guard(auth.lock);
        --auth.checksRunning;
    }
    auth.checkEnded.notify_one();
    return matches;
}

}  // namespace

void setBasicAuthUsers(BasicAuth& auth, const std::vector<WebUser>& users, unsigned processors) {
    std::lock_guard<std::mutex> guard(auth.lock);
    auth.users = users;
    auth.remembered.assign(users.size(), RememberedCredentials{"", 0});
    int cost = 4;
    for (const WebUser& user : users) cost = std::max(cost, bcryptCost(user.bcryptHash));
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "$2b$%02d$", cost);
    auth.unknownUserHash = std::string(prefix) + kUnknownUserSaltAndHash;
    auth.mostChecks = processors;
    for (FailedLogins& entry : auth.failures) entry.count = 0;
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
    if (auth.users.empty()) return LoginOutcome::Accepted;
    std::string name;
    std::string password;
    if (!decodeBasicCredentials(authorization, &name, &password)) return LoginOutcome::Refused;
    size_t index = auth.users.size();
    for (size_t i = 0; i < auth.users.size(); ++i) {
        if (sameText(auth.users[i].name, name)) index = i;
    }
    const IpAddress key = failureKey(from);
    {
        std::lock_guard<std::mutex> guard(auth.lock);
        // Before the count: a scraper behind the same address as a guesser is still served.
        if (index < auth.users.size() && nowMs < auth.remembered[index].untilMs &&
            sameText(auth.remembered[index].header, authorization))
            return LoginOutcome::Accepted;
        const FailedLogins* failures = failuresOf(auth, key, nowMs);
        if (failures != nullptr && failures->count > kMostFailedLogins) return LoginOutcome::TurnedAway;
    }
    const bool known = index < auth.users.size();
    const bool matches =
        boundedPasswordCheck(auth, password, known ? auth.users[index].bcryptHash : auth.unknownUserHash) &&
        known;
    std::lock_guard<std::mutex> guard(auth.lock);
    if (matches) {
        auth.remembered[index] = RememberedCredentials{authorization, nowMs + kAcceptedCredentialsMs};
        return LoginOutcome::Accepted;
    }
    FailedLogins* failures = failuresOf(auth, key, nowMs);
    if (failures == nullptr) failures = &newFailures(auth, key, nowMs);
    return ++failures->count == kMostFailedLogins + 1 ? LoginOutcome::RefusedAndTurnedAway
                                                      : LoginOutcome::Refused;
}

}  // namespace tarvelon
