// The settings and alarm rule persistence tests against the real registry of the Wine prefix.
#include "unit/alarm_rule_test.cpp"
#include "unit/settings_test.cpp"

namespace tarvelon {
namespace {

// Run only by e2e_registry_layout.sh, which then reads the key with `wine reg query`.
TEST(RegistryLayout, DISABLED_WritesAKnownConfiguration) {
    deleteSettingsKey();
    clearSettings();
    clearSlotTable();
    setDefaultSettings(1024, 768);
    ServerSlot& slot = slotTable[5];
    copyText16(slot.Hostname, kSlotTextUnits, u"gpu-box");
    slot.Port = 8221;
    slot.Enabled = 1;
    slot.Active = 1;
    saveSettings();
}

}  // namespace
}  // namespace tarvelon
