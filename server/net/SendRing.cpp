#include "server/net/SendRing.h"

#include <liburing.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace kestrel {
namespace {

// Writes one system call passes at most: a beat's frames for a few
// hundred rooms.
constexpr unsigned RING_ENTRIES = 256;
// Never waits, never raises SIGPIPE: a closed peer is an error returned.
constexpr int SEND_FLAGS = MSG_DONTWAIT | MSG_NOSIGNAL;

}  // namespace

struct SendRing::Ring {
    io_uring ring{};
    bool made = false;
    std::vector<msghdr> messages = std::vector<msghdr>(RING_ENTRIES);
    ~Ring() {
        if (made) io_uring_queue_exit(&ring);
    }
};

std::unique_ptr<SendRing> SendRing::Open(std::string& why) {
    auto ring = std::make_unique<Ring>();
    if (const int failed = io_uring_queue_init(RING_ENTRIES, &ring->ring, 0); failed < 0) {
        why = std::strerror(-failed);
        return nullptr;
    }
    ring->made = true;
    return std::unique_ptr<SendRing>(new SendRing(std::move(ring)));
}

SendRing::SendRing(std::unique_ptr<Ring> ring) : ring_(std::move(ring)) {}
SendRing::~SendRing() = default;

void SendRing::Send(std::span<RingWrite> writes) {
    // Until the kernel has a write, it is the caller's to send.
    for (RingWrite& write : writes) write.result = -EAGAIN;
    for (std::size_t first = 0; first < writes.size() && ring_; first += RING_ENTRIES)
        SendPart(writes.subspan(first, std::min<std::size_t>(RING_ENTRIES, writes.size() - first)));
}

void SendRing::SendPart(std::span<RingWrite> writes) {
    io_uring& ring = ring_->ring;
    for (std::size_t n = 0; n < writes.size(); ++n) {
        msghdr& message = ring_->messages[n];
        message = {};
        message.msg_iov = const_cast<iovec*>(writes[n].buffers.data());
        message.msg_iovlen = writes[n].buffers.size();
        io_uring_sqe* entry = io_uring_get_sqe(&ring);  // never none: a part fits the ring
        io_uring_prep_sendmsg(entry, writes[n].socket, &message, SEND_FLAGS);
        io_uring_sqe_set_data64(entry, n);
    }
    ++systemCalls_;
    const int taken = io_uring_submit(&ring);
    // A write taken whose end is never heard of may or may not have gone:
    // its connection cannot go on.
    for (int n = 0; n < taken; ++n) writes[std::size_t(n)].result = -EIO;
    const int left = AwaitEnds(writes, std::max(taken, 0));
    // The kernel refused some, or could not say how they went: the ring
    // goes with whatever it still holds, and from now on every write goes
    // the usual way.
    if (taken != int(writes.size()) || left > 0) ring_.reset();
}

// A write that never waits is done as it is taken, all but always before
// the call returns; any still going are waited for. Answers how many the
// kernel could not say the end of.
int SendRing::AwaitEnds(std::span<RingWrite> writes, int taken) {
    io_uring& ring = ring_->ring;
    int left = taken;
    while (left > 0) {
        io_uring_cqe* done = nullptr;
        int failed = io_uring_peek_cqe(&ring, &done);
        if (failed != 0) failed = io_uring_wait_cqe(&ring, &done);
        if (failed == -EINTR) continue;
        if (failed != 0) break;
        writes[io_uring_cqe_get_data64(done)].result = done->res;
        io_uring_cqe_seen(&ring, done);
        --left;
    }
    return left;
}

}  // namespace kestrel
