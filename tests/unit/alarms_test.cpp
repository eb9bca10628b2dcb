// The alarm decisions tick by tick: one local GPU, and server gpu-box in slot 2 with one GPU.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "panel/alarms.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

TEST(Alarms, NoticesFollowTemperaturesAndServerStatusTickByTick) {
    // The server moves between slots as Move UP/DOWN moves it.
    const auto placeServer = [](int index) {
        clearSlotTable();
        ServerSlot& slot = slotTable[index];
        copyText16(slot.Hostname, kSlotTextUnits, u"gpu-box");
        slot.Port = 8221;
        slot.Active = 1;
        slot.Enabled = 1;
        slot.State = kStateStarted;
    };

    auto list = std::make_unique<PanelList>();
    PanelGroup& local = list->groups[0];
    PanelGroup& remote = list->groups[1];
    local.source = kLocalSource;
    for (PanelGroup* group : {&local, &remote}) {
        group->host = {1, 0, 0, 0, 1, kStatusOk};
        group->gpus[0] = {1, 0, 0, 0, 1, kStatusOk};
    }
    copyText16(local.gpuRecords[0].gpuName, kRecordTextUnits, u"RTX A");
    copyText16(remote.gpuRecords[0].gpuName, kRecordTextUnits, u"RTX B");
    copyText16(remote.hostRecord.hostName, kRecordTextUnits, u"render-01");

    const struct {
        int32_t limit;
        uint8_t localTemp;
        uint8_t remoteTemp;
        int32_t remoteStatus;
        int slot;
        bool serverLostOn;
        const char* notice;  // "title|text", or "" for none
    } ticks[] = {
        {85, 90, 40, kStatusOk, 2, true, ""},  // the limit has not stood two ticks yet
        {85, 90, 40, kStatusOk, 2, true, "GPU temperature|SYSTEM: GPU 0 RTX A at 90 \u00B0C (alarm at 85 \u00B0C)"},
        {85, 95, 40, kStatusOk, 2, true, ""},  // once
        {85, 81, 40, kStatusOk, 2, true, ""},
        {85, 85, 40, kStatusOk, 2, true, ""},  // not 5 below in between
        {85, 80, 40, kStatusOk, 2, true, ""},  // 5 below: armed again
        {85, 85, 86, kStatusOk, 2, true, "GPU temperature|SYSTEM: GPU 0 RTX A at 85 \u00B0C (alarm at 85 \u00B0C)"},
        {85, 85, 86, kStatusOk, 2, true, "GPU temperature|render-01: GPU 0 RTX B at 86 \u00B0C (alarm at 85 \u00B0C)"},
        {85, 85, 86, kStatusOk, 5, true, ""},  // moved to slot 5: still told once only
        {85, 20, 20, kStatusPending, 5, true, ""},
        {85, 20, 20, kStatusNoResponse, 5, true, "Server not answering|gpu-box @ 8221 stopped answering"},
        {85, 20, 99, kStatusNoResponse, 5, true, ""},  // a silent server's last values raise nothing
        {85, 20, 20, kStatusOk, 5, true, "Server answering again|gpu-box @ 8221 answers again"},
        {85, 20, 20, kStatusNoResponse, 5, false, ""},
        {85, 20, 20, kStatusOk, 5, true, ""},  // its loss was not told, so neither is its return
        {8, 20, 20, kStatusOk, 5, true, ""},   // typing 80: "8" is gone before it counts
        {80, 82, 20, kStatusOk, 5, true, ""},  // 85 still holds
        {80, 82, 20, kStatusOk, 5, true, "GPU temperature|SYSTEM: GPU 0 RTX A at 82 \u00B0C (alarm at 80 \u00B0C)"},
    };
    AlarmState state{};
    int tick = 0;
    for (const auto& t : ticks) {
        if (remote.source != t.slot) placeServer(t.slot);
        remote.source = t.slot;
        ServerSlot& slot = slotTable[t.slot];
        local.gpuRecords[0].coreTempC = t.localTemp;
        remote.gpuRecords[0].coreTempC = t.remoteTemp;
        remote.host.status = t.remoteStatus;
        slot.Status = t.remoteStatus;
        AlarmNotice notice{};
        const bool due = nextAlarm(state, *list, t.limit, t.serverLostOn, notice);
        EXPECT_EQ(due ? toUtf8(notice.title) + "|" + toUtf8(notice.text) : "", t.notice) << "tick " << tick;
        ++tick;
    }
    clearSlotTable();
}

}  // namespace
}  // namespace tarvelon
