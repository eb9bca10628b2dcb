#include "agent/address_group.h"

#include <cstring>

#include "net/allow_list.h"

namespace tarvelon {

IpAddress addressGroup(const IpAddress& address) {
    IpAddress group = isMappedIPv4(address) ? unmappedIPv4(address) : address;
    group.scopeId = 0;
    const size_t kept = group.family == IpFamily::IPv4 ? 4 : 8;
    std::memset(group.bytes + kept, 0, sizeof group.bytes - kept);
    return group;
}

bool sameGroup(const IpAddress& a, const IpAddress& b) {
    return a.family == b.family && std::memcmp(a.bytes, b.bytes, sizeof a.bytes) == 0;
}

}  // namespace tarvelon
