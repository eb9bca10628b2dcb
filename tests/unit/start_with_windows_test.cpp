// The Run value behind "Start with Windows", natively on the file store.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/store.h"
#include "platform/text16.h"
#include "settings/start_with_windows.h"

namespace tarvelon {
namespace {

constexpr const char16_t* kProgram = u"C:\\Program Files\\Tarvelon\\tarvelon.exe";

TEST(StartWithWindows, ARunCommandNamesTheProgramByItsQuotedOrWholePath) {
    const struct {
        const char16_t* command;
        bool names;
    } cases[] = {
        {u"\"C:\\Program Files\\Tarvelon\\tarvelon.exe\"", true},
        {u"  \"c:\\program files\\TARVELON\\Tarvelon.EXE\" --quiet", true},
        {u"C:\\Program Files\\Tarvelon\\tarvelon.exe  ", true},
        {u"\"C:\\Program Files\\Tarvelon\\tarvelon.exe", true},  // no closing quote
        {u"\"C:\\Program Files\\Tarvelon\\tarvelon.exe.bak\"", false},
        {u"\"C:\\Program Files\\Tarvelon\\tarvelon.ex\"", false},
        {u"\"D:\\Tools\\tarvelon.exe\"", false},  // moved
        {u"C:\\Program Files\\Tarvelon\\tarvelon.exe --quiet", false},
        {u"\"\"", false},
        {u"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(runCommandNames(c.command, kProgram), c.names) << toUtf8(c.command);
}

TEST(StartWithWindows, TheSwitchWritesReadsAndDeletesTheRunValue) {
    char pattern[] = "/tmp/tarvelon-run-XXXXXX";
    setenv("TARVELON_STORE_DIR", mkdtemp(pattern), 1);
    deleteStartWithWindows();
    EXPECT_FALSE(startsWithWindows(kProgram));

    EXPECT_TRUE(setStartWithWindows(kProgram, true));
    StoreKey* key = openUserKey(kRunKeyPath, StoreAccess::Read);
    ASSERT_NE(key, nullptr);
    char16_t stored[128] = {};
    uint32_t size = sizeof stored;
    uint32_t type = 0;
    EXPECT_EQ(readStoreValue(key, u"Tarvelon", stored, &size, &type), StoreStatus::Ok);
    closeUserKey(key);
    EXPECT_EQ(type, 1u);
    EXPECT_EQ(toUtf8(stored), "\"C:\\Program Files\\Tarvelon\\tarvelon.exe\"");
    EXPECT_EQ(size, 2u * (38 + 2 + 1));  // quotes and terminator

    // The program moved: the old value does not count, switching on writes the new path.
    const char16_t* moved = u"D:\\Tools\\tarvelon.exe";
    EXPECT_FALSE(startsWithWindows(moved));
    EXPECT_TRUE(setStartWithWindows(moved, true));
    EXPECT_FALSE(startsWithWindows(kProgram));

    // The Startup tab's "disabled" mark goes with every switch and with the cleanup.
    const auto markStartupDisabled = [] {
        StoreKey* approved = openUserKey(kStartupApprovedKeyPath, StoreAccess::Write);
        const int32_t mark = 3;
        writeStoreValue(approved, u"Tarvelon", StoreType::Dword, &mark, sizeof mark);
        closeUserKey(approved);
    };
    const auto startupDisabled = [] {
        StoreKey* approved = openUserKey(kStartupApprovedKeyPath, StoreAccess::Read);
        int32_t mark = 0;
        uint32_t markSize = sizeof mark;
        uint32_t markType = 0;
        const bool found = approved != nullptr &&
                           readStoreValue(approved, u"Tarvelon", &mark, &markSize, &markType) == StoreStatus::Ok;
        if (approved != nullptr) closeUserKey(approved);
        return found;
    };
    markStartupDisabled();
    EXPECT_TRUE(setStartWithWindows(moved, true));
    EXPECT_FALSE(startupDisabled());
    markStartupDisabled();
    EXPECT_FALSE(setStartWithWindows(moved, false));
    EXPECT_FALSE(startsWithWindows(moved));
    EXPECT_FALSE(startupDisabled());
    setStartWithWindows(kProgram, true);
    markStartupDisabled();
    deleteStartWithWindows();
    EXPECT_FALSE(startsWithWindows(kProgram));
    EXPECT_FALSE(startupDisabled());
    EXPECT_FALSE(setStartWithWindows(std::u16string(kProgramPathChars + 1, u'x').c_str(), true));
}

}  // namespace
}  // namespace tarvelon
