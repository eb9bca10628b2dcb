// The alarm decisions second by second: one local GPU, and four watched servers a, b, c, d in slots 0
// to 3, the first of them with one GPU shown as render-01.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "panel/alarms.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

int32_t statusOf(char code) {
    switch (code) {
        case 'O':
            return kStatusOk;
        case 'N':
            return kStatusNoResponse;
        case 'S':
            return kStatusSendToError;
        default:
            return kStatusVersionMismatch;
    }
}

TEST(Alarms, NoticesFollowTemperaturesAndServerSilencesSecondBySecond) {
    clearSlotTable();
    const char16_t* names[] = {u"a", u"b", u"c", u"d"};
    for (int i = 0; i < 4; ++i) {
        ServerSlot& slot = slotTable[i];
        copyText16(slot.Hostname, kSlotTextUnits, names[i]);
        slot.Port = i + 1;
        slot.Active = 1;
        slot.Enabled = 1;
        slot.State = kStateStarted;
    }
    auto list = std::make_unique<PanelList>();
    PanelGroup& local = list->groups[0];
    PanelGroup& remote = list->groups[1];
    local.source = kLocalSource;
    remote.source = 0;
    for (PanelGroup* group : {&local, &remote}) {
        group->host = {1, 0, 0, 0, 1, kStatusOk};
        group->gpus[0] = {1, 0, 0, 0, 1, kStatusOk};
    }
    copyText16(local.gpuRecords[0].gpuName, kRecordTextUnits, u"RTX A");
    copyText16(remote.gpuRecords[0].gpuName, kRecordTextUnits, u"RTX B");
    copyText16(remote.hostRecord.hostName, kRecordTextUnits, u"render-01");

    const struct {
        int seconds;
        int32_t limit;
        uint8_t localTemp, remoteTemp;
        const char* statuses;  // slots 0 to 3: O OK, N No Response, S SendTo Error, V Version mismatch
        bool bHighLatency, resume;
        const char* notice;  // "title|text", or "" for none
    } ticks[] = {
        {0, 85, 90, 40, "OOOO", false, false, "GPU temperature|SYSTEM: GPU 0 RTX A at 90 \u00B0C (alarm at 85 \u00B0C)"},
        {1, 85, 95, 40, "OOOO", false, false, ""},  // once
        {2, 90, 95, 40, "OOOO", false, false, "GPU temperature|SYSTEM: GPU 0 RTX A at 95 \u00B0C (alarm at 90 \u00B0C)"},
        {3, 90, 86, 40, "OOOO", false, false, ""},  // not 5 below the new limit
        {4, 90, 85, 40, "OOOO", false, false, ""},  // 5 below: armed again
        {5, 80, 84, 40, "OOOO", false, false, "GPU temperature|SYSTEM: GPU 0 RTX A at 84 \u00B0C (alarm at 80 \u00B0C)"},
        {6, 80, 84, 86, "OOOO", false, false, "GPU temperature|render-01: GPU 0 RTX B at 86 \u00B0C (alarm at 80 \u00B0C)"},
        {10, 0, 20, 99, "NOOO", false, false, ""},  // a missed reply; a silent server's values raise nothing
        {11, 0, 20, 20, "OOOO", false, false, ""},
        {20, 0, 20, 20, "SOOO", false, false, ""},
        {49, 0, 20, 20, "SOOO", false, false, ""},
        {50, 0, 20, 20, "SOOO", false, false, "Server not answering|a @ 1 stopped answering"},
        {51, 0, 20, 20, "VOOO", false, false, ""},
        {60, 0, 20, 20, "OOOO", false, false, "Server answering again|a @ 1 answers again"},
        {100, 0, 20, 20, "ONOO", true, false, ""},
        {130, 0, 20, 20, "ONOO", true, false, ""},  // High Latency: 90 s
        {190, 0, 20, 20, "ONOO", true, false, "Server not answering|b @ 2 stopped answering"},
        {191, 0, 20, 20, "OOOO", true, false, "Server answering again|b @ 2 answers again"},
        {200, 0, 20, 20, "VOOO", false, false, ""},
        {203, 0, 20, 20, "VONO", false, false, ""},
        {230, 0, 20, 20, "VONO", false, false, ""},  // c may follow a: wait for it
        {233, 0, 20, 20, "VONO", false, false, "Servers not answering|a @ 1, c @ 3 stopped answering"},
        {240, 0, 20, 20, "OOOO", false, false, "Servers answering again|a @ 1, c @ 3 answer again"},
        {300, 0, 20, 20, "NNNN", false, false, ""},
        {330, 0, 20, 20, "NNNN", false, false, "Servers not answering|All 4 watched servers stopped answering"},
        {331, 0, 20, 20, "OOOO", false, false, "Servers answering again|a @ 1, b @ 2, c @ 3 and 1 more answer again"},
        {400, 0, 20, 20, "NNNN", false, true, ""},
        {430, 0, 20, 20, "NNNN", false, false, ""},  // a minute of quiet after the resume
        {460, 0, 20, 20, "NNNN", false, false, "Servers not answering|All 4 watched servers stopped answering"},
        {461, 0, 20, 20, "NOOO", false, false, "Servers answering again|b @ 2, c @ 3, d @ 4 answer again"},
    };
    AlarmState state{};
    for (const auto& t : ticks) {
        for (int i = 0; i < 4; ++i) slotTable[i].Status = statusOf(t.statuses[i]);
        slotTable[1].HighLatency = t.bHighLatency ? 1 : 0;
        remote.host.status = slotTable[0].Status;
        local.gpuRecords[0].coreTempC = t.localTemp;
        remote.gpuRecords[0].coreTempC = t.remoteTemp;
        if (t.resume) noteResume(state, t.seconds * 1000);
        AlarmNotice notice{};
        const bool due = nextAlarm(state, *list, t.limit, true, t.seconds * 1000, notice);
        EXPECT_EQ(due ? toUtf8(notice.title) + "|" + toUtf8(notice.text) : "", t.notice) << "second " << t.seconds;
        if (due) {
            EXPECT_EQ(notice.information, std::string(t.notice).find("again") != std::string::npos);
        }
    }
    clearSlotTable();
}

