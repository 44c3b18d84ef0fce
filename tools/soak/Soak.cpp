#include "tools/soak/Soak.h"

#include <algorithm>
#include <cmath>
#include <limits>
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
constexpr int AIM_CHANGE_ODDS = 10;
constexpr int AIM_TRIES = 8;        // looking for a live tank to aim at
constexpr double AIM_JITTER = 15;   // the pick box reaches 20
constexpr double FAR_OFF = 1e6;     // a tank dragged off the desktop
constexpr double EXTREMES[] = {1e30, 3e38};  // near the end of a single's range

constexpr int MAX_HITS = 2;
constexpr int MAX_SHELL_TIMER = 24;
constexpr double MAX_SPEED = 3;  // an edge bounce; every other speed is lower
constexpr double ANY = std::numeric_limits<double>::max();  // finite is all that is asked

}  // namespace

Soak::Soak(SoakSettings settings)
    : settings_(settings), random_(settings.gameSeed), events_{settings.eventSeed} {}

double Soak::Between(double lo, double hi) {
    return lo + (hi - lo) * std::ldexp(double(events_.Next() >> 11), -53);  // 53 bits over 2^53
}

int Soak::Below(int n) { return int(Between(0, n)); }

void Soak::Meddle() {
    if (Below(MOVE_ODDS) == 0) UsePointer(PointerAct::Move);
    if (Below(PRESS_ODDS) == 0) UsePointer(PointerAct::Down);
    if (Below(RELEASE_ODDS) == 0) UsePointer(PointerAct::Up);
    if (Below(KEY_ODDS) == 0) {
        const int code = Below(KEY_CODES);  // never Esc, which would end the run
        (void)KeyPressed(bf_, canvas_, std::uint16_t(code == ESC_CODE ? code + 1 : code));
    }
    if (Below(RESIZE_ODDS) == 0) {
        const int width = 1 + Below(MAX_WIDTH);
        canvas_.Resize(float(width), float(1 + Below(MAX_HEIGHT)));
    }
}

// Mostly on or near one tank, so that drags and orders really happen; now and
// then anywhere on the canvas, far outside it, or near the ends of a single.
void Soak::UsePointer(PointerAct act) {
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
    if (act == PointerAct::Move) {
        PointerMove(bf_, canvas_, 0, 0, float(x), float(y));
    } else if (act == PointerAct::Up) {
        PointerUp(bf_, canvas_, button, 0, float(x), float(y));
    } else {
        const Slot before = bf_.dragging ? bf_.dragSlot : Slot(-1);
        PointerDown(bf_, canvas_, button, 0, float(x), float(y));
        drags_ += bf_.dragging && bf_.dragSlot != before;
    }
}

// The first rule of the record that does not hold, described, or "".
std::string Soak::Check() const {
    std::ostringstream broken;
    const auto within = [&broken](double v, double lo, double hi, const char* name, int s = -1) {
        if (v >= lo && v <= hi) return true;  // false for NaN
        broken << name;
        if (s >= 0) broken << '[' << s << ']';
        broken << " = " << v;
        return false;
    };
    const double width = canvas_.CanvasWidth(), height = canvas_.CanvasHeight();
    const Battlefield& b = bf_;
    bool ok = within(b.currentTank, 0, LAST_SLOT, "currentTank") &&
              within(b.dragSlot, 0, LAST_SLOT, "dragSlot") &&
              within(b.liveCount, 0, SLOT_COUNT, "liveCount") &&
              within(b.lastLiveSpeed, -ANY, ANY, "lastLiveSpeed") &&
              within(b.aimAngle, -ANY, ANY, "aimAngle") &&
              within(b.targetRange, -ANY, ANY, "targetRange") &&
              within(b.turretError, -ANY, ANY, "turretError") &&
              within(b.hullError, -ANY, ANY, "hullError");
    for (int s = 0; ok && s < SLOT_COUNT; ++s) {
        // A live tank was driven, and kept on the field, or spawned this tick;
        // the far edges are compared in single precision.
        const bool live = IsLive(b, s);
        const double x = live ? float(b.tankX[s]) : b.tankX[s];
        const double y = live ? float(b.tankY[s]) : b.tankY[s];
        ok = within(b.tankTarget[s], 0, LAST_SLOT, "tankTarget", s) &&
             within(b.tankHits[s], 0, MAX_HITS, "tankHits", s) &&
             within(b.shellTimer[s], 0, MAX_SHELL_TIMER, "shellTimer", s) &&
             within(b.tankSpeed[s], 0, MAX_SPEED, "tankSpeed", s) &&
             within(x, live ? 0 : -ANY, live ? width : ANY, "tankX", s) &&
             within(y, live ? 0 : -ANY, live ? height : ANY, "tankY", s) &&
             within(b.tankHeading[s], -ANY, ANY, "tankHeading", s) &&
             within(b.turretAngle[s], -ANY, ANY, "turretAngle", s) &&
             within(b.shellX[s], -ANY, ANY, "shellX", s) &&
             within(b.shellY[s], -ANY, ANY, "shellY", s) &&
             within(b.shellHeading[s], -ANY, ANY, "shellHeading", s);
    }
    for (const CanvasCall& call : canvas_.Calls())
        for (float v : call.v) ok = ok && within(v, -ANY, ANY, "a canvas call coordinate");
    return broken.str();
}

std::uint64_t Soak::LongestBattle() const {
    return std::max(longestBattle_, ticks_ - battleStartTick_);
}

std::string Soak::Run(std::uint64_t ticks) {
    for (const std::uint64_t end = ticks_ + ticks; ticks_ < end;) {
        if (settings_.events) Meddle();
        const std::uint64_t battlesBefore = Battles();
        FrameTick(bf_, canvas_, random_);
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
        canvas_.ClearCalls();
        if (!broken.empty()) return "tick " + std::to_string(ticks_) + ": " + broken;
    }
    return {};
}

}  // namespace kestrel::soak
