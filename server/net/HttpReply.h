#pragma once
// How an HTTP session sends a reply: kept alive until written, then the
// next request read, or the connection shut when the reply ends it. The
// session's files include it for the reply types they send (the HTTP side
// compiles as one unit, HttpUnit.cpp).

#include "server/net/HttpSession.h"
#include "server/base/Limits.h"
#include "server/net/ServerState.h"

namespace kestrel {

template <class Body>
void HttpSession::Reply(http::response<Body>&& response) {
    auto kept = std::make_shared<http::response<Body>>(std::move(response));
    stream_.expires_after(HTTP_TIMEOUT);
    http::async_write(stream_, *kept, [self = shared_from_this(), kept](beast::error_code ec, std::size_t) {
        if (ec) return self->state_.Failed("an HTTP answer", ec);
        if (kept->need_eof()) return self->Shut();
        self->Read();
    });
}

}  // namespace kestrel
