#include "net/name_resolution.h"

#include <atomic>
#include <mutex>
#include <thread>

#include "net/slot_table.h"
#include "platform/fatal.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

struct ResolutionJob {
    std::mutex lock;
    uint64_t ticket = 0;  // of the job the slot waits for; a finished job with another is dropped
    ResolutionOutcome outcome = ResolutionOutcome::None;
    ResolvedAddress address{};
};

// Lives as long as the process: a resolver thread may still finish after everything else.
ResolutionJob* const jobs = new ResolutionJob[kServerSlots];
std::atomic<ResolveUdpFunction> slotResolver{resolveUdpAddress};

struct Request {
    int slot;
    uint64_t ticket;
    char16_t host[kSlotTextUnits];
    char16_t service[16];
};

void resolve(const Request& request) {
    ResolvedAddress address{};
    const bool resolved = slotResolver.load()(request.host, request.service, &address) == 0;
    ResolutionJob& job = jobs[request.slot];
    std::lock_guard<std::mutex> guard(job.lock);
    if (job.ticket != request.ticket) return;
    job.outcome = resolved ? ResolutionOutcome::Resolved : ResolutionOutcome::Failed;
    job.address = address;
}

}  // namespace

bool resolveAgainDue(int32_t status, int64_t now, int64_t lastAnswerTime, int64_t lastResolutionTime) {
    if (status == kStatusOk || status == kStatusUnresolvable) return false;
    return now - lastAnswerTime >= kResolveAgainSeconds && now - lastResolutionTime >= kResolveAgainSeconds;
}

void setSlotResolver(ResolveUdpFunction resolve) {
    slotResolver.store(resolve);
}

void beginResolution(int slot, const char16_t* host, int32_t port) {
    Request request{slot, 0, {}, {}};
    copyText16(request.host, kSlotTextUnits, host);
    format16(request.service, 16, u"%d", port);
    {
        ResolutionJob& job = jobs[slot];
        std::lock_guard<std::mutex> guard(job.lock);
        request.ticket = ++job.ticket;
        job.outcome = ResolutionOutcome::Pending;
    }
    startThreadOrFail(kSiteNameResolution, [&request] {
        return std::thread([request] { resolve(request); });
    }).detach();
}

ResolutionOutcome takeResolution(int slot, ResolvedAddress* address) {
    ResolutionJob& job = jobs[slot];
    std::lock_guard<std::mutex> guard(job.lock);
    const ResolutionOutcome outcome = job.outcome;
    if (outcome == ResolutionOutcome::Resolved) *address = job.address;
    if (outcome != ResolutionOutcome::Pending) job.outcome = ResolutionOutcome::None;
    return outcome;
}

void forgetResolution(int slot) {
    ResolutionJob& job = jobs[slot];
    std::lock_guard<std::mutex> guard(job.lock);
    ++job.ticket;
    job.outcome = ResolutionOutcome::None;
}

}  // namespace tarvelon
