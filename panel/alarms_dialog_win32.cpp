#include "panel/alarms_dialog_win32.h"

#include <commctrl.h>

#include "panel/alarm_rules_win32.h"
#include "panel/alarms_dialog.h"
#include "panel/dialog_win32.h"
#include "resources/resource.h"
#include "settings/settings.h"

namespace tarvelon {
namespace {

HINSTANCE dialogInstance;
HWND listDialog;
bool filling;  // checkbox notifications caused by filling the list are not the user's
// What each row of the list shows: -1 the GPU temperature alarm, -2 the server alarm, else a rule.
int rowEntry[kBuiltInAlarms + kAlarmRules];
int rowCount;

constexpr int kGpuAlarmRow = -1;
constexpr int kServerAlarmRow = -2;

// The entry being edited and its rule, for the Edit dialog.
struct EditTarget {
    int entry;
    AlarmRule rule;
};

HWND listView() {
    return GetDlgItem(listDialog, IDC_ALARM_LIST);
}

bool entryEnabled(int entry) {
    if (entry == kGpuAlarmRow) return settings.alarmGpuTempC.load() > 0;
    if (entry == kServerAlarmRow) return settings.alarmServerLost.load() != 0;
    return alarmRulesWin32().rules[entry].enabled;
}

void addRow(int entry, char16_t (&line)[kListLineUnits]) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = rowCount;
    item.pszText = reinterpret_cast<wchar_t*>(line);
    const HWND view = listView();
    const int row = static_cast<int>(SendMessageW(view, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    ListView_SetCheckState(view, row, entryEnabled(entry));
    rowEntry[rowCount++] = entry;
}

void fillList(int selectRow) {
    filling = true;
    const HWND view = listView();
    ListView_DeleteAllItems(view);
    rowCount = 0;
    char16_t line[kListLineUnits];
    builtInListLine(0, settings.alarmGpuTempC.load(), line);
    addRow(kGpuAlarmRow, line);
    builtInListLine(1, 0, line);
    addRow(kServerAlarmRow, line);
    const AlarmRules& rules = alarmRulesWin32();
    for (int i = 0; i < kAlarmRules; ++i) {
        if (!rules.rules[i].used) continue;
        ruleListLine(rules.rules[i], line);
        addRow(i, line);
    }
    if (selectRow >= rowCount) selectRow = rowCount - 1;
    ListView_SetItemState(view, selectRow, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(view, selectRow, FALSE);
    filling = false;
}

int selectedRow() {
    return static_cast<int>(
        SendMessageW(listView(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void setEnabled(int entry, bool enabled) {
    if (entry == kServerAlarmRow) {
        settings.alarmServerLost.store(enabled ? 1 : 0);
        saveSettings();
    } else if (entry == kGpuAlarmRow) {
        // On needs a level, which only Edit gives; off is level 0.
        if (!enabled) {
            settings.alarmGpuTempC.store(0);
            saveSettings();
        }
    } else {
        AlarmRule rule = alarmRulesWin32().rules[entry];
        rule.enabled = enabled;
        setAlarmRuleWin32(entry, rule);
    }
}

// ---- the Edit dialog

void text(HWND dialog, int id, char16_t (&out)[kRuleTextUnits]) {
    getControlText(dialog, id, out, kRuleTextUnits - 1);
}

void fillEdit(HWND dialog, const EditTarget& target) {
    const AlarmRule& rule = target.rule;
    for (int figure = 0; figure < kRuleFigures; ++figure) {
        SendDlgItemMessageW(dialog, IDC_RULE_FIGURE, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(ruleFigureName(figure)));
    }
    for (const wchar_t* direction : {L"above", L"below"}) {
        SendDlgItemMessageW(dialog, IDC_RULE_DIRECTION, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(direction));
    }
    char16_t line[kRuleTextUnits];
    ruleTargetText(rule, line, kRuleTextUnits);
    setControlText(dialog, IDC_RULE_TARGET, line);
    SendDlgItemMessageW(dialog, IDC_RULE_FIGURE, CB_SETCURSEL, static_cast<WPARAM>(rule.figure), 0);
    SendDlgItemMessageW(dialog, IDC_RULE_DIRECTION, CB_SETCURSEL, rule.above ? 0 : 1, 0);
    setControlNumber(dialog, IDC_RULE_LEVEL, rule.level);
    setControlNumber(dialog, IDC_RULE_CLEAR, rule.clear);
    char16_t hold[16];
    holdFieldText(rule, hold);
    setControlText(dialog, IDC_RULE_HOLD, hold);
    setControlNumber(dialog, IDC_RULE_COOLDOWN, rule.cooldownSeconds);
    setChecked(dialog, IDC_RULE_NOTIFY, rule.notify);
    setControlText(dialog, IDC_RULE_SOUND, rule.sound);
    setControlText(dialog, IDC_RULE_COMMAND, rule.command);
    setChecked(dialog, IDC_RULE_ENABLED, target.entry >= kAlarmRules || entryEnabled(target.entry));
    for (const int id : {IDC_RULE_TARGET, IDC_RULE_SOUND, IDC_RULE_COMMAND}) {
        SendDlgItemMessageW(dialog, id, EM_LIMITTEXT, kRuleTextUnits - 1, 0);
    }
    if (target.entry >= 0) return;
    // The older alarms have one level at most: the rest of their rule is fixed.
    for (const int id :
         {IDC_RULE_TARGET, IDC_RULE_FIGURE, IDC_RULE_DIRECTION, IDC_RULE_CLEAR, IDC_RULE_HOLD,
          IDC_RULE_COOLDOWN, IDC_RULE_NOTIFY, IDC_RULE_SOUND, IDC_RULE_COMMAND, IDC_RULE_TEST}) {
        EnableWindow(GetDlgItem(dialog, id), FALSE);
    }
    EnableWindow(GetDlgItem(dialog, IDC_RULE_LEVEL), target.entry == kGpuAlarmRow);
}

bool readEdit(HWND dialog, AlarmRule& rule) {
    char16_t target[kRuleTextUnits], level[kRuleTextUnits], clear[kRuleTextUnits], hold[kRuleTextUnits],
        cooldown[kRuleTextUnits], sound[kRuleTextUnits], command[kRuleTextUnits];
    text(dialog, IDC_RULE_TARGET, target);
    text(dialog, IDC_RULE_LEVEL, level);
    text(dialog, IDC_RULE_CLEAR, clear);
    text(dialog, IDC_RULE_HOLD, hold);
    text(dialog, IDC_RULE_COOLDOWN, cooldown);
    text(dialog, IDC_RULE_SOUND, sound);
    text(dialog, IDC_RULE_COMMAND, command);
    const RuleFields fields{
        target,
        static_cast<int32_t>(SendDlgItemMessageW(dialog, IDC_RULE_FIGURE, CB_GETCURSEL, 0, 0)),
        SendDlgItemMessageW(dialog, IDC_RULE_DIRECTION, CB_GETCURSEL, 0, 0) == 0,
        level,
        clear,
        hold,
        cooldown,
        isChecked(dialog, IDC_RULE_NOTIFY),
        sound,
        command,
        isChecked(dialog, IDC_RULE_ENABLED)};
    char16_t message[kListLineUnits];
    if (ruleFromFields(fields, rule, message)) return true;
    showDialogBox(dialog, message, u"Alarm rule check", MB_OK | MB_ICONERROR);
    return false;
}

// The older alarms write their own values.
bool applyBuiltIn(HWND dialog, int entry) {
    const bool enabled = isChecked(dialog, IDC_RULE_ENABLED);
    if (entry == kServerAlarmRow) {
        setEnabled(entry, enabled);
        return true;
    }
    int32_t limit = 0;
    if (enabled) {
        char16_t level[kRuleTextUnits];
        text(dialog, IDC_RULE_LEVEL, level);
        char16_t message[kListLineUnits];
        if (!gpuLimitFromField(level, limit, message)) {
            showDialogBox(dialog, message, u"Alarm rule check", MB_OK | MB_ICONERROR);
            return false;
        }
    }
    settings.alarmGpuTempC.store(limit);
    saveSettings();
    return true;
}

INT_PTR CALLBACK editProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* target = reinterpret_cast<EditTarget*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG:
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            fillEdit(dialog, *reinterpret_cast<EditTarget*>(lParam));
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                    if (target->entry < 0 ? applyBuiltIn(dialog, target->entry)
                                          : readEdit(dialog, target->rule)) {
                        EndDialog(dialog, IDOK);
                    }
                    return TRUE;
                case IDCANCEL:
                    EndDialog(dialog, IDCANCEL);
                    return TRUE;
                case IDC_RULE_TEST: {
                    AlarmRule rule = target->rule;
                    if (readEdit(dialog, rule)) testAlarmRuleWin32(rule);
                    return TRUE;
                }
            }
            return FALSE;
    }
    return FALSE;
}

// Opens the Edit dialog on entry (kAlarmRules and above: a new rule in slot entry - kAlarmRules).
void edit(int entry, int row) {
    const bool added = entry >= kAlarmRules;
    const int index = added ? entry - kAlarmRules : entry;
    EditTarget target{entry, index >= 0 && !added ? alarmRulesWin32().rules[index] : defaultRule(0)};
    if (entry == kGpuAlarmRow) {
        target.rule = defaultRule(ruleFigureOf(u"gpu_core_c"));
        target.rule.target = RuleTarget::All;
        target.rule.level = settings.alarmGpuTempC.load();
        target.rule.clear = target.rule.level - 5;
        target.rule.holdSeconds = 0;
    } else if (entry == kServerAlarmRow) {
        target.rule = defaultRule(kNotAnswering);
    }
    if (DialogBoxParamW(dialogInstance, MAKEINTRESOURCEW(IDD_ALARM_EDIT), listDialog, editProcedure,
                        reinterpret_cast<LPARAM>(&target)) != IDOK) {
        return;
    }
    if (index >= 0) setAlarmRuleWin32(index, target.rule);
    fillList(added ? rowCount : row);
}

void editSelected() {
    const int row = selectedRow();
    if (row >= 0) edit(rowEntry[row], row);
}

void addRule() {
    const AlarmRules& rules = alarmRulesWin32();
    for (int i = 0; i < kAlarmRules; ++i) {
        if (rules.rules[i].used) continue;
        edit(kAlarmRules + i, 0);
        return;
    }
    showDialogBox(listDialog, u"All 32 rules are in use: remove one first.", u"Alarms", MB_OK | MB_ICONERROR);
}

void removeRule() {
    const int row = selectedRow();
    if (row < kBuiltInAlarms) {
        showDialogBox(listDialog, u"The first two alarms cannot be removed: switch them off with their box.",
                      u"Alarms", MB_OK | MB_ICONERROR);
        return;
    }
    setAlarmRuleWin32(rowEntry[row], AlarmRule{});
    fillList(row);
}

void listNotified(const NMHDR& header) {
    if (header.idFrom != IDC_ALARM_LIST) return;
    if (header.code == NM_DBLCLK) {
        editSelected();
        return;
    }
    if (header.code != LVN_ITEMCHANGED || filling) return;
    const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
    if ((change.uChanged & LVIF_STATE) == 0 ||
        ((change.uNewState ^ change.uOldState) & LVIS_STATEIMAGEMASK) == 0) {
        return;
    }
    const int row = change.iItem;
    setEnabled(rowEntry[row], ListView_GetCheckState(listView(), row) != FALSE);
    if (rowEntry[row] == kGpuAlarmRow && settings.alarmGpuTempC.load() <= 0) {
        filling = true;
        ListView_SetCheckState(listView(), row, FALSE);  // on needs a level: Edit gives it
        filling = false;
    }
}

void initList(HWND dialog) {
    listDialog = dialog;
    const HWND view = listView();
    ListView_SetExtendedListViewStyle(view, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    LVCOLUMNW column{};
    SendMessageW(view, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
    ListView_SetColumnWidth(view, 0, LVSCW_AUTOSIZE_USEHEADER);
    fillList(0);
    showDialogAtCursor(dialog);
    SetFocus(view);
}

INT_PTR CALLBACK listProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            initList(dialog);
            return FALSE;
        case WM_NOTIFY:
            listNotified(*reinterpret_cast<const NMHDR*>(lParam));
            return TRUE;
        case WM_SIZE:
            // A move to a monitor of another scale resizes the list: its one column follows.
            ListView_SetColumnWidth(listView(), 0, LVSCW_AUTOSIZE_USEHEADER);
            return FALSE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                    // Enter on the list edits its selected line; elsewhere it closes, like Escape.
                    if (GetFocus() == listView()) {
                        editSelected();
                        return TRUE;
                    }
                    EndDialog(dialog, IDOK);
                    return TRUE;
                case IDCANCEL:
                    EndDialog(dialog, IDOK);
                    return TRUE;
                case IDC_ALARM_ADD:
                    addRule();
                    return TRUE;
                case IDC_ALARM_EDIT:
                    editSelected();
                    return TRUE;
                case IDC_ALARM_REMOVE:
                    removeRule();
                    return TRUE;
            }
            return FALSE;
    }
    return FALSE;
}

}  // namespace

void showAlarmsDialog(HINSTANCE instance) {
    if (listDialog != nullptr) {
        SetForegroundWindow(listDialog);
        return;
    }
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    dialogInstance = instance;
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ALARMS), nullptr, listProcedure, 0);
    listDialog = nullptr;
}

}  // namespace tarvelon
