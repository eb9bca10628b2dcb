// The panel's colours: the three tones a group is drawn in, and the load and temperature scales that
// colour the numbers.
#pragma once

#include <cstdint>

#include "panel/panel_list.h"
#include "panel/surface.h"

namespace tarvelon {

enum class PanelTone : uint8_t { normal, warning, deactivated };

struct ToneColours {
    Rgb body;  // panel fill, label and value background
    Rgb hostHeader;
    Rgb gpuHeader;
};

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kHeaderText{224, 224, 224};
constexpr Rgb kLabelText{48, 48, 48};
constexpr Rgb kPlainValue{32, 64, 32};  // rows that follow no scale

// Normal when enabled and OK (status 3), warning when enabled and anything else, deactivated when
// not enabled.
PanelTone panelTone(const PanelEntry& hostEntry);
const ToneColours& toneColours(PanelTone tone);

// From low to high: green, light green, olive, orange, red.
inline constexpr Rgb kLoadScale[5] = {{32, 64, 32}, {32, 96, 32}, {96, 96, 32}, {128, 96, 48}, {148, 32, 32}};

// Inline, and references into the scale: the value pass looks up thousands of colours a second and
// tells them apart by address.
inline const Rgb& loadColour(int32_t value) {
    return kLoadScale[value >= 99 ? 4 : value >= 86 ? 3 : value >= 61 ? 2 : value >= 31 ? 1 : 0];
}

inline const Rgb& temperatureColour(int32_t celsius) {
    return loadColour(celsius - 20);
}

}  // namespace tarvelon
