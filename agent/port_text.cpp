#include "agent/port_text.h"

#include <cstdlib>

namespace tarvelon {

bool parsePort(const std::string& text, uint16_t* port) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value < 1 || value > 65535) return false;
    *port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace tarvelon
