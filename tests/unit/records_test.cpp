#include <gtest/gtest.h>

#include <cstring>

#include "telemetry/local_store.h"

namespace tarvelon {
namespace {

TEST(LocalStore, StartsZeroAndKeepsGpusRightAfterTheHost) {
    clearLocalStore();
    LocalStore store = readLocalStore();
    const auto* bytes = reinterpret_cast<const uint8_t*>(&store);
    for (size_t i = 0; i < sizeof store; ++i) ASSERT_EQ(bytes[i], 0) << i;
    EXPECT_EQ(sizeof(LocalStore), 124u + 16u * 108u);
}

TEST(LocalStore, PublishKeepsChangeFlagsAndTakeConsumesThemOnce) {
    clearLocalStore();
    markLocalStoreChanged(1);
    LocalStore values{};
    values.host.cpuLoad = 42;
    values.gpus[3].present = 1;
    publishLocalStore(values);

    LocalStore first = takeLocalStore();
    EXPECT_EQ(first.host.cpuLoad, 42);
    EXPECT_EQ(first.host.changed, 1);
    EXPECT_EQ(first.gpus[3].changed, 1);
    EXPECT_EQ(first.gpus[3].present, 1);

    LocalStore second = takeLocalStore();
    EXPECT_EQ(second.host.changed, 0);
    EXPECT_EQ(second.gpus[3].changed, 0);
    clearLocalStore();
}

}  // namespace
}  // namespace tarvelon
