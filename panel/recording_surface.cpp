#include "panel/recording_surface.h"

namespace tarvelon {

void RecordingSurface::replaceFonts(int32_t lineHeight) {
    fontHeights.push_back(lineHeight);
}

void RecordingSurface::fillRect(const PixelRect& rect, Rgb colour) {
    fills.push_back({rect, colour});
}

void RecordingSurface::drawText(int32_t x, int32_t y, PanelFont font, const char16_t* text, int32_t length) {
    const int32_t fontHeight = fontHeights.empty() ? 0 : fontHeights.back();
    texts.push_back(
        {x, y, font, std::u16string(text, text + length), textColour_, backgroundColour_, fontHeight});
}

PixelRect RecordingSurface::clientRect() {
    return {0, 0, window_.right - window_.left, window_.bottom - window_.top};
}

void RecordingSurface::moveWindow(int32_t left, int32_t top, int32_t width, int32_t height) {
    window_ = {left, top, left + width, top + height};
    ++moves;
}

void RecordingSurface::clearRecords() {
    fills.clear();
    texts.clear();
    fontHeights.clear();
    moves = 0;
}

bool RecordingSurface::filledColourAt(int32_t x, int32_t y, Rgb* colour) const {
    for (auto fill = fills.rbegin(); fill != fills.rend(); ++fill) {
        const PixelRect& r = fill->rect;
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) {
            *colour = fill->colour;
            return true;
        }
    }
    return false;
}

const RecordedText* RecordingSurface::findText(const std::u16string& text) const {
    for (const RecordedText& recorded : texts) {
        if (recorded.text == text) return &recorded;
    }
    return nullptr;
}

}  // namespace tarvelon
