#pragma once
// A room as the room benchmarks play it in fast time: ordinary battles with
// a player who wipes the field and drags a tank every half minute, or the
// busy battle whose tanks never fall, the heaviest there is.

#include <cstdint>
#include <string>

#include "bench/BusyBattle.h"
#include "game/Room.h"

namespace kestrel::bench {

enum class RoomKind { Ordinary, Busiest };

inline constexpr std::uint64_t ROOM_SEED = 20240611;
// The player's round: a key, then a drag.
inline constexpr std::uint64_t ROUND_TICKS = 30 * LIVE_TICKS_PER_SECOND;
inline constexpr std::uint64_t KEY_AT = 100, DRAG_FROM = 150, DRAG_TO = 180;

inline RoomStart StartOf(RoomKind kind) {
    if (kind == RoomKind::Busiest) return {.recording = EndlessBusyRecording()};
    return {};
}

// What the player of an ordinary room sends before tick `tick`.
inline void Play(Room& room, ClientId player, std::uint64_t tick) {
    using Kind = RecordedStep::Kind;
    const std::uint64_t phase = tick % ROUND_TICKS;
    if (phase == KEY_AT) room.Receive(player, WriteStep({.kind = Kind::Key, .number = 'a'}));
    if (phase == DRAG_FROM) room.Receive(player, WriteStep({.kind = Kind::Down, .button = 1, .x = 250, .y = 200}));
    if (phase > DRAG_FROM && phase < DRAG_TO)
        room.Receive(player, WriteStep({.kind = Kind::Move, .x = float(250 + phase - DRAG_FROM), .y = 200}));
    if (phase == DRAG_TO) room.Receive(player, WriteStep({.kind = Kind::Up, .button = 1, .x = 280, .y = 210}));
}

// Plays `room` on to `ticks` ticks as a room of its kind.
inline void PlayUpTo(Room& room, RoomKind kind, std::uint64_t ticks) {
    const ClientId player = room.Join(kind == RoomKind::Ordinary).client;
    while (room.Ticks() < ticks) {
        if (kind == RoomKind::Ordinary) Play(room, player, room.Ticks() + 1);
        room.Tick();
    }
    room.Leave(player);
}

}  // namespace kestrel::bench
