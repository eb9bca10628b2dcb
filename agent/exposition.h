// Prometheus's text exposition format (version 0.0.4) of one machine's figures: every family with its
// HELP and TYPE lines, then its series. The host name and each GPU's identity are labels of info
// series only; value series carry just the labels that tell them apart (gpu, sensor, ...). One writer
// serves both endpoints; a probe adds the probe's own families, /metrics the agent's process.
#pragma once

#include <string>

#include "agent/machine_figures.h"
#include "agent/process_figures.h"

namespace tarvelon {

constexpr const char* kExpositionContentType = "text/plain; version=0.0.4; charset=utf-8";

// A label value between its quotes: backslash, double quote and line feed escaped.
std::string escapeLabelValue(const std::string& value);
// A sample value: whole numbers up to 2^53 as integers, anything else in the shortest form that
// reads back as the same double.
std::string sampleValue(double value);

std::string machineExposition(const MachineFigures& figures);

// The agent itself: tarvelon_build_info and the usual process_* families.
std::string processExposition(const ProcessFigures& process, const char* version);

// figures: the target's, or null when the probe failed (only the probe's own families then).
std::string probeExposition(bool success, double durationSeconds, const MachineFigures* figures);

}  // namespace tarvelon
