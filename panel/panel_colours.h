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

// Inline: the value pass looks up thousands of colours a second.
inline Rgb loadColour(int32_t value) {
    if (value >= 99) return {148, 32, 32};
    if (value >= 86) return {128, 96, 48};
    if (value >= 61) return {96, 96, 32};
    if (value >= 31) return {32, 96, 32};
    return {32, 64, 32};
}

inline Rgb temperatureColour(int32_t celsius) {
    return loadColour(celsius - 20);
}

}  // namespace tarvelon
