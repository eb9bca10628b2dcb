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
    {"tarvelon_memory_bytes", "Physical memory.", &MachineFigures::memoryBytes},
    {"tarvelon_memory_free_bytes", "Physical memory available.", &MachineFigures::memoryFreeBytes},
    {"tarvelon_commit_limit_bytes", "Commit limit: physical memory and page files or swap.",
     &MachineFigures::commitBytes},
    {"tarvelon_commit_free_bytes", "Commit limit not yet committed.", &MachineFigures::commitFreeBytes},
    {"tarvelon_network_io_bytes_per_second",
     "Bytes received and sent a second over all interfaces, in whole mebibytes per interface.",
     &MachineFigures::networkBytesPerSecond},
    {"tarvelon_gpus", "NVIDIA GPUs found.", &MachineFigures::gpuCount},
};

// A GPU family has one series per GPU, or two told apart by one more label.
struct GpuSeries {
    const char* labelValue;
    Figure GpuFigures::*figure;
};
struct GpuFamily {
    const char* name;
    const char* help;
    const char* label;  // null: one series
    GpuSeries series[2];
};

constexpr GpuFamily kGpuFamilies[] = {
    {"tarvelon_gpu_utilization_ratio",
     "Share of time the GPU was busy, 0 to 1.",
     nullptr,
     {{nullptr, &GpuFigures::utilization}}},
    {"tarvelon_gpu_clock_hertz",
     "Current clock of the GPU's graphics or memory domain.",
     "clock",
     {{"graphics", &GpuFigures::graphicsHz}, {"memory", &GpuFigures::memoryHz}}},
    {"tarvelon_gpu_clock_max_hertz",
     "Highest clock of the GPU's graphics or memory domain.",
     "clock",
     {{"graphics", &GpuFigures::graphicsMaxHz}, {"memory", &GpuFigures::memoryMaxHz}}},
    {"tarvelon_gpu_memory_bytes", "Video memory.", nullptr, {{nullptr, &GpuFigures::memoryBytes}}},
    {"tarvelon_gpu_memory_free_bytes",
     "Video memory free.",
     nullptr,
     {{nullptr, &GpuFigures::memoryFreeBytes}}},
    {"tarvelon_gpu_fan_speed_rpm",
     "Fan speed in revolutions a minute.",
     nullptr,
     {{nullptr, &GpuFigures::fanRpm}}},
    {"tarvelon_gpu_temperature_celsius",
     "Temperature of the GPU core or its memory.",
     "sensor",
     {{"core", &GpuFigures::coreCelsius}, {"memory", &GpuFigures::memoryCelsius}}},
};

// Writes a family's HELP and TYPE before its first series; a family without series is left out.
struct Writer {
    std::string text;
    std::string hostLabel;
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
    // labels: what follows the host label, each as ,name="escaped value"
    void series(const std::string& labels, double value) {
        if (!headed) {
            text += std::string("# HELP ") + family + " " + help + "\n# TYPE " + family + " " + type + "\n";
            headed = true;
        }
        text += family;
        if (!hostLabel.empty() || !labels.empty()) text += "{" + hostLabel + labels + "}";
        text += " " + sampleValue(value) + "\n";
    }
};

std::string label(const char* name, const std::string& value, bool first = false) {
    return std::string(first ? "" : ",") + name + "=\"" + escapeLabelValue(value) + "\"";
}

void writeMachine(Writer& writer, const MachineFigures& figures) {
    writer.hostLabel = label("host", figures.hostName, true);
    for (const HostFamily& family : kHostFamilies) {
        writer.begin(family.name, family.help, "gauge");
        const Figure& figure = figures.*family.figure;
        if (figure.present) writer.series("", figure.value);
    }
    std::vector<std::string> gpuLabels;
    for (const GpuFigures& gpu : figures.gpus)
        gpuLabels.push_back(label("gpu", std::to_string(gpu.slot)) + label("name", gpu.name));

    writer.begin("tarvelon_gpu_info", "GPU in this slot, with its PCI bus and device numbers; always 1.",
                 "gauge");
    for (size_t i = 0; i < figures.gpus.size(); ++i) {
        const GpuFigures& gpu = figures.gpus[i];
        writer.series(gpuLabels[i] + label("pci_bus", std::to_string(gpu.pciBus)) +
                          label("pci_device", std::to_string(gpu.pciDevice)),
                      1);
    }
    for (const GpuFamily& family : kGpuFamilies) {
        writer.begin(family.name, family.help, "gauge");
        for (size_t i = 0; i < figures.gpus.size(); ++i) {
            for (const GpuSeries& series : family.series) {
                if (series.figure == nullptr) continue;
                const Figure& figure = figures.gpus[i].*series.figure;
                if (!figure.present) continue;
                writer.series(gpuLabels[i] + (family.label ? label(family.label, series.labelValue) : ""),
                              figure.value);
            }
        }
    }
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
