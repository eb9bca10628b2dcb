// The web configuration of the metrics endpoint (--web-config=FILE), in the YAML layout Prometheus'
// own exporters read: TLS with the server's certificate and key, and users who may scrape, each with
// a bcrypt hash of the password.
//
//   tls_server_config:
//     cert_file: /etc/tarvelon/agent.crt
//     key_file: /etc/tarvelon/agent.key
//   basic_auth_users:
//     prometheus: $2b$12$...
#pragma once

#include <string>
#include <vector>

namespace tarvelon {

struct WebUser {
    std::string name;
    std::string bcryptHash;
};

struct WebConfig {
    bool tls = false;
    std::string certFile;
    std::string keyFile;
    std::string certPem;  // the files' contents, read with the configuration so a fault stops the start
    std::string keyPem;
    std::vector<WebUser> users;  // none: no password asked
};

// Reads the configuration from text (named path in messages). False with "PATH:LINE: what is wrong"
// for anything it does not understand: a key it does not know, a value of the wrong kind, a TLS
// section without both files, a user without a bcrypt hash, a client certificate requirement.
bool parseWebConfig(const std::string& text, const std::string& path, WebConfig* config, std::string* message);
// The same from the file, with the certificate and key it names; a file that cannot be read, or a
// certificate or key that is not PEM text, is named with the reason.
bool readWebConfig(const std::string& path, WebConfig* config, std::string* message);

}  // namespace tarvelon
