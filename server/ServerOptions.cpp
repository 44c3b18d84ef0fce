#include "server/ServerOptions.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "game/RoomId.h"
#include "game/RoomLink.h"

namespace kestrel {
namespace {


std::string Hint() { return " (kestrel-server --help lists the options)"; }

struct NumberOption {
    std::string_view name, help;
    int min, max;
    int& (*field)(ServerOptions&);
};
// The port first; the rest are the limits, which --help lists with their defaults.
const NumberOption NUMBER_OPTIONS[] = {
    {"--port", "", 0, MAX_PORT, [](ServerOptions& o) -> int& { return o.port; }},
    {"--max-rooms", "rooms at once", 1, MAX_LIMIT, [](ServerOptions& o) -> int& { return o.limits.rooms; }},
    {"--max-room-connections", "screens in one room", 1, MAX_LIMIT,
     [](ServerOptions& o) -> int& { return o.limits.connectionsPerRoom; }},
    {"--max-address-connections", "connections from one address", 1, MAX_LIMIT,
     [](ServerOptions& o) -> int& { return o.limits.connectionsPerAddress; }},
    {"--max-room-creations", "rooms one address may create a minute", 1, MAX_LIMIT,
     [](ServerOptions& o) -> int& { return o.limits.roomCreationsPerMinute; }},
    {"--max-queries", "asks for the public rooms from one address a minute", 1, MAX_LIMIT,
     [](ServerOptions& o) -> int& { return o.limits.queriesPerMinute; }},
    {"--checkpoint-ticks", "ticks between two checkpoints of a room", 1, MAX_LIMIT,
     [](ServerOptions& o) -> int& { return o.limits.checkpointTicks; }},
};

// An option with a text value: what it needs, and the value set, or false
// when the value is not one; whether it may be given again for more.
struct TextOption {
    std::string_view name, needs;
    bool (*set)(const std::string& value, ServerOptions& o);
    bool repeats = false;
};
const TextOption TEXT_OPTIONS[] = {
    {"--listen", "an IPv4 or IPv6 address",
     [](const std::string& v, ServerOptions& o) {
         if (!ReadIpAddress(v)) return false;
         o.listen.push_back(v);
         return true;
     },
     true},
    {"--trust-proxy", "an IPv4 or IPv6 address, or ADDRESS/BITS",
     [](const std::string& v, ServerOptions& o) {
         const std::optional<AddressRange> range = ReadAddressRange(v);
         if (range) o.trustedProxies.push_back(*range);
         return range.has_value();
     },
     true},
    {"--name", "1 to 16 letters and digits",
     [](const std::string& v, ServerOptions& o) {
         o.name = v;
         return IsServerName(v);
     }},
    {"--site", "a folder",
     [](const std::string& v, ServerOptions& o) {
         o.site = v;
         return !v.empty();
     }},
    {"--data", "a folder",
     [](const std::string& v, ServerOptions& o) {
         o.data = v;
         return !v.empty();
     }},
    {"--redis", "IP:PORT, or a unix socket's path (starting with / or .)",
     [](const std::string& v, ServerOptions& o) {
         o.redis = ReadRedisAddress(v);
         return o.redis.has_value();
     }},
};

std::optional<int> ReadNumber(std::string_view text, int min, int max) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < min || value > max) return std::nullopt;
    return value;
}

// The value of the option at args[i]: after its '=', or the next argument
// (then i moves on to it); none when there is none.
std::optional<std::string> OptionValue(const std::vector<std::string>& args, std::size_t& i) {
    const std::string& arg = args[i];
    if (const std::size_t equals = arg.find('='); equals != std::string::npos) return arg.substr(equals + 1);
    if (i + 1 == args.size()) return std::nullopt;
    return args[++i];
}

std::optional<std::string> SetNumber(const NumberOption& option, const std::optional<std::string>& value,
                                     ServerOptions& o) {
    const std::string name(option.name);
    if (!value) return "option " + name + " needs a number";
    const std::optional<int> number = ReadNumber(*value, option.min, option.max);
    if (!number)
        return "option " + name + " needs a whole number from " + std::to_string(option.min) + " to " +
               std::to_string(option.max) + ", not '" + *value + "'";
    option.field(o) = *number;
    return std::nullopt;
}

std::optional<std::string> SetText(const TextOption& option, const std::optional<std::string>& value,
                                   ServerOptions& o) {
    const std::string needs = "option " + std::string(option.name) + " needs " + std::string(option.needs);
    if (!value) return needs;
    if (!option.set(*value, o)) return needs + ", not '" + *value + "'";
    return std::nullopt;
}

// A value given twice is refused rather than one of them kept, as the
// window does: a script that sets --port twice has a mistake in it.
std::optional<std::string> Once(std::string_view name, std::vector<std::string_view>& seen) {
    if (std::find(seen.begin(), seen.end(), name) != seen.end())
        return "option " + std::string(name) + " is given twice";
    seen.push_back(name);
    return std::nullopt;
}

