// A surface that draws nothing: what is left of a panel pass is the list, layout and formatting work.
#pragma once

#include <benchmark/benchmark.h>

#include "panel/surface.h"

namespace tarvelon {

class NullSurface : public Surface {
  public:
    void replaceFonts(int32_t) override {}
    void fillRect(const PixelRect&, Rgb) override {}
    void setTextColour(Rgb) override {}
    void setBackgroundColour(Rgb) override {}
    void drawText(int32_t, int32_t, PanelFont, const char16_t* text, int32_t) override {
        benchmark::DoNotOptimize(text);
    }
    PixelRect windowRect() override { return window_; }
    PixelRect clientRect() override {
        return {0, 0, window_.right - window_.left, window_.bottom - window_.top};
    }
    void moveWindow(int32_t left, int32_t top, int32_t width, int32_t height) override {
        window_ = {left, top, left + width, top + height};
    }

  private:
    PixelRect window_{0, 0, 500, 500};
};

}  // namespace tarvelon
