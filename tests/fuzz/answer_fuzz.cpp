// The server's answer to any datagram over any local store, and the client's verdict on that answer:
// only a datagram of exactly three bytes that is not its own answer is answered, the answer is built
// over the request and never passes the longest reply, and a full reply stored by the client gives
// back the server's records.
//
// Input: request bytes (3), length choice (u16, 0xFFFF for a failed receive), GPU presence mask (u16),
// then the local host record and the 16 GPU records.
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "net/protocol.h"
#include "platform/text16.h"

using namespace tarvelon;

namespace {

uint8_t expectedCode(const uint8_t (&request)[kRequestBytes]) {
    if (request[0] != kProtocolVersion) return kCodeBadVersion;
    if (request[2] == kCodeProbe) return kCodeProbeAnswer;
    if (request[2] != kCodeQuery) return kCodeUnknownCode;
    return kCodeFullReply;
}

// Two records are the same apart from the change flag and the forced last unit of the name.
template <class Record>
bool sameRecord(Record a, Record b, char16_t (Record::*name)[kRecordTextUnits]) {
    a.changed = b.changed = 0;
    (a.*name)[kRecordTextUnits - 1] = (b.*name)[kRecordTextUnits - 1] = 0;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void checkStoredReply(const uint8_t* buffer, const LocalStore& local, const GpuRecord* const* sent,
                      int sentCount) {
    HostRecord host{};
    GpuRecord gpus[kGpuSlots] = {};
    storeReply(buffer, host, gpus);
    FUZZ_CHECK(sameRecord(host, local.host, &HostRecord::hostName));
    FUZZ_CHECK(text16Length(host.hostName, kRecordTextUnits) < kRecordTextUnits);
    for (int k = 0; k < kGpuSlots; ++k) {
        FUZZ_CHECK(text16Length(gpus[k].gpuName, kRecordTextUnits) < kRecordTextUnits);
        if (k < sentCount) {
            FUZZ_CHECK(sameRecord(gpus[k], *sent[k], &GpuRecord::gpuName));
            FUZZ_CHECK(gpus[k].present != 0);
        } else {
            FUZZ_CHECK(gpus[k].present == 0);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    uint8_t request[kRequestBytes];
    input.bytes(request, sizeof request);
    const uint16_t lengthChoice = input.u16();
    const int received = lengthChoice == 0xFFFF ? -1 : lengthChoice % (kServerReadLimit + 1);
    const uint16_t presentMask = input.u16();
    LocalStore local;
    input.bytes(&local.host, sizeof local.host);
    const GpuRecord* sent[kGpuSlots];
    int sentCount = 0;
    for (int k = 0; k < kGpuSlots; ++k) {
        GpuRecord& gpu = local.gpus[k];
        input.bytes(&gpu, sizeof gpu);
        // Any non-zero byte means present.
        if ((presentMask >> k & 1) == 0) {
            gpu.present = 0;
        } else {
            if (gpu.present == 0) gpu.present = 1;
            sent[sentCount++] = &gpu;
        }
    }

    // The receive buffer as the server thread leaves it: cleared, then the datagram.
    static std::vector<uint8_t> buffer(kDatagramBufferBytes);
    std::fill(buffer.begin(), buffer.end(), 0);
    for (int i = 0; i < received; ++i) buffer[i] = i < kRequestBytes ? request[i] : 0xA5;
    const std::vector<uint8_t> before = buffer;

    const int answer = buildAnswer(buffer.data(), received, local);
    if (received != kRequestBytes) {
        FUZZ_CHECK(answer == 0);
        FUZZ_CHECK(buffer == before);
        return 0;
    }

    const uint8_t code = expectedCode(request);
    // A request that already is its own answer is an answer itself, and gets none.
    if (code == request[2]) {
        FUZZ_CHECK(answer == 0);
        FUZZ_CHECK(buffer == before);
        return 0;
    }
    FUZZ_CHECK(buffer[0] == request[0] && buffer[1] == request[1] && buffer[2] == code);
    if (code == kCodeFullReply) {
        FUZZ_CHECK(answer == kReplyGpuOffset + sentCount * static_cast<int>(sizeof(GpuRecord)));
        FUZZ_CHECK(answer <= kLongestReply);
        FUZZ_CHECK(buffer[3] == sentCount && buffer[4] == 0 && buffer[5] == 0 && buffer[6] == 0);
        FUZZ_CHECK(std::memcmp(&buffer[kReplyHostOffset], &local.host, sizeof local.host) == 0);
        for (int k = 0; k < sentCount; ++k) {
            FUZZ_CHECK(std::memcmp(&buffer[kReplyGpuOffset + k * sizeof(GpuRecord)], sent[k],
                                   sizeof(GpuRecord)) == 0);
        }
    } else {
        FUZZ_CHECK(answer == kRequestBytes);
    }
    // Nothing past the answer was touched.
    FUZZ_CHECK(std::equal(buffer.begin() + answer, buffer.end(), before.begin() + answer));

    // The client accepts exactly the full reply to its own sequence.
    const ReplyVerdict verdict = judgeReply(buffer.data(), answer, request[1]);
    FUZZ_CHECK(verdict == (code == kCodeFullReply ? ReplyVerdict::Accepted : ReplyVerdict::Rejected));
    FUZZ_CHECK(judgeReply(buffer.data(), answer, static_cast<uint8_t>(request[1] + 1)) ==
               ReplyVerdict::Rejected);
    if (verdict == ReplyVerdict::Accepted) checkStoredReply(buffer.data(), local, sent, sentCount);
    return 0;
}
