#include "server/ServerOptions.h"

#include <charconv>
#include <string_view>

namespace kestrel {
namespace {

constexpr int MAX_PORT = 65535;
constexpr int MAX_LIMIT = 1'000'000;

std::string Hint() { return " (kestrel-server --help lists the options)"; }

struct NumberOption {
    std::string_view name;
    int min, max;
    int& (*field)(ServerOptions&);
};
const NumberOption NUMBER_OPTIONS[] = {
    {"--port", 0, MAX_PORT, [](ServerOptions& o) -> int& { return o.port; }},
    {"--max-rooms", 1, MAX_LIMIT, [](ServerOptions& o) -> int& { return o.limits.rooms; }},
    {"--max-room-connections", 1, MAX_LIMIT, [](ServerOptions& o) -> int& { return o.limits.connectionsPerRoom; }},
    {"--max-address-connections", 1, MAX_LIMIT,
     [](ServerOptions& o) -> int& { return o.limits.connectionsPerAddress; }},
    {"--max-room-creations", 1, MAX_LIMIT, [](ServerOptions& o) -> int& { return o.limits.roomCreationsPerMinute; }},
};

struct FolderOption {
    std::string_view name;
    std::string ServerOptions::*field;
};
constexpr FolderOption FOLDER_OPTIONS[] = {{"--site", &ServerOptions::site}, {"--data", &ServerOptions::data}};

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

// Reads the option at args[i] (and its value) into `o`; why not, when it cannot.
std::optional<std::string> ReadOption(const std::vector<std::string>& args, std::size_t& i, ServerOptions& o) {
    const std::string& given = args[i];
    const std::string_view arg =
        std::string_view(given).substr(0, given.starts_with("--") ? given.find('=') : std::string::npos);
    if (arg == "-h" || arg == "--help" || arg == "--version") {
        (arg == "--version" ? o.version : o.help) = true;
        return std::nullopt;
    }
    for (const NumberOption& option : NUMBER_OPTIONS)
        if (arg == option.name) return SetNumber(option, OptionValue(args, i), o);
    for (const FolderOption& option : FOLDER_OPTIONS) {
        if (arg != option.name) continue;
        const std::optional<std::string> value = OptionValue(args, i);
        if (!value || value->empty()) return "option " + std::string(arg) + " needs a folder";
        o.*(option.field) = *value;
        return std::nullopt;
    }
    const bool looksLikeOne = arg.starts_with('-') && arg != "-";
    return (looksLikeOne ? "unknown option '" : "unexpected argument '") + given + "'";
}

}  // namespace

std::string ServerUsageText() {
    return "Usage: kestrel-server [--port N] [--site DIR] [--data DIR] [LIMITS]\n"
           "Runs live battle rooms, many screens on one battle, and serves the web page.\n"
           "Listens on 127.0.0.1 only.\n"
           "\n"
           "  --port N     the port to listen on (default 8000; 0 picks a free one)\n"
           "  --site DIR   serve the built web page from DIR (e.g. build/web)\n"
           "  --data DIR   keep the rooms in DIR, each as it grows: started again, the\n"
           "               server resumes those that had not ended (default: a\n"
           "               private temporary folder, removed at exit)\n"
           "  -h, --help   show this help and exit\n"
           "  --version    show the version and exit\n"
           "\n"
           "Limits (raise them for benchmarks):\n"
           "  --max-rooms N                rooms at once (default 64)\n"
           "  --max-room-connections N     screens in one room (default 32)\n"
           "  --max-address-connections N  connections from one address (default 48)\n"
           "  --max-room-creations N       rooms one address may create a minute (default 10)\n"
           "\n"
           "POST /rooms creates a room and answers its play and watch links.\n";
}

ParsedServerOptions ParseServerOptions(const std::vector<std::string>& args) {
    ParsedServerOptions parsed;
    for (std::size_t i = 0; i < args.size() && !parsed.error; ++i) parsed.error = ReadOption(args, i, parsed.options);
    if (parsed.error) *parsed.error += Hint();
    return parsed;
}

}  // namespace kestrel
