#pragma once
// A screen in a room: its WebSocket, one write outstanding at a time and a
// bounded queue of frames behind it. It holds its seat in the room and its
// count against its address from the upgrade on, and is dropped when it
// falls too far behind, stops answering pings, or its socket takes no frame
// for a while.

#include <chrono>
#include <memory>
#include <string_view>

#include <boost/circular_buffer.hpp>

#include "server/net/BatchedSocket.h"
#include "server/net/Beast.h"
#include "server/rooms/LiveRoom.h"
#include "server/rooms/Tickets.h"

namespace kestrel {

class ServerState;

class LiveSession : public ScreenLink, public std::enable_shared_from_this<LiveSession> {
public:
    LiveSession(ServerState& state, beast::tcp_stream&& stream, std::shared_ptr<LiveRoom> room, bool mayPlay,
                std::string seatToken, Ticket address, Ticket place);
    ~LiveSession() override;

    // Answers the upgrade, then joins the room.
    void Start(Request upgrade);
    void Send(Frame frame) override;

private:
    void OnAccept(beast::error_code ec);
    void Read();
    void OnRead(beast::error_code ec);
    void Write();
    void OnWrite(beast::error_code ec);
    void Refuse(websocket::close_code code, std::string_view reason);
    void SendClose();
    void Drop(std::string_view why);
    void Leave();

    ServerState& state_;
    // On the bare socket: the stream's own timer keeps the screen's
    // timeouts, and its writes go out with the other screens'.
    websocket::stream<BatchedSocket> ws_;
    std::shared_ptr<LiveRoom> room_;
    bool mayPlay_;
    std::string seatToken_;  // the seat it held, for a player coming back
    Ticket address_, place_;
    Request upgrade_;
    beast::flat_buffer buffer_;
    boost::circular_buffer<Frame> queue_;  // grown as needed, to MAX_QUEUED_FRAMES
    ClientId client_ = 0;
    bool joined_ = false, writing_ = false, closing_ = false, bufferCapped_ = false;
    std::chrono::steady_clock::time_point writeStarted_;
    websocket::close_reason closeReason_;
};

}  // namespace kestrel
