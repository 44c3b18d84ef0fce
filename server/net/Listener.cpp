#include "server/net/Listener.h"

#include "server/net/Addresses.h"
#include "server/net/HttpSession.h"
#include "server/base/Limits.h"
#include "server/net/ServerState.h"

namespace kestrel {
namespace {

bool OutOfDescriptors(const boost::system::error_code& ec) {
    return ec == net::error::no_descriptors || ec == net::error::no_buffer_space ||
           ec == net::error::no_memory || ec.value() == ENFILE;
}

}  // namespace

tcp::acceptor Listen(net::io_context& io, const std::string& address, int port, boost::system::error_code& ec) {
    tcp::acceptor acceptor(io);
    const net::ip::address ip = net::ip::make_address(address, ec);
    if (ec) return acceptor;
    const tcp::endpoint endpoint(ip, static_cast<unsigned short>(port));
    acceptor.open(endpoint.protocol(), ec);
    if (!ec && ip.is_v6()) acceptor.set_option(net::ip::v6_only(true), ec);
    if (!ec) acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) acceptor.bind(endpoint, ec);
    if (!ec) acceptor.listen(net::socket_base::max_listen_connections, ec);
    return acceptor;
}

void Listener::Stop() {
    boost::system::error_code ignored;
    acceptor_.close(ignored);
    backoff_.cancel();
}

void Listener::Accept() {
    acceptor_.async_accept(
        [self = shared_from_this()](boost::system::error_code ec, tcp::socket socket) { self->OnAccept(ec, std::move(socket)); });
}

void Listener::OnAccept(boost::system::error_code ec, tcp::socket socket) {
    if (ec == net::error::operation_aborted || state_.Stopping()) return;
    if (OutOfDescriptors(ec)) return BackOff(ec);
    if (ec) state_.Failed("accepting a connection", ec);
    else Serve(std::move(socket));
    backingOff_ = false;
    Accept();
}

// The connection waits in the listening queue, and the server goes on
// with the connections it has, until a descriptor is free again.
void Listener::BackOff(const boost::system::error_code& ec) {
    if (!backingOff_) state_.Failed("accepting a connection (accepting again every " +
                                        std::to_string(ACCEPT_BACKOFF.count()) + " ms)",
                                    ec);
    backingOff_ = true;
    backoff_.expires_after(ACCEPT_BACKOFF);
    backoff_.async_wait([self = shared_from_this()](boost::system::error_code error) {
        if (!error) self->Accept();
    });
}

void Listener::Serve(tcp::socket socket) {
    boost::system::error_code peerError;
    const tcp::endpoint peer = socket.remote_endpoint(peerError);
    if (peerError) return;  // it went before it was looked at
    // One text for an address, whichever socket saw it (an IPv4 peer of an
    // IPv6 socket included); an address that does not read is never a proxy.
    std::string text = peer.address().to_string();
    const std::optional<IpAddress> address = ReadIpAddress(text);
    if (address) text = AddressText(*address);
    const bool fromProxy = address && state_.Trusts(*address);
    std::make_shared<HttpSession>(state_, std::move(socket), std::move(text), fromProxy)->Run();
}

}  // namespace kestrel
