#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/thread_priority.h"

namespace tarvelon {

// Linux keeps a nice value per thread; setpriority on the thread id lowers this thread alone.
void setCurrentThreadLowestPriority() {
    const id_t thread = static_cast<id_t>(syscall(SYS_gettid));
    setpriority(PRIO_PROCESS, thread, 19);
}

}  // namespace tarvelon
