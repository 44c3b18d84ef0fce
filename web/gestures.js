// Fingers on the canvas, turned into what the game knows: presses and
// releases of its buttons, pointer moves, and a key. One finger that moves
// is the left button's drag, pressed where it first touched; one lifted
// before moving or the long press is a click of the left button; one held
// still for the long press is the right button, released wherever it is
// lifted. Two fingers that touch and lift together without moving are a
// key: the field is wiped and a new battle starts. Any further finger, and
// fingers that move apart, are left to themselves.
//
// Nothing here touches the page or a timer: each event comes with its time,
// and the page hands over a 'time' event when `wakeAt` comes.

// A finger held this long without moving is the right button; one that
// moves further than the slop is a drag; two fingers down and up again
// this quickly are a key.
export const LONG_PRESS_MS = 500;
export const TOUCH_SLOP = 10;
export const TWO_FINGER_TAP_MS = 500;

// Modes of a gesture: waiting to see what the first finger does, dragging
// with the left button, ordering with the right, two fingers tapping, or
// over (nothing more reaches the game until every finger is lifted).
const PENDING = 'pending', DRAG = 'drag', ORDER = 'order', TWO = 'two', OVER = 'over';

const press = (button, { x, y }) => ({ type: 'press', button, x, y });
const release = (button, x, y) => ({ type: 'release', button, x, y });
const move = (x, y) => ({ type: 'move', x, y });

export class TouchGestures {
  #gesture = null;  // { mode, first, fingers: Map(id -> { x, y, moved }), start }

  // When the page should hand over a 'time' event: the end of the long
  // press, or null.
  get wakeAt() {
    return this.#gesture?.mode === PENDING ? this.#gesture.start + LONG_PRESS_MS : null;
  }

  // One event: { type: 'down' | 'move' | 'up' | 'cancel' | 'time', id, x,
  // y, time }, times in milliseconds. Returns the game's actions, in order:
  // { type: 'press' | 'release', button: 'left' | 'right', x, y },
  // { type: 'move', x, y } and { type: 'key', key: 'Enter' }.
  handle({ type, id, x, y, time }) {
    const actions = [];
    // However late the page hands over the time, the long press came first.
    if (this.wakeAt !== null && time >= this.wakeAt) this.#longPress(actions);
    if (type === 'down') this.#down(id, x, y, time);
    else if (type !== 'time' && this.#gesture?.fingers.has(id)) {
      if (type === 'move') this.#move(id, x, y, actions);
      else this.#up(id, x, y, time, type === 'cancel', actions);
    }
    return actions;
  }

  #down(id, x, y, time) {
    const finger = { x, y, moved: false };
    if (this.#gesture === null) {
      this.#gesture = { mode: PENDING, first: id, fingers: new Map([[id, finger]]), start: time };
      return;
    }
    const gesture = this.#gesture;
    gesture.fingers.set(id, finger);
    if (gesture.mode === PENDING && gesture.fingers.size === 2) gesture.mode = TWO;
    else if (gesture.mode === TWO) gesture.mode = OVER;
  }

  #longPress(actions) {
    const gesture = this.#gesture;
    gesture.mode = ORDER;
    actions.push(press('right', gesture.fingers.get(gesture.first)));
  }

  #move(id, x, y, actions) {
    const gesture = this.#gesture, finger = gesture.fingers.get(id);
    finger.moved ||= Math.hypot(x - finger.x, y - finger.y) > TOUCH_SLOP;
    if (id !== gesture.first) {
      if (finger.moved && gesture.mode === TWO) gesture.mode = OVER;
      return;
    }
    if (gesture.mode === PENDING && finger.moved) {
      gesture.mode = DRAG;
      actions.push(press('left', finger));
    }
    if (gesture.mode === DRAG || gesture.mode === ORDER) actions.push(move(x, y));
    else if (gesture.mode === TWO && finger.moved) gesture.mode = OVER;
  }

  #up(id, x, y, time, cancelled, actions) {
    const gesture = this.#gesture;
    if (id === gesture.first) {
      if (gesture.mode === PENDING && !cancelled) actions.push(press('left', gesture.fingers.get(id)), release('left', x, y));
      else if (gesture.mode === DRAG) actions.push(release('left', x, y));
      else if (gesture.mode === ORDER) actions.push(release('right', x, y));
      if (gesture.mode !== TWO) gesture.mode = OVER;
    }
    gesture.fingers.delete(id);
    if (gesture.fingers.size > 0) return;
    const quick = time - gesture.start <= TWO_FINGER_TAP_MS;
    if (gesture.mode === TWO && quick && !cancelled) actions.push({ type: 'key', key: 'Enter' });
    this.#gesture = null;
  }
}
