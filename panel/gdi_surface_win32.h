// The panel's surface on a Win32 device context: GDI fills and text, the panel window's rectangle and
// resizing, and the pair of "Consolas" fonts that lives from one layout to the next.
#pragma once

#include <windows.h>

#include "panel/surface.h"

namespace tarvelon {

// The header font (escapement 900, text runs upwards) and the text font, both fixed pitch at one
// height. Replaced by every layout; the previous pair is deleted first.
class GdiFonts {
  public:
    GdiFonts() = default;
    GdiFonts(const GdiFonts&) = delete;
    GdiFonts& operator=(const GdiFonts&) = delete;
    ~GdiFonts() { release(); }

    void replace(int32_t lineHeight);
    HFONT font(PanelFont which) const { return which == PanelFont::header ? header_ : text_; }

  private:
    void release();
    HFONT header_ = nullptr;
    HFONT text_ = nullptr;
};

// Draws on dc for the given window. The fonts it selects are deselected again before the fonts are
// replaced and when the surface ends, so that they can always be deleted.
class GdiSurface : public Surface {
  public:
    GdiSurface(HWND window, HDC dc, GdiFonts& fonts);
    GdiSurface(const GdiSurface&) = delete;
    GdiSurface& operator=(const GdiSurface&) = delete;
    ~GdiSurface() override { deselectFont(); }

    void replaceFonts(int32_t lineHeight) override;
    void fillRect(const PixelRect& rect, Rgb colour) override;
    void setTextColour(Rgb colour) override;
    void setBackgroundColour(Rgb colour) override;
    void drawText(int32_t x, int32_t y, PanelFont font, const char16_t* text, int32_t length) override;
    PixelRect windowRect() override;
    PixelRect clientRect() override;
    void moveWindow(int32_t left, int32_t top, int32_t width, int32_t height) override;

  private:
    void deselectFont();

    HWND window_;
    HDC dc_;
    GdiFonts& fonts_;
    HFONT selected_ = nullptr;
    HGDIOBJ original_ = nullptr;  // the dc's own font while one of ours is selected
};

}  // namespace tarvelon
