#include "agent/query_tool.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "agent/port_text.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

std::string printed(const char* format, ...) {
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    return line;
}

// A received text as UTF-8 for a terminal or a JSON string: lone surrogates already become U+FFFD
// (toUtf8); control characters, which could drive a terminal, become '?' in text, and JSON
// escapes them.
std::string receivedText(const char16_t* text, bool json) {
    const std::string utf8 = toUtf8(text);
    if (json) return utf8;
    std::string shown;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) < 0xA0) {
            shown += '?';  // U+0080 to U+009F
            ++i;
        } else {
            shown += c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
        }
    }
    return shown;
}

std::string jsonString(const char16_t* text) {
    std::string quoted = "\"";
    for (unsigned char c : receivedText(text, true)) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            quoted += printed("\\u%04x", c);
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

// One "name": value member per line; the caller puts the commas between them.
struct JsonObject {
    std::string indent;
    std::string members;

    void add(const char* name, const std::string& value) {
        if (!members.empty()) members += ",\n";
        members += indent + "\"" + name + "\": " + value;
    }
    void add(const char* name, unsigned value) { add(name, std::to_string(value)); }
    std::string close(const std::string& outerIndent) const {
        return "{\n" + members + "\n" + outerIndent + "}";
    }
};

}  // namespace

bool parseQueryTarget(const std::string& text, QueryTarget* target, std::string* message) {
    target->port = kDefaultTarvelonPort;
    std::string portText;
    bool hasPort = false;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos) {
            *message = "'" + text + "' opens '[' without closing it";
            return false;
        }
        target->host = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') {
                *message =
                    "'" + text + "' has '" + rest + "' after the bracketed address; write [ADDRESS]:PORT";
                return false;
            }
            portText = rest.substr(1);
            hasPort = true;
        }
    } else {
        const size_t colon = text.find(':');
        if (colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
            target->host = text.substr(0, colon);
            portText = text.substr(colon + 1);
            hasPort = true;
        } else {
            target->host = text;  // a bare IPv6 address has several colons and no port
        }
    }
    if (target->host.empty()) {
        *message = "'" + text + "' names no host";
        return false;
    }
    if (hasPort && !parsePort(portText, &target->port)) {
        *message = "'" + portText + "' in '" + text + "' is not a port from 1 to 65535";
        return false;
    }
    return true;
}

QueryOptionsOutcome parseQueryOptions(int argc, const char* const* argv, QueryOptions* options,
                                      std::string* message) {
    *options = QueryOptions{};
    bool haveTarget = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "-h" || argument == "--help") return QueryOptionsOutcome::Help;
        if (argument == "--version") return QueryOptionsOutcome::Version;
        if (argument == "-j" || argument == "--json") {
            options->json = true;
        } else if (argument == "--high-latency") {
            options->highLatency = true;
        } else if (argument == "-p" || argument == "--processes") {
            options->processes = true;
        } else if (argument.size() > 1 && argument[0] == '-' && argument[1] != '[') {
            *message = "unknown option '" + argument + "'";
            return QueryOptionsOutcome::Error;
        } else if (haveTarget) {
            *message = "more than one server given ('" + argument + "')";
            return QueryOptionsOutcome::Error;
        } else {
            if (!parseQueryTarget(argument, &options->target, message)) return QueryOptionsOutcome::Error;
            haveTarget = true;
        }
    }
    if (!haveTarget) {
        *message = "no server given";
        return QueryOptionsOutcome::Error;
    }
    return QueryOptionsOutcome::Run;
}

const char* queryUsageText() {
    return "Usage: tarvelon-query [OPTION]... HOST[:PORT]\n"
           "Asks a Tarvelon server (the panel program or tarvelon-agent) once for its figures and\n"
           "prints its host and GPU records. Write an IPv6 address with a port as [ADDRESS]:PORT.\n"
           "The port defaults to 8221.\n"
           "\n"
           "  -j, --json          print the records as JSON, with the records' field names\n"
           "  -p, --processes     print the processes using each GPU instead, from a server\n"
           "                      that tells them (earlier versions do not)\n"
           "      --high-latency  wait 9 seconds for the answer instead of 0.9\n"
           "  -h, --help          show this help and exit\n"
           "      --version       show the version and exit\n"
           "\n"
           "Exit status: 0 answered, 1 no answer or a rejected answer, 2 bad arguments or address.\n";
}

