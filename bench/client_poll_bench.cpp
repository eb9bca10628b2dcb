// Load generator: the query client polling 64 local servers. A child process answers on 64 loopback
// ports (one poll() loop, so it costs the client nothing); this process runs the real client manager
// and its 64 poll threads. Reports how long until every slot shows "OK", whether they stay there, the
// poll cycle per slot, and the client's CPU time per minute.
//   client_poll_bench [measured seconds, default 60]
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "net/protocol.h"
#include "net/query_client.h"
#include "net/slot_table.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "platform/text16.h"

using namespace tarvelon;

namespace {

struct Responders {
    pid_t child;
    int commands;  // parent -> child: 'c' asks for the request counts, 'q' ends the child
    int answers;   // child -> parent: the ports once, then 64 counts per 'c'
};

[[noreturn]] void serveInChild(int commands, int answers) {
    std::vector<SocketHandle> sockets(kServerSlots);
    std::vector<uint16_t> ports(kServerSlots);
    std::vector<uint64_t> counts(kServerSlots, 0);
    for (int i = 0; i < kServerSlots; ++i) {
        sockets[i] = openUdpSocket(IpFamily::IPv4);
        bindLoopback(sockets[i], IpFamily::IPv4, 0);
        ports[i] = boundPort(sockets[i]);
    }
    if (write(answers, ports.data(), ports.size() * sizeof ports[0]) < 0) std::_Exit(1);

    LocalStore store{};
    store.host.cpuCount = 8;
    store.gpus[0].present = 1;
    std::vector<pollfd> watched(kServerSlots + 1);
    for (int i = 0; i < kServerSlots; ++i) watched[i] = {static_cast<int>(sockets[i]), POLLIN, 0};
    watched[kServerSlots] = {commands, POLLIN, 0};
    std::vector<uint8_t> buffer(kDatagramBufferBytes);
    for (;;) {
        if (poll(watched.data(), watched.size(), -1) < 0) continue;
        for (int i = 0; i < kServerSlots; ++i) {
            if ((watched[i].revents & POLLIN) == 0) continue;
            std::memset(buffer.data(), 0, buffer.size());
            SocketAddress from{};
            from.length = 16;
            const int received = receiveFrom(sockets[i], buffer.data(), kServerReadLimit, false, &from);
            char16_t name[kRecordTextUnits];
            format16(name, kRecordTextUnits, u"bench-%02d", i);
            copyText16(store.host.hostName, kRecordTextUnits, name);
            const int replyBytes = buildAnswer(buffer.data(), received, store);
            if (replyBytes > 0) {
                sendTo(sockets[i], buffer.data(), replyBytes, from);
                ++counts[i];
            }
        }
        if (watched[kServerSlots].revents != 0) {
            char command = 'q';
            if (read(commands, &command, 1) != 1 || command == 'q') std::_Exit(0);
            if (write(answers, counts.data(), counts.size() * sizeof counts[0]) < 0) std::_Exit(1);
        }
    }
}

Responders startResponders(std::vector<uint16_t>& ports) {
    int toChild[2];
    int toParent[2];
    if (pipe(toChild) != 0 || pipe(toParent) != 0) std::exit(1);
    const pid_t child = fork();
    if (child == 0) {
        close(toChild[1]);
        close(toParent[0]);
        serveInChild(toChild[0], toParent[1]);
    }
    close(toChild[0]);
    close(toParent[1]);
    ports.resize(kServerSlots);
    if (read(toParent[0], ports.data(), ports.size() * sizeof ports[0]) !=
        static_cast<ssize_t>(ports.size() * sizeof ports[0])) {
        std::exit(1);
    }
    return {child, toChild[1], toParent[0]};
}

std::vector<uint64_t> requestCounts(const Responders& responders) {
    std::vector<uint64_t> counts(kServerSlots);
    const char command = 'c';
    if (write(responders.commands, &command, 1) != 1) std::exit(1);
    size_t got = 0;
    auto* bytes = reinterpret_cast<char*>(counts.data());
    while (got < counts.size() * sizeof counts[0]) {
        const ssize_t n = read(responders.answers, bytes + got, counts.size() * sizeof counts[0] - got);
        if (n <= 0) std::exit(1);
        got += static_cast<size_t>(n);
    }
    return counts;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int slotsOk() {
    int ok = 0;
    for (const ServerSlot& slot : slotTable) ok += slot.Status.load() == kStatusOk ? 1 : 0;
    return ok;
}

// Slots whose status is OK and that hold their own server's reply (OK alone also follows resolution).
int slotsAnswered() {
    int answered = 0;
    for (int i = 0; i < kServerSlots; ++i) {
        char16_t expected[kRecordTextUnits];
        format16(expected, kRecordTextUnits, u"bench-%02d", i);
        const SlotRecords records = readSlotRecords(slotTable[i]);
        answered +=
            slotTable[i].Status.load() == kStatusOk && equalText16(records.host.hostName, expected) ? 1 : 0;
    }
    return answered;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    std::vector<uint16_t> ports;
    const Responders responders = startResponders(ports);  // before any thread exists

    int32_t error = 0;
    if (!startSockets(&error)) return 1;
    clearSlotTable();
    for (int i = 0; i < kServerSlots; ++i) {
        ServerSlot& slot = slotTable[i];
        copyText16(slot.Hostname, kSlotTextUnits, u"127.0.0.1");
        slot.Port = ports[i];
        slot.Enabled = 1;
        slot.Active = 1;
    }
    const uint64_t started = tickCountMs();
    startQueryClient();
    while (slotsAnswered() < kServerSlots) {
        if (tickCountMs() - started > 30000) {
            std::printf("only %d of %d slots answered within 30 s\n", slotsAnswered(), kServerSlots);
            return 1;
        }
        sleepMs(10);
    }
    const double allOkAfter = static_cast<double>(tickCountMs() - started) / 1000.0;
    sleepMs(2000);  // let every poll thread settle into its cycle

    const std::vector<uint64_t> before = requestCounts(responders);
    const double cpuBefore = cpuSeconds();
    const uint64_t measureStart = tickCountMs();
    long samples = 0;
    long notOk = 0;
    while (tickCountMs() - measureStart < static_cast<uint64_t>(seconds * 1000)) {
        const int ok = slotsOk();
        ++samples;
        notOk += kServerSlots - ok;
        sleepMs(100);
    }
    const double elapsed = static_cast<double>(tickCountMs() - measureStart) / 1000.0;
    const double cpu = cpuSeconds() - cpuBefore;
    const std::vector<uint64_t> after = requestCounts(responders);

    double shortest = 1e9;
    double longest = 0;
    double total = 0;
    for (int i = 0; i < kServerSlots; ++i) {
        const uint64_t polls = after[i] - before[i];
        const double cycle = polls > 0 ? elapsed / static_cast<double>(polls) : elapsed;
        shortest = cycle < shortest ? cycle : shortest;
        longest = cycle > longest ? cycle : longest;
        total += cycle;
    }
    std::printf("slots                       %d local servers over IPv4 loopback\n", kServerSlots);
    std::printf("every slot answered, OK     %.2f s after start\n", allOkAfter);
    std::printf("slot samples not OK         %ld of %ld (every 100 ms for %.0f s)\n", notOk,
                samples * kServerSlots, elapsed);
    std::printf("poll cycle per slot         min %.3f s, mean %.3f s, max %.3f s\n", shortest,
                total / kServerSlots, longest);
    std::printf("client CPU time per minute  %.0f ms\n", cpu * 1000.0 * 60.0 / elapsed);
    std::fflush(stdout);

    const char quit = 'q';
    if (write(responders.commands, &quit, 1) != 1) return 1;
    waitpid(responders.child, nullptr, 0);
    std::_Exit(0);  // the client's threads run until the process ends
}
