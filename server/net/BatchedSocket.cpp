#include "server/net/BatchedSocket.h"

#include <utility>

#include <boost/asio/post.hpp>

namespace kestrel {
namespace {

// A write given no try: its socket closed or gone before its batch went.
constexpr int NOT_TRIED = -ECANCELED;

}  // namespace

SendBatch& SendBatch::Add(net::io_context& io, std::unique_ptr<SendRing> ring, Log log) {
    return net::make_service<SendBatch>(io, io, std::move(ring), log);
}

SendBatch::SendBatch(net::execution_context& owner, net::io_context& io, std::unique_ptr<SendRing> ring, Log log)
    : net::execution_context::service(owner), io_(io), ring_(std::move(ring)), log_(log) {}

// Writes never sent go with their handlers, and so may the sessions those
// keep; a write a going session makes goes the plain way, to be dropped
// with the rest of the context.
void SendBatch::shutdown() {
    shutDown_ = true;
    while (!queued_.empty()) std::exchange(queued_, {}).clear();
}

bool SendBatch::Batching() const { return ring_ && ring_->Working() && !shutDown_; }

void SendBatch::Queue(ScreenSocketBase& socket, SendBuffers buffers, SendDone done) {
    if (!Batching()) return socket.ScreenSocketBase::async_write_some(std::move(buffers), std::move(done));
    // The first write of a handler asks for the batch to go once it returns.
    if (queued_.empty()) net::post(io_, [this] { Flush(); });
    queued_.push_back({&socket, std::move(buffers), std::move(done), NOT_TRIED});
}

// A socket that goes has no write in a batch any more: its entry ends as
// aborted, and nothing is sent through it.
void SendBatch::Forget(const ScreenSocketBase& socket) {
    for (std::vector<Queued>* writes : {&queued_, &sending_})
        for (Queued& queued : *writes)
            if (queued.socket == &socket) queued.socket = nullptr;
}

void SendBatch::Flush() {
    // Writes queued by the handlers called below go with the next batch;
    // the two lists trade places, so each keeps its room from batch to batch.
    std::swap(sending_, queued_);
    Send();
    for (Queued& queued : sending_) Finish(queued);
    sending_.clear();
}

// Each write through the ring, bar those whose socket has closed since it
// was queued: their number may be another connection's by now.
void SendBatch::Send() {
    tried_.clear();
    writes_.clear();
    gathered_.clear();
    for (Queued& queued : sending_)
        if (queued.socket && queued.socket->is_open()) {
            tried_.push_back(&queued);
            for (const net::const_buffer& buffer : queued.buffers)
                gathered_.push_back({const_cast<void*>(buffer.data()), buffer.size()});
        }
    std::size_t first = 0;
    for (const Queued* queued : tried_) {
        writes_.push_back({queued->socket->native_handle(), std::span(gathered_).subspan(first, queued->buffers.size())});
        first += queued->buffers.size();
    }
    ring_->Send(writes_);
    if (!ring_->Working())
        log_.Line("frames go out one system call each from now on: the kernel refused a batch of them");
    for (std::size_t n = 0; n < tried_.size(); ++n) tried_[n]->result = writes_[n].result;
}

void SendBatch::Finish(Queued& queued) {
    const int result = queued.result;
    // What went, went, whatever became of its socket since.
    if (result >= 0) return queued.done({}, std::size_t(result));
    if (!queued.socket || !queued.socket->is_open()) return queued.done(net::error::operation_aborted, 0);
    if (result == -EAGAIN)
        return queued.socket->ScreenSocketBase::async_write_some(std::move(queued.buffers), std::move(queued.done));
    queued.done(beast::error_code(-result, beast::system_category()), 0);
}

}  // namespace kestrel
