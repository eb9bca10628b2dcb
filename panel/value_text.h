// The text of a panel value: always five characters, right-aligned, so a value never runs past its
// cell. Up to 99999 the number itself ("%5d"); above, thousands with "G" ("%3d G" up to 999,999,
// "%4dG" up to 9,999,999) and beyond that millions with "T" ("%3d T", "%4dT"). Written straight into
// the cell, inline: the panel draws thousands of values a second.
#pragma once

#include <cstdint>

namespace tarvelon {

constexpr int kValueUnits = 5;

namespace value_text_detail {

// number right-aligned in the first width units of cell, spaces before it; number has at most width
// digits.
inline void putRightAligned(char16_t* cell, int width, uint32_t number) {
    int at = width;
    do {
        cell[--at] = static_cast<char16_t>(u'0' + number % 10);
        number /= 10;
    } while (number != 0);
    while (at > 0) cell[--at] = u' ';
}

}  // namespace value_text_detail

// Writes the five units of value's text into cell; returns 5.
inline int formatPanelValue(uint32_t value, char16_t (&cell)[kValueUnits]) {
    using value_text_detail::putRightAligned;
    if (value <= 99999) {
        putRightAligned(cell, kValueUnits, value);
        return kValueUnits;
    }
    const bool thousands = value <= 9999999;
    const uint32_t shown = thousands ? value / 1000 : value / 1000000;
    cell[4] = thousands ? u'G' : u'T';
    if (shown <= 999) {
        cell[3] = u' ';
        putRightAligned(cell, 3, shown);
    } else {
        putRightAligned(cell, 4, shown);
    }
    return kValueUnits;
}

}  // namespace tarvelon
