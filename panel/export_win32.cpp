#include "panel/export_win32.h"

#include <windows.h>
// After windows.h.
#include <shellapi.h>

#include <cstring>
#include <string>

#include "history/history_export.h"
#include "panel/gpu_processes_command.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace tarvelon {
namespace {

// A GUI program has no console of its own: a redirected stream is used as it is, else the console of
// the program that started it, if any. Never a message box: an export runs from scripts.
void tellConsole(const char* text) {
    HANDLE out = GetStdHandle(STD_ERROR_HANDLE);
    const bool redirected = out != nullptr && out != INVALID_HANDLE_VALUE &&
                            (GetFileType(out) == FILE_TYPE_DISK || GetFileType(out) == FILE_TYPE_PIPE);
    if (!redirected) {
        if (AttachConsole(ATTACH_PARENT_PROCESS) == FALSE) return;
        out = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                          nullptr);
        if (out == INVALID_HANDLE_VALUE) return;
    }
    const std::string line = std::string(text) + "\r\n";
    DWORD written = 0;
    WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace

bool runExportIfAsked(int* exitCode) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr) return false;
    const auto argument = [&](int i) { return std::u16string(reinterpret_cast<const char16_t*>(arguments[i])); };
    const bool asked = count >= 2 && argument(1) == u"--export-history";
    const bool processesAsked = count >= 2 && argument(1) == u"--gpu-processes";
    if (processesAsked) {
        const GpuProcessesOutcome outcome =
            count == 3 ? writeGpuProcesses(argument(2)) : GpuProcessesOutcome::usage;
        tellConsole(gpuProcessesMessage(outcome));
        *exitCode = static_cast<int>(outcome);
    }
    if (asked) {
        const ExportOutcome outcome =
            count == 5 ? exportHistory(historyFolder(), argument(2), argument(3), argument(4), wallClockSeconds())
                       : ExportOutcome::usage;
        tellConsole(exportMessage(outcome));
        *exitCode = static_cast<int>(outcome);
    }
    LocalFree(arguments);
    return asked || processesAsked;
}

}  // namespace tarvelon
