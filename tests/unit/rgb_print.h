// Shows colours as (r,g,b) in test failure messages.
#pragma once

#include <ostream>

#include "panel/surface.h"

namespace tarvelon {

inline void PrintTo(Rgb colour, std::ostream* out) {
    *out << "(" << int{colour.r} << "," << int{colour.g} << "," << int{colour.b} << ")";
}

}  // namespace tarvelon
