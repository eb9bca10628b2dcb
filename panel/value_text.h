// The text of a panel value: always five characters, right-aligned, so a value never runs past its
// cell. Up to 99999 the number itself ("%5d"); above, thousands with "G" ("%3d G" up to 999,999,
// "%4dG" up to 9,999,999) and beyond that millions with "T" ("%3d T", "%4dT"). Written straight into
// the cell, inline: the panel draws thousands of values a second.
#pragma once

#include <cstdint>
#include <cstring>

namespace tarvelon {

constexpr int kValueUnits = 5;

namespace value_text_detail {

// A value up to 99999 is written as its hundreds in three units and the rest in two, from tables:
// hundreds 0 is blank, so below 100 the two units stand alone and a single digit gets a leading
// blank of its own.
struct DigitTables {
    char16_t hundreds[1000][3];  // "   ", "  1" ... "999"
    char16_t rest[2][100][2];    // [hundreds != 0]: " 0" ... "99", then "00" ... "99"
};

constexpr DigitTables makeDigitTables() {
    DigitTables tables{};
    for (int h = 0; h < 1000; ++h) {
        const int digits[3] = {h / 100, h / 10 % 10, h % 10};
        for (int at = 0; at < 3; ++at) {
            const bool leading = h < (at == 0 ? 100 : at == 1 ? 10 : 1);
            tables.hundreds[h][at] = leading ? u' ' : static_cast<char16_t>(u'0' + digits[at]);
        }
    }
    for (int r = 0; r < 100; ++r) {
        for (int alone = 0; alone < 2; ++alone) {
            const char16_t tens = r < 10 && alone == 0 ? u' ' : static_cast<char16_t>(u'0' + r / 10);
            tables.rest[alone][r][0] = tens;
            tables.rest[alone][r][1] = static_cast<char16_t>(u'0' + r % 10);
        }
    }
    return tables;
}

inline constexpr DigitTables kDigitTables = makeDigitTables();

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
        const uint32_t hundreds = value / 100;
        const char16_t(&high)[3] = value_text_detail::kDigitTables.hundreds[hundreds];
        const char16_t(&low)[2] = value_text_detail::kDigitTables.rest[hundreds != 0][value % 100];
        // Copied as blocks: unit by unit, the compiler assembles the cell in a register first.
        std::memcpy(cell, high, sizeof high);
        std::memcpy(cell + 3, low, sizeof low);
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
