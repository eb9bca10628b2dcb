// The datagrams that answer the processes question: built by a server, read by a client that trusts
// none of their counts or names.
#include "net/process_reply.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "net/protocol.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

GpuProcessList listOf(int count) {
    GpuProcessList list{};
    list.pciBus = 3;
    list.pciSlot = 1;
    list.total = static_cast<uint16_t>(count);
    list.count = count;
    for (int i = 0; i < count && i < kMostWireProcesses; ++i) {
        list.processes[i].pid = 1000u + static_cast<uint32_t>(i);
        list.processes[i].flags = kProcessLoadKnown | kProcessMemoryKnown;
        list.processes[i].loadPct = static_cast<uint8_t>(90 - i);
        list.processes[i].memoryBytes = 0x123456789ull + static_cast<uint64_t>(i);
        copyText16(list.processes[i].name, kWireProcessNameUnits, u"render.exe");
    }
    return list;
}

TEST(ProcessReply, LaysOutHeaderAndEntriesLittleEndian) {
    std::vector<uint8_t> buffer(kDatagramBufferBytes, 0xEE);
    const int bytes = buildProcessReply(buffer.data(), 1, 42, 2, 3, listOf(1));
    ASSERT_EQ(bytes, 96);
    const std::vector<uint8_t> header(buffer.begin(), buffer.begin() + 16);
    EXPECT_EQ(header, (std::vector<uint8_t>{1, 42, 0x34, 2, 3, 1, 3, 1, 1, 0, 0, 0, 0, 0, 0, 0}));
    const std::vector<uint8_t> entry(buffer.begin() + 16, buffer.begin() + 40);
    EXPECT_EQ(entry, (std::vector<uint8_t>{0xE8, 0x03, 0, 0, 3,   90, 0,   0, 0x89, 0x67, 0x45, 0x23,
                                           0x01, 0,    0, 0, 'r', 0,  'e', 0, 'n',  0,    'd',  0}));
    EXPECT_EQ(buffer[16 + 16 + 2 * 10], 0);  // zero after the name, to the end of its field
    EXPECT_EQ(buffer[95], 0);
}

TEST(ProcessReply, ReadsOnlyWholeRepliesToTheQuestionAsked) {
    struct Case {
        const char* what;
        int listed;                                 // processes the server built
        std::vector<std::pair<int, uint8_t>> poke;  // bytes changed after building
        int cut;                                    // bytes left off the end; negative: bytes beyond it
        bool read;
        int count;
        int total;
    };
    const Case cases[] = {
        {"no processes", 0, {}, 0, true, 0, 0},
        {"a full list", 16, {}, 0, true, 16, 16},
        {"more than fit are cut to a datagram", 40, {}, 0, true, 16, 40},
        {"another sequence", 1, {{1, 43}}, 0, false, 0, 0},
        {"a full reply's code", 1, {{2, 0x32}}, 0, false, 0, 0},
        {"a count beyond a datagram", 16, {{5, 17}}, -kWireProcessBytes, false, 0, 0},
        {"a count more than arrived", 2, {{5, 3}}, 0, false, 0, 0},
        {"the last entry cut short", 2, {}, 1, false, 0, 0},
        {"shorter than a header", 0, {}, 1, false, 0, 0},
        {"a GPU index at its count", 1, {{3, 3}}, 0, false, 0, 0},
        {"a GPU count beyond the slots", 1, {{3, 0}, {4, 17}}, 0, false, 0, 0},
        {"a total below the count", 2, {{8, 0}}, 0, true, 2, 2},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> buffer(kDatagramBufferBytes, 0);
        const int bytes = buildProcessReply(buffer.data(), 1, 42, 2, 3, listOf(c.listed));
        for (const auto& [offset, value] : c.poke) buffer[offset] = value;
        GpuProcessList list{};
        list.count = -7;
        int index = -1, gpus = -1;
        const bool read = readProcessReply(buffer.data(), bytes - c.cut, 42, &list, &index, &gpus);
        EXPECT_EQ(read, c.read) << c.what;
        if (!read) {
            EXPECT_EQ(list.count, -7) << c.what;
            continue;
        }
        EXPECT_EQ(list.count, c.count) << c.what;
        EXPECT_EQ(list.total, c.total) << c.what;
        if (c.count > 0) {
            EXPECT_EQ(list.processes[c.count - 1].pid, 1000u + static_cast<uint32_t>(c.count - 1)) << c.what;
            EXPECT_EQ(list.processes[0].memoryBytes, 0x123456789ull) << c.what;
        }
    }
}

TEST(ProcessReply, ForgedEntriesReadAsSoundFigures) {
    std::vector<uint8_t> buffer(kDatagramBufferBytes, 0);
    const int bytes = buildProcessReply(buffer.data(), 1, 9, 0, 1, listOf(1));
    uint8_t* entry = buffer.data() + kProcessReplyHeaderBytes;
    entry[4] = 0xFF;                     // flags nobody defined
    entry[5] = 250;                      // a share above 100 %
    std::memset(entry + 16, 'A', 64);    // 32 units of U+4141 and no terminator
    entry[16] = 0x1B, entry[17] = 0x00;  // an escape first
    entry[18] = 0x00, entry[19] = 0xDC;  // then a lone low surrogate
    GpuProcessList list{};
    int index = 0, gpus = 0;
    ASSERT_TRUE(readProcessReply(buffer.data(), bytes, 9, &list, &index, &gpus));
    const WireProcess& process = list.processes[0];
    EXPECT_EQ(process.flags, kProcessMemoryKnown | kProcessUnnamed);
    EXPECT_EQ(process.loadPct, 0);
    EXPECT_EQ(text16Length(process.name, kWireProcessNameUnits), 31u);
    EXPECT_EQ(process.name[0], u'?');
    EXPECT_EQ(process.name[1], u'?');
    EXPECT_EQ(process.name[2], u'\u4141');
}

TEST(CleanProcessName, CutsWholeCharactersAndReplacesControls) {
    struct Case {
        std::u16string name;
        std::u16string cleaned;
    };
    const std::u16string longName(40, u'x');
    // A pair that would straddle the cut is left out whole.
    const std::u16string pairAtCut = std::u16string(30, u'x') + u"\U0001F600";
    const Case cases[] = {
        {u"", u""},
        {u"render.exe", u"render.exe"},
        {u"a\tb\u0085c\u007F", u"a?b?c?"},
        {u"\U0001F600.exe", u"\U0001F600.exe"},
        {u"x\xD800y", u"x?y"},
        {longName, std::u16string(31, u'x')},
        {pairAtCut, std::u16string(30, u'x')},
    };
    for (const Case& c : cases) {
        char16_t out[kWireProcessNameUnits];
        cleanProcessName(c.name.c_str(), c.name.size() + 1, out);
        EXPECT_EQ(std::u16string(out), c.cleaned) << toUtf8(c.name.c_str());
        EXPECT_EQ(out[kWireProcessNameUnits - 1], 0);
    }
}

}  // namespace
}  // namespace tarvelon
