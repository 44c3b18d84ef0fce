// The cost of one tick of the busiest battle, with and without the picture,
// and with the game recording it.

#include <benchmark/benchmark.h>

#include <string>

#include "bench/BusyBattle.h"
#include "game/FrameTick.h"
#include "game/Game.h"
#include "model/Random.h"
#include "render/PixelCanvas.h"
#include "render/TankGlyph.h"

namespace kestrel::bench {
namespace {

// Every iteration starts again from the same battle and the same random
// state, so each measured tick is the busy one (the copy is ~3 KB and
// costs well under a microsecond).
void TimeBusyTicks(benchmark::State& state, Canvas& canvas) {
    const Battlefield start = BusyBattle();
    Seats seats;
    Battlefield bf = start;
    GameRandom random(BATTLE_SEED);
    for (auto _ : state) {
        bf = start;
        random.SetState(BATTLE_SEED);
        FrameTick(bf, seats, canvas, random);
        benchmark::DoNotOptimize(bf);
    }
}

void BM_BusyTickNullCanvas(benchmark::State& state) {
    BlankCanvas canvas = NullCanvas();
    TimeBusyTicks(state, canvas);
}
BENCHMARK(BM_BusyTickNullCanvas)->Unit(benchmark::kMicrosecond);

void BM_BusyTickRaster(benchmark::State& state) {
    PixelCanvas canvas(FIELD_WIDTH, FIELD_HEIGHT);
    TimeBusyTicks(state, canvas);
    benchmark::DoNotOptimize(canvas.Bytes());
}
BENCHMARK(BM_BusyTickRaster)->Unit(benchmark::kMicrosecond);

// The same busy tick through the game object, which records every tick it
// runs: against BM_BusyTickRaster, the cost of keeping a recording.
void BM_BusyTickRecorded(benchmark::State& state) {
    const Battlefield start = BusyBattle();
    Game game{GameRandom(BATTLE_SEED)};
    for (auto _ : state) {
        game.Field() = start;
        game.RandomStream().SetState(BATTLE_SEED);
        game.Tick();
        benchmark::DoNotOptimize(game.Field());
    }
    benchmark::DoNotOptimize(game.Recording().PendingTicks());
}
BENCHMARK(BM_BusyTickRecorded)->Unit(benchmark::kMicrosecond);

// The same busy tick as a room's referee runs it: the rules alone, each
// tick's lines gathered for the screens that follow.
void BM_BusyTickReferee(benchmark::State& state) {
    const Battlefield start = BusyBattle();
    Game game{GameRandom(BATTLE_SEED), GameOutput::Nothing};
    std::string frame;
    game.Observe([&frame](const RecordedStep& step) { frame += WriteStep(step); });
    for (auto _ : state) {
        game.Field() = start;
        game.RandomStream().SetState(BATTLE_SEED);
        game.Tick();
        frame.clear();
        benchmark::DoNotOptimize(game.Field());
    }
}
BENCHMARK(BM_BusyTickReferee)->Unit(benchmark::kMicrosecond);

// One glyph drawn and erased: 22 canvas calls.
void BM_TankGlyphRaster(benchmark::State& state) {
    PixelCanvas canvas(FIELD_WIDTH, FIELD_HEIGHT);
    for (auto _ : state) {
        DrawTank(canvas, 300, 200, 0.4f, 1.1f, BLACK);
        DrawTank(canvas, 300, 200, 0.4f, 1.1f, WHITE);
    }
}
BENCHMARK(BM_TankGlyphRaster)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kestrel::bench
