#include "server/net/ServerState.h"

#include <algorithm>

#include <boost/asio/error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/websocket/error.hpp>

#include "server/directory/RoomChoice.h"
#include "server/net/BatchedSocket.h"

namespace kestrel {

namespace net = boost::asio;
namespace beast = boost::beast;

bool OrdinaryEnd(const beast::error_code& ec) {
    return ec == net::error::eof || ec == net::error::connection_reset || ec == net::error::operation_aborted ||
           ec == net::error::broken_pipe || ec == net::error::not_connected || ec == beast::error::timeout ||
           ec == beast::http::error::end_of_stream || ec == beast::websocket::error::closed;
}

bool ServerState::Trusts(const IpAddress& address) const {
    return std::any_of(trustedProxies_.begin(), trustedProxies_.end(),
                       [&](const AddressRange& range) { return range.Contains(address); });
}

// Where io_uring is not to be had, every frame costs a system call of its
// own; the server works the same, and says so once it listens.
SendBatch& ServerState::MakeSendBatch(boost::asio::io_context& io, std::string& noRing, Log log) {
    return SendBatch::Add(io, SendRing::Open(noRing), log);
}

void ServerState::Publish(bool seatsChanged) {
    StatusCounts counts;
    rooms_.AddTo(counts);
    directory_->Publish(rooms_.Listings(), {counts.rooms, counts.connections, counts.seats}, seatsChanged);
}

DirectoryList ServerState::PublicRooms() {
    Publish(false);
    return directory_->List();
}

std::optional<RoomListing> ServerState::RoomForAnyone() {
    return kestrel::RoomForAnyone(sentSeats_.Counted(PublicRooms().rooms, SentSeats::Clock::now()));
}

// The timer lives in its own handler, so that it goes with the context
// that runs it, whichever of the two is taken down first.
void ServerState::PublishNow() {
    if (stopping_) return;
    Publish(false);
    auto timer = std::make_shared<net::steady_timer>(io_, PUBLISH_EVERY);
    timer->async_wait([this, timer](const boost::system::error_code& ec) {
        if (!ec) PublishNow();
    });
}

void ServerState::Failed(std::string_view what, const boost::system::error_code& ec) const {
    if (OrdinaryEnd(ec)) return;
    log_.Line(std::string(what) + " failed: " + ec.message());
}

}  // namespace kestrel
