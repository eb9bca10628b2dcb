#include "platform/fatal.h"

#include <gtest/gtest.h>

#include <thread>

namespace tarvelon {
namespace {

TEST(ThreadStart, AThreadTheSystemCannotCreateEndsWithTheBoxOfItsSite) {
    const auto refused = []() -> std::thread {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    };
    EXPECT_EXIT(startThreadOrFail(kSitePollThread, refused), testing::ExitedWithCode(0),
                "MALLOC failed to allocate buffer in 817634");
    const auto noMemory = []() -> std::thread { throw std::bad_alloc(); };
    EXPECT_EXIT(startThreadOrFail(kSiteSamplerThread, noMemory), testing::ExitedWithCode(0),
                "MALLOC failed to allocate buffer in 472615");
}

}  // namespace
}  // namespace tarvelon
