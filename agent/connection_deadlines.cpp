#include "agent/connection_deadlines.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <set>
#include <thread>

namespace tarvelon {

struct ConnectionDeadline {
    int socketFd;
    DeadlineClock::time_point due;
};

namespace {

constexpr DeadlineClock::time_point kNoDeadline = DeadlineClock::time_point::max();

std::mutex watchedLock;
std::set<ConnectionDeadline*>& watched() {
    static std::set<ConnectionDeadline*> connections;
    return connections;
}

void setDue(ConnectionDeadline* connection, DeadlineClock::time_point due) {
    if (connection == nullptr) return;
    std::lock_guard<std::mutex> guard(watchedLock);
    connection->due = due;
}

void shutDownLateConnections() {
    const DeadlineClock::time_point now = DeadlineClock::now();
    std::lock_guard<std::mutex> guard(watchedLock);
    for (ConnectionDeadline* connection : watched()) {
        if (connection->due > now) continue;
        shutdown(connection->socketFd, SHUT_RDWR);
        connection->due = kNoDeadline;
    }
}

}  // namespace

ConnectionDeadline* watchConnection(int socketFd) {
    const int duplicate = fcntl(socketFd, F_DUPFD_CLOEXEC, 0);
    if (duplicate < 0) return nullptr;
    auto* connection = new ConnectionDeadline{
        duplicate, DeadlineClock::now() + std::chrono::seconds(kIdleSecondsBeforeClose)};
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
}

void requestRead(ConnectionDeadline* connection) {
    setDue(connection, kNoDeadline);
}

void requestAnswered(ConnectionDeadline* connection) {
    setDue(connection, DeadlineClock::now() + std::chrono::seconds(kIdleSecondsBeforeClose));
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
