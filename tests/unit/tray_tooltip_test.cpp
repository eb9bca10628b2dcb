// The tray tooltip: the local figures, alarms first, and whole items within 127 characters.
#include "panel/tray_tooltip.h"

#include <gtest/gtest.h>

#include <memory>

#include "unit/panel_world.h"

namespace tarvelon {
namespace {

class TrayTooltip : public PanelWorld {
  protected:
    std::string tooltip() {
        buildPanelList(state->current);
        takePanelList(state->current, state->shown);
        char16_t text[kTooltipUnits];
        const int length = trayTooltipText(state->shown, alarms, *watches, rules, text);
        EXPECT_EQ(static_cast<size_t>(length), text16Length(text, kTooltipUnits));
        EXPECT_LE(length, 127);
        return toUtf8(text);
    }
    void setLocalFigures(int gpuCount) {
        LocalStore values{};
        values.host.cpuLoad = 12;
        for (int i = 0; i < gpuCount; ++i) {
            values.gpus[i].present = 1;
            values.gpus[i].gpuLoad = static_cast<uint8_t>(63 + i);
            values.gpus[i].coreTempC = static_cast<uint8_t>(71 + i);
        }
        publishLocalStore(values);
    }
    AlarmState alarms{};
    std::unique_ptr<RuleWatchState> watches = [] {
        auto fresh = std::make_unique<RuleWatchState>();
        clearRuleWatches(*fresh);
        return fresh;
    }();
    AlarmRules rules{};
};

TEST_F(TrayTooltip, NamesTheLocalFiguresAndTheAlarmsInForce) {
    setLocalFigures(2);
    EXPECT_EQ(tooltip(), "Tarvelon · CPU 12 % · GPU 0: 63 % 71 °C · GPU 1: 64 % 72 °C");

    addServer(4, 1, u"r1");
    alarms.gpuAlarmed[0][1] = true;
    alarms.gpuAlarmed[5][0] = true;
    alarms.serverLostNotified[9] = true;  // hidden from the panel
    EXPECT_EQ(tooltip(),
              "Tarvelon · Alarm: GPU 1 at 72 °C · Alarm: r1 GPU 0 at 0 °C · Alarm: server 10 not answering · "
              "CPU 12 % · GPU 0: 63 % 71 °C");
    alarms = AlarmState{};
    alarms.serverLostNotified[4] = true;
    EXPECT_EQ(tooltip().substr(0, 39), "Tarvelon · Alarm: r1 not answering · ");

    // Raised rules: on this PC's host tile, on r1's GPU 0, and on a server no longer shown (dropped).
    alarms = AlarmState{};
    rules.rules[0] = defaultRule(ruleFigureOf(u"cpu_load_pct"));
    rules.rules[1] = defaultRule(ruleFigureOf(u"gpu_core_c"));
    const struct {
        uint32_t server;
        int32_t gpuKey, gpu, rule;
    } raised[] = {{0, -1, -1, 0}, {serverIdentity(slotTable[4]), 0, 0, 1}, {12345, 0, 0, 1}};
    for (int e = 0; e < 3; ++e) {
        TileWatches& entry = watches->tiles[e];
        entry = {true, raised[e].server, raised[e].gpuKey, raised[e].gpu, {}};
        entry.rules[raised[e].rule].raised = true;
    }
    watches->entries = 3;
    EXPECT_EQ(tooltip().substr(0, 72),
              "Tarvelon · Alarm: SYSTEM cpu_load_pct · Alarm: GPU 0 gpu_core_c · CPU");
}

TEST_F(TrayTooltip, LeavesOutWhatDoesNotFitWhole) {
    setLocalFigures(16);
    const std::string text = tooltip();
    const std::string last = "GPU 4: 67 % 75 °C";
    EXPECT_EQ(text.substr(text.size() - last.size()), last);
}

}  // namespace
}  // namespace tarvelon
