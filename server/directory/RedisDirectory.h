#pragma once
// The directory several servers share, in Redis, through hiredis's
// asynchronous client on the server's own Asio loop: nothing here ever
// blocks the loop the rooms tick on. Each server keeps its public rooms
// under one key of its own, written at most once a write interval (soon
// after a seat changes) with a time to live, so that a killed server's
// rooms leave the list by themselves; every read interval it reads the
// other servers' keys. While Redis is slow, down or gone, the list holds
// this server's rooms alone and says it is not whole; the server tries
// again every reconnect wait, and writes its rooms at once when Redis is
// back. The log says once when Redis went, and once when it came back.

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include "server/base/Log.h"
#include "server/directory/Directory.h"

namespace kestrel {

// Where Redis listens: IP:PORT (an IPv6 address in brackets), or a unix
// socket's path (one that starts with '/' or '.').
struct RedisAddress {
    std::string host;
    int port = 0;
    std::string socketPath;
    std::string Text() const;
};
std::optional<RedisAddress> ReadRedisAddress(std::string_view text);

// The most bytes one reply from Redis may take. Every server's listings
// come back in one reply: a thousand rooms take about 90 KB, so 256 servers
// of a thousand rooms each fit with room to spare. A longer reply is not
// one our servers wrote, and is never held whole.
inline constexpr std::size_t MAX_REDIS_REPLY_BYTES = std::size_t{64} << 20;

struct RedisSettings {
    std::chrono::milliseconds write{1000};      // this server's rooms written at most this often
    std::chrono::milliseconds read{500};        // the other servers' read this often
    std::chrono::milliseconds timeToLive{5000};  // a written list lasts this long unless written again
    std::chrono::milliseconds deadline{1000};   // a reply later than this: Redis is taken as gone
    std::chrono::milliseconds reconnect{1000};  // the wait before each new try
    std::size_t replyBytes = MAX_REDIS_REPLY_BYTES;  // a longer reply: Redis is taken as gone
};

class RedisDirectory final : public Directory {
public:
    // The directory in the Redis at `address`, this server being `server`
    // (a name: its key is kestrel:rooms:NAME).
    RedisDirectory(boost::asio::io_context& io, RedisAddress address, std::string server, const Log& log,
                   RedisSettings settings = {});
    ~RedisDirectory() override;
    RedisDirectory(const RedisDirectory&) = delete;
    RedisDirectory& operator=(const RedisDirectory&) = delete;

    void Publish(std::vector<RoomListing> rooms, const ServerLoad& load, bool seatsChanged) override;
    DirectoryList List() const override;

    // The connection's state, shared with hiredis's hooks and callbacks.
    struct Link;

private:
    using Clock = std::chrono::steady_clock;
    void Beat();
    void Connect();
    void Connected();
    void Lost(const std::string& why);
    void Write();
    void Read();
    void ReadServers(const std::vector<std::string>& names);
    void TookServers(std::map<std::string, std::string> texts);
    void Answered();
    bool Late(Clock::time_point now) const;

    boost::asio::io_context& io_;
    const RedisAddress address_;
    const std::string server_, key_, loadKey_;
    const Log& log_;
    const RedisSettings settings_;
    boost::asio::steady_timer beat_;
    std::shared_ptr<Link> link_;  // none while not connected
    bool connected_ = false;      // commands may be sent
    bool up_ = false;             // and Redis has answered on this connection
    bool down_ = false;           // said to be gone, not yet said to be back
    Clock::time_point nextTry_{};
    Clock::time_point lastWrite_{}, lastRead_{};
    bool writeSoon_ = true;
    std::optional<Clock::time_point> writing_, reading_;  // when the reply in flight was asked for
    bool readOnce_ = false;  // the others' rooms were read since the connection was made
    std::vector<RoomListing> ours_;
    ServerLoad load_;
    std::map<std::string, std::string> theirs_;  // each other server's text, as read
    // Their rooms as last read from their texts: List reads a text again only when it changed.
    mutable std::map<std::string, std::pair<std::string, std::vector<RoomListing>>> parsed_;
    mutable std::map<std::string, std::string> refused_;  // a text that was refused, logged once
};

}  // namespace kestrel
