#include "agent/probe_resolution.h"

#include <netdb.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "net/allow_list.h"

namespace tarvelon {
namespace {

std::atomic<int> pendingResolutions{0};

struct Resolution {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    std::vector<IpAddress> addresses;
};

std::vector<IpAddress> resolveNow(const std::string& host, int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = flags;
    addrinfo* list = nullptr;
    std::vector<IpAddress> addresses;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) return addresses;
    for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
        SocketAddress socketAddress{};
        if (entry->ai_addrlen > sizeof socketAddress.bytes) continue;
        std::memcpy(socketAddress.bytes, entry->ai_addr, entry->ai_addrlen);
        socketAddress.length = static_cast<int32_t>(entry->ai_addrlen);
        IpAddress address;
        if (senderIpAddress(socketAddress, &address)) addresses.push_back(unmappedIPv4(address));
    }
    freeaddrinfo(list);
    return addresses;
}

}  // namespace

std::vector<IpAddress> resolveProbeHost(const std::string& host, uint32_t waitMs) {
    std::vector<IpAddress> numeric = resolveNow(host, AI_NUMERICHOST);
    if (!numeric.empty() || waitMs == 0) return numeric;
    if (pendingResolutions.fetch_add(1) >= kMostPendingResolutions) {
        pendingResolutions.fetch_sub(1);
        return {};
    }
    const auto resolution = std::make_shared<Resolution>();
    std::thread([resolution, host] {
        std::vector<IpAddress> addresses = resolveNow(host, 0);
        {
            std::lock_guard<std::mutex> guard(resolution->lock);
            resolution->addresses = std::move(addresses);
            resolution->finished = true;
        }
        resolution->done.notify_one();
        pendingResolutions.fetch_sub(1);
    }).detach();
    std::unique_lock<std::mutex> guard(resolution->lock);
    if (!resolution->done.wait_for(guard, std::chrono::milliseconds(waitMs),
                                   [&] { return resolution->finished; }))
        return {};
    return resolution->addresses;
}

}  // namespace tarvelon
