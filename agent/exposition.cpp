#include "agent/exposition.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace tarvelon {
namespace {

struct HostFamily {
    const char* name;
    const char* help;
    Figure MachineFigures::*figure;
};

constexpr HostFamily kHostFamilies[] = {
    {"tarvelon_cpus", "Logical processors online.", &MachineFigures::cpus},
    {"tarvelon_cpu_utilization_ratio", "Share of processor time neither idle nor waiting for I/O, 0 to 1.",
     &MachineFigures::cpuUtilization},
    {"tarvelon_cpu_frequency_hertz", "Mean current clock of the processors.", &MachineFigures::cpuHz},
    {"tarvelon_cpu_frequency_max_ratio", "Mean current clock as a share of the processors' maximum.",
     &MachineFigures::cpuMaxRatio},
    {"tarvelon_processes", "Processes running.", &MachineFigures::processes},
    {"tarvelon_threads", "Threads running.", &MachineFigures::threads},
    {"tarvelon_memory_total_bytes", "Physical memory.", &MachineFigures::memoryBytes},
    {"tarvelon_memory_available_bytes", "Physical memory available to start programs without swapping.",
     &MachineFigures::memoryAvailableBytes},
    {"tarvelon_commit_limit_bytes", "Commit limit: physical memory and page files or swap.",
     &MachineFigures::commitBytes},
    {"tarvelon_commit_available_bytes", "Commit limit not yet committed.",
     &MachineFigures::commitAvailableBytes},
    // The reply carries megabits (2^20 bits) a second; Prometheus's base unit is the byte.
    {"tarvelon_network_io_bytes_per_second",
     "Bytes received and sent a second over all interfaces, as whole mebibits a second per interface.",
     &MachineFigures::networkBytesPerSecond},
    {"tarvelon_last_sample_timestamp_seconds", "When the agent last read the machine, in Unix time.",
     &MachineFigures::lastSampleSeconds},
    {"tarvelon_gpu_library_up", "1 while the NVIDIA management library is loaded and started, else 0.",
     &MachineFigures::gpuLibraryUp},
    {"tarvelon_gpus", "GPUs found: NVIDIA's, then AMD's and Intel's.", &MachineFigures::gpuCount},
};

// A GPU family has one series per GPU, or two told apart by one more label.
struct GpuSeries {
    const char* labelValue;
    Figure GpuFigures::*figure;
};
struct GpuFamily {
    const char* name;
    const char* help;
    const char* type;
    const char* label;  // null: one series
    GpuSeries series[3];
};

constexpr GpuFamily kGpuFamilies[] = {
    {"tarvelon_gpu_utilization_ratio",
     "Share of time the GPU was busy, 0 to 1.",
     "gauge",
     nullptr,
     {{nullptr, &GpuFigures::utilization}}},
    {"tarvelon_gpu_clock_hertz",
     "Current clock of the GPU's graphics or memory domain.",
     "gauge",
     "clock",
     {{"graphics", &GpuFigures::graphicsHz}, {"memory", &GpuFigures::memoryHz}}},
    {"tarvelon_gpu_clock_max_hertz",
     "Highest clock of the GPU's graphics or memory domain.",
     "gauge",
     "clock",
     {{"graphics", &GpuFigures::graphicsMaxHz}, {"memory", &GpuFigures::memoryMaxHz}}},
    {"tarvelon_gpu_memory_total_bytes",
     "Video memory.",
     "gauge",
     nullptr,
     {{nullptr, &GpuFigures::memoryBytes}}},
    {"tarvelon_gpu_memory_free_bytes",
     "Video memory free.",
     "gauge",
     nullptr,
     {{nullptr, &GpuFigures::memoryFreeBytes}}},
    {"tarvelon_gpu_memory_used_bytes",
     "Video memory in use.",
     "gauge",
     nullptr,
     {{nullptr, &GpuFigures::memoryUsedBytes}}},
    {"tarvelon_gpu_fan_speed_rpm",
     "Fan speed in revolutions a minute.",
     "gauge",
     nullptr,
     {{nullptr, &GpuFigures::fanRpm}}},
    {"tarvelon_gpu_temperature_celsius",
     "Temperature of the GPU core, its memory or its hottest spot.",
     "gauge",
     "sensor",
     {{"core", &GpuFigures::coreCelsius},
      {"memory", &GpuFigures::memoryCelsius},
      {"hotspot", &GpuFigures::hotspotCelsius}}},
    {"tarvelon_gpu_power_watts",
     "Power drawn by the board.",
     "gauge",
     nullptr,
     {{nullptr, &GpuFigures::powerWatts}}},
    {"tarvelon_gpu_power_limit_watts",
     "Power limit the driver enforces.",
     "gauge",
     nullptr,
     {{nullptr, &GpuFigures::powerLimitWatts}}},
    {"tarvelon_gpu_energy_joules_total",
     "Energy the GPU used since the driver was loaded.",
     "counter",
     nullptr,
     {{nullptr, &GpuFigures::energyJoules}}},
};

// Writes a family's HELP and TYPE before its first series; a family without series is left out.
struct Writer {
    std::string text;
    const char* family = nullptr;
    const char* help = nullptr;
    const char* type = nullptr;
    bool headed = false;

