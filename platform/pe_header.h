// Reading the identity of a PE image (a Windows module as mapped in memory, or its file): the
// optional header's checksum, or the file header's link time stamp when the checksum is 0.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvelon {

// Returns 0 when the bytes are not a PE image (bad signatures or offsets beyond size).
uint32_t peIdentityStamp(const uint8_t* image, size_t size);

}  // namespace tarvelon
