// Who may ask, from any typed text and any sender: the parser never reads past the text, an accepted
// list has at most kAllowEntries entries, each with its host bits cleared and a prefix its family
// holds, and admits every address inside its own networks; a refused text points inside itself and
// changes nothing.
//
// Input: a sender's family (u8) and 16 address bytes, then the text as UTF-16 units until the end.
#include <cstdlib>
#include <vector>

#include "fuzz_input.h"
#include "net/allow_list.h"

using namespace tarvelon;

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    IpAddress sender{};
    sender.family = (input.u8() & 1) != 0 ? IpFamily::IPv6 : IpFamily::IPv4;
    input.bytes(sender.bytes, sizeof sender.bytes);
    std::vector<char16_t> text;
    while (input.left() >= 2) text.push_back(static_cast<char16_t>(input.u16()));
    text.push_back(0);

    AllowList list{};
    list.count = 5;
    const char16_t* bad = nullptr;
    if (!parseAllowList(text.data(), &list, &bad)) {
        require(list.count == 5);
        require(bad >= text.data() && bad < text.data() + text.size());
        return 0;
    }
    require(list.count >= 0 && list.count <= kAllowEntries);
    for (int i = 0; i < list.count; ++i) {
        const AllowEntry& entry = list.entries[i];
        const int bits = entry.network.family == IpFamily::IPv4 ? 32 : 128;
        require(entry.prefixBits >= 0 && entry.prefixBits <= bits);
        for (int bit = entry.prefixBits; bit < bits; ++bit) {
            require((entry.network.bytes[bit / 8] & (0x80u >> (bit % 8))) == 0);
        }
        require(allowListAdmits(list, entry.network));
    }
    // Every sender gets an answer; an empty list admits it.
    const bool admitted = allowListAdmits(list, sender);
    require(list.count != 0 || admitted);
    return 0;
}
