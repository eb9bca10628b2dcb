#include "net/allow_list.h"

#include <cstring>

namespace tarvelon {
namespace {

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

int hexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Four decimal parts of 0..255 without leading zeros (which some readers take as octal).
bool parseIPv4(const char16_t* text, int length, uint8_t* bytes) {
    int part = 0;
    int at = 0;
    while (part < 4) {
        int value = 0;
        int digits = 0;
        while (at < length && text[at] >= u'0' && text[at] <= u'9') {
            if (digits == 1 && value == 0) return false;
            value = value * 10 + (text[at] - u'0');
            ++digits;
            ++at;
            if (value > 255) return false;
        }
        if (digits == 0) return false;
        bytes[part++] = static_cast<uint8_t>(value);
        if (part < 4) {
            if (at >= length || text[at] != u'.') return false;
            ++at;
        }
    }
    return at == length;
}

// Groups of up to four hex digits, at most one "::", and an IPv4 address in the last 32 bits.
bool parseIPv6(const char16_t* text, int length, uint8_t* bytes) {
    uint8_t parsed[16] = {};
    int filled = 0;     // bytes written
    int gapAt = -1;     // where "::" stands, in bytes
    int at = 0;
    if (length >= 2 && text[0] == u':' && text[1] == u':') {
        gapAt = 0;
        at = 2;
    }
    while (at < length) {
        // An IPv4 tail: the rest holds a dot before the next colon.
        int end = at;
        while (end < length && text[end] != u':') ++end;
        bool dotted = false;
        for (int i = at; i < end; ++i) dotted = dotted || text[i] == u'.';
        if (dotted) {
            if (end != length || filled > 12 || !parseIPv4(text + at, length - at, parsed + filled)) return false;
            filled += 4;
            break;
        }
        if (end - at < 1 || end - at > 4 || filled > 14) return false;
        int group = 0;
        for (int i = at; i < end; ++i) {
            const int digit = hexValue(text[i]);
            if (digit < 0) return false;
            group = group * 16 + digit;
        }
        parsed[filled++] = static_cast<uint8_t>(group >> 8);
        parsed[filled++] = static_cast<uint8_t>(group);
        at = end;
        if (at == length) break;
        ++at;  // the colon
        if (at < length && text[at] == u':') {
            if (gapAt >= 0) return false;
            gapAt = filled;
            ++at;
        } else if (at == length) {
            return false;  // a single trailing colon
        }
    }
    if (gapAt < 0) {
        if (filled != 16) return false;
        std::memcpy(bytes, parsed, 16);
        return true;
    }
    if (filled > 14) return false;  // "::" stands for at least one group
    std::memset(bytes, 0, 16);
    std::memcpy(bytes, parsed, static_cast<size_t>(gapAt));
    const int tail = filled - gapAt;
    std::memcpy(bytes + 16 - tail, parsed + gapAt, static_cast<size_t>(tail));
    return true;
}

}  // namespace

bool isMappedIPv4(const IpAddress& address) {
    static const uint8_t kPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    return address.family == IpFamily::IPv6 && std::memcmp(address.bytes, kPrefix, 12) == 0;
}

IpAddress unmappedIPv4(const IpAddress& address) {
    if (!isMappedIPv4(address)) return address;
    IpAddress ipv4{IpFamily::IPv4, {}, 0};
    std::memcpy(ipv4.bytes, address.bytes + 12, 4);
    return ipv4;
}

namespace {

int familyBits(IpFamily family) {
    return family == IpFamily::IPv4 ? 32 : 128;
}

bool parseEntry(const char16_t* text, int length, AllowEntry* entry) {
    int slash = 0;
    while (slash < length && text[slash] != u'/') ++slash;
    IpAddress address{};
    if (!parseIpText(text, slash, &address)) return false;
    const int bits = familyBits(address.family);
    int prefix = bits;
    if (slash < length) {
        const int digits = length - slash - 1;
        if (digits < 1 || digits > 3) return false;
        prefix = 0;
        for (int i = slash + 1; i < length; ++i) {
            if (text[i] < u'0' || text[i] > u'9') return false;
            prefix = prefix * 10 + (text[i] - u'0');
        }
        if (prefix > bits) return false;
    }
    // Senders are matched unmapped, so a network within the mapped range is an IPv4 network.
    if (isMappedIPv4(address) && prefix >= 96) {
        address = unmappedIPv4(address);
        prefix -= 96;
    }
    for (int bit = prefix; bit < familyBits(address.family); ++bit) {
        address.bytes[bit / 8] &= static_cast<uint8_t>(~(0x80u >> (bit % 8)));
    }
    *entry = AllowEntry{address, prefix};
    return true;
}

}  // namespace

bool parseIpText(const char16_t* text, int length, IpAddress* out) {
    IpAddress address{};
    bool colon = false;
    for (int i = 0; i < length; ++i) colon = colon || text[i] == u':';
    if (colon) {
        address.family = IpFamily::IPv6;
        if (!parseIPv6(text, length, address.bytes)) return false;
    } else {
        address.family = IpFamily::IPv4;
        if (!parseIPv4(text, length, address.bytes)) return false;
    }
    *out = address;
    return true;
}

bool parseAllowList(const char16_t* text, AllowList* out, const char16_t** badEntry) {
    AllowList list{};
    const char16_t* at = text;
    while (isBlank(*at)) ++at;
    // Blanks alone are the empty list; an empty entry between commas is a slip, shown as an error.
    while (*at != 0) {
        while (isBlank(*at)) ++at;
        const char16_t* start = at;
        while (*at != 0 && *at != u',') ++at;
        const char16_t* end = at;
        while (end > start && isBlank(end[-1])) --end;
        if (list.count == kAllowEntries ||
            !parseEntry(start, static_cast<int>(end - start), &list.entries[list.count])) {
            *badEntry = start;
            return false;
        }
        ++list.count;
        if (*at == u',') {
            ++at;
            if (*at == 0) {
                *badEntry = at;
                return false;
            }
        }
    }
    *out = list;
    return true;
}

bool networkHolds(const IpAddress& network, int32_t prefixBits, const IpAddress& address) {
    if (address.family != network.family) return false;
    for (int bit = 0; bit < prefixBits; ++bit) {
        const uint8_t mask = static_cast<uint8_t>(0x80u >> (bit % 8));
        if ((address.bytes[bit / 8] & mask) != (network.bytes[bit / 8] & mask)) return false;
    }
    return true;
}

bool allowListAdmits(const AllowList& list, const IpAddress& sender) {
    if (list.count == 0) return true;
    if (list.count == kAllowNobody) return false;
    const IpAddress address = unmappedIPv4(sender);
    for (int i = 0; i < list.count; ++i) {
        if (networkHolds(list.entries[i].network, list.entries[i].prefixBits, address)) return true;
    }
    return false;
}

}  // namespace tarvelon
