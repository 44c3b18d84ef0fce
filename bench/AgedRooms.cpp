// Kept rooms as a server leaves them after days of battle, made in fast
// time: the record, the recording and whatever else the server's own files
// keep beside them, written by the server's own code as the room plays.
// Copies of the room follow under new ids, for a folder of many old rooms.
//
// usage: kestrel-aged-rooms FOLDER ordinary|busiest TICKS [COPIES]
// Prints the ids of the rooms it made, one a line.

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>

#include "bench/PlayedRoom.h"
#include "server/disk/Checkpoint.h"
#include "server/rooms/RandomId.h"
#include "server/disk/RoomFiles.h"

namespace kestrel {
namespace {

using bench::RoomKind;

// A kept room of `ticks` ticks; answers its id.
std::string MakeRoom(const std::filesystem::path& folder, RoomKind kind, std::uint64_t ticks) {
    const std::string id = DrawRoomId("").value();
    CheckpointWriter checkpoints;
    {
        Room room(GameRandom(bench::ROOM_SEED), bench::StartOf(kind),
                  std::make_unique<RoomRecordingSink>(RoomRecordingFile(folder, id), false, &checkpoints));
        bench::PlayUpTo(room, kind, ticks);
        room.Flush();
        if (!WriteRoomRecord(folder, id, {.key = RandomHexId().value(), .width = room.Referee().Width(),
                                          .height = room.Referee().Height()}))
            throw std::runtime_error("cannot write the room's record in " + folder.string());
    }
    checkpoints.Finish();  // the room's files are complete
    return id;
}

// Every file of room `id` again under a new id; answers it.
std::string CopyRoom(const std::filesystem::path& folder, const std::string& id) {
    const std::string copy = DrawRoomId("").value();
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(id + "."))
            std::filesystem::copy_file(entry.path(), folder / (copy + name.substr(id.size())));
    }
    return copy;
}

int Run(int argc, char** argv) {
    if (argc < 4 || argc > 5) {
        std::cerr << "usage: kestrel-aged-rooms FOLDER ordinary|busiest TICKS [COPIES]\n";
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    const std::string_view kindName = argv[2];
    if (kindName != "ordinary" && kindName != "busiest") {
        std::cerr << "kestrel-aged-rooms: a room is ordinary or busiest, not " << kindName << "\n";
        return 2;
    }
    const RoomKind kind = kindName == "busiest" ? RoomKind::Busiest : RoomKind::Ordinary;
    const std::uint64_t ticks = std::stoull(argv[3]);
    const int copies = argc == 5 ? std::stoi(argv[4]) : 0;
    std::filesystem::create_directories(folder);
    const std::string id = MakeRoom(folder, kind, ticks);
    std::cout << id << "\n";
    for (int i = 0; i < copies; ++i) std::cout << CopyRoom(folder, id) << "\n";
    return 0;
}

}  // namespace
}  // namespace kestrel

int main(int argc, char** argv) {
    try {
        return kestrel::Run(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "kestrel-aged-rooms: " << e.what() << "\n";
        return 1;
    }
}
