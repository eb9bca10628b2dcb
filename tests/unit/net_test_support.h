// Helpers for the network tests over loopback: free ports, a test peer that sends raw datagrams, a
// scripted server, and polling for a condition with a generous limit (never a fixed expectation of
// speed).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "free_udp_port.h"
#include "net/protocol.h"
#include "platform/sockets.h"
#include "platform/text16.h"

namespace tarvelon {
namespace testing_net {

inline void startSocketsForTests() {
    int32_t error = -1;
    ASSERT_TRUE(startSockets(&error)) << error;
}

// Polls the condition every 10 ms until it holds or the limit passes.
inline bool waitFor(const std::function<bool()>& condition, int limitMs = 20000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

inline const char16_t* loopbackName(IpFamily family) {
    return family == IpFamily::IPv4 ? u"127.0.0.1" : u"::1";
}

inline ResolvedAddress loopbackAddress(IpFamily family, uint16_t port) {
    ResolvedAddress address{};
    char16_t service[16];
    format16(service, 16, u"%d", port);
    EXPECT_EQ(resolveUdpAddress(loopbackName(family), service, &address), 0);
    return address;
}

inline uint16_t freeUdpPort() {
    const uint16_t port = findFreeUdpPort();
    if (port == 0) ADD_FAILURE() << "no free UDP port";
    return port;
}

// A loopback socket of one family that sends raw datagrams and receives answers.
struct TestPeer {
    IpFamily family;
    SocketHandle socket;

    explicit TestPeer(IpFamily peerFamily, uint32_t receiveTimeoutMs = 5000)
        : family(peerFamily), socket(openUdpSocket(peerFamily)) {
        EXPECT_NE(socket, kNoSocket);
        EXPECT_EQ(bindLoopback(socket, family, 0), 0);
        setReceiveTimeout(socket, receiveTimeoutMs);
    }
    ~TestPeer() { closeSocket(socket); }
    TestPeer(const TestPeer&) = delete;
    TestPeer& operator=(const TestPeer&) = delete;

    void send(const std::vector<uint8_t>& bytes, uint16_t port) const {
        const ResolvedAddress to = loopbackAddress(family, port);
        EXPECT_EQ(sendTo(socket, bytes.data(), static_cast<int>(bytes.size()), to),
                  static_cast<int>(bytes.size()));
    }
    // The next datagram, or nothing after the receive time-out.
    std::vector<uint8_t> receive() const {
        std::vector<uint8_t> buffer(kDatagramBufferBytes);
        SocketAddress from{};
        from.length = family == IpFamily::IPv4 ? 16 : 28;
        const int received = receiveFrom(socket, buffer.data(), kClientReadLimit, false, &from);
        buffer.resize(received > 0 ? static_cast<size_t>(received) : 0);
        return buffer;
    }
    std::vector<uint8_t> ask(const std::vector<uint8_t>& bytes, uint16_t port) const {
        send(bytes, port);
        return receive();
    }
};

// A scripted server on a loopback port: answer(buffer, received) builds the reply in place and returns
// its length, 0 for none. Counts requests and keeps the sequence byte of each. forge, when given, sees
// each request and its sender before the answer goes out.
class ScriptedServer {
  public:
    using Answer = std::function<int(uint8_t* buffer, int received)>;
    using Forge = std::function<void(const uint8_t* request, const SocketAddress& client)>;

    ScriptedServer(IpFamily family, Answer answer, Forge forge = nullptr)
        : family_(family), answer_(std::move(answer)), forge_(std::move(forge)) {
        socket_ = openUdpSocket(family);
        EXPECT_EQ(bindLoopback(socket_, family, 0), 0);
        port_ = boundPort(socket_);
        setReceiveTimeout(socket_, 50);
        thread_ = std::thread([this] { run(); });
    }
    ~ScriptedServer() {
        stop_.store(true);
        thread_.join();
        closeSocket(socket_);
    }
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    uint16_t port() const { return port_; }
    int requests() const { return requests_.load(); }
    std::vector<uint8_t> sequences() const {
        std::lock_guard<std::mutex> guard(lock_);
        return sequences_;
    }

  private:
    void run() {
        std::vector<uint8_t> buffer(kDatagramBufferBytes);
        while (!stop_.load()) {
            std::fill(buffer.begin(), buffer.end(), 0);
            SocketAddress from{};
            from.length = family_ == IpFamily::IPv4 ? 16 : 28;
            const int received = receiveFrom(socket_, buffer.data(), kServerReadLimit, false, &from);
            if (received < 0) continue;
            if (received == kRequestBytes) {
                std::lock_guard<std::mutex> guard(lock_);
                sequences_.push_back(buffer[1]);
            }
            requests_.fetch_add(1);
            if (forge_) forge_(buffer.data(), from);
            const int replyBytes = answer_(buffer.data(), received);
            if (replyBytes > 0) sendTo(socket_, buffer.data(), replyBytes, from);
        }
    }

    IpFamily family_;
    Answer answer_;
    Forge forge_;
    SocketHandle socket_ = kNoSocket;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    mutable std::mutex lock_;
    std::vector<uint8_t> sequences_;
    std::thread thread_;
};

// A server that answers queries as the real one does, from the given records.
inline ScriptedServer::Answer answerFrom(const LocalStore& store) {
    return [store](uint8_t* buffer, int received) { return buildAnswer(buffer, received, store); };
}

inline LocalStore storeNamed(const char16_t* hostName, int presentGpus) {
    LocalStore store{};
    copyText16(store.host.hostName, kRecordTextUnits, hostName);
    store.host.cpuCount = 8;
    store.host.gpuCount = static_cast<uint8_t>(presentGpus);
    for (int i = 0; i < presentGpus; ++i) {
        store.gpus[i].present = 1;
        store.gpus[i].coreTempC = static_cast<uint8_t>(40 + i);
        copyText16(store.gpus[i].gpuName, kRecordTextUnits, u"GeForce");
    }
    return store;
}

}  // namespace testing_net
}  // namespace tarvelon
