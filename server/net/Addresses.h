#pragma once
// Internet addresses as the server reads them from its command line and a
// proxy's PROXY line: IPv4 or IPv6, written the one way (an IPv4 address
// an IPv6 socket reports as ::ffff:A.B.C.D is the IPv4 address), and the
// ranges of them --trust-proxy names. Plain text in, plain values out.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

struct IpAddress {
    bool v6 = false;
    std::array<std::uint8_t, 16> bytes{};  // an IPv4 address in the first 4
    int Bits() const { return v6 ? 128 : 32; }
};

// An IPv4 or IPv6 address, written as a literal; none for anything else.
std::optional<IpAddress> ReadIpAddress(std::string_view text);
std::optional<IpAddress> ReadIpv4Address(std::string_view text);
std::optional<IpAddress> ReadIpv6Address(std::string_view text);
// The address as text, the way the server writes it everywhere.
std::string AddressText(const IpAddress& address);

// ADDRESS/BITS: the addresses whose first BITS bits are ADDRESS's.
struct AddressRange {
    IpAddress base;
    int bits = 0;
    bool Contains(const IpAddress& address) const;
};
// ADDRESS or ADDRESS/BITS (ADDRESS alone: that address); none for bad text.
std::optional<AddressRange> ReadAddressRange(std::string_view text);

}  // namespace kestrel
