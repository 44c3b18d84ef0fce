#pragma once
// The directory of public rooms: the rooms anyone may play in or watch,
// each server's listed beside the others'. A server alone keeps it in its
// own memory (LocalDirectory); several share it through Redis
// (RedisDirectory). A listing is a hint, the room is the truth: a room
// listed with a free seat may be full by the time a screen comes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// One public room, as the directory lists it: ids and counts only, never a
// key or a seat token, and no free text.
struct RoomListing {
    std::string room;     // its id; the server's name in it routes a screen there
    std::string server;   // the name of the server that holds it ("" for an unnamed one)
    int seatsTaken = 0;   // of MAX_SEATS
    std::uint64_t watchers = 0;  // its screens that hold no seat
    std::uint64_t leaderKills = 0, leaderWins = 0;  // the leading seat's score
    std::uint64_t seconds = 0;   // how long it has run
    bool operator==(const RoomListing&) const = default;
};

// What a server carries, written beside its listings for whoever watches
// the servers (an operator, a balancer).
struct ServerLoad {
    std::uint64_t rooms = 0;    // public and private
    std::uint64_t screens = 0;  // connected, players and watchers
    std::uint64_t seats = 0;    // taken, by players here or away
};

// The most rooms one server lists, and the most bytes its listings take
// as text: the directory stays bounded whatever a server writes into it.
inline constexpr std::size_t MAX_LISTED_ROOMS = 10000;
inline constexpr std::size_t MAX_LISTING_BYTES = 300;

// A server's listings as the text the directory keeps (a JSON array), and
// back; a text that is not such an array, or holds a listing too long or
// malformed, is refused (none).
std::string ListingsText(const std::vector<RoomListing>& rooms);
std::optional<std::vector<RoomListing>> ReadListings(std::string_view text);
// A server's load as the directory keeps it: {"rooms", "screens", "seats"}.
std::string LoadText(const ServerLoad& load);

// Every server's public rooms as the directory last read them, this
// server's own as last published; `whole` is false while the shared
// directory cannot be read, and only this server's rooms are in it.
struct DirectoryList {
    std::vector<RoomListing> rooms;
    bool whole = true;
};

class Directory {
public:
    virtual ~Directory() = default;
    // This server's public rooms and its load now, in place of those it
    // gave before. `seatsChanged`: a seat was taken or freed, which others
    // should see soon; otherwise the directory may wait (at most a second)
    // to write.
    virtual void Publish(std::vector<RoomListing> rooms, const ServerLoad& load, bool seatsChanged) = 0;
    // What the directory holds now; answered at once, never waiting on
    // another process.
    virtual DirectoryList List() const = 0;
};

// The directory of a server alone: its own rooms, in its own memory.
class LocalDirectory final : public Directory {
public:
    void Publish(std::vector<RoomListing> rooms, const ServerLoad&, bool) override { rooms_ = std::move(rooms); }
    DirectoryList List() const override { return {rooms_, true}; }

private:
    std::vector<RoomListing> rooms_;
};

}  // namespace kestrel
