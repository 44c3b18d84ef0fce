// kestrel-busy-tick [ROUNDS]: the busiest tick timed with nothing but the
// standard library, so that one program runs natively and as WebAssembly
// under node and the two can be set side by side. Prints the median over the
// rounds of the time a tick takes on a canvas that draws nothing and on the
// pixel picture, in microseconds.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/BusyBattle.h"
#include "game/FrameTick.h"
#include "model/Random.h"
#include "render/PixelCanvas.h"

namespace kestrel::bench {
namespace {

constexpr int TICKS_A_ROUND = 2000;
constexpr int DEFAULT_ROUNDS = 9;

// Each tick starts again from the same busy battle and random state.
double MicrosecondsATick(Canvas& canvas) {
    const Battlefield start = BusyBattle();
    GameRandom random(BATTLE_SEED);
    Seats seats;
    Battlefield bf;
    const auto began = std::chrono::steady_clock::now();
    for (int i = 0; i < TICKS_A_ROUND; ++i) {
        bf = start;
        random.SetState(BATTLE_SEED);
        FrameTick(bf, seats, canvas, random);
    }
    const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - began;
    return took.count() / TICKS_A_ROUND;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace
}  // namespace kestrel::bench

int main(int argc, char** argv) {
    using namespace kestrel::bench;
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : DEFAULT_ROUNDS;
    kestrel::BlankCanvas nothing = NullCanvas();
    kestrel::PixelCanvas picture(FIELD_WIDTH, FIELD_HEIGHT);
    std::vector<double> null, pixels;
    for (int i = 0; i < rounds; ++i) {
        null.push_back(MicrosecondsATick(nothing));
        pixels.push_back(MicrosecondsATick(picture));
    }
    std::printf("busy tick, null canvas: %.2f us\nbusy tick, pixel picture: %.2f us\n", Median(null),
                Median(pixels));
    return 0;
}
