// Reading a number that the user typed into a dialog field: decimal, in the manner of wcstol with
// base 10 on a 32-bit long.
#pragma once

#include <cstdint>

namespace tarvelon {

// Leading white space and one sign are skipped, reading stops at the first character that is not a
// digit, no digits give 0, and values beyond the 32-bit range saturate at its ends. A null text is 0.
int32_t parseDecimal(const char16_t* text);

}  // namespace tarvelon
