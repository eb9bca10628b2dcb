// The commands that write a file and end: `tarvelon.exe --export-history TILE MINUTES FILE` and
// `tarvelon.exe --gpu-processes FILE`. Each runs beside any running panel (no second panel, no
// hand-over) and tells the console it was started from how it went.
#pragma once

namespace tarvelon {

// True when the command line asks for one of them, which has then run: *exitCode is its outcome.
bool runExportIfAsked(int* exitCode);

}  // namespace tarvelon
