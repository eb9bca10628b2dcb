// What the passes draw: window fitting, tones, headers and titles, labels, value formats and colours,
// and the choice between a full redraw and values only.
#include "unit/panel_world.h"

namespace tarvelon {
namespace {

using Drawing = PanelWorld;

constexpr Rgb kNormalBody{176, 176, 176};
constexpr Rgb kWarningBody{176, 160, 160};
constexpr Rgb kDeactivatedBody{144, 144, 144};

Rgb colourAt(const RecordingSurface& surface, int32_t x, int32_t y) {
    Rgb colour{1, 2, 3};
    EXPECT_TRUE(surface.filledColourAt(x, y, &colour)) << x << "," << y;
    return colour;
}

// The texts drawn at one panel's value column, top to bottom.
std::vector<const RecordedText*> valuesOf(const RecordingSurface& surface, const PanelEntry& entry,
                                          const PanelMetrics& m) {
    std::vector<const RecordedText*> values;
    for (const RecordedText& text : surface.texts) {
        if (text.x == valueX(entry, m) && text.y > entry.y && text.y < entry.y + m.panelHeight) {
            values.push_back(&text);
        }
    }
    return values;
}

TEST_F(Drawing, OneLocalHostFitsTheWindowToOnePanel) {
    setLocal(0);
    full();
    EXPECT_EQ(surface.moves, 1);
    const PixelRect window = surface.windowRect();
    EXPECT_EQ(window.left, 100);
    EXPECT_EQ(window.top, 200);
    EXPECT_EQ(window.right - window.left, 136);
    EXPECT_EQ(window.bottom - window.top, 112);
    EXPECT_EQ(settings.windowPosX, 100);
    EXPECT_EQ(settings.windowPosY, 200);
    EXPECT_EQ(surface.fontHeights, std::vector<int32_t>({12}));

    // The repaint that the resize asks for finds the size right.
    settings.windowPosX = 5;
    full();
    EXPECT_EQ(surface.moves, 0);
    EXPECT_EQ(settings.windowPosX, 5);
    ASSERT_FALSE(surface.fills.empty());
    EXPECT_EQ(surface.fills[0].colour, kBlack);
    EXPECT_EQ(surface.fills[0].rect.right, 136);
    EXPECT_EQ(surface.fills[0].rect.bottom, 112);
    EXPECT_EQ(colourAt(surface, 135, 111), kNormalBody);
}

TEST_F(Drawing, EmptyGridCellsStayBlack) {
    setLocal(2);
    addServer(4, 1);
    addServer(9, 3);
    full();
    const PanelMetrics& m = state->metrics;
    const auto cell = [&](int column, int row) {
        return colourAt(surface, column * m.panelWidth + m.panelWidth - 1,
                        row * m.panelHeight + m.panelHeight - 1);
    };
    EXPECT_EQ(cell(3, 0), kBlack);
    EXPECT_EQ(cell(2, 1), kBlack);
    EXPECT_EQ(cell(3, 1), kBlack);
    for (auto [column, row] : {std::pair{0, 0}, {2, 0}, {1, 1}, {3, 2}}) {
        EXPECT_EQ(cell(column, row), kNormalBody) << column << "," << row;
    }
}

TEST_F(Drawing, TonesFollowTheServersStateForTheWholeGroup) {
    setLocal(1);
    addServer(0, 1, u"ok", kStatusOk, 1);
    addServer(1, 1, u"silent", kStatusNoResponse, 1);
    addServer(2, 1, u"off", kStatusNoResponse, 0);
    full();
    struct Case {
        int group;
        Rgb body, hostHeader, gpuHeader;
    } cases[] = {
        {0, kNormalBody, {128, 128, 128}, {48, 128, 48}},
        {1, kNormalBody, {128, 128, 128}, {48, 128, 48}},
        {2, kWarningBody, {128, 112, 112}, {48, 112, 32}},
        {3, kDeactivatedBody, {96, 96, 96}, {16, 96, 16}},
    };
    const PanelMetrics& m = state->metrics;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.group);
        const PanelGroup& group = state->shown.groups[c.group];
        const PanelEntry& host = group.host;
        const PanelEntry& gpu = group.gpus[0];
        EXPECT_EQ(colourAt(surface, host.x + m.panelWidth - 1, host.y + m.panelHeight - 1), c.body);
        EXPECT_EQ(colourAt(surface, gpu.x + m.panelWidth - 1, gpu.y + m.panelHeight - 1), c.body);
        EXPECT_EQ(colourAt(surface, host.x, host.y + m.panelHeight - 1), c.hostHeader);  // vertical strip
        EXPECT_EQ(colourAt(surface, host.x + m.panelWidth - 1, host.y), c.hostHeader);   // title strip
        EXPECT_EQ(colourAt(surface, gpu.x + 1, gpu.y + m.panelHeight - 2), c.gpuHeader);
        EXPECT_EQ(colourAt(surface, gpu.x + m.panelWidth - 1, gpu.y + m.headerWidth - 1), c.gpuHeader);
        EXPECT_EQ(colourAt(surface, host.x + m.headerWidth, host.y + m.headerWidth), c.body);
        // Labels and values sit on the body colour, headers on their strip.
        for (const RecordedText& text : surface.texts) {
            const bool inHost = text.x > host.x && text.x < host.x + m.panelWidth && text.y > host.y &&
                                text.y < host.y + m.panelHeight;
            if (!inHost) continue;
            if (text.font == PanelFont::header || text.y == host.y + 2) {
                EXPECT_EQ(text.backgroundColour, c.hostHeader);
                EXPECT_EQ(text.textColour, (Rgb{224, 224, 224}));
            } else {
                EXPECT_EQ(text.backgroundColour, c.body);
            }
        }
    }
}

