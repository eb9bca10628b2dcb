#include "agent/web_config.h"

#include <yaml.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace tarvelon {
namespace {

// The document as libyaml parses it, with the line of each node for messages.
struct Document {
    yaml_document_t document;
    bool loaded = false;
    ~Document() {
        if (loaded) yaml_document_delete(&document);
    }
};

struct Reader {
    const std::string& path;
    yaml_document_t* document;
    std::string* message;

    bool fail(const yaml_node_t* node, const std::string& what) {
        *message = path + ":" + std::to_string(node != nullptr ? node->start_mark.line + 1 : 1) + ": " + what;
        return false;
    }
    yaml_node_t* node(int index) { return yaml_document_get_node(document, index); }
    std::string scalar(const yaml_node_t* node) {
        return std::string(reinterpret_cast<const char*>(node->data.scalar.value), node->data.scalar.length);
    }
    // False, naming both lines, when key was already given at this level: a second one would
    // otherwise silently win over the first.
    bool once(const yaml_node_t* key, const std::string& what, std::vector<const yaml_node_t*>* seen) {
        for (const yaml_node_t* earlier : *seen) {
            if (scalar(earlier) == scalar(key))
                return fail(key, what + " given a second time (first on line " +
                                     std::to_string(earlier->start_mark.line + 1) + ")");
        }
        seen->push_back(key);
        return true;
    }
    // A scalar value, or a failure naming the key.
    bool text(const yaml_node_t* value, const std::string& key, std::string* out) {
        if (value->type != YAML_SCALAR_NODE) return fail(value, key + " must be a single value");
        *out = scalar(value);
        return true;
    }
};

bool isBcrypt(const std::string& hash) {
    // $2a$, $2b$ or $2y$, a cost of 04 to 31 and 53 characters of salt and hash in bcrypt's base64.
    if (hash.size() != 60 || hash.compare(0, 2, "$2") != 0 || std::strchr("aby", hash[2]) == nullptr ||
        hash[3] != '$' || hash[6] != '$' || hash.find_first_not_of("0123456789", 4) != 6)
        return false;
    const int cost = bcryptCost(hash);
    return cost >= 4 && cost <= 31 &&
           hash.find_first_not_of("./ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", 7) ==
               std::string::npos;
}

bool readVersion(Reader& reader, const yaml_node_t* value, const std::string& setting, TlsVersion* version) {
    if (setting == "TLS12") {
        *version = TlsVersion::TLS12;
    } else if (setting == "TLS13") {
        *version = TlsVersion::TLS13;
    } else if (setting == "TLS10" || setting == "TLS11") {
        return reader.fail(value,
                           setting + " is refused: RFC 8996 retires TLS 1.0 and 1.1; use TLS12 or TLS13");
    } else {
        return reader.fail(value, "unknown TLS version " + setting + "; use TLS12 or TLS13");
    }
    return true;
}

bool readTls(Reader& reader, const yaml_node_t* section, WebConfig* config) {
    if (section->type != YAML_MAPPING_NODE)
        return reader.fail(section, "tls_server_config must be a mapping");
    config->tls = true;
    std::vector<const yaml_node_t*> seen;
    for (yaml_node_pair_t* pair = section->data.mapping.pairs.start; pair < section->data.mapping.pairs.top;
         ++pair) {
        const yaml_node_t* key = reader.node(pair->key);
        const yaml_node_t* value = reader.node(pair->value);
        if (key->type != YAML_SCALAR_NODE) return reader.fail(key, "a key must be a name");
        const std::string name = reader.scalar(key);
        if (!reader.once(key, name, &seen)) return false;
        if (name == "cipher_suites") {
            // The TLS library cannot be held to an exact list of suites: refused rather than half kept.
            return reader.fail(key,
                               "cipher_suites is not supported: TLS 1.2 and 1.3 use the TLS library's "
                               "secure suites");
        }
        std::string setting;
        if (!reader.text(value, name, &setting)) return false;
        if (name == "min_version") {
            if (!readVersion(reader, value, setting, &config->minVersion)) return false;
        } else if (name == "max_version") {
            if (!readVersion(reader, value, setting, &config->maxVersion)) return false;
        } else if (name == "prefer_server_cipher_suites") {
            if (setting != "true" && setting != "false")
                return reader.fail(value, "prefer_server_cipher_suites must be true or false");
            config->preferServerCipherSuites = setting == "true";
        } else if (name == "cert_file") {
            config->certFile = setting;
        } else if (name == "key_file") {
            config->keyFile = setting;
        } else if (name == "client_auth_type") {
            // Client certificates are not checked by this agent: say so rather than accept them unchecked.
            if (setting != "NoClientCert")
                return reader.fail(value, "client_auth_type " + setting +
                                              " is not supported; use NoClientCert and basic_auth_users");
        } else if (name == "client_ca_file") {
            if (!setting.empty())
                return reader.fail(value,
                                   "client_ca_file is not supported: client certificates are not checked");
        } else {
            return reader.fail(key, "unknown key " + name + " in tls_server_config");
        }
    }
    if (config->certFile.empty() || config->keyFile.empty()) {
        return reader.fail(section, "tls_server_config needs both cert_file and key_file");
    }
    if (config->maxVersion < config->minVersion)
        return reader.fail(section, "max_version is older than min_version");
    return true;
}

bool readUsers(Reader& reader, const yaml_node_t* section, WebConfig* config) {
    if (section->type != YAML_MAPPING_NODE) return reader.fail(section, "basic_auth_users must be a mapping");
    std::vector<const yaml_node_t*> seen;
    for (yaml_node_pair_t* pair = section->data.mapping.pairs.start; pair < section->data.mapping.pairs.top;
         ++pair) {
        const yaml_node_t* key = reader.node(pair->key);
        const yaml_node_t* value = reader.node(pair->value);
        if (key->type != YAML_SCALAR_NODE) return reader.fail(key, "a user name must be a single value");
        WebUser user{reader.scalar(key), ""};
        if (!reader.once(key, "user " + user.name, &seen)) return false;
        if (user.name.empty() || user.name.find(':') != std::string::npos) {
            return reader.fail(key, "a user name must be non-empty and without ':'");
        }
        if (!reader.text(value, user.name, &user.bcryptHash)) return false;
        if (!isBcrypt(user.bcryptHash))
            return reader.fail(value,
                               "the password of " + user.name + " is not a bcrypt hash of cost 4 to 31");
        config->users.push_back(user);
    }
    return true;
}

}  // namespace

