#include "app/CommandLine.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <ostream>
#include <string_view>
#include <system_error>
#include <filesystem>

#include "game/Recording.h"

#ifndef KESTREL_VERSION
#error "KESTREL_VERSION comes from the project's version in CMake"
#endif

namespace kestrel {
namespace {

constexpr std::string_view PROGRAM = "kestrel";

// An option that takes a value, as `--name VALUE` or `--name=VALUE`.
struct ValueOption {
    std::string_view name;
    std::optional<std::string> Options::*field;
    std::string_view value;  // what the help calls the value
};
constexpr ValueOption VALUE_OPTIONS[] = {{"--record", &Options::record, "FILE"},
                                         {"--replay", &Options::replay, "FILE"},
                                         {"--join", &Options::join, "LINK"},
                                         {"--play-anyone", &Options::playAnyone, "URL"}};

// Options that name what the window starts with: at most one of them.
constexpr std::optional<std::string> Options::*STARTS[] = {&Options::replay, &Options::join, &Options::playAnyone};

std::string_view NameOf(std::optional<std::string> Options::*field) {
    for (const ValueOption& option : VALUE_OPTIONS)
        if (option.field == field) return option.name;
    return {};
}

constexpr std::string_view HTTP = "http://", HTTPS = "https://";

std::string Hint() { return " (kestrel --help lists the options)"; }

// The whole file, or why it cannot be read. A file longer than the longest
// recording is refused as soon as that shows, not held.
std::optional<std::string> ReadRecordingFile(const std::string& path, std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = std::strerror(EISDIR);
        return std::nullopt;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    std::string text;
    char chunk[1 << 16];
    while (file.read(chunk, sizeof chunk).gcount() > 0) {
        text.append(chunk, std::size_t(file.gcount()));
        if (text.size() > MAX_RECORDING_BYTES) {
            error = "the recording is too long (more than " + std::to_string(MAX_RECORDING_BYTES) + " bytes)";
            return std::nullopt;
        }
    }
    if (file.bad()) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    return text;
}

// Why a recording cannot be played, or nothing when it can.
std::string CheckRecording(std::string_view text) {
    const Result<ReadRecording> read = ReadRecordingText(text);
    if (!read) return read.Why();
    if (read->steps.empty()) return "it holds no recording";
    return {};
}

}  // namespace

Result<AnyoneServer> ReadServerAddress(std::string_view text) {
    std::string_view rest = text;
    if (rest.starts_with(HTTPS)) rest.remove_prefix(HTTPS.size());
    else if (rest.starts_with(HTTP)) rest.remove_prefix(HTTP.size());
    else return Failure{"not a server's address (it starts with neither http:// nor https://)"};
    const std::string_view host = rest.substr(0, rest.find('/'));
    if (host.empty()) return Failure{"not a server's address (no host in it)"};
    if (!IsLinkHost(host)) return Failure{"not a server's address (its host is not a host name or address)"};
    // Its rooms' requests are at the host's root, whatever page it serves.
    if (rest.size() > host.size() + 1) return Failure{"not a server's address (it has more than http[s]://HOST[:PORT]/)"};
    const std::string_view address = text.substr(0, text.size() - (rest.size() - host.size()));
    return AnyoneServer{std::string(text), std::string(address)};
}

std::string UsageText() {
    return "Usage: kestrel [--record FILE] [--replay FILE | --join LINK | --play-anyone URL]\n"
           "A tank battle that plays itself, in a window.\n"
           "\n"
           "  --record FILE  record the session into FILE as it goes, as a script\n"
           "                 for kestrel-trace\n"
           "  --replay FILE  play the recording in FILE, then hand the battle over\n"
           "  --join LINK    play in the room of a play link from kestrel-server\n"
           "                 (http://HOST/#live=ROOM.KEY), or watch it with a\n"
           "                 watch link (http://HOST/#watch=ROOM); an https link\n"
           "                 needs a certificate the system's store trusts\n"
           "  --play-anyone URL  play in a room open to anyone on the kestrel-server\n"
           "                     at URL (http://HOST/): a free seat in the\n"
           "                     fullest, or a new room when none has one free\n"
           "  -h, --help     show this help and exit\n"
           "  --version      show the version and exit\n"
           "\n"
           "In the window: drag tanks with the left button, release a button over a\n"
           "tank to set targets, press a key for a new battle, Esc to quit.\n";
}

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
    ParsedOptions parsed;
    Options& o = parsed.options;
    const auto fail = [&](std::string reason) {
        parsed.error = std::move(reason);
        return parsed;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "-h" || arg == "--help") {
            o.help = true;
            continue;
        }
        if (arg == "--version") {
            o.version = true;
            continue;
        }
        const ValueOption* option = nullptr;
        std::optional<std::string> value;
        for (const ValueOption& f : VALUE_OPTIONS) {
            if (arg == f.name) option = &f;
            else if (arg.starts_with(f.name) && arg.substr(f.name.size()).starts_with('='))
                option = &f, value = std::string(arg.substr(f.name.size() + 1));
        }
        if (!option) {
            const bool looksLikeOne = arg.starts_with('-') && arg != "-";
            return fail((looksLikeOne ? "unknown option '" : "unexpected argument '") + std::string(arg) + "'" +
                        Hint());
        }
        if (!value) {
            if (i + 1 == args.size())
                return fail("option " + std::string(option->name) + " needs a " + std::string(option->value) + Hint());
            value = args[++i];
        }
        if (value->empty())
            return fail("option " + std::string(option->name) + " needs a " + std::string(option->value) +
                        ", not an empty name");
        if (o.*(option->field)) return fail("option " + std::string(option->name) + " is given twice");
        o.*(option->field) = std::move(value);
    }
    for (std::size_t i = 0; i < std::size(STARTS); ++i)
        for (std::size_t j = i + 1; j < std::size(STARTS); ++j)
            if (o.*STARTS[i] && o.*STARTS[j])
                return fail("options " + std::string(NameOf(STARTS[j])) + " and " + std::string(NameOf(STARTS[i])) +
                            " cannot be given together" + Hint());
    return parsed;
}

