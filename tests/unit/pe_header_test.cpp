#include "platform/pe_header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace tarvelon {
namespace {

// The headers of a PE image with the NT headers at ntOffset.
std::vector<uint8_t> image(uint32_t ntOffset, uint32_t timeStamp, uint32_t checksum, size_t size = 512) {
    std::vector<uint8_t> bytes(size, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    std::memcpy(&bytes[0x3C], &ntOffset, 4);
    if (uint64_t{ntOffset} + 92 <= size) {
        std::memcpy(&bytes[ntOffset], "PE\0\0", 4);
        std::memcpy(&bytes[ntOffset + 8], &timeStamp, 4);
        std::memcpy(&bytes[ntOffset + 88], &checksum, 4);
    }
    return bytes;
}

TEST(PeIdentityStamp, IsTheChecksumOrElseTheLinkTimeStamp) {
    std::vector<uint8_t> withChecksum = image(0x80, 0x5F5E0FF1, 0x0001A2B3);
    EXPECT_EQ(peIdentityStamp(withChecksum.data(), withChecksum.size()), 0x0001A2B3u);
    std::vector<uint8_t> withoutChecksum = image(0xF8, 0x5F5E0FF1, 0);
    EXPECT_EQ(peIdentityStamp(withoutChecksum.data(), withoutChecksum.size()), 0x5F5E0FF1u);
}

TEST(PeIdentityStamp, IsZeroForBytesThatAreNoImage) {
    std::vector<uint8_t> notMz = image(0x80, 1, 2);
    notMz[0] = 'X';
    std::vector<uint8_t> notPe = image(0x80, 1, 2);
    notPe[0x81] = 'X';
    std::vector<uint8_t> beyondSize = image(500, 1, 2);
    std::vector<uint8_t> hugeOffset = image(0xFFFFFFF0u, 1, 2);
    std::vector<uint8_t> tiny = image(0x80, 1, 2, 0x40);
    for (std::vector<uint8_t>* bytes : {&notMz, &notPe, &beyondSize, &hugeOffset, &tiny}) {
        EXPECT_EQ(peIdentityStamp(bytes->data(), bytes->size()), 0u);
    }
}

}  // namespace
}  // namespace tarvelon
