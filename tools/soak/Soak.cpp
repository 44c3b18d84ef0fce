#include "tools/soak/Soak.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

#include "model/BattlefieldFields.h"
#include "game/FrameTick.h"
#include "input/Keyboard.h"
#include "input/Pointer.h"

namespace kestrel::soak {
namespace {

// How often each kind of meddling comes, as one chance in so many ticks.
constexpr int MOVE_ODDS = 4;
constexpr int PRESS_ODDS = 60;
constexpr int RELEASE_ODDS = 90;
constexpr int RESIZE_ODDS = 800;

constexpr int MAX_WIDTH = 3000;
constexpr int MAX_HEIGHT = 2000;
constexpr int KEY_CODES = 65536;
constexpr int AIM_CHANGE_ODDS = 10;
constexpr int AIM_TRIES = 8;        // looking for a live tank to aim at
constexpr double AIM_JITTER = 15;   // the pick box reaches 20
constexpr double FAR_OFF = 1e6;     // a tank dragged off the desktop
constexpr double EXTREMES[] = {1e30, 3e38};  // near the end of a single's range

constexpr int MAX_HITS = 2;
constexpr int MAX_SHELL_TIMER = 24;
constexpr double MAX_SPEED = 3;  // an edge bounce; every other speed is lower
constexpr double ANY = std::numeric_limits<double>::max();  // finite is all that is asked

// A press with a button other than the left one, or a move with no tank
// dragged, may change the pointer depth and nothing else.
bool OnlyDepthChanged(Battlefield before, const Battlefield& after) {
    before.pointerDepth = after.pointerDepth;
    return before == after;
}

}  // namespace

Soak::Soak(SoakSettings settings)
    : settings_(settings),
      game_(GameRandom(settings.gameSeed, settings.liveGame ? GameRandom::Reseeding::FromClock
                                                            : GameRandom::Reseeding::KeepState),
            settings.liveGame ? GameOutput::CallsAndPicture : GameOutput::Calls),
      bf_(game_.Field()),
      canvas_(game_.DrawingCanvas()),
      events_{settings.eventSeed} {}


double Soak::Between(double lo, double hi) {
    return lo + (hi - lo) * std::ldexp(double(events_.Next() >> 11), -53);  // 53 bits over 2^53
}

int Soak::Below(int n) { return int(Between(0, n)); }

// Stops at the first broken rule, which ends the run.
std::string Soak::Meddle() {
    constexpr std::pair<PointerAct, int> POINTER_ODDS[] = {
        {PointerAct::Move, MOVE_ODDS}, {PointerAct::Down, PRESS_ODDS}, {PointerAct::Up, RELEASE_ODDS}};
    for (const auto& [act, odds] : POINTER_ODDS)
        if (Below(odds) == 0)
            if (std::string broken = UsePointer(act); !broken.empty()) return broken;
    if (Below(settings_.keyOdds) == 0) {
        const int code = Below(KEY_CODES);  // never Esc, which would end the run
        (void)game_.Key(std::uint16_t(code == ESC_CODE ? code + 1 : code));
    }
    if (Below(RESIZE_ODDS) == 0) {
        const int width = 1 + Below(MAX_WIDTH);
        game_.Resize(width, 1 + Below(MAX_HEIGHT));
    }
    return {};
}

// Mostly on or near one tank, so that drags and orders really happen; now and
// then anywhere on the canvas, far outside it, or near the ends of a single.
// Returns the rule the act broke, or "".
std::string Soak::UsePointer(PointerAct act) {
    if (Below(AIM_CHANGE_ODDS) == 0) aimedSlot_ = Below(SLOT_COUNT);
    for (int tries = 0; tries < AIM_TRIES && !IsLive(bf_, aimedSlot_); ++tries)
        aimedSlot_ = Below(SLOT_COUNT);
    const int where = Below(20);
    double x = 0, y = 0;
    if (where < 10) {
        x = bf_.tankX[aimedSlot_] + Between(-AIM_JITTER, AIM_JITTER);
        y = 0.5 * (bf_.tankY[aimedSlot_] + Between(-AIM_JITTER, AIM_JITTER)) +
            0.25 * canvas_.CanvasHeight();
    } else if (where < 17) {
        x = Between(0, canvas_.CanvasWidth());
        y = Between(0, canvas_.CanvasHeight());
    } else {
        const double reach = where < 19 ? FAR_OFF : EXTREMES[Below(2)];
        x = Between(-reach, reach);
        y = Between(-reach, reach);
    }
    const auto button = std::int16_t(1 + Below(3));
    const Battlefield before = bf_;
    if (act == PointerAct::Move) {
        game_.PointerMove(float(x), float(y));
        if (!before.dragging && !OnlyDepthChanged(before, bf_))
            return "a pointer move with no tank dragged changed more than the pointer depth";
    } else if (act == PointerAct::Up) {
        game_.PointerUp(button, float(x), float(y));
    } else {
        game_.PointerDown(button, float(x), float(y));
        drags_ += bf_.dragging && (!before.dragging || bf_.dragSlot != before.dragSlot);
        if (button != LEFT_BUTTON && !OnlyDepthChanged(before, bf_))
            return "a press of button " + std::to_string(button) + " changed more than the pointer depth";
    }
    return {};
}

// The first rule of the record that does not hold, described, or "".
std::string Soak::Check() const {
    std::ostringstream broken;
    const auto within = [&broken](double v, double lo, double hi, std::string_view name, int s = -1) {
        if (v >= lo && v <= hi) return true;  // false for NaN
        broken << name;
        if (s >= 0) broken << '[' << s << ']';
        broken << " = " << v;
        return false;
    };
    const Battlefield& b = bf_;
    bool ok = true;
    // Whatever the field: every real is finite, every slot index names a slot.
    ForEachField([&](auto field) {
        if (field.KIND == FieldKind::Int16 || field.KIND == FieldKind::Flag) return;  // ranges below
        const bool slot = field.KIND == FieldKind::Slot;
        for (int i = 0; ok && i < field.COUNT; ++i)
            ok = within(field.At(b, i), slot ? 0 : -ANY, slot ? LAST_SLOT : ANY, field.name,
                        field.PER_SLOT ? i : -1);
    });
    ok = ok && within(b.liveCount, 0, SLOT_COUNT, "liveCount");
    const double width = canvas_.CanvasWidth(), height = canvas_.CanvasHeight();
    for (int s = 0; ok && s < SLOT_COUNT; ++s) {
        // A live tank was driven, and kept on the field, or spawned this tick;
        // the far edges are compared in single precision.
        const bool live = IsLive(b, s);
        ok = within(b.tankHits[s], 0, MAX_HITS, "tankHits", s) &&
             within(b.shellTimer[s], 0, MAX_SHELL_TIMER, "shellTimer", s) &&
             within(b.tankSpeed[s], 0, MAX_SPEED, "tankSpeed", s) &&
             (!live || (within(float(b.tankX[s]), 0, width, "tankX", s) &&
                        within(float(b.tankY[s]), 0, height, "tankY", s)));
    }
    for (const CanvasCall& call : game_.Calls())
        for (float v : call.v) ok = ok && within(v, -ANY, ANY, "a canvas call coordinate");
    return broken.str();
}

std::uint64_t Soak::LongestBattle() const {
    return std::max(longestBattle_, ticks_ - battleStartTick_);
}

std::string Soak::Run(std::uint64_t ticks) {
    for (const std::uint64_t end = ticks_ + ticks; ticks_ < end;) {
        if (settings_.events)
            if (std::string broken = Meddle(); !broken.empty())
                return "before tick " + std::to_string(ticks_ + 1) + ": " + broken;
        const std::uint64_t battlesBefore = Battles();
        game_.Tick();
        ++ticks_;
        std::string broken = Check();
        if (Battles() != battlesBefore) {
            longestBattle_ = LongestBattle();
            battleStartTick_ = ticks_;
            // Every battle spawns at least slots 0 and 1, at rest.
            for (int s = 0; s <= 1; ++s)
                if (broken.empty() && (bf_.tankHits[s] != MAX_HITS || bf_.tankSpeed[s] != 0))
                    broken = "slot " + std::to_string(s) + " not fresh after a battle start";
        }
        game_.ClearCalls();
        if (!broken.empty()) return "tick " + std::to_string(ticks_) + ": " + broken;
    }
    return {};
}

}  // namespace kestrel::soak
