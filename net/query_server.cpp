#include "net/query_server.h"

#include <cstring>
#include <mutex>
#include <new>
#include <random>
#include <thread>

#include "net/poll_exchange.h"
#include "net/protocol.h"
#include "net/reply_budget.h"
#include "platform/clock.h"
#include "platform/fatal.h"
#include "platform/sockets.h"
#include "platform/text16.h"
#include "settings/settings.h"
#include "telemetry/local_store.h"

namespace tarvelon {

std::atomic<int32_t> serverState{kServerStopped};
std::atomic<uint64_t> requestCountIPv4{0};
std::atomic<uint64_t> requestCountIPv6{0};

namespace {

constexpr uint32_t kPauseMs = 500;

// Each thread's own state and message, and the word and message the dialog shows, change together
// under this lock, so a reader never pairs a state with another thread's message.
std::mutex messageLock;
char16_t serverMessage[kServerMessageUnits];
std::atomic<int64_t> serverStartTime{0};

struct FamilyState {
    bool served;
    int32_t state;
    char16_t message[kServerMessageUnits];
};
FamilyState familyStates[2];  // IPv4, IPv6

char16_t statusReportText[kStatusReportUnits];
char16_t stateNameText[kServerTextUnits];
char16_t uptimeText[kServerTextUnits];

// Each thread keeps the reply budget of the senders it serves.
ReplyBudget replyBudgetIPv4;
ReplyBudget replyBudgetIPv6;

struct ServerFamily {
    IpFamily family;
    int index;  // into familyStates
    const char16_t* name;
    int32_t allocationSite;
    int32_t addressLength;
    std::atomic<uint64_t>* requestCount;
    ReplyBudget* replyBudget;
};

const ServerFamily kIPv4Server = {IpFamily::IPv4,  0, u"IPv4", kSiteServerIPv4, 16, &requestCountIPv4,
                                  &replyBudgetIPv4};
const ServerFamily kIPv6Server = {IpFamily::IPv6,  1, u"IPv6", kSiteServerIPv6, 28, &requestCountIPv6,
                                  &replyBudgetIPv6};

std::mutex allowLock;
AllowList allowList;                        // guarded by allowLock
std::atomic<uint32_t> allowListVersion{0};  // counts the lists set, so a thread copies a new one once

// This thread's copy of the allow list, taken again only after a new one was set.
const AllowList& currentAllowList() {
    thread_local AllowList copy{};
    thread_local uint32_t copiedVersion = 0;
    const uint32_t version = allowListVersion.load(std::memory_order_acquire);
    if (version != copiedVersion) {
        std::lock_guard<std::mutex> guard(allowLock);
        copy = allowList;
        copiedVersion = allowListVersion.load(std::memory_order_relaxed);
    }
    return copy;
}

ServerListen listenSetting = {true, true, {IpFamily::IPv4, {}, 0}, {IpFamily::IPv6, {}, 0}};
void (*stateListener)() = nullptr;
LocalStore (*recordsSource)() = readLocalStore;
ProcessesSource processesSource = nullptr;

// One datagram a GPU, each from the sender's allowance of full replies (none is longer than a full
// reply); the rest of the answer is dropped once the allowance runs out. False when none went out.
bool answerProcesses(SocketHandle socket, uint8_t* buffer, const ServerFamily& server,
                     const IpAddress& sender, const SocketAddress& from) {
    const uint8_t version = buffer[0], sequence = buffer[1];
    static thread_local GpuProcessList lists[kGpuSlots];
    int gpus = processesSource(lists);
    if (gpus > kGpuSlots) gpus = kGpuSlots;
    int sent = 0;
    for (int gpu = 0; gpu < gpus; ++gpu) {
        if (!takeSenderReply(*server.replyBudget, sender, tickCountMs())) break;
        const int bytes = buildProcessReply(buffer, version, sequence, static_cast<uint8_t>(gpu),
                                            static_cast<uint8_t>(gpus), lists[gpu]);
        sendTo(socket, buffer, bytes, from);
        ++sent;
    }
    return sent > 0;
}

// Sets the thread's own state (and message, unless nullptr) and shows the worse of the served
// families; on a tie, the one that just changed.
void enterState(const ServerFamily& server, int32_t state, const char16_t* message) {
    std::unique_lock<std::mutex> guard(messageLock);
    FamilyState& own = familyStates[server.index];
    own.state = state;
    if (message != nullptr) copyText16(own.message, kServerMessageUnits, message);
    const FamilyState* shown = &own;
    for (const FamilyState& other : familyStates) {
        if (other.served && other.state != shown->state &&
            worseServerState(shown->state, other.state) == other.state) {
            shown = &other;
        }
    }
    std::memcpy(serverMessage, shown->message, sizeof serverMessage);
    serverState.store(shown->state);
    guard.unlock();
    if (stateListener != nullptr) stateListener();
}

// Error, with the failure's text after the family's name, so the dialog tells which one fails.
void enterError(const ServerFamily& server, void (*formatFailure)(char16_t*, size_t, int32_t),
                int32_t error) {
    char16_t failure[kServerMessageUnits];
    formatFailure(failure, kServerMessageUnits, error);
    char16_t message[kServerMessageUnits];
    format16(message, kServerMessageUnits, u"%s: %s", server.name, failure);
    enterState(server, kServerError, message);
}

bool serverEnabled() {
    return settings.networkServerEnabled.load() != 0;
}

// Pauses in short steps; false as soon as the server is switched off.
bool pauseWhileEnabled(uint32_t milliseconds) {
    for (uint32_t waited = 0; waited < milliseconds; waited += kPauseMs) {
        if (!serverEnabled()) return false;
        sleepMs(milliseconds - waited < kPauseMs ? milliseconds - waited : kPauseMs);
    }
    return serverEnabled();
}

IpAddress senderOf(const ServerFamily& server, const SocketAddress& from) {
    IpAddress sender{server.family, {}, 0};  // a sender of no known family: all such share one allowance
    senderIpAddress(from, &sender);
    return sender;
}

// Receives one datagram for real and answers it; true when it was answered. A datagram from a sender
// the allow list leaves out gets nothing, and a query from a sender that has used up its full replies
// goes unanswered, like a lost datagram; short answers are not limited: they return no more than they
// were sent.
bool answerOneDatagram(SocketHandle socket, uint8_t* buffer, const ServerFamily& server) {
    // A receive fills no more than kServerReadLimit bytes and a reply writes every byte it sends, so
    // the rest of the buffer never matters here; clearing it would cost every question a cold 4 KB.
    std::memset(buffer, 0, kServerReadLimit);
    SocketAddress from{};
    from.length = server.addressLength;
    const int received = receiveFrom(socket, buffer, kServerReadLimit, false, &from);
    const IpAddress sender = senderOf(server, from);
    if (received >= 0 && !allowListAdmits(currentAllowList(), sender)) return false;
    int replyBytes = 0;
    switch (answerKindOf(buffer, received, processesSource != nullptr)) {
        case AnswerKind::None:
            return false;
        case AnswerKind::Processes:
            return answerProcesses(socket, buffer, server, sender, from);
        case AnswerKind::Short:
            replyBytes = buildShortAnswer(buffer);
            break;
        case AnswerKind::Full:
            if (!takeSenderReply(*server.replyBudget, sender, tickCountMs())) return false;
            replyBytes =
                buildFullReply(buffer, recordsSource(), processesSource != nullptr ? kFeatureProcesses : 0);
            break;
    }
    sendTo(socket, buffer, replyBytes, from);
    return true;
}

void dropOneDatagram(SocketHandle socket, uint8_t* buffer, const ServerFamily& server) {
    SocketAddress from{};
    from.length = server.addressLength;
    receiveFrom(socket, buffer, kServerReadLimit, false, &from);
}

// Serves until the server is switched off (true, the socket still open) or the socket fails (false,
// the socket closed and the state Error).
bool serve(SocketHandle socket, uint8_t* buffer, const ServerFamily& server) {
    while (serverEnabled()) {
        SocketAddress from{};
        from.length = server.addressLength;
        const int peeked = receiveFrom(socket, buffer, kServerReadLimit, true, &from);
        const int32_t error = lastSocketError();
        switch (decidePeek(peeked, error)) {
            case PeekOutcome::DiscardOversize:
                dropOneDatagram(socket, buffer, server);
                break;
            case PeekOutcome::PeekAgain:
                break;
            case PeekOutcome::Wait:
                sleepMs(kPauseMs);
                break;
            case PeekOutcome::Fail:
                closeSocket(socket);
                enterError(server, formatReceiveFailure, error);
                return false;
            case PeekOutcome::ClearReset:
            case PeekOutcome::Answer:
                if (answerOneDatagram(socket, buffer, server)) server.requestCount->fetch_add(1);
                break;
        }
    }
    return true;
}

// One start: open, bind and serve until switched off (true) or until a failure (false, state Error).
// *retryDelayMs is the pause before this attempt, 0 for a first one; a retry keeps showing the failure
// until the server runs again, and a bind that succeeds ends the run of failures (0 again).
bool startAndServe(const ServerFamily& server, uint8_t* buffer, uint32_t* retryDelayMs) {
    if (*retryDelayMs == 0) enterState(server, kServerStartUp, u"Try to start the server");
    const SocketHandle socket = openUdpSocket(server.family);
    if (socket == kNoSocket) {
        enterError(server, formatSocketFailure, lastSocketError());
        return false;
    }
    setReceiveTimeout(socket, listenSetting.enabledCheckMs);
    if (server.family == IpFamily::IPv6) setIPv6Only(socket);
    const auto port = static_cast<uint16_t>(settings.networkServerPort.load() & 0xFFFF);
    const IpAddress& address = server.family == IpFamily::IPv4 ? listenSetting.ipv4 : listenSetting.ipv6;
    if (bindIpAddress(socket, address, port) != 0) {
        const int32_t error = lastSocketError();
        closeSocket(socket);
        enterError(server, formatBindFailure, error);
        return false;
    }
    *retryDelayMs = 0;
    resetReplyBudget(*server.replyBudget, std::random_device{}());
    serverStartTime.store(wallClockSeconds());
    enterState(server, kServerRunning, u"Server goes into wait for query loop and wait for queries");

    if (!serve(socket, buffer, server)) return false;
    enterState(server, kServerShutdown, u"Try to shutdown the server");
    closeSocket(socket);
    enterState(server, kServerStopped, u"Server shutdowned, wait for activation");
    return true;
}

// A server that fails (a sleeping laptop, a reset adapter, a port another program holds) opens and
// binds again by itself, with growing pauses, for as long as it stays switched on.
void serverThread(const ServerFamily& server) {
    auto* buffer = new (std::nothrow) uint8_t[kDatagramBufferBytes];
    if (buffer == nullptr) failOutOfMemory(server.allocationSite);
    std::memset(buffer, 0, kDatagramBufferBytes);
    enterState(server, kServerStopped, u"Starting Thread ... No errors so far");

    uint32_t retryDelayMs = 0;  // 0 unless the last start failed
    for (;;) {
        if (!serverEnabled()) {
            retryDelayMs = 0;
            enterState(server, kServerDisabled, nullptr);
            sleepMs(kPauseMs);
            continue;
        }
        if (retryDelayMs != 0 && !pauseWhileEnabled(retryDelayMs)) continue;
        const bool switchedOff = startAndServe(server, buffer, &retryDelayMs);
        retryDelayMs = switchedOff ? 0 : nextRetryDelayMs(retryDelayMs);
    }
}

struct ServerView {
    int32_t state;
    char16_t message[kServerMessageUnits];
};

ServerView viewServer() {
    ServerView view;
    std::lock_guard<std::mutex> guard(messageLock);
    view.state = serverState.load();
    std::memcpy(view.message, serverMessage, sizeof view.message);
    return view;
}

}  // namespace

void setServerListen(const ServerListen& listen) {
    listenSetting = listen;
}

void setServerRecordsSource(LocalStore (*source)()) {
    recordsSource = source;
}

void setServerProcessesSource(ProcessesSource source) {
    processesSource = source;
}

void setServerStateListener(void (*listener)()) {
    stateListener = listener;
}

void setServerAllowList(const AllowList& list) {
    std::lock_guard<std::mutex> guard(allowLock);
    allowList = list;
    allowListVersion.fetch_add(1, std::memory_order_release);
}

void applyStoredServerAllowList() {
    char16_t text[kSettingTextUnits];
    readSettingText(settings.networkServerAllow, text);
    AllowList list{};
    const char16_t* bad = nullptr;
    if (!parseAllowList(text, &list, &bad)) list.count = kAllowNobody;
    setServerAllowList(list);
}

void startQueryServer() {
    static std::once_flag started;
    std::call_once(started, [] {
        {
            std::lock_guard<std::mutex> guard(messageLock);
            serverState.store(kServerStopped);
            std::memset(serverMessage, 0, sizeof serverMessage);
            std::memset(familyStates, 0, sizeof familyStates);
            familyStates[kIPv4Server.index].served = listenSetting.serveIPv4;
            familyStates[kIPv6Server.index].served = listenSetting.serveIPv6;
        }
        serverStartTime.store(0);
        requestCountIPv4.store(0);
        requestCountIPv6.store(0);
        if (listenSetting.serveIPv4) {
            startThreadOrFail(kSiteServerIPv4, [] {
                return std::thread([] { serverThread(kIPv4Server); });
            }).detach();
        }
        if (listenSetting.serveIPv6) {
            startThreadOrFail(kSiteServerIPv6, [] {
                return std::thread([] { serverThread(kIPv6Server); });
            }).detach();
        }
    });
}

void copyServerMessage(char16_t (&out)[kServerMessageUnits]) {
    std::lock_guard<std::mutex> guard(messageLock);
    std::memcpy(out, serverMessage, sizeof out);
}

const char16_t* serverStatusReport() {
    const ServerView view = viewServer();
    const ServerSnapshot snapshot = {view.state,
                                     view.message,
                                     wallClockSeconds(),
                                     serverStartTime.load(),
                                     requestCountIPv4.load(),
                                     requestCountIPv6.load(),
                                     strayReplyCount.load()};
    formatStatusReport(statusReportText, kStatusReportUnits, snapshot);
    return statusReportText;
}

const char16_t* serverStateName() {
    copyText16(stateNameText, kServerTextUnits, serverStateNameOf(serverState.load()));
    return stateNameText;
}

const char16_t* serverUptimeText() {
    formatUptime(uptimeText, kServerTextUnits, serverState.load(),
                 wallClockSeconds() - serverStartTime.load());
    return uptimeText;
}

}  // namespace tarvelon
