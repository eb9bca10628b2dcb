// The text of a panel value: always five characters, right-aligned, so a value never runs past its
// cell. Up to 99999 the number itself ("%5d"); above, thousands with "G" ("%3d G" up to 999,999,
// "%4dG" up to 9,999,999) and beyond that millions with "T" ("%3d T", "%4dT"). Written straight into
// the cell: the panel draws thousands of values a second.
#pragma once

#include <cstdint>

namespace tarvelon {

constexpr int kValueUnits = 5;

// Writes the five units of value's text into cell; returns 5.
int formatPanelValue(uint32_t value, char16_t (&cell)[kValueUnits]);

}  // namespace tarvelon
