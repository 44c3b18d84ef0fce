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

#include "bench/PlayedRoom.h"
#include "game/Room.h"
#include "server/RoomFiles.h"

namespace kestrel {
namespace {

using bench::RoomKind;

constexpr std::uint64_t ROOM_TICKS = 100'000;

// The file a room leaves after ROOM_TICKS ticks, as a kill would leave it;
// removed at exit.
struct KilledRoomFile {
    KilledRoomFile(const std::string& name, RoomKind kind)
        : path(std::filesystem::temp_directory_path() / ("kestrel-resume-" + name + "-" + std::to_string(getpid()))) {
        Room room(GameRandom(bench::ROOM_SEED), bench::StartOf(kind), std::make_unique<RecordingFile>(path, false));
        bench::PlayUpTo(room, kind, ROOM_TICKS);
    }
    ~KilledRoomFile() { std::filesystem::remove(path); }
    std::filesystem::path path;
};

void Resume(benchmark::State& state, const std::filesystem::path& file) {
    for (auto _ : state) {
        std::optional<std::string> recording = ReadWholeLines(file, MAX_RECORDING_BYTES);
        Room room(GameRandom(bench::ROOM_SEED), {.recording = std::move(*recording), .resumed = true},
                  std::make_unique<RecordingFile>(file, true));
        benchmark::DoNotOptimize(room.Ticks());
        if (room.Ticks() != ROOM_TICKS) state.SkipWithError("the room did not resume where its file ends");
    }
    state.counters["bytes"] = double(std::filesystem::file_size(file));
    state.counters["ticks/s"] = benchmark::Counter(double(ROOM_TICKS), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ResumeOrdinaryRoom(benchmark::State& state) {
    static const KilledRoomFile file("ordinary", RoomKind::Ordinary);
    Resume(state, file.path);
}

void BM_ResumeBusiestRoom(benchmark::State& state) {
    static const KilledRoomFile file("busiest", RoomKind::Busiest);
    Resume(state, file.path);
}

BENCHMARK(BM_ResumeOrdinaryRoom)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ResumeBusiestRoom)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace kestrel
