// A port as options and probe targets write it.
#pragma once

#include <cstdint>
#include <string>

namespace tarvelon {

// True for 1 to 65535 in at most five decimal digits, with nothing else; *port is then set.
bool parsePort(const std::string& text, uint16_t* port);

}  // namespace tarvelon
