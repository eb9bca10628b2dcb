// Two replies of any length and content arriving at a poll thread, judged and stored into a server
// slot as the poll exchange does, with the panel taking the change flags in between. A stored record
// is always terminated, holds exactly what arrived, and a rejected or missing reply changes nothing.
//
// Input: sequence (u8), flags (u8: bit 0 takes the records between the replies), two length choices
// (u16 each, 0xFFFF for a failed receive), then the bytes of the first and of the second reply.
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "net/protocol.h"
#include "net/slot_table.h"
#include "platform/text16.h"

using namespace tarvelon;

namespace {

int receivedBytes(uint16_t choice) {
    return choice == 0xFFFF ? -1 : choice % (kClientReadLimit + 1);
}

bool sameHostIdentity(const HostRecord& a, const HostRecord& b) {
    return std::memcmp(a.hostName, b.hostName, sizeof a.hostName) == 0 && a.gpuCount == b.gpuCount &&
           a.physTotalMb == b.physTotalMb && a.pageTotalMb == b.pageTotalMb && a.cpuCount == b.cpuCount;
}

// Zero after the first 0 unit, so that equal texts compare equal as bytes.
void clearAfterText(char16_t (&text)[kRecordTextUnits]) {
    const size_t length = text16Length(text, kRecordTextUnits);
    for (size_t i = length; i < kRecordTextUnits; ++i) text[i] = 0;
}

void checkStored(const uint8_t* buffer, const SlotRecords& before, const SlotRecords& after) {
    HostRecord arrived;
    std::memcpy(&arrived, buffer + kReplyHostOffset, sizeof arrived);
    arrived.hostName[kRecordTextUnits - 1] = 0;
    HostRecord stored = after.host;
    FUZZ_CHECK(text16Length(stored.hostName, kRecordTextUnits) < kRecordTextUnits);

    // The change flag: kept when raised, raised when the identity of the host differs.
    HostRecord a = arrived, b = before.host;
    clearAfterText(a.hostName);
    clearAfterText(b.hostName);
    const bool identityDiffers = !sameHostIdentity(a, b);
    FUZZ_CHECK((stored.changed != 0) == (before.host.changed != 0 || identityDiffers));
    stored.changed = arrived.changed;
    FUZZ_CHECK(std::memcmp(&stored, &arrived, sizeof stored) == 0);

    const int count = buffer[3];
    for (int k = 0; k < kGpuSlots; ++k) {
        const GpuRecord& gpu = after.gpus[k];
        FUZZ_CHECK(text16Length(gpu.gpuName, kRecordTextUnits) < kRecordTextUnits);
        GpuRecord expected;
        if (k < count) {
            std::memcpy(&expected, buffer + kReplyGpuOffset + k * sizeof(GpuRecord), sizeof expected);
        } else {
            expected = before.gpus[k];
            expected.present = 0;
        }
        expected.gpuName[kRecordTextUnits - 1] = 0;
        FUZZ_CHECK(std::memcmp(&gpu, &expected, sizeof gpu) == 0);
    }
}

void receiveReply(ServerSlot& slot, uint8_t sequence, int received, FuzzInput& input) {
    static std::vector<uint8_t> buffer(kDatagramBufferBytes);
    std::fill(buffer.begin(), buffer.end(), 0);
    if (received > 0) input.bytes(buffer.data(), static_cast<size_t>(received));

    const SlotRecords before = readSlotRecords(slot);
    const ReplyVerdict verdict = judgeReply(buffer.data(), received, sequence);
    if (received < kRequestBytes) {
        FUZZ_CHECK(verdict == ReplyVerdict::Unanswered);
    } else {
        const int announced = buffer[3] > kGpuSlots ? kGpuSlots : buffer[3];
        const bool whole = received >= 131 + 108 * announced;
        const bool full = buffer[1] == sequence && buffer[2] == kCodeFullReply && whole;
        FUZZ_CHECK(verdict == (full ? ReplyVerdict::Accepted : ReplyVerdict::Rejected));
    }
    if (verdict == ReplyVerdict::Accepted) {
        updateSlotRecords(slot, [&](HostRecord& host, GpuRecord(&gpus)[kGpuSlots]) {
            storeReply(buffer.data(), host, gpus);
        });
    }
    const SlotRecords after = readSlotRecords(slot);
    if (verdict == ReplyVerdict::Accepted) {
        checkStored(buffer.data(), before, after);
    } else {
        FUZZ_CHECK(std::memcmp(&before, &after, sizeof before) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t sequence = input.u8();
    const uint8_t flags = input.u8();
    const int first = receivedBytes(input.u16());
    const int second = receivedBytes(input.u16());

    clearSlotTable();
    ServerSlot& slot = slotTable[0];
    receiveReply(slot, sequence, first, input);
    if ((flags & 1) != 0) {
        takeSlotRecords(slot, [](const HostRecord&, const GpuRecord(&)[kGpuSlots]) {});
        const SlotRecords taken = readSlotRecords(slot);
        FUZZ_CHECK(taken.host.changed == 0);
        for (const GpuRecord& gpu : taken.gpus) FUZZ_CHECK(gpu.changed == 0);
    }
    receiveReply(slot, sequence, second, input);
    return 0;
}
