#include "panel/network_setup_win32.h"

#include "net/query_client.h"
#include "net/query_server.h"
#include "panel/dialog_win32.h"
#include "panel/network_setup.h"
#include "platform/clock.h"
#include "resources/resource.h"
#include "settings/settings.h"

namespace tarvelon {

namespace {

constexpr UINT_PTR kStatusTimer = 678;
constexpr UINT kStatusPeriodMs = 1000;
constexpr int kButtonCaptionChars = 99;

HWND dialog;
HWND serverList;
bool controlsUpdating;  // check boxes and edits changed by our own code are not user input
ServerList shownList;   // what the list box holds; too large for the stack

void rebuildServerList() {
    buildServerList(shownList, wallClockSeconds());
    SendMessageW(serverList, LB_RESETCONTENT, 0, 0);
    for (int32_t i = 0; i < shownList.count; ++i) {
        const ServerListLine& line = shownList.lines[i];
        const LRESULT index = SendMessageW(serverList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.text));
        SendMessageW(serverList, LB_SETITEMDATA, static_cast<WPARAM>(index), line.slot);
    }
    SendMessageW(serverList, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(shownList.horizontalExtent), 0);
}

int32_t lineCount() {
    return static_cast<int32_t>(SendMessageW(serverList, LB_GETCOUNT, 0, 0));
}
int32_t selectedLine() {
    return static_cast<int32_t>(SendMessageW(serverList, LB_GETCURSEL, 0, 0));
}

// The slot a line shows, or -1 when the line has no slot index as its item data.
int32_t lineSlot(int32_t line) {
    if (line < 0) return -1;
    const LRESULT data = SendMessageW(serverList, LB_GETITEMDATA, static_cast<WPARAM>(line), 0);
    return isSlotIndex(data) ? static_cast<int32_t>(data) : -1;
}

void enable(int id, bool enabled) {
    EnableWindow(GetDlgItem(dialog, id), enabled ? TRUE : FALSE);
}

void updateNetworkControls() {
    const NetworkControlStates states =
        networkControlStates(isChecked(dialog, IDC_SERVER_ENABLE), lineCount(), selectedLine());
    for (int id : {IDC_SERVER_HOSTNAME, IDC_SERVER_PORT, IDC_SERVER_LISTEN})
        enable(id, states.serverFieldsEnabled);
    for (int id : {IDC_DEACTIVATE, IDC_REMOVE, IDC_SERVER_DETAILS, IDC_HIGH_LATENCY}) {
        enable(id, states.entryControlsEnabled);
    }
    enable(IDC_MOVE_UP, states.moveUpEnabled);
    enable(IDC_MOVE_DOWN, states.moveDownEnabled);
}

void refreshList() {
    rebuildServerList();
    updateNetworkControls();
}

void showError(const DialogMessage& message) {
    if (message.caption != nullptr) showDialogBox(dialog, message.text, message.caption, MB_ICONERROR);
}

void fillServerControls() {
    char16_t text[kSettingTextUnits];
    setChecked(dialog, IDC_SERVER_ENABLE, settings.networkServerEnabled.load() != 0);
    readSettingText(settings.networkServerHostname, text);
    setControlText(dialog, IDC_SERVER_HOSTNAME, text);
    setControlNumber(dialog, IDC_SERVER_PORT, settings.networkServerPort.load());
    readSettingText(settings.networkServerListen, text);
    setControlText(dialog, IDC_SERVER_LISTEN, text);
    readSettingText(settings.networkServerAllow, text);
    setControlText(dialog, IDC_SERVER_ALLOW, text);
    setChecked(dialog, IDC_REMOVE_DEAD, settings.removeDeadServer.load() != 0);
    setChecked(dialog, IDC_REMOVE_DEACTIVATED, settings.removeDeactivatedServer.load() != 0);
}

void serverSwitchClicked() {
    if (controlsUpdating) return;
    char16_t hostname[kSettingTextUnits];
    char16_t port[kServerPortFieldChars + 1];
    char16_t listen[kSettingTextUnits];
    getControlText(dialog, IDC_SERVER_HOSTNAME, hostname, kSettingTextUnits - 1);
    getControlText(dialog, IDC_SERVER_PORT, port, kServerPortFieldChars);
    getControlText(dialog, IDC_SERVER_LISTEN, listen, kSettingTextUnits - 1);
    const bool switchedOn = isChecked(dialog, IDC_SERVER_ENABLE);
    const ServerSwitchOutcome outcome = switchServer(switchedOn, hostname, port, listen);
    controlsUpdating = true;
    if (outcome.refused) {
        setChecked(dialog, IDC_SERVER_ENABLE, false);
    } else if (switchedOn) {
        setControlNumber(dialog, IDC_SERVER_PORT, outcome.port);
    }
    controlsUpdating = false;
    if (outcome.refused) {
        showError(outcome.message);
        return;
    }
    updateNetworkControls();
}

// Taken when the field is left, so a list half typed is never judged.
void allowListLeft() {
    char16_t text[kServerTextFieldChars + 1];
    getControlText(dialog, IDC_SERVER_ALLOW, text, kServerTextFieldChars);
    showError(storeServerAllowList(text));
}

void addClicked() {
    char16_t address[kAddFieldChars + 1];
    char16_t port[kAddFieldChars + 1];
    getControlText(dialog, IDC_ADD_ADDRESS, address, kAddFieldChars);
    getControlText(dialog, IDC_ADD_PORT, port, kAddFieldChars);
    const AddOutcome outcome = addServerEntry(address, port);
    if (outcome.slot < 0) {
        showError(outcome.message);
        return;
    }
    refreshList();
}

void selectionChanged() {
    updateNetworkControls();
    const int32_t slot = lineSlot(selectedLine());
    if (slot < 0) return;
    controlsUpdating = true;
    setChecked(dialog, IDC_DEACTIVATE, slotTable[slot].Enabled.load() == 0);
    setChecked(dialog, IDC_HIGH_LATENCY, slotTable[slot].HighLatency.load() != 0);
    controlsUpdating = false;
}

void entrySwitchClicked(int id) {
    if (controlsUpdating) return;
    const int32_t slot = lineSlot(selectedLine());
    if (slot < 0) return;
    if (id == IDC_DEACTIVATE) {
        setEntryDeactivated(slot, isChecked(dialog, IDC_DEACTIVATE));
    } else {
        setEntryHighLatency(slot, isChecked(dialog, IDC_HIGH_LATENCY));
    }
    refreshList();
}

void removeClicked() {
    const int32_t slot = lineSlot(selectedLine());
    if (slot < 0) return;
    const HWND button = GetDlgItem(dialog, IDC_REMOVE);
    wchar_t caption[kButtonCaptionChars + 1] = {};
    GetWindowTextW(button, caption, kButtonCaptionChars + 1);
    SetWindowTextW(button, L"REMOVING ... PLEASE WAIT");
    UpdateWindow(button);  // the wait below keeps the message loop from painting it
    const DialogMessage message = removeServerEntry(slot);
    SetWindowTextW(button, caption);
    refreshList();
    showError(message);
}

void moveClicked(MoveDirection direction) {
    const int32_t selected = selectedLine();
    const int32_t partner = movePartnerLine(lineCount(), selected, direction);
    if (partner < 0) return;
    const int32_t slot = lineSlot(selected);
    const int32_t partnerSlot = lineSlot(partner);
    if (slot < 0 || partnerSlot < 0) return;
    const DialogMessage message = moveServerEntries(slot, partnerSlot);
    refreshList();
    showError(message);
}

void detailsClicked() {
    const int32_t slot = lineSlot(selectedLine());
    if (slot >= 0)
        showDialogBox(dialog, slotDetailsText(slot), u"Network Server Details", MB_ICONINFORMATION);
}

void documentationClicked() {
    char16_t error[kDocumentationErrorUnits];
    if (!openDocumentation(openWebAddress, error)) {
        showDialogBox(nullptr, error, kDocumentationErrorCaption, MB_ICONERROR);
    }
}

void command(int id, int notification) {
    if (id == IDC_SERVER_LIST) {
        if (notification == LBN_SELCHANGE) selectionChanged();
        return;
    }
    if (id == IDC_SERVER_ALLOW) {
        if (notification == EN_KILLFOCUS && !controlsUpdating) allowListLeft();
        return;
    }
    if (notification != BN_CLICKED) return;
    switch (id) {
        case IDOK:
        case IDCANCEL:  // Escape, Alt+F4
            ShowWindow(dialog, SW_HIDE);
            break;
        case IDC_SERVER_ENABLE:
            serverSwitchClicked();
            break;
        case IDC_ADD:
            addClicked();
            break;
        case IDC_DEACTIVATE:
        case IDC_HIGH_LATENCY:
            entrySwitchClicked(id);
            break;
        case IDC_REMOVE:
            removeClicked();
            break;
        case IDC_MOVE_UP:
            moveClicked(MoveDirection::Up);
            break;
        case IDC_MOVE_DOWN:
            moveClicked(MoveDirection::Down);
            break;
        case IDC_REMOVE_DEAD:
            setRemoveDeadServer(isChecked(dialog, IDC_REMOVE_DEAD));
            break;
        case IDC_REMOVE_DEACTIVATED:
            setRemoveDeactivatedServer(isChecked(dialog, IDC_REMOVE_DEACTIVATED));
            break;
        case IDC_SERVER_STATUS_BUTTON:
            showDialogBox(dialog, serverStatusReport(), u"Network Server Status", MB_ICONINFORMATION);
            break;
        case IDC_SERVER_DETAILS:
            detailsClicked();
            break;
        case IDC_REFRESH:
            refreshList();
            break;
        case IDC_DOCUMENTATION:
            documentationClicked();
            break;
    }
}

void refreshStatus() {
    answerLateStopAll();
    // Until the dialog is first shown its status fields keep their template text.
    if (!IsWindowVisible(dialog)) return;
    setControlText(dialog, IDC_SERVER_STATE, serverStateName());
    setControlText(dialog, IDC_SERVER_UPTIME, serverUptimeText());
    char16_t counts[64];
    formatQueryCounts(counts, requestCountIPv4.load(), requestCountIPv6.load());
    setControlText(dialog, IDC_SERVER_QUERIES, counts);
}

INT_PTR CALLBACK networkSetupProcedure(HWND, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
            command(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_TIMER:
            if (wParam == kStatusTimer) refreshStatus();
            return TRUE;
    }
    return FALSE;
}

}  // namespace

HWND createNetworkSetup(HINSTANCE instance) {
    dialog =
        CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_NETWORK_SETUP), nullptr, networkSetupProcedure, 0);
    if (dialog == nullptr) return nullptr;
    serverList = GetDlgItem(dialog, IDC_SERVER_LIST);
    controlsUpdating = true;
    fillServerControls();
    refreshList();
    controlsUpdating = false;
    SetTimer(dialog, kStatusTimer, kStatusPeriodMs, nullptr);
    return dialog;
}

void showNetworkSetup() {
    if (dialog == nullptr) return;
    rebuildServerList();
    showDialogAtCursor(dialog);
}

}  // namespace tarvelon
