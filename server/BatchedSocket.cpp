#include "server/BatchedSocket.h"

#include <boost/asio/post.hpp>

namespace kestrel {

SendBatch& SendBatch::Of(net::io_context& io, std::unique_ptr<SendRing> ring) {
    return net::make_service<SendBatch>(io, io, std::move(ring));
}

SendBatch::SendBatch(net::execution_context& owner, net::io_context& io, std::unique_ptr<SendRing> ring)
    : net::execution_context::service(owner), io_(io), ring_(std::move(ring)) {}

// Writes never sent go with their handlers. One that queues another as it
// goes finds an empty queue, and its write goes when the batch does.
void SendBatch::shutdown() {
    std::vector<Queued> dropped = std::move(queued_);
    dropped.clear();
}

void SendBatch::Queue(ScreenSocketBase& socket, SendBuffers buffers, SendDone done) {
    if (!ring_ || !ring_->Working()) return socket.ScreenSocketBase::async_write_some(std::move(buffers), std::move(done));
    // The first write of a handler asks for the batch to go once it returns.
    if (queued_.empty()) net::post(io_, [this] { Flush(); });
    queued_.push_back({&socket, std::move(buffers), std::move(done)});
}

void SendBatch::Flush() {
    // Writes that the ends below queue go with the next batch.
    sending_.swap(queued_);
    writes_.clear();
    gathered_.clear();
    for (const Queued& queued : sending_)
        for (const net::const_buffer& buffer : queued.buffers)
            gathered_.push_back({const_cast<void*>(buffer.data()), buffer.size()});
    std::size_t first = 0;
    for (const Queued& queued : sending_) {
        // A socket closed since its write was queued is not written to (its
        // number may be another connection's by now): -1 is refused.
        const int socket = queued.socket->is_open() ? queued.socket->native_handle() : -1;
        writes_.push_back({socket, std::span(gathered_).subspan(first, queued.buffers.size())});
        first += queued.buffers.size();
    }
    ring_->Send(writes_);
    for (std::size_t n = 0; n < sending_.size(); ++n) Finish(sending_[n], writes_[n].result);
    sending_.clear();
}

void SendBatch::Finish(Queued& queued, int result) {
    if (!queued.socket->is_open()) return queued.done(net::error::operation_aborted, 0);
    if (result == -EAGAIN)
        return queued.socket->ScreenSocketBase::async_write_some(std::move(queued.buffers), std::move(queued.done));
    if (result < 0) return queued.done(beast::error_code(-result, beast::system_category()), 0);
    queued.done({}, std::size_t(result));
}

}  // namespace kestrel
