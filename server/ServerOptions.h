#pragma once
// The server's command line: where to listen, the proxy in front it
// trusts, its name among several servers, what site to serve, where rooms
// keep their recordings, and the limits that keep one client from taking
// the server for itself (raised for benchmarks).

#include <optional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "game/Result.h"
#include "server/base/Limits.h"
#include "server/directory/RedisDirectory.h"
#include "server/net/Addresses.h"

namespace kestrel {

inline constexpr int EXIT_BAD_SERVER_START = 2;
inline constexpr int DEFAULT_SERVER_PORT = 8000;
inline constexpr std::string_view DEFAULT_LISTEN_ADDRESS = "127.0.0.1";

struct ServerOptions {
    std::vector<std::string> listen;  // IP addresses; read: DEFAULT_LISTEN_ADDRESS when none is given
    int port = DEFAULT_SERVER_PORT;  // 0: any free port
    // The proxies whose PROXY line and X-Forwarded-Proto are believed.
    std::vector<AddressRange> trustedProxies;
    std::string name;                // starts every room id; none: ids are the digits alone
    std::string site;                // the built page; none: no static site
    std::string data;                // where rooms are kept; none: a private temporary folder
    // The Redis the public rooms of several servers are listed in; none:
    // this server's alone, in its own memory.
    std::optional<RedisAddress> redis;
    ServerLimits limits;
    bool help = false;
    bool version = false;
};

// The options, or why they are wrong. `args` leaves out the program's name.
Result<ServerOptions> ParseServerOptions(const std::vector<std::string>& args);

// The lines --help prints.
std::string ServerUsageText();

}  // namespace kestrel
