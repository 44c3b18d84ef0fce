#include "server/LiveRoom.h"

#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include "server/ServerState.h"

namespace kestrel {
namespace {

constexpr auto TICK = std::chrono::milliseconds(TICK_MS);

Frame MakeFrame(std::string text) { return std::make_shared<const std::string>(std::move(text)); }

}  // namespace

struct LiveRoom::Clock {
    boost::asio::steady_timer timer;
};

LiveRoom::LiveRoom(ServerState& state, std::string id, std::string key, std::unique_ptr<Room> room)
    : state_(state), id_(std::move(id)), key_(std::move(key)), room_(std::move(room)),
      seats_(std::size_t(state.Limits().connectionsPerRoom)), timer_(new Clock{boost::asio::steady_timer(state.Io())}),
      schedule_(TICK, ServerClock::now()) {}

LiveRoom::~LiveRoom() = default;

bool LiveRoom::IsKey(std::string_view given) const {
    if (given.size() != key_.size()) return false;
    unsigned char differ = 0;
    for (std::size_t i = 0; i < key_.size(); ++i) differ |= static_cast<unsigned char>(given[i] ^ key_[i]);
    return differ == 0;
}

ClientId LiveRoom::Join(const std::shared_ptr<ScreenLink>& session, bool mayPlay) {
    const ClientId client = room_->Join(mayPlay);
    sessions_[client] = session;
    session->Send(MakeFrame(room_->JoinedNotice()));
    Broadcast(MakeFrame(room_->PeopleNotice()));
    session->Send(MakeFrame(room_->JoinText()));
    return client;
}

void LiveRoom::Leave(ClientId client) {
    if (sessions_.erase(client) == 0) return;
    room_->Leave(client);
    if (!state_.Stopping()) Broadcast(MakeFrame(room_->PeopleNotice()));
}

RoomAnswer LiveRoom::Receive(ClientId client, std::string_view frame) {
    RoomAnswer answer = room_->Receive(client, frame);
    if (answer.mismatchAt)
        state_.Logged().Room(id_, "a screen's hash for tick " + std::to_string(*answer.mismatchAt) +
                                      " differs from the room's");
    return answer;
}

void LiveRoom::Broadcast(const Frame& frame) {
    // Sending may drop a screen, which changes the set.
    std::vector<std::shared_ptr<ScreenLink>> screens;
    for (const auto& [client, session] : sessions_)
        if (auto screen = session.lock()) screens.push_back(std::move(screen));
    for (const auto& screen : screens) screen->Send(frame);
}

void LiveRoom::Start() {
    schedule_ = TickSchedule(TICK, ServerClock::now());
    Schedule();
}

void LiveRoom::Stop() {
    stopped_ = true;
    timer_->timer.cancel();
}

void LiveRoom::Schedule() {
    timer_->timer.expires_at(schedule_.Due());
    timer_->timer.async_wait([self = shared_from_this()](const boost::system::error_code& ec) {
        if (!ec) self->OnTick();
    });
}

void LiveRoom::OnTick() {
    if (stopped_ || state_.Stopping()) return;
    const SinkState before = room_->RecordingState();
    Broadcast(MakeFrame(room_->Tick()));
    NoteRecording(before);
    const ServerTime now = ServerClock::now();
    ++state_.Counts().ticks;
    state_.Counts().lateTicks += schedule_.Sent(now);
    // A screen still shaking hands holds its seat: the room is not empty.
    if (idle_.Ends(seats_.Taken(), now)) return state_.Rooms().Close(id_);
    Schedule();
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
        return state_.Logged().Room(id_, "its recording cannot be written after tick " +
                                             std::to_string(room_->KeptTicks()) +
                                             "; the rest is held back until it can");
    case SinkState::Whole: return state_.Logged().Room(id_, "its recording is written again, whole");
    case SinkState::Lost: return NoteLoss();
    }
}

void LiveRoom::NoteLoss() {
    state_.Logged().Room(id_, "its recording is kept up to tick " + std::to_string(room_->KeptTicks()) +
                                  " only: the rest could not be written");
}

}  // namespace kestrel
