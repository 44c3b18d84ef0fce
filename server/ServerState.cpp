#include "server/ServerState.h"

namespace kestrel {

bool OrdinaryEnd(const beast::error_code& ec) {
    return ec == net::error::eof || ec == net::error::connection_reset || ec == net::error::operation_aborted ||
           ec == net::error::broken_pipe || ec == net::error::not_connected || ec == beast::error::timeout ||
           ec == http::error::end_of_stream || ec == websocket::error::closed;
}

void ServerState::Failed(std::string_view what, const beast::error_code& ec) const {
    if (OrdinaryEnd(ec)) return;
    log_.Line(std::string(what) + " failed: " + ec.message());
}

}  // namespace kestrel