    void begin(const char* name, const char* helpText, const char* typeName) {
        family = name;
        help = helpText;
        type = typeName;
        headed = false;
    }
    // labels: each as ,name="escaped value"
    void series(const std::string& labels, double value) {
        if (!headed) {
            text += std::string("# HELP ") + family + " " + help + "\n# TYPE " + family + " " + type + "\n";
            headed = true;
        }
        text += family;
        if (!labels.empty()) text += "{" + labels.substr(1) + "}";
        text += " " + sampleValue(value) + "\n";
    }
};

std::string label(const char* name, const std::string& value) {
    return std::string(",") + name + "=\"" + escapeLabelValue(value) + "\"";
}

// The label of an identity that is known; an empty one would only say "unknown".
std::string labelIfKnown(const char* name, const std::string& value) {
    return value.empty() ? std::string() : label(name, value);
}

void writeGpus(Writer& writer, const std::vector<GpuFigures>& gpus) {
    writer.begin("tarvelon_gpu_info",
                 "The GPU in this slot: its vendor, name, UUID, PCI bus id and driver version; always 1.",
                 "gauge");
    for (const GpuFigures& gpu : gpus) {
        writer.series(label("gpu", std::to_string(gpu.slot)) + labelIfKnown("vendor", gpu.vendor) +
                          label("name", gpu.name) + labelIfKnown("uuid", gpu.uuid) +
                          labelIfKnown("pci_bus_id", gpu.pciBusId) +
                          labelIfKnown("driver_version", gpu.driverVersion),
                      1);
    }
    for (const GpuFamily& family : kGpuFamilies) {
        writer.begin(family.name, family.help, family.type);
        for (const GpuFigures& gpu : gpus) {
            for (const GpuSeries& series : family.series) {
                if (series.figure == nullptr) continue;
                const Figure& figure = gpu.*series.figure;
                if (!figure.present) continue;
                writer.series(label("gpu", std::to_string(gpu.slot)) +
                                  (family.label ? label(family.label, series.labelValue) : ""),
                              figure.value);
            }
        }
    }
    writer.begin("tarvelon_gpu_clock_throttle_active",
                 "1 while the reason holds the GPU's clocks down, else 0.", "gauge");
    for (const GpuFigures& gpu : gpus) {
        if (!gpu.throttleRead) continue;
        for (const NvmlThrottleReason& reason : kNvmlThrottleReasons)
            writer.series(label("gpu", std::to_string(gpu.slot)) + label("reason", reason.label),
                          (gpu.throttleReasons & reason.bit) != 0 ? 1 : 0);
    }
}

void writeGpuProcesses(Writer& writer, const std::vector<GpuProcess>& processes) {
    const auto labels = [](const GpuProcess& process) {
        return label("gpu", std::to_string(process.slot)) + label("pid", std::to_string(process.pid)) +
               label("command", process.command);
    };
    writer.begin("tarvelon_gpu_process_memory_bytes",
                 "GPU memory the process holds; the processes with the most, at most 20 a GPU.", "gauge");
    for (const GpuProcess& process : processes) {
        if (process.memoryRead) writer.series(labels(process), static_cast<double>(process.memoryBytes));
    }
    writer.begin("tarvelon_gpu_process_busy_ratio",
                 "Share of time the process kept the GPU's busiest engine busy, 0 to 1.", "gauge");
    for (const GpuProcess& process : processes) {
        if (process.busyRead) writer.series(labels(process), process.busyRatio);
    }
}

void writeMachine(Writer& writer, const MachineFigures& figures) {
    writer.begin("tarvelon_host_info", "The name the machine answers with; always 1.", "gauge");
    writer.series(label("host", figures.hostName), 1);
    for (const HostFamily& family : kHostFamilies) {
        writer.begin(family.name, family.help, "gauge");
        const Figure& figure = figures.*family.figure;
        if (figure.present) writer.series("", figure.value);
    }
    writer.begin("tarvelon_cpu_seconds_total", "Processor time spent in each mode, over all processors.",
                 "counter");
    if (figures.processorTimesRead) {
        for (int mode = 0; mode < kProcessorTimeFields; ++mode)
            writer.series(label("mode", kProcessorModes[mode]), figures.processorSeconds[mode]);
    }
    writeGpus(writer, figures.gpus);
    writeGpuProcesses(writer, figures.gpuProcesses);
    const struct {
        const char* name;
        const char* help;
        uint64_t InterfaceCounters::*bytes;
    } counters[] = {
        {"tarvelon_network_receive_bytes_total", "Bytes received by the interface.",
         &InterfaceCounters::receivedBytes},
        {"tarvelon_network_transmit_bytes_total", "Bytes sent by the interface.",
         &InterfaceCounters::sentBytes},
    };
    for (const auto& family : counters) {
        writer.begin(family.name, family.help, "counter");
        for (const InterfaceCounters& network : figures.network)
            writer.series(label("interface", network.name), static_cast<double>(network.*family.bytes));
    }
}

}  // namespace

