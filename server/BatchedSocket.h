#pragma once
// A screen's socket whose writes wait for the end of the handler that made
// them, and then go out with every other screen's in one system call
// (SendRing): a beat's frames for all its rooms cost one call, not one a
// screen. What a socket cannot take at once, and every write where there
// is no ring, goes through the event loop as a plain socket's would.

#include <sys/uio.h>

#include <memory>
#include <type_traits>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/role.hpp>
#include <boost/beast/websocket/teardown.hpp>
#include <boost/container/small_vector.hpp>

#include "server/SendRing.h"

namespace kestrel {

namespace net = boost::asio;
namespace beast = boost::beast;
using tcp = net::ip::tcp;

using ScreenSocketBase = net::basic_stream_socket<tcp, net::io_context::executor_type>;

// How a batched write ends: called once with its error and bytes.
class SendDone {
public:
    template <class Handler>
    explicit SendDone(Handler&& handler)
        : call_(std::make_unique<Held<std::decay_t<Handler>>>(std::forward<Handler>(handler))) {}
    void operator()(beast::error_code ec, std::size_t bytes) {
        const std::unique_ptr<Call> call = std::move(call_);
        call->Done(ec, bytes);
    }

private:
    struct Call {
        virtual ~Call() = default;
        virtual void Done(beast::error_code ec, std::size_t bytes) = 0;
    };
    template <class Handler>
    struct Held : Call {
        explicit Held(Handler&& h) : handler(std::move(h)) {}
        void Done(beast::error_code ec, std::size_t bytes) override { std::move(handler)(ec, bytes); }
        Handler handler;
    };
    std::unique_ptr<Call> call_;
};

// A write's buffers: a frame's header and body, seldom more. A write may
// take fewer bytes than it is given, so buffers past these wait their turn.
using SendBuffers = boost::container::small_vector<net::const_buffer, 4>;

// The writes of one thread's screens, gathered while a handler runs and
// sent together once it returns. It is a service of the io_context: the
// writes it holds, and the sockets their handlers keep, go when the
// context shuts down, while the sockets' own service is still there.
class SendBatch : public net::execution_context::service {
public:
    static inline net::execution_context::id id;

    // The batch of `io`, made once; without a ring every write goes the
    // usual way at once.
    static SendBatch& Of(net::io_context& io, std::unique_ptr<SendRing> ring);
    SendBatch(net::execution_context& owner, net::io_context& io, std::unique_ptr<SendRing> ring);

    void Queue(ScreenSocketBase& socket, SendBuffers buffers, SendDone done);
    // System calls the ring has made, for tests.
    std::uint64_t SystemCalls() const { return ring_ ? ring_->SystemCalls() : 0; }

private:
    struct Queued {
        ScreenSocketBase* socket;
        SendBuffers buffers;
        SendDone done;
    };
    void Flush();
    static void Finish(Queued& queued, int result);
    void shutdown() override;

    net::io_context& io_;
    std::unique_ptr<SendRing> ring_;
    std::vector<Queued> queued_, sending_;
    std::vector<RingWrite> writes_;
    std::vector<iovec> gathered_;
};

class BatchedSocket : public ScreenSocketBase {
public:
    BatchedSocket(SendBatch& batch, ScreenSocketBase&& socket) : ScreenSocketBase(std::move(socket)), batch_(batch) {}

    template <class ConstBuffers, class WriteToken>
    auto async_write_some(const ConstBuffers& buffers, WriteToken&& token) {
        return net::async_initiate<WriteToken, void(beast::error_code, std::size_t)>(
            [this](auto handler, const ConstBuffers& given) {
                SendBuffers gathered;
                for (auto it = net::buffer_sequence_begin(given); it != net::buffer_sequence_end(given) &&
                                                                   gathered.size() < gathered.static_capacity;
                     ++it)
                    gathered.push_back(net::const_buffer(*it));
                batch_.Queue(*this, std::move(gathered), SendDone(std::move(handler)));
            },
            token, buffers);
    }

private:
    SendBatch& batch_;
};

// A WebSocket's close ends on it as on the plain socket (found by Beast by
// the socket's type).
template <class TeardownHandler>
void async_teardown(beast::role_type role, BatchedSocket& socket, TeardownHandler&& handler) {
    beast::websocket::async_teardown(role, static_cast<ScreenSocketBase&>(socket), std::forward<TeardownHandler>(handler));
}
inline void teardown(beast::role_type role, BatchedSocket& socket, beast::error_code& ec) {
    beast::websocket::teardown(role, static_cast<ScreenSocketBase&>(socket), ec);
}

}  // namespace kestrel