bool parseWebConfig(const std::string& text, const std::string& path, WebConfig* config,
                    std::string* message) {
    *config = WebConfig{};
    yaml_parser_t parser;
    if (yaml_parser_initialize(&parser) == 0) {
        *message = path + ": out of memory";
        return false;
    }
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    Document document;
    Document next;  // a second document would otherwise go unread, and its sections with it
    document.loaded = yaml_parser_load(&parser, &document.document) != 0;
    next.loaded = document.loaded && yaml_parser_load(&parser, &next.document) != 0;
    if (!next.loaded) {
        *message = path + ":" + std::to_string(parser.problem_mark.line + 1) + ": " +
                   (parser.problem != nullptr ? parser.problem : "not YAML");
        yaml_parser_delete(&parser);
        return false;
    }
    yaml_parser_delete(&parser);
    if (const yaml_node_t* second = yaml_document_get_root_node(&next.document)) {
        *message = path + ":" + std::to_string(second->start_mark.line + 1) +
                   ": a second YAML document; put every section in one";
        return false;
    }
    Reader reader{path, &document.document, message};
    const yaml_node_t* root = yaml_document_get_root_node(&document.document);
    if (root == nullptr) return true;  // an empty file: plain HTTP, no passwords
    if (root->type != YAML_MAPPING_NODE) return reader.fail(root, "the file must be a mapping of sections");
    std::vector<const yaml_node_t*> seen;
    for (yaml_node_pair_t* pair = root->data.mapping.pairs.start; pair < root->data.mapping.pairs.top;
         ++pair) {
        const yaml_node_t* key = reader.node(pair->key);
        const yaml_node_t* value = reader.node(pair->value);
        if (key->type != YAML_SCALAR_NODE) return reader.fail(key, "a section name must be a single value");
        const std::string name = reader.scalar(key);
        if (!reader.once(key, "section " + name, &seen)) return false;
        if (name == "tls_server_config") {
            if (!readTls(reader, value, config)) return false;
        } else if (name == "basic_auth_users") {
            if (!readUsers(reader, value, config)) return false;
        } else {
            return reader.fail(key, "unknown section " + name);
        }
    }
    return true;
}

namespace {

// The whole of a small text file.
bool readTextFile(const std::string& path, std::string* text, std::string* message) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (file == nullptr) {
        *message = path + ": " + std::strerror(errno);
        return false;
    }
    text->clear();
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        text->append(chunk, got);
        if (text->size() > 1 << 20) {
            *message = path + ": larger than 1 MiB";
            return false;
        }
    }
    if (std::ferror(file.get()) != 0) {
        *message = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool readPem(const std::string& path, std::string* pem, std::string* message) {
    if (!readTextFile(path, pem, message)) return false;
    if (pem->find("-----BEGIN ") != std::string::npos) return true;
    *message = path + ": not a PEM certificate or key";
    return false;
}

}  // namespace

int bcryptCost(const std::string& hash) {
    return (hash[4] - '0') * 10 + (hash[5] - '0');
}

std::string tlsPriorities(const WebConfig& config) {
    // Forward-secret key exchange and AEAD ciphers only, as Go's exporters offer by default: TLS 1.2's
    // static-RSA key exchange and CBC suites with SHA-1 are left out.
    std::string priorities =
        "NORMAL:-VERS-ALL:-KX-ALL:+ECDHE-ECDSA:+ECDHE-RSA:-CIPHER-ALL:+AES-128-GCM:+AES-256-GCM:"
        "+CHACHA20-POLY1305:-MAC-ALL:+AEAD";
    if (config.maxVersion == TlsVersion::TLS13) priorities += ":+VERS-TLS1.3";
    if (config.minVersion == TlsVersion::TLS12) priorities += ":+VERS-TLS1.2";
    if (config.preferServerCipherSuites) priorities += ":%SERVER_PRECEDENCE";
    return priorities;
}

bool readWebConfig(const std::string& path, WebConfig* config, std::string* message) {
    std::string text;
    if (!readTextFile(path, &text, message) || !parseWebConfig(text, path, config, message)) return false;
    // As Prometheus's exporters do: relative to the configuration's folder, not the service's.
    const size_t slash = path.find_last_of('/');
    for (std::string* file : {&config->certFile, &config->keyFile}) {
        if (!file->empty() && (*file)[0] != '/' && slash != std::string::npos)
            *file = path.substr(0, slash + 1) + *file;
    }
    return !config->tls || (readPem(config->certFile, &config->certPem, message) &&
                            readPem(config->keyFile, &config->keyPem, message));
}

}  // namespace tarvelon
