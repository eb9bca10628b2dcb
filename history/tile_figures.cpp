#include "history/tile_figures.h"

namespace tarvelon {

void hostFigures(const HostRecord& host, HistoryFigures& figures) {
    figures[0] = host.cpuLoad;
    figures[1] = host.cpuMhz;
    figures[2] = host.processCount;
    figures[3] = host.threadCount;
    figures[4] = host.physFreeMb;
    figures[5] = host.pageFreeMb;
    figures[6] = host.netIoMbit;
}

void gpuFigures(const GpuRecord& gpu, HistoryFigures& figures) {
    figures[0] = gpu.gpuLoad;
    figures[1] = gpu.coreMhz;
    figures[2] = gpu.memMhz;
    figures[3] = gpu.memFreeMb;
    figures[4] = uint32_t{gpu.fanRpmDiv32} * 32;
    figures[5] = gpu.coreTempC;
    figures[6] = gpu.memTempC;
}

}  // namespace tarvelon
