#include "server/net/Addresses.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>

namespace kestrel {
namespace {

constexpr std::size_t IPV4_BYTES = 4;
// ::ffff:A.B.C.D, an IPv4 address as an IPv6 socket sees it.
constexpr std::array<std::uint8_t, 12> IPV4_MAPPED_PREFIX{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

std::optional<IpAddress> Parse(int family, std::string_view text) {
    // inet_pton reads a C string: a NUL inside the text would end it early.
    if (text.empty() || text.size() > INET6_ADDRSTRLEN || text.find('\0') != std::string_view::npos)
        return std::nullopt;
    IpAddress address;
    address.v6 = family == AF_INET6;
    if (inet_pton(family, std::string(text).c_str(), address.bytes.data()) != 1) return std::nullopt;
    return address;
}

IpAddress Unmapped(IpAddress address) {
    if (!address.v6 || !std::equal(IPV4_MAPPED_PREFIX.begin(), IPV4_MAPPED_PREFIX.end(), address.bytes.begin()))
        return address;
    IpAddress v4;
    std::copy_n(address.bytes.begin() + IPV4_MAPPED_PREFIX.size(), IPV4_BYTES, v4.bytes.begin());
    return v4;
}

}  // namespace

std::optional<IpAddress> ReadIpv4Address(std::string_view text) { return Parse(AF_INET, text); }

std::optional<IpAddress> ReadIpv6Address(std::string_view text) {
    const std::optional<IpAddress> address = Parse(AF_INET6, text);
    return address ? std::optional(Unmapped(*address)) : std::nullopt;
}

std::optional<IpAddress> ReadIpAddress(std::string_view text) {
    const std::optional<IpAddress> v4 = ReadIpv4Address(text);
    return v4 ? v4 : ReadIpv6Address(text);
}

std::string AddressText(const IpAddress& address) {
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(address.v6 ? AF_INET6 : AF_INET, address.bytes.data(), text, sizeof text);
    return text;
}

bool AddressRange::Contains(const IpAddress& address) const {
    if (address.v6 != base.v6) return false;
    const int whole = bits / 8, rest = bits % 8;
    if (!std::equal(base.bytes.begin(), base.bytes.begin() + whole, address.bytes.begin())) return false;
    const std::uint8_t mask = std::uint8_t(0xff << (8 - rest));
    return rest == 0 || (base.bytes[whole] & mask) == (address.bytes[whole] & mask);
}

std::optional<AddressRange> ReadAddressRange(std::string_view text) {
    const std::size_t slash = text.find('/');
    const std::optional<IpAddress> base = ReadIpAddress(text.substr(0, slash));
    if (!base) return std::nullopt;
    if (slash == std::string_view::npos) return AddressRange{*base, base->Bits()};
    const std::string_view bitsText = text.substr(slash + 1);
    int bits = -1;
    const auto [end, ec] = std::from_chars(bitsText.data(), bitsText.data() + bitsText.size(), bits);
    if (ec != std::errc() || end != bitsText.data() + bitsText.size() || bitsText.empty() || bits < 0 ||
        bits > base->Bits())
        return std::nullopt;
    return AddressRange{*base, bits};
}

}  // namespace kestrel
