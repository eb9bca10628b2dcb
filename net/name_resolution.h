// Name resolution for the server slots on threads of its own, so that a slow resolver holds neither
// the client manager's answers to the dialog nor the stop of a poll thread. One job per slot index; a
// job that is forgotten (its slot removed, restarted or moved meanwhile) ends unseen.
#pragma once

#include <cstdint>

#include "platform/sockets.h"

namespace tarvelon {

// A name (never a numeric address) is resolved again while its slot has not answered for this long,
// at most once in that time: DHCP or dynamic DNS may have given the server another address.
constexpr int64_t kResolveAgainSeconds = 60;
bool resolveAgainDue(int32_t status, int64_t now, int64_t lastAnswerTime, int64_t lastResolutionTime);

using ResolveUdpFunction = int32_t (*)(const char16_t* host, const char16_t* service, ResolvedAddress* first);
// The resolver the jobs call: resolveUdpAddress, unless a test puts a slow one in its place.
void setSlotResolver(ResolveUdpFunction resolve);

enum class ResolutionOutcome { None, Pending, Resolved, Failed };

// Starts resolving host and port for the slot, forgetting any earlier job of the slot.
void beginResolution(int slot, const char16_t* host, int32_t port);
// The state of the slot's job; a Resolved or Failed outcome is handed out once, the job is then None.
ResolutionOutcome takeResolution(int slot, ResolvedAddress* address);
// Forgets the slot's job: an outcome that comes later is dropped.
void forgetResolution(int slot);

}  // namespace tarvelon