std::string escapeLabelValue(const std::string& value) {
    std::string escaped;
    escaped.reserve(value.size());
    for (char c : value) {
        if (c == '\\' || c == '"') {
            escaped += '\\';
            escaped += c;
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string sampleValue(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    if (value == std::floor(value) && std::fabs(value) <= 9007199254740992.0) {
        char text[24];
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
        return text;
    }
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string machineExposition(const MachineFigures& figures) {
    Writer writer;
    writeMachine(writer, figures);
    return writer.text;
}

std::string processExposition(const ProcessFigures& process, const char* version) {
    Writer writer;
    writer.begin("tarvelon_build_info", "The agent's version; always 1.", "gauge");
    writer.series(label("version", version), 1);
    const struct {
        const char* name;
        const char* help;
        const char* type;
        Figure ProcessFigures::*figure;
    } families[] = {
        {"process_cpu_seconds_total", "Processor time the agent used, user and system.", "counter",
         &ProcessFigures::cpuSeconds},
        {"process_resident_memory_bytes", "The agent's resident memory.", "gauge",
         &ProcessFigures::residentBytes},
        {"process_virtual_memory_bytes", "The agent's virtual memory.", "gauge",
         &ProcessFigures::virtualBytes},
        {"process_start_time_seconds", "When the agent started, in Unix time.", "gauge",
         &ProcessFigures::startTimeSeconds},
        {"process_open_fds", "File descriptors the agent has open.", "gauge", &ProcessFigures::openFds},
        {"process_max_fds", "The agent's limit of open file descriptors.", "gauge", &ProcessFigures::maxFds},
    };
    for (const auto& family : families) {
        writer.begin(family.name, family.help, family.type);
        const Figure& figure = process.*family.figure;
        if (figure.present) writer.series("", figure.value);
    }
    return writer.text;
}

std::string probeExposition(bool success, double durationSeconds, const MachineFigures* figures) {
    Writer writer;
    writer.begin("tarvelon_probe_success", "1 when the target answered the query with a full reply.",
                 "gauge");
    writer.series("", success ? 1 : 0);
    writer.begin("tarvelon_probe_duration_seconds", "Time the probe took, name resolution included.",
                 "gauge");
    writer.series("", durationSeconds);
    if (figures != nullptr) writeMachine(writer, *figures);
    return writer.text;
}

}  // namespace tarvelon
