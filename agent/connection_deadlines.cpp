#include "agent/connection_deadlines.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace tarvelon {

struct ConnectionDeadline {
    int socketFd;
    DeadlineClock::time_point due;
    IpAddress client;
    bool waiting;  // for a request's first line
    bool closing;  // shut down to make room: no longer counted
};

namespace {

constexpr DeadlineClock::time_point kNoDeadline = DeadlineClock::time_point::max();

std::mutex watchedLock;
std::set<ConnectionDeadline*>& watched() {
    static std::set<ConnectionDeadline*> connections;
    return connections;
}

void setDue(ConnectionDeadline* connection, DeadlineClock::time_point due, bool waiting) {
    if (connection == nullptr) return;
    std::lock_guard<std::mutex> guard(watchedLock);
    connection->due = due;
    connection->waiting = waiting;
}

void shutDownLateConnections() {
    const DeadlineClock::time_point now = DeadlineClock::now();
    std::lock_guard<std::mutex> guard(watchedLock);
    for (ConnectionDeadline* connection : watched()) {
        if (connection->due > now) continue;
        shutdown(connection->socketFd, SHUT_RDWR);
        connection->due = kNoDeadline;
        connection->closing = true;
    }
}

}  // namespace

Admission admitClient(const IpAddress& client) {
    std::lock_guard<std::mutex> guard(watchedLock);
    std::vector<ConnectionDeadline*> counted;
    std::vector<HeldConnection> held;
    for (ConnectionDeadline* connection : watched()) {
        if (connection->closing) continue;
        counted.push_back(connection);
        held.push_back(HeldConnection{connection->client, connection->waiting});
    }
    const AdmissionDecision decision = admitConnection(held.data(), held.size(), client);
    if (decision.admission == Admission::AdmitInPlace) {
        ConnectionDeadline* replaced = counted[decision.replaced];
        shutdown(replaced->socketFd, SHUT_RDWR);
        replaced->closing = true;
        replaced->due = kNoDeadline;
    }
    return decision.admission;
}

ConnectionDeadline* watchConnection(int socketFd, const IpAddress& client) {
    const int duplicate = fcntl(socketFd, F_DUPFD_CLOEXEC, 0);
    if (duplicate < 0) return nullptr;
    auto* connection = new ConnectionDeadline{
        duplicate, DeadlineClock::now() + std::chrono::seconds(kIdleSecondsBeforeClose), client, true, false};
    std::lock_guard<std::mutex> guard(watchedLock);
    watched().insert(connection);
    return connection;
}

void forgetConnection(ConnectionDeadline* connection) {
    if (connection == nullptr) return;
    {
        std::lock_guard<std::mutex> guard(watchedLock);
        watched().erase(connection);
    }
    close(connection->socketFd);
    delete connection;
}

void requestBegun(ConnectionDeadline* connection) {
    if (connection == nullptr) return;
    const DeadlineClock::time_point headersDue = DeadlineClock::now() + std::chrono::seconds(kHeaderSeconds);
    std::lock_guard<std::mutex> guard(watchedLock);
    if (headersDue < connection->due) connection->due = headersDue;
    connection->waiting = false;
}

void requestRead(ConnectionDeadline* connection) {
    setDue(connection, kNoDeadline, false);
}

void requestAnswered(ConnectionDeadline* connection) {
    setDue(connection, DeadlineClock::now() + std::chrono::seconds(kIdleSecondsBeforeClose), true);
}

void startDeadlineWatchdog() {
    static std::once_flag started;
    std::call_once(started, [] {
        std::thread([] {
            for (;;) {
                std::this_thread::sleep_for(std::chrono::milliseconds(250));
                shutDownLateConnections();
            }
        }).detach();
    });
}

}  // namespace tarvelon
