// The socket layer behaves as Winsock does on both builds: the error numbers callers decide on, the
// too-long datagram, time-outs, resolution and address texts.
#include "platform/sockets.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/text16.h"
#include "unit/net_test_support.h"

namespace tarvelon {
namespace {

using namespace testing_net;

class SocketLayer : public testing::TestWithParam<IpFamily> {
  protected:
    void SetUp() override { startSocketsForTests(); }
};

TEST_P(SocketLayer, DatagramLongerThanTheReceiveSizeIsReportedTooLong) {
    TestPeer receiver(GetParam(), 2000);
    TestPeer sender(GetParam());
    const uint16_t port = boundPort(receiver.socket);
    sender.send(std::vector<uint8_t>(2000, 0xAB), port);
    sender.send({1, 2, 3}, port);

    std::vector<uint8_t> buffer(kDatagramBufferBytes, 0);
    SocketAddress from{};
    from.length = GetParam() == IpFamily::IPv4 ? 16 : 28;
    EXPECT_EQ(receiveFrom(receiver.socket, buffer.data(), 1900, true, &from), -1);
    EXPECT_EQ(lastSocketError(), kSocketErrorMessageSize);
    EXPECT_EQ(buffer[1899], 0xAB);
    EXPECT_EQ(buffer[1900], 0);  // nothing beyond the receive size is written
    // The peek left it queued; the plain receive reports it the same way and takes it away.
    EXPECT_EQ(receiveFrom(receiver.socket, buffer.data(), 1900, false, &from), -1);
    EXPECT_EQ(lastSocketError(), kSocketErrorMessageSize);
    EXPECT_EQ(receiveFrom(receiver.socket, buffer.data(), 1900, false, &from), 3);
    EXPECT_EQ(lastSocketError(), 0);
    EXPECT_EQ(from.length, GetParam() == IpFamily::IPv4 ? 16 : 28);
}

TEST_P(SocketLayer, ExactFitIsNotTooLong) {
    TestPeer receiver(GetParam(), 2000);
    TestPeer sender(GetParam());
    sender.send(std::vector<uint8_t>(1900, 7), boundPort(receiver.socket));
    std::vector<uint8_t> buffer(kDatagramBufferBytes, 0);
    SocketAddress from{};
    from.length = 28;
    EXPECT_EQ(receiveFrom(receiver.socket, buffer.data(), 1900, true, &from), 1900);
    EXPECT_EQ(lastSocketError(), 0);
}

TEST_P(SocketLayer, ReceiveTimesOutWithTimedOut) {
    TestPeer receiver(GetParam(), 100);
    std::vector<uint8_t> buffer(16, 0);
    SocketAddress from{};
    from.length = 28;
    EXPECT_EQ(receiveFrom(receiver.socket, buffer.data(), 16, false, &from), -1);
    EXPECT_EQ(lastSocketError(), kSocketErrorTimedOut);
}

TEST_P(SocketLayer, BindingATakenPortFailsWithAddressInUse) {
    TestPeer holder(GetParam());
    const SocketHandle second = openUdpSocket(GetParam());
    EXPECT_EQ(bindLoopback(second, GetParam(), boundPort(holder.socket)), -1);
    EXPECT_EQ(lastSocketError(), kSocketErrorAddressInUse);
    closeSocket(second);
}

TEST_P(SocketLayer, ResolvesNumericLoopbackWithItsPort) {
    ResolvedAddress address{};
    ASSERT_EQ(resolveUdpAddress(loopbackName(GetParam()), u"8221", &address), 0);
    EXPECT_EQ(isIPv4Address(address), GetParam() == IpFamily::IPv4);
    EXPECT_EQ(address.length, GetParam() == IpFamily::IPv4 ? 16 : 28);
    char16_t text[190];
    addressToText(address, text, 190);
    EXPECT_EQ(toUtf8(text), GetParam() == IpFamily::IPv4 ? "127.0.0.1:8221" : "[::1]:8221");
}

INSTANTIATE_TEST_SUITE_P(BothFamilies, SocketLayer, testing::Values(IpFamily::IPv4, IpFamily::IPv6),
                         [](const testing::TestParamInfo<IpFamily>& info) {
                             return info.param == IpFamily::IPv4 ? "IPv4" : "IPv6";
                         });

TEST(SocketResolution, UnresolvableNameFails) {
    startSocketsForTests();
    ResolvedAddress address{};
    EXPECT_NE(resolveUdpAddress(u"no..such", u"8221", &address), 0);
}

TEST(SocketResolution, TellsNumericAddressesFromNames) {
    startSocketsForTests();
    EXPECT_TRUE(isNumericHost(u"127.0.0.1"));
    EXPECT_TRUE(isNumericHost(u"::1"));
    EXPECT_TRUE(isNumericHost(u"2001:db8::7"));
    EXPECT_FALSE(isNumericHost(u"localhost"));
    EXPECT_FALSE(isNumericHost(u"no..such"));
}

TEST(SocketSender, AddressIsTheSendersWithoutItsPort) {
    startSocketsForTests();
    const IpAddress cases[] = {
#ifndef _WIN32
        // Under Wine a datagram from a socket bound to 127.0.0.2 arrives as from 127.0.0.1.
        {IpFamily::IPv4, {127, 0, 0, 2}, 0},
#endif
        {IpFamily::IPv4, {127, 0, 0, 1}, 0},
        {IpFamily::IPv6, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 0},
    };
    for (const IpAddress& sent : cases) {
        TestPeer receiver(sent.family, 2000);
        const SocketHandle sender = openUdpSocket(sent.family);
        ASSERT_EQ(bindIpAddress(sender, sent, 0), 0);
        const uint8_t bytes[3] = {1, 2, 3};
        sendTo(sender, bytes, 3, loopbackAddress(sent.family, boundPort(receiver.socket)));

        uint8_t buffer[16] = {};
        SocketAddress from{};
        from.length = sent.family == IpFamily::IPv4 ? 16 : 28;
        ASSERT_EQ(receiveFrom(receiver.socket, buffer, 16, false, &from), 3);
        IpAddress received{};
        ASSERT_TRUE(senderIpAddress(from, &received));
        const size_t length = sent.family == IpFamily::IPv4 ? 4 : 16;
        EXPECT_EQ(received.family, sent.family);
        EXPECT_EQ(std::vector<uint8_t>(received.bytes, received.bytes + length),
                  std::vector<uint8_t>(sent.bytes, sent.bytes + length));
        closeSocket(sender);
    }
    SocketAddress unknown{};
    unknown.length = 28;
    IpAddress untouched{IpFamily::IPv6, {9}, 0};
    EXPECT_FALSE(senderIpAddress(unknown, &untouched));
    EXPECT_EQ(untouched.bytes[0], 9);
}

TEST(SocketSharing, IPv6OnlySocketSharesThePortWithIPv4) {
    startSocketsForTests();
    const uint16_t port = freeUdpPort();
    const SocketHandle ipv4 = openUdpSocket(IpFamily::IPv4);
    const SocketHandle ipv6 = openUdpSocket(IpFamily::IPv6);
    setIPv6Only(ipv6);
    EXPECT_EQ(bindWildcard(ipv4, IpFamily::IPv4, port), 0);
    EXPECT_EQ(bindWildcard(ipv6, IpFamily::IPv6, port), 0);
    closeSocket(ipv4);
    closeSocket(ipv6);
}

}  // namespace
}  // namespace tarvelon
