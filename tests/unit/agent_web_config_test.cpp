// The metrics endpoint's web configuration and its basic authentication.
#include <gtest/gtest.h>

#include <string>

#include "agent/basic_auth.h"
#include "agent/web_config.h"

namespace tarvelon {
namespace {

constexpr char kHash[] = "$2b$04$abcdefghijklmnopqrstuuLZYjhNQAOdpbzt4WxWlUHjv1wsyH5DG";  // "s3cret"
constexpr char kOtherHash[] = "$2b$04$abcdefghijklmnopqrstuu0HtfOlPbTiymk5tcV.3TsFPDd3SYZqu";

TEST(WebConfig, ReadsTlsAndUsersAndNamesTheLineOfAnyFault) {
    WebConfig config;
    std::string message;
    ASSERT_TRUE(parseWebConfig(std::string("tls_server_config:\n  cert_file: /a.crt\n  key_file: /a.key\n"
                                           "  client_auth_type: NoClientCert\nbasic_auth_users:\n  prometheus: ") +
                                   kHash + "\n",
                               "web.yml", &config, &message))
        << message;
    EXPECT_TRUE(config.tls);
    EXPECT_EQ(config.certFile, "/a.crt");
    EXPECT_EQ(config.keyFile, "/a.key");
    ASSERT_EQ(config.users.size(), 1u);
    EXPECT_EQ(config.users[0].name, "prometheus");
    ASSERT_TRUE(parseWebConfig("", "web.yml", &config, &message));
    EXPECT_FALSE(config.tls);

    const struct {
        const char* text;
        const char* message;
    } faults[] = {
        {"tls_server_config:\n  cert_file: /a.crt\n", "web.yml:2: tls_server_config needs both cert_file and key_file"},
        {"tls_server_config:\n  cert_file: /a\n  key_file: /b\n  min_version: TLS13\n",
         "web.yml:4: unknown key min_version in tls_server_config"},
        {"tls_server_config:\n  cert_file: /a\n  key_file: /b\n  client_auth_type: RequireAndVerifyClientCert\n",
         "web.yml:4: client_auth_type RequireAndVerifyClientCert is not supported; use NoClientCert and "
         "basic_auth_users"},
        {"basic_auth_users:\n  prometheus: secret\n", "web.yml:2: the password of prometheus is not a bcrypt hash"},
        {"basic_auth_users: [a, b]\n", "web.yml:1: basic_auth_users must be a mapping"},
        {"http_server_config:\n  http2: true\n", "web.yml:1: unknown section http_server_config"},
        {"basic_auth_users:\n  prometheus: [x]\n", "web.yml:2: prometheus must be a single value"},
        {"a: b\n c: d\n", "web.yml:2: mapping values are not allowed in this context"},
        {"- a\n", "web.yml:1: the file must be a mapping of sections"},
    };
    for (const auto& fault : faults) {
        EXPECT_FALSE(parseWebConfig(fault.text, "web.yml", &config, &message)) << fault.text;
        EXPECT_EQ(message, fault.message) << fault.text;
    }
    EXPECT_FALSE(readWebConfig("/nonexistent/web.yml", &config, &message));
    EXPECT_EQ(message, "/nonexistent/web.yml: No such file or directory");
}

TEST(BasicAuth, AcceptsTheRightUserAndPasswordAndRemembersThemForAMinute) {
    BasicAuth auth;
    EXPECT_TRUE(credentialsAccepted(auth, nullptr, 0));  // no users: no password asked
    setBasicAuthUsers(auth, {{"prometheus", kHash}});
    const char* right = "Basic cHJvbWV0aGV1czpzM2NyZXQ=";
    const struct {
        const char* header;
        bool accepted;
    } cases[] = {
        {nullptr, false},
        {"Bearer cHJvbWV0aGV1czpzM2NyZXQ=", false},
        {"Basic cHJvbWV0aGV1czp3cm9uZw==", false},  // prometheus:wrong
        {"Basic bm9ib2R5OnMzY3JldA==", false},      // nobody:s3cret
        {"Basic !!!", false},
        {"Basic cHJvbWV0aGV1cw==", false},  // no colon
        {"basic  cHJvbWV0aGV1czpzM2NyZXQ=", true},
        {right, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(credentialsAccepted(auth, c.header, 1000), c.accepted) << (c.header ? c.header : "(none)");
    }
    // The password changes under a remembered header: still accepted until the minute is over.
    auth.users[0].bcryptHash = kOtherHash;
    EXPECT_TRUE(credentialsAccepted(auth, right, 1000 + kAcceptedCredentialsMs - 1));
    EXPECT_FALSE(credentialsAccepted(auth, right, 1000 + kAcceptedCredentialsMs));
}

}  // namespace
}  // namespace tarvelon
