// Who may ask the query server: a comma-separated list of addresses and CIDR networks, IPv4 and IPv6
// ("192.168.1.0/24, 10.0.0.7, fd00::/8"). An empty list lets everyone ask. A sender's IPv4-mapped IPv6
// address is matched as the IPv4 address it carries, so a mapped address never slips past an IPv4
// entry or through an IPv6-only list.
#pragma once

#include <cstdint>

#include "platform/sockets.h"

namespace tarvelon {

constexpr int kAllowEntries = 32;
constexpr int32_t kAllowNobody = -1;

struct AllowEntry {
    IpAddress network;  // host bits cleared
    int32_t prefixBits;
};

struct AllowList {
    int32_t count;  // 0: everyone; kAllowNobody: no one (a stored list that no longer reads)
    AllowEntry entries[kAllowEntries];
};

// Parses the whole text; blanks around entries are ignored. On a malformed entry (or more than
// kAllowEntries) returns false, leaves out as it was, and points badEntry at the entry's first unit.
bool parseAllowList(const char16_t* text, AllowList* out, const char16_t** badEntry);

// True when the list is empty or an entry contains the sender.
bool allowListAdmits(const AllowList& list, const IpAddress& sender);

// A numeric IPv4 ("192.0.2.7") or IPv6 ("2001:db8::1", "::ffff:192.0.2.7") address of length units,
// without a scope or port; false for anything else.
bool parseIpText(const char16_t* text, int length, IpAddress* out);

bool isMappedIPv4(const IpAddress& address);
// The IPv4 address a mapped address carries; any other address as it is.
IpAddress unmappedIPv4(const IpAddress& address);
// True when address is of network's family and agrees with it in the leading prefixBits.
bool networkHolds(const IpAddress& network, int32_t prefixBits, const IpAddress& address);

}  // namespace tarvelon