std::string recordsAsText(const SlotRecords& records) {
    const HostRecord& host = records.host;
    std::string text;
    text += "host          " + receivedText(host.hostName, false) + "\n";
    text += printed("processors    %u, load %u %%, %u MHz", host.cpuCount, host.cpuLoad, host.cpuMhz);
    // 0 % of the maximum is a machine that does not tell its maximum (a VM without cpufreq).
    text +=
        host.cpuMaxFreqPct == 0 ? std::string("\n") : printed(" (%u %% of maximum)\n", host.cpuMaxFreqPct);
    text += printed("processes     %u, threads %u\n", host.processCount, host.threadCount);
    text += printed("memory        %u MB, %u MB free (%u %% used)\n", host.physTotalMb, host.physFreeMb,
                    host.physUsedPct);
    text += printed("commit        %u MB, %u MB free (%u %% used)\n", host.pageTotalMb, host.pageFreeMb,
                    host.pageUsedPct);
    text += printed("network       %u Mbit/s\n", host.netIoMbit);
    text += printed("GPUs          %u\n", host.gpuCount);
    for (int slot = 0; slot < kGpuSlots; ++slot) {
        const GpuRecord& gpu = records.gpus[slot];
        if (gpu.present == 0) continue;
        text += printed("GPU %-2d        %s, PCI bus %u device %u\n", slot,
                        receivedText(gpu.gpuName, false).c_str(), gpu.pciBus, gpu.pciSlot);
        text += printed("  load        %u %%\n", gpu.gpuLoad);
        text += printed("  core        %u MHz of %u MHz (%u %%)\n", gpu.coreMhz, gpu.coreBoostMhz,
                        gpu.coreClockPct);
        text +=
            printed("  memory      %u MHz of %u MHz (%u %%)\n", gpu.memMhz, gpu.memBoostMhz, gpu.memClockPct);
        text += printed("  video RAM   %u MB, %u MB free (%u %% used)\n", gpu.memTotalMb, gpu.memFreeMb,
                        gpu.memUsedPct);
        text += printed("  fan         %u RPM\n", gpu.fanRpmDiv32 * 32u);
        text += printed("  temperature %u C core, %u C memory\n", gpu.coreTempC, gpu.memTempC);
    }
    return text;
}

