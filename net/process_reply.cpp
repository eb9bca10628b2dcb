#include "net/process_reply.h"

#include <cstring>

#include "net/protocol.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

void put16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void put32(uint8_t* at, uint32_t value) {
    put16(at, value);
    put16(at + 2, value >> 16);
}

void put64(uint8_t* at, uint64_t value) {
    put32(at, static_cast<uint32_t>(value));
    put32(at + 4, static_cast<uint32_t>(value >> 32));
}

uint32_t get16(const uint8_t* at) {
    return static_cast<uint32_t>(at[0] | at[1] << 8);
}

uint32_t get32(const uint8_t* at) {
    return get16(at) | get16(at + 2) << 16;
}

uint64_t get64(const uint8_t* at) {
    return get32(at) | static_cast<uint64_t>(get32(at + 4)) << 32;
}

bool isHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

void cleanProcessName(const char16_t* name, size_t capacity, char16_t (&out)[kWireProcessNameUnits]) {
    std::memset(out, 0, sizeof out);
    size_t length = text16Length(name, capacity);
    if (length > kWireProcessNameUnits - 1) length = wholeCharacterLength(name, kWireProcessNameUnits - 1);
    for (size_t i = 0; i < length; ++i) {
        const char16_t unit = name[i];
        if (isHighSurrogate(unit) && i + 1 < length && isLowSurrogate(name[i + 1])) {
            out[i] = unit;
            out[i + 1] = name[i + 1];
            ++i;
        } else {
            // A name may reach a terminal or a window: nothing in it may steer either.
            const bool control = unit < 0x20 || (unit >= 0x7F && unit < 0xA0);
            out[i] = control || isHighSurrogate(unit) || isLowSurrogate(unit) ? u'?' : unit;
        }
    }
}

int buildProcessReply(uint8_t* out, uint8_t version, uint8_t sequence, uint8_t gpuIndex, uint8_t gpuCount,
                      const GpuProcessList& list) {
    const int count = list.count < 0 ? 0 : list.count > kMostWireProcesses ? kMostWireProcesses : list.count;
    std::memset(out, 0, kProcessReplyHeaderBytes + count * kWireProcessBytes);
    out[0] = version;
    out[1] = sequence;
    out[2] = kCodeProcessReply;
    out[3] = gpuIndex;
    out[4] = gpuCount;
    out[5] = static_cast<uint8_t>(count);
    out[6] = list.pciBus;
    out[7] = list.pciSlot;
    put16(out + 8, list.total < count ? count : list.total);
    for (int i = 0; i < count; ++i) {
        const WireProcess& process = list.processes[i];
        uint8_t* entry = out + kProcessReplyHeaderBytes + i * kWireProcessBytes;
        put32(entry, process.pid);
        entry[4] = process.flags;
        entry[5] = process.loadPct > 100 ? 100 : process.loadPct;
        put64(entry + 8, process.memoryBytes);
        char16_t name[kWireProcessNameUnits];
        cleanProcessName(process.name, kWireProcessNameUnits, name);
        for (int unit = 0; unit < kWireProcessNameUnits; ++unit) put16(entry + 16 + 2 * unit, name[unit]);
    }
    return kProcessReplyHeaderBytes + count * kWireProcessBytes;
}

bool readProcessReply(const uint8_t* buffer, int receivedBytes, uint8_t sequence, GpuProcessList* list,
                      int* gpuIndex, int* gpuCount) {
    if (receivedBytes < kProcessReplyHeaderBytes) return false;
    if (buffer[1] != sequence || buffer[2] != kCodeProcessReply) return false;
    const int index = buffer[3], gpus = buffer[4], count = buffer[5];
    if (gpus > kGpuSlots || index >= gpus || count > kMostWireProcesses) return false;
    if (receivedBytes < kProcessReplyHeaderBytes + count * kWireProcessBytes) return false;
    GpuProcessList read{};
    read.pciBus = buffer[6];
    read.pciSlot = buffer[7];
    read.count = count;
    const uint32_t total = get16(buffer + 8);
    read.total = static_cast<uint16_t>(total < static_cast<uint32_t>(count) ? count : total);
    for (int i = 0; i < count; ++i) {
        const uint8_t* entry = buffer + kProcessReplyHeaderBytes + i * kWireProcessBytes;
        WireProcess& process = read.processes[i];
        process.pid = get32(entry);
        process.flags = entry[4] & (kProcessLoadKnown | kProcessMemoryKnown | kProcessUnnamed);
        process.loadPct = entry[5];
        if (process.loadPct > 100) {
            process.loadPct = 0;
            process.flags &= static_cast<uint8_t>(~kProcessLoadKnown);
        }
        process.memoryBytes = get64(entry + 8);
        char16_t name[kWireProcessNameUnits];
        for (int unit = 0; unit < kWireProcessNameUnits; ++unit)
            name[unit] = static_cast<char16_t>(get16(entry + 16 + 2 * unit));
        cleanProcessName(name, kWireProcessNameUnits, process.name);
    }
    *list = read;
    *gpuIndex = index;
    *gpuCount = gpus;
    return true;
}

}  // namespace tarvelon
