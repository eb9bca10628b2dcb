#include "net/slot_table.h"

#include <gtest/gtest.h>

#include "platform/text16.h"

namespace tarvelon {
namespace {

TEST(SlotStatusText, FollowsStatusUnlessDeactivated) {
    clearSlotTable();
    ServerSlot& slot = slotTable[0];
    slot.Enabled = 1;
    const char* expected[] = {"Unknown",
                              "Version mismatch (delay 15s)",
                              "No Response (delay 15s)",
                              "OK",
                              "Unresolvable (delay 120s)",
                              "Socket Error (delay 15s)",
                              "SendTo Error (delay 15s)",
                              "Pending",
                              "Removing"};
    for (int status = 0; status <= 8; ++status) {
        slot.Status = status;
        EXPECT_EQ(toUtf8(slotStatusText(slot)), expected[status]);
    }
    for (int status : {-1, 9, 1000}) {
        slot.Status = status;
        EXPECT_EQ(toUtf8(slotStatusText(slot)), "Unknown Status");
    }
    slot.Enabled = 0;
    for (int status : {0, 3, 9}) {
        slot.Status = status;
        EXPECT_EQ(toUtf8(slotStatusText(slot)), "deactivated");
    }
}

TEST(ExchangeSlots, MovesEverythingIncludingRecordsAndAddresses) {
    clearSlotTable();
    ServerSlot& a = slotTable[2];
    a.Active = 1;
    a.Enabled = 1;
    a.State = kStateStarted;
    a.Status = kStatusOk;
    a.Port = 8221;
    copyText16(a.Hostname, kSlotTextUnits, u"gpu-box");
    a.hasAddresses = true;
    a.Addresses.length = 16;
    updateSlotRecords(a, [](HostRecord& host, GpuRecord(&gpus)[kGpuSlots]) {
        host.cpuCount = 8;
        gpus[1].present = 1;
    });

    exchangeSlots(2, 0);

    ServerSlot& moved = slotTable[0];
    EXPECT_EQ(moved.Active, 1);
    EXPECT_EQ(moved.State, kStateStarted);
    EXPECT_EQ(moved.Port, 8221);
    EXPECT_EQ(toUtf8(moved.Hostname), "gpu-box");
    EXPECT_TRUE(moved.hasAddresses);
    EXPECT_EQ(moved.Addresses.length, 16);
    SlotRecords records = readSlotRecords(moved);
    EXPECT_EQ(records.host.cpuCount, 8);
    EXPECT_EQ(records.gpus[1].present, 1);

    EXPECT_EQ(slotTable[2].Active, 0);
    EXPECT_EQ(slotTable[2].Hostname[0], 0);
    EXPECT_FALSE(slotTable[2].hasAddresses);
    clearSlotTable();
}

TEST(TakeSlotRecords, ClearsChangeFlagsOnce) {
    clearSlotTable();
    updateSlotRecords(slotTable[5], [](HostRecord& host, GpuRecord(&gpus)[kGpuSlots]) {
        host.changed = 1;
        gpus[0].changed = 1;
    });
    SlotRecords first{};
    SlotRecords second{};
    const auto takeInto = [](SlotRecords& out) {
        return [&out](const HostRecord& host, const GpuRecord(&gpus)[kGpuSlots]) {
            out.host = host;
            out.gpus[0] = gpus[0];
        };
    };
    takeSlotRecords(slotTable[5], takeInto(first));
    takeSlotRecords(slotTable[5], takeInto(second));
    EXPECT_EQ(first.host.changed, 1);
    EXPECT_EQ(first.gpus[0].changed, 1);
    EXPECT_EQ(second.host.changed, 0);
    EXPECT_EQ(second.gpus[0].changed, 0);
}

}  // namespace
}  // namespace tarvelon