std::optional<int> PrepareSession(const std::vector<std::string>& args, std::ostream& out,
                                  std::ostream& err, Session& session) {
    const ParsedOptions parsed = ParseOptions(args);
    const Options& o = parsed.options;
    const auto refuse = [&](std::string_view what, std::string_view reason) {
        err << PROGRAM << ": " << what << (what.empty() ? "" : ": ") << reason << std::endl;
        return EXIT_BAD_START;
    };
    if (!parsed.error.empty()) return refuse("", parsed.error);
    if (o.help) {
        out << UsageText() << std::flush;
        return 0;
    }
    if (o.version) {
        out << PROGRAM << ' ' << KESTREL_VERSION << std::endl;
        return 0;
    }
    // The recording to play is checked whole before the file to record
    // into is created, so that a bad one leaves nothing behind.
    Session prepared;
    if (o.replay) {
        std::string error;
        std::optional<std::string> text = ReadRecordingFile(*o.replay, error);
        if (!text) return refuse(*o.replay, error);
        error = CheckRecording(*text);
        if (!error.empty()) return refuse(*o.replay, error);
        prepared.replay = std::move(*text);
    }
    if (o.join) {
        ReadLink read = ReadRoomLink(*o.join);
        if (!read) return refuse(*o.join, read.Why());
        if (!*read) return refuse(*o.join, "not a room link (it has no #live= or #watch=)");
        prepared.join = *std::move(read);
    }
    if (o.playAnyone) {
        Result<AnyoneServer> server = ReadServerAddress(*o.playAnyone);
        if (!server) return refuse(*o.playAnyone, server.Why());
        prepared.playAnyone = *std::move(server);
    }
    if (o.record) {
        Result<std::unique_ptr<RecordingFile>> file = RecordingFile::Create(*o.record);
        if (!file) return refuse(*o.record, file.Why());
        prepared.record = *std::move(file);
    }
    session = std::move(prepared);
    return std::nullopt;
}

}  // namespace kestrel
