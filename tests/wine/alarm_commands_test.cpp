// reapCommands, which holds the alarm commands to four at once: it frees the place of each process
// that has ended, closing its handle, and counts the others. Events stand in for the processes: a set
// event is an ended process to WaitForSingleObject.
#include <windows.h>

#include <gtest/gtest.h>

#include "panel/alarm_rules_win32.h"

namespace tarvelon {
namespace {

TEST(AlarmCommands, AnEndedCommandFreesItsPlaceAndTheOthersCount) {
    void* processes[kRunningCommands] = {};
    HANDLE events[3];
    for (int i = 0; i < 3; ++i) processes[i] = events[i] = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(reapCommands(processes), 3);
    SetEvent(events[1]);
    EXPECT_EQ(reapCommands(processes), 2);
    EXPECT_EQ(processes[0], events[0]);
    EXPECT_EQ(processes[1], nullptr);
    EXPECT_EQ(processes[2], events[2]);
    SetEvent(events[0]);
    SetEvent(events[2]);
    EXPECT_EQ(reapCommands(processes), 0);
    // Closed by the reaping: the handle no longer names the event.
    EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_FAILED);
}

}  // namespace
}  // namespace tarvelon
