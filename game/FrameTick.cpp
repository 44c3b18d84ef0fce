#include "game/FrameTick.h"

#include <iterator>

#include "behaviour/DriveTank.h"
#include "behaviour/PlanTank.h"
#include "gunnery/UpdateShell.h"
#include "render/TankGlyph.h"

namespace kestrel {
namespace {

static_assert(std::size(SEAT_COLOURS) == MAX_SEATS);

// A battle is over when fewer than two tanks were met.
constexpr int BATTLE_MIN_LIVE = 2;

void DrawSlot(Battlefield& bf, Canvas& canvas, int s, Colour colour) {
    DrawTank(canvas, bf.tankX[s], bf.tankY[s], bf.tankHeading[s], bf.turretAngle[s], colour);
}

// Erase, drive, redraw; erasing and drawing go slot by slot, so a higher
// slot's erase may cut a lower slot's fresh image until its next tick.
void RunLiveTank(Battlefield& bf, const Seats& seats, Canvas& canvas, int s) {
    ++bf.liveCount;
    // Taken after planning and before driving: the restart test wants the
    // speed the lone survivor's plan asked for.
    bf.lastLiveSpeed = bf.tankSpeed[s];
    DrawSlot(bf, canvas, s, WHITE);
    DriveTank(bf, canvas);
    DrawSlot(bf, canvas, s, BLACK);
    if (s == PLAYER_SLOT) DrawSlot(bf, canvas, s, PLAYER_BLUE);
    if (s != PLAYER_SLOT && IsSeat(seats, s)) DrawSlot(bf, canvas, s, SEAT_COLOURS[s]);
}

// No live tank, or a lone one that has come to rest.
bool BattleIsOver(const Battlefield& bf) {
    return bf.lastLiveSpeed == 0.0f && bf.liveCount < BATTLE_MIN_LIVE;
}

}  // namespace

void FrameTick(Battlefield& bf, Seats& seats, Canvas& canvas, Random& random) {
    bf.liveCount = 0;
    bf.lastLiveSpeed = 0;
    int lastLive = 0;
    for (int s = 0; s < SLOT_COUNT; ++s) {
        bf.currentTank = Slot(s);
        PlanTank(bf, random);
        if (IsLive(bf, s)) RunLiveTank(bf, seats, canvas, s), lastLive = s;
        UpdateShell(bf, seats, canvas, random);
    }
    if (!BattleIsOver(bf)) return;
    // The lone tank met may have lost its last hit point to a later burst.
    if (bf.liveCount == 1 && IsLive(bf, lastLive)) CountWin(seats, lastLive);
    StartBattle(bf, canvas, random, seats.count);
}

}  // namespace kestrel