void watch(int slot, const char16_t* host, int32_t port, char status) {
    ServerSlot& s = slotTable[slot];
    copyText16(s.Hostname, kSlotTextUnits, host);
    s.Port = port;
    s.Active = 1;
    s.Enabled = 1;
    s.State = kStateStarted;
    s.Status = statusOf(status);
}

// x entered three times (slots 0-2) goes silent and is announced; its return waits for y, which is
// silent too, while the slots are moved three times and x is added a fourth time. x is still one
// server, announced once each way (entries copied per slot would overrun the pending table); a GPU
// that goes away drops its alarm.
TEST(Alarms, AServerEnteredTwiceAndMovedIsAnnouncedOnce) {
    clearSlotTable();
    auto list = std::make_unique<PanelList>();
    PanelGroup& local = list->groups[0];
    local.source = kLocalSource;
    local.host = {1, 0, 0, 0, 1, kStatusOk};
    local.gpus[0] = {1, 0, 0, 0, 1, kStatusOk};
    local.gpuRecords[0].coreTempC = 90;
    AlarmState state{};
    AlarmNotice notice{};
    std::string notices;
    const auto tick = [&](int seconds) {
        if (nextAlarm(state, *list, 85, true, seconds * 1000, notice)) notices += toUtf8(notice.text) + "|";
    };
    for (int i = 0; i < 3; ++i) watch(i, u"x", 1, 'O');
    watch(3, u"y", 2, 'O');
    watch(4, u"z", 3, 'O');
    tick(0);
    for (int i = 0; i < 3; ++i) slotTable[i].Status = kStatusNoResponse;
    tick(1);
    tick(31);  // x lost
    slotTable[3].Status = kStatusNoResponse;
    tick(32);
    for (int i = 0; i < 3; ++i) slotTable[i].Status = kStatusOk;
    tick(33);  // x back, waiting for y
    for (int second = 34; second < 37; ++second) {
        for (int i = 0; i < 4; ++i) {
            const bool y = i == second - 34;
            watch(i, y ? u"y" : u"x", y ? 2 : 1, y ? 'N' : 'O');
        }
        tick(second);
    }
    watch(5, u"x", 1, 'O');
    tick(37);
    tick(43);
    EXPECT_EQ(
        notices,
        "SYSTEM: GPU 0  at 90 \u00B0C (alarm at 85 \u00B0C)|x @ 1 stopped answering|x @ 1 answers again|");
    EXPECT_TRUE(anyAlarmActive(state));
    local.gpus[0].present = 0;
    tick(37);
    EXPECT_FALSE(anyAlarmActive(state));
    clearSlotTable();
}

}  // namespace
}  // namespace tarvelon
