// The client a limit of the metrics endpoint counts: an IPv4 address, or an IPv6 /64 as a whole,
// since one IPv6 host may take any address of its network. A mapped IPv4 address counts as the IPv4
// address it carries.
#pragma once

#include "platform/sockets.h"

namespace tarvelon {

// address with the bits past its group zeroed (and no scope), ready to compare whole.
IpAddress addressGroup(const IpAddress& address);

bool sameGroup(const IpAddress& a, const IpAddress& b);

}  // namespace tarvelon
