// How soon a room plays again after its server was killed: its recording
// file of 100,000 ticks (about 42 minutes of battle) read back and played
// through by a resumed Room, up to where it takes its next live tick. Two
// rooms: ordinary battles with a player who drags a tank and wipes the
// field every half minute, and the busy battle whose tanks never fall, the
// heaviest there is.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "bench/BusyBattle.h"
#include "game/Room.h"
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

// The file a room leaves after ROOM_TICKS ticks, as a kill would leave it;
// removed at exit.
struct KilledRoomFile {
    KilledRoomFile(const std::string& name, const RoomStart& start, bool played)
        : path(std::filesystem::temp_directory_path() / ("kestrel-resume-" + name + "-" + std::to_string(getpid()))) {
        Room room(GameRandom(SEED), start, std::make_unique<RecordingFile>(path, false));
        const ClientId player = room.Join(true);
        while (room.Ticks() < ROOM_TICKS) {
            if (played) Play(room, player, room.Ticks() + 1);
            room.Tick();
        }
    }
    ~KilledRoomFile() { std::filesystem::remove(path); }
    std::filesystem::path path;
};

void Resume(benchmark::State& state, const std::filesystem::path& file) {
    for (auto _ : state) {
        std::optional<std::string> recording = ReadWholeLines(file, MAX_RECORDING_BYTES);
        Room room(GameRandom(SEED), {.recording = std::move(*recording), .resumed = true},
                  std::make_unique<RecordingFile>(file, true));
        benchmark::DoNotOptimize(room.Ticks());
        if (room.Ticks() != ROOM_TICKS) state.SkipWithError("the room did not resume where its file ends");
    }
    state.counters["bytes"] = double(std::filesystem::file_size(file));
    state.counters["ticks/s"] = benchmark::Counter(double(ROOM_TICKS), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ResumeOrdinaryRoom(benchmark::State& state) {
    static const KilledRoomFile file("ordinary", {}, true);
    Resume(state, file.path);
}

void BM_ResumeBusiestRoom(benchmark::State& state) {
    static const KilledRoomFile file("busiest", {.recording = bench::EndlessBusyRecording()}, false);
    Resume(state, file.path);
}

BENCHMARK(BM_ResumeOrdinaryRoom)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ResumeBusiestRoom)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace kestrel
