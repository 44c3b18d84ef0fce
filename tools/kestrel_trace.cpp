// kestrel-trace [SCRIPT]: replays a script against the game's simulation
// without a window and prints what it draws.

#ifndef KESTREL_VERSION
#error "KESTREL_VERSION comes from the project's version in CMake"
#endif

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>

#include "trace/TraceScript.h"

namespace {

std::string ReadAll(std::istream& in) {
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Also the manual page's text: help2man builds it from this.
constexpr const char* USAGE_TEXT =
    "Usage: kestrel-trace [SCRIPT]\n"
    "Replays a tank battle from a script, without a window, and prints every\n"
    "drawing call the game makes. The script is read from SCRIPT, or from\n"
    "standard input. A recording kept by kestrel --record is such a script.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "Script lines, one command each (# starts a comment):\n"
    "  seed N                 the random generator's starting state\n"
    "  rnd V...               queue the given draws, each in [0, 1)\n"
    "  reseed N               the state the next battle start takes\n"
    "  version N              the recording format of the lines that follow\n"
    "  tick [K]               run the frame tick K times (default 1)\n"
    "  start                  start a new battle now\n"
    "  plan S, drive S, shell S\n"
    "                         run one step of tank S (0 to 50) on its own\n"
    "  down B X Y, move X Y, up B X Y\n"
    "                         the pointer; button 1 is the left, 2 the right\n"
    "  key C                  a key press with character code C; 27 (Esc) ends\n"
    "                         the run\n"
    "  size W H               resize the canvas (it starts at 696 x 548)\n"
    "  set FIELD [SLOT] VALUE\n"
    "                         put a value into the battle state\n"
    "  drawtank X Y HEADING TURRET R G B\n"
    "                         draw one tank glyph\n"
    "  state                  print the whole battle state\n"
    "  snap FILE              save the picture as a PNG file\n"
    "\n"
    "A live room's players, as its recording holds them:\n"
    "  seats N                the room has N seats (1 to 6); seat K plays tank K\n"
    "  as K                   the pointer and keys that follow are seat K's\n"
    "  join K                 a new player takes seat K: its score starts again\n"
    "  score                  print \"score K KILLS WINS\" for every seat\n"
    "\n"
    "The same script replays the same way every time. A bad line stops the\n"
    "run with exit status 2 and \"kestrel-trace: line N: REASON\" on standard\n"
    "error; the lines before it have run.\n";

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    if (argc > 2) {
        std::cerr << "usage: kestrel-trace [SCRIPT]\n";
        return kestrel::TRACE_BAD_SCRIPT;
    }
    const std::string_view first = argc == 2 ? argv[1] : "";
    if (first == "-h" || first == "--help") {
        std::cout << USAGE_TEXT << std::flush;
        return kestrel::TRACE_OK;
    }
    if (first == "--version") {
        std::cout << "kestrel-trace " << KESTREL_VERSION << std::endl;
        return kestrel::TRACE_OK;
    }
    std::string script;
    if (argc == 2) {
        std::error_code error;
        if (std::filesystem::is_directory(argv[1], error)) {
            std::cerr << "kestrel-trace: cannot read " << argv[1] << ": it is a directory\n";
            return kestrel::TRACE_BAD_SCRIPT;
        }
        std::ifstream file(argv[1], std::ios::binary);
        if (file) script = ReadAll(file);
        if (!file || file.bad()) {
            std::cerr << "kestrel-trace: cannot read " << argv[1] << ": " << std::strerror(errno) << '\n';
            return kestrel::TRACE_BAD_SCRIPT;
        }
    } else {
        script = ReadAll(std::cin);
    }
    return kestrel::RunTraceScript(script, std::cout, std::cerr);
}
