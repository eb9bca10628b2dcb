// The Windows kernel-thunk GPU interface (the D3DKMT functions gdi32.dll exports) as this program uses
// it: the query type numbers, statuses and the argument and answer structures, laid out byte for byte
// as the kernel takes them. Every number below is from Microsoft's published d3dkmthk.h, d3dkmdt.h and
// d3dukmdt.h; the asserts hold them for the 32-bit build, and for the native build where no pointer is
// involved. Shared by the access layer and by the tests' stand-in library.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define D3DKMT_CALL __stdcall  // APIENTRY
#else
#define D3DKMT_CALL
#endif

namespace tarvelon {

constexpr bool kPointers32 = sizeof(void*) == 4;

// NTSTATUS values the functions answer (ntstatus.h).
enum : int32_t {
    kNtSuccess = 0,
    kNtInvalidParameter = static_cast<int32_t>(0xC000000D),
    kNtBufferTooSmall = static_cast<int32_t>(0xC0000023),
    kNtDeviceRemoved = static_cast<int32_t>(0xC00002B6),
};

using D3dkmtHandle = uint32_t;  // D3DKMT_HANDLE is a UINT, not a pointer

struct D3dkmtLuid {
    uint32_t lowPart;
    int32_t highPart;
};
static_assert(sizeof(D3dkmtLuid) == 8 && alignof(D3dkmtLuid) == 4);  // LUID, winnt.h

// D3DKMT_ADAPTERINFO
struct D3dkmtAdapterInfo {
    D3dkmtHandle adapter;
    D3dkmtLuid luid;
    uint32_t sourceCount;
    uint32_t precisePresentRegionsPreferred;
};
static_assert(sizeof(D3dkmtAdapterInfo) == 20);
static_assert(offsetof(D3dkmtAdapterInfo, luid) == 4 && offsetof(D3dkmtAdapterInfo, sourceCount) == 12);

// D3DKMT_ENUMADAPTERS2: with adapters null the count is filled in; with too small an array the answer
// is kNtBufferTooSmall.
struct D3dkmtEnumAdapters2 {
    uint32_t count;
    D3dkmtAdapterInfo* adapters;
};
static_assert(!kPointers32 || sizeof(D3dkmtEnumAdapters2) == 8);

// D3DKMT_CLOSEADAPTER
struct D3dkmtCloseAdapter {
    D3dkmtHandle adapter;
};
static_assert(sizeof(D3dkmtCloseAdapter) == 4);

// KMTQUERYADAPTERINFOTYPE: the numbers have gaps (there is no 14), so each is spelt out.
enum D3dkmtAdapterInfoType : uint32_t {
    kKmtGetSegmentSize = 3,
    kKmtAdapterAddress = 6,
    kKmtAdapterRegistryInfo = 8,
    kKmtAdapterType = 15,
    kKmtNodeMetadata = 25,
    kKmtPhysicalAdapterDeviceIds = 31,
    kKmtNodePerfData = 61,
    kKmtAdapterPerfData = 62,
};

// D3DKMT_QUERYADAPTERINFO. The kernel takes only the exact answer size of each type.
struct D3dkmtQueryAdapterInfo {
    D3dkmtHandle adapter;
    uint32_t type;
    void* answer;
    uint32_t answerSize;
};
static_assert(!kPointers32 || sizeof(D3dkmtQueryAdapterInfo) == 16);

// D3DKMT_SEGMENTSIZEINFO (type 3)
struct D3dkmtSegmentSizeInfo {
    uint64_t dedicatedVideoMemorySize;
    uint64_t dedicatedSystemMemorySize;
    uint64_t sharedSystemMemorySize;
};
static_assert(sizeof(D3dkmtSegmentSizeInfo) == 24);

// D3DKMT_ADAPTERADDRESS (type 6)
struct D3dkmtAdapterAddress {
    uint32_t bus;
    uint32_t device;
    uint32_t function;
};
static_assert(sizeof(D3dkmtAdapterAddress) == 12);

// D3DKMT_ADAPTERREGISTRYINFO (type 8): four WCHAR[MAX_PATH] strings, the driver's to terminate.
constexpr int kRegistryTextUnits = 260;
struct D3dkmtAdapterRegistryInfo {
    char16_t adapterString[kRegistryTextUnits];
    char16_t biosString[kRegistryTextUnits];
    char16_t dacType[kRegistryTextUnits];
    char16_t chipType[kRegistryTextUnits];
};
static_assert(sizeof(D3dkmtAdapterRegistryInfo) == 2080 &&
              offsetof(D3dkmtAdapterRegistryInfo, chipType) == 1560);

// D3DKMT_ADAPTERTYPE (type 15), a bit field in one UINT.
constexpr uint32_t kAdapterTypeSoftwareDevice = 0x4;

// D3DKMT_NODEMETADATA (type 25), declared under #pragma pack(1) in d3dkmdt.h: 78 bytes, not 80.
// NodeOrdinalAndAdapterIndex: the node ordinal in the low 16 bits, the adapter index above.
enum : uint32_t { kEngine3d = 1 };  // DXGK_ENGINE_TYPE_3D
#pragma pack(push, 1)
struct D3dkmtNodeMetadata {
    uint32_t nodeOrdinalAndAdapterIndex;
    uint32_t engineType;
    char16_t friendlyName[32];
    uint32_t capabilities;
    uint16_t gpuMmuSupported;  // two BOOLEANs
};
#pragma pack(pop)
static_assert(sizeof(D3dkmtNodeMetadata) == 78 && offsetof(D3dkmtNodeMetadata, friendlyName) == 8);

// D3DKMT_QUERY_DEVICE_IDS (type 31)
constexpr uint32_t kVendorMicrosoft = 0x1414;  // the Basic Render Driver and other software adapters
struct D3dkmtQueryDeviceIds {
    uint32_t physicalAdapterIndex;
    uint32_t vendorId;
    uint32_t deviceId;
    uint32_t subVendorId;
    uint32_t subSystemId;
    uint32_t revisionId;
    uint32_t busType;
};
static_assert(sizeof(D3dkmtQueryDeviceIds) == 28 && offsetof(D3dkmtQueryDeviceIds, vendorId) == 4 &&
              offsetof(D3dkmtQueryDeviceIds, revisionId) == 20);

// D3DKMT_NODE_PERFDATA (type 61), frequencies in Hz.
struct D3dkmtNodePerfData {
    uint32_t nodeOrdinal;
    uint32_t physicalAdapterIndex;
    uint64_t frequency;
    uint64_t maxFrequency;
    uint64_t maxFrequencyOc;
    uint32_t voltage;
    uint32_t voltageMax;
    uint32_t voltageMaxOc;
    uint64_t maxTransitionLatency;
};
static_assert(sizeof(D3dkmtNodePerfData) == 56 && offsetof(D3dkmtNodePerfData, frequency) == 8 &&
              offsetof(D3dkmtNodePerfData, maxFrequency) == 16);

// D3DKMT_ADAPTER_PERFDATA (type 62): memory frequencies in Hz, power in tenths of a percent,
// temperature in tenths of a degree Celsius.
struct D3dkmtAdapterPerfData {
    uint32_t physicalAdapterIndex;
    uint64_t memoryFrequency;
    uint64_t maxMemoryFrequency;
    uint64_t maxMemoryFrequencyOc;
    uint64_t memoryBandwidth;
    uint64_t pcieBandwidth;
    uint32_t fanRpm;
    uint32_t power;
    uint32_t temperature;
    uint8_t powerStateOverride;
};
static_assert(sizeof(D3dkmtAdapterPerfData) == 64 && offsetof(D3dkmtAdapterPerfData, memoryFrequency) == 8 &&
              offsetof(D3dkmtAdapterPerfData, fanRpm) == 48 && offsetof(D3dkmtAdapterPerfData, power) == 52 &&
              offsetof(D3dkmtAdapterPerfData, temperature) == 56);

// D3DKMT_QUERYSTATISTICS_TYPE. The per-process types take a process handle (one opened with
// PROCESS_QUERY_LIMITED_INFORMATION is enough); the others take none.
enum D3dkmtStatisticsType : uint32_t {
    kStatisticsAdapter = 0,
    kStatisticsProcess = 1,
    kStatisticsProcessAdapter = 2,
    kStatisticsSegment = 3,
    kStatisticsProcessSegment = 4,
    kStatisticsNode = 5,
    kStatisticsProcessNode = 6,
};

// D3DKMT_QUERYSTATISTICS_ADAPTER_INFORMATION (type 0), its first two members.
struct D3dkmtAdapterStatistics {
    uint32_t segmentCount;
    uint32_t nodeCount;
};

// D3DKMT_QUERYSTATISTICS_NODE_INFORMATION (type 5): the node's global figures (a process-node
// information block: RunningTime in 100 ns units, despite the header's comment), then the system's.
struct D3dkmtNodeStatistics {
    int64_t runningTime;
    uint32_t contextSwitch;
    uint8_t restOfGlobal[272 - 12];
    uint8_t systemInformation[272];
    uint8_t nodePerfData[616 - 544];
};
static_assert(sizeof(D3dkmtNodeStatistics) == 616 && offsetof(D3dkmtNodeStatistics, contextSwitch) == 8 &&
              offsetof(D3dkmtNodeStatistics, systemInformation) == 272 &&
              offsetof(D3dkmtNodeStatistics, nodePerfData) == 544);

// D3DKMT_QUERYSTATISTICS_SEGMENT_INFORMATION (type 3, Windows 8 and later). An aperture segment is
// system memory the GPU can reach, not its own.
struct D3dkmtSegmentStatistics {
    uint64_t commitLimit;
    uint64_t bytesCommitted;
    uint64_t bytesResident;
    uint8_t memory[40 - 24];
    uint32_t aperture;
    uint8_t rest[152 - 44];
};
static_assert(sizeof(D3dkmtSegmentStatistics) == 152 &&
              offsetof(D3dkmtSegmentStatistics, bytesResident) == 16 &&
              offsetof(D3dkmtSegmentStatistics, aperture) == 40);

// D3DKMT_QUERYSTATISTICS_PROCESS_NODE_INFORMATION (type 6): one process's running time on one node.
struct D3dkmtProcessNodeStatistics {
    int64_t runningTime;
    uint32_t contextSwitch;
    uint8_t rest[272 - 12];
};
static_assert(sizeof(D3dkmtProcessNodeStatistics) == 272);

// D3DKMT_QUERYSTATISTICS_PROCESS_SEGMENT_INFORMATION (type 4, Windows 8 and later).
struct D3dkmtProcessSegmentStatistics {
    uint64_t bytesCommitted;
    uint8_t rest[216 - 8];
};
static_assert(sizeof(D3dkmtProcessSegmentStatistics) == 216);

// D3DKMT_QUERYSTATISTICS_RESULT: 776 bytes, its largest member being the adapter information. The
// process-adapter information (type 2) is 272 bytes, of which nothing is read: that it answers says
// the process has figures on the adapter.
union D3dkmtStatisticsResult {
    D3dkmtAdapterStatistics adapter;
    D3dkmtNodeStatistics node;
    D3dkmtSegmentStatistics segment;
    D3dkmtProcessNodeStatistics processNode;
    D3dkmtProcessSegmentStatistics processSegment;
    uint64_t alignment;
    uint8_t bytes[776];
};
static_assert(sizeof(D3dkmtStatisticsResult) == 776);

// D3DKMT_QUERYSTATISTICS: the per-query input (segment or node id, or the process's) sits after the
// result, at 792 in the 32-bit layout (800 in the 64-bit one).
struct D3dkmtQueryStatistics {
    uint32_t type;
    D3dkmtLuid luid;
    void* process;
    D3dkmtStatisticsResult result;
    uint32_t queryId;  // SegmentId, NodeId, ... of the query union
};
static_assert(offsetof(D3dkmtQueryStatistics, luid) == 4);
static_assert(!kPointers32 ||
              (sizeof(D3dkmtQueryStatistics) == 800 && offsetof(D3dkmtQueryStatistics, process) == 12 &&
               offsetof(D3dkmtQueryStatistics, result) == 16 &&
               offsetof(D3dkmtQueryStatistics, queryId) == 792));
static_assert(kPointers32 ||
              (sizeof(D3dkmtQueryStatistics) == 0x328 && offsetof(D3dkmtQueryStatistics, queryId) == 800));

using D3dkmtEnumAdapters2Function = int32_t(D3DKMT_CALL*)(D3dkmtEnumAdapters2*);
using D3dkmtCloseAdapterFunction = int32_t(D3DKMT_CALL*)(const D3dkmtCloseAdapter*);
using D3dkmtQueryAdapterInfoFunction = int32_t(D3DKMT_CALL*)(D3dkmtQueryAdapterInfo*);
// Declared const in the header, yet the kernel writes the result into it.
using D3dkmtQueryStatisticsFunction = int32_t(D3DKMT_CALL*)(D3dkmtQueryStatistics*);

}  // namespace tarvelon
