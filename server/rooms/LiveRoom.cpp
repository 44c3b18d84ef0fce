#include "server/rooms/LiveRoom.h"

#include <boost/container/small_vector.hpp>

#include "game/RoomId.h"
#include "server/rooms/RandomId.h"

namespace kestrel {
namespace {

// Screens a broadcast gathers without an allocation: a room's usual few.
constexpr std::size_t SCREENS_GATHERED_IN_PLACE = 8;

Frame MakeFrame(std::string text) { return std::make_shared<const std::string>(std::move(text)); }

}  // namespace

LiveRoom::LiveRoom(RoomHost& host, std::string id, std::string key, std::unique_ptr<Room> room)
    : host_(host), id_(std::move(id)), key_(std::move(key)), room_(std::move(room)),
      places_(std::size_t(host.Limits().connectionsPerRoom)) {}

LiveRoom::~LiveRoom() = default;

bool LiveRoom::IsKey(std::string_view given) const { return SameSecret(given, key_); }

// A token that cannot be drawn leaves the seat without one: its player
// cannot come back to it after a drop, but plays.
ClientId LiveRoom::Join(const std::shared_ptr<ScreenLink>& session, bool mayPlay, std::string_view seatToken) {
    const Admission admission = room_->Join(mayPlay, seatToken, mayPlay ? RandomHexId().value_or("") : "");
    if (admission.refusedToken) host_.ServerLog().Room(id_, "a screen came with " + *admission.refusedToken);
    const ClientId client = admission.client;
    sessions_[client] = session;
    session->Send(MakeFrame(room_->JoinedNotice()));
    session->Send(MakeFrame(room_->ScoresNotice()));
    if (const std::string seat = room_->SeatNotice(client); !seat.empty()) session->Send(MakeFrame(seat));
    Broadcast(MakeFrame(room_->PeopleNotice()));
    SendRosterChange(session);
    session->Send(MakeFrame(room_->JoinText()));
    return client;
}

void LiveRoom::Leave(ClientId client) {
    if (sessions_.erase(client) == 0) return;
    room_->Leave(client);
    if (host_.Stopping()) return;
    Broadcast(MakeFrame(room_->PeopleNotice()));
    SendRosterChange();
}

// Every screen is told of a seat that changed hands or presence; a screen
// that joins is told the roster as it stands.
void LiveRoom::SendRosterChange(const std::shared_ptr<ScreenLink>& joining) {
    if (room_->TakeRosterChange()) {
        Broadcast(MakeFrame(room_->RosterNotice()));
        if (listed_) host_.PublicSeatsChanged();
    } else if (joining) {
        joining->Send(MakeFrame(room_->RosterNotice()));
    }
}

// The leading seat is the one with the most wins, then the most kills.
RoomListing LiveRoom::Listing(const std::string& server) const {
    const Seats& seats = SeatRecord();
    const std::vector<SeatPresence> roster = Roster();
    RoomListing listing{.room = id_, .server = server, .seatsTaken = int(SeatsTaken()),
                        .seconds = Ticks() / LIVE_TICKS_PER_SECOND};
    std::size_t present = 0;
    for (int k = 0; k < seats.count; ++k) {
        present += std::size_t(k) < roster.size() && roster[std::size_t(k)] == SeatPresence::Here;
        const SeatScore& score = seats.scores[k];
        if (std::pair(score.wins, score.kills) > std::pair(listing.leaderWins, listing.leaderKills))
            listing.leaderWins = score.wins, listing.leaderKills = score.kills;
    }
    listing.watchers = Screens() > present ? Screens() - present : 0;
    return listing;
}

FrameReceipt LiveRoom::Receive(ClientId client, std::string_view frame) {
    FrameReceipt receipt = room_->Receive(client, frame);
    if (receipt.mismatchAt)
        host_.ServerLog().Room(id_, "a screen's hash for tick " + std::to_string(*receipt.mismatchAt) +
                                      " differs from the room's");
    return receipt;
}

void LiveRoom::Broadcast(const Frame& frame) {
    // Sending may drop a screen, which changes the set. A room's few
    // screens are gathered without an allocation.
    boost::container::small_vector<std::shared_ptr<ScreenLink>, SCREENS_GATHERED_IN_PLACE> screens;
    for (const auto& [client, session] : sessions_)
        if (auto screen = session.lock()) screens.push_back(std::move(screen));
    for (const auto& screen : screens) screen->Send(frame);
}

void LiveRoom::Start() {
    if (started_) return;
    started_ = true;
    host_.StartTicking(weak_from_this());
}

bool LiveRoom::Tick() {
    if (stopped_ || host_.Stopping()) return false;
    const SinkState before = room_->RecordingState();
    Broadcast(TickFrame(room_->Tick()));
    SendRosterChange();
    NoteRecording(before);
    // A screen still shaking hands holds its seat: the room is not empty.
    if (idle_.Ends(places_.Taken(), host_.Now())) host_.Emptied(id_);
    return true;
}

// Most ticks carry nothing but the tick and read as the one before: that
// frame is sent again rather than made anew.
const Frame& LiveRoom::TickFrame(const std::string& text) {
    if (!lastTick_ || *lastTick_ != text) lastTick_ = MakeFrame(text);
    return lastTick_;
}

void LiveRoom::Flush() {
    const SinkState before = room_->RecordingState();
    room_->Flush();
    NoteRecording(before);
    // What is still held back goes with the room.
    if (room_->RecordingState() == SinkState::HeldBack) NoteLoss();
}

// One line when the file starts failing, and one when it is whole again or
// has stopped for good.
void LiveRoom::NoteRecording(SinkState before) {
    const SinkState now = room_->RecordingState();
    if (now == before) return;
    switch (now) {
    case SinkState::HeldBack:
        return host_.ServerLog().Room(id_, "its recording cannot be written after tick " +
                                             std::to_string(room_->KeptTicks()) +
                                             "; the rest is held back until it can");
    case SinkState::Whole: return host_.ServerLog().Room(id_, "its recording is written again, whole");
    case SinkState::Lost: return NoteLoss();
    }
}

void LiveRoom::NoteLoss() {
    host_.ServerLog().Room(id_, "its recording is kept up to tick " + std::to_string(room_->KeptTicks()) +
                                  " only: the rest could not be written");
}

}  // namespace kestrel