// Reads the option at args[i] (and its value) into `o`; why not, when it
// cannot. `seen` holds the single-valued options read so far.
std::optional<std::string> ReadOption(const std::vector<std::string>& args, std::size_t& i, ServerOptions& o,
                                      std::vector<std::string_view>& seen) {
    const std::string& given = args[i];
    const std::string_view arg =
        std::string_view(given).substr(0, given.starts_with("--") ? given.find('=') : std::string::npos);
    if (arg == "-h" || arg == "--help" || arg == "--version") {
        (arg == "--version" ? o.version : o.help) = true;
        return std::nullopt;
    }
    for (const NumberOption& option : NUMBER_OPTIONS)
        if (arg == option.name) {
            if (std::optional<std::string> twice = Once(option.name, seen)) return twice;
            return SetNumber(option, OptionValue(args, i), o);
        }
    for (const TextOption& option : TEXT_OPTIONS)
        if (arg == option.name) {
            if (std::optional<std::string> twice = option.repeats ? std::nullopt : Once(option.name, seen)) return twice;
            return SetText(option, OptionValue(args, i), o);
        }
    const bool looksLikeOne = arg.starts_with('-') && arg != "-";
    return (looksLikeOne ? "unknown option '" : "unexpected argument '") + given + "'";
}

// What --help prints, and the manual page is made from.
constexpr std::string_view USAGE =
    "Usage: kestrel-server [--listen ADDRESS]... [--port N] [--name NAME]\n"
    "         [--trust-proxy ADDRESS[/BITS]]... [--site DIR] [--data DIR]\n"
    "         [--redis ADDRESS] [LIMITS]\n"
    "Runs live battle rooms, many screens on one battle, and serves the web page.\n"
    "\n"
    "  --listen ADDRESS  listen on this IPv4 or IPv6 address; give it again for\n"
    "                    more (default 127.0.0.1 alone; 0.0.0.0 and :: are every\n"
    "                    address of each kind)\n"
    "  --port N          the port to listen on, on every address (default 8000;\n"
    "                    0 picks a free one)\n"
    "  --name NAME       this server's name among several, 1 to 16 letters and\n"
    "                    digits: every room id it opens starts with NAME-, so a\n"
    "                    balancer in front sends a room's requests to it; a room\n"
    "                    whose id names another server is answered 404\n"
    "  --trust-proxy ADDRESS[/BITS]\n"
    "                    the proxy in front (give it again for more): from it\n"
    "                    alone a PROXY protocol line (version 1) names the\n"
    "                    browser's address, which the limits count, and\n"
    "                    X-Forwarded-Proto the scheme the browser used, which the\n"
    "                    links and the origin check use\n"
    "  --site DIR        serve the built web page from DIR (e.g. build/web)\n"
    "  --data DIR        keep the rooms in DIR, each as it grows: started again,\n"
    "                    the server resumes those that had not ended (default: a\n"
    "                    private temporary folder, removed at exit)\n"
    "  --redis ADDRESS   list the public rooms in the Redis at ADDRESS (IP:PORT or\n"
    "                    a unix socket's path), beside every other server's there;\n"
    "                    needs --name. While Redis cannot be reached, this\n"
    "                    server's own are listed (default: this server's alone)\n"
    "  -h, --help        show this help and exit\n"
    "  --version         show the version and exit\n"
    "\n"
    "Limits (raise them for benchmarks; behind a trusted proxy, an address is the\n"
    "browser's):\n";
constexpr std::string_view USAGE_END = "\nPOST /rooms creates a room and answers its play and watch links.\n";

// The limits' lines of --help, each with its default, the name padded to
// one column.
std::string LimitsUsage() {
    constexpr std::size_t NAME_COLUMN = 31;
    ServerOptions defaults;
    std::string lines;
    for (const NumberOption& option : NUMBER_OPTIONS) {
        if (option.help.empty()) continue;
        std::string name = "  " + std::string(option.name) + " N";
        name.resize(std::max(NAME_COLUMN, name.size() + 1), ' ');
        lines += name + std::string(option.help) + " (default " + std::to_string(option.field(defaults)) + ")\n";
    }
    return lines;
}

}  // namespace

std::string ServerUsageText() { return std::string(USAGE) + LimitsUsage() + std::string(USAGE_END); }

Result<ServerOptions> ParseServerOptions(const std::vector<std::string>& args) {
    ServerOptions options;
    std::vector<std::string_view> seen;
    for (std::size_t i = 0; i < args.size(); ++i)
        if (std::optional<std::string> wrong = ReadOption(args, i, options, seen)) return Failure{*wrong + Hint()};
    if (options.redis && options.name.empty())
        return Failure{"option --redis needs --name: each server's rooms are listed under its name" + Hint()};
    if (options.listen.empty()) options.listen.emplace_back(DEFAULT_LISTEN_ADDRESS);
    return options;
}

}  // namespace kestrel
