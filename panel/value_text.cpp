#include "panel/value_text.h"

namespace tarvelon {
namespace {

// number right-aligned in the first width units of cell, spaces before it; number has at most width
// digits.
void putRightAligned(char16_t* cell, int width, uint32_t number) {
    int at = width;
    do {
        cell[--at] = static_cast<char16_t>(u'0' + number % 10);
        number /= 10;
    } while (number != 0);
    while (at > 0) cell[--at] = u' ';
}

}  // namespace

int formatPanelValue(uint32_t value, char16_t (&cell)[kValueUnits]) {
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
