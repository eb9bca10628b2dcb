// The metrics endpoint's web configuration and its basic authentication.
#include <gtest/gtest.h>

#include <string>

#include "agent/agent_options.h"
#include "agent/basic_auth.h"
#include "agent/web_config.h"

namespace tarvelon {
namespace {

constexpr char kHash[] = "$2b$04$abcdefghijklmnopqrstuuLZYjhNQAOdpbzt4WxWlUHjv1wsyH5DG";  // "s3cret"
constexpr char kOtherHash[] = "$2b$04$abcdefghijklmnopqrstuu0HtfOlPbTiymk5tcV.3TsFPDd3SYZqu";

TEST(WebConfig, ReadsTlsAndUsersAndNamesTheLineOfAnyFault) {
    WebConfig config;
    std::string message;
    ASSERT_TRUE(
        parseWebConfig(std::string("tls_server_config:\n  cert_file: /a.crt\n  key_file: /a.key\n"
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
        {"tls_server_config:\n  cert_file: /a.crt\n",
         "web.yml:2: tls_server_config needs both cert_file and key_file"},
        {"tls_server_config:\n  cert_file: /a\n  key_file: /b\n  min_version: TLS11\n",
         "web.yml:4: TLS11 is refused: RFC 8996 retires TLS 1.0 and 1.1; use TLS12 or TLS13"},
        {"tls_server_config:\n  cert_file: /a\n  key_file: /b\n  max_version: TLS10\n",
         "web.yml:4: TLS10 is refused: RFC 8996 retires TLS 1.0 and 1.1; use TLS12 or TLS13"},
        {"tls_server_config:\n  cert_file: /a\n  key_file: /b\n  min_version: TLS13\n  max_version: TLS12\n",
         "web.yml:2: max_version is older than min_version"},
        {"tls_server_config:\n  cert_file: /a\n  key_file: /b\n  cipher_suites: [TLS_AES_128_GCM_SHA256]\n",
         "web.yml:4: cipher_suites is not supported: TLS 1.2 and 1.3 use the TLS library's secure suites"},
        {"tls_server_config:\n  cert_file: /a\n  key_file: /b\n  prefer_server_cipher_suites: yes\n",
         "web.yml:4: prefer_server_cipher_suites must be true or false"},
        {"tls_server_config:\n  cert_file: /a\n  key_file: /b\n---\nbasic_auth_users:\n  p: x\n",
         "web.yml:5: a second YAML document; put every section in one"},
        {"basic_auth_users:\n  prometheus: $2b$99$abcdefghijklmnopqrstuuLZYjhNQAOdpbzt4WxWlUHjv1wsyH5DG\n",
         "web.yml:2: the password of prometheus is not a bcrypt hash of cost 4 to 31"},
        {"basic_auth_users:\n  a: $2b$03$abcdefghijklmnopqrstuuLZYjhNQAOdpbzt4WxWlUHjv1wsyH5DG\n",
         "web.yml:2: the password of a is not a bcrypt hash of cost 4 to 31"},
        {"basic_auth_users:\n  a: $2b$04$abcdefghijklmnopqrstuuLZYjhNQAOdpbzt4WxWlUHjv1wsyH5D!\n",
         "web.yml:2: the password of a is not a bcrypt hash of cost 4 to 31"},
        {"tls_server_config:\n  cert_file: /a\n  key_file: /b\n  client_auth_type: "
         "RequireAndVerifyClientCert\n",
         "web.yml:4: client_auth_type RequireAndVerifyClientCert is not supported; use NoClientCert and "
         "basic_auth_users"},
        {"basic_auth_users:\n  prometheus: secret\n",
         "web.yml:2: the password of prometheus is not a bcrypt hash of cost 4 to 31"},
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

TEST(WebConfig, TlsVersionsAndSuiteOrderBecomeTheLibrarysPriorities) {
    const struct {
        const char* settings;
        const char* priorities;
    } cases[] = {
        {"", "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2:%SERVER_PRECEDENCE"},
        {"  min_version: TLS13\n", "NORMAL:-VERS-ALL:+VERS-TLS1.3:%SERVER_PRECEDENCE"},
        {"  max_version: TLS12\n  prefer_server_cipher_suites: false\n", "NORMAL:-VERS-ALL:+VERS-TLS1.2"},
    };
    for (const auto& c : cases) {
        WebConfig config;
        std::string message;
        ASSERT_TRUE(
            parseWebConfig(std::string("tls_server_config:\n  cert_file: /a\n  key_file: /b\n") + c.settings,
                           "web.yml", &config, &message))
            << message;
        EXPECT_EQ(tlsPriorities(config), c.priorities) << c.settings;
    }
}

IpAddress address(const char* text) {
    IpAddress parsed{};
    EXPECT_TRUE(parseListenAddress(text, &parsed)) << text;
    return parsed;
}

TEST(BasicAuth, AcceptsTheRightUserAndPasswordAndRemembersThemForAMinute) {
    BasicAuth auth;
    const IpAddress from = address("127.0.0.1");
    EXPECT_EQ(checkLogin(auth, nullptr, from, 0), LoginOutcome::Accepted);  // no users: no password asked
    setBasicAuthUsers(auth, {{"prometheus", kHash}}, 2);
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
        EXPECT_EQ(checkLogin(auth, c.header, from, 1000),
                  c.accepted ? LoginOutcome::Accepted : LoginOutcome::Refused)
            << (c.header ? c.header : "(none)");
    }
    // The password changes under a remembered header: still accepted until the minute is over.
    auth.users[0].bcryptHash = kOtherHash;
    EXPECT_EQ(checkLogin(auth, right, from, 1000 + kAcceptedCredentialsMs - 1), LoginOutcome::Accepted);
    EXPECT_EQ(checkLogin(auth, right, from, 1000 + kAcceptedCredentialsMs), LoginOutcome::Refused);
}

TEST(BasicAuth, UnknownUsersCostTheSlowestHashAndGuessersAreTurnedAwayForTheRestOfTheirMinute) {
    BasicAuth auth;
    setBasicAuthUsers(
        auth, {{"fast", kHash}, {"slow", "$2b$12$abcdefghijklmnopqrstuuLZYjhNQAOdpbzt4WxWlUHjv1wsyH5DG"}}, 2);
    EXPECT_EQ(auth.unknownUserHash, "$2b$12$012345678901234567890urVuV8fgyOyxh5n8RGRs2vYgnyDa7b9O");
    setBasicAuthUsers(auth, {{"prometheus", kHash}}, 2);  // a cost of 12 is slow for a test
    const char* right = "Basic cHJvbWV0aGV1czpzM2NyZXQ=";
    const char* wrong = "Basic cHJvbWV0aGV1czp3cm9uZw==";
    ASSERT_EQ(checkLogin(auth, right, address("127.0.0.2"), 1000), LoginOutcome::Accepted);  // remembered
    for (int attempt = 1; attempt <= 10; ++attempt)
        ASSERT_EQ(checkLogin(auth, wrong, address("2001:db8::1"), 1000), LoginOutcome::Refused) << attempt;
    // The eleventh failure from the same /64 turns it away; the log says so once.
    EXPECT_EQ(checkLogin(auth, wrong, address("2001:db8::2"), 1000), LoginOutcome::RefusedAndTurnedAway);
    const struct {
        const char* from;
        const char* header;
        uint64_t atMs;
        LoginOutcome outcome;
    } after[] = {
        {"2001:db8::1", wrong, 60999, LoginOutcome::TurnedAway},
        {"2001:db8::1", "Basic cHJvbWV0aGV1czpzM2NyZXQy", 60999, LoginOutcome::TurnedAway},  // no check made
        {"2001:db8::1", right, 60999, LoginOutcome::Accepted},     // remembered: no check needed
        {"2001:db8:0:1::1", wrong, 60999, LoginOutcome::Refused},  // another /64
        {"2001:db8::1", wrong, 61000, LoginOutcome::Refused},      // the minute has passed
    };
    for (const auto& c : after)
        EXPECT_EQ(checkLogin(auth, c.header, address(c.from), c.atMs), c.outcome)
            << c.from << " at " << c.atMs;
}

}  // namespace
}  // namespace tarvelon
