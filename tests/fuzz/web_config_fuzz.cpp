// The web configuration from any text: read or refused, never a crash or a leak; a refusal names the
// file and a line, an accepted file has both TLS files when it has TLS, versions in order, and only
// bcrypt hashes of cost 4 to 31.
//
// Input: the file's text.
#include <cstdlib>
#include <string>

#include "agent/web_config.h"

using namespace tarvelon;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    WebConfig config;
    std::string message;
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (!parseWebConfig(text, "web.yml", &config, &message)) {
        if (message.rfind("web.yml:", 0) != 0) std::abort();
        return 0;
    }
    if (config.tls && (config.certFile.empty() || config.keyFile.empty())) std::abort();
    if (config.maxVersion < config.minVersion) std::abort();
    for (const WebUser& user : config.users) {
        if (user.name.empty() || user.bcryptHash.size() != 60) std::abort();
        if (bcryptCost(user.bcryptHash) < 4 || bcryptCost(user.bcryptHash) > 31) std::abort();
    }
    return 0;
}
