// The rules of the General Setup dialog that are not just moving text between controls: the font
// size range shared by the slider and the typed field, and how typed numbers are read.
#pragma once

#include <cstdint>

namespace tarvelon {

constexpr int32_t kFontSizeMin = 2;
constexpr int32_t kFontSizeMax = 48;
constexpr int32_t kFontSizeDefault = 12;
// Characters read from the dialog's number fields.
constexpr int kNumberFieldChars = 19;

// The slider's range.
int32_t limitFontSize(int32_t size);

// The font size typed into the font field, limited to the slider's range, so that an empty field or a
// stray digit never asks the panel for a font it cannot draw.
int32_t fontSizeFromText(const char16_t* text);

// A coordinate typed into X or Y: any number, also off the screen.
int32_t coordinateFromText(const char16_t* text);

// The GPU temperature alarm typed in degrees C, 0 (off) to 255, the most a GPU reports.
int32_t alarmLimitFromText(const char16_t* text);

}  // namespace tarvelon
