#include "agent/connection_admission.h"

#include "agent/address_group.h"

namespace tarvelon {
namespace {

size_t heldBy(const HeldConnection* held, size_t count, const IpAddress& client) {
    size_t found = 0;
    for (size_t i = 0; i < count; ++i) found += sameGroup(held[i].client, client) ? 1 : 0;
    return found;
}

}  // namespace

AdmissionDecision admitConnection(const HeldConnection* held, size_t count, const IpAddress& client) {
    const size_t own = heldBy(held, count, client);
    if (own >= kConnectionsPerClient) return {Admission::ClientFull, 0};
    if (count < kMostConnections) return {Admission::Admit, 0};
    // Only from a client that would still hold more than the newcomer: two clients never take turns
    // closing each other's connections.
    size_t replaced = count;
    size_t mostHeld = own + 1;
    for (size_t i = 0; i < count; ++i) {
        if (!held[i].waiting) continue;
        const size_t clientHolds = heldBy(held, count, held[i].client);
        if (clientHolds > mostHeld) {
            mostHeld = clientHolds;
            replaced = i;
        }
    }
    if (replaced == count) return {Admission::AllBusy, 0};
    return {Admission::AdmitInPlace, replaced};
}

}  // namespace tarvelon
