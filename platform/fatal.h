// The one fatal failure: memory (or a thread) that cannot be allocated. Shows the "No more memory
// available" box naming the site, then ends the process with exit code 0.
#pragma once

#include <cstdint>
#include <new>
#include <system_error>

namespace tarvelon {

// Allocation sites named in the box.
enum AllocationSite : int32_t {
    kSiteGpuContext = 99182,
    kSiteServerIPv4 = 138912,
    kSiteServerIPv6 = 723922,
    kSitePollThread = 817634,
    kSiteTrayState = 288391,
    kSiteSamplerThread = 472615,
    kSiteClientManager = 539017,
    kSiteNameResolution = 361548,
    kSiteCsvLog = 604127,
    kSiteHistoryArchive = 915304,
    kSiteRemoteProcesses = 226491,
};

// "MALLOC failed to allocate buffer in <site>\r\nYou simply need more memory\r\n..."
void formatOutOfMemoryText(char16_t* out, int capacity, int32_t site);

[[noreturn]] void failOutOfMemory(int32_t site);

// Returns what start() returns (a thread it created); a thread the system cannot create ends the
// process with the box of site rather than with an uncaught exception's bare abort.
template <typename Start>
auto startThreadOrFail(int32_t site, Start start) -> decltype(start()) {
    try {
        return start();
    } catch (const std::system_error&) {
        failOutOfMemory(site);
    } catch (const std::bad_alloc&) {
        failOutOfMemory(site);
    }
}

}  // namespace tarvelon
