// A surface that keeps what was drawn on it instead of showing it, together with a simulated window,
// so that layout, colours, texts and the choice between full and values-only passes can be checked
// (and measured) without a display.
#pragma once

#include <string>
#include <vector>

#include "panel/surface.h"

namespace tarvelon {

struct RecordedFill {
    PixelRect rect;
    Rgb colour;
};

struct RecordedText {
    int32_t x;
    int32_t y;
    PanelFont font;
    std::u16string text;
    Rgb textColour;        // in effect when the text was drawn
    Rgb backgroundColour;  // likewise
    int32_t fontHeight;    // of the fonts in effect, 0 before any replaceFonts
};

class RecordingSurface : public Surface {
  public:
    explicit RecordingSurface(PixelRect window = {0, 0, 500, 500}) : window_(window) {}

    void replaceFonts(int32_t lineHeight) override;
    void fillRect(const PixelRect& rect, Rgb colour) override;
    void setTextColour(Rgb colour) override { textColour_ = colour; }
    void setBackgroundColour(Rgb colour) override { backgroundColour_ = colour; }
    void drawText(int32_t x, int32_t y, PanelFont font, const char16_t* text, int32_t length) override;
    PixelRect windowRect() override { return window_; }
    PixelRect clientRect() override;
    void moveWindow(int32_t left, int32_t top, int32_t width, int32_t height) override;

    // Forgets what was drawn; the window keeps its place and size.
    void clearRecords();

    // The colour of the last fill that covers the pixel, or false when nothing was filled there.
    bool filledColourAt(int32_t x, int32_t y, Rgb* colour) const;
    // The first text drawn with exactly this content, or null.
    const RecordedText* findText(const std::u16string& text) const;

    std::vector<RecordedFill> fills;
    std::vector<RecordedText> texts;
    std::vector<int32_t> fontHeights;  // one per replaceFonts
    int32_t moves = 0;

  private:
    PixelRect window_;
    Rgb textColour_{0, 0, 0};
    Rgb backgroundColour_{255, 255, 255};
};

}  // namespace tarvelon