namespace {

// The GPU record of the k-th present GPU: the one a process reply's index names.
const GpuRecord* presentGpu(const SlotRecords& records, int index) {
    for (const GpuRecord& gpu : records.gpus) {
        if (gpu.present != 0 && index-- == 0) return &gpu;
    }
    return nullptr;
}

std::string gpuNameOf(const SlotRecords& records, int index, bool json) {
    const GpuRecord* gpu = presentGpu(records, index);
    if (json) return gpu != nullptr ? jsonString(gpu->gpuName) : "null";
    return gpu != nullptr ? receivedText(gpu->gpuName, false) : "";
}

std::string megabytes(uint64_t bytes) {
    return printed("%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
}

}  // namespace

std::string processesAsText(const SlotRecords& records, const ProcessAnswer& answer) {
    std::string text = "host          " + receivedText(records.host.hostName, false) + "\n";
    for (int index = 0; index < answer.gpuCount; ++index) {
        const GpuProcessList& list = answer.lists[index];
        if (!answer.arrived[index]) {
            text +=
                printed("GPU %-2d        %s: no answer\n", index, gpuNameOf(records, index, false).c_str());
            continue;
        }
        text += printed("GPU %-2d        %s, PCI bus %u device %u, %u processes\n", index,
                        gpuNameOf(records, index, false).c_str(), list.pciBus, list.pciSlot, list.total);
        for (int i = 0; i < list.count; ++i) {
            const WireProcess& process = list.processes[i];
            const std::string pid = process.flags & kProcessUnnamed ? "-" : std::to_string(process.pid);
            const std::string name = process.flags & kProcessUnnamed ? std::string("(other processes)")
                                                                     : receivedText(process.name, false);
            const std::string load =
                process.flags & kProcessLoadKnown ? printed("%u %%", process.loadPct) : "-";
            const std::string memory =
                process.flags & kProcessMemoryKnown ? megabytes(process.memoryBytes) : "-";
            text +=
                printed("  %7s  %-31s %5s %12s\n", pid.c_str(), name.c_str(), load.c_str(), memory.c_str());
        }
        if (list.total > list.count) text += printed("  and %u more\n", list.total - list.count);
    }
    return text;
}

std::string processesAsJson(const SlotRecords& records, const ProcessAnswer& answer) {
    std::string gpus;
    for (int index = 0; index < answer.gpuCount; ++index) {
        const GpuProcessList& list = answer.lists[index];
        JsonObject gpuObject{"      ", ""};
        gpuObject.add("gpu", static_cast<unsigned>(index));
        gpuObject.add("gpuName", gpuNameOf(records, index, true));
        if (answer.arrived[index]) {
            gpuObject.add("pciBus", list.pciBus);
            gpuObject.add("pciSlot", list.pciSlot);
            gpuObject.add("processTotal", list.total);
            std::string processes;
            for (int i = 0; i < list.count; ++i) {
                const WireProcess& process = list.processes[i];
                JsonObject processObject{"          ", ""};
                processObject.add("pid", process.pid);
                processObject.add("name", jsonString(process.name));
                processObject.add("unnamed", process.flags & kProcessUnnamed ? "true" : "false");
                processObject.add("loadPct", process.flags & kProcessLoadKnown
                                                 ? std::to_string(process.loadPct)
                                                 : std::string("null"));
                processObject.add("memoryBytes", process.flags & kProcessMemoryKnown
                                                     ? std::to_string(process.memoryBytes)
                                                     : std::string("null"));
                processes += (processes.empty() ? "\n          " : ",\n          ") +
                             processObject.close("          ");
            }
            gpuObject.add("processes", "[" + processes + (processes.empty() ? "]" : "\n        ]"));
        } else {
            gpuObject.add("processes", std::string("null"));  // its datagram did not come
        }
        gpus += (gpus.empty() ? "\n    " : ",\n    ") + gpuObject.close("    ");
    }
    return "{\n  \"host\": " + jsonString(records.host.hostName) + ",\n  \"gpus\": [" + gpus +
           (gpus.empty() ? "]" : "\n  ]") + "\n}\n";
}

std::string recordsAsJson(const SlotRecords& records) {
    const HostRecord& host = records.host;
    JsonObject hostObject{"    ", ""};
    hostObject.add("hostName", jsonString(host.hostName));
    hostObject.add("cpuCount", host.cpuCount);
    hostObject.add("cpuLoad", host.cpuLoad);
    hostObject.add("cpuMhz", host.cpuMhz);
    hostObject.add("cpuMaxFreqPct", host.cpuMaxFreqPct);
    hostObject.add("processCount", host.processCount);
    hostObject.add("threadCount", host.threadCount);
    hostObject.add("physTotalMb", host.physTotalMb);
    hostObject.add("physFreeMb", host.physFreeMb);
    hostObject.add("physUsedPct", host.physUsedPct);
    hostObject.add("pageTotalMb", host.pageTotalMb);
    hostObject.add("pageFreeMb", host.pageFreeMb);
    hostObject.add("pageUsedPct", host.pageUsedPct);
    hostObject.add("netIoMbit", host.netIoMbit);
    hostObject.add("gpuCount", host.gpuCount);

    std::string gpus;
    for (int slot = 0; slot < kGpuSlots; ++slot) {
        const GpuRecord& gpu = records.gpus[slot];
        if (gpu.present == 0) continue;
        JsonObject gpuObject{"      ", ""};
        gpuObject.add("slot", static_cast<unsigned>(slot));
        gpuObject.add("gpuName", jsonString(gpu.gpuName));
        gpuObject.add("pciBus", gpu.pciBus);
        gpuObject.add("pciSlot", gpu.pciSlot);
        gpuObject.add("gpuLoad", gpu.gpuLoad);
        gpuObject.add("coreBoostMhz", gpu.coreBoostMhz);
        gpuObject.add("coreMhz", gpu.coreMhz);
        gpuObject.add("coreClockPct", gpu.coreClockPct);
        gpuObject.add("memBoostMhz", gpu.memBoostMhz);
        gpuObject.add("memMhz", gpu.memMhz);
        gpuObject.add("memClockPct", gpu.memClockPct);
        gpuObject.add("memTotalMb", gpu.memTotalMb);
        gpuObject.add("memFreeMb", gpu.memFreeMb);
        gpuObject.add("memUsedPct", gpu.memUsedPct);
        gpuObject.add("fanRpmDiv32", gpu.fanRpmDiv32);
        gpuObject.add("fanRpm", gpu.fanRpmDiv32 * 32u);
        gpuObject.add("coreTempC", gpu.coreTempC);
        gpuObject.add("memTempC", gpu.memTempC);
        gpus += (gpus.empty() ? "\n    " : ",\n    ") + gpuObject.close("    ");
    }
    return "{\n  \"host\": " + hostObject.close("  ") + ",\n  \"gpus\": [" + gpus +
           (gpus.empty() ? "]" : "\n  ]") + "\n}\n";
}

}  // namespace tarvelon
