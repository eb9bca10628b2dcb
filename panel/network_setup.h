// The rules of the Network Setup dialog: the server switch and its port check, the list of remote
// servers (its lines, width and which buttons a selection allows), adding, deactivating, removing and
// moving entries with the client manager's handshakes, the display filters, the documentation link and
// the status texts. The dialog procedure only moves text between its controls and these functions.
//
// Everything here runs on the user-interface thread. Removing and moving block it while the client
// manager answers, at most waitLimitMs each; an answer that does not come is reported, never guessed.
#pragma once

#include <cstdint>

#include "net/slot_table.h"

namespace tarvelon {

constexpr int32_t kServerPortMin = 1024;
constexpr int32_t kServerPortMax = 65535;
constexpr uint32_t kHandshakeWaitMs = 5000;

// Characters the dialog reads from its fields.
constexpr int kServerPortFieldChars = 127;  // 1015
constexpr int kServerTextFieldChars = 125;  // 1028, 1016, as stored
constexpr int kAddFieldChars = 194;         // 1017, 1018

// A message box to show: caption and text, error icon. Nothing to show when caption is null.
struct DialogMessage {
    const char16_t* caption;
    const char16_t* text;
};

bool serverPortAccepted(int32_t port);

// --- server switch (1014)

struct ServerSwitchOutcome {
    bool refused;           // switch must be unchecked again; nothing was stored
    int32_t port;           // the parsed port, written back into the port field when switched on
    DialogMessage message;  // "Server Port Error" when refused
};

// Switching on checks the port first. An accepted change copies the three server fields and the
// switch into Settings and saves; switching off stores whatever the port field parses to.
ServerSwitchOutcome switchServer(bool switchedOn, const char16_t* hostname, const char16_t* portText,
                                 const char16_t* listen);

// --- who may ask the server (1039)

// An accepted list is stored, saved and in force at once; a malformed one changes nothing and the
// message ("Allow List Error") names the entry to mend. For the user-interface thread only: the
// message's text lives in a static buffer.
DialogMessage storeServerAllowList(const char16_t* text);

// --- the server list (1020)

constexpr int kServerLineUnits = 256;

struct ServerListLine {
    int32_t slot;
    char16_t text[kServerLineUnits];
};

// One line per slot with Active set, in slot order; horizontalExtent in pixels for the list box.
struct ServerList {
    int32_t count;
    ServerListLine lines[kServerSlots];
    int32_t horizontalExtent;
};

// "#%02d %s @ %d > %s [%d|%d]": index, host, port, status text, seconds since the last query, latency.
void formatServerLine(char16_t (&line)[kServerLineUnits], int32_t slot, int64_t now);
void buildServerList(ServerList& list, int64_t now);

// Which controls a state of the dialog allows. selectedLine is -1 when no line is selected.
struct NetworkControlStates {
    bool serverFieldsEnabled;   // 1028, 1015, 1016: only while the server is switched off
    bool entryControlsEnabled;  // 1022, 1023, 1030, 1036
    bool moveUpEnabled;         // 1024
    bool moveDownEnabled;       // 1025
};
NetworkControlStates networkControlStates(bool serverSwitchedOn, int32_t lineCount, int32_t selectedLine);

// An item datum that names a slot.
bool isSlotIndex(int64_t itemData);

// --- entries

struct AddOutcome {
    int32_t slot;  // -1 when refused
    DialogMessage message;
};

// Puts a server into the lowest free slot, starting it fresh (no latency, records or high-latency
// switch left over from an earlier entry of that slot), asks the client manager to start it and saves.
AddOutcome addServerEntry(const char16_t* address, const char16_t* portText);

// "Temporary deactivate this entry" and "Enable very high latency": store and save. False when slot is
// not a slot index.
bool setEntryDeactivated(int32_t slot, bool deactivated);
bool setEntryHighLatency(int32_t slot, bool highLatency);

// Asks the client manager to remove the slot (State 7) and waits for its answer. Answered: saves and
// shows nothing. Not answered in time: the request stays with the manager, which carries it out when
// it is free again (it saves then itself); the entry stays in the list meanwhile.
DialogMessage removeServerEntry(int32_t slot, uint32_t waitLimitMs = kHandshakeWaitMs);

enum class MoveDirection { Up, Down };

// The line the selected line exchanges places with, or -1 when that move is not allowed.
int32_t movePartnerLine(int32_t lineCount, int32_t selectedLine, MoveDirection direction);

// Exchanges two whole slots while the client manager has stopped every poll thread, marks both hosts
// changed so the panel lays them out again, lets the manager restart the poll threads and saves.
// If the manager does not stop the threads in time nothing is exchanged; if it does not confirm the
// restart in time the exchange stands and the restart happens when the manager gets to it.
DialogMessage moveServerEntries(int32_t slotA, int32_t slotB, uint32_t waitLimitMs = kHandshakeWaitMs);

// A stop-all answered only after the dialog gave up waiting leaves the manager idle with every poll
// thread stopped; this answers such a late 2 with the restart request. Called every dialog tick.
void answerLateStopAll();

// --- display filters (1026, 1027): store and save.

void setRemoveDeadServer(bool on);
void setRemoveDeactivatedServer(bool on);

// --- documentation (1038)

extern const char16_t kDocumentationErrorCaption[];  // "Error open the PDF"
constexpr int kDocumentationErrorUnits = 512;

// Opens the documentation, else the home page, through openAddress (true on success). False when
// neither opened, with the error box's text in errorText.
bool openDocumentation(bool (*openAddress)(const char16_t* address),
                       char16_t (&errorText)[kDocumentationErrorUnits]);

// --- status fields (1034)

void formatQueryCounts(char16_t (&text)[64], uint64_t ipv4, uint64_t ipv6);

}  // namespace tarvelon
