#include "agent/process_figures.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace tarvelon {
namespace {

std::string fileText(const char* path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

double bootTimeSeconds() {
    const std::string stat = fileText("/proc/stat");
    const size_t at = stat.find("\nbtime ");
    return at == std::string::npos ? 0 : std::strtod(stat.c_str() + at + 7, nullptr);
}

Figure openDescriptors() {
    DIR* directory = opendir("/proc/self/fd");
    if (directory == nullptr) return Figure{false, 0};
    double count = 0;
    while (const dirent* entry = readdir(directory)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(directory);
    return Figure{true, count - 1};  // less the descriptor that lists them
}

}  // namespace

ProcessFigures parseProcessStat(const std::string& stat, double bootTimeSeconds, long ticksPerSecond,
                                long pageBytes) {
    ProcessFigures figures{};
    // The command name in parentheses may hold spaces and parentheses itself: fields start after the last
    // ')'.
    const size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos || ticksPerSecond <= 0) return figures;
    unsigned long long utime = 0, stime = 0, start = 0, vsize = 0, rss = 0;
    // From field 3 (state) on: utime is 14, stime 15, starttime 22, vsize 23, rss 24.
    if (std::sscanf(
            stat.c_str() + nameEnd + 1,
            " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu %*d %*d %*d %*d %*d %*d %llu %llu %llu",
            &utime, &stime, &start, &vsize, &rss) != 5)
        return figures;
    const double ticks = static_cast<double>(ticksPerSecond);
    figures.cpuSeconds = Figure{true, static_cast<double>(utime + stime) / ticks};
    figures.residentBytes = Figure{true, static_cast<double>(rss) * static_cast<double>(pageBytes)};
    figures.virtualBytes = Figure{true, static_cast<double>(vsize)};
    figures.startTimeSeconds =
        Figure{bootTimeSeconds > 0, bootTimeSeconds + static_cast<double>(start) / ticks};
    return figures;
}

ProcessFigures readProcessFigures() {
    ProcessFigures figures = parseProcessStat(fileText("/proc/self/stat"), bootTimeSeconds(),
                                              sysconf(_SC_CLK_TCK), sysconf(_SC_PAGESIZE));
    figures.openFds = openDescriptors();
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        figures.maxFds = Figure{true, static_cast<double>(limit.rlim_cur)};
    return figures;
}

}  // namespace tarvelon
