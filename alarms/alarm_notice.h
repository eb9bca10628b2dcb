// A tray balloon as the alarms hand it over: title, text and which icon. Both the older alarms and
// the rules fill it; the tray shows it.
#pragma once

namespace tarvelon {

// The sizes a tray balloon holds.
constexpr int kNoticeTitleUnits = 64;
constexpr int kNoticeTextUnits = 256;

struct AlarmNotice {
    char16_t title[kNoticeTitleUnits];
    char16_t text[kNoticeTextUnits];
    bool information;  // good news ("answers again"): the information icon, not the warning one
};

}  // namespace tarvelon
