// The process-wide Settings record and its persistence under the current user's key
// Software\Tarvelon\, together with the five stored fields of each server slot.
//
// Integer settings are atomics: the server threads, the sampler and a save on the client manager's
// thread read them while the user-interface thread writes them. The texts are read and written
// through readSettingText/writeSettingText, which hold one lock, so no reader sees half a text.
#pragma once

#include <atomic>
#include <cstdint>

namespace tarvelon {

constexpr int kSettingTextUnits = 128;
// The longest text a setting keeps: saved with its terminator it fills the 254 bytes a load reads.
constexpr int kSettingTextChars = 126;
extern const char16_t kSettingsKeyPath[];  // u"Software\\Tarvelon\\"

struct Settings {
    std::atomic<int32_t> windowPosX;
    std::atomic<int32_t> windowPosY;
    std::atomic<int32_t> layout;
    std::atomic<int32_t> fontsize;
    std::atomic<int32_t> alwaysontop;
    std::atomic<int32_t> networkServerEnabled;
    char16_t networkServerHostname[kSettingTextUnits];
    std::atomic<int32_t> networkServerPort;
    char16_t networkServerListen[kSettingTextUnits];
    std::atomic<int32_t> removeDeadServer;
    std::atomic<int32_t> removeDeactivatedServer;
    std::atomic<int32_t> alarmGpuTempC;    // a shown GPU this hot (degrees C) raises a notification; 0: off
    std::atomic<int32_t> alarmServerLost;  // nonzero: a watched server that stops answering is notified
    char16_t networkServerAllow[kSettingTextUnits];   // who may ask the server; empty: everyone
    char16_t historyLogDirectory[kSettingTextUnits];  // the CSV log's folder; empty: no log
    // Where the history window was last closed, in screen pixels; a width of 0: never opened.
    std::atomic<int32_t> historyWindowX;
    std::atomic<int32_t> historyWindowY;
    std::atomic<int32_t> historyWindowWidth;
    std::atomic<int32_t> historyWindowHeight;
};
static_assert(sizeof(Settings) == 1084);

extern Settings settings;

// Zeroes every field.
void clearSettings();
// Fills the defaults; the window starts with its top-left corner at the middle of the primary screen.
void setDefaultSettings(int32_t primaryScreenWidth, int32_t primaryScreenHeight);

// Copies a text field of settings under the text lock.
void readSettingText(const char16_t (&field)[kSettingTextUnits], char16_t (&out)[kSettingTextUnits]);
// Replaces a text field with at most maxUnits (and at most kSettingTextChars) characters of text,
// terminated, under the text lock.
void writeSettingText(char16_t (&field)[kSettingTextUnits], const char16_t* text,
                      int maxUnits = kSettingTextChars);

// Reads the stored values over the record and the slot table. Nothing stored is trusted: a missing,
// oversize or wrongly typed value leaves its field as it was, and every text stays terminated.
void loadSettings();
// Writes the record and the stored fields of all 64 slots; deletes the values of free slots.
// Failures are silent. Safe to call from two threads at once. Does nothing once the settings have
// been wiped for good.
void saveSettings();
// Deletes the key with all its values.
void deleteSettingsKey();
// The cleanup on the way out: deletes the key, and no save of this process writes it again (a Remove
// the client manager answers late, a move of the window while it goes away).
void wipeSettingsForGood();

}  // namespace tarvelon
