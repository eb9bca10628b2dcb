// The text of the CSV files: UTF-8, comma-separated, CRLF line ends. The log's lines carry the local
// host's figures and then each local GPU's in panel order; a saved history carries one tile's.
#pragma once

#include <cstdint>
#include <string>

#include "history/history_read.h"
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

// A text field: quoted when it holds a comma, a quote or a line break, its quotes doubled. One that
// starts with =, +, - or @ gets a leading ' first, so that a spreadsheet shows it rather than running
// it as a formula.
std::string csvTextField(const std::string& text);

// One tile's periods of tier (gpu as in csvTileHeader), a row for each period with a value: per
// second the columns of csvTileHeader, per minute or hour each column as _min, _avg and _max, `time`
// the period's start. localTime gives the local time of a wall-clock second.
std::string csvPeriods(HistoryTier tier, int gpu, const PeriodFigures* periods, int32_t count,
                       LocalTime (*localTime)(int64_t));

}  // namespace tarvelon
