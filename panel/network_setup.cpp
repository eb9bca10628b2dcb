#include "panel/network_setup.h"

#include <cstring>

#include "panel/about.h"
#include "panel/decimal_text.h"
#include "net/allow_list.h"
#include "net/query_server.h"
#include "platform/clock.h"
#include "platform/text16.h"
#include "settings/settings.h"

namespace tarvelon {

const char16_t kDocumentationErrorCaption[] = u"Error open the PDF";

namespace {

constexpr DialogMessage kNoMessage{nullptr, nullptr};
constexpr DialogMessage kServerPortError{u"Server Port Error",
                                         u"The server port must between 1024 and 65535"};
constexpr DialogMessage kDataMissing{u"Data Missing", u"Address or Port is empty, this is not allow :-)"};
constexpr DialogMessage kPortFailure{u"Port Failure", u"The port number must be between 1024 and 65535"};
constexpr DialogMessage kNoMoreSpace{u"No more space", u"There is no more server slots free"};
constexpr DialogMessage kRemoveNotAnswered{
    u"Client Manager Busy",
    u"The client manager does not answer in time, so the entry is still in the list.\r\n"
    u"It is removed as soon as the client manager is free again, press Refresh to see it."};
constexpr DialogMessage kMoveNotStarted{
    u"Client Manager Busy",
    u"The client manager does not answer in time, so the entry was not moved.\r\nPlease try again later."};
constexpr DialogMessage kMoveRestartLate{
    u"Client Manager Busy",
    u"The entries are moved, but the client manager does not answer in time.\r\n"
    u"The queries to the servers start again as soon as it is free."};

constexpr uint32_t kRemovePollMs = 50;
constexpr uint32_t kMovePollMs = 10;

// The text as the dialog reads it from a field of `chars` characters.
template <int chars>
struct FieldText {
    explicit FieldText(const char16_t* text) { copyText16(units, chars + 1, text); }
    char16_t units[chars + 1];
};

// Polls until done() holds or waitLimitMs have passed; true when done() held.
template <class Done>
bool waitFor(Done&& done, uint32_t pollMs, uint32_t waitLimitMs) {
    const uint64_t start = tickCountMs();
    for (;;) {
        if (done()) return true;
        if (tickCountMs() - start >= waitLimitMs) return done();
        sleepMs(pollMs);
    }
}

bool slotInRange(int32_t slot) {
    return slot >= 0 && slot < kServerSlots;
}

}  // namespace

bool serverPortAccepted(int32_t port) {
    return port >= kServerPortMin && port <= kServerPortMax;
}

ServerSwitchOutcome switchServer(bool switchedOn, const char16_t* hostname, const char16_t* portText,
                                 const char16_t* listen) {
    const int32_t port = parseDecimal(FieldText<kServerPortFieldChars>(portText).units);
    if (switchedOn && !serverPortAccepted(port)) return {true, port, kServerPortError};
    writeSettingText(settings.networkServerHostname, hostname, kServerTextFieldChars);
    settings.networkServerPort.store(port);
    writeSettingText(settings.networkServerListen, listen, kServerTextFieldChars);
    settings.networkServerEnabled.store(switchedOn ? 1 : 0);
    saveSettings();
    return {false, port, kNoMessage};
}

DialogMessage storeServerAllowList(const char16_t* text) {
    static char16_t message[kServerLineUnits];
    const FieldText<kServerTextFieldChars> field(text);
    AllowList list{};
    const char16_t* bad = nullptr;
    if (!parseAllowList(field.units, &list, &bad)) {
        char16_t entry[kServerTextFieldChars + 1];
        int length = 0;
        while (bad[length] != 0 && bad[length] != u',' && length < kServerTextFieldChars) {
            entry[length] = bad[length];
            ++length;
        }
        while (length > 0 && (entry[length - 1] == u' ' || entry[length - 1] == u'\t')) --length;
        entry[length] = 0;
        format16(message, kServerLineUnits,
                 u"\"%s\" is not an address or a network such as 192.168.1.0/24 or fd00::/8. Separate them "
                 u"with commas; leave the field empty to answer everyone.",
                 entry);
        return {u"Allow List Error", message};
    }
    writeSettingText(settings.networkServerAllow, field.units, kServerTextFieldChars);
    saveSettings();
    setServerAllowList(list);
    return kNoMessage;
}

void formatServerLine(char16_t (&line)[kServerLineUnits], int32_t slot, int64_t now) {
    const ServerSlot& entry = slotTable[slot];
    // Narrowed to 32 bits by keeping the low bits, as every number on the dialog.
    const auto sinceQuery =
        static_cast<int32_t>(static_cast<uint32_t>(secondsSince(entry.LastQueryTime.load(), now)));
    const auto latency = static_cast<int32_t>(entry.LatencyMs.load());
    format16(line, kServerLineUnits, u"#%02d %s @ %d > %s [%d|%d]", slot, entry.Hostname, entry.Port,
             slotStatusText(entry), sinceQuery, latency);
}

void buildServerList(ServerList& list, int64_t now) {
    list.count = 0;
    size_t longest = 0;
    for (int32_t slot = 0; slot < kServerSlots; ++slot) {
        if (slotTable[slot].Active.load() == 0) continue;
        ServerListLine& line = list.lines[list.count++];
        line.slot = slot;
        formatServerLine(line.text, slot, now);
        const size_t length = text16Length(line.text, kServerLineUnits);
        if (length > longest) longest = length;
    }
    list.horizontalExtent = static_cast<int32_t>(6 * longest + 2);
}

NetworkControlStates networkControlStates(bool serverSwitchedOn, int32_t lineCount, int32_t selectedLine) {
    NetworkControlStates states{!serverSwitchedOn, false, false, false};
    if (selectedLine < 0 || selectedLine >= lineCount) return states;
    states.entryControlsEnabled = true;
    if (lineCount > 1) {
        states.moveUpEnabled = selectedLine != 0;
        states.moveDownEnabled = selectedLine != lineCount - 1;
    }
    return states;
}

bool isSlotIndex(int64_t itemData) {
    return itemData >= 0 && itemData < kServerSlots;
}

AddOutcome addServerEntry(const char16_t* address, const char16_t* portText) {
    const FieldText<kAddFieldChars> host(address);
    const FieldText<kAddFieldChars> portField(portText);
    if (host.units[0] == 0 || portField.units[0] == 0) return {-1, kDataMissing};
    const int32_t port = parseDecimal(portField.units);
    if (!serverPortAccepted(port)) return {-1, kPortFailure};
    int32_t slot = 0;
    while (slot < kServerSlots && slotTable[slot].Active.load() != 0) ++slot;
    if (slot == kServerSlots) return {-1, kNoMoreSpace};

    // A free slot has no poll thread, so its fields are the dialog's to write until State says go.
    ServerSlot& entry = slotTable[slot];
    entry.HighLatency.store(0);
    entry.LatencyMs.store(0);
    entry.Status.store(kStatusUnknown);
    entry.LastQueryTime.store(0);
    updateSlotRecords(entry, [](HostRecord& hostRecord, GpuRecord(&gpus)[kGpuSlots]) {
        std::memset(&hostRecord, 0, sizeof hostRecord);
        std::memset(gpus, 0, sizeof gpus);
    });
    std::memset(entry.Hostname, 0, sizeof entry.Hostname);
    copyText16(entry.Hostname, kSlotTextUnits, host.units);
    entry.Port = port;
    entry.Enabled.store(1);
    entry.Active.store(1);
    entry.State.store(kStateStartEnabled);
    saveSettings();
    return {slot, kNoMessage};
}

bool setEntryDeactivated(int32_t slot, bool deactivated) {
    if (!slotInRange(slot)) return false;
    slotTable[slot].Enabled.store(deactivated ? 0 : 1);
    saveSettings();
    return true;
}

bool setEntryHighLatency(int32_t slot, bool highLatency) {
    if (!slotInRange(slot)) return false;
    slotTable[slot].HighLatency.store(highLatency ? 1 : 0);
    saveSettings();
    return true;
}

DialogMessage removeServerEntry(int32_t slot, uint32_t waitLimitMs) {
    if (!slotInRange(slot)) return kNoMessage;
    ServerSlot& entry = slotTable[slot];
    entry.State.store(kStateRemoveRequest);
    // Taking the request back would race with a manager that has just begun it, so an unanswered
    // request is left standing.
    if (!waitFor([&] { return entry.State.load() != kStateRemoveRequest; }, kRemovePollMs, waitLimitMs)) {
        return kRemoveNotAnswered;
    }
    saveSettings();
    return kNoMessage;
}

int32_t movePartnerLine(int32_t lineCount, int32_t selectedLine, MoveDirection direction) {
    if (lineCount < 2 || selectedLine < 0 || selectedLine >= lineCount) return -1;
    const int32_t partner = direction == MoveDirection::Up ? selectedLine - 1 : selectedLine + 1;
    if (partner < 0 || partner >= lineCount) return -1;
    return partner;
}

DialogMessage moveServerEntries(int32_t slotA, int32_t slotB, uint32_t waitLimitMs) {
    if (!slotInRange(slotA) || !slotInRange(slotB) || slotA == slotB) return kNoMessage;
    slotTableCommand.store(kCommandStopAll);
    if (!waitFor([] { return slotTableCommand.load() == kCommandStopped; }, kMovePollMs, waitLimitMs)) {
        // Withdraw the request only if the manager has still not answered it; if it answers later
        // anyway, answerLateStopAll restarts the poll threads.
        int32_t expected = kCommandStopAll;
        if (slotTableCommand.compare_exchange_strong(expected, kCommandNone)) return kMoveNotStarted;
    }
    exchangeSlots(slotA, slotB);
    const auto markChanged = [](HostRecord& host, GpuRecord(&)[kGpuSlots]) { host.changed = 1; };
    updateSlotRecords(slotTable[slotA], markChanged);
    updateSlotRecords(slotTable[slotB], markChanged);
    slotTableCommand.store(kCommandRestart);
    const bool restarted =
        waitFor([] { return slotTableCommand.load() == kCommandNone; }, kMovePollMs, waitLimitMs);
    saveSettings();
    return restarted ? kNoMessage : kMoveRestartLate;
}

void answerLateStopAll() {
    int32_t expected = kCommandStopped;
    slotTableCommand.compare_exchange_strong(expected, kCommandRestart);
}

void setRemoveDeadServer(bool on) {
    settings.removeDeadServer.store(on ? 1 : 0);
    saveSettings();
}

void setRemoveDeactivatedServer(bool on) {
    settings.removeDeactivatedServer.store(on ? 1 : 0);
    saveSettings();
}

bool openDocumentation(bool (*openAddress)(const char16_t* address),
                       char16_t (&errorText)[kDocumentationErrorUnits]) {
    if (openAddress(kDocumentationAddress) || openAddress(kHomePageAddress)) return true;
    format16(
        errorText, kDocumentationErrorUnits,
        u"I try to use ShellExecute function to show you the PDF file. But this fails. Please open a web "
        u"browser and go to the url\r\n%s\r\nand read it from there",
        kHomePageAddress);
    return false;
}

void formatQueryCounts(char16_t (&text)[64], uint64_t ipv4, uint64_t ipv6) {
    format16(text, 64, u"%I64u / %I64u", ipv4, ipv6);
}

}  // namespace tarvelon
