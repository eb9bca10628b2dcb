// The web configuration of the metrics endpoint (--web-config=FILE), in the YAML layout Prometheus'
// own exporters read: TLS with the server's certificate and key, and users who may scrape, each with
// a bcrypt hash of the password.
//
//   tls_server_config:
//     cert_file: /etc/tarvelon/agent.crt
//     key_file: /etc/tarvelon/agent.key
//     min_version: TLS12          # or TLS13; TLS 1.0 and 1.1 are refused
//     max_version: TLS13
//     prefer_server_cipher_suites: true
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

enum class TlsVersion { TLS12, TLS13 };

struct WebConfig {
    bool tls = false;
    TlsVersion minVersion = TlsVersion::TLS12;
    TlsVersion maxVersion = TlsVersion::TLS13;
    bool preferServerCipherSuites = true;
    std::string certFile;
    std::string keyFile;
    std::string certPem;  // the files' contents, read with the configuration so a fault stops the start
    std::string keyPem;
    std::vector<WebUser> users;  // none: no password asked
};

// Reads the configuration from text (named path in messages). False with "PATH:LINE: what is wrong"
// for anything it does not understand: a key it does not know, a value of the wrong kind, a TLS
// section without both files, a TLS version before 1.2, a cipher suite list, a user without a bcrypt
// hash of cost 4 to 31, a client certificate requirement, a second YAML document, a section, key or
// user given twice.
bool parseWebConfig(const std::string& text, const std::string& path, WebConfig* config,
                    std::string* message);
// The same from the file, with the certificate and key it names (a relative name taken from the
// file's folder); a file that cannot be read, or a certificate or key that is not PEM text, is named
// with the reason.
bool readWebConfig(const std::string& path, WebConfig* config, std::string* message);

// The TLS library's priority string for the configuration's versions and suite order: ECDHE key
// exchange with AES-GCM or ChaCha20-Poly1305 in TLS 1.2, and TLS 1.3's suites.
std::string tlsPriorities(const WebConfig& config);

// The bcrypt cost of a hash parseWebConfig accepted (4 to 31).
int bcryptCost(const std::string& hash);

}  // namespace tarvelon
