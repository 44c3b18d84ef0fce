// kestrel-server: live battle rooms, and the web page that shows them.

#include <iostream>
#include <string>
#include <vector>

#include "server/Server.h"

#ifndef KESTREL_VERSION
#error "KESTREL_VERSION comes from the project's version in CMake"
#endif

int main(int argc, char** argv) {
    const kestrel::Result<kestrel::ServerOptions> options =
        kestrel::ParseServerOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!options) {
        std::cerr << "kestrel-server: " << options.Why() << '\n';
        return kestrel::EXIT_BAD_SERVER_START;
    }
    if (options->help) {
        std::cout << kestrel::ServerUsageText();
        return 0;
    }
    if (options->version) {
        std::cout << "kestrel-server " << KESTREL_VERSION << '\n';
        return 0;
    }
    return kestrel::RunServer(*options, std::cout, std::cerr);
}
