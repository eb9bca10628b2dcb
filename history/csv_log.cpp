#include "history/csv_log.h"

#include <algorithm>

#include "history/csv_text.h"
#include "platform/files.h"

namespace tarvelon {
namespace {

bool sameGpus(const CsvLogState& state, const CsvLine& line) {
    return state.gpuCount == line.gpuCount && std::equal(line.gpuKeys, line.gpuKeys + line.gpuCount, state.gpuKeys);
}

bool append(const std::u16string& directory, const std::u16string& path, const std::string& text) {
    if (appendToFile(path.c_str(), text.data(), text.size())) return true;
    // Created only when a write fails: a folder that exists costs nothing more. A file that exists
    // had its folder: writing again could only repeat the row.
    if (fileSize(path.c_str()) >= 0) return false;
    return createDirectories(directory.c_str()) && appendToFile(path.c_str(), text.data(), text.size());
}

}  // namespace

bool csvFolderSettled(CsvFolderSettle& settle, const char16_t* folder) {
    if (settle.typed != folder) {
        settle.typed = folder;
        settle.ticks = 0;
    }
    if (settle.ticks < kCsvFolderSettleTicks) ++settle.ticks;
    return !settle.typed.empty() && settle.ticks == kCsvFolderSettleTicks;
}

std::u16string csvLogPath(const CsvLine& line) {
    std::u16string path(line.directory);
    if (!path.empty() && path.back() != u'\\' && path.back() != u'/') path += u'/';
    return path + csvFileName(line.time);
}

CsvOutcome writeCsvLine(CsvLogState& state, const CsvLine& line) {
    if (state.paused && state.failedFolder != line.directory) state.paused = false;  // another folder
    if (state.paused && line.tick < state.retryTick) return CsvOutcome::paused;
    const std::u16string path = csvLogPath(line);
    const bool newBlock = path != state.file || !sameGpus(state, line) || fileSize(path.c_str()) <= 0;
    std::string text = newBlock ? csvLogHeader(line.gpuCount) : std::string();
    text += csvRow(line.time, line.figures, 1 + line.gpuCount);
    if (!append(line.directory, path, text)) {
        const CsvOutcome outcome = state.paused ? CsvOutcome::failedAgain : CsvOutcome::failed;
        state.paused = true;
        state.retryTick = line.tick + kCsvRetrySeconds;
        state.failedFolder = line.directory;
        state.file.clear();  // whatever reached the file, the next line starts a block
        return outcome;
    }
    state.paused = false;
    if (newBlock) {
        state.file = path;
        state.gpuCount = line.gpuCount;
        std::copy(line.gpuKeys, line.gpuKeys + kGpuSlots, state.gpuKeys);
    }
    return CsvOutcome::written;
}

}  // namespace tarvelon
