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

#include <boost/asio/associated_executor.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/role.hpp>
#include <boost/beast/websocket/teardown.hpp>
#include <boost/container/small_vector.hpp>

#include "server/base/Log.h"
#include "server/net/SendRing.h"

namespace kestrel {

namespace net = boost::asio;
namespace beast = boost::beast;
using tcp = net::ip::tcp;

using ScreenSocketBase = net::basic_stream_socket<tcp, net::io_context::executor_type>;

// How a batched write ends: called once with its error and bytes, through
// the executor its handler is bound to.
class SendDone {
public:
    template <class Handler>
    SendDone(Handler&& handler, ScreenSocketBase& socket)
        : call_(std::make_unique<Held<std::decay_t<Handler>>>(std::forward<Handler>(handler), socket)) {}
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
        Held(Handler&& h, ScreenSocketBase& socket)
            : handler(std::move(h)), executor(net::get_associated_executor(handler, socket.get_executor())) {}
        void Done(beast::error_code ec, std::size_t bytes) override {
            net::dispatch(executor, beast::bind_front_handler(std::move(handler), ec, bytes));
        }
        Handler handler;
        net::associated_executor_t<Handler, ScreenSocketBase::executor_type> executor;
    };
    std::unique_ptr<Call> call_;
};

// A write's buffers: a frame's header and body, seldom more. A write may
// take fewer bytes than it is given, so buffers past these wait their turn.
using SendBuffers = boost::container::small_vector<net::const_buffer, 4>;

template <class ConstBuffers>
SendBuffers Gather(const ConstBuffers& given) {
    SendBuffers gathered;
    for (auto it = net::buffer_sequence_begin(given);
         it != net::buffer_sequence_end(given) && gathered.size() < gathered.static_capacity; ++it)
        gathered.push_back(net::const_buffer(*it));
    return gathered;
}

// The writes of one thread's screens, gathered while a handler runs and
// sent together once it returns. It is a service of the io_context: the
// writes it holds, and the sockets their handlers keep, go when the
// context shuts down, while the sockets' own service is still there.
class SendBatch : public net::execution_context::service {
public:
    static inline net::execution_context::id id;

    // Adds the batch to `io`, once; without a ring every write goes the
    // usual way at once. `log` hears of a ring the kernel stops taking.
    static SendBatch& Add(net::io_context& io, std::unique_ptr<SendRing> ring, Log log);
    SendBatch(net::execution_context& owner, net::io_context& io, std::unique_ptr<SendRing> ring, Log log);

    void Queue(ScreenSocketBase& socket, SendBuffers buffers, SendDone done);
    // A socket about to go: its queued write is not sent.
    void Forget(const ScreenSocketBase& socket);
    bool Batching() const;
    // The ring's system calls so far, for tests.
    std::uint64_t Submissions() const { return ring_ ? ring_->SystemCalls() : 0; }

private:
    struct Queued {
        ScreenSocketBase* socket;  // none once it has gone
        SendBuffers buffers;
        SendDone done;
        int result;  // bytes taken, or -errno
    };
    void Flush();
    void Send();
    static void Finish(Queued& queued);
    void shutdown() override;

    net::io_context& io_;
    std::unique_ptr<SendRing> ring_;
    Log log_;
    std::vector<Queued> queued_, sending_;  // the batch to go, and the one going
    std::vector<Queued*> tried_;
    std::vector<RingWrite> writes_;
    std::vector<iovec> gathered_;
    bool shutDown_ = false;
};

class BatchedSocket : public ScreenSocketBase {
public:
    BatchedSocket(SendBatch& batch, ScreenSocketBase&& socket) : ScreenSocketBase(std::move(socket)), batch_(batch) {}
    // A socket may go with its write still queued (a ping's, whose stream
    // is held by no one): the batch is told.
    ~BatchedSocket() { batch_.Forget(*this); }
    // The batch knows a socket by its address.
    BatchedSocket(BatchedSocket&&) = delete;
    BatchedSocket& operator=(BatchedSocket&&) = delete;

    template <class ConstBuffers, class WriteToken>
    auto async_write_some(const ConstBuffers& buffers, WriteToken&& token) {
        return net::async_initiate<WriteToken, void(beast::error_code, std::size_t)>(
            [this](auto handler, const ConstBuffers& given) {
                batch_.Queue(*this, Gather(given), SendDone(std::move(handler), *this));
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
