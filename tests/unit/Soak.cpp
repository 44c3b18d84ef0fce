#include "Soak.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "core/FrameTick.h"
#include "input/Keyboard.h"
#include "input/Pointer.h"

namespace kestrel::soak {
namespace {

// How often each kind of meddling comes, as one chance in so many ticks.
constexpr int MOVE_ODDS = 4;
constexpr int PRESS_ODDS = 60;
constexpr int RELEASE_ODDS = 90;
constexpr int KEY_ODDS = 4000;
constexpr int RESIZE_ODDS = 800;

constexpr int MAX_WIDTH = 3000;
constexpr int MAX_HEIGHT = 2000;
constexpr int KEY_CODES = 65536;
constexpr int AIM_CHANGE_ODDS = 10;  // the pointer keeps to one slot for a while
constexpr int AIM_TRIES = 8;          // looking for a live tank to aim at
constexpr double AIM_JITTER = 15;    // the pick box reaches 20
constexpr float FAR_OFF = 1e6f;
constexpr float EXTREMES[] = {1e30f, 3e38f};

constexpr int MAX_HITS = 2;
constexpr int MAX_SHELL_TIMER = 24;
constexpr float MAX_SPEED = 3;  // an edge bounce; every other speed is lower

enum PointerKind { DOWN, MOVE, UP };

bool IsSlot(int s) { return s >= 0 && s < SLOT_COUNT; }

bool Finite(double v) { return std::isfinite(v); }

// The first entry of a table that fails `ok`, described, or "".
template <typename T, typename Ok>
std::string FirstBad(const char* name, const PerSlot<T>& table, Ok ok) {
    for (int s = 0; s < SLOT_COUNT; ++s) {
        if (ok(table[s])) continue;
        std::ostringstream out;
        out << name << "[" << s << "] = " << +table[s];
        return out.str();
    }
    return {};
}

std::string Bad(const char* name, double value) {
    std::ostringstream out;
    out << name << " = " << value;
    return out.str();
}

}  // namespace

Soak::Soak(SoakSettings settings)
    : settings_(settings), replay_(settings.gameSeed), events_{settings.eventSeed} {}

double Soak::Uniform() { return double(events_.Next() >> 11) / 9007199254740992.0; }

int Soak::Below(int n) { return int(Uniform() * n); }

void Soak::Meddle() {
    if (Below(MOVE_ODDS) == 0) PointerEvent(MOVE);
    if (Below(PRESS_ODDS) == 0) PointerEvent(DOWN);
    if (Below(RELEASE_ODDS) == 0) PointerEvent(UP);
    if (Below(KEY_ODDS) == 0) {
        std::uint16_t code = std::uint16_t(Below(KEY_CODES));
        if (code == ESC_CODE) ++code;
        (void)KeyPressed(bf_, canvas_, code);
    }
    if (Below(RESIZE_ODDS) == 0) {
        const int width = 1 + Below(MAX_WIDTH);
        canvas_.Resize(float(width), float(1 + Below(MAX_HEIGHT)));
    }
}

// Mostly on or near a tank, so that drags and orders really happen; now and
// then anywhere on the canvas, far outside it, or at the ends of a single.
void Soak::PointerEvent(int kind) {
    if (Below(AIM_CHANGE_ODDS) == 0) aimedSlot_ = Below(SLOT_COUNT);
    for (int tries = 0; tries < AIM_TRIES && !IsLive(bf_, aimedSlot_); ++tries)
        aimedSlot_ = Below(SLOT_COUNT);
    const int where = Below(20);
    float x = 0, y = 0;
    if (where < 10) {
        x = float(bf_.tankX[aimedSlot_] + (Uniform() * 2 - 1) * AIM_JITTER);
        y = float(0.5 * (bf_.tankY[aimedSlot_] + (Uniform() * 2 - 1) * AIM_JITTER) +
                  0.25 * canvas_.CanvasHeight());
    } else if (where < 17) {
        x = float(Uniform() * canvas_.CanvasWidth());
        y = float(Uniform() * canvas_.CanvasHeight());
    } else {
        const float reach = where < 19 ? FAR_OFF : EXTREMES[Below(2)];
        x = float((Uniform() * 2 - 1)) * reach;
        y = float((Uniform() * 2 - 1)) * reach;
    }
    const std::int16_t button = std::int16_t(1 + Below(3));
    switch (kind) {
        case DOWN: {
            const Slot before = bf_.dragging ? bf_.dragSlot : Slot(-1);
            PointerDown(bf_, canvas_, button, 0, x, y);
            if (bf_.dragging && bf_.dragSlot != before) ++drags_;
            break;
        }
        case MOVE: PointerMove(bf_, canvas_, 0, 0, x, y); break;
        default: PointerUp(bf_, canvas_, button, 0, x, y); break;
    }
}

std::string Soak::Check() const {
    const auto slot = [](auto s) { return IsSlot(s); };
    const auto finite = [](auto v) { return Finite(v); };
    const auto hits = [](auto h) { return h >= 0 && h <= MAX_HITS; };
    const auto timer = [](auto t) { return t >= 0 && t <= MAX_SHELL_TIMER; };
    const auto speed = [](float v) { return v >= 0 && v <= MAX_SPEED; };  // false for NaN
    for (std::string broken :
         {FirstBad("tankTarget", bf_.tankTarget, slot), FirstBad("tankHits", bf_.tankHits, hits),
          FirstBad("shellTimer", bf_.shellTimer, timer),
          FirstBad("tankSpeed", bf_.tankSpeed, speed),
          FirstBad("tankX", bf_.tankX, finite), FirstBad("tankY", bf_.tankY, finite),
          FirstBad("tankHeading", bf_.tankHeading, finite),
          FirstBad("turretAngle", bf_.turretAngle, finite), FirstBad("shellX", bf_.shellX, finite),
          FirstBad("shellY", bf_.shellY, finite),
          FirstBad("shellHeading", bf_.shellHeading, finite)})
        if (!broken.empty()) return broken;
    if (!IsSlot(bf_.currentTank)) return Bad("currentTank", bf_.currentTank);
    if (!IsSlot(bf_.dragSlot)) return Bad("dragSlot", bf_.dragSlot);
    if (bf_.liveCount < 0 || bf_.liveCount > SLOT_COUNT) return Bad("liveCount", bf_.liveCount);
    const std::pair<const char*, double> working[] = {
        {"lastLiveSpeed", bf_.lastLiveSpeed}, {"aimAngle", bf_.aimAngle},
        {"targetRange", bf_.targetRange},     {"turretError", bf_.turretError},
        {"hullError", bf_.hullError}};
    for (const auto& [name, value] : working)
        if (!Finite(value)) return Bad(name, value);
    // A live tank was driven (and kept on the field) or spawned in this tick.
    for (int s = 0; s < SLOT_COUNT; ++s) {
        const bool onField = bf_.tankX[s] >= 0 && float(bf_.tankX[s]) <= canvas_.CanvasWidth() &&
                             bf_.tankY[s] >= 0 && float(bf_.tankY[s]) <= canvas_.CanvasHeight();
        if (IsLive(bf_, s) && !onField) return "live tank " + std::to_string(s) + " off the field";
    }
    for (const CanvasCall& call : canvas_.Calls())
        for (float v : call.v)
            if (!Finite(v)) return Bad("a canvas call coordinate", v);
    return {};
}

std::uint64_t Soak::LongestBattle() const {
    return std::max(longestBattle_, ticks_ - battleStartTick_);
}

std::string Soak::Run(std::uint64_t ticks) {
    for (std::uint64_t i = 0; i < ticks; ++i) {
        if (settings_.events) Meddle();
        const std::uint64_t battlesBefore = Battles();
        FrameTick(bf_, canvas_, random_);
        ++ticks_;
        std::string broken = Check();
        if (Battles() != battlesBefore) {
            longestBattle_ = std::max(longestBattle_, ticks_ - battleStartTick_);
            battleStartTick_ = ticks_;
            // Every battle spawns at least slots 0 and 1, at rest.
            for (int s = 0; s <= 1 && broken.empty(); ++s)
                if (bf_.tankHits[s] != MAX_HITS || bf_.tankSpeed[s] != 0)
                    broken = "slot " + std::to_string(s) + " not fresh after a battle start";
        }
        canvas_.ClearCalls();
        if (!broken.empty()) return "tick " + std::to_string(ticks_) + ": " + broken;
    }
    return {};
}

}  // namespace kestrel::soak
