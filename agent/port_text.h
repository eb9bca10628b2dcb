// Ports: the default one, and a port as options and probe targets write it.
#pragma once

#include <cstdint>
#include <string>

namespace tarvelon {

// The UDP port Tarvelon servers answer on unless told otherwise; the metrics endpoint's TCP port takes
// the same number, which no exporter in Prometheus's list of default ports uses.
constexpr uint16_t kDefaultTarvelonPort = 8221;

// True for 1 to 65535 in at most five decimal digits, with nothing else; *port is then set.
bool parsePort(const std::string& text, uint16_t* port);

}  // namespace tarvelon
