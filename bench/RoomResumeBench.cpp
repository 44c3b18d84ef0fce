// How soon a room plays again after its server was killed: its recording
// file of 100,000 ticks (about 42 minutes of battle) read back and played
// through by a resumed Room, up to where it takes its next live tick. Two
// rooms: ordinary battles with a player who drags a tank and wipes the
// field every half minute, and the busy battle whose tanks never fall, the
// heaviest there is. Each is read back as the server reads a kept room
// (ReadKeptRoom): from its last checkpoint (kept every
// CHECKPOINT_EVERY_TICKS) and the recording after it, and, its checkpoint
// removed, from the whole recording.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "bench/PlayedRoom.h"
#include "game/Room.h"
#include "server/disk/Checkpoint.h"
#include "server/disk/KeptRoom.h"
#include "server/disk/RoomFiles.h"

namespace kestrel {
namespace {

using bench::RoomKind;

constexpr std::uint64_t ROOM_TICKS = 100'000;

// The files a room leaves after ROOM_TICKS ticks, as a kill would leave
// them, its checkpoint written; removed at exit.
struct KilledRoomFiles {
    KilledRoomFiles(const std::string& name, RoomKind kind)
        : folder(std::filesystem::temp_directory_path() / ("kestrel-resume-" + name + "-" + std::to_string(getpid()))) {
        std::filesystem::create_directory(folder);
        (void)WriteRoomRecord(folder, id, {.key = id, .width = START_WIDTH, .height = START_HEIGHT});
        CheckpointWriter writer;
        Room room(GameRandom(bench::ROOM_SEED), bench::StartOf(kind),
                  std::make_unique<RoomRecordingSink>(RoomRecordingFile(folder, id), false, &writer));
        bench::PlayUpTo(room, kind, ROOM_TICKS);
        writer.Finish();
        checkpoint = std::filesystem::file_size(CheckpointBeside(RoomRecordingFile(folder, id)));
    }
    ~KilledRoomFiles() { std::filesystem::remove_all(folder); }
    std::filesystem::path folder;
    std::string id = std::string(32, 'a');
    std::uintmax_t checkpoint = 0;
};

void Resume(benchmark::State& state, const KilledRoomFiles& files, bool fromCheckpoint) {
    const std::filesystem::path recording = RoomRecordingFile(files.folder, files.id);
    const std::filesystem::path checkpoint = CheckpointBeside(recording), aside = checkpoint.string() + ".aside";
    if (!fromCheckpoint) std::filesystem::rename(checkpoint, aside);
    for (auto _ : state) {
        Result<RoomToResume> read = ReadKeptRoom(files.folder, files.id);
        const RoomToResume& kept = *read;
        Room room(GameRandom(bench::ROOM_SEED), kept.start, std::make_unique<RoomRecordingSink>(recording, true));
        benchmark::DoNotOptimize(room.Ticks());
        if (room.Ticks() != ROOM_TICKS) state.SkipWithError("the room did not resume where its file ends");
        if (kept.start.checkpoint.has_value() != fromCheckpoint) state.SkipWithError("the checkpoint was not used");
    }
    if (!fromCheckpoint) std::filesystem::rename(aside, checkpoint);
    state.counters["bytes"] = double(std::filesystem::file_size(recording));
    state.counters["checkpoint bytes"] = double(files.checkpoint);
    state.counters["ticks/s"] = benchmark::Counter(double(ROOM_TICKS), benchmark::Counter::kIsIterationInvariantRate);
}

const KilledRoomFiles& Ordinary() {
    static const KilledRoomFiles files("ordinary", RoomKind::Ordinary);
    return files;
}
const KilledRoomFiles& Busiest() {
    static const KilledRoomFiles files("busiest", RoomKind::Busiest);
    return files;
}

void BM_ResumeOrdinaryRoom(benchmark::State& state) { Resume(state, Ordinary(), false); }
void BM_ResumeBusiestRoom(benchmark::State& state) { Resume(state, Busiest(), false); }
void BM_ResumeOrdinaryRoomFromCheckpoint(benchmark::State& state) { Resume(state, Ordinary(), true); }
void BM_ResumeBusiestRoomFromCheckpoint(benchmark::State& state) { Resume(state, Busiest(), true); }

BENCHMARK(BM_ResumeOrdinaryRoom)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ResumeBusiestRoom)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ResumeOrdinaryRoomFromCheckpoint)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ResumeBusiestRoomFromCheckpoint)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace kestrel
