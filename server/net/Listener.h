#pragma once
// A listening socket: accepts connections and hands each to an HTTP
// session, with its peer's address and whether that is a proxy the server
// trusts. Out of descriptors it waits a moment before it accepts again, and
// meanwhile serves what it holds.

#include <memory>
#include <string>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/steady_timer.hpp>

namespace kestrel {

namespace net = boost::asio;
using tcp = net::ip::tcp;

class ServerState;

class Listener : public std::enable_shared_from_this<Listener> {
public:
    Listener(ServerState& state, tcp::acceptor&& acceptor)
        : state_(state), acceptor_(std::move(acceptor)), backoff_(acceptor_.get_executor()) {}
    void Run() { Accept(); }
    void Stop();

private:
    void Accept();
    void OnAccept(boost::system::error_code ec, tcp::socket socket);
    void Serve(tcp::socket socket);
    void BackOff(const boost::system::error_code& ec);

    ServerState& state_;
    tcp::acceptor acceptor_;
    net::steady_timer backoff_;
    bool backingOff_ = false;  // logged once until an accept works again
};

// The acceptor on `address` (an IP address) at `port` (0: any free one),
// or why not. An IPv6 address takes IPv6 alone: :: is not 0.0.0.0 too.
tcp::acceptor Listen(net::io_context& io, const std::string& address, int port, boost::system::error_code& ec);

}  // namespace kestrel
