#pragma once
// The rooms of this server: it makes them (within the rooms' capacity and
// each address's quota), finds them, closes those left empty, and resumes
// at start those its data folder keeps. It answers in the rooms' own terms,
// a room or a refusal with its reason; the HTTP side makes statuses of them.

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "game/Room.h"
#include "server/Refusal.h"
#include "server/RoomFiles.h"
#include "server/TimeRules.h"

namespace kestrel {

class LiveRoom;
class ServerState;
struct StatusCounts;

// What a POST /rooms asks for: a size, or a recording to start from.
struct RoomOrder {
    std::string address;   // of the client, for its quota
    bool recording = false;  // the body is a recording, not a size
    std::string body;
};

// A room just made, and what its links carry.
struct NewRoom {
    std::string id, key;
};

class RoomRegistry {
public:
    RoomRegistry(ServerState& state, std::filesystem::path data);

    Outcome<NewRoom> Create(const RoomOrder& order, ServerTime now);
    // A playing room; a kept room that ended is Gone.
    Outcome<std::shared_ptr<LiveRoom>> Find(std::string_view id) const;
    // None when the room is playing or kept on disk.
    std::optional<Refusal> Knows(std::string_view id) const;
    // The file of a room's recording, playing or kept.
    Outcome<std::filesystem::path> RecordingPath(std::string_view id) const;
    // The room ends: its recording is whole, its record marked, its clock stopped.
    void Close(const std::string& id);
    // Every kept room that had not ended goes on where its file ends.
    void Resume();
    // The server stops: every room's recording is brought up to date, and
    // the rooms go on at the next start.
    void StopAll();
    void AddTo(StatusCounts& counts) const;

private:
    std::optional<Refusal> MayCreate(const RoomOrder& order, ServerTime now);
    Outcome<RoomStart> ReadOrder(const RoomOrder& order) const;
    std::optional<Refusal> Open(const NewRoom& room, const RoomStart& start);
    void ResumeRoom(const std::string& id);
    std::optional<RoomRecord> KeptRoom(std::string_view id) const;
    std::optional<Refusal> Elsewhere(std::string_view id) const;

    ServerState& state_;
    std::filesystem::path data_;
    std::map<std::string, std::shared_ptr<LiveRoom>, std::less<>> rooms_;
    std::uint64_t closedMismatches_ = 0, closedHashesChecked_ = 0;
    CreationQuota quota_;
};

}  // namespace kestrel
