// The agent's log: one line per change of state on standard error, stamped with the local time
// unless systemd's journal, which stamps lines itself, reads it. Also the lines themselves: the query
// server's state, the outcome of opening the GPU library, and host sources that went missing or came
// back. Nothing is logged per request.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "agent/linux_host.h"
#include "agent/nvml_gpus.h"

namespace tarvelon {

void logLine(const std::string& text);

// "query server running on UDP port 8221", "query server error: ... (the port is already in use)".
std::string serverStateLine(int32_t state, const char16_t* message, uint16_t port);

std::string gpuOutcomeLine(NvmlOpenOutcome outcome, int32_t count, const std::string& library);

// A line for every source that went missing or came back between two passes.
std::vector<std::string> hostGapLines(const HostSourceGaps& before, const HostSourceGaps& now);

}  // namespace tarvelon
