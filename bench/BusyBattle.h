#pragma once
// The heaviest tick the game can meet: all 51 slots live, spread over the
// field, each with a valid target and a shell in flight; and a canvas that
// draws nothing, to time the simulation alone.

#include <cstdint>
#include <limits>
#include <string>

#include "model/Battlefield.h"
#include "game/Game.h"
#include "game/Recording.h"
#include "render/BlankCanvas.h"

namespace kestrel::bench {

// The battle is fought on a field of the size a game starts with.
inline constexpr int FIELD_WIDTH = START_WIDTH;
inline constexpr int FIELD_HEIGHT = START_HEIGHT;
inline constexpr std::uint64_t BATTLE_SEED = 20240611;

// The field the busy battle is timed on when nothing is drawn.
inline BlankCanvas NullCanvas() { return BlankCanvas(FIELD_WIDTH, FIELD_HEIGHT); }

// Tanks on a 9 x 6 grid (51 of its 54 cells), each aiming at the next slot,
// with shell timers 2..24 so that every shell flies in the next tick and
// none bursts.
inline Battlefield BusyBattle() {
    constexpr int COLUMNS = 9;
    constexpr int ROWS = 6;
    constexpr int FIRST_TIMER = 2;
    constexpr int TIMER_SPREAD = 23;  // timers 2..24
    Battlefield bf;
    for (int s = 0; s < SLOT_COUNT; ++s) {
        const int column = s % COLUMNS;
        const int row = s / COLUMNS;
        bf.tankX[s] = (column + 0.5) * FIELD_WIDTH / COLUMNS;
        bf.tankY[s] = (row + 0.5) * FIELD_HEIGHT / ROWS;
        bf.tankHeading[s] = 0.1f * float(s);
        bf.turretAngle[s] = 0.13f * float(s);
        bf.tankHits[s] = 2;
        bf.tankSpeed[s] = 1.5f;
        bf.tankTarget[s] = Slot((s + 1) % SLOT_COUNT);
        bf.shellX[s] = bf.tankX[s] + 20;
        bf.shellY[s] = bf.tankY[s] - 10;
        bf.shellHeading[s] = 0.7f * float(s);
        bf.shellTimer[s] = std::int16_t(FIRST_TIMER + s % TIMER_SPREAD);
    }
    return bf;
}

// The busy battle as a recording that starts from it, with tanks too tough
// ever to fall: a room started from it stays at its busiest for good.
inline std::string EndlessBusyRecording() {
    Battlefield bf = BusyBattle();
    bf.tankHits.fill(std::numeric_limits<std::int16_t>::max());
    Recorder recording;
    recording.Start(BATTLE_SEED, FIELD_WIDTH, FIELD_HEIGHT, &bf);
    return recording.Text();
}

}  // namespace kestrel::bench
