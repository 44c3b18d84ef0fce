#pragma once
// Writes to many sockets in one system call, through io_uring. Each write
// is tried once and never waits: what a socket cannot take at once comes
// back as -EAGAIN, for its caller to send the usual way. Where io_uring is
// not to be had (an old kernel, a sandbox that forbids it) there is no
// ring, and every write goes the usual way.

#include <sys/uio.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace kestrel {

struct RingWrite {
    int socket;
    std::span<const iovec> buffers;
    int result = 0;  // bytes taken, or -errno
};

class SendRing {
public:
    // A ring, or none with `why` said.
    static std::unique_ptr<SendRing> Open(std::string& why);
    ~SendRing();
    SendRing(const SendRing&) = delete;
    SendRing& operator=(const SendRing&) = delete;

    // Each write tried once, its result set; in as few system calls as
    // the ring's size allows.
    void Send(std::span<RingWrite> writes);
    std::uint64_t SystemCalls() const { return systemCalls_; }
    // Whether the ring still works; once the kernel has refused a batch it
    // is closed, and every write comes back -EAGAIN.
    bool Working() const { return ring_ != nullptr; }

private:
    struct Ring;
    explicit SendRing(std::unique_ptr<Ring> ring);
    void SendPart(std::span<RingWrite> writes);
    int AwaitEnds(std::span<RingWrite> writes, int taken);

    std::unique_ptr<Ring> ring_;
    std::uint64_t systemCalls_ = 0;
};

}  // namespace kestrel