TEST_F(Drawing, HeadersAndTitles) {
    setLocal(2, u"whatever-name");
    LocalStore values = readLocalStore();
    values.gpus[1].pciBus = 65;
    values.gpus[1].pciSlot = 7;
    copyText16(values.gpus[1].gpuName, kRecordTextUnits, u"GeForce RTX 4090");
    publishLocalStore(values);
    addServer(3, 0, u"");
    addServer(5, 1, u"render-01");
    full();
    const PanelMetrics& m = state->metrics;

    struct Case {
        const char16_t* text;
        PanelFont font;
        const PanelEntry& entry;
        int32_t dx, dy;
    } cases[] = {
        {u"SYSTEM", PanelFont::text, state->shown.groups[0].host, 4, 2},
        {u"Cores 8", PanelFont::header, state->shown.groups[0].host, 1, m.panelHeight - 4},
        {u"GPU 0 PCI 1/0", PanelFont::header, state->shown.groups[0].gpus[0], 1, m.panelHeight - 4},
        {u"GPU 1 PCI 65/7", PanelFont::header, state->shown.groups[0].gpus[1], 1, m.panelHeight - 4},
        {u"GeForce RTX 4090", PanelFont::text, state->shown.groups[0].gpus[1], 4, 2},
        {u"Unknown", PanelFont::text, state->shown.groups[1].host, 4, 2},
        {u"Cores 103", PanelFont::header, state->shown.groups[1].host, 1, m.panelHeight - 4},
        {u"render-01", PanelFont::text, state->shown.groups[2].host, 4, 2},
        {u"GPU 0 PCI 0/5", PanelFont::header, state->shown.groups[2].gpus[0], 1, m.panelHeight - 4},
    };
    for (const Case& c : cases) {
        const RecordedText* text = surface.findText(c.text);
        ASSERT_NE(text, nullptr) << toUtf8(c.text);
        EXPECT_EQ(text->font, c.font) << toUtf8(c.text);
        EXPECT_EQ(text->x, c.entry.x + c.dx) << toUtf8(c.text);
        EXPECT_EQ(text->y, c.entry.y + c.dy) << toUtf8(c.text);
        EXPECT_EQ(text->fontHeight, 12);
    }
    EXPECT_EQ(surface.findText(u"whatever-name"), nullptr);
}

