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
    ServerOptions& o = parsed.options;
    const auto fail = [&](std::string reason) {
        parsed.error = std::move(reason) + Hint();
        return parsed;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (arg == "-h" || arg == "--help") {
            o.help = true;
            continue;
        }
        if (arg == "--version") {
            o.version = true;
            continue;
        }
        std::optional<std::string> value;
        if (const std::size_t equals = arg.find('='); arg.starts_with("--") && equals != std::string_view::npos) {
            value = std::string(arg.substr(equals + 1));
            arg = arg.substr(0, equals);
        }
        const auto takeValue = [&]() -> bool {
            if (value) return true;
            if (i + 1 == args.size()) return false;
            value = args[++i];
            return true;
        };
        bool known = false;
        for (const NumberOption& option : NUMBER_OPTIONS) {
            if (arg != option.name) continue;
            known = true;
            if (!takeValue()) return fail("option " + std::string(arg) + " needs a number");
            const std::optional<int> number = ReadNumber(*value, option.min, option.max);
            if (!number)
                return fail("option " + std::string(arg) + " needs a whole number from " + std::to_string(option.min) +
                            " to " + std::to_string(option.max) + ", not '" + *value + "'");
            option.field(o) = *number;
        }
        for (const FolderOption& option : FOLDER_OPTIONS) {
            if (arg != option.name) continue;
            known = true;
            if (!takeValue() || value->empty()) return fail("option " + std::string(arg) + " needs a folder");
            o.*(option.field) = *value;
        }
        if (!known) {
            const bool looksLikeOne = arg.starts_with('-') && arg != "-";
            return fail((looksLikeOne ? "unknown option '" : "unexpected argument '") + std::string(args[i]) + "'");
        }
    }
    return parsed;
}

}  // namespace kestrel
