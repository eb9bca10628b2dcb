#include "net/protocol.h"

#include <cstring>

#include "platform/text16.h"

namespace tarvelon {

namespace {

uint8_t shortAnswerCode(const uint8_t* request) {
    if (request[0] != kProtocolVersion) return kCodeBadVersion;
    if (request[2] == kCodeProbe) return kCodeProbeAnswer;
    return kCodeUnknownCode;
}

}  // namespace

AnswerKind answerKindOf(const uint8_t* buffer, int receivedBytes, bool answersProcesses) {
    if (receivedBytes != kRequestBytes) return AnswerKind::None;
    if (buffer[0] == kProtocolVersion && buffer[2] == kCodeQuery) return AnswerKind::Full;
    if (answersProcesses && buffer[0] == kProtocolVersion && buffer[2] == kCodeProcesses)
        return AnswerKind::Processes;
    if (buffer[2] == shortAnswerCode(buffer)) return AnswerKind::None;
    return AnswerKind::Short;
}

int buildShortAnswer(uint8_t* buffer) {
    buffer[2] = shortAnswerCode(buffer);
    return kRequestBytes;
}

int buildFullReply(uint8_t* buffer, const LocalStore& local, uint8_t features) {
    buffer[2] = kCodeFullReply;
    std::memset(buffer + 3, 0, kReplyHostOffset - 3);
    buffer[kReplyFeaturesOffset] = features;
    std::memcpy(buffer + kReplyHostOffset, &local.host, sizeof local.host);
    uint8_t count = 0;
    for (const GpuRecord& gpu : local.gpus) {
        if (gpu.present == 0) continue;
        std::memcpy(buffer + kReplyGpuOffset + count * sizeof(GpuRecord), &gpu, sizeof gpu);
        ++count;
    }
    buffer[3] = count;
    return kReplyGpuOffset + count * static_cast<int>(sizeof(GpuRecord));
}

int buildAnswer(uint8_t* buffer, int receivedBytes, const LocalStore& local) {
    switch (answerKindOf(buffer, receivedBytes)) {
        case AnswerKind::Short:
            return buildShortAnswer(buffer);
        case AnswerKind::Full:
            return buildFullReply(buffer, local);
        case AnswerKind::None:
        case AnswerKind::Processes:  // never: this answer does not take the processes question
            break;
    }
    return 0;
}

void buildQueryRequest(uint8_t sequence, uint8_t (&request)[kRequestBytes], uint8_t code) {
    request[0] = kProtocolVersion;
    request[1] = sequence;
    request[2] = code;
}

bool announcesProcesses(const uint8_t* reply) {
    return (reply[kReplyFeaturesOffset] & kFeatureProcesses) != 0;
}

ReplyVerdict judgeReply(const uint8_t* buffer, int receivedBytes, uint8_t sequence) {
    if (receivedBytes < kRequestBytes) return ReplyVerdict::Unanswered;
    if (buffer[1] != sequence || buffer[2] != kCodeFullReply) return ReplyVerdict::Rejected;
    // A truncated or forged reply must not pass zeros off as the server's records.
    const int records = buffer[3] < kGpuSlots ? buffer[3] : kGpuSlots;
    if (receivedBytes < kReplyGpuOffset + records * static_cast<int>(sizeof(GpuRecord))) {
        return ReplyVerdict::Rejected;
    }
    return ReplyVerdict::Accepted;
}

namespace {

bool hostIdentityDiffers(const HostRecord& a, const HostRecord& b) {
    return !equalText16(a.hostName, b.hostName) || a.gpuCount != b.gpuCount ||
           a.physTotalMb != b.physTotalMb || a.pageTotalMb != b.pageTotalMb || a.cpuCount != b.cpuCount;
}

}  // namespace

void storeReply(const uint8_t* buffer, HostRecord& host, GpuRecord (&gpus)[kGpuSlots]) {
    HostRecord received;
    std::memcpy(&received, buffer + kReplyHostOffset, sizeof received);
    received.hostName[kRecordTextUnits - 1] = 0;
    received.changed = static_cast<uint8_t>(host.changed | (hostIdentityDiffers(received, host) ? 1 : 0));
    host = received;

    const int count = buffer[3];
    for (int k = 0; k < kGpuSlots; ++k) {
        if (k < count) {
            std::memcpy(&gpus[k], buffer + kReplyGpuOffset + k * sizeof(GpuRecord), sizeof(GpuRecord));
        } else {
            gpus[k].present = 0;
        }
        gpus[k].gpuName[kRecordTextUnits - 1] = 0;
    }
}

}  // namespace tarvelon
