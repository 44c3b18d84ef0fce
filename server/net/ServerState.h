#pragma once
// What the network side of the running server shares, on its one thread:
// the limits, the log and the counts, the connections per address, the
// registry the rooms are reached through, the clock they tick by and the
// batch their screens' frames go out in. Sessions hold it by reference, and
// the rooms see it as their host; the server that owns it takes its
// io_context down first.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/system/error_code.hpp>

#include "server/base/Counts.h"
#include "server/base/Limits.h"
#include "server/base/Log.h"
#include "server/directory/Directory.h"
#include "server/directory/SentSeats.h"
#include "server/net/Addresses.h"
#include "server/rooms/RoomHost.h"
#include "server/rooms/RoomRegistry.h"
#include "server/rooms/TickDriver.h"
#include "server/rooms/Tickets.h"

namespace boost::asio {
class io_context;
}

namespace kestrel {

class SendBatch;

// What the state is made from: the command line's say, and the folders.
struct ServerSetting {
    ServerLimits limits;
    std::string name;  // among several servers; empty without one
    std::vector<AddressRange> trustedProxies;
    std::filesystem::path data;
    std::optional<std::filesystem::path> site;
    // The directory of public rooms several servers share; none keeps this
    // server's alone, in its own memory.
    std::unique_ptr<Directory> directory;
};

class ServerState final : public RoomsHost {
public:
    ServerState(boost::asio::io_context& io, ServerSetting setting, Log log)
        : io_(io), limits_(setting.limits), name_(std::move(setting.name)),
          trustedProxies_(std::move(setting.trustedProxies)), log_(log), addresses_(limits_.connectionsPerAddress),
          refusedAddresses_(REFUSALS_PER_ADDRESS), rooms_(*this, io, name_, std::move(setting.data)),
          site_(std::move(setting.site)), ticks_(io, counts_), sends_(MakeSendBatch(io, noRing_, log_)),
          directory_(setting.directory ? std::move(setting.directory) : std::make_unique<LocalDirectory>()),
          queries_(limits_.queriesPerMinute) {
        PublishNow();
    }
    ServerState(const ServerState&) = delete;
    ServerState& operator=(const ServerState&) = delete;

    boost::asio::io_context& Io() { return io_; }
    const ServerLimits& Limits() const override { return limits_; }
    // This server's name among several; empty without one.
    const std::string& Name() const { return name_; }
    // Whether the peer at `address` is a proxy whose word on the browser is taken.
    bool Trusts(const IpAddress& address) const;
    const Log& ServerLog() const override { return log_; }
    ServerTime Now() const override { return ServerClock::now(); }
    void StartTicking(std::weak_ptr<Ticking> room) override { ticks_.Add(std::move(room)); }
    // An unexpected network error, once, in the log's one style.
    void Failed(std::string_view what, const boost::system::error_code& ec) const;
    ServerCounts& Counts() { return counts_; }
    AddressCounts& Addresses() { return addresses_; }
    // Connections over their address's limit being answered so.
    AddressCounts& RefusedAddresses() { return refusedAddresses_; }
    RoomRegistry& Rooms() { return rooms_; }
    // The screens' writes, sent together once each handler returns.
    SendBatch& Sends() { return sends_; }
    // Why they go one system call each, when they do: no io_uring here.
    const std::string& NoRing() const { return noRing_; }
    const std::optional<std::filesystem::path>& Site() const { return site_; }
    bool Stopping() const override { return stopping_; }
    // The server stops: nothing more is published, and a shared directory
    // lets its connection go while the loop it waits on is still there.
    void Stop() {
        stopping_ = true;
        directory_ = std::make_unique<LocalDirectory>();
    }
    // The public rooms of every server, this server's as they are now.
    DirectoryList PublicRooms();
    // The public room to send a player who asks to play with anyone: the
    // fullest with a free seat, the seats this server sent players to in
    // other servers' rooms counted taken. None when every seat is taken.
    std::optional<RoomListing> RoomForAnyone();
    // A player was sent to another server's `room`.
    void SentElsewhere(const RoomListing& room) { sentSeats_.Sent(room, SentSeats::Clock::now()); }
    // What each address may still ask of the public rooms this minute.
    CreationQuota& Queries() { return queries_; }
    void PublicSeatsChanged() override { Publish(true); }

private:
    boost::asio::io_context& io_;
    ServerLimits limits_;
    std::string name_;
    std::vector<AddressRange> trustedProxies_;
    Log log_;
    ServerCounts counts_;  // rooms and connections are counted when asked
    AddressCounts addresses_;
    AddressCounts refusedAddresses_;
    RoomRegistry rooms_;
    std::optional<std::filesystem::path> site_;
    TickDriver ticks_;
    bool stopping_ = false;
    std::string noRing_;
    SendBatch& sends_;  // the io_context's, which lets it go first

    static SendBatch& MakeSendBatch(boost::asio::io_context& io, std::string& noRing, Log log);
    // This server's public rooms to the directory: now, and every
    // PUBLISH_EVERY after.
    void PublishNow();
    void Publish(bool seatsChanged);

    std::unique_ptr<Directory> directory_;
    SentSeats sentSeats_;
    CreationQuota queries_;
};

// Whether a network error is one of the ordinary ends of a connection (the
// peer went, a timeout we set, an operation we cancelled): not logged.
bool OrdinaryEnd(const boost::system::error_code& ec);

}  // namespace kestrel
