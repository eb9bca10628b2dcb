// Basic authentication of a scrape against the users of the web configuration. bcrypt is slow on
// purpose, so an accepted header is remembered for a minute: a scrape every second costs one bcrypt a
// minute, while a wrong password always costs a full check. Comparisons take the same time whatever
// they compare, so the timing of an answer tells nothing about a password or a user name.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "agent/web_config.h"

namespace tarvelon {

constexpr uint64_t kAcceptedCredentialsMs = 60000;

struct RememberedCredentials {
    std::string header;  // the whole Authorization value that was accepted
    uint64_t untilMs;
};

struct BasicAuth {
    std::vector<WebUser> users;
    std::mutex lock;  // guards remembered: requests are answered on several threads
    std::vector<RememberedCredentials> remembered;  // one a user, by index
};

void setBasicAuthUsers(BasicAuth& auth, const std::vector<WebUser>& users);

// True when there are no users, or authorization (the header's value, null when absent) is "Basic"
// with the user name and password of one of them.
bool credentialsAccepted(BasicAuth& auth, const char* authorization, uint64_t nowMs);

// "user:password" from the base64 of a Basic header value; false when it is not one.
bool decodeBasicCredentials(const char* authorization, std::string* user, std::string* password);

}  // namespace tarvelon
