// kestrel-trace [SCRIPT]: replays a script against the game's simulation
// without a window and prints what it draws.

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "trace/TraceScript.h"

namespace {

std::string ReadAll(std::istream& in) {
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    if (argc > 2) {
        std::cerr << "usage: kestrel-trace [SCRIPT]\n";
        return kestrel::TRACE_BAD_SCRIPT;
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
