#pragma once
// A live room on the network: its referee and its screens, both private.
// Once started it is ticked by the server's clock (TickDriver), a tick
// every TICK_MS on deadlines counted from its start, and each tick's frame
// is sent to every screen. Sessions come in through Join, send through
// Receive and go through Leave. No Beast here.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <boost/container/flat_map.hpp>

#include "game/Room.h"
#include "server/directory/Directory.h"
#include "server/rooms/RoomHost.h"
#include "server/rooms/TickQueue.h"
#include "server/rooms/Tickets.h"
#include "server/rooms/TimeRules.h"

namespace kestrel {

using Frame = std::shared_ptr<const std::string>;

// What a room needs of a screen's connection (a LiveSession): to be sent frames.
class ScreenLink {
public:
    virtual ~ScreenLink() = default;
    virtual void Send(Frame frame) = 0;
};

class LiveRoom : public Ticking, public std::enable_shared_from_this<LiveRoom> {
public:
    // `room` is the referee as built, its start recording played through.
    LiveRoom(RoomHost& host, std::string id, std::string key, std::unique_ptr<Room> room);
    ~LiveRoom() override;

    const std::string& Id() const { return id_; }
    // Whether `given` is the play key; compared in full whatever the first
    // difference, so the time taken tells nothing of the key.
    bool IsKey(std::string_view given) const;
    // A place for a screen about to join; none when the room is full.
    std::optional<Ticket> TakePlace() { return places_.Take(); }
    bool Full() const { return !places_.Free(); }

    // A screen comes, a player with the token of a seat it held, if any: it
    // is sent the joined, scores and seat notices and the join text, every
    // screen the people notice and the roster of the seats.
    ClientId Join(const std::shared_ptr<ScreenLink>& screen, bool mayPlay, std::string_view seatToken = {});
    void Leave(ClientId client);
    FrameReceipt Receive(ClientId client, std::string_view frame);
    void Broadcast(const Frame& frame);

    // Its ticks start (once), and stop for good.
    void Start();
    void Stop() { stopped_ = true; }
    // Its tick sent to every screen; false once it is stopped.
    bool Tick() override;
    // Its recording brought up to date for the last time (the room ends, or
    // the server stops); what its file cannot keep is logged.
    void Flush();
    int Width() const { return room_->Referee().Width(); }
    int Height() const { return room_->Referee().Height(); }
    std::uint64_t Ticks() const { return room_->Ticks(); }
    std::uint64_t Mismatches() const { return room_->Mismatches(); }
    std::uint64_t HashesChecked() const { return room_->HashesChecked(); }
    std::size_t Screens() const { return places_.Taken(); }
    // Seats held by players here or away.
    std::size_t SeatsTaken() const { return room_->SeatsTaken(); }
    const Seats& SeatRecord() const { return room_->SeatRecord(); }
    std::vector<SeatPresence> Roster() const { return room_->Roster(); }
    // Open to anyone: listed in the directory of public rooms, its seats
    // given to whoever asks. Once listed, for good.
    bool Listed() const { return listed_; }
    void List() { listed_ = true; }
    // How it stands in the directory (its server's name: `server`).
    RoomListing Listing(const std::string& server) const;
    // Whether a player coming now would find a seat.
    bool SeatFree() const { return !Full() && SeatsTaken() < std::size_t(MAX_SEATS); }
    const std::string& Key() const { return key_; }
    // Whether its recording is kept on disk up to its last room second.
    bool RecordingWhole() const { return room_->RecordingState() == SinkState::Whole; }
    // Its record is written: its recording takes the room's name, if it had another.
    bool SettleRecording() { return room_->SettleRecording(); }

private:
    const Frame& TickFrame(const std::string& text);
    void SendRosterChange(const std::shared_ptr<ScreenLink>& joining = nullptr);
    void NoteRecording(SinkState before);
    void NoteLoss();

    RoomHost& host_;
    const std::string id_, key_;
    std::unique_ptr<Room> room_;
    ScreenPlaces places_;
    // A room's few screens side by side: each tick's broadcast walks them
    // without a jump in memory per screen.
    boost::container::flat_map<ClientId, std::weak_ptr<ScreenLink>> sessions_;
    Frame lastTick_;
    IdleRule idle_;
    bool started_ = false, stopped_ = false;
    bool listed_ = false;
};

}  // namespace kestrel
