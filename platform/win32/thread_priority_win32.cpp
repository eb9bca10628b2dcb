#include <windows.h>

#include "platform/thread_priority.h"

namespace tarvelon {

void setCurrentThreadLowestPriority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
}

}  // namespace tarvelon
