#include "server/BatchedSocket.h"

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
    queued_.push_back({&socket, std::move(buffers), std::move(done)});
}

// A socket that goes has no write in a batch any more: its entry ends as
// aborted, and nothing is sent through it.
void SendBatch::Forget(const ScreenSocketBase& socket) {
    for (std::vector<Queued>* writes : {&queued_, sending_})
        if (writes)
            for (Queued& queued : *writes)
                if (queued.socket == &socket) queued.socket = nullptr;
}

void SendBatch::Flush() {
    // Writes queued by the handlers called below go with the next batch.
    std::vector<Queued> sending = std::exchange(queued_, {});
    sending_ = &sending;
    struct Done {
        std::vector<Queued>*& sending;
        ~Done() { sending = nullptr; }
    } done{sending_};
    std::vector<int> results = Send(sending);
    for (std::size_t n = 0; n < sending.size(); ++n) Finish(sending[n], results[n]);
}

// Each write through the ring, bar those whose socket has closed since it
// was queued: their number may be another connection's by now.
std::vector<int> SendBatch::Send(const std::vector<Queued>& sending) {
    std::vector<int> results(sending.size(), NOT_TRIED);
    std::vector<std::size_t> tried;
    writes_.clear();
    gathered_.clear();
    for (std::size_t n = 0; n < sending.size(); ++n)
        if (sending[n].socket && sending[n].socket->is_open()) {
            tried.push_back(n);
            for (const net::const_buffer& buffer : sending[n].buffers)
                gathered_.push_back({const_cast<void*>(buffer.data()), buffer.size()});
        }
    std::size_t first = 0;
    for (const std::size_t n : tried) {
        const std::size_t count = sending[n].buffers.size();
        writes_.push_back({sending[n].socket->native_handle(), std::span(gathered_).subspan(first, count)});
        first += count;
    }
    ring_->Send(writes_);
    if (!ring_->Working())
        log_.Line("frames go out one system call each from now on: the kernel refused a batch of them");
    for (std::size_t k = 0; k < tried.size(); ++k) results[tried[k]] = writes_[k].result;
    return results;
}

void SendBatch::Finish(Queued& queued, int result) {
    // What went, went, whatever became of its socket since.
    if (result >= 0) return queued.done({}, std::size_t(result));
    if (!queued.socket || !queued.socket->is_open()) return queued.done(net::error::operation_aborted, 0);
    if (result == -EAGAIN)
        return queued.socket->ScreenSocketBase::async_write_some(std::move(queued.buffers), std::move(queued.done));
    queued.done(beast::error_code(-result, beast::system_category()), 0);
}

}  // namespace kestrel
