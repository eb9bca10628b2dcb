// The answer to a question for the processes using a server's GPUs: one datagram a GPU, each standing
// alone (it names its GPU by its place among the records of a full reply and by its PCI bus and
// device), built and read as pure functions over byte buffers. A reply's counts and names come from
// the network, so reading one bounds every count and terminates and cleans every name.
#pragma once

#include <cstdint>

#include "telemetry/records.h"

namespace tarvelon {

constexpr int kProcessReplyHeaderBytes = 16;
constexpr int kWireProcessNameUnits = 32;  // 31 characters and a terminating 0 unit
constexpr int kWireProcessBytes = 16 + 2 * kWireProcessNameUnits;
// Enough for the longest list the desk shows and then some; a datagram stays below an Ethernet
// payload (1472 bytes of UDP over IPv4), so it is never fragmented, and below a full reply, so one
// datagram costs a sender's reply allowance no more than a full reply does.
constexpr int kMostWireProcesses = 16;
constexpr int kLongestProcessReply = kProcessReplyHeaderBytes + kMostWireProcesses * kWireProcessBytes;
static_assert(kWireProcessBytes == 80 && kLongestProcessReply == 1296);

// WireProcess::flags
constexpr uint8_t kProcessLoadKnown = 0x01;    // loadPct was measured (a first look has no share yet)
constexpr uint8_t kProcessMemoryKnown = 0x02;  // memoryBytes was read
constexpr uint8_t kProcessUnnamed = 0x04;      // the processes that could not be opened, together; pid 0

struct WireProcess {
    uint32_t pid;
    uint8_t flags;
    uint8_t loadPct;  // the busiest engine's share, 0 to 100
    uint64_t memoryBytes;
    char16_t name[kWireProcessNameUnits];  // the image's or command's name, terminated
};

// The processes of one GPU, the busiest or largest first.
struct GpuProcessList {
    uint8_t pciBus;
    uint8_t pciSlot;
    uint16_t total;  // processes found using the GPU, listed or not
    int32_t count;   // 0..kMostWireProcesses
    WireProcess processes[kMostWireProcesses];
};

// A name as it may travel: cut to whole characters within kWireProcessNameUnits - 1 units, control
// characters and lone surrogates replaced by '?', zero after it.
void cleanProcessName(const char16_t* name, size_t capacity, char16_t (&out)[kWireProcessNameUnits]);

// Writes the datagram of GPU gpuIndex (of gpuCount in the answer) after the request's version and
// sequence; a list longer than a datagram holds is cut to its first kMostWireProcesses. Returns its
// length.
int buildProcessReply(uint8_t* out, uint8_t version, uint8_t sequence, uint8_t gpuIndex, uint8_t gpuCount,
                      const GpuProcessList& list);

// Reads a datagram received for the question with this sequence; false (and *list untouched) unless
// it is a process reply to it whose GPU index lies below its GPU count, both within kGpuSlots, and
// whose every announced process arrived, at most kMostWireProcesses of them. Names are terminated and
// cleaned, a load above 100 counts as unknown, and a total below the count is raised to it.
bool readProcessReply(const uint8_t* buffer, int receivedBytes, uint8_t sequence, GpuProcessList* list,
                      int* gpuIndex, int* gpuCount);

}  // namespace tarvelon
