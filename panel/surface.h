// What the panel needs from a drawing target: filled rectangles, text in one of two fonts with a text
// and a background colour, and the window that shows the picture (its rectangle, its client area,
// resizing). The window draws through GDI; tests and benchmarks draw onto a recording surface.
#pragma once

#include <cstdint>

namespace tarvelon {

struct Rgb {
    uint8_t r;
    uint8_t g;
    uint8_t b;
};

inline bool operator==(Rgb a, Rgb b) {
    return a.r == b.r && a.g == b.g && a.b == b.b;
}
inline bool operator!=(Rgb a, Rgb b) {
    return !(a == b);
}

// Right and bottom edges are exclusive, as in GDI.
struct PixelRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

enum class PanelFont : uint8_t {
    header,  // runs upwards (escapement 900)
    text,
};

class Surface {
  public:
    virtual ~Surface() = default;

    // Replaces both fonts with a pair of the given height in pixels.
    virtual void replaceFonts(int32_t lineHeight) = 0;

    virtual void fillRect(const PixelRect& rect, Rgb colour) = 0;
    virtual void setTextColour(Rgb colour) = 0;
    virtual void setBackgroundColour(Rgb colour) = 0;
    // Draws length units of text with its top-left corner at (x, y), in opaque mode: the text cells
    // are filled with the background colour.
    virtual void drawText(int32_t x, int32_t y, PanelFont font, const char16_t* text, int32_t length) = 0;

    // The window in screen pixels, and its client area in client pixels.
    virtual PixelRect windowRect() = 0;
    virtual PixelRect clientRect() = 0;
    // Moves and resizes the window and asks for a repaint.
    virtual void moveWindow(int32_t left, int32_t top, int32_t width, int32_t height) = 0;
};

}  // namespace tarvelon
