#pragma once
// The server's network side: HTTP and WebSocket on one port of 127.0.0.1,
// one thread, every room's clock on it. Boost.Beast stays in the
// program's own files (server/Beast.h), out of kestrel_server_lib.

#include <iosfwd>

#include "server/ServerOptions.h"

namespace kestrel {

// Listens, prints "kestrel-server: listening on http://127.0.0.1:PORT/" on
// `out`, and serves until SIGINT or SIGTERM. Answers the exit status.
int RunServer(const ServerOptions& options, std::ostream& out, std::ostream& err);

}  // namespace kestrel
