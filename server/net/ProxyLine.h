#pragma once
// The PROXY protocol's line (version 1), which a proxy in front of the
// server sends before anything else on a connection to name the browser
// it comes from: "PROXY TCP4 SRC DST SPORT DPORT\r\n", the same with TCP6,
// or "PROXY UNKNOWN ...\r\n" when the proxy cannot tell (its own health
// checks). At most 107 bytes, CRLF included.

#include <cstddef>
#include <string>
#include <string_view>

#include "game/Result.h"

namespace kestrel {

inline constexpr std::size_t MAX_PROXY_LINE_BYTES = 107;

// What the first bytes of a connection hold.
struct ProxyLine {
    enum class State {
        Absent,   // no PROXY line: the bytes are the connection's own (HTTP)
        Partial,  // the start of one: read on
        Read,     // a whole line, `length` bytes
    };
    State state = State::Absent;
    std::size_t length = 0;  // its bytes, CRLF included
    std::string browser;     // SRC, the browser's address; empty for UNKNOWN
};

// The browser's address the PROXY line at the start of `head` names, or
// why a line that is not one is refused.
Result<ProxyLine> ReadProxyLine(std::string_view head);

}  // namespace kestrel
