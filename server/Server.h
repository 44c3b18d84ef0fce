#pragma once
// The server's network side: HTTP and WebSocket on one port of each
// address it listens on, one thread, every room's clock on it. Boost.Beast stays in the
// program's own files (server/net/Beast.h), out of kestrel_server_lib.

#include <iosfwd>

#include "server/ServerOptions.h"

namespace kestrel {

// Listens, prints "kestrel-server: listening on http://ADDRESS:PORT/" on
// `out` for each address, and serves until SIGINT or SIGTERM. Answers the
// exit status.
int RunServer(const ServerOptions& options, std::ostream& out, std::ostream& err);

}  // namespace kestrel
