// The panel drawn through GDI into a memory bitmap for a hidden window: the window is resized to the
// grid, and the pixels show each tone's body and header strips, black empty cells, and header text
// that runs upwards inside its strip.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>

#include "net/slot_table.h"
#include "panel/gdi_surface_win32.h"
#include "panel/panel.h"
#include "platform/text16.h"
#include "settings/settings.h"
#include "telemetry/local_store.h"
#include "unit/rgb_print.h"

namespace tarvelon {
namespace {

constexpr int kCanvasWidth = 700;
constexpr int kCanvasHeight = 600;

void addServer(int slot, int gpuCount, const char16_t* name, int32_t status, int32_t enabled) {
    ServerSlot& server = slotTable[slot];
    server.Active = 1;
    server.Enabled = enabled;
    server.Status = status;
    server.State = kStateStarted;
    updateSlotRecords(server, [&](HostRecord& host, GpuRecord(&gpus)[kGpuSlots]) {
        copyText16(host.hostName, kRecordTextUnits, name);
        host.cpuCount = 4;
        for (int i = 0; i < gpuCount; ++i) gpus[i].present = 1;
    });
}

class PanelGdi : public testing::Test {
  protected:
    void SetUp() override {
        clearLocalStore();
        clearSlotTable();
        clearSettings();
        setDefaultSettings(1280, 1024);

        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"TarvelonPanelTest";
        RegisterClassExW(&windowClass);
        window = CreateWindowExW(0, L"TarvelonPanelTest", L"", WS_POPUP, 30, 40, 500, 500, nullptr, nullptr,
                                 windowClass.hInstance, nullptr);
        ASSERT_NE(window, nullptr);

        dc = CreateCompatibleDC(nullptr);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = kCanvasWidth;
        info.bmiHeader.biHeight = -kCanvasHeight;  // top-down rows
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        ASSERT_NE(bitmap, nullptr);
        pixels = static_cast<uint32_t*>(bits);
        previousBitmap = SelectObject(dc, bitmap);
        for (int i = 0; i < kCanvasWidth * kCanvasHeight; ++i) pixels[i] = 0x00FFFFFF;  // white
        state = std::make_unique<PanelState>();
    }

    void TearDown() override {
        SelectObject(dc, previousBitmap);
        DeleteObject(bitmap);
        DeleteDC(dc);
        DestroyWindow(window);
    }

    void draw() {
        GdiSurface surface(window, dc, fonts);
        fullPass(*state, surface);
        GdiFlush();
    }

    Rgb pixel(int x, int y) const {
        const uint32_t bgra = pixels[y * kCanvasWidth + x];
        return {static_cast<uint8_t>(bgra >> 16), static_cast<uint8_t>(bgra >> 8),
                static_cast<uint8_t>(bgra)};
    }

    // Pixels in [left, right) x [top, bottom) that differ from colour.
    int countOther(int left, int top, int right, int bottom, Rgb colour) const {
        int count = 0;
        for (int y = top; y < bottom; ++y) {
            for (int x = left; x < right; ++x) count += pixel(x, y) != colour ? 1 : 0;
        }
        return count;
    }

    HWND window = nullptr;
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previousBitmap = nullptr;
    uint32_t* pixels = nullptr;
    GdiFonts fonts;
    std::unique_ptr<PanelState> state;
};

TEST_F(PanelGdi, DrawsTonesStripsAndBlackCells) {
    LocalStore local{};
    local.host.cpuCount = 8;
    local.gpus[0].present = 1;
    publishLocalStore(local);
    addServer(0, 1, u"fine", kStatusOk, 1);
    addServer(1, 1, u"silent", kStatusNoResponse, 1);
    addServer(2, 0, u"off", kStatusOk, 0);
    draw();

    // One row per host, two columns: 272 x 448 at font size 12, at the same place.
    RECT rect{};
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.left, 30);
    EXPECT_EQ(rect.top, 40);
    EXPECT_EQ(rect.right - rect.left, 272);
    EXPECT_EQ(rect.bottom - rect.top, 448);
    EXPECT_EQ(settings.windowPosX, 30);
    EXPECT_EQ(settings.windowPosY, 40);