TEST_F(Drawing, ATitleIsCutAtTheEndOfItsField) {
    setLocal(0);
    addServer(0, 0);
    updateSlotRecords(slotTable[0], [](HostRecord& host, GpuRecord(&)[kGpuSlots]) {
        for (char16_t& unit : host.hostName) unit = u'w';
        host.cpuCount = 0;
    });
    full();
    EXPECT_NE(surface.findText(std::u16string(kRecordTextUnits, u'w')), nullptr);
}

TEST_F(Drawing, LabelsArePrintedAsFormats) {
    setLocal(1);
    full();
    const char16_t* host[] = {u"CPU Load%", u"  CPU Mhz", u"    Procs", u"  Threads",
                              u"P Free MB", u"V Free MB", u"Net IO Mb"};
    const char16_t* gpu[] = {u"GPU Load%", u" Core MHz",      u"  Mem MHz",     u"  Free MB",
                             u"  Fan RPM", u"  Core \u00B0C", u"   Mem \u00B0C"};
    const PanelMetrics& m = state->metrics;
    for (int row = 1; row <= kPanelRows; ++row) {
        const PanelEntry& hostEntry = state->shown.groups[0].host;
        const PanelEntry& gpuEntry = state->shown.groups[0].gpus[0];
        const RecordedText* h = surface.findText(host[row - 1]);
        const RecordedText* g = surface.findText(gpu[row - 1]);
        ASSERT_NE(h, nullptr) << row;
        ASSERT_NE(g, nullptr) << row;
        EXPECT_EQ(h->x, labelX(hostEntry, m));
        EXPECT_EQ(h->y, rowY(hostEntry, m, true, row));
        EXPECT_EQ(g->x, labelX(gpuEntry, m));
        EXPECT_EQ(g->y, rowY(gpuEntry, m, false, row));
        EXPECT_EQ(h->textColour, (Rgb{48, 48, 48}));
        EXPECT_EQ(h->font, PanelFont::text);
    }
    EXPECT_EQ(surface.findText(u"  Core \u00B0C")->text[7], char16_t{0xB0});
}

