#include "panel/general_setup.h"

#include "panel/decimal_text.h"
#include "platform/text16.h"

namespace tarvelon {

namespace {

// The field's text as the dialog reads it: at most kNumberFieldChars characters.
int32_t parseField(const char16_t* text) {
    char16_t field[kNumberFieldChars + 1];
    copyText16(field, kNumberFieldChars + 1, text);
    return parseDecimal(field);
}

}  // namespace

int32_t limitFontSize(int32_t size) {
    if (size < kFontSizeMin) return kFontSizeMin;
    if (size > kFontSizeMax) return kFontSizeMax;
    return size;
}

int32_t fontSizeFromText(const char16_t* text) {
    return limitFontSize(parseField(text));
}

int32_t coordinateFromText(const char16_t* text) {
    return parseField(text);
}

int32_t alarmLimitFromText(const char16_t* text) {
    const int32_t limit = parseField(text);
    return limit < 0 ? 0 : limit > 255 ? 255 : limit;
}

}  // namespace tarvelon
