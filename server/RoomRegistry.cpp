#include "server/RoomRegistry.h"

#include "game/RoomId.h"
#include "server/LiveLimits.h"
#include "server/LiveRoom.h"
#include "server/RandomId.h"
#include "server/Requests.h"
#include "server/ServerState.h"

namespace kestrel {
namespace {

std::string Milliseconds(ServerTime since) {
    return std::to_string(
        std::chrono::duration_cast<std::chrono::milliseconds>(ServerClock::now() - since).count());
}

}  // namespace

RoomRegistry::RoomRegistry(ServerState& state, std::filesystem::path data)
    : state_(state), data_(std::move(data)), quota_(state.Limits().roomCreationsPerMinute) {}

// Only a room made counts against the address's quota.
Outcome<NewRoom> RoomRegistry::Create(const RoomOrder& order, ServerTime now) {
    if (std::optional<Refusal> refused = MayCreate(order, now)) return *std::move(refused);
    Outcome<RoomStart> start = ReadOrder(order);
    if (Refusal* refused = std::get_if<Refusal>(&start)) return std::move(*refused);
    const NewRoom room{DrawRoomId(state_.Name()), RandomHexId()};
    if (std::optional<Refusal> refused = Open(room, std::get<RoomStart>(start))) return *std::move(refused);
    quota_.Count(order.address, now);
    return room;
}

std::optional<Refusal> RoomRegistry::MayCreate(const RoomOrder& order, ServerTime now) {
    if (rooms_.size() >= std::size_t(state_.Limits().rooms))
        return Refusal{RefusalKind::Full, "the server has as many rooms as it takes", RETRY_AFTER};
    if (const std::optional<std::chrono::seconds> wait = quota_.Wait(order.address, now))
        return Refusal{RefusalKind::TooMany, "too many rooms created from this address in the last minute", *wait};
    return std::nullopt;
}

Outcome<RoomStart> RoomRegistry::ReadOrder(const RoomOrder& order) const {
    RoomStart start;
    std::optional<std::string> refused;
    if (order.recording) {
        start.recording = order.body;
        refused = CheckStartRecording(start.recording);
    } else {
        const RoomRequest asked = ReadRoomRequest(order.body, MAX_CANVAS_SIDE);
        start.width = asked.size.width, start.height = asked.size.height;
        refused = asked.error;
    }
    if (refused) return Refusal{RefusalKind::BadRequest, *refused};
    return start;
}

// Its record is on disk before anyone has its links. A room that cannot be
// kept from its start leaves no file: the disk is full, most likely, which
// another try or another server behind the balancer may not be.
std::optional<Refusal> RoomRegistry::Open(const NewRoom& made, const RoomStart& start) {
    const std::filesystem::path file = RoomRecordingFile(data_, made.id);
    auto room = std::make_shared<LiveRoom>(state_, made.id, made.key, start,
                                           std::make_unique<RecordingFile>(file, false));
    if (!room->RecordingWhole() ||
        !WriteRoomRecord(data_, made.id, {.key = made.key, .width = room->Width(), .height = room->Height()})) {
        state_.Logged().Room(made.id, "not opened: its recording or its record cannot be written in " + data_.string());
        std::error_code ignored;
        std::filesystem::remove(file, ignored);
        return Refusal{RefusalKind::Full, "the server cannot keep a new room on its disk now", RETRY_AFTER};
    }
    room->Start();
    rooms_[made.id] = room;
    state_.Logged().Room(made.id, "opened, " + std::to_string(room->Width()) + " x " + std::to_string(room->Height()) +
                                      (start.recording.empty() ? "" : ", from a recording"));
    return std::nullopt;
}

Outcome<std::shared_ptr<LiveRoom>> RoomRegistry::Find(std::string_view id) const {
    if (std::optional<Refusal> elsewhere = Elsewhere(id)) return *std::move(elsewhere);
    const auto found = rooms_.find(id);
    if (found != rooms_.end()) return found->second;
    const std::optional<RoomRecord> kept = KeptRoom(id);
    if (kept && kept->ended) return Refusal{RefusalKind::Gone, "the room has ended; its recording is kept"};
    return Refusal{RefusalKind::NotFound, "no such room"};
}

std::optional<Refusal> RoomRegistry::Knows(std::string_view id) const {
    if (std::optional<Refusal> elsewhere = Elsewhere(id)) return elsewhere;
    if (rooms_.contains(id) || KeptRoom(id)) return std::nullopt;
    return Refusal{RefusalKind::NotFound, "no such room"};
}

// Playing or ended, a room's recording is its file: a playing room's is
// whole up to its last room second whenever the server's thread opens it,
// since the room appends to it on that thread alone.
Outcome<std::filesystem::path> RoomRegistry::RecordingPath(std::string_view id) const {
    if (std::optional<Refusal> elsewhere = Elsewhere(id)) return *std::move(elsewhere);
    return RoomRecordingFile(data_, id);
}

// A room this server does not hold, whatever its disk keeps: it is never
// looked for, nor passed on.
std::optional<Refusal> RoomRegistry::Elsewhere(std::string_view id) const {
    const std::optional<std::string_view> home = OtherServer(id, state_.Name());
    if (!home) return std::nullopt;
    return Refusal{RefusalKind::NotFound, "this room lives on server " + std::string(*home)};
}

// A room that is not playing but kept on disk (it ended, or could not be resumed).
std::optional<RoomRecord> RoomRegistry::KeptRoom(std::string_view id) const {
    if (!IsRoomId(id) || rooms_.contains(id)) return std::nullopt;
    return ReadRoomRecord(data_, id).room;
}

void RoomRegistry::Close(const std::string& id) {
    const auto found = rooms_.find(id);
    if (found == rooms_.end()) return;
    const std::shared_ptr<LiveRoom> room = found->second;
    closedMismatches_ += room->Mismatches();
    closedHashesChecked_ += room->HashesChecked();
    room->Stop();
    // Its recording is whole before the room is marked as ended.
    room->Flush();
    if (!MarkRoomEnded(data_, id)) state_.Logged().Room(id, "cannot mark it as ended; it is resumed at the next start");
    state_.Logged().Room(id, "ended after " + std::to_string(room->Ticks()) + " ticks");
    rooms_.erase(found);
}

void RoomRegistry::Resume() {
    for (const std::string& id : RoomsInFolder(data_)) ResumeRoom(id);
    for (auto& [id, room] : rooms_) room->Start();
}

void RoomRegistry::ResumeRoom(const std::string& id) {
    if (std::optional<Refusal> elsewhere = Elsewhere(id))
        return state_.Logged().Room(id, "not resumed: " + elsewhere->reason);
    const ReadRoom read = ReadRoomRecord(data_, id);
    if (!read.room) return state_.Logged().Room(id, "not resumed: " + read.error);
    if (read.room->ended) return;
    const ServerTime began = ServerClock::now();
    const std::filesystem::path file = RoomRecordingFile(data_, id);
    std::optional<std::string> recording = ReadWholeLines(file, MAX_RECORDING_BYTES);
    const std::string refused = !recording ? "its recording cannot be read, or is longer than a replay reads"
                                           : ReadRecordingText(*recording).error;
    if (!refused.empty()) return state_.Logged().Room(id, "not resumed: " + refused);
    const RoomStart start{.width = read.room->width, .height = read.room->height,
                          .recording = std::move(*recording), .resumed = true};
    auto room = std::make_shared<LiveRoom>(state_, id, read.room->key, start, std::make_unique<RecordingFile>(file, true));
    rooms_[id] = room;
    state_.Logged().Room(id, "resumed at tick " + std::to_string(room->Ticks()) + " (" + Milliseconds(began) + " ms)");
}

void RoomRegistry::StopAll() {
    for (auto& [id, room] : rooms_) {
        room->Flush();
        room->Stop();
    }
    rooms_.clear();
}

void RoomRegistry::AddTo(StatusCounts& counts) const {
    counts.rooms += rooms_.size();
    counts.mismatches += closedMismatches_;
    counts.hashesChecked += closedHashesChecked_;
    for (const auto& [id, room] : rooms_) {
        counts.connections += room->Screens();
        counts.mismatches += room->Mismatches();
        counts.hashesChecked += room->HashesChecked();
        if (!room->RecordingWhole()) counts.unwritable.push_back(id);
    }
}

}  // namespace kestrel
