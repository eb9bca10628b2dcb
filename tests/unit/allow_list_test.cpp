// Who may ask: the list as typed, and which senders it admits.
#include "net/allow_list.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/text16.h"

namespace tarvelon {
namespace {

IpAddress address(const char16_t* text) {
    IpAddress parsed{};
    EXPECT_TRUE(parseIpText(text, static_cast<int>(text16Length(text, 64)), &parsed)) << toUtf8(text);
    return parsed;
}

TEST(AllowList, ParsesAddressesAndNetworksAndMatchesSenders) {
    const struct {
        const char16_t* list;
        const char16_t* sender;
        bool admitted;
    } cases[] = {
        {u"", u"203.0.113.9", true},  // empty: everyone
        {u"  ", u"2001:db8::1", true},
        {u"192.168.1.0/24", u"192.168.1.77", true},
        {u"192.168.1.0/24", u"192.168.2.1", false},
        {u"192.168.1.99/24", u"192.168.1.1", true},  // host bits of the network ignored
        {u"10.0.0.7", u"10.0.0.7", true},
        {u"10.0.0.7", u"10.0.0.8", false},
        {u"10.0.0.7/32", u"10.0.0.7", true},
        {u"0.0.0.0/0", u"198.51.100.1", true},
        {u"0.0.0.0/0", u"::1", false},  // one family only
        {u"::/0", u"2001:db8::5", true},
        {u"::/0", u"::ffff:127.0.0.1", false},  // a mapped sender is IPv4
        {u"127.0.0.1", u"::ffff:127.0.0.1", true},
        {u"::ffff:10.0.0.0/104", u"10.1.2.3", true},  // a mapped entry is IPv4 too
        {u"fd00::/8, 10.0.0.0/8", u"fd12:3456::9", true},
        {u"fd00::/8 ,10.0.0.0/8", u"10.200.0.1", true},
        {u"2001:db8:1:2::/64", u"2001:db8:1:2:ffff::1", true},
        {u"2001:db8:1:2::/64", u"2001:db8:1:3::1", false},
        {u"2001:db8::1/128", u"2001:db8::1", true},
        {u"1:2:3:4:5:6:7:8", u"1:2:3:4:5:6:7:8", true},
        {u"::1", u"::1", true},
        {u"fe80::1:2", u"fe80::1:3", false},
    };
    for (const auto& c : cases) {
        AllowList list{};
        const char16_t* bad = nullptr;
        ASSERT_TRUE(parseAllowList(c.list, &list, &bad)) << toUtf8(c.list);
        EXPECT_EQ(allowListAdmits(list, address(c.sender)), c.admitted) << toUtf8(c.list) << " / " << toUtf8(c.sender);
    }
}

TEST(AllowList, AMalformedEntryIsPointedAtAndNothingIsTaken) {
    const struct {
        const char16_t* list;
        int badAt;  // units into the list
    } cases[] = {
        {u"10.0.0.0/33", 0},       {u"::/129", 0},          {u"10.0.0/8", 0},
        {u"10.0.0.256", 0},        {u"010.0.0.1", 0},       {u"10.0.0.1/", 0},
        {u"10.0.0.1/8x", 0},       {u"1:2:3:4:5:6:7:8:9", 0}, {u"1::2::3", 0},
        {u"12345::", 0},           {u"fe80::1%3", 0},       {u"host.example", 0},
        {u"10.0.0.1, , ::1", 10},  {u"10.0.0.1,", 9},       {u"::1, 10.0.0.1 ,x", 15},
        {u"1:2:3:4:5:6:7:8::", 0}, {u":1::", 0},            {u"1:", 0},
    };
    for (const auto& c : cases) {
        AllowList list{};
        list.count = 7;
        const char16_t* bad = nullptr;
        EXPECT_FALSE(parseAllowList(c.list, &list, &bad)) << toUtf8(c.list);
        EXPECT_EQ(bad - c.list, c.badAt) << toUtf8(c.list);
        EXPECT_EQ(list.count, 7) << toUtf8(c.list);
    }
    std::u16string many;
    for (int i = 0; i < kAllowEntries + 1; ++i) many += u"10.0.0.1,";
    many.pop_back();
    AllowList list{};
    const char16_t* bad = nullptr;
    EXPECT_FALSE(parseAllowList(many.c_str(), &list, &bad));
}

}  // namespace
}  // namespace tarvelon
