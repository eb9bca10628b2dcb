#include "history/csv_text.h"

#include <cstdio>

#include "platform/text16.h"

namespace tarvelon {
namespace {

constexpr const char* kHostColumns[kHistoryFigures] = {
    "cpu_load_pct", "cpu_mhz", "processes", "threads", "phys_free_mb", "virt_free_mb", "net_io_mbit",
};
constexpr const char* kGpuColumns[kHistoryFigures] = {
    "load_pct", "core_mhz", "mem_mhz", "free_mb", "fan_rpm", "core_c", "mem_c",
};

void appendHostColumns(std::string& line) {
    for (const char* column : kHostColumns) {
        line += ',';
        line += column;
    }
}

void appendGpuColumns(std::string& line, int gpu) {
    for (const char* column : kGpuColumns) {
        line += ",gpu";
        line += std::to_string(gpu);
        line += '_';
        line += column;
    }
}

}  // namespace

std::u16string csvFileName(const LocalTime& time) {
    char16_t name[32];
    format16(name, 32, u"tarvelon-%04d-%02d-%02d.csv", time.year, time.month, time.day);
    return name;
}

std::string csvTime(const LocalTime& time) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", static_cast<int>(time.year),
                  static_cast<int>(time.month), static_cast<int>(time.day), static_cast<int>(time.hour),
                  static_cast<int>(time.minute), static_cast<int>(time.second));
    return text;
}

std::string csvLogHeader(int gpuCount) {
    std::string line = "time";
    appendHostColumns(line);
    for (int gpu = 0; gpu < gpuCount; ++gpu) appendGpuColumns(line, gpu);
    return line + "\r\n";
}

std::string csvTileHeader(int gpu) {
    std::string line = "time";
    if (gpu < 0) {
        appendHostColumns(line);
    } else {
        appendGpuColumns(line, gpu);
    }
    return line + "\r\n";
}

std::string csvRow(const LocalTime& time, const HistoryFigures* figures, int count) {
    std::string line = csvTime(time);
    for (int i = 0; i < count; ++i) {
        for (uint32_t value : figures[i]) {
            line += ',';
            line += std::to_string(value);
        }
    }
    return line + "\r\n";
}

}  // namespace tarvelon
