// The tray tooltip: the local figures, alarms first, and whole items within 127 characters.
#include <gtest/gtest.h>

#include "panel/tray_tooltip.h"
#include "unit/panel_world.h"

namespace tarvelon {
namespace {

class TrayTooltip : public PanelWorld {
  protected:
    std::string tooltip() {
        buildPanelList(state->current);
        takePanelList(state->current, state->shown);
        char16_t text[kTooltipUnits];
        const int length = trayTooltipText(state->shown, alarms, text);
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
};

TEST_F(TrayTooltip, NamesTheLocalFiguresAndTheAlarmsInForce) {
    setLocalFigures(2);
    EXPECT_EQ(tooltip(), "Tarvelon · CPU 12 % · GPU 0: 63 % 71 °C · GPU 1: 64 % 72 °C");

    addServer(4, 1, u"r1");
    alarms.gpuAlarmed[0][1] = true;
    alarms.gpuAlarmed[5][0] = true;
    alarms.serverLostNotified[9] = true;  // hidden from the panel
    EXPECT_EQ(tooltip(), "Tarvelon · Alarm: GPU 1 at 72 °C · Alarm: r1 GPU 0 at 0 °C · Alarm: server 10 not answering · "
                         "CPU 12 % · GPU 0: 63 % 71 °C");
    alarms = AlarmState{};
    alarms.serverLostNotified[4] = true;
    EXPECT_EQ(tooltip().substr(0, 39), "Tarvelon · Alarm: r1 not answering · ");
}

TEST_F(TrayTooltip, LeavesOutWhatDoesNotFitWhole) {
    setLocalFigures(16);
    const std::string text = tooltip();
    const std::string last = "GPU 4: 67 % 75 °C";
    EXPECT_EQ(text.substr(text.size() - last.size()), last);
}

}  // namespace
}  // namespace tarvelon
