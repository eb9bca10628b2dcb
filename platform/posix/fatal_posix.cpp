#include <cstdio>
#include <cstdlib>

#include "platform/fatal.h"
#include "platform/text16.h"

namespace tarvelon {

void failOutOfMemory(int32_t site) {
    char16_t text[200];
    formatOutOfMemoryText(text, 200, site);
    std::fprintf(stderr, "No more memory available: %s\n", toUtf8(text).c_str());
    std::_Exit(0);
}

}  // namespace tarvelon
