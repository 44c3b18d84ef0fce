#pragma once
// One HTTP connection: requests answered in turn, until it becomes a
// room's WebSocket or closes. From a trusted proxy it may begin with a
// PROXY line, which names the browser. A connection over its browser
// address's limit is read once and answered 503.

#include <filesystem>
#include <memory>
#include <optional>

#include "server/net/Beast.h"
#include "server/net/HttpAnswers.h"
#include "server/net/Requests.h"
#include "server/rooms/RoomRegistry.h"
#include "server/rooms/Tickets.h"

namespace kestrel {

class ServerState;

class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    // `peer` is the address the connection comes from; `fromProxy`, whether
    // it is a proxy the server trusts.
    HttpSession(ServerState& state, tcp::socket&& socket, std::string peer, bool fromProxy)
        : state_(state), stream_(std::move(socket)), browser_(std::move(peer)), fromProxy_(fromProxy) {}
    void Run();

private:
    void AwaitProxyLine();
    void OnProxyBytes(beast::error_code ec, std::size_t bytes);
    void Admit(std::string browser);
    std::string_view Scheme(const Request& request) const;
    std::optional<Refusal> ForeignOrigin(const Request& request) const;
    std::string Page(const Request& request) const;
    void Read();
    void OnRead(beast::error_code ec);
    void RefuseConnection();
    void Route(Request request);
    void CreateRoom(Request request, bool listed = false);
    void Created(const Request& request, const Outcome<NewRoom>& made);
    std::optional<Refusal> TooManyQueries();
    void ListPublicRooms(const Request& request);
    void PlayWithAnyone(Request request);
    void SeatInPublicRoom(const Request& request, std::string_view room);
    void OpenToAnyone(const Request& request, std::string_view room);
    void AnswerLinks(const Request& request, const Outcome<NewRoom>& room);
    void AnswerRoom(const Request& request, const RoomPath& path);
    void AnswerRoomState(const Request& request, std::string_view room);
    void CheckSocket(const Request& request, std::string_view room);
    void ServeFile(const Request& request, std::string_view path);
    void ServeRecording(const Request& request, const std::filesystem::path& file);
    struct FileStream;
    void SendFile(const Request& request, http::file_body::value_type&& body, std::string_view type);
    void WritePiece(std::shared_ptr<FileStream> stream);
    void Upgrade(Request request);
    void Seat(Request request, RoomRegistry::Found found);
    void Await();
    bool EndWait();
    template <class Body>
    void Reply(http::response<Body>&& response);
    void Shut();

    ServerState& state_;
    beast::tcp_stream stream_;
    std::string browser_;  // the browser's address: the peer's, or a trusted proxy's word
    bool fromProxy_;
    // The connection's count against the browser's address; none when that
    // address has as many connections as it may, and then its count among
    // the connections being refused.
    std::optional<Ticket> address_;
    std::optional<Ticket> refusal_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    // While the server makes a room or brings one back for this request.
    std::optional<net::steady_timer> waiting_;
};

}  // namespace kestrel