    struct Row {
        Rgb body, hostStrip, gpuStrip;
        bool hasGpu;
    } rows[] = {
        {{176, 176, 176}, {128, 128, 128}, {48, 128, 48}, true},
        {{176, 176, 176}, {128, 128, 128}, {48, 128, 48}, true},
        {{176, 160, 160}, {128, 112, 112}, {48, 112, 32}, true},
        {{144, 144, 144}, {96, 96, 96}, {16, 96, 16}, false},
    };
    for (int r = 0; r < 4; ++r) {
        SCOPED_TRACE(r);
        const int top = r * 112;
        EXPECT_EQ(pixel(134, top + 111), rows[r].body);
        EXPECT_EQ(pixel(0, top + 111), rows[r].hostStrip);
        EXPECT_EQ(pixel(135, top), rows[r].hostStrip);
        if (rows[r].hasGpu) {
            EXPECT_EQ(pixel(136 + 134, top + 111), rows[r].body);
            EXPECT_EQ(pixel(136, top + 111), rows[r].gpuStrip);
            EXPECT_EQ(pixel(136 + 135, top), rows[r].gpuStrip);
        } else {
            EXPECT_EQ(countOther(136, top, 272, top + 112, kBlack), 0) << "empty cell";
        }
    }
    // Only the client area was cleared: the canvas beyond the window is untouched.
    EXPECT_EQ(pixel(300, 10), (Rgb{255, 255, 255}));
    EXPECT_EQ(pixel(10, 460), (Rgb{255, 255, 255}));
}

TEST_F(PanelGdi, HeaderTextRunsUpwardsInsideItsStrip) {
    LocalStore local{};
    local.host.cpuCount = 8;
    publishLocalStore(local);
    draw();
    const Rgb strip{128, 128, 128};
    const Rgb body{176, 176, 176};
    // "Cores 8" is drawn in the vertical strip between the title strip and the bottom.
    EXPECT_GT(countOther(0, 16, 16, 108, strip), 10);
    // Nothing of it runs to the right into the body below the last row.
    EXPECT_EQ(countOther(17, 110, 60, 112, body), 0);
    // The title "SYSTEM" in the title strip.
    EXPECT_GT(countOther(4, 0, 60, 16, strip), 10);
    // Values and labels are drawn in the body.
    EXPECT_GT(countOther(18, 18, 134, 110, body), 50);
}

TEST_F(PanelGdi, RepeatedPassesKeepTheFontsUsable) {
    LocalStore local{};
    local.gpus[0].present = 1;
    publishLocalStore(local);
    for (int fontsize : {12, 20, 12, 0, 3}) {
        settings.fontsize = fontsize;
        draw();
        GdiSurface surface(window, dc, fonts);
        tickPass(*state, surface);
    }
    // The last layout's fonts can be replaced and deleted although they were just drawn with.
    fonts.replace(12);
    settings.fontsize = 12;
    for (int i = 0; i < kCanvasWidth * kCanvasHeight; ++i) pixels[i] = 0x00FFFFFF;
    draw();
    EXPECT_GT(countOther(4, 0, 60, 16, {128, 128, 128}), 10);
}

// More brushes and fonts than the process's GDI handle table holds: if any were kept, the last fill
// or the last text would fail.
TEST_F(PanelGdi, EveryBrushAndFontIsReleased) {
    constexpr int kMoreThanTheHandleTable = 70000;
    {
        GdiSurface surface(window, dc, fonts);
        for (int i = 0; i < kMoreThanTheHandleTable; ++i) {
            surface.fillRect({0, 0, 2, 2}, {static_cast<uint8_t>(i), 1, 2});
        }
        for (int i = 0; i < kMoreThanTheHandleTable; ++i) {
            surface.replaceFonts(10 + i % 5);
            surface.drawText(0, 0, PanelFont::header, u"x", 1);
            surface.drawText(0, 0, PanelFont::text, u"x", 1);
        }
    }
    for (int i = 0; i < kCanvasWidth * kCanvasHeight; ++i) pixels[i] = 0x00FFFFFF;
    draw();
    EXPECT_EQ(pixel(134, 111), (Rgb{176, 176, 176}));
    EXPECT_GT(countOther(4, 0, 60, 16, {128, 128, 128}), 10);
}

}  // namespace
}  // namespace tarvelon
