// The agent's own process as Prometheus's client libraries describe theirs: processor time, memory,
// start time and file descriptors, read from /proc/self when asked.
#pragma once

#include <string>

#include "agent/machine_figures.h"

namespace tarvelon {

struct ProcessFigures {
    Figure cpuSeconds;
    Figure residentBytes;
    Figure virtualBytes;
    Figure startTimeSeconds;  // Unix time
    Figure openFds;
    Figure maxFds;
};

// From the text of /proc/self/stat and the machine's boot time (btime of /proc/stat, Unix time); the
// figures of a text that does not read are absent.
ProcessFigures parseProcessStat(const std::string& stat, double bootTimeSeconds, long ticksPerSecond,
                                long pageBytes);

ProcessFigures readProcessFigures();

}  // namespace tarvelon
