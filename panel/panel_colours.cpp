#include "panel/panel_colours.h"

namespace tarvelon {

PanelTone panelTone(const PanelEntry& hostEntry) {
    if (hostEntry.enabled == 0) return PanelTone::deactivated;
    return hostEntry.status == 3 ? PanelTone::normal : PanelTone::warning;
}

const ToneColours& toneColours(PanelTone tone) {
    static const ToneColours normal{{176, 176, 176}, {128, 128, 128}, {48, 128, 48}};
    static const ToneColours warning{{176, 160, 160}, {128, 112, 112}, {48, 112, 32}};
    static const ToneColours deactivated{{144, 144, 144}, {96, 96, 96}, {16, 96, 16}};
    switch (tone) {
        case PanelTone::warning:
            return warning;
        case PanelTone::deactivated:
            return deactivated;
        case PanelTone::normal:
            break;
    }
    return normal;
}

}  // namespace tarvelon
