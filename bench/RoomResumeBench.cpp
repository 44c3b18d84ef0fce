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

#include "bench/BusyBattle.h"
#include "game/Room.h"
#include "server/Checkpoint.h"
#include "server/KeptRoom.h"
#include "server/RoomFiles.h"

namespace kestrel {
namespace {

using Kind = RecordedStep::Kind;

constexpr std::uint64_t ROOM_TICKS = 100'000;
constexpr std::uint64_t SEED = 20240611;
// The player's round: a key, then a drag.
constexpr std::uint64_t ROUND_TICKS = 30 * LIVE_TICKS_PER_SECOND;
constexpr std::uint64_t KEY_AT = 100, DRAG_FROM = 150, DRAG_TO = 180;

void Play(Room& room, ClientId player, std::uint64_t tick) {
    const std::uint64_t phase = tick % ROUND_TICKS;
    if (phase == KEY_AT) room.Receive(player, WriteStep({.kind = Kind::Key, .number = 'a'}));
    if (phase == DRAG_FROM) room.Receive(player, WriteStep({.kind = Kind::Down, .button = 1, .x = 250, .y = 200}));
    if (phase > DRAG_FROM && phase < DRAG_TO)
        room.Receive(player, WriteStep({.kind = Kind::Move, .x = float(250 + phase - DRAG_FROM), .y = 200}));
    if (phase == DRAG_TO) room.Receive(player, WriteStep({.kind = Kind::Up, .button = 1, .x = 280, .y = 210}));
}

// The files a room leaves after ROOM_TICKS ticks, as a kill would leave
// them, its checkpoint written; removed at exit.
struct KilledRoomFiles {
    KilledRoomFiles(const std::string& name, const RoomStart& start, bool played)
        : folder(std::filesystem::temp_directory_path() / ("kestrel-resume-" + name + "-" + std::to_string(getpid()))) {
        std::filesystem::create_directory(folder);
        (void)WriteRoomRecord(folder, id, {.key = id, .width = START_WIDTH, .height = START_HEIGHT});
        CheckpointWriter writer;
        Room room(GameRandom(SEED), start, std::make_unique<RecordingFile>(RoomRecordingFile(folder, id), false, &writer));
        const ClientId player = room.Join(true);
        while (room.Ticks() < ROOM_TICKS) {
            if (played) Play(room, player, room.Ticks() + 1);
            room.Tick();
        }
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
        Outcome<RoomToResume> read = ReadKeptRoom(files.folder, files.id);
        const RoomToResume& kept = std::get<RoomToResume>(read);
        Room room(GameRandom(SEED), kept.start, std::make_unique<RecordingFile>(recording, true));
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
    static const KilledRoomFiles files("ordinary", {}, true);
    return files;
}
const KilledRoomFiles& Busiest() {
    static const KilledRoomFiles files("busiest", {.recording = bench::EndlessBusyRecording()}, false);
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
