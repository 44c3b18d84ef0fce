// What the server takes from a proxy it trusts, checked without a network:
// the ranges of addresses --trust-proxy names, and the PROXY line that
// names the browser, or why a line is refused.

#include <gtest/gtest.h>

#include <string>

#include "server/net/Addresses.h"
#include "server/net/ProxyLine.h"

namespace kestrel {
namespace {

bool InRange(std::string_view range, std::string_view address) {
    const std::optional<AddressRange> read = ReadAddressRange(range);
    const std::optional<IpAddress> ip = ReadIpAddress(address);
    EXPECT_TRUE(read && ip) << range << " " << address;
    return read && ip && read->Contains(*ip);
}

TEST(Addresses, ARangeHoldsTheAddressesOfItsFirstBitsOnly) {
    EXPECT_TRUE(InRange("127.0.0.1/32", "127.0.0.1"));
    EXPECT_FALSE(InRange("127.0.0.1/32", "127.0.0.2"));
    EXPECT_FALSE(InRange("127.0.0.1", "127.0.0.2")) << "an address alone is itself only";
    EXPECT_TRUE(InRange("10.1.2.3/8", "10.255.0.9"));
    EXPECT_FALSE(InRange("10.0.0.0/8", "11.0.0.0"));
    EXPECT_TRUE(InRange("192.168.1.128/25", "192.168.1.255"));
    EXPECT_FALSE(InRange("192.168.1.128/25", "192.168.1.127")) << "a mask that ends inside a byte";
    EXPECT_TRUE(InRange("0.0.0.0/0", "203.0.113.7"));
    EXPECT_FALSE(InRange("0.0.0.0/0", "::1")) << "IPv4 holds no IPv6 address";
    EXPECT_TRUE(InRange("::/0", "2001:db8::1"));
    EXPECT_FALSE(InRange("::/0", "127.0.0.1")) << "IPv6 holds no IPv4 address";
    EXPECT_TRUE(InRange("2001:db8::/32", "2001:db8:ffff::1"));
    EXPECT_FALSE(InRange("2001:db8::/32", "2001:db9::"));
    EXPECT_TRUE(InRange("::1", "::1"));
    // An IPv4 peer of an IPv6 socket is that IPv4 address, in text as in ranges.
    EXPECT_TRUE(InRange("127.0.0.1/32", "::ffff:127.0.0.1"));
    EXPECT_EQ(AddressText(*ReadIpAddress("::ffff:127.0.0.1")), "127.0.0.1");
    EXPECT_EQ(AddressText(*ReadIpAddress("2001:DB8:0::1")), "2001:db8::1");
    for (const char* bad : {"", "/8", "10.0.0.0/", "10.0.0.0/33", "::/129", "10.0.0.0/-1", "10.0.0.0/8x",
                            "10.0.0/8", "10.0.0.0/8/8", "kestrel.test", " 10.0.0.1", "10.0.0.1 ", "[::1]", "::1%lo"})
        EXPECT_EQ(ReadAddressRange(bad), std::nullopt) << bad;
}

// A line refused has no state: REFUSED stands for it here.
constexpr auto REFUSED = ProxyLine::State(-1);
ProxyLine::State StateOf(std::string_view head) {
    const Result<ProxyLine> read = ReadProxyLine(head);
    return read ? read->state : REFUSED;
}

TEST(ProxyLine, NamesTheBrowserAndLeavesTheRequestAfterIt) {
    const std::string line = "PROXY TCP4 203.0.113.7 127.0.0.1 51234 8001\r\n";
    const Result<ProxyLine> tcp4 = ReadProxyLine(line + "GET / HTTP/1.1\r\n");
    EXPECT_EQ(tcp4->state, ProxyLine::State::Read);
    EXPECT_EQ(tcp4->browser, "203.0.113.7");
    EXPECT_EQ(tcp4->length, line.size());
    const Result<ProxyLine> tcp6 = ReadProxyLine("PROXY TCP6 2001:DB8::7 ::1 65535 0\r\n");
    EXPECT_EQ(tcp6->state, ProxyLine::State::Read);
    EXPECT_EQ(tcp6->browser, "2001:db8::7");
    EXPECT_EQ(ReadProxyLine("PROXY TCP6 ::ffff:203.0.113.7 ::1 1 2\r\n")->browser, "203.0.113.7");
    // The proxy's own connections (its health checks) name no browser.
    const Result<ProxyLine> unknown = ReadProxyLine("PROXY UNKNOWN\r\nGET /status HTTP/1.1\r\n");
    EXPECT_EQ(unknown->state, ProxyLine::State::Read);
    EXPECT_EQ(unknown->length, 15u);
    EXPECT_EQ(unknown->browser, "");
    EXPECT_EQ(StateOf("PROXY UNKNOWN ffff::1 ffff::2 1 2\r\n"), ProxyLine::State::Read);

    for (const char* http : {"GET / HTTP/1.1\r\n", "G", "PROXX", "proxy TCP4 1.2.3.4 1.2.3.4 1 2\r\n", "PROXY\r\n"})
        EXPECT_EQ(StateOf(http), ProxyLine::State::Absent) << http;
    for (const char* start : {"", "PRO", "PROXY ", "PROXY TCP4 203.0.113.7", "PROXY TCP4 1.2.3.4 1.2.3.4 1 2\r"})
        EXPECT_EQ(StateOf(start), ProxyLine::State::Partial) << start;
}

TEST(ProxyLine, RefusesALineThatIsNotOne) {
    const std::string longest = "PROXY UNKNOWN " + std::string(MAX_PROXY_LINE_BYTES - 16, 'x') + "\r\n";
    ASSERT_EQ(longest.size(), 107u);
    EXPECT_EQ(StateOf(longest), ProxyLine::State::Read);
    const Result<ProxyLine> tooLong = ReadProxyLine("PROXY UNKNOWN x" + longest.substr(14));
    ASSERT_FALSE(tooLong.Ok());
    EXPECT_EQ(tooLong.Why(), "a PROXY line is longer than 107 bytes");
    EXPECT_EQ(StateOf("PROXY TCP6 ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255 "
                      "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255 65535 65535\r\n"),
              REFUSED);
    for (const char* bad : {
             "PROXY TCP4 1.2.3.4 5.6.7.8 1 2\nGET / HTTP/1.1\r\n",  // no CR before its LF
             "PROXY TCP4 ::1 5.6.7.8 1 2\r\n", "PROXY TCP6 1.2.3.4 ::1 1 2\r\n", "PROXY TCP4 256.0.0.1 5.6.7.8 1 2\r\n",
             "PROXY TCP4 1.2.3.4 5.6.7.8 65536 2\r\n", "PROXY TCP4 1.2.3.4 5.6.7.8 1 080\r\n",
             "PROXY TCP4 1.2.3.4 5.6.7.8 -1 2\r\n", "PROXY TCP4 1.2.3.4 5.6.7.8 1\r\n",
             "PROXY TCP4 1.2.3.4 5.6.7.8 1 2 3\r\n", "PROXY TCP4 1.2.3.4 5.6.7.8 1 2 \r\n",
             "PROXY TCP4  1.2.3.4 5.6.7.8 1 2\r\n", "PROXY TCP5 1.2.3.4 5.6.7.8 1 2\r\n", "PROXY \r\n",
             "PROXY UNKNOWNX\r\n", "PROXY TCP4 kestrel.test 5.6.7.8 1 2\r\n"})
        EXPECT_EQ(StateOf(bad), REFUSED) << bad;
}

}  // namespace
}  // namespace kestrel
