#include "platform/pe_header.h"

#include <cstring>

namespace tarvelon {
namespace {

uint32_t readWord32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

constexpr size_t kNewHeaderOffsetField = 0x3C;
constexpr size_t kTimeStampInNtHeaders = 8;       // signature (4), machine (2), section count (2)
constexpr size_t kChecksumInNtHeaders = 24 + 64;  // signature and file header, then optional header

}  // namespace

uint32_t peIdentityStamp(const uint8_t* image, size_t size) {
    if (size < kNewHeaderOffsetField + 4 || image[0] != 'M' || image[1] != 'Z') return 0;
    const uint32_t ntHeaders = readWord32(image + kNewHeaderOffsetField);
    if (ntHeaders > size || size - ntHeaders < kChecksumInNtHeaders + 4) return 0;
    if (std::memcmp(image + ntHeaders, "PE\0\0", 4) != 0) return 0;
    const uint32_t checksum = readWord32(image + ntHeaders + kChecksumInNtHeaders);
    return checksum != 0 ? checksum : readWord32(image + ntHeaders + kTimeStampInNtHeaders);
}

}  // namespace tarvelon
