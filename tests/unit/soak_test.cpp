// The soak run: the real query client with every slot in use against small loopback servers that
// answer correctly, stay silent, or answer with wrong codes, wrong sequences, random bytes, too little
// or too much; meanwhile slots are removed, added and moved through the same handshakes the Network
// Setup dialog uses. Every slot's status must stay the one its server earns, and at the end the
// process must hold the threads, descriptors and heap it held before.
//
// Runs TARVELON_SOAK_SECONDS (30 by default); registered apart from the unit tests as ctest's
// "net.soak" with the label "soak".
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "net/query_client.h"
#include "net/slot_table.h"
#include "platform/clock.h"
#include "settings/settings.h"
#include "unit/net_test_support.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// Where a sanitizer owns malloc, its runtime counts the bytes in use (GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace tarvelon {
namespace {

using namespace testing_net;

// ---- What the process holds -----------------------------------------------------------------------

int entriesIn(const char* directory) {
    DIR* dir = opendir(directory);
    if (dir == nullptr) return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.' ? 1 : 0;
    closedir(dir);
    return count;
}

int threadCount() {
    return entriesIn("/proc/self/task");
}

int descriptorCount() {
    return entriesIn("/proc/self/fd") - 1;  // less the one the listing itself holds
}

// Bytes the program has allocated and not freed; the sanitizers' own count where they own malloc.
size_t heapInUse() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

long residentKb() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::sscanf(line, "VmRSS: %ld kB", &kb) == 1) break;
    }
    std::fclose(status);
    return kb;
}

// ---- The servers ----------------------------------------------------------------------------------

enum class Behaviour {
    Correct,       // the records of a host named after the server
    FuzzedAccept,  // random records under the right sequence and code, all of them there
    Silent,
    WrongCode,
    WrongSequence,
    RandomBytes,  // random bytes of random length, never a full reply's code
    TooShort,     // one or two bytes
    TooLong,      // more than the client reads
};

int32_t settledStatus(Behaviour behaviour) {
    switch (behaviour) {
        case Behaviour::Correct:
        case Behaviour::FuzzedAccept:
            return kStatusOk;
        case Behaviour::Silent:
        case Behaviour::TooShort:
        case Behaviour::TooLong:
            return kStatusNoResponse;
        case Behaviour::WrongCode:
        case Behaviour::WrongSequence:
        case Behaviour::RandomBytes:
            return kStatusVersionMismatch;
    }
    return kStatusUnknown;
}

class Responder {
  public:
    Responder(IpFamily family, Behaviour behaviour, int number)
        : family_(family), behaviour_(behaviour), random_(static_cast<uint32_t>(number) * 7919u + 1) {
        format16(name_, kRecordTextUnits, u"soak-%02d", number);
        copyText16(store_.host.hostName, kRecordTextUnits, name_);
        store_.host.cpuCount = static_cast<uint8_t>(number);
        for (int i = 0; i < number % 4; ++i) store_.gpus[i].present = 1;
        socket_ = openUdpSocket(family);
        EXPECT_EQ(bindLoopback(socket_, family, 0), 0);
        port_ = boundPort(socket_);
        setReceiveTimeout(socket_, 50);
        thread_ = std::thread([this] { run(); });
    }
    ~Responder() {
        stop_.store(true);
        thread_.join();
        closeSocket(socket_);
    }
    Responder(const Responder&) = delete;
    Responder& operator=(const Responder&) = delete;

    IpFamily family() const { return family_; }
    Behaviour behaviour() const { return behaviour_; }
    uint16_t port() const { return port_; }
    std::string name() const { return toUtf8(name_); }

