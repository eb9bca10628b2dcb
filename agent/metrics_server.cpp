#include "agent/metrics_server.h"

#include <dlfcn.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>

#include "agent/basic_auth.h"
#include "agent/exposition.h"
#include "agent/metrics_probe.h"
#include "platform/clock.h"

namespace tarvelon {
namespace {

// Prometheus keeps one connection per target open between scrapes; a probe job can have many.
constexpr unsigned kMostConnections = 32;
constexpr unsigned kIdleSecondsBeforeClose = 30;
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
};

MicrohttpdEntryPoints mhd;
MetricsServerSetup served;
BasicAuth basicAuth;

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
        entryPoint(library, "MHD_lookup_connection_value", &mhd.lookupValue))
        return true;
    *message = std::string(kMicrohttpdLibrary) + " lacks an entry point the agent needs";
    return false;
}

MHD_Result respond(MHD_Connection* connection, const HttpAnswer& answer, bool allowGet = false) {
    MHD_Response* response =
        mhd.createResponse(answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) return MHD_NO;
    mhd.addHeader(response, MHD_HTTP_HEADER_CONTENT_TYPE,
                  answer.exposition ? kExpositionContentType : "text/plain; charset=utf-8");
    if (allowGet) mhd.addHeader(response, MHD_HTTP_HEADER_ALLOW, "GET");
    const MHD_Result result = mhd.queueResponse(connection, answer.status, response);
    mhd.destroyResponse(response);
    return result;
}

MHD_Result refuseCredentials(MHD_Connection* connection) {
    const std::string body = "401 a user name and password are needed\n";
    MHD_Response* response = mhd.createResponse(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) return MHD_NO;
    mhd.addHeader(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain; charset=utf-8");
    mhd.addHeader(response, MHD_HTTP_HEADER_WWW_AUTHENTICATE, "Basic realm=\"tarvelon-agent\", charset=\"UTF-8\"");
    const MHD_Result result = mhd.queueResponse(connection, MHD_HTTP_UNAUTHORIZED, response);
    mhd.destroyResponse(response);
    return result;
}

MHD_Result answerRequest(void*, MHD_Connection* connection, const char* url, const char* method, const char*,
                         const char*, size_t*, void**) {
    if (!credentialsAccepted(basicAuth, mhd.lookupValue(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION),
                             tickCountMs())) {
        return refuseCredentials(connection);
    }
    switch (routeRequest(method, url)) {
        case MetricsRoute::MethodNotAllowed:
            return respond(connection, HttpAnswer{405, "only GET is served\n", false}, true);
        case MetricsRoute::NotFound:
            return respond(connection,
                           HttpAnswer{404, "not found: ask for /metrics or /probe?target=\n", false});
        case MetricsRoute::Metrics: {
            const AgentPassFigures pass = freshPassFigures(*served.sampler, tickCountMs());
            return respond(connection, HttpAnswer{200, machineExposition(agentMachineFigures(pass)), true});
        }
        case MetricsRoute::Probe:
            if (served.probeAllow.empty())
                return respond(
                    connection,
                    HttpAnswer{404, "probes are off: start the agent with --probe-allow\n", false});
            return respond(connection,
                           answerProbe(mhd.lookupValue(connection, MHD_GET_ARGUMENT_KIND, "target"),
                                       mhd.lookupValue(connection, MHD_HEADER_KIND,
                                                       "X-Prometheus-Scrape-Timeout-Seconds"),
                                       served.probeAllow));
    }
    return MHD_NO;
}

MHD_Daemon* startDaemon(unsigned flags, uint16_t port, const sockaddr* address) {
    flags |= MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION;
    MHD_OptionItem options[] = {
        {MHD_OPTION_CONNECTION_LIMIT, kMostConnections, nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, kIdleSecondsBeforeClose, nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(kConnectionMemoryBytes), nullptr},
        {MHD_OPTION_THREAD_STACK_SIZE, static_cast<intptr_t>(kThreadStackBytes), nullptr},
        // With TLS the port speaks HTTPS only: the library then takes no plain request. Without, the
        // list ends here.
        {served.web.tls ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END, 0, const_cast<char*>(served.web.certPem.c_str())},
        {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(served.web.keyPem.c_str())},
        {MHD_OPTION_END, 0, nullptr},
    };
    if (served.web.tls) flags |= MHD_USE_TLS;
    if (address == nullptr) {
        return mhd.startDaemon(flags, port, nullptr, nullptr, answerRequest, nullptr, MHD_OPTION_ARRAY, options,
                               MHD_OPTION_END);
    }
    return mhd.startDaemon(flags, port, nullptr, nullptr, answerRequest, nullptr, MHD_OPTION_SOCK_ADDR, address,
                           MHD_OPTION_ARRAY, options, MHD_OPTION_END);
}

}  // namespace

bool startMetricsServer(const MetricsServerSetup& setup, std::string* message) {
    if (!loadMicrohttpd(message)) return false;
    served = setup;
    setBasicAuthUsers(basicAuth, setup.web.users);
    const MetricsListen& listen = setup.listen;
    MHD_Daemon* daemon = nullptr;
    errno = 0;
    if (listen.everyAddress) {
        // Both families on one socket; a machine without IPv6 serves IPv4 alone.
        daemon = startDaemon(MHD_USE_DUAL_STACK, listen.port, nullptr);
        if (daemon == nullptr && errno != EADDRINUSE) daemon = startDaemon(0, listen.port, nullptr);
    } else {
        const SocketAddress address = socketAddressOf(listen.address, listen.port);
        daemon = startDaemon(listen.address.family == IpFamily::IPv6 ? MHD_USE_IPv6 : 0, listen.port,
                             reinterpret_cast<const sockaddr*>(address.bytes));
    }
    if (daemon != nullptr) return true;
    *message = std::string("cannot serve metrics on TCP port ") + std::to_string(listen.port) + ": " +
               (errno != 0 ? std::strerror(errno) : "the HTTP library refused to start");
    return false;
}

}  // namespace tarvelon
