#include "input/Pointer.h"

#include "model/Numeric.h"
#include "render/Projection.h"
#include "render/TankGlyph.h"

namespace kestrel {
namespace {

// The pick box reaches this far to each side of the pointer in ground x and
// in ground depth.
constexpr float PICK_REACH = 20;
constexpr int PICK_DEPTH_REACH = 20;

void UpdatePointerDepth(Battlefield& bf, const Canvas& canvas, float y) {
    bf.pointerDepth = CIntSaturated16(GroundDepthAt(canvas, y));
}

// The x bounds are singles, the depth bounds whole numbers; both strict.
bool UnderPointer(const Battlefield& bf, int i, float x) {
    const float tankX = ToSingle(bf.tankX[i]);
    const int depth = bf.pointerDepth;
    return x - PICK_REACH < tankX && tankX < x + PICK_REACH &&
           depth - PICK_DEPTH_REACH < bf.tankY[i] && bf.tankY[i] < depth + PICK_DEPTH_REACH &&
           IsLive(bf, i);
}

// Every slot under the pointer is acted on in turn, so the highest one
// decides. Returns -1 when no live tank is there.
int PickedSlot(const Battlefield& bf, float x) {
    int picked = -1;
    for (int i = 0; i < SLOT_COUNT; ++i)
        if (UnderPointer(bf, i, x)) picked = i;
    return picked;
}

void DrawDragged(Battlefield& bf, Canvas& canvas, int s, Colour colour) {
    DrawTank(canvas, bf.tankX[s], bf.tankY[s], bf.tankHeading[s], bf.turretAngle[s], colour);
}

}  // namespace

void PointerDown(Battlefield& bf, const Canvas& canvas, std::int16_t button, std::int16_t,
                 float x, float y) {
    UpdatePointerDepth(bf, canvas, y);
    if (button != LEFT_BUTTON) return;
    if (const int picked = PickedSlot(bf, x); picked >= 0) {
        bf.dragging = true;
        bf.dragSlot = Slot(picked);
    }
}

// The dragged tank keeps driving between moves; each move puts it back
// under the pointer, grey. Its hit points are not looked at: a tank that
// dies while dragged still follows the pointer until the release.
void PointerMove(Battlefield& bf, Canvas& canvas, std::int16_t, std::int16_t, float x, float y) {
    UpdatePointerDepth(bf, canvas, y);
    if (!bf.dragging) return;
    const int s = bf.dragSlot;
    DrawDragged(bf, canvas, s, WHITE);
    bf.tankX[s] = x;
    bf.tankY[s] = bf.pointerDepth;
    DrawDragged(bf, canvas, s, DRAGGED_TANK_COLOUR);
}

// Any release ends a drag. A picked tank becomes the target of the player's
// tank (left) or of every slot, dead ones and itself included (right).
void PointerUp(Battlefield& bf, const Canvas& canvas, std::int16_t button, std::int16_t,
               float x, float y, int player) {
    UpdatePointerDepth(bf, canvas, y);
    bf.dragging = false;
    if (button != LEFT_BUTTON && button != RIGHT_BUTTON) return;
    const int picked = PickedSlot(bf, x);
    if (picked < 0) return;
    if (button == LEFT_BUTTON) {
        bf.tankTarget[player] = Slot(picked);
    } else {
        bf.tankTarget.fill(Slot(picked));
    }
}

}  // namespace kestrel
