#include "agent/basic_auth.h"

#include <crypt.h>

#include <cstring>
#include <memory>

namespace tarvelon {
namespace {

// A hash of the right shape for checking a user name that does not exist, so that it costs what a
// real check costs.
constexpr char kUnknownUserHash[] = "$2b$10$012345678901234567890urVuV8fgyOyxh5n8RGRs2vYgnyDa7b9O";

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

}  // namespace

void setBasicAuthUsers(BasicAuth& auth, const std::vector<WebUser>& users) {
    std::lock_guard<std::mutex> guard(auth.lock);
    auth.users = users;
    auth.remembered.assign(users.size(), RememberedCredentials{"", 0});
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

bool credentialsAccepted(BasicAuth& auth, const char* authorization, uint64_t nowMs) {
    if (auth.users.empty()) return true;
    std::string name;
    std::string password;
    if (!decodeBasicCredentials(authorization, &name, &password)) return false;
    size_t index = auth.users.size();
    for (size_t i = 0; i < auth.users.size(); ++i) {
        if (sameText(auth.users[i].name, name)) index = i;
    }
    if (index < auth.users.size()) {
        std::lock_guard<std::mutex> guard(auth.lock);
        const RememberedCredentials& remembered = auth.remembered[index];
        if (nowMs < remembered.untilMs && sameText(remembered.header, authorization)) return true;
    }
    const bool matches =
        passwordMatches(password, index < auth.users.size() ? auth.users[index].bcryptHash : kUnknownUserHash) &&
        index < auth.users.size();
    if (matches) {
        std::lock_guard<std::mutex> guard(auth.lock);
        auth.remembered[index] = RememberedCredentials{authorization, nowMs + kAcceptedCredentialsMs};
    }
    return matches;
}

}  // namespace tarvelon
