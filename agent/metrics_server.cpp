#include "agent/metrics_server.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "agent/address_group.h"
#include "agent/agent_log.h"
#include "agent/basic_auth.h"
#include "agent/connection_deadlines.h"
#include "agent/exposition.h"
#include "agent/metrics_probe.h"
#include "agent/process_figures.h"
#include "agent/web_config_watch.h"
#include "platform/clock.h"
#include "tarvelon_version.h"

namespace tarvelon {
namespace {

// The library's own bound is above the agent's: connections giving way to newcomers are still open
// for a moment.
constexpr unsigned kLibraryConnections = kMostConnections + 32;
// A client that keeps opening connections past its share is reported this seldom.
constexpr uint64_t kClientFullLogMs = 60000;
// Request line and headers must fit here (Prometheus sends about 300 bytes); a longer request line
// is refused with 414 by the library.
constexpr size_t kConnectionMemoryBytes = 8192;
constexpr size_t kThreadStackBytes = 256 * 1024;

// The library is loaded only when metrics are asked for: Debian's build brings GnuTLS and its
// dependencies, about 2.4 MB resident, which an agent without --metrics should not carry.
constexpr const char* kMicrohttpdLibrary = "libmicrohttpd.so.12";

struct MicrohttpdEntryPoints {
    decltype(&MHD_start_daemon) startDaemon;
    decltype(&MHD_create_response_from_buffer) createResponse;
    decltype(&MHD_add_response_header) addHeader;
    decltype(&MHD_queue_response) queueResponse;
    decltype(&MHD_destroy_response) destroyResponse;
    decltype(&MHD_lookup_connection_value) lookupValue;
    decltype(&MHD_get_connection_info) connectionInfo;
    decltype(&MHD_stop_daemon) stopDaemon;
};

MicrohttpdEntryPoints mhd;
MetricsServerSetup served;
BasicAuth basicAuth;
unsigned processors = 1;
WebConfigWatch webConfigWatch;  // when served.webConfigPath is set
std::mutex clientFullLogLock;
uint64_t clientFullLoggedAtMs;
bool clientFullLogged;
std::string tlsPriorityText;  // read by the library when it starts
regex_t ignoredInterfaces;    // compiled once at start, read by every request thread

template <class Function>
bool entryPoint(void* library, const char* name, Function* function) {
    *function = reinterpret_cast<Function>(dlsym(library, name));
    return *function != nullptr;
}

bool loadMicrohttpd(std::string* message) {
    void* library = dlopen(kMicrohttpdLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        *message = std::string("--metrics needs ") + kMicrohttpdLibrary +
                   " (Debian package libmicrohttpd12): " + dlerror();
        return false;
    }
    if (entryPoint(library, "MHD_start_daemon", &mhd.startDaemon) &&
        entryPoint(library, "MHD_create_response_from_buffer", &mhd.createResponse) &&
        entryPoint(library, "MHD_add_response_header", &mhd.addHeader) &&
        entryPoint(library, "MHD_queue_response", &mhd.queueResponse) &&
        entryPoint(library, "MHD_destroy_response", &mhd.destroyResponse) &&
        entryPoint(library, "MHD_lookup_connection_value", &mhd.lookupValue) &&
        entryPoint(library, "MHD_get_connection_info", &mhd.connectionInfo) &&
        entryPoint(library, "MHD_stop_daemon", &mhd.stopDaemon))
        return true;
    *message = std::string(kMicrohttpdLibrary) + " lacks an entry point the agent needs";
    return false;
}

constexpr const char* kPlainText = "text/plain; charset=utf-8";

constexpr const char* kLandingPage =
    "<!DOCTYPE html>\n<html><head><title>Tarvelon agent</title></head><body>\n"
    "<h1>Tarvelon agent</h1>\n<p><a href=\"/metrics\">Metrics</a> of this machine.</p>\n"
    "<p>/probe?target=HOST[:PORT] queries another Tarvelon server, where --probe-allow lets it.</p>\n"
    "</body></html>\n";

MHD_Result respond(MHD_Connection* connection, unsigned status, const std::string& body,
                   const char* contentType, bool allowGet = false) {
    MHD_Response* response =
        mhd.createResponse(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) return MHD_NO;
    mhd.addHeader(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType);
    if (allowGet) mhd.addHeader(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    // A refused request gives up its connection: kept alive it would hold a place for nothing.
    if (status >= 400) mhd.addHeader(response, MHD_HTTP_HEADER_CONNECTION, "close");
    const MHD_Result result = mhd.queueResponse(connection, status, response);
    mhd.destroyResponse(response);
    return result;
}

MHD_Result refuseCredentials(MHD_Connection* connection) {
    const std::string body = "401 a user name and password are needed\n";
    MHD_Response* response =
        mhd.createResponse(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) return MHD_NO;
    mhd.addHeader(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain; charset=utf-8");
    mhd.addHeader(response, MHD_HTTP_HEADER_WWW_AUTHENTICATE,
                  "Basic realm=\"tarvelon-agent\", charset=\"UTF-8\"");
    mhd.addHeader(response, MHD_HTTP_HEADER_CONNECTION, "close");
    const MHD_Result result = mhd.queueResponse(connection, MHD_HTTP_UNAUTHORIZED, response);
    mhd.destroyResponse(response);
    return result;
}

MHD_Result respond(MHD_Connection* connection, const HttpAnswer& answer) {
    return respond(connection, answer.status, answer.body,
                   answer.exposition ? kExpositionContentType : kPlainText);
}

std::string agentExposition(const AgentPassFigures& pass) {
    MachineFigures figures = agentMachineFigures(pass, sysconf(_SC_CLK_TCK));
    if (!served.ignoredInterfaces.empty()) dropInterfaces(figures, ignoredInterfaces);
    return machineExposition(figures) + processExposition(readProcessFigures(), TARVELON_VERSION);
}

ConnectionDeadline* deadlineOf(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info = mhd.connectionInfo(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info == nullptr ? nullptr : static_cast<ConnectionDeadline*>(info->socket_context);
}

// The request's own context: set on the library's first call for a request, which answers nothing
// unless the request announces a body. Answering then would be answering before the request was read
// to its end, and the library closes such a connection after the answer instead of keeping it alive.
int requestSeen;
int bodyRefused;

// A socket address as an IpAddress and as text; the unspecified address if it is neither family.
IpAddress addressOf(const sockaddr* socketAddress, std::string* text) {
    IpAddress address{IpFamily::IPv4, {}, 0};
    char printed[INET6_ADDRSTRLEN] = "?";
    if (socketAddress != nullptr && socketAddress->sa_family == AF_INET) {
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(socketAddress);
        std::memcpy(address.bytes, &ipv4->sin_addr, 4);
        inet_ntop(AF_INET, &ipv4->sin_addr, printed, sizeof printed);
    } else if (socketAddress != nullptr && socketAddress->sa_family == AF_INET6) {
        const auto* ipv6 = reinterpret_cast<const sockaddr_in6*>(socketAddress);
        address.family = IpFamily::IPv6;
        std::memcpy(address.bytes, &ipv6->sin6_addr, 16);
        inet_ntop(AF_INET6, &ipv6->sin6_addr, printed, sizeof printed);
    }
    *text = printed;
    return address;
}

IpAddress clientAddress(MHD_Connection* connection, std::string* text) {
    const MHD_ConnectionInfo* info = mhd.connectionInfo(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    return addressOf(info != nullptr ? info->client_addr : nullptr, text);
}

// The client a limit counts, as the log names it: "192.0.2.7" or "2001:db8::/64".
std::string clientText(const IpAddress& address) {
    const IpAddress group = addressGroup(address);
    const SocketAddress socketAddress = socketAddressOf(group, 0);
    std::string text;
    addressOf(reinterpret_cast<const sockaddr*>(socketAddress.bytes), &text);
    return group.family == IpFamily::IPv6 ? text + "/64" : text;
}

void applyWebConfig(const WebConfig& config) {
    setBasicAuthUsers(basicAuth, config.users, processors);
    if (bcryptCostsDiffer(config.users))
        logLine(
            "the users' bcrypt costs differ: a user name of a lower cost answers faster than one "
            "that does not exist, which tells the name; give every user the same cost");
}

// Reads the web configuration again when its file changed (force: whether or not it did).
void rereadWebConfigFile(bool force) {
    if (served.webConfigPath.empty()) return;
    WebConfig config;
    std::string message;
    switch (rereadWebConfig(webConfigWatch, tickCountMs(), force, &config, &message)) {
        case WebConfigReread::Unchanged:
            return;
        case WebConfigReread::Refused:
            logLine(message + "; the web configuration read before stays in force");
            return;
        case WebConfigReread::Read:
            applyWebConfig(config);
            logLine("web configuration " + served.webConfigPath +
                    " read again: " + std::to_string(config.users.size()) + " users" +
                    (sameTls(config, served.web) ? ""
                                                 : "; its TLS settings take effect when the agent restarts"));
            return;
    }
}

// Whether the request may be answered; if not, the refusal is queued.
bool loginAccepted(MHD_Connection* connection, MHD_Result* refusal) {
    std::string addressText;
    const IpAddress from = clientAddress(connection, &addressText);
    switch (checkLogin(basicAuth, mhd.lookupValue(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION),
                       from, tickCountMs())) {
        case LoginOutcome::Accepted:
            return true;
        case LoginOutcome::Refused:
            *refusal = refuseCredentials(connection);
            return false;
        case LoginOutcome::LockedAnew:
            logLine(std::to_string(kMostFailedLogins) + " failed logins in a minute from " +
                    clientText(from) + ": answered 429 without a check for the rest of that minute");
            [[fallthrough]];
        case LoginOutcome::Locked:
            *refusal =
                respond(connection, 429, "too many failed logins from this address: try again in a minute\n",
                        kPlainText);
            return false;
        case LoginOutcome::TooManyChecks:
            *refusal =
                respond(connection, 429,
                        "too many password checks at once from this address: try again later\n", kPlainText);
            return false;
    }
    return false;
}

MHD_Result answerRequest(void*, MHD_Connection* connection, const char* url, const char* method, const char*,
                         const char*, size_t*, void** requestContext) {
    if (*requestContext == nullptr) {
        const unsigned refusal = bodyRefusalStatus(
            mhd.lookupValue(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH),
            mhd.lookupValue(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING));
        if (refusal != 0) {
            // The header deadline stays: the refusal must be on its way before it passes.
            *requestContext = &bodyRefused;
            return respond(
                connection, refusal,
                refusal == 413 ? "413 no request here takes a body\n" : "400 no request here takes a body\n",
                kPlainText);
        }
        *requestContext = &requestSeen;
        requestRead(deadlineOf(connection));
        return MHD_YES;
    }
    // The library skips the refused body of a POST or PUT, but reads that of other methods: close at
    // its first bytes.
    if (*requestContext == &bodyRefused) return MHD_NO;
    rereadWebConfigFile(false);
    MHD_Result refusal = MHD_NO;
    if (!loginAccepted(connection, &refusal)) return refusal;
    switch (routeRequest(method, url)) {
        case MetricsRoute::MethodNotAllowed:
            return respond(connection, 405, "only GET and HEAD are served\n", kPlainText, true);
        case MetricsRoute::NotFound:
            return respond(connection, 404, "not found: ask for /metrics or /probe?target=\n", kPlainText);
        case MetricsRoute::Landing:
            return respond(connection, 200, kLandingPage, "text/html; charset=utf-8");
        case MetricsRoute::Healthy:
            return respond(connection, 200, "healthy\n", kPlainText);
        case MetricsRoute::Metrics:
            return respond(connection, 200, agentExposition(freshPassFigures(*served.sampler, tickCountMs())),
                           kExpositionContentType);
        case MetricsRoute::Probe:
            if (served.probeAllow.empty())
                return respond(connection, 404, "probes are off: start the agent with --probe-allow\n",
                               kPlainText);
            return respond(connection,
                           answerProbe(mhd.lookupValue(connection, MHD_GET_ARGUMENT_KIND, "target"),
                                       mhd.lookupValue(connection, MHD_HEADER_KIND,
                                                       "X-Prometheus-Scrape-Timeout-Seconds"),
                                       served.probeAllow));
    }
    return MHD_NO;
}

void connectionChanged(void*, MHD_Connection* connection, void** socketContext,
                       MHD_ConnectionNotificationCode code) {
    if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
        forgetConnection(static_cast<ConnectionDeadline*>(*socketContext));
        return;
    }
    const MHD_ConnectionInfo* info = mhd.connectionInfo(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    std::string text;
    if (info != nullptr)
        *socketContext = watchConnection(info->connect_fd, addressGroup(clientAddress(connection, &text)));
}

// Whether a connection from address may be opened (see connection_admission).
MHD_Result admitConnection(void*, const sockaddr* address, socklen_t) {
    std::string text;
    const IpAddress from = addressOf(address, &text);
    const Admission admission = admitClient(addressGroup(from));
    if (admission == Admission::Admit || admission == Admission::AdmitInPlace) return MHD_YES;
    if (admission == Admission::ClientFull) {
        const uint64_t nowMs = tickCountMs();
        std::lock_guard<std::mutex> guard(clientFullLogLock);
        if (!clientFullLogged || nowMs >= clientFullLoggedAtMs + kClientFullLogMs) {
            clientFullLogged = true;
            clientFullLoggedAtMs = nowMs;
            logLine(clientText(from) + " holds " + std::to_string(kConnectionsPerClient) +
                    " connections: more from it are closed at once (said at most once a minute)");
        }
    }
    return MHD_NO;
}

// Called once a request's first line is read; its return is the request's context, which stays
// null until the library first calls answerRequest.
void* requestLineRead(void*, const char*, MHD_Connection* connection) {
    requestBegun(deadlineOf(connection));
    return nullptr;
}

void requestCompleted(void*, MHD_Connection* connection, void**, MHD_RequestTerminationCode) {
    requestAnswered(deadlineOf(connection));
}

// With TLS the port speaks HTTPS only: the library then takes no plain request. Filled at start.
MHD_OptionItem tlsOptions[4];

MHD_Daemon* startDaemon(unsigned flags, uint16_t port, const sockaddr* address) {
    flags |= MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION;
    if (served.web.tls) flags |= MHD_USE_TLS;
    return mhd.startDaemon(flags, port, admitConnection, nullptr, answerRequest, nullptr,
                           MHD_OPTION_SOCK_ADDR, address, MHD_OPTION_CONNECTION_LIMIT, kLibraryConnections,
                           MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(kIdleSecondsBeforeClose),
                           MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemoryBytes,
                           MHD_OPTION_THREAD_STACK_SIZE, kThreadStackBytes, MHD_OPTION_NOTIFY_CONNECTION,
                           connectionChanged, nullptr, MHD_OPTION_URI_LOG_CALLBACK, requestLineRead, nullptr,
                           MHD_OPTION_NOTIFY_COMPLETED, requestCompleted, nullptr, MHD_OPTION_ARRAY,
                           served.web.tls ? tlsOptions : &tlsOptions[3], MHD_OPTION_END);
}

// Whether the TLS library takes the certificate and key: a daemon without a socket or a thread is
// started with them alone, so that a refusal is told apart from a port that cannot be had.
bool tlsAccepted() {
    MHD_Daemon* trial = mhd.startDaemon(MHD_USE_NO_LISTEN_SOCKET | MHD_USE_TLS, 0, nullptr, nullptr,
                                        answerRequest, nullptr, MHD_OPTION_ARRAY, tlsOptions, MHD_OPTION_END);
    if (trial == nullptr) return false;
    mhd.stopDaemon(trial);
    return true;
}

}  // namespace

MetricsStart startMetricsServer(const MetricsServerSetup& setup, std::string* message) {
    if (!loadMicrohttpd(message)) return MetricsStart::CannotServe;
    served = setup;
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    processors = online > 0 ? static_cast<unsigned>(online) : 1;
    applyWebConfig(setup.web);
    if (!setup.webConfigPath.empty()) watchWebConfig(webConfigWatch, setup.webConfigPath, tickCountMs());
    tlsPriorityText = tlsPriorities(setup.web);
    tlsOptions[0] = {MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(served.web.certPem.c_str())};
    tlsOptions[1] = {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(served.web.keyPem.c_str())};
    tlsOptions[2] = {MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(tlsPriorityText.c_str())};
    tlsOptions[3] = {MHD_OPTION_END, 0, nullptr};
    if (served.web.tls && !tlsAccepted()) {
        *message = setup.webConfigPath + ": the TLS library refuses " + served.web.certFile + " and " +
                   served.web.keyFile +
                   " as a pair: a key that is not the certificate's, an encrypted key, or the two swapped";
        return MetricsStart::ConfigurationRefused;
    }
    if (!setup.ignoredInterfaces.empty() &&
        !compileInterfacePattern(setup.ignoredInterfaces, &ignoredInterfaces)) {
        *message = "'" + setup.ignoredInterfaces + "' is not a POSIX extended regular expression";
        return MetricsStart::ConfigurationRefused;
    }
    startDeadlineWatchdog();
    const MetricsListen& listen = setup.listen;
    MHD_Daemon* daemon = nullptr;
    errno = 0;
    if (listen.everyAddress) {
        // Both families on one socket; a machine without IPv6 serves IPv4 alone.
        const SocketAddress any6 = socketAddressOf(IpAddress{IpFamily::IPv6, {}, 0}, listen.port);
        daemon = startDaemon(MHD_USE_DUAL_STACK, listen.port, reinterpret_cast<const sockaddr*>(any6.bytes));
        if (daemon == nullptr && errno != EADDRINUSE) {
            const SocketAddress any4 = socketAddressOf(IpAddress{IpFamily::IPv4, {}, 0}, listen.port);
            daemon = startDaemon(0, listen.port, reinterpret_cast<const sockaddr*>(any4.bytes));
        }
    } else {
        const SocketAddress address = socketAddressOf(listen.address, listen.port);
        daemon = startDaemon(listen.address.family == IpFamily::IPv6 ? MHD_USE_IPv6 : 0, listen.port,
                             reinterpret_cast<const sockaddr*>(address.bytes));
    }
    if (daemon != nullptr) return MetricsStart::Serving;
    *message = std::string("cannot serve metrics on TCP port ") + std::to_string(listen.port) + ": " +
               (errno != 0 ? std::strerror(errno) : "the HTTP library refused to start");
    return MetricsStart::CannotServe;
}

void rereadMetricsWebConfig() {
    rereadWebConfigFile(true);
}

}  // namespace tarvelon
