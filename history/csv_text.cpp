#include "history/csv_text.h"

#include <cstdio>
#include <initializer_list>

#include "platform/text16.h"

namespace tarvelon {
namespace {

constexpr const char* kHostColumns[kHistoryFigures] = {
    "cpu_load_pct", "cpu_mhz", "processes", "threads", "phys_free_mb", "virt_free_mb", "net_io_mbit",
};
constexpr const char* kGpuColumns[kHistoryFigures] = {
    "load_pct", "core_mhz", "mem_mhz", "free_mb", "fan_rpm", "core_c", "mem_c",
};

using Suffixes = std::initializer_list<const char*>;
constexpr Suffixes kPeriodSuffixes = {"_min", "_avg", "_max"};

void appendHostColumns(std::string& line, Suffixes suffixes = {""}) {
    for (const char* column : kHostColumns) {
        for (const char* suffix : suffixes) {
            line += ',';
            line += column;
            line += suffix;
        }
    }
}

void appendGpuColumns(std::string& line, int gpu, Suffixes suffixes = {""}) {
    for (const char* column : kGpuColumns) {
        for (const char* suffix : suffixes) {
            line += ",gpu";
            line += std::to_string(gpu);
            line += '_';
            line += column;
            line += suffix;
        }
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

std::string csvTextField(const std::string& text) {
    const bool formula = !text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@');
    const std::string field = formula ? "'" + text : text;
    if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
    std::string quoted = "\"";
    for (const char c : field) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
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

std::string csvPeriods(HistoryTier tier, int gpu, const PeriodFigures* periods, int32_t count,
                       LocalTime (*localTime)(int64_t)) {
    if (tier == HistoryTier::seconds) {
        std::string text = csvTileHeader(gpu);
        for (int32_t i = 0; i < count; ++i) {
            if (periods[i].seconds > 0) text += csvRow(localTime(periods[i].start), &periods[i].average, 1);
        }
        return text;
    }
    std::string text = "time";
    if (gpu < 0) {
        appendHostColumns(text, kPeriodSuffixes);
    } else {
        appendGpuColumns(text, gpu, kPeriodSuffixes);
    }
    text += "\r\n";
    for (int32_t i = 0; i < count; ++i) {
        const PeriodFigures& period = periods[i];
        if (period.seconds <= 0) continue;
        text += csvTime(localTime(period.start));
        for (int f = 0; f < kHistoryFigures; ++f) {
            for (uint32_t value : {period.minimum[f], period.average[f], period.maximum[f]}) {
                text += ',';
                text += std::to_string(value);
            }
        }
        text += "\r\n";
    }
    return text;
}

}  // namespace tarvelon
