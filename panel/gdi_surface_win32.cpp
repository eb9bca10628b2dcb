#include "panel/gdi_surface_win32.h"

namespace tarvelon {
namespace {

COLORREF colourRef(Rgb colour) {
    return RGB(colour.r, colour.g, colour.b);
}

HFONT createPanelFont(int32_t lineHeight, LONG escapement) {
    LOGFONTW description{};
    description.lfHeight = lineHeight;
    description.lfEscapement = escapement;
    description.lfPitchAndFamily = FIXED_PITCH;
    lstrcpynW(description.lfFaceName, L"Consolas", LF_FACESIZE);
    return CreateFontIndirectW(&description);
}

// A solid brush for the length of one fill.
class SolidBrush {
  public:
    explicit SolidBrush(Rgb colour) : brush_(CreateSolidBrush(colourRef(colour))) {}
    SolidBrush(const SolidBrush&) = delete;
    SolidBrush& operator=(const SolidBrush&) = delete;
    ~SolidBrush() {
        if (brush_ != nullptr) DeleteObject(brush_);
    }
    HBRUSH get() const { return brush_; }

  private:
    HBRUSH brush_;
};

}  // namespace

void GdiFonts::replace(int32_t lineHeight) {
    release();
    header_ = createPanelFont(lineHeight, 900);
    text_ = createPanelFont(lineHeight, 0);
}

void GdiFonts::release() {
    if (header_ != nullptr) DeleteObject(header_);
    if (text_ != nullptr) DeleteObject(text_);
    header_ = nullptr;
    text_ = nullptr;
}

GdiSurface::GdiSurface(HWND window, HDC dc, GdiFonts& fonts) : window_(window), dc_(dc), fonts_(fonts) {
    SetBkMode(dc_, OPAQUE);
}

void GdiSurface::replaceFonts(int32_t lineHeight) {
    deselectFont();
    fonts_.replace(lineHeight);
}

void GdiSurface::fillRect(const PixelRect& rect, Rgb colour) {
    const SolidBrush brush(colour);
    if (brush.get() == nullptr) return;
    const RECT area{rect.left, rect.top, rect.right, rect.bottom};
    FillRect(dc_, &area, brush.get());
}

void GdiSurface::setTextColour(Rgb colour) {
    SetTextColor(dc_, colourRef(colour));
}

void GdiSurface::setBackgroundColour(Rgb colour) {
    SetBkColor(dc_, colourRef(colour));
}

void GdiSurface::drawText(int32_t x, int32_t y, PanelFont font, const char16_t* text, int32_t length) {
    const HFONT wanted = fonts_.font(font);
    if (wanted != nullptr && wanted != selected_) {
        const HGDIOBJ previous = SelectObject(dc_, wanted);
        if (original_ == nullptr) original_ = previous;
        selected_ = wanted;
    }
    TextOutW(dc_, x, y, reinterpret_cast<const wchar_t*>(text), length);
}

PixelRect GdiSurface::windowRect() {
    RECT rect{};
    GetWindowRect(window_, &rect);
    return {rect.left, rect.top, rect.right, rect.bottom};
}

PixelRect GdiSurface::clientRect() {
    RECT rect{};
    GetClientRect(window_, &rect);
    return {rect.left, rect.top, rect.right, rect.bottom};
}

void GdiSurface::moveWindow(int32_t left, int32_t top, int32_t width, int32_t height) {
    MoveWindow(window_, left, top, width, height, TRUE);
}

void GdiSurface::deselectFont() {
    if (original_ != nullptr) SelectObject(dc_, original_);
    original_ = nullptr;
    selected_ = nullptr;
}

}  // namespace tarvelon
