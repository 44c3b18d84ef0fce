#pragma once
// Rooms built off the server's thread: a room's referee plays its start or
// resumed recording through when it is made, which for a long recording
// takes long enough to hold every other room's clock. One worker builds
// one room at a time, in the order asked, and posts each room built back
// to the server's io_context. What a build reads and writes belongs to it
// alone until it is posted back. Stopped, the worker ends between rooms.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "game/Room.h"
#include "game/Result.h"

namespace boost::asio {
class io_context;
}

namespace kestrel {

// A room's referee as built, with its play key.
struct BuiltRoom {
    std::unique_ptr<Room> room;
    std::string key;
    bool listed = false;  // open to anyone
    std::chrono::milliseconds took{0};  // the building's own time
    // A kept room: why its checkpoint was passed over, if it was, or the
    // tick of the checkpoint it came back from.
    std::string damagedCheckpoint = {};
    std::optional<std::uint64_t> fromCheckpoint = {};
};
// A room built, or why it could not be.
using Built = Result<BuiltRoom>;

class RoomBuilder {
public:
    using Make = std::function<Built()>;   // on the worker
    using Done = std::function<void(Built)>;  // on the server's thread

    explicit RoomBuilder(boost::asio::io_context& io);
    ~RoomBuilder();
    RoomBuilder(const RoomBuilder&) = delete;
    RoomBuilder& operator=(const RoomBuilder&) = delete;

    void Add(Make make, Done done);
    // No room is started after the one being built; waits for that one.
    void Stop();

private:
    struct Order {
        Make make;
        Done done;
    };
    void Work();

    boost::asio::io_context& io_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Order> orders_;
    bool stopping_ = false;
    std::thread worker_;  // last: it starts once the rest is there
};

}  // namespace kestrel
