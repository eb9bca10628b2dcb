// The one fatal failure: memory that cannot be allocated. Shows the "No more memory available" box
// naming the site, then ends the process with exit code 0.
#pragma once

#include <cstdint>

namespace tarvelon {

// Allocation sites named in the box.
enum AllocationSite : int32_t {
    kSiteGpuContext = 99182,
    kSiteServerIPv4 = 138912,
    kSiteServerIPv6 = 723922,
    kSitePollThread = 817634,
    kSiteTrayState = 288391,
};

// "MALLOC failed to allocate buffer in <site>\r\nYou simply need more memory\r\n..."
void formatOutOfMemoryText(char16_t* out, int capacity, int32_t site);

[[noreturn]] void failOutOfMemory(int32_t site);

}  // namespace tarvelon
