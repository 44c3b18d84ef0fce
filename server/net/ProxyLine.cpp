#include "server/net/ProxyLine.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <vector>

#include "game/RoomLink.h"
#include "server/net/Addresses.h"

namespace kestrel {
namespace {

constexpr std::string_view SIGNATURE = "PROXY ";
constexpr std::string_view CRLF = "\r\n";
constexpr std::string_view UNKNOWN = "UNKNOWN";
// TCP4 or TCP6, then SRC DST SPORT DPORT.
constexpr std::size_t TCP_WORDS = 5;

std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    for (std::size_t space; (space = text.find(' ')) != std::string_view::npos; text.remove_prefix(space + 1))
        words.push_back(text.substr(0, space));
    words.push_back(text);
    return words;
}

// A port as the protocol writes it: decimal, no sign, no leading zero.
bool IsPort(std::string_view text) {
    int port = -1;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    return ec == std::errc() && end == text.data() + text.size() && port >= 0 && port <= MAX_PORT &&
           (text == "0" || !text.starts_with('0'));
}

Result<ProxyLine> Refuse(std::string error) { return Failure{std::move(error)}; }

// The words after "PROXY ", into the browser's address.
Result<ProxyLine> ReadWords(std::string_view words, std::size_t length) {
    if (words.starts_with(UNKNOWN) && (words.size() == UNKNOWN.size() || words[UNKNOWN.size()] == ' '))
        return ProxyLine{ProxyLine::State::Read, length, {}};
    const std::vector<std::string_view> word = Words(words);
    if (word.size() != TCP_WORDS || (word[0] != "TCP4" && word[0] != "TCP6"))
        return Refuse("a PROXY line names TCP4, TCP6 or UNKNOWN and then four fields");
    const auto read = word[0] == "TCP4" ? ReadIpv4Address : ReadIpv6Address;
    const std::optional<IpAddress> source = read(word[1]);
    if (!source || !read(word[2])) return Refuse("a PROXY line's addresses are not " + std::string(word[0]) + " addresses");
    if (!IsPort(word[3]) || !IsPort(word[4])) return Refuse("a PROXY line's ports are not ports");
    return ProxyLine{ProxyLine::State::Read, length, AddressText(*source)};
}

}  // namespace

Result<ProxyLine> ReadProxyLine(std::string_view head) {
    const std::size_t compared = std::min(head.size(), SIGNATURE.size());
    if (head.substr(0, compared) != SIGNATURE.substr(0, compared)) return ProxyLine{};
    const std::size_t end = head.substr(0, MAX_PROXY_LINE_BYTES).find(CRLF);
    if (end == std::string_view::npos) {
        if (head.size() >= MAX_PROXY_LINE_BYTES) return Refuse("a PROXY line is longer than 107 bytes");
        return ProxyLine{ProxyLine::State::Partial, 0, {}};
    }
    return ReadWords(head.substr(SIGNATURE.size(), end - SIGNATURE.size()), end + CRLF.size());
}

}  // namespace kestrel