  private:
    void fillRandom(uint8_t* bytes, int length) {
        for (int i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(random_());
    }
    int lengthBetween(int low, int high) { return low + static_cast<int>(random_() % (high - low + 1)); }

    // Builds the reply over the request in buffer (of the given capacity); its length, 0 for none.
    int answer(uint8_t* buffer, int capacity, int received) {
        if (received != kRequestBytes) return 0;
        const uint8_t sequence = buffer[1];
        switch (behaviour_) {
            case Behaviour::Correct:
                return buildAnswer(buffer, received, store_);
            case Behaviour::FuzzedAccept: {
                // Long enough for any record count: a reply short of its records is rejected.
                const int length = lengthBetween(kLongestReply, kClientReadLimit);
                fillRandom(buffer, length);
                buffer[1] = sequence;
                buffer[2] = kCodeFullReply;
                return length;
            }
            case Behaviour::Silent:
                return 0;
            case Behaviour::WrongCode: {
                static const uint8_t kCodes[] = {kCodeBadVersion, kCodeUnknownCode, kCodeProbeAnswer,
                                                 kCodeQuery};
                buffer[2] = kCodes[random_() % 4];
                return kRequestBytes;
            }
            case Behaviour::WrongSequence: {
                const int length = buildAnswer(buffer, received, store_);
                buffer[1] = static_cast<uint8_t>(sequence + 1 + random_() % 255);
                return length;
            }
            case Behaviour::RandomBytes: {
                const int length = lengthBetween(kRequestBytes, kClientReadLimit);
                fillRandom(buffer, length);
                if (buffer[2] == kCodeFullReply) buffer[2] = 0;
                return length;
            }
            case Behaviour::TooShort:
                return lengthBetween(1, 2);
            case Behaviour::TooLong: {
                const int length = lengthBetween(kClientReadLimit + 1, capacity);
                fillRandom(buffer, length);
                return length;
            }
        }
        return 0;
    }

    void run() {
        std::vector<uint8_t> buffer(9000);
        while (!stop_.load()) {
            std::fill(buffer.begin(), buffer.end(), 0);
            SocketAddress from{};
            from.length = family_ == IpFamily::IPv4 ? 16 : 28;
            const int received = receiveFrom(socket_, buffer.data(), kServerReadLimit, false, &from);
            const int replyBytes = answer(buffer.data(), static_cast<int>(buffer.size()), received);
            if (replyBytes > 0) sendTo(socket_, buffer.data(), replyBytes, from);
        }
    }

    IpFamily family_;
    Behaviour behaviour_;
    std::mt19937 random_;
    char16_t name_[kRecordTextUnits] = {};
    LocalStore store_{};
    SocketHandle socket_ = kNoSocket;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// ---- The slots, driven as the Network Setup dialog drives them -------------------------------------

// A slot of an answering server that shows anything but OK for this long, or any used slot whose
// LastQueryTime stands still for this long, is a fault: a poll comes every second or two, and even a
// machine far too busy for the 900 ms receive time-out gets some answers through in half a minute.
constexpr uint64_t kStuckLimitMs = 30000;

struct SlotView {
    int responder = -1;  // -1: free
    bool settled = false;
    uint64_t notOkSince = 0;       // when a check first saw it other than OK; 0 while OK
    int64_t lastQueryTime = 0;     // the LastQueryTime a check saw last
    uint64_t lastQueryChange = 0;  // when a check saw that value first
};

class SoakRun {
  public:
    SoakRun() : random_(20240611) {
        const Behaviour behaviours[] = {
            Behaviour::Correct,      Behaviour::Correct,  Behaviour::Correct,   Behaviour::Correct,
            Behaviour::FuzzedAccept, Behaviour::Silent,   Behaviour::WrongCode, Behaviour::WrongSequence,
            Behaviour::RandomBytes,  Behaviour::TooShort, Behaviour::TooLong,
        };
        int number = 0;
        for (IpFamily family : {IpFamily::IPv4, IpFamily::IPv6}) {
            for (Behaviour behaviour : behaviours) {
                responders_.push_back(std::make_unique<Responder>(family, behaviour, number++));
            }
        }
    }

    bool isFree(int slot) const { return views_[slot].responder < 0; }
    int randomSlot() { return static_cast<int>(random_() % kServerSlots); }
    int otherSlotThan(int slot) {
        return (slot + 1 + static_cast<int>(random_() % (kServerSlots - 1))) % kServerSlots;
    }
    int randomSlotThat(bool free) {
        for (;;) {
            const int slot = randomSlot();
            if (isFree(slot) == free) return slot;
        }
    }

    // As the dialog adds a server: the configuration first, the start request last.
    void requestAdd(int slot) {
        const int responder = static_cast<int>(random_() % responders_.size());
        const Responder& server = *responders_[static_cast<size_t>(responder)];
        ServerSlot& entry = slotTable[slot];
        copyText16(entry.Hostname, kSlotTextUnits, loopbackName(server.family()));
        entry.Port = server.port();
        entry.HighLatency = 0;
        entry.Active = 1;
        entry.Enabled = 1;
        entry.State = kStateStartEnabled;
        const uint64_t now = tickCountMs();
        views_[slot] = {responder, false, now, 0, now};
    }
    void awaitAdded(int slot) {
        ASSERT_TRUE(waitFor([&] { return slotTable[slot].State.load() == kStateStarted; })) << "add " << slot;
    }
    void add(int slot) {
        requestAdd(slot);
        awaitAdded(slot);
    }

    void remove(int slot) {
        ServerSlot& entry = slotTable[slot];
        entry.State = kStateRemoveRequest;
        ASSERT_TRUE(waitFor([&] { return entry.State.load() == kStateRemoved; })) << "remove " << slot;
        EXPECT_EQ(entry.Active.load(), 0);
        views_[slot] = {};
    }

    void move(int a, int b) {
        slotTableCommand = kCommandStopAll;
        ASSERT_TRUE(waitFor([] { return slotTableCommand.load() == kCommandStopped; }));
        exchangeSlots(a, b);
        for (int slot : {a, b}) {
            updateSlotRecords(slotTable[slot],
                              [](HostRecord& host, GpuRecord(&)[kGpuSlots]) { host.changed = 1; });
        }
        slotTableCommand = kCommandRestart;
        ASSERT_TRUE(waitFor([] { return slotTableCommand.load() == kCommandNone; }));
        std::swap(views_[a], views_[b]);
        ++moves_;
    }

    // Every slot against what its server earns. A settled slot shows exactly that and keeps the host
    // of its own server (for a correct one); a slot not settled yet may also still show the start of
    // its life: unresolved, then OK after the resolution. A slot of an answering server may show No
    // Response now and then, when the machine was too busy for the answer to come within 900 ms; those
    // are counted, but it must be OK again within kStuckLimitMs of the add or of the first check that
    // saw it otherwise, also across moves, and every used slot's LastQueryTime must move on within as
    // long. Returns the slots that do not show what their server earns yet.
    int check() {
        const uint64_t now = tickCountMs();
        int unsettled = 0;
        for (int slot = 0; slot < kServerSlots; ++slot) {
            SlotView& view = views_[slot];
            ServerSlot& entry = slotTable[slot];
            if (view.responder < 0) {
                EXPECT_EQ(entry.Active.load(), 0) << slot;
                continue;
            }
            const Responder& server = *responders_[static_cast<size_t>(view.responder)];
            EXPECT_EQ(entry.Port, server.port()) << slot;
            const int32_t status = entry.Status.load();
            const int32_t expected = settledStatus(server.behaviour());
            const bool late = status == kStatusNoResponse && expected != kStatusNoResponse;
            const bool starting = !view.settled && (status == kStatusUnresolvable || status == kStatusOk);
            const std::string host = toUtf8(readSlotRecords(entry).host.hostName);
            const bool hostRight = server.behaviour() != Behaviour::Correct || host == server.name();
            EXPECT_TRUE(status == expected || late || starting)
                << "slot " << slot << " of " << server.name() << " shows " << toUtf8(statusCodeText(status));
            if (expected == kStatusOk) {
                if (status == kStatusOk) view.notOkSince = 0;
                if (status != kStatusOk && view.notOkSince == 0) view.notOkSince = now;
                EXPECT_TRUE(view.notOkSince == 0 || now - view.notOkSince < kStuckLimitMs)
                    << "slot " << slot << " of " << server.name() << " not OK for " << now - view.notOkSince
                    << " ms, shows " << toUtf8(statusCodeText(status));
            }
            const int64_t queried = entry.LastQueryTime.load();
            if (queried != view.lastQueryTime) {
                view.lastQueryTime = queried;
                view.lastQueryChange = now;
            }
            EXPECT_LT(now - view.lastQueryChange, kStuckLimitMs)
                << "slot " << slot << " of " << server.name() << " not queried since " << queried;
            if (view.settled) {
                EXPECT_TRUE(hostRight) << "slot " << slot << " of " << server.name() << " holds " << host;
                lateAnswers_ += late ? 1 : 0;
            } else {
                view.settled = status == expected && hostRight;
            }
            unsettled += view.settled && status == expected ? 0 : 1;
        }
        ++checks_;
        return unsettled;
    }

    // Checks until every used slot shows what its server earns (generously).
    void settle() {
        EXPECT_TRUE(waitFor([&] { return check() == 0 || testing::Test::HasFailure(); }, 60000));
    }

    int moves() const { return moves_; }
    int checks() const { return checks_; }
    int lateAnswers() const { return lateAnswers_; }

  private:
    std::mt19937 random_;
    std::vector<std::unique_ptr<Responder>> responders_;
    SlotView views_[kServerSlots];
    int moves_ = 0;
    int checks_ = 0;
    int lateAnswers_ = 0;
};

int soakSeconds() {
    const char* text = std::getenv("TARVELON_SOAK_SECONDS");
    const int seconds = text != nullptr ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : 30;
}

TEST(Soak, SixtyFourSlotsAgainstMisbehavingServersStayRightAndLeakNothing) {
    startSocketsForTests();
    char pattern[] = "/tmp/tarvelon-soak-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    setenv("TARVELON_STORE_DIR", pattern, 1);
    startQueryClient();

    SoakRun run;
    const int threadsBefore = threadCount();
    const int descriptorsBefore = descriptorCount();

    // Warm-up: all but eight slots in use, one of each handshake, everything settled.
    constexpr int kUsedSlots = kServerSlots - 8;
    std::vector<int> added;
    for (int i = 0; i < kUsedSlots; ++i) {
        added.push_back(run.randomSlotThat(true));
        run.requestAdd(added.back());
    }
    for (int slot : added) run.awaitAdded(slot);
    run.remove(run.randomSlotThat(false));
    run.add(run.randomSlotThat(true));
    const int first = run.randomSlot();
    run.move(first, run.otherSlotThan(first));
    run.settle();
    const size_t heapAfterWarmUp = heapInUse();
    const long residentAfterWarmUp = residentKb();

    const uint64_t end = tickCountMs() + static_cast<uint64_t>(soakSeconds()) * 1000;
    int rounds = 0;
    while (tickCountMs() < end && !HasFailure()) {
        run.remove(run.randomSlotThat(false));
        run.add(run.randomSlotThat(true));
        run.check();
        const int a = run.randomSlot();
        run.move(a, run.otherSlotThan(a));
        // A move restarts every poll thread, and each pauses 900 ms before its first query: moves
        // any closer together would leave every slot unpolled for the whole run.
        for (int i = 0; i < 20; ++i) {
            run.check();
            sleepMs(100);
        }
        ++rounds;
    }
    run.settle();
    const size_t heapAtEnd = heapInUse();
    const long residentAtEnd = residentKb();

    for (int slot = 0; slot < kServerSlots; ++slot) {
        if (!run.isFree(slot)) run.remove(slot);
    }
    EXPECT_TRUE(waitFor([&] { return threadCount() == threadsBefore; })) << threadCount() << " threads";
    EXPECT_TRUE(waitFor([&] { return descriptorCount() == descriptorsBefore; }))
        << descriptorCount() << " fds";
    // The same slots are in use at both points; what a leak per poll thread or per exchange would add
    // up to over the run is far beyond this.
    EXPECT_LT(heapAtEnd, heapAfterWarmUp + 1024 * 1024) << heapAfterWarmUp << " -> " << heapAtEnd;

    std::printf(
        "soak: %d s, %d rounds, %d moves, %d checks, %d late answers; threads %d before and %d after, "
        "descriptors %d and %d; heap %zu -> %zu bytes, resident %ld -> %ld kB\n",
        soakSeconds(), rounds, run.moves(), run.checks(), run.lateAnswers(), threadsBefore, threadCount(),
        descriptorsBefore, descriptorCount(), heapAfterWarmUp, heapAtEnd, residentAfterWarmUp, residentAtEnd);
    deleteSettingsKey();
}

}  // namespace
}  // namespace tarvelon
