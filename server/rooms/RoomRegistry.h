#pragma once
// The rooms of this server: it makes them (within the rooms' capacity and
// each address's quota), finds them, closes those left empty, and resumes
// at start those its data folder keeps, one at a time while the server
// answers. Rooms from a recording and kept rooms are built off the
// server's thread (RoomBuilder); a screen that asks for a kept room still
// to come back waits for it. It answers in the rooms' own terms, a room or
// a refusal with its reason; the HTTP side makes statuses of them.

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "game/Room.h"
#include "server/base/Counts.h"
#include "server/disk/Checkpoint.h"
#include "server/base/Refusal.h"
#include "server/rooms/RoomBuilder.h"
#include "server/rooms/RoomHost.h"
#include "server/disk/RoomFiles.h"
#include "server/directory/Directory.h"
#include "server/rooms/RoomsComing.h"
#include "server/rooms/TimeRules.h"

namespace kestrel {

class LiveRoom;

// What a POST /rooms asks for: a size, or a recording to start from.
struct RoomOrder {
    std::string address;   // of the client, for its quota
    bool recording = false;  // the body is a recording, not a size
    bool listed = false;     // open to anyone from its start
    std::string body;
    // Whether the client still waits for the room, once it is built; none: it does.
    std::function<bool()> wanted = {};
};

// A room just made, and what its links carry.
struct NewRoom {
    std::string id, key;
};

// What a room's files need, as the builder's jobs take it along: the data
// folder, the checkpoints' writer and how often a room takes one.
struct RoomKeeping {
    std::filesystem::path data;
    CheckpointWriter* checkpoints = nullptr;
    std::uint64_t checkpointTicks = 0;
    std::unique_ptr<RoomRecordingSink> File(const std::string& id, bool resumed) const {
        return std::make_unique<RoomRecordingSink>(RoomRecordingFile(data, id), resumed, checkpoints);
    }
};

// The rooms' host: what they ask of the server goes on to the registry's
// own, and a room left empty is closed here.
class RoomRegistry : public RoomHost {
public:
    using Created = std::function<void(Outcome<NewRoom>)>;
    using Found = RoomsComing::Found;

    // The rooms of the server named `name` ("" for none), kept in `data`;
    // rooms are built on a thread of their own and handed back through `io`.
    RoomRegistry(RoomsHost& host, boost::asio::io_context& io, std::string name, std::filesystem::path data);

    // Answers once the room is made or refused: at once for a size, once
    // built for a recording.
    void Create(RoomOrder order, ServerTime now, Created answer);
    // A playing room; a kept room that ended is Gone.
    Found Find(std::string_view id) const;
    // The room as Find answers it, once a kept room still to come back is back.
    void Reach(std::string_view id, RoomsComing::Waiter waiter);
    // Why room `id` is unknown here (another server's, or none at all);
    // none when it is playing, coming back or kept on disk.
    std::optional<Refusal> UnknownRoom(std::string_view id) const;
    // The file of a room's recording, playing or kept.
    Outcome<std::filesystem::path> RecordingPath(std::string_view id) const;
    // The room ends: its recording is whole, its record marked, its clock stopped.
    void Close(const std::string& id);
    // Every kept room that had not ended goes on where its file ends: they
    // come back one at a time, in the order of their ids.
    void Resume();
    // The public rooms playing here, as the directory lists them.
    std::vector<RoomListing> Listings() const;
    // Room `id`, whose play key is `key`, is open to anyone from now on:
    // listed, and after a restart too. Answers the room, or why not.
    Outcome<NewRoom> OpenToAnyone(std::string_view id, std::string_view key);
    // A public room's links for a player who asks for a seat in it: none
    // for a room that is not public (a private room is not named to
    // anyone without its key), or one whose seats are all taken.
    Outcome<NewRoom> SeatIn(std::string_view id) const;
    // The server stops: no room is built past the one being built, every
    // room's recording is brought up to date, and the rooms go on at the next start.
    void StopAll();
    void AddTo(StatusCounts& counts) const;

    const Log& ServerLog() const override { return host_.ServerLog(); }
    const ServerLimits& Limits() const override { return host_.Limits(); }
    ServerTime Now() const override { return host_.Now(); }
    void StartTicking(std::weak_ptr<Ticking> room) override { host_.StartTicking(std::move(room)); }
    bool Stopping() const override { return host_.Stopping(); }
    void Emptied(const std::string& id) override { Close(id); }
    void PublicSeatsChanged() override { host_.PublicSeatsChanged(); }

private:
    std::optional<Refusal> MayCreate(const RoomOrder& order, ServerTime now);
    std::optional<NewRoom> Draw() const;
    void Build(RoomOrder order, Created answer);
    void Made(const NewRoom& room, const RoomOrder& order, Built built, const Created& answer);
    std::optional<Refusal> Open(const NewRoom& room, std::unique_ptr<Room> built, bool listed,
                                bool fromRecording = false);
    RoomKeeping Keeping();
    void ResumeNext();
    void Resumed(const std::string& id, Built built);
    void Reopen(const std::string& id, BuiltRoom made);
    std::optional<RoomRecord> KeptRoom(std::string_view id) const;
    std::optional<Refusal> Elsewhere(std::string_view id) const;

    RoomsHost& host_;
    const std::string name_;
    std::filesystem::path data_;
    // Before the rooms, so that it outlives them.
    CheckpointWriter checkpoints_;
    std::map<std::string, std::shared_ptr<LiveRoom>, std::less<>> rooms_;
    // Kept rooms that could not come back, and why.
    std::map<std::string, std::string, std::less<>> unresumed_;
    // Rooms made from a recording, until they open: their files go if the server stops first.
    std::map<std::string, std::filesystem::path> making_;
    std::map<std::string, std::size_t> makingFrom_;  // rooms on their way, by the address that asked
    std::uint64_t closedMismatches_ = 0, closedHashesChecked_ = 0;
    CreationQuota quota_;
    RoomsComing coming_;
    RoomBuilder builder_;
};

}  // namespace kestrel
