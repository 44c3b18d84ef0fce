#pragma once
// The clock of every room on the server's thread: one timer, set for the
// earliest tick due, rather than a timer a room. What each wake sent is
// counted in the server's ticks and late ticks, and the time it took.

#include <memory>
#include <optional>

#include "server/rooms/TickQueue.h"

namespace boost::asio {
class io_context;
}

namespace kestrel {

class ServerCounts;

class TickDriver {
public:
    TickDriver(boost::asio::io_context& io, ServerCounts& counts);
    ~TickDriver();
    TickDriver(const TickDriver&) = delete;
    TickDriver& operator=(const TickDriver&) = delete;

    // A room starts ticking now, on the beat fewest rooms share: its first
    // tick is due within two ticks from now.
    void Add(std::weak_ptr<Ticking> room);

private:
    struct Timer;
    void Arm(ServerTime due);
    void OnTimer();

    boost::asio::io_context& io_;
    ServerCounts& counts_;
    TickQueue queue_;
    // The timer belongs to its pending wait, so that it goes with the
    // io_context's handlers, whichever of the two is taken down first.
    std::weak_ptr<Timer> timer_;
    std::optional<ServerTime> armedFor_;
};

}  // namespace kestrel
