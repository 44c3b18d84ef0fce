#pragma once
// One HTTP connection: requests answered in turn, until it becomes a
// room's WebSocket or closes. A connection over its address's limit is
// read once and answered 503.

#include <memory>
#include <optional>

#include "server/Beast.h"
#include "server/HttpAnswers.h"
#include "server/Requests.h"
#include "server/Tickets.h"

namespace kestrel {

class ServerState;

class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    // `address` is the connection's count against its address; none when
    // that address has as many connections as it may.
    HttpSession(ServerState& state, tcp::socket&& socket, std::string peer, std::optional<Ticket> address)
        : state_(state), stream_(std::move(socket)), peer_(std::move(peer)), address_(std::move(address)) {}
    void Run() { Read(); }

private:
    void Read();
    void OnRead(beast::error_code ec);
    void Answer(Request request);
    void CreateRoom(const Request& request);
    void AnswerRoom(const Request& request, const RoomPath& path);
    void ServeFile(const Request& request, std::string_view path);
    void Upgrade(Request request);
    template <class Body>
    void Reply(http::response<Body>&& response);
    void Shut();

    ServerState& state_;
    beast::tcp_stream stream_;
    std::string peer_;
    std::optional<Ticket> address_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
};

}  // namespace kestrel
