// The byte rules of the query protocol, without sockets.
#include "net/protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/text16.h"

namespace tarvelon {
namespace {

struct Datagram {
    std::vector<uint8_t> buffer = std::vector<uint8_t>(kDatagramBufferBytes, 0);
    int length = 0;

    explicit Datagram(std::vector<uint8_t> bytes) : length(static_cast<int>(bytes.size())) {
        if (!bytes.empty()) std::memcpy(buffer.data(), bytes.data(), bytes.size());
    }
};

LocalStore storeWithGpus(std::initializer_list<int> presentSlots) {
    LocalStore store{};
    copyText16(store.host.hostName, kRecordTextUnits, u"render-01");
    store.host.cpuCount = 12;
    store.host.physTotalMb = 65536;
    for (int slot : presentSlots) {
        store.gpus[slot].present = 1;
        store.gpus[slot].pciBus = static_cast<uint8_t>(slot + 1);
        store.gpus[slot].coreTempC = static_cast<uint8_t>(50 + slot);
    }
    return store;
}

TEST(BuildAnswer, FollowsTheFailureTable) {
    struct Case {
        std::vector<uint8_t> request;
        std::vector<uint8_t> answer;  // empty: no answer
    };
    const Case cases[] = {
        {{}, {}},
        {{1}, {}},
        {{1, 1}, {}},
        {{1, 1, 0x31, 0}, {}},
        {std::vector<uint8_t>(1900, 1), {}},
        {{2, 7, 0x31}, {2, 7, 0x01}},
        {{0, 200, 0x11}, {0, 200, 0x01}},
        {{1, 9, 0x11}, {1, 9, 0x12}},
        {{1, 9, 0x41}, {1, 9, 0x02}},
        {{1, 9, 0x32}, {1, 9, 0x02}},
        {{1, 9, 0x00}, {1, 9, 0x02}},
    };
    const LocalStore store = storeWithGpus({0});
    for (const Case& c : cases) {
        Datagram datagram(c.request);
        const int replyBytes = buildAnswer(datagram.buffer.data(), datagram.length, store);
        const std::vector<uint8_t> answer(datagram.buffer.begin(), datagram.buffer.begin() + replyBytes);
        EXPECT_EQ(answer, c.answer) << "request of " << c.request.size() << " bytes";
    }
    Datagram failedReceive({1, 1, 0x31});
    EXPECT_EQ(buildAnswer(failedReceive.buffer.data(), -1, store), 0);
}

TEST(BuildAnswer, NeverSendsBackTheBytesItReceived) {
    const LocalStore store = storeWithGpus({});
    // The two shapes that are their own answer.
    for (const std::vector<uint8_t>& echo :
         {std::vector<uint8_t>{2, 7, 0x01}, std::vector<uint8_t>{1, 9, 0x02}}) {
        Datagram datagram(echo);
        EXPECT_EQ(answerKindOf(datagram.buffer.data(), datagram.length), AnswerKind::None);
        EXPECT_EQ(buildAnswer(datagram.buffer.data(), datagram.length, store), 0);
    }
    // Feeding every 3-byte answer back as a request ends after at most three answers, so two servers
    // that a forged sender introduces to each other fall silent at once.
    std::vector<uint8_t> buffer(kDatagramBufferBytes, 0);
    for (int version = 0; version < 256; ++version) {
        for (int code = 0; code < 256; ++code) {
            buffer[0] = static_cast<uint8_t>(version);
            buffer[1] = 5;
            buffer[2] = static_cast<uint8_t>(code);
            int answers = 0;
            while (answers <= 3 && buildAnswer(buffer.data(), kRequestBytes, store) == kRequestBytes)
                ++answers;
            EXPECT_LE(answers, 3) << version << " " << code;
        }
    }
}

TEST(AnswerKind, TellsFullFromShortAndProcessesOnlyWhereAnswered) {
    struct Case {
        std::vector<uint8_t> request;
        AnswerKind kind;
        AnswerKind kindWithProcesses;
    };
    const Case cases[] = {
        {{1, 0, 0x31}, AnswerKind::Full, AnswerKind::Full},
        {{1, 0, 0x11}, AnswerKind::Short, AnswerKind::Short},
        {{1, 0, 0x12}, AnswerKind::Short, AnswerKind::Short},
        {{2, 0, 0x31}, AnswerKind::Short, AnswerKind::Short},
        {{1, 0, 0x31, 0}, AnswerKind::None, AnswerKind::None},
        {{}, AnswerKind::None, AnswerKind::None},
        // A server without processes answers their question as any unknown code, as older ones do.
        {{1, 0, 0x33}, AnswerKind::Short, AnswerKind::Processes},
        {{2, 0, 0x33}, AnswerKind::Short, AnswerKind::Short},
        {{1, 0, 0x33, 0}, AnswerKind::None, AnswerKind::None},
        {{1, 0, 0x34}, AnswerKind::Short, AnswerKind::Short},
    };
    for (const Case& c : cases) {
        Datagram datagram(c.request);
        EXPECT_EQ(answerKindOf(datagram.buffer.data(), datagram.length), c.kind) << c.request.size();
        EXPECT_EQ(answerKindOf(datagram.buffer.data(), datagram.length, true), c.kindWithProcesses)
            << c.request.size();
    }
}

TEST(BuildFullReply, AnnouncesProcessesInTheFeatureByteOnly) {
    const LocalStore store = storeWithGpus({0});
    for (uint8_t features : {uint8_t{0}, kFeatureProcesses}) {
        Datagram datagram({1, 3, 0x31});
        const int replyBytes = buildFullReply(datagram.buffer.data(), store, features);
        EXPECT_EQ(replyBytes, 239);
        EXPECT_EQ(datagram.buffer[4], features);
        EXPECT_EQ(datagram.buffer[5] | datagram.buffer[6], 0);
        EXPECT_EQ(announcesProcesses(datagram.buffer.data()), features != 0);
        EXPECT_EQ(judgeReply(datagram.buffer.data(), replyBytes, 3), ReplyVerdict::Accepted);
    }
}

TEST(BuildAnswer, FullReplyCarriesHostAndPackedPresentGpus) {
    const LocalStore store = storeWithGpus({0, 2});
    Datagram datagram({1, 0, 0x31});
    const int replyBytes = buildAnswer(datagram.buffer.data(), datagram.length, store);
    const uint8_t* reply = datagram.buffer.data();

    EXPECT_EQ(replyBytes, 131 + 2 * 108);
    EXPECT_EQ(reply[0], 1);
    EXPECT_EQ(reply[1], 0);  // sequence 0 is echoed like any other
    EXPECT_EQ(reply[2], 0x32);
    EXPECT_EQ(reply[3], 2);
    EXPECT_EQ(reply[4] | reply[5] | reply[6], 0);
    EXPECT_EQ(std::memcmp(reply + 7, &store.host, 124), 0);
    EXPECT_EQ(std::memcmp(reply + 131, &store.gpus[0], 108), 0);
    EXPECT_EQ(std::memcmp(reply + 239, &store.gpus[2], 108), 0);
}

TEST(BuildAnswer, ReplyLengthFollowsThePresentGpuCount) {
    struct Case {
        std::initializer_list<int> present;
        int length;
    };
    const Case cases[] = {
        {{}, 131},
        {{15}, 239},
        {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, 1859},
    };
    for (const Case& c : cases) {
        Datagram datagram({1, 44, 0x31});
        const int replyBytes = buildAnswer(datagram.buffer.data(), datagram.length, storeWithGpus(c.present));
        EXPECT_EQ(replyBytes, c.length);
        EXPECT_EQ(datagram.buffer[3], (c.length - 131) / 108);
    }
}

TEST(JudgeReply, ChecksSequenceCodeAndWholeness) {
    struct Case {
        std::vector<uint8_t> reply;
        int received;
        ReplyVerdict verdict;
    };
    const Case cases[] = {
        {{1, 7, 0x32}, -1, ReplyVerdict::Unanswered},
        {{1, 7, 0x32}, 0, ReplyVerdict::Unanswered},
        {{1, 7}, 2, ReplyVerdict::Unanswered},
        {{1, 7, 0x32, 0}, 131, ReplyVerdict::Accepted},
        {{5, 7, 0x32}, 131, ReplyVerdict::Accepted},  // the version byte is not examined
        {{1, 8, 0x32}, 131, ReplyVerdict::Rejected},
        {{1, 7, 0x01}, 3, ReplyVerdict::Rejected},
        {{1, 7, 0x02}, 3, ReplyVerdict::Rejected},
        {{1, 7, 0x12}, 3, ReplyVerdict::Rejected},
        // A full reply shorter than the records it announces (at most 16 count) is not taken.
        {{1, 7, 0x32}, 3, ReplyVerdict::Rejected},
        {{1, 7, 0x32, 0}, 130, ReplyVerdict::Rejected},
        {{1, 7, 0x32, 5}, 239, ReplyVerdict::Rejected},
        {{1, 7, 0x32, 5}, 670, ReplyVerdict::Rejected},
        {{1, 7, 0x32, 5}, 671, ReplyVerdict::Accepted},
        {{1, 7, 0x32, 255}, 1858, ReplyVerdict::Rejected},
        {{1, 7, 0x32, 255}, 1859, ReplyVerdict::Accepted},
    };
    for (const Case& c : cases) {
        Datagram datagram(c.reply);
        EXPECT_EQ(judgeReply(datagram.buffer.data(), c.received, 7), c.verdict)
            << int(c.reply[0]) << " " << c.received;
    }
}

TEST(BuildQueryRequest, IsVersionSequenceQuery) {
    uint8_t request[kRequestBytes];
    buildQueryRequest(0, request);
    EXPECT_EQ(request[0], 1);
    EXPECT_EQ(request[1], 0);
    EXPECT_EQ(request[2], 0x31);
}

// A reply as it sits in the client's cleared buffer after a receive of `length` bytes.
std::vector<uint8_t> replyBuffer(const LocalStore& store, int length, int recordCount) {
    std::vector<uint8_t> full(kDatagramBufferBytes, 0);
    full[0] = 1;
    full[2] = 0x31;
    buildAnswer(full.data(), 3, store);
    full[3] = static_cast<uint8_t>(recordCount);
    std::vector<uint8_t> received(kDatagramBufferBytes, 0);
    std::memcpy(received.data(), full.data(), static_cast<size_t>(length));
    return received;
}

struct Slot {
    HostRecord host{};
    GpuRecord gpus[kGpuSlots]{};
};

TEST(StoreReply, MissingRecordsReadAsNotPresent) {
    const LocalStore store = storeWithGpus({0, 1, 2, 3, 4});
    Slot slot;
    for (GpuRecord& gpu : slot.gpus) gpu.present = 1;
    storeReply(replyBuffer(store, 239, 5).data(), slot.host, slot.gpus);

    EXPECT_EQ(std::memcmp(&slot.gpus[0], &store.gpus[0], sizeof(GpuRecord)), 0);
    for (int k = 1; k < 5; ++k) {
        const GpuRecord zero{};
        EXPECT_EQ(std::memcmp(&slot.gpus[k], &zero, sizeof zero), 0) << k;
    }
    EXPECT_EQ(slot.gpus[5].present, 0);
    EXPECT_EQ(toUtf8(slot.host.hostName), "render-01");
}

TEST(StoreReply, AFewerRecordsReplyClearsOnlyPresentBeyondItsCount) {
    LocalStore store = storeWithGpus({0, 1, 2});
    Slot slot;
    storeReply(replyBuffer(store, 131 + 3 * 108, 3).data(), slot.host, slot.gpus);
    ASSERT_EQ(slot.gpus[2].present, 1);

    store.gpus[2].present = 0;
    storeReply(replyBuffer(store, 131 + 2 * 108, 2).data(), slot.host, slot.gpus);
    EXPECT_EQ(slot.gpus[2].present, 0);
    EXPECT_EQ(slot.gpus[2].pciBus, 3);
    EXPECT_EQ(slot.gpus[2].coreTempC, 52);
    EXPECT_EQ(slot.gpus[1].present, 1);
}

TEST(StoreReply, ChangeFlagRisesOnlyForTheIdentityFields) {
    struct Case {
        const char* field;
        void (*alter)(HostRecord&);
        uint8_t changed;
    };
    const Case cases[] = {
        {"cpuLoad", [](HostRecord& h) { h.cpuLoad = 99; }, 0},
        {"physFreeMb", [](HostRecord& h) { h.physFreeMb = 1; }, 0},
        {"netIoMbit", [](HostRecord& h) { h.netIoMbit = 5; }, 0},
        {"hostName", [](HostRecord& h) { h.hostName[3] = u'X'; }, 1},
        {"gpuCount", [](HostRecord& h) { h.gpuCount = 2; }, 1},
        {"physTotalMb", [](HostRecord& h) { h.physTotalMb = 1024; }, 1},
        {"pageTotalMb", [](HostRecord& h) { h.pageTotalMb = 2048; }, 1},
        {"cpuCount", [](HostRecord& h) { h.cpuCount = 16; }, 1},
    };
    for (const Case& c : cases) {
        LocalStore store = storeWithGpus({});
        Slot slot;
        storeReply(replyBuffer(store, 131, 0).data(), slot.host, slot.gpus);
        slot.host.changed = 0;  // consumed by the panel
        c.alter(store.host);
        storeReply(replyBuffer(store, 131, 0).data(), slot.host, slot.gpus);
        EXPECT_EQ(slot.host.changed, c.changed) << c.field;
    }
}

TEST(StoreReply, NameBytesAfterTheTerminatorDoNotCountAsChange) {
    LocalStore store = storeWithGpus({});
    Slot slot;
    storeReply(replyBuffer(store, 131, 0).data(), slot.host, slot.gpus);
    slot.host.changed = 0;
    store.host.hostName[30] = u'Z';  // after the terminator of "render-01"
    storeReply(replyBuffer(store, 131, 0).data(), slot.host, slot.gpus);
    EXPECT_EQ(slot.host.changed, 0);
}

TEST(StoreReply, AnUnconsumedChangeSurvivesTheNextReply) {
    LocalStore store = storeWithGpus({});
    Slot slot;
    storeReply(replyBuffer(store, 131, 0).data(), slot.host, slot.gpus);
    EXPECT_EQ(slot.host.changed, 1);  // the name differs from the empty slot
    store.host.cpuLoad = 40;
    storeReply(replyBuffer(store, 131, 0).data(), slot.host, slot.gpus);
    EXPECT_EQ(slot.host.changed, 1);
}

TEST(StoreReply, TerminatesFullLengthNames) {
    LocalStore store = storeWithGpus({0});
    for (char16_t& unit : store.host.hostName) unit = u'h';
    for (char16_t& unit : store.gpus[0].gpuName) unit = u'g';
    Slot slot;
    storeReply(replyBuffer(store, 239, 1).data(), slot.host, slot.gpus);
    EXPECT_EQ(slot.host.hostName[39], 0);
    EXPECT_EQ(slot.host.hostName[38], u'h');
    EXPECT_EQ(text16Length(slot.host.hostName, 40), 39u);
    EXPECT_EQ(slot.gpus[0].gpuName[39], 0);
    EXPECT_EQ(slot.gpus[0].gpuName[38], u'g');
}

TEST(StoreReply, TakesAtMostSixteenRecords) {
    const LocalStore store = storeWithGpus({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});
    Slot slot;
    storeReply(replyBuffer(store, 1859, 255).data(), slot.host, slot.gpus);
    for (int k = 0; k < kGpuSlots; ++k) EXPECT_EQ(slot.gpus[k].pciBus, k + 1) << k;
}

}  // namespace
}  // namespace tarvelon
