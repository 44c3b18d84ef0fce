#include "server/rooms/RoomRegistry.h"

#include "game/RoomId.h"
#include "server/disk/KeptRoom.h"
#include "server/base/Limits.h"
#include "server/rooms/LiveRoom.h"
#include "server/rooms/RandomId.h"
#include "server/net/Requests.h"
#include "server/net/ServerState.h"

namespace kestrel {
namespace {

const Refusal COMING_BACK{RefusalKind::Full, "the room is coming back after a restart", RETRY_AFTER};
const Refusal NO_ID{RefusalKind::Full, "the server cannot draw a new room's id now", RETRY_AFTER};

Outcome<RoomStart> ReadSize(const std::string& body) {
    const RoomRequest asked = ReadRoomRequest(body, MAX_CANVAS_SIDE);
    if (asked.error) return Refusal{RefusalKind::BadRequest, *asked.error};
    return RoomStart{.width = asked.size.width, .height = asked.size.height};
}

// On the builder: a start recording checked, and played through.
Built MakeFromRecording(const std::string& recording, const RoomKeeping& keeping, const NewRoom& made) {
    if (std::optional<std::string> refused = CheckStartRecording(recording))
        return Refusal{RefusalKind::BadRequest, *std::move(refused)};
    auto file = std::make_unique<RoomRecordingSink>(UnmadeRecordingFile(keeping.data, made.id), false,
                                                    keeping.checkpoints);
    RoomRecordingSink* unmade = file.get();
    auto room = std::make_unique<Room>(GameRandom::FromClock(),
                                       RoomStart{.recording = recording, .checkpointTicks = keeping.checkpointTicks},
                                       std::move(file));
    return BuiltRoom{.room = std::move(room), .key = made.key, .unmade = unmade};
}

// On the builder: a kept room read, and played through to where its file
// ends, from its checkpoint when that is good. An ended room is Gone; one
// that cannot come back is left as it is.
Built MakeKept(const RoomKeeping& keeping, const std::string& id) {
    Outcome<RoomToResume> read = ReadKeptRoom(keeping.data, id);
    if (Refusal* refused = std::get_if<Refusal>(&read)) return std::move(*refused);
    RoomToResume& kept = std::get<RoomToResume>(read);
    kept.start.checkpointTicks = keeping.checkpointTicks;
    BuiltRoom built{.room = nullptr, .key = kept.key, .damagedCheckpoint = kept.damagedCheckpoint};
    if (kept.start.checkpoint) built.fromCheckpoint = kept.start.checkpoint->tick;
    std::unique_ptr<RoomRecordingSink> file = KeptRecording(keeping.data, id, kept, keeping.checkpoints);
    if (!file) return Refusal{RefusalKind::Broken, "its damaged checkpoint cannot be removed"};
    built.room = std::make_unique<Room>(GameRandom::FromClock(), kept.start, std::move(file));
    return built;
}

}  // namespace

RoomKeeping RoomRegistry::Keeping() {
    return {.data = data_, .checkpoints = &checkpoints_,
            .checkpointTicks = std::uint64_t(state_.Limits().checkpointTicks)};
}

RoomRegistry::RoomRegistry(ServerState& state, std::filesystem::path data)
    : state_(state), data_(std::move(data)), quota_(state.Limits().roomCreationsPerMinute), builder_(state.Io()) {}

// Only a room made counts against the address's quota.
void RoomRegistry::Create(RoomOrder order, ServerTime now, Answer answer) {
    if (std::optional<Refusal> refused = MayCreate(order, now)) return answer(*std::move(refused));
    if (order.recording) return Build(std::move(order), std::move(answer));
    const Outcome<RoomStart> start = ReadSize(order.body);
    if (const Refusal* refused = std::get_if<Refusal>(&start)) return answer(*refused);
    const std::optional<NewRoom> drawn = Draw();
    if (!drawn) return answer(NO_ID);
    const NewRoom& room = *drawn;
    RoomStart sized = std::get<RoomStart>(start);
    sized.checkpointTicks = Keeping().checkpointTicks;
    auto referee = std::make_unique<Room>(GameRandom::FromClock(), sized, Keeping().File(room.id, false));
    if (std::optional<Refusal> refused = Open(room, std::move(referee))) return answer(*std::move(refused));
    quota_.Count(order.address, now);
    answer(room);
}

// Rooms on their way count as rooms.
std::optional<Refusal> RoomRegistry::MayCreate(const RoomOrder& order, ServerTime now) {
    if (rooms_.size() + coming_.Count() >= std::size_t(state_.Limits().rooms))
        return Refusal{RefusalKind::Full, "the server has as many rooms as it takes", RETRY_AFTER};
    const auto onTheWay = makingFrom_.find(order.address);
    if (const std::optional<std::chrono::seconds> wait =
            quota_.Wait(order.address, now, onTheWay == makingFrom_.end() ? 0 : onTheWay->second))
        return Refusal{RefusalKind::TooMany, "too many rooms created from this address in the last minute", *wait};
    return std::nullopt;
}

// The kernel's random source may fail (seldom, and it may pass): the room
// is refused, and the server and its other rooms play on.
std::optional<NewRoom> RoomRegistry::Draw() const {
    std::optional<std::string> id = DrawRoomId(state_.Name()), key = RandomHexId();
    if (id && key) return NewRoom{*std::move(id), *std::move(key)};
    state_.Logged().Line("refused a new room: the system's random source cannot be read");
    return std::nullopt;
}

// The recording is checked and played on the builder; the room opens once back.
void RoomRegistry::Build(RoomOrder order, Answer answer) {
    const std::optional<NewRoom> drawn = Draw();
    if (!drawn) return answer(NO_ID);
    const NewRoom room = *drawn;
    const std::filesystem::path file = UnmadeRecordingFile(data_, room.id);
    coming_.OrderTaken();
    making_[room.id] = file;
    ++makingFrom_[order.address];
    auto recording = std::make_shared<const std::string>(std::move(order.body));
    builder_.Add([recording, keeping = Keeping(), room] { return MakeFromRecording(*recording, keeping, room); },
                 [this, room, order = std::move(order), answer = std::move(answer)](Built built) {
                     Made(room, order, std::move(built), answer);
                 });
}

// A room whose client has gone meanwhile is not made: nobody has its links.
void RoomRegistry::Made(const NewRoom& room, const RoomOrder& order, Built built, const Answer& answer) {
    coming_.OrderDone();
    making_.erase(room.id);
    if (--makingFrom_[order.address] == 0) makingFrom_.erase(order.address);
    if (const Refusal* refused = std::get_if<Refusal>(&built)) return answer(*refused);
    if (order.wanted && !order.wanted()) {
        built = Refusal{RefusalKind::Gone, "its client has gone"};  // the built room and its file closed
        std::error_code ignored;
        std::filesystem::remove(UnmadeRecordingFile(data_, room.id), ignored);
        return;
    }
    BuiltRoom& made = std::get<BuiltRoom>(built);
    if (std::optional<Refusal> refused = Open(room, std::move(made.room), made.unmade)) return answer(*std::move(refused));
    quota_.Count(order.address, ServerClock::now());
    answer(room);
}

// Its record is on disk before anyone has its links, and a recording made
// under its unmade name takes the room's name after it. A room that cannot
// be kept from its start leaves no file: the disk is full, most likely,
// which another try or another server behind the balancer may not be.
std::optional<Refusal> RoomRegistry::Open(const NewRoom& made, std::unique_ptr<Room> referee, RoomRecordingSink* unmade) {
    const std::filesystem::path file = RoomRecordingFile(data_, made.id);
    auto room = std::make_shared<LiveRoom>(state_, made.id, made.key, std::move(referee));
    const bool recorded = room->RecordingWhole() &&
                          WriteRoomRecord(data_, made.id, {.key = made.key, .width = room->Width(), .height = room->Height()});
    if (!recorded || (unmade && !unmade->MoveTo(file))) {
        state_.Logged().Room(made.id, "not opened: its recording or its record cannot be written in " + data_.string());
        std::error_code ignored;
        for (const std::filesystem::path& left : {file, UnmadeRecordingFile(data_, made.id)})
            std::filesystem::remove(left, ignored);
        if (recorded) std::filesystem::remove(RoomRecordFile(data_, made.id), ignored);
        return Refusal{RefusalKind::Full, "the server cannot keep a new room on its disk now", RETRY_AFTER};
    }
    room->Start();
    rooms_[made.id] = room;
    state_.Logged().Room(made.id, "opened, " + std::to_string(room->Width()) + " x " + std::to_string(room->Height()) +
                                      (unmade ? ", from a recording" : ""));
    return std::nullopt;
}

RoomRegistry::Found RoomRegistry::Find(std::string_view id) const {
    if (std::optional<Refusal> elsewhere = Elsewhere(id)) return *std::move(elsewhere);
    const auto found = rooms_.find(id);
    if (found != rooms_.end()) return found->second;
    if (coming_.Expects(id)) return COMING_BACK;
    if (const auto lost = unresumed_.find(id); lost != unresumed_.end())
        return Refusal{RefusalKind::NotFound, "no such room: it could not be resumed, as " + lost->second};
    const std::optional<RoomRecord> kept = KeptRoom(id);
    if (kept && kept->ended) return Refusal{RefusalKind::Gone, "the room has ended; its recording is kept"};
    return Refusal{RefusalKind::NotFound, "no such room"};
}

void RoomRegistry::Reach(std::string_view id, RoomsComing::Waiter waiter) {
    if (Elsewhere(id) || !coming_.Expects(id)) return waiter(Find(id));
    coming_.Wait(id, std::move(waiter));
}

std::optional<Refusal> RoomRegistry::Knows(std::string_view id) const {
    if (std::optional<Refusal> elsewhere = Elsewhere(id)) return elsewhere;
    if (rooms_.contains(id) || coming_.Expects(id) || unresumed_.contains(id) || KeptRoom(id)) return std::nullopt;
    return Refusal{RefusalKind::NotFound, "no such room"};
}

// Playing or ended, a room's recording is its file: a playing room's is
// whole up to its last room second whenever the server's thread opens it,
// since the room appends to it on that thread alone. A room coming back is
// its builder's until it is back.
Outcome<std::filesystem::path> RoomRegistry::RecordingPath(std::string_view id) const {
    if (std::optional<Refusal> elsewhere = Elsewhere(id)) return *std::move(elsewhere);
    if (coming_.Expects(id)) return COMING_BACK;
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
    for (const std::string& id : RemoveUnmadeRooms(data_))
        state_.Logged().Room(id, "removed the recording of a room the last stop cut short while it was made");
    for (const std::string& id : RemoveUnsavedCheckpoints(data_))
        state_.Logged().Room(id, "removed a checkpoint the last stop cut short while it was written");
    std::vector<std::string> ids;
    for (std::string& id : RoomsToResume(data_)) {
        if (std::optional<Refusal> elsewhere = Elsewhere(id)) state_.Logged().Room(id, "not resumed: " + elsewhere->reason);
        else ids.push_back(std::move(id));
    }
    coming_.Expect(ids);
    ResumeNext();
}

// One kept room at a time, so that a room made from a recording meanwhile
// waits for one room at most.
void RoomRegistry::ResumeNext() {
    const std::optional<std::string> id = coming_.Next();
    if (!id) return;
    builder_.Add([keeping = Keeping(), id = *id] { return MakeKept(keeping, id); },
                 [this, id = *id](Built built) {
                     Resumed(id, std::move(built));
                     ResumeNext();
                 });
}

// The room plays again from now; the screens that waited for it are served.
void RoomRegistry::Resumed(const std::string& id, Built built) {
    if (const Refusal* refused = std::get_if<Refusal>(&built); refused && refused->kind != RefusalKind::Gone) {
        state_.Logged().Room(id, "not resumed: " + refused->reason);
        unresumed_[id] = refused->reason;
    } else if (BuiltRoom* made = std::get_if<BuiltRoom>(&built)) {
        if (!made->damagedCheckpoint.empty()) state_.Logged().Room(id, made->damagedCheckpoint);
        auto room = std::make_shared<LiveRoom>(state_, id, made->key, std::move(made->room));
        room->Start();
        rooms_[id] = room;
        const std::string from =
            made->fromCheckpoint ? ", from its checkpoint at tick " + std::to_string(*made->fromCheckpoint) : "";
        state_.Logged().Room(id, "resumed at tick " + std::to_string(room->Ticks()) + " (" +
                                     std::to_string(made->took.count()) + " ms" + from + ")");
    }
    for (RoomsComing::Waiter& waiter : coming_.Arrived(id)) waiter(Find(id));
}

// The playing rooms first: waiting for the room being built must not put
// their last second at the mercy of a second signal.
void RoomRegistry::StopAll() {
    for (auto& [id, room] : rooms_) {
        room->Flush();
        room->Stop();
    }
    rooms_.clear();
    builder_.Stop();
    coming_.Forget();
    // A room from a recording that never opened leaves no file behind.
    for (const auto& [id, file] : making_) {
        std::error_code ignored;
        std::filesystem::remove(file, ignored);
    }
    making_.clear();
    makingFrom_.clear();
    // The checkpoints still waiting are written before the server goes.
    checkpoints_.Finish();
}

void RoomRegistry::AddTo(StatusCounts& counts) const {
    counts.rooms += rooms_.size();
    counts.resuming += coming_.Resuming();
    counts.mismatches += closedMismatches_;
    counts.hashesChecked += closedHashesChecked_;
    counts.checkpoints += checkpoints_.Written();
    counts.checkpointsFailed += checkpoints_.Failed();
    for (const auto& [id, room] : rooms_) {
        counts.connections += room->Screens();
        counts.mismatches += room->Mismatches();
        counts.hashesChecked += room->HashesChecked();
        if (!room->RecordingWhole()) counts.unwritable.push_back(id);
    }
}

}  // namespace kestrel
