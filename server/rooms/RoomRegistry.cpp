#include "server/rooms/RoomRegistry.h"

#include "game/RoomId.h"
#include "server/disk/KeptRoom.h"
#include "server/base/Limits.h"
#include "server/rooms/LiveRoom.h"
#include "server/rooms/RandomId.h"
#include "server/rooms/RoomSize.h"

namespace kestrel {
namespace {

const Refusal COMING_BACK{Refused::ComingBack, "the room is coming back after a restart", RETRY_AFTER};
const Refusal NO_ID{Refused::ServerFull, "the server cannot draw a new room's id now", RETRY_AFTER};

Outcome<RoomStart> ReadSize(const std::string& body) {
    const Result<RoomSize> asked = ReadRoomSize(body, MAX_CANVAS_SIDE);
    if (!asked) return Refusal{Refused::BadRequest, asked.Why()};
    return RoomStart{.width = asked->width, .height = asked->height};
}

// On the builder: a start recording checked, and played through.
Built MakeFromRecording(const std::string& recording, const RoomKeeping& keeping, const NewRoom& made) {
    if (std::optional<std::string> refused = CheckStartRecording(recording)) return Failure{*std::move(refused)};
    auto file = std::make_unique<RoomRecordingSink>(UnmadeRecordingFile(keeping.data, made.id),
                                                    RoomRecordingFile(keeping.data, made.id), keeping.checkpoints);
    auto room = std::make_unique<Room>(GameRandom::FromClock(),
                                       RoomStart{.recording = recording, .checkpointTicks = keeping.checkpointTicks},
                                       std::move(file));
    return BuiltRoom{.room = std::move(room), .key = made.key};
}

// On the builder: a kept room read, and played through to where its file
// ends, from its checkpoint when that is good; or why it cannot come back
// (its files are then left as they are).
Built MakeKept(const RoomKeeping& keeping, const std::string& id) {
    Result<RoomToResume> read = ReadKeptRoom(keeping.data, id);
    if (!read) return Failure{read.Why()};
    RoomToResume& kept = *read;
    kept.start.checkpointTicks = keeping.checkpointTicks;
    BuiltRoom built{.room = nullptr, .key = kept.key, .listed = kept.listed, .damagedCheckpoint = kept.damagedCheckpoint};
    if (kept.start.checkpoint) built.fromCheckpoint = kept.start.checkpoint->tick;
    std::unique_ptr<RoomRecordingSink> file = KeptRecording(keeping.data, id, kept, keeping.checkpoints);
    if (!file) return Failure{"its damaged checkpoint cannot be removed"};
    built.room = std::make_unique<Room>(GameRandom::FromClock(), kept.start, std::move(file));
    return built;
}

}  // namespace

RoomKeeping RoomRegistry::Keeping() {
    return {.data = data_, .checkpoints = &checkpoints_,
            .checkpointTicks = std::uint64_t(host_.Limits().checkpointTicks)};
}

RoomRegistry::RoomRegistry(RoomsHost& host, boost::asio::io_context& io, std::string name, std::filesystem::path data)
    : host_(host), name_(std::move(name)), data_(std::move(data)), quota_(host.Limits().roomCreationsPerMinute),
      builder_(io) {}

// Only a room made counts against the address's quota.
void RoomRegistry::Create(RoomOrder order, ServerTime now, Created answer) {
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
    if (std::optional<Refusal> refused = Open(room, std::move(referee), order.listed))
        return answer(*std::move(refused));
    quota_.Count(order.address, now);
    answer(room);
}

// Rooms on their way count as rooms.
std::optional<Refusal> RoomRegistry::MayCreate(const RoomOrder& order, ServerTime now) {
    if (rooms_.size() + coming_.Count() >= std::size_t(host_.Limits().rooms))
        return Refusal{Refused::ServerFull, "the server has as many rooms as it takes", RETRY_AFTER};
    const auto onTheWay = makingFrom_.find(order.address);
    if (const std::optional<std::chrono::seconds> wait =
            quota_.Wait(order.address, now, onTheWay == makingFrom_.end() ? 0 : onTheWay->second))
        return Refusal{Refused::TooManyRooms, "too many rooms created from this address in the last minute", *wait};
    return std::nullopt;
}

// The kernel's random source may fail (seldom, and it may pass): the room
// is refused, and the server and its other rooms play on.
std::optional<NewRoom> RoomRegistry::Draw() const {
    std::optional<std::string> id = DrawRoomId(name_), key = RandomHexId();
    if (id && key) return NewRoom{*std::move(id), *std::move(key)};
    host_.ServerLog().Line("refused a new room: the system's random source cannot be read");
    return std::nullopt;
}

// The recording is checked and played on the builder; the room opens once back.
void RoomRegistry::Build(RoomOrder order, Created answer) {
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
void RoomRegistry::Made(const NewRoom& room, const RoomOrder& order, Built built, const Created& answer) {
    coming_.OrderDone();
    making_.erase(room.id);
    if (--makingFrom_[order.address] == 0) makingFrom_.erase(order.address);
    if (!built) return answer(Refusal{Refused::BadRequest, built.Why()});
    if (order.wanted && !order.wanted()) {
        built->room.reset();  // and with it its file, before the file goes
        std::error_code ignored;
        std::filesystem::remove(UnmadeRecordingFile(data_, room.id), ignored);
        return;
    }
    if (std::optional<Refusal> refused = Open(room, std::move(built->room), order.listed, true))
        return answer(*std::move(refused));
    quota_.Count(order.address, host_.Now());
    answer(room);
}

// Its record is on disk before anyone has its links, and a recording made
// under its unmade name takes the room's name after it. A room that cannot
// be kept from its start leaves no file: the disk is full, most likely,
// which another try or another server behind the balancer may not be.
std::optional<Refusal> RoomRegistry::Open(const NewRoom& made, std::unique_ptr<Room> referee, bool listed,
                                          bool fromRecording) {
    const std::filesystem::path file = RoomRecordingFile(data_, made.id);
    auto room = std::make_shared<LiveRoom>(*this, made.id, made.key, std::move(referee));
    const bool recorded =
        room->RecordingWhole() &&
        WriteRoomRecord(data_, made.id,
                        {.key = made.key, .width = room->Width(), .height = room->Height(), .listed = listed});
    if (!recorded || !room->SettleRecording()) {
        host_.ServerLog().Room(made.id, "not opened: its recording or its record cannot be written in " + data_.string());
        std::error_code ignored;
        for (const std::filesystem::path& left : {file, UnmadeRecordingFile(data_, made.id)})
            std::filesystem::remove(left, ignored);
        if (recorded) std::filesystem::remove(RoomRecordFile(data_, made.id), ignored);
        return Refusal{Refused::DiskFull, "the server cannot keep a new room on its disk now", RETRY_AFTER};
    }
    if (listed) room->List();
    room->Start();
    rooms_[made.id] = room;
    host_.ServerLog().Room(made.id, "opened, " + std::to_string(room->Width()) + " x " + std::to_string(room->Height()) +
                                      (fromRecording ? ", from a recording" : "") + (listed ? ", open to anyone" : ""));
    return std::nullopt;
}

std::vector<RoomListing> RoomRegistry::Listings() const {
    std::vector<RoomListing> listed;
    for (const auto& [id, room] : rooms_)
        if (room->Listed()) listed.push_back(room->Listing(name_));
    return listed;
}

Outcome<NewRoom> RoomRegistry::OpenToAnyone(std::string_view id, std::string_view key) {
    const Found found = Find(id);
    if (const Refusal* refused = std::get_if<Refusal>(&found)) return *refused;
    LiveRoom& room = *std::get<std::shared_ptr<LiveRoom>>(found);
    if (!room.IsKey(key)) return Refusal{Refused::WrongKey, "that is not the room's play key"};
    if (!room.Listed()) {
        if (!MarkRoomListed(data_, room.Id()))
            return Refusal{Refused::DiskFull, "the server cannot note on its disk that the room is open", RETRY_AFTER};
        room.List();
        host_.ServerLog().Room(room.Id(), "open to anyone");
        host_.PublicSeatsChanged();
    }
    return NewRoom{room.Id(), room.Key()};
}

Outcome<NewRoom> RoomRegistry::SeatIn(std::string_view id) const {
    const Found found = Find(id);
    if (const Refusal* refused = std::get_if<Refusal>(&found)) return *refused;
    const LiveRoom& room = *std::get<std::shared_ptr<LiveRoom>>(found);
    if (!room.Listed()) return Refusal{Refused::NoSuchRoom, "no such room"};
    if (!room.SeatFree()) return Refusal{Refused::SeatsTaken, "every seat of the room is taken"};
    return NewRoom{room.Id(), room.Key()};
}

RoomRegistry::Found RoomRegistry::Find(std::string_view id) const {
    if (std::optional<Refusal> elsewhere = Elsewhere(id)) return *std::move(elsewhere);
    const auto found = rooms_.find(id);
    if (found != rooms_.end()) return found->second;
    if (coming_.Expects(id)) return COMING_BACK;
    if (const auto lost = unresumed_.find(id); lost != unresumed_.end())
        return Refusal{Refused::NoSuchRoom, "no such room: it could not be resumed, as " + lost->second};
    const std::optional<RoomRecord> kept = KeptRoom(id);
    if (kept && kept->ended) return Refusal{Refused::RoomEnded, "the room has ended; its recording is kept"};
    return Refusal{Refused::NoSuchRoom, "no such room"};
}

void RoomRegistry::Reach(std::string_view id, RoomsComing::Waiter waiter) {
    if (Elsewhere(id) || !coming_.Expects(id)) return waiter(Find(id));
    coming_.Wait(id, std::move(waiter));
}

std::optional<Refusal> RoomRegistry::UnknownRoom(std::string_view id) const {
    if (std::optional<Refusal> elsewhere = Elsewhere(id)) return elsewhere;
    if (rooms_.contains(id) || coming_.Expects(id) || unresumed_.contains(id) || KeptRoom(id)) return std::nullopt;
    return Refusal{Refused::NoSuchRoom, "no such room"};
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
    const std::optional<std::string_view> home = OtherServer(id, name_);
    if (!home) return std::nullopt;
    return Refusal{Refused::OtherServer, "this room lives on server " + std::string(*home)};
}

// A room that is not playing but kept on disk (it ended, or could not be resumed).
std::optional<RoomRecord> RoomRegistry::KeptRoom(std::string_view id) const {
    if (!IsRoomId(id) || rooms_.contains(id)) return std::nullopt;
    Result<RoomRecord> kept = ReadRoomRecord(data_, id);
    if (!kept) return std::nullopt;
    return *std::move(kept);
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
    if (!MarkRoomEnded(data_, id)) host_.ServerLog().Room(id, "cannot mark it as ended; it is resumed at the next start");
    host_.ServerLog().Room(id, "ended after " + std::to_string(room->Ticks()) + " ticks");
    rooms_.erase(found);
}

void RoomRegistry::Resume() {
    for (const std::string& id : RemoveUnmadeRooms(data_))
        host_.ServerLog().Room(id, "removed the recording of a room the last stop cut short while it was made");
    for (const std::string& id : RemoveUnsavedCheckpoints(data_))
        host_.ServerLog().Room(id, "removed a checkpoint the last stop cut short while it was written");
    std::vector<std::string> ids;
    for (std::string& id : RoomsToResume(data_)) {
        if (std::optional<Refusal> elsewhere = Elsewhere(id))
            host_.ServerLog().Room(id, "not resumed: " + elsewhere->reason);
        else
            ids.push_back(std::move(id));
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
    if (built) {
        Reopen(id, *std::move(built));
    } else {
        host_.ServerLog().Room(id, "not resumed: " + built.Why());
        unresumed_[id] = built.Why();
    }
    for (RoomsComing::Waiter& waiter : coming_.Arrived(id)) waiter(Find(id));
}

void RoomRegistry::Reopen(const std::string& id, BuiltRoom made) {
    if (!made.damagedCheckpoint.empty()) host_.ServerLog().Room(id, made.damagedCheckpoint);
    auto room = std::make_shared<LiveRoom>(*this, id, made.key, std::move(made.room));
    if (made.listed) room->List();
    room->Start();
    rooms_[id] = room;
    const std::string from =
        made.fromCheckpoint ? ", from its checkpoint at tick " + std::to_string(*made.fromCheckpoint) : "";
    host_.ServerLog().Room(id, "resumed at tick " + std::to_string(room->Ticks()) + " (" +
                                 std::to_string(made.took.count()) + " ms" + from + ")");
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
        counts.seats += room->SeatsTaken();
        counts.mismatches += room->Mismatches();
        counts.hashesChecked += room->HashesChecked();
        if (!room->RecordingWhole()) counts.unwritable.push_back(id);
    }
}

}  // namespace kestrel
