// The text of the CSV files: UTF-8, comma-separated, CRLF line ends. The log's lines carry the local
// host's figures and then each local GPU's in panel order; a saved history carries one tile's.
#pragma once

#include <cstdint>
#include <string>

#include "history/history_ring.h"
#include "platform/local_time.h"

namespace tarvelon {

// "tarvelon-YYYY-MM-DD.csv" for the local date of time.
std::u16string csvFileName(const LocalTime& time);
// "YYYY-MM-DD HH:MM:SS".
std::string csvTime(const LocalTime& time);

// time, the host's seven columns, then gpuI_... for I from 0 to gpuCount - 1; CRLF at the end.
std::string csvLogHeader(int gpuCount);
// One tile's header: time and the host's columns (gpu < 0), or GPU gpu's.
std::string csvTileHeader(int gpu);
// time, then every figure of figures (count groups of seven); CRLF at the end.
std::string csvRow(const LocalTime& time, const HistoryFigures* figures, int count);

}  // namespace tarvelon