TEST_F(Drawing, LoadAndTemperatureScales) {
    struct Case {
        int32_t value;
        Rgb load;
    } cases[] = {
        {-20, {32, 64, 32}}, {0, {32, 64, 32}},   {30, {32, 64, 32}},   {31, {32, 96, 32}},
        {60, {32, 96, 32}},  {61, {96, 96, 32}},  {85, {96, 96, 32}},   {86, {128, 96, 48}},
        {98, {128, 96, 48}}, {99, {148, 32, 32}}, {255, {148, 32, 32}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(loadColour(c.value), c.load) << c.value;
        EXPECT_EQ(temperatureColour(c.value + 20), c.load) << c.value + 20;
    }
}

TEST_F(Drawing, HostValuesFormatsAndColours) {
    LocalStore values{};
    HostRecord& h = values.host;
    h.cpuLoad = 100;
    h.cpuMhz = 4200;
    h.cpuMaxFreqPct = 70;
    h.processCount = 321;
    h.threadCount = 65535;
    h.physFreeMb = 100000;
    h.physUsedPct = 50;
    h.pageFreeMb = 99999;
    h.pageUsedPct = 90;
    h.netIoMbit = 65535;
    publishLocalStore(values);
    full();
    const std::vector<const RecordedText*> drawn =
        valuesOf(surface, state->shown.groups[0].host, state->metrics);
    struct Expected {
        const char16_t* text;
        Rgb colour;
    } expected[] = {
        {u"  100", {148, 32, 32}}, {u" 4200", {96, 96, 32}}, {u"  321", {32, 64, 32}},
        {u"65535", {32, 64, 32}},  {u"100 G", {32, 96, 32}}, {u"99999", {128, 96, 48}},
        {u"65535", {32, 64, 32}},
    };
    ASSERT_EQ(drawn.size(), 7u);
    for (int row = 0; row < kPanelRows; ++row) {
        EXPECT_EQ(drawn[row]->text, expected[row].text) << row + 1;
        EXPECT_EQ(drawn[row]->textColour, expected[row].colour) << row + 1;
        EXPECT_EQ(drawn[row]->backgroundColour, kNormalBody);
        EXPECT_EQ(drawn[row]->y, rowY(state->shown.groups[0].host, state->metrics, true, row + 1));
    }
}

TEST_F(Drawing, LargeNumberRule) {
    struct Case {
        uint32_t value;
        const char16_t* text;
    } cases[] = {{0, u"    0"},          {9, u"    9"},          {10, u"   10"},       {99, u"   99"},
                 {100, u"  100"},        {1005, u" 1005"},       {10000, u"10000"},    {20407, u"20407"},
                 {99999, u"99999"},      {100000, u"100 G"},     {100999, u"100 G"},   {999999, u"999 G"},
                 {1000000, u"1000G"},    {9999999, u"9999G"},    {10000000, u" 10 T"}, {999999999, u"999 T"},
                 {1000000000, u"1000T"}, {4294967295u, u"4294T"}};
    for (const Case& c : cases) {
        LocalStore values{};
        values.host.physFreeMb = c.value;
        publishLocalStore(values);
        tick();
        const std::vector<const RecordedText*> drawn =
            valuesOf(surface, state->shown.groups[0].host, state->metrics);
        ASSERT_EQ(drawn.size(), 7u);
        EXPECT_EQ(drawn[4]->text, c.text) << c.value;
    }
}

TEST_F(Drawing, GpuValuesFormatsAndColours) {
    setLocal(0);
    addServer(0, 1);
    updateSlotRecords(slotTable[0], [](HostRecord&, GpuRecord(&gpus)[kGpuSlots]) {
        GpuRecord& g = gpus[0];
        g.gpuLoad = 5;
        g.coreMhz = 1950;
        g.coreClockPct = 99;
        g.memMhz = 10501;
        g.memClockPct = 86;
        g.memFreeMb = 24000;
        g.memUsedPct = 61;
        g.fanRpmDiv32 = 50;
        g.coreTempC = 85;
        g.memTempC = 139;
    });
    full();
    const std::vector<const RecordedText*> drawn =
        valuesOf(surface, state->shown.groups[1].gpus[0], state->metrics);
    struct Expected {
        const char16_t* text;
        Rgb colour;
    } expected[] = {
        {u"    5", {32, 64, 32}},  {u" 1950", {148, 32, 32}}, {u"10501", {128, 96, 48}},
        {u"24000", {96, 96, 32}},  {u" 1600", {32, 96, 32}},  {u"   85", {96, 96, 32}},
        {u"  139", {148, 32, 32}},
    };
    ASSERT_EQ(drawn.size(), 7u);
    for (int row = 0; row < kPanelRows; ++row) {
        EXPECT_EQ(drawn[row]->text, expected[row].text) << row + 1;
        EXPECT_EQ(drawn[row]->textColour, expected[row].colour) << row + 1;
        EXPECT_EQ(drawn[row]->y, rowY(state->shown.groups[1].gpus[0], state->metrics, false, row + 1));
    }
}

TEST_F(Drawing, AnUnchangedTickDrawsOnlyValues) {
    setLocal(2);
    addServer(0, 1);
    tick();  // the first pass always finds a change
    const uint32_t version = state->listVersion;
    EXPECT_EQ(surface.moves, 1);
    EXPECT_FALSE(surface.fills.empty());
    EXPECT_NE(surface.findText(u"SYSTEM"), nullptr);

    LocalStore values = readLocalStore();
    values.host.cpuLoad = 42;
    publishLocalStore(values);
    tick();
    EXPECT_TRUE(surface.fills.empty());
    EXPECT_TRUE(surface.fontHeights.empty());
    EXPECT_EQ(surface.moves, 0);
    EXPECT_EQ(surface.texts.size(), 5u * kPanelRows);  // two hosts, three GPUs
    EXPECT_NE(surface.findText(u"   42"), nullptr);
    for (const RecordedText& text : surface.texts) EXPECT_EQ(text.fontHeight, 0);  // fonts of the last layout
    EXPECT_EQ(state->listVersion, version);  // what is built from the list's composition stays

    // A producer's flag: everything once, then values again.
    updateSlotRecords(slotTable[0], [](HostRecord& host, GpuRecord(&)[kGpuSlots]) { host.changed = 1; });
    tick();
    EXPECT_FALSE(surface.fills.empty());
    EXPECT_EQ(surface.fontHeights.size(), 1u);
    EXPECT_NE(surface.findText(u"CPU Load%"), nullptr);
    EXPECT_EQ(state->listVersion, version + 1);
    tick();
    EXPECT_TRUE(surface.fills.empty());
    EXPECT_EQ(surface.texts.size(), 5u * kPanelRows);
}

class ServerGoesSilent : public PanelWorld, public testing::WithParamInterface<int32_t> {};

TEST_P(ServerGoesSilent, OneFullRedrawInTheWarningToneOrTheGroupVanishes) {
    const int32_t layout = GetParam();
    settings.layout = layout;
    setLocal(1);
    addServer(0, 2, u"first");
    addServer(1, 1, u"second");
    addServer(2, 0, u"third");
    tick();
    tick();
    const PanelMetrics before = state->metrics;
    const int32_t thirdX = state->shown.groups[3].host.x;
    const int32_t thirdY = state->shown.groups[3].host.y;

    slotTable[1].Status = kStatusNoResponse;
    tick();
    EXPECT_EQ(surface.fontHeights.size(), 1u);
    const PanelEntry& second = state->shown.groups[2].host;
    EXPECT_EQ(colourAt(surface, second.x + before.panelWidth - 1, second.y + before.panelHeight - 1),
              kWarningBody);
    tick();
    EXPECT_TRUE(surface.fills.empty());

    settings.removeDeadServer = 1;
    tick();
    EXPECT_EQ(surface.fontHeights.size(), 1u);
    EXPECT_EQ(state->shown.groups[2].source, 2);
    EXPECT_EQ(state->shown.groups[3].host.present, 0);
    // The third server takes the second one's row (layout 1) or column (layout 2).
    EXPECT_EQ(state->shown.groups[2].host.x, layout == 1 ? thirdX : thirdX - before.panelWidth);
    EXPECT_EQ(state->shown.groups[2].host.y, layout == 1 ? thirdY - before.panelHeight : thirdY);
    if (layout == 1) {
        EXPECT_EQ(state->metrics.rows, before.rows - 1);
    } else {
        EXPECT_EQ(state->metrics.columns, before.columns - 1);
    }
    EXPECT_EQ(surface.findText(u"second"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ServerGoesSilent, testing::Values(1, 2));

TEST_F(Drawing, ServersReturnWithOneRedrawAfterTheSlotTableIsReordered) {
    setLocal(0);
    addServer(0, 1, u"box");
    tick();
    slotTableCommand = kCommandStopAll;
    tick();
    EXPECT_EQ(surface.findText(u"box"), nullptr);
    EXPECT_EQ(surface.windowRect().bottom - surface.windowRect().top, 112);
    tick();
    EXPECT_TRUE(surface.fills.empty());
    slotTableCommand = kCommandNone;
    tick();
    EXPECT_NE(surface.findText(u"box"), nullptr);
    EXPECT_EQ(surface.windowRect().bottom - surface.windowRect().top, 224);
    tick();
    EXPECT_TRUE(surface.fills.empty());
}

TEST_F(Drawing, DrawingNeverChangesTheStoredFontSize) {
    setLocal(16);
    for (int s = 0; s < kServerSlots; ++s) addServer(s, 16);
    for (int32_t fontsize : {0, -5, 100000}) {
        settings.fontsize = fontsize;
        for (int32_t layout : {1, 2}) {
            settings.layout = layout;
            full();
            EXPECT_EQ(settings.fontsize, fontsize);
            const PixelRect w = surface.windowRect();
            EXPECT_LE(w.right - w.left, kMaxWindowExtent);
            EXPECT_LE(w.bottom - w.top, kMaxWindowExtent);
            for (const RecordedText& text : surface.texts) {
                EXPECT_GE(text.x, 0);
                EXPECT_GE(text.y, 0);
                EXPECT_LT(text.x, w.right - w.left);
                EXPECT_LE(text.y, w.bottom - w.top);
            }
        }
    }
}

}  // namespace
}  // namespace tarvelon
