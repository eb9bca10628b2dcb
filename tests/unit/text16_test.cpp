#include <gtest/gtest.h>

#include "platform/text16.h"

namespace tarvelon {
namespace {

std::string formatted(const char16_t* format, ...) {
    char16_t out[256];
    va_list arguments;
    va_start(arguments, format);
    vformat16(out, 256, format, arguments);
    va_end(arguments);
    return toUtf8(out);
}

TEST(Format16, CoversTheConversionsThePanelAndDialogsUse) {
    EXPECT_EQ(formatted(u"%5d", 42), "   42");
    EXPECT_EQ(formatted(u"%5d", -42), "  -42");
    EXPECT_EQ(formatted(u"%3d G", 100), "100 G");
    EXPECT_EQ(formatted(u"#%02d %s @ %d > %s [%d|%d]", 3, u"gpu-box", 8221, u"OK", 0, 12),
              "#03 gpu-box @ 8221 > OK [0|12]");
    EXPECT_EQ(formatted(u"%I64u / %I64u", 18446744073709551615ull, 0ull), "18446744073709551615 / 0");
    EXPECT_EQ(formatted(u"CPU Load%%"), "CPU Load%");
    EXPECT_EQ(formatted(u"%-4d|%04d|%x|%X", 7, -7, 255, 255), "7   |-007|ff|FF");
    EXPECT_EQ(formatted(u"%S and %s", "narrow", u"wide"), "narrow and wide");
    EXPECT_EQ(formatted(u"%d", static_cast<int>(0x80000000u)), "-2147483648");
}

TEST(Format16, CutsToTheCapacityAndAlwaysTerminates) {
    char16_t out[6];
    EXPECT_EQ(format16(out, 6, u"%s", u"abcdefgh"), 5);
    EXPECT_EQ(toUtf8(out), "abcde");
    char16_t tiny[1];
    EXPECT_EQ(format16(tiny, 1, u"%d", 12345), 0);
    EXPECT_EQ(tiny[0], 0);
}

TEST(Text16, CopiesAreBoundedAndTerminated) {
    char16_t field[4] = {u'x', u'x', u'x', u'x'};
    copyText16(field, 4, u"abcdef");
    EXPECT_EQ(toUtf8(field), "abc");
    copyBytesToText16(field, 4, "\xE9z");
    EXPECT_EQ(field[0], 0xE9);
    EXPECT_EQ(field[1], u'z');
    EXPECT_EQ(field[2], 0);
    EXPECT_TRUE(equalText16(u"gpu", u"gpu"));
    EXPECT_FALSE(equalText16(u"gpu", u"gpu2"));
    EXPECT_EQ(text16Length(u"abc", 2), 2u);
}

TEST(Text16, ACutNeverSplitsASurrogatePair) {
    const struct {
        size_t capacity;
        std::u16string source;
        std::u16string expected;
    } cases[] = {
        {4, u"ab\U0001F600", u"ab"},  // the pair would not fit whole
        {5, u"ab\U0001F600c", u"ab\U0001F600"},
        {3, u"\U0001F600\U0001F600", u"\U0001F600"},
        {8, u"ab\xD83D", u"ab\xD83D"},  // not cut: the text stays as it was given
    };
    for (const auto& test : cases) {
        char16_t copied[8];
        copyText16(copied, test.capacity, test.source.c_str());
        EXPECT_EQ(std::u16string(copied), test.expected) << test.capacity;
        char16_t formatted[8];
        format16(formatted, test.capacity, u"%s", test.source.c_str());
        EXPECT_EQ(std::u16string(formatted), test.expected) << test.capacity;
    }
}

TEST(Text16, Utf8RoundTripKeepsSurrogatePairsAndReplacesBadBytes) {
    const std::u16string text = u"T\u00e9st \u20ac \U0001F600";
    EXPECT_EQ(fromUtf8(toUtf8(text.c_str())), text);
    EXPECT_EQ(fromUtf8("a\xFF" "b"), u"a\uFFFDb");
}

}  // namespace
}  // namespace tarvelon
