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

// The scale's step for every value from 0 to 99; below 0 is the first step, from 99 on the last.
struct LoadSteps {
    uint8_t step[100];
};

constexpr LoadSteps makeLoadSteps() {
    LoadSteps steps{};
    for (int v = 0; v < 100; ++v) steps.step[v] = v >= 99 ? 4 : v >= 86 ? 3 : v >= 61 ? 2 : v >= 31 ? 1 : 0;
    return steps;
}

inline constexpr LoadSteps kLoadSteps = makeLoadSteps();

// Inline, from a table, and references into the scale: the value pass looks up thousands of colours
// a second and tells them apart by address.
inline const Rgb& loadColour(int32_t value) {
    const int32_t clamped = value < 0 ? 0 : value > 99 ? 99 : value;
    return kLoadScale[kLoadSteps.step[clamped]];
}

inline const Rgb& temperatureColour(int32_t celsius) {
    return loadColour(celsius - 20);
}

}  // namespace tarvelon
