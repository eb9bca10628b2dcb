// Both setup dialogs built from the program's own resources, driven through their messages as a person
// would drive them: texts typed into fields, buttons clicked, lines selected. Message boxes and the
// shell are answered by the test; the client manager is a small thread of the test's own.
#include <gtest/gtest.h>
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <winver.h>
// clang-format on

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "net/slot_table.h"
#include "panel/about.h"
#include "panel/dialog_win32.h"
#include "panel/general_setup_win32.h"
#include "panel/network_setup_win32.h"
#include "platform/clock.h"
#include "platform/store.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "tarvelon_version.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

struct Box {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};
std::vector<Box> boxes;

int recordBox(HWND owner, const char16_t* text, const char16_t* caption, UINT type) {
    boxes.push_back({owner, toUtf8(text), toUtf8(caption), type});
    return IDOK;
}

std::vector<std::string> openedAddresses;
bool shellAccepts = true;

bool recordOpen(const char16_t* address) {
    openedAddresses.push_back(toUtf8(address));
    return shellAccepts;
}

// The panel window as the dialogs see it: it records the messages meant for it.
struct PanelLog {
    std::vector<WPARAM> fontSizes;
    std::vector<WPARAM> onTop;
    int destroys = 0;
} panelLog;

LRESULT CALLBACK panelProbe(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_USER:
            panelLog.fontSizes.push_back(wParam);
            return 0;
        case WM_USER + 1:
            panelLog.onTop.push_back(wParam);
            return 0;
        case WM_DESTROY:
            ++panelLog.destroys;
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND panel;
HWND general;
HWND network;

HWND createPanelProbe() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = panelProbe;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TarvelonPanelProbe";
    RegisterClassExW(&windowClass);
    return CreateWindowExW(WS_EX_TOOLWINDOW, L"TarvelonPanelProbe", L"", WS_POPUP, 150, 120, 200, 100,
                           nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

void resetSharedState() {
    clearSettings();
    clearSlotTable();
    setDefaultSettings(1280, 1024);
}

std::string text(HWND dialog, int id) {
    wchar_t buffer[512] = {};
    GetDlgItemTextW(dialog, id, buffer, 512);
    return toUtf8(reinterpret_cast<const char16_t*>(buffer));
}

void type(HWND dialog, int id, const char16_t* value) {
    SetDlgItemTextW(dialog, id, reinterpret_cast<const wchar_t*>(value));
}

// A click: an auto check box changes its mark first, then the dialog hears BN_CLICKED.
void click(HWND dialog, int id) {
    const HWND control = GetDlgItem(dialog, id);
    const LONG style = GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK;
    if (style == BS_AUTOCHECKBOX) {
        CheckDlgButton(dialog, id,
                       IsDlgButtonChecked(dialog, id) == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
    }
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
}

bool enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}
bool checked(HWND dialog, int id) {
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

class DialogsEnvironment : public testing::Environment {
  public:
    void SetUp() override {
        deleteSettingsKey();
        resetSharedState();
        settings.networkServerEnabled = 1;
        settings.networkServerPort = 29831;
        writeSettingText(settings.networkServerHostname, u"render-farm");
        settings.removeDeactivatedServer = 1;
        showDialogBox = recordBox;
        openWebAddress = recordOpen;
        panel = createPanelProbe();
        general = createGeneralSetup(GetModuleHandleW(nullptr), panel, 14);
        network = createNetworkSetup(GetModuleHandleW(nullptr));
    }
    void TearDown() override { deleteSettingsKey(); }
};
const auto* const environment = testing::AddGlobalTestEnvironment(new DialogsEnvironment);

// ---------------------------------------------------------------- General Setup

TEST(GeneralSetupDialog, IsCreatedHiddenFromItsTemplateAndFilled) {
    ASSERT_NE(general, nullptr);
    EXPECT_FALSE(IsWindowVisible(general));
    wchar_t caption[64];
    GetWindowTextW(general, caption, 64);
    EXPECT_EQ(toUtf8(reinterpret_cast<char16_t*>(caption)), "General Setup");
    const LONG style = GetWindowLongW(general, GWL_STYLE);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    EXPECT_EQ(style & WS_SYSMENU, 0);
    EXPECT_NE(GetWindowLongW(general, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0);

    EXPECT_EQ(text(general, IDC_FONT_DEFAULT), "Default 12px");
    EXPECT_EQ(text(general, IDC_ALWAYS_ON_TOP), "Always On Top");
    EXPECT_EQ(text(general, IDC_START_WITH_WINDOWS), "Start with Windows");
    EXPECT_EQ(text(general, IDC_CLEANUP), "Cleanup registry, reset to Super Defaults and immediate Exit");
    EXPECT_EQ(text(general, IDOK), "OK");
    EXPECT_EQ(text(general, IDC_FONT_SIZE), "14");
    EXPECT_EQ(text(general, IDC_WINDOW_X), "150");
    EXPECT_EQ(text(general, IDC_WINDOW_Y), "120");
    const HWND slider = GetDlgItem(general, IDC_FONT_SLIDER);
    EXPECT_EQ(SendMessageW(slider, TBM_GETRANGEMIN, 0, 0), 2);
    EXPECT_EQ(SendMessageW(slider, TBM_GETRANGEMAX, 0, 0), 48);
    EXPECT_EQ(SendMessageW(slider, TBM_GETPOS, 0, 0), 14);
    EXPECT_TRUE(panelLog.fontSizes.empty());  // filling is not typing
}

TEST(GeneralSetupDialog, TypingAFontSizeSendsEachValueLimitedToTheSliderRange) {
    panelLog.fontSizes.clear();
    for (const char16_t* typed : {u"1", u"10", u"100", u""}) type(general, IDC_FONT_SIZE, typed);
    EXPECT_EQ(panelLog.fontSizes, (std::vector<WPARAM>{2, 10, 48, 2}));
    type(general, IDC_FONT_SIZE, u"20");
    EXPECT_EQ(panelLog.fontSizes.back(), 20u);
    EXPECT_EQ(SendMessageW(GetDlgItem(general, IDC_FONT_SLIDER), TBM_GETPOS, 0, 0), 20);
}

TEST(GeneralSetupDialog, SliderAndDefaultButtonSendTheSizeAndRefillTheFields) {
    const HWND slider = GetDlgItem(general, IDC_FONT_SLIDER);
    panelLog.fontSizes.clear();
    SendMessageW(slider, TBM_SETPOS, TRUE, 31);
    SendMessageW(general, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 31), reinterpret_cast<LPARAM>(slider));
    EXPECT_EQ(panelLog.fontSizes, std::vector<WPARAM>{31});
    EXPECT_EQ(text(general, IDC_FONT_SIZE), "31");

    SetWindowPos(panel, nullptr, 321, 234, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    click(general, IDC_FONT_DEFAULT);
    EXPECT_EQ(panelLog.fontSizes.back(), 12u);
    EXPECT_EQ(panelLog.fontSizes.size(), 2u);
    EXPECT_EQ(text(general, IDC_FONT_SIZE), "12");
    EXPECT_EQ(SendMessageW(slider, TBM_GETPOS, 0, 0), 12);
    EXPECT_EQ(text(general, IDC_WINDOW_X), "321");
    EXPECT_EQ(text(general, IDC_WINDOW_Y), "234");
}

TEST(GeneralSetupDialog, TypedCoordinatesMoveThePanel) {
    SetWindowPos(panel, nullptr, 150, 120, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    type(general, IDC_WINDOW_Y, u"120");
    type(general, IDC_WINDOW_X, u"-40");
    RECT frame;
    GetWindowRect(panel, &frame);
    EXPECT_EQ(frame.left, -40);
    EXPECT_EQ(frame.top, 120);
    EXPECT_EQ(frame.right - frame.left, 200);  // size kept
    type(general, IDC_WINDOW_Y, u"77px");
    GetWindowRect(panel, &frame);
    EXPECT_EQ(frame.top, 77);
}

TEST(GeneralSetupDialog, AlwaysOnTopIsStoredAndSentToThePanel) {
    panelLog.onTop.clear();
    click(general, IDC_ALWAYS_ON_TOP);
    EXPECT_EQ(settings.alwaysontop, 1);
    click(general, IDC_ALWAYS_ON_TOP);
    EXPECT_EQ(settings.alwaysontop, 0);
    EXPECT_EQ(panelLog.onTop, (std::vector<WPARAM>{1, 0}));
}

TEST(GeneralSetupDialog, AlarmsAreStoredAndSavedOnceTyped) {
    const auto stored = [](const char16_t* name) {
        int32_t value = -1;
        uint32_t size = 4;
        StoreKey* key = openUserKey(kSettingsKeyPath, StoreAccess::Read);
        if (key != nullptr) readStoreValue(key, name, &value, &size, nullptr);
        closeUserKey(key);
        return value;
    };
    EXPECT_EQ(text(general, IDC_ALARM_GPU_TEMP), "0");
    // The limit counts when the field loses the focus, or the dialog hides; not per keystroke.
    const auto leaveField = [] {
        SendMessageW(general, WM_COMMAND, MAKEWPARAM(IDC_ALARM_GPU_TEMP, EN_KILLFOCUS),
                     reinterpret_cast<LPARAM>(GetDlgItem(general, IDC_ALARM_GPU_TEMP)));
    };
    type(general, IDC_ALARM_GPU_TEMP, u"85");
    EXPECT_EQ(settings.alarmGpuTempC, 0);
    leaveField();
    EXPECT_EQ(settings.alarmGpuTempC, 85);
    EXPECT_EQ(stored(u"alarmGpuTempC"), 85);
    type(general, IDC_ALARM_GPU_TEMP, u"300");
    click(general, IDCANCEL);
    EXPECT_EQ(stored(u"alarmGpuTempC"), 255);
    click(general, IDC_ALARM_SERVER_LOST);
    EXPECT_EQ(stored(u"alarmServerLost"), 1);
    click(general, IDC_ALARM_SERVER_LOST);
    EXPECT_EQ(settings.alarmServerLost, 0);
    EXPECT_EQ(stored(u"alarmServerLost"), 0);
}

TEST(GeneralSetupDialog, ShowsWithItsBottomRightCornerAtTheCursorAndHidesOnOk) {
    SetCursorPos(900, 700);
    POINT cursor;
    GetCursorPos(&cursor);
    showGeneralSetup();
    EXPECT_TRUE(IsWindowVisible(general));
    RECT frame;
    GetWindowRect(general, &frame);
    EXPECT_EQ(frame.right, cursor.x);
    EXPECT_EQ(frame.bottom, cursor.y);
    click(general, IDOK);
    EXPECT_FALSE(IsWindowVisible(general));
}

TEST(SetupDialogs, EscapeAndAltF4HideEitherDialogFromAnyOfItsControls) {
    for (const HWND dialog : {general, network}) {
        for (const auto& [message, key] : {std::pair{WM_KEYDOWN, VK_ESCAPE}, std::pair{WM_SYSKEYDOWN, VK_F4}}) {
            ShowWindow(dialog, SW_SHOWNOACTIVATE);
            const MSG other{GetDlgItem(dialog, IDOK), WM_KEYDOWN, VK_RETURN, 0, 0, {}};
            EXPECT_FALSE(routeDialogCloseKey(other));
            const MSG close{GetDlgItem(dialog, IDOK), static_cast<UINT>(message), static_cast<WPARAM>(key), 0, 0, {}};
            EXPECT_TRUE(routeDialogCloseKey(close));
            EXPECT_FALSE(IsWindowVisible(dialog));
        }
    }
    const MSG toPanel{panel, WM_KEYDOWN, VK_ESCAPE, 0, 0, {}};
    EXPECT_FALSE(routeDialogCloseKey(toPanel));
}

// Run as a child process by the test below: the cleanup button must end this process on the spot.
TEST(GeneralSetupCleanup, DISABLED_Child) {
    saveSettings();
    ASSERT_NE(openUserKey(kSettingsKeyPath, StoreAccess::Read), nullptr);
    click(general, IDC_CLEANUP);
    ExitProcess(7);  // still running: the button did not end the program
}

TEST(GeneralSetupCleanup, DeletesTheKeyAndEndsTheProgramAtOnce) {
    saveSettings();
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring commandLine =
        std::wstring(L"\"") + program +
        L"\" --gtest_also_run_disabled_tests --gtest_filter=GeneralSetupCleanup.DISABLED_Child";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    DWORD exitCode = 99;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(exitCode, 0u);
    StoreKey* key = openUserKey(kSettingsKeyPath, StoreAccess::Read);
    EXPECT_EQ(key, nullptr);
    if (key != nullptr) closeUserKey(key);
}

// ---------------------------------------------------------------- Network Setup

// Answers removals and the move handshake as the client manager does.
class ManagerThread {
  public:
    ManagerThread() : thread_([this] { run(); }) {}
    ~ManagerThread() {
        running_ = false;
        thread_.join();
    }
    std::string removeCaption() const { return removeCaption_; }

  private:
    void run() {
        const HWND removeButton = GetDlgItem(network, IDC_REMOVE);
        while (running_.load()) {
            const int32_t command = slotTableCommand.load();
            if (command == kCommandStopAll) slotTableCommand = kCommandStopped;
            if (command == kCommandRestart) slotTableCommand = kCommandNone;
            for (ServerSlot& slot : slotTable) {
                if (slot.State.load() != kStateRemoveRequest) continue;
                // Read without a message: the dialog's thread is waiting for us.
                wchar_t caption[100] = {};
                InternalGetWindowText(removeButton, caption, 100);
                removeCaption_ = toUtf8(reinterpret_cast<char16_t*>(caption));
                slot.Active = 0;
                slot.Enabled = 0;
                slot.Status = kStatusUnresolvable;
                slot.State = kStateRemoved;
            }
            sleepMs(2);
        }
    }
    std::atomic<bool> running_{true};
    std::string removeCaption_;
    std::thread thread_;
};

class NetworkSetupDialog : public testing::Test {
  protected:
    void SetUp() override {
        resetSharedState();
        boxes.clear();
        openedAddresses.clear();
        SendMessageW(GetDlgItem(network, IDC_SERVER_LIST), LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        click(network, IDC_REFRESH);
    }
    static void configure(int slot, const char16_t* host, int32_t port) {
        copyText16(slotTable[slot].Hostname, kSlotTextUnits, host);
        slotTable[slot].Port = port;
        slotTable[slot].Enabled = 1;
        slotTable[slot].Active = 1;
        slotTable[slot].State = kStateStarted;
    }
    static HWND list() { return GetDlgItem(network, IDC_SERVER_LIST); }
    static int lines() { return static_cast<int>(SendMessageW(list(), LB_GETCOUNT, 0, 0)); }
    static std::string line(int index) {
        wchar_t buffer[300] = {};
        SendMessageW(list(), LB_GETTEXT, index, reinterpret_cast<LPARAM>(buffer));
        return toUtf8(reinterpret_cast<char16_t*>(buffer));
    }
    static void select(int index) {
        SendMessageW(list(), LB_SETCURSEL, index, 0);
        SendMessageW(network, WM_COMMAND, MAKEWPARAM(IDC_SERVER_LIST, LBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(list()));
    }
    static bool entryControlsEnabled() {
        return enabled(network, IDC_DEACTIVATE) && enabled(network, IDC_REMOVE) &&
               enabled(network, IDC_HIGH_LATENCY) && enabled(network, IDC_SERVER_DETAILS);
    }
    static bool anyEntryControlEnabled() {
        for (int id :
             {IDC_DEACTIVATE, IDC_REMOVE, IDC_HIGH_LATENCY, IDC_SERVER_DETAILS, IDC_MOVE_UP, IDC_MOVE_DOWN}) {
            if (enabled(network, id)) return true;
        }
        return false;
    }
};

TEST_F(NetworkSetupDialog, IsCreatedHiddenFromItsTemplateAndFilledFromTheSettings) {
    ASSERT_NE(network, nullptr);
    EXPECT_FALSE(IsWindowVisible(network));
    wchar_t caption[64];
    GetWindowTextW(network, caption, 64);
    EXPECT_EQ(toUtf8(reinterpret_cast<char16_t*>(caption)), "Network Setup");
    EXPECT_EQ(GetWindowLongW(network, GWL_STYLE) & WS_SYSMENU, 0);
    EXPECT_NE(GetWindowLongW(network, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0);

    const struct {
        int id;
        const char* text;
    } labels[] = {
        {IDC_SERVER_ENABLE, "Enable Network Functionality"},
        {IDC_SERVER_STATUS_BUTTON, "Show Server Detail Status"},
        {IDC_ADD, "Add to the list"},
        {IDC_DEACTIVATE, "Temporary deactivate this entry"},
        {IDC_REMOVE, "Remove the entry from the list"},
        {IDC_MOVE_UP, "Move UP"},
        {IDC_MOVE_DOWN, "Move DOWN"},
        {IDC_HIGH_LATENCY, "Enable very high latency (reduce flapping on server)"},
        {IDC_SERVER_DETAILS, "Show Server Details"},
        {IDC_REFRESH, "Refresh"},
        {IDC_REMOVE_DEAD,
         "Remove dead servers from the panels (this can cause display flipping on unstable "
         "networks/servers)"},
        {IDC_REMOVE_DEACTIVATED, "Remove deactivated entries from the panels"},
        {IDC_DOCUMENTATION, "Documentation (open PDF weblink)"},
        {IDOK, "Close Window"},
    };
    for (const auto& label : labels) EXPECT_EQ(text(network, label.id), label.text) << label.id;

    // Filled once, at creation, from the settings of that moment.
    EXPECT_TRUE(checked(network, IDC_SERVER_ENABLE));
    EXPECT_EQ(text(network, IDC_SERVER_HOSTNAME), "render-farm");
    EXPECT_EQ(text(network, IDC_SERVER_PORT), "29831");
    EXPECT_EQ(text(network, IDC_SERVER_LISTEN), "*");
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(network, IDC_SERVER_LISTEN)));
    EXPECT_FALSE(checked(network, IDC_REMOVE_DEAD));
    EXPECT_TRUE(checked(network, IDC_REMOVE_DEACTIVATED));

    // While the dialog has never been shown, the status fields keep their template text.
    SendMessageW(network, WM_TIMER, 678, 0);
    for (int id : {IDC_SERVER_STATE, IDC_SERVER_UPTIME, IDC_SERVER_QUERIES})
        EXPECT_EQ(text(network, id), "Statisch");

    const LONG listStyle = GetWindowLongW(list(), GWL_STYLE);
    EXPECT_NE(listStyle & LBS_NOTIFY, 0);
    EXPECT_EQ(listStyle & LBS_SORT & ~LBS_NOTIFY, 0);
}

TEST_F(NetworkSetupDialog, ServerSwitchChecksThePortBeforeAnythingIsStored) {
    click(network, IDC_SERVER_ENABLE);  // off: stored without a port check
    ASSERT_FALSE(checked(network, IDC_SERVER_ENABLE));
    EXPECT_TRUE(enabled(network, IDC_SERVER_PORT));
    settings.networkServerPort = 4444;

    for (const char16_t* port : {u"abc", u"1023", u"65536"}) {
        boxes.clear();
        type(network, IDC_SERVER_PORT, port);
        click(network, IDC_SERVER_ENABLE);
        EXPECT_FALSE(checked(network, IDC_SERVER_ENABLE));
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, "Server Port Error");
        EXPECT_EQ(boxes[0].text, "The server port must between 1024 and 65535");
        EXPECT_EQ(boxes[0].owner, network);
        EXPECT_EQ(boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
        EXPECT_EQ(settings.networkServerEnabled, 0);
        EXPECT_EQ(settings.networkServerPort, 4444);
    }

    boxes.clear();
    type(network, IDC_SERVER_PORT, u"8221abc");
    type(network, IDC_SERVER_HOSTNAME, u"desk");
    click(network, IDC_SERVER_ENABLE);
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(checked(network, IDC_SERVER_ENABLE));
    EXPECT_EQ(text(network, IDC_SERVER_PORT), "8221");
    EXPECT_EQ(settings.networkServerEnabled, 1);
    EXPECT_EQ(settings.networkServerPort, 8221);
    char16_t hostname[kSettingTextUnits];
    readSettingText(settings.networkServerHostname, hostname);
    EXPECT_EQ(toUtf8(hostname), "desk");
    for (int id : {IDC_SERVER_HOSTNAME, IDC_SERVER_PORT, IDC_SERVER_LISTEN})
        EXPECT_FALSE(enabled(network, id));

    click(network, IDC_SERVER_ENABLE);
    EXPECT_EQ(settings.networkServerEnabled, 0);
    EXPECT_TRUE(enabled(network, IDC_SERVER_PORT));
}

TEST_F(NetworkSetupDialog, AddShowsTheNewLineOrSaysWhyNot) {
    const struct {
        const char16_t *address, *port;
        const char* caption;
    } refusals[] = {{u"", u"8221", "Data Missing"}, {u"gpu-box", u"0x2000", "Port Failure"}};
    for (const auto& refusal : refusals) {
        boxes.clear();
        type(network, IDC_ADD_ADDRESS, refusal.address);
        type(network, IDC_ADD_PORT, refusal.port);
        click(network, IDC_ADD);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, refusal.caption);
        EXPECT_EQ(lines(), 0);
    }

    boxes.clear();
    type(network, IDC_ADD_ADDRESS, u"gpu-box");
    type(network, IDC_ADD_PORT, u"8221");
    click(network, IDC_ADD);
    EXPECT_TRUE(boxes.empty());
    ASSERT_EQ(lines(), 1);
    EXPECT_EQ(line(0).rfind("#00 gpu-box @ 8221 > ", 0), 0u) << line(0);
    EXPECT_EQ(SendMessageW(list(), LB_GETITEMDATA, 0, 0), 0);
    // Queried just now: a line of 34 characters, 6 pixels each and 2 more.
    slotTable[0].LastQueryTime = wallClockSeconds();
    click(network, IDC_REFRESH);
    EXPECT_EQ(line(0).rfind("#00 gpu-box @ 8221 > Unknown [", 0), 0u) << line(0);
    EXPECT_EQ(line(0).size(), 34u) << line(0);
    EXPECT_EQ(SendMessageW(list(), LB_GETHORIZONTALEXTENT, 0, 0), 206);
    EXPECT_EQ(slotTable[0].State, kStateStartEnabled);
    EXPECT_EQ(text(network, IDC_ADD_ADDRESS), "gpu-box");  // fields keep their texts
    EXPECT_FALSE(anyEntryControlEnabled());
}

TEST_F(NetworkSetupDialog, SelectingALineShowsItsSwitchesAndAllowedMoves) {
    configure(0, u"first", 8221);
    configure(4, u"second", 8221);
    slotTable[4].Enabled = 0;
    slotTable[4].HighLatency = 1;
    configure(9, u"third", 8221);
    click(network, IDC_REFRESH);
    ASSERT_EQ(lines(), 3);
    EXPECT_NE(line(1).find("> deactivated ["), std::string::npos) << line(1);

    select(1);
    EXPECT_TRUE(entryControlsEnabled());
    EXPECT_TRUE(checked(network, IDC_DEACTIVATE));
    EXPECT_TRUE(checked(network, IDC_HIGH_LATENCY));
    EXPECT_TRUE(enabled(network, IDC_MOVE_UP));
    EXPECT_TRUE(enabled(network, IDC_MOVE_DOWN));
    select(0);
    EXPECT_FALSE(checked(network, IDC_DEACTIVATE));
    EXPECT_FALSE(checked(network, IDC_HIGH_LATENCY));
    EXPECT_FALSE(enabled(network, IDC_MOVE_UP));
    EXPECT_TRUE(enabled(network, IDC_MOVE_DOWN));
    select(2);
    EXPECT_TRUE(enabled(network, IDC_MOVE_UP));
    EXPECT_FALSE(enabled(network, IDC_MOVE_DOWN));
}

TEST_F(NetworkSetupDialog, EntrySwitchesChangeTheSelectedSlot) {
    configure(0, u"first", 8221);
    configure(1, u"second", 8221);
    click(network, IDC_REFRESH);
    select(1);
    click(network, IDC_DEACTIVATE);
    EXPECT_EQ(slotTable[1].Enabled, 0);
    EXPECT_EQ(slotTable[0].Enabled, 1);
    EXPECT_NE(line(1).find("deactivated"), std::string::npos);
    EXPECT_FALSE(anyEntryControlEnabled());  // the rebuild dropped the selection

    select(0);
    click(network, IDC_HIGH_LATENCY);
    EXPECT_EQ(slotTable[0].HighLatency, 1);
    click(network, IDC_REMOVE_DEAD);
    EXPECT_EQ(settings.removeDeadServer, 1);
}

TEST_F(NetworkSetupDialog, RemoveWaitsForTheManagerWithAWaitingCaption) {
    configure(0, u"first", 8221);
    configure(1, u"second", 8221);
    click(network, IDC_REFRESH);
    ManagerThread manager;
    select(0);
    click(network, IDC_REMOVE);
    EXPECT_EQ(manager.removeCaption(), "REMOVING ... PLEASE WAIT");
    EXPECT_EQ(text(network, IDC_REMOVE), "Remove the entry from the list");
    ASSERT_EQ(lines(), 1);
    EXPECT_EQ(line(0).rfind("#01 second", 0), 0u);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(NetworkSetupDialog, RemoveWithoutAManagerGivesUpAndSaysSo) {
    configure(0, u"first", 8221);
    click(network, IDC_REFRESH);
    select(0);
    click(network, IDC_REMOVE);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Client Manager Busy");
    EXPECT_EQ(text(network, IDC_REMOVE), "Remove the entry from the list");
    EXPECT_EQ(lines(), 1);  // still there until the manager takes the request
    EXPECT_EQ(slotTable[0].State, kStateRemoveRequest);
}

TEST_F(NetworkSetupDialog, MoveUpAcrossAGapExchangesTheSlots) {
    configure(0, u"first", 8221);
    configure(2, u"second", 9000);
    click(network, IDC_REFRESH);
    ManagerThread manager;
    select(1);
    click(network, IDC_MOVE_UP);
    EXPECT_TRUE(boxes.empty());
    ASSERT_EQ(lines(), 2);
    EXPECT_EQ(line(0).rfind("#00 second @ 9000", 0), 0u) << line(0);
    EXPECT_EQ(line(1).rfind("#02 first @ 8221", 0), 0u) << line(1);
    EXPECT_EQ(slotTable[1].Active, 0);
    EXPECT_EQ(slotTableCommand, kCommandNone);
}

TEST_F(NetworkSetupDialog, InformationBoxesAndTheDocumentationLink) {
    configure(3, u"gpu-box", 8221);
    click(network, IDC_REFRESH);
    select(0);
    click(network, IDC_SERVER_DETAILS);
    click(network, IDC_SERVER_STATUS_BUTTON);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].caption, "Network Server Details");
    EXPECT_EQ(boxes[0].text.rfind("Server is enabled", 0), 0u);
    EXPECT_EQ(boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_EQ(boxes[1].caption, "Network Server Status");
    EXPECT_EQ(boxes[1].text.rfind("Server Status: ", 0), 0u);

    boxes.clear();
    shellAccepts = true;
    click(network, IDC_DOCUMENTATION);
    EXPECT_EQ(openedAddresses, std::vector<std::string>{toUtf8(kDocumentationAddress)});
    EXPECT_TRUE(boxes.empty());
    shellAccepts = false;
    click(network, IDC_DOCUMENTATION);
    shellAccepts = true;
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[0].caption, "Error open the PDF");
    EXPECT_NE(boxes[0].text.find(toUtf8(kHomePageAddress)), std::string::npos);
}

TEST_F(NetworkSetupDialog, ShowingRefreshesTheListAndTheTimerTheStatus) {
    configure(5, u"late-entry", 8221);
    SetCursorPos(1000, 50);
    POINT cursor;
    GetCursorPos(&cursor);
    showNetworkSetup();
    EXPECT_TRUE(IsWindowVisible(network));
    ASSERT_EQ(lines(), 1);
    RECT frame;
    GetWindowRect(network, &frame);
    // The dialog is far taller than the cursor is low, so its top is pulled to 10.
    EXPECT_EQ(frame.right, cursor.x);
    EXPECT_EQ(frame.top, 10);

    SendMessageW(network, WM_TIMER, 678, 0);
    EXPECT_EQ(text(network, IDC_SERVER_STATE), "Stopped");
    EXPECT_EQ(text(network, IDC_SERVER_UPTIME), "not running");
    EXPECT_EQ(text(network, IDC_SERVER_QUERIES), "0 / 0");

    // A stop-all answered after a move gave up is answered with the restart request.
    slotTableCommand = kCommandStopped;
    SendMessageW(network, WM_TIMER, 678, 0);
    EXPECT_EQ(slotTableCommand, kCommandRestart);
    slotTableCommand = kCommandNone;

    click(network, IDOK);
    EXPECT_FALSE(IsWindowVisible(network));
}

// This program links the same resource object as tarvelon.exe, so its version block is the exe's.
TEST(VersionResource, NamesTheProductAndItsVersionAsWindowsReadsThem) {
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    std::vector<uint8_t> block(GetFileVersionInfoSizeW(path, &ignored));
    ASSERT_FALSE(block.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, static_cast<DWORD>(block.size()), block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    const DWORD majorMinor = (TARVELON_VERSION_MAJOR << 16) | TARVELON_VERSION_MINOR;
    EXPECT_EQ(fixed->dwFileVersionMS, majorMinor);
    EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(TARVELON_VERSION_PATCH) << 16);
    EXPECT_EQ(fixed->dwProductVersionMS, majorMinor);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    const struct {
        const wchar_t* name;
        const char* expected;
    } strings[] = {{L"ProductName", "Tarvelon"},
                   {L"FileDescription", "Tarvelon system and GPU monitor"},
                   {L"FileVersion", TARVELON_VERSION},
                   {L"ProductVersion", TARVELON_VERSION}};
    for (const auto& entry : strings) {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + entry.name;
        wchar_t* value = nullptr;
        ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
            << toUtf8(reinterpret_cast<const char16_t*>(entry.name));
        EXPECT_EQ(toUtf8(reinterpret_cast<const char16_t*>(value)), entry.expected);
    }
}

}  // namespace
}  // namespace tarvelon
