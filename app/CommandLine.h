#pragma once
// The program's command line, read before any window opens: what to record
// into, what to play back, help and version. Plain C++, no Qt, so that
// every case can be tested without a display.

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
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

// What the window starts with: a recording to play back (empty for none)
// or a room to join, and the file to record the session into (none for no
// recording).
struct Session {
    std::string replay;
    std::optional<RoomLink> join;
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
