// Builds the world the panel reads in tests: the local store, shown server slots and settings.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "net/slot_table.h"
#include "panel/panel.h"
#include "panel/recording_surface.h"
#include "platform/text16.h"
#include "settings/settings.h"
#include "telemetry/local_store.h"
#include "unit/rgb_print.h"

namespace tarvelon {

class PanelWorld : public testing::Test {
  protected:
    void SetUp() override {
        clearLocalStore();
        clearSlotTable();
        clearSettings();
        setDefaultSettings(1920, 1080);
        state = std::make_unique<PanelState>();
    }

    // The local machine with gpuCount GPUs in slots 0.. (each GPU's pciBus is its slot + 1).
    static void setLocal(int gpuCount, const char16_t* hostName = u"My Hostname") {
        LocalStore values{};
        copyText16(values.host.hostName, kRecordTextUnits, hostName);
        values.host.cpuCount = 8;
        values.host.gpuCount = static_cast<uint8_t>(gpuCount);
        for (int i = 0; i < gpuCount; ++i) {
            values.gpus[i].present = 1;
            values.gpus[i].pciBus = static_cast<uint8_t>(i + 1);
        }
        publishLocalStore(values);
    }

    // A started server in the given slot with gpuCount GPUs.
    static ServerSlot& addServer(int slot, int gpuCount, const char16_t* hostName = u"gpu-box",
                                 int32_t status = kStatusOk, int32_t enabled = 1) {
        ServerSlot& server = slotTable[slot];
        server.Active = 1;
        server.Enabled = enabled;
        server.Status = status;
        server.State = kStateStarted;
        updateSlotRecords(server, [&](HostRecord& host, GpuRecord(&gpus)[kGpuSlots]) {
            host = HostRecord{};
            copyText16(host.hostName, kRecordTextUnits, hostName);
            host.cpuCount = static_cast<uint16_t>(slot + 100);
            host.gpuCount = static_cast<uint8_t>(gpuCount);
            for (int i = 0; i < kGpuSlots; ++i) {
                gpus[i] = GpuRecord{};
                gpus[i].present = i < gpuCount ? 1 : 0;
                gpus[i].pciSlot = static_cast<uint8_t>(slot);
            }
        });
        return server;
    }

    // Runs a pass on a fresh record of what it drew.
    void full() {
        surface.clearRecords();
        fullPass(*state, surface);
    }
    void tick() {
        surface.clearRecords();
        tickPass(*state, surface);
    }

    std::unique_ptr<PanelState> state;
    RecordingSurface surface{{100, 200, 600, 700}};
};

}  // namespace tarvelon
