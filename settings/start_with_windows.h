// "Start with Windows": the value Tarvelon under the current user's Run key, which Windows reads at
// logon, holds this program's full path in double quotes while the switch is on.
#pragma once

namespace tarvelon {

extern const char16_t kRunKeyPath[];    // u"Software\\Microsoft\\Windows\\CurrentVersion\\Run"
extern const char16_t kRunValueName[];  // u"Tarvelon"
// Task Manager's Startup tab keeps its "disabled" mark here, under the same value name.
extern const char16_t kStartupApprovedKeyPath[];  // u"Software\\...\\Explorer\\StartupApproved\\Run"
// Longest program path handled; a longer one leaves the switch off and unchangeable.
constexpr int kProgramPathChars = 1024;

// True when a Run command starts programPath: its first double-quoted part, or the whole command when
// it has no quotes, is that path, compared without regard to case as Windows compares file names.
bool runCommandNames(const char16_t* command, const char16_t* programPath);

// True when the stored value exists and names programPath; false for a program that was moved since.
bool startsWithWindows(const char16_t* programPath);
// On: writes "programPath" (quoted). Off: deletes the value. Either way the Startup tab's mark goes, so
// a box checked here is not left disabled there. Returns what startsWithWindows reads back.
bool setStartWithWindows(const char16_t* programPath, bool on);
// Deletes the value, whatever program it names, and its Startup tab mark.
void deleteStartWithWindows();

}  // namespace tarvelon
