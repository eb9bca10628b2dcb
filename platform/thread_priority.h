// Thread priority: the poll threads run below everything else the machine does.
#pragma once

namespace tarvelon {

// Lowers the calling thread to the lowest priority an ordinary program may use (THREAD_PRIORITY_LOWEST
// on Windows, the highest nice value natively).
void setCurrentThreadLowestPriority();

}  // namespace tarvelon
