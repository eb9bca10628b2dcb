// Numbers typed into the setup dialogs, the font size range, and where a dialog appears.
#include <gtest/gtest.h>

#include <climits>

#include "panel/decimal_text.h"
#include "panel/dialog_placement.h"
#include "panel/general_setup.h"

namespace tarvelon {
namespace {

TEST(ParseDecimal, ReadsLikeWcstolBase10) {
    const struct {
        const char16_t* text;
        int32_t value;
    } cases[] = {
        {u"8221", 8221},
        {u"8221abc", 8221},
        {u"  9000", 9000},
        {u"\t\r\n 42", 42},
        {u"+17", 17},
        {u"-5", -5},
        {u"0x2000", 0},
        {u"abc", 0},
        {u"", 0},
        {u"   ", 0},
        {u"-", 0},
        {u"+-3", 0},
        {u"12 34", 12},
        {u"007", 7},
        {u"2147483647", INT32_MAX},
        {u"-2147483648", INT32_MIN},
        {u"2147483648", INT32_MAX},
        {u"-2147483649", INT32_MIN},
        {u"99999999999999999999999", INT32_MAX},
        {u"-99999999999999999999999", INT32_MIN},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseDecimal(c.text), c.value) << "case " << (&c - cases);
    }
    EXPECT_EQ(parseDecimal(nullptr), 0);
}

TEST(GeneralSetupNumbers, TypedFontSizesStayInTheSlidersRange) {
    const struct {
        const char16_t* text;
        int32_t size;
    } cases[] = {
        {u"12", 12}, {u"2", 2},     {u"48", 48},          {u"1", 2},
        {u"", 2},    {u"0", 2},     {u"-7", 2},           {u"100", 48},
        {u"49", 48}, {u"20px", 20}, {u"99999999999", 48},
    };
    for (const auto& c : cases) EXPECT_EQ(fontSizeFromText(c.text), c.size) << "case " << (&c - cases);
}

TEST(GeneralSetupNumbers, CoordinatesAreTakenAsTypedFromTheFirst19Characters) {
    EXPECT_EQ(coordinateFromText(u"-3000"), -3000);
    EXPECT_EQ(coordinateFromText(u"99999"), 99999);
    EXPECT_EQ(coordinateFromText(u""), 0);
    // Nineteen blanks leave nothing to read; eighteen leave the first digit.
    EXPECT_EQ(coordinateFromText(u"                   7"), 0);
    EXPECT_EQ(coordinateFromText(u"                  75"), 7);
}

TEST(DialogPlacement, BottomRightCornerAtTheCursorInsideTheWorkAreaOfItsMonitor) {
    const ScreenRect primary{0, 0, 1920, 1040};
    const ScreenRect leftOfPrimary{-1920, 0, 1920, 1040};
    const ScreenRect abovePrimary{0, -1080, 1920, 1040};
    const ScreenRect narrow{0, 0, 305, 1040};
    const struct {
        int32_t x, y, width, height;
        const ScreenRect& area;
        int32_t left, top;
    } cases[] = {
        {1000, 800, 300, 200, primary, 700, 600},  {300, 200, 300, 200, primary, 0, 0},  // exactly fits
        {299, 800, 300, 200, primary, 10, 600},                                          // left would be -1
        {1000, 100, 300, 200, primary, 700, 10},   {5, 5, 300, 200, primary, 10, 10},
        {-100, 500, 300, 200, leftOfPrimary, -400, 300},
        {-1900, 100, 300, 200, leftOfPrimary, -1910, 10},
        {50, -1070, 300, 200, abovePrimary, 10, -1070},
        {100, 100, 300, 200, narrow, 5, 10},  // 10 inside would leave the right edge out
        {100, 100, 400, 200, narrow, 0, 10},  // wider than the area: its left edge shows
    };
    for (const auto& c : cases) {
        const DialogOrigin origin = dialogOriginAtCursor(c.x, c.y, c.width, c.height, c.area);
        EXPECT_EQ(origin.left, c.left) << "case " << (&c - cases);
        EXPECT_EQ(origin.top, c.top) << "case " << (&c - cases);
    }
}

}  // namespace
}  // namespace tarvelon
