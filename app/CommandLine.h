#pragma once
// The program's command line, read before any window opens: what to record
// into, what to play back or join, help and version. Plain C++, no Qt, so that
// every case can be tested without a display.

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/RecordingFile.h"
#include "game/RoomLink.h"

namespace kestrel {

// Exit status for a bad command line, a file that cannot be read or
// written, or a bad recording.
inline constexpr int EXIT_BAD_START = 2;

struct Options {
    std::optional<std::string> record;  // --record FILE
    std::optional<std::string> replay;  // --replay FILE
    std::optional<std::string> join;    // --join LINK
    std::optional<std::string> playAnyone;  // --play-anyone URL
    bool help = false;
    bool version = false;
};

// The options, or why they are wrong (empty when they are not).
struct ParsedOptions {
    Options options;
    std::string error;
};
// `args` leaves out the program's name.
ParsedOptions ParseOptions(const std::vector<std::string>& args);

// A server to play with anyone on, as given and as the address its
// requests' paths follow: http[s]://HOST[:PORT], with no slash after.
struct AnyoneServer {
    std::string given;
    std::string address;
};
// The server a --play-anyone URL names, http[s]://HOST[:PORT] with or
// without a slash after it; or why it is refused.
Result<AnyoneServer> ReadServerAddress(std::string_view text);

// What the window starts with: a recording to play back (empty for none),
// a room to join or a server to find a room on, and the file to record the
// session into (none for no recording).
struct Session {
    std::string replay;
    std::optional<RoomLink> join;
    std::optional<AnyoneServer> playAnyone;
    std::unique_ptr<RecordingFile> record;
};

// Reads the command line and does what needs no window: prints the help or
// the version, reads and checks the recording to play back, creates the
// file to record into. Returns the status to exit with at once, or none to
// open the window on `session`. A failure is one line on `err`, and leaves
// no file behind that was not there.
std::optional<int> PrepareSession(const std::vector<std::string>& args, std::ostream& out,
                                  std::ostream& err, Session& session);

// The lines --help prints.
std::string UsageText();

}  // namespace kestrel
