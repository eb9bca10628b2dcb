#include "platform/fatal.h"

#include "platform/text16.h"

namespace tarvelon {

void formatOutOfMemoryText(char16_t* out, int capacity, int32_t site) {
    format16(out, static_cast<size_t>(capacity),
             u"MALLOC failed to allocate buffer in %d\r\nYou simply need more memory\r\n"
             u"Please try again with more memory",
             site);
}

}  // namespace tarvelon
