// The page's pointer, touch and key events, handed to the game as the
// desktop window hands its own.

import { TouchGestures } from './gestures.js';

// What the game is handed, each followed by `handed` (which shows what it
// drew). Buttons by their index in the contract's list, keys by name.
export class Hands {
  constructor(game, contract, handed, onEnd) {
    this.game = game;
    this.keys = contract.keys;
    this.handed = handed;
    this.onEnd = onEnd;
  }

  press(button, x, y) {
    this.game.kestrel_pointer_down(button, x, y);
    this.handed();
  }

  release(button, x, y) {
    this.game.kestrel_pointer_up(button, x, y);
    this.handed();
  }

  moveTo(x, y) {
    this.game.kestrel_pointer_move(x, y);
    this.handed();
  }

  // A key by its name (the contract's keys) or the text it types; Esc ends
  // the game.
  key(name, text = '') {
    const named = this.keys.indexOf(name);
    const over = this.game.kestrel_key(named, named < 0 ? text.charCodeAt(0) : -1);
    this.handed();
    if (over) this.onEnd();
  }
}

// Listens on the canvas and the window; `canvasPoint(clientX, clientY)`
// gives a point in canvas units. `ended()` says whether the game has
// ended (nothing reaches it then); `onFirstAction(pointerType)` runs at each
// press on the canvas and each key the game takes, before the game sees it
// (pointerType is undefined for a key). Keys aimed at `corner` (the corner
// control) are its own.
export function listenToPointerAndKeys({ canvas, canvasPoint, corner, contract, hands, clock, ended, onFirstAction }) {
  const button = name => contract.buttons.findIndex(b => b.name === name);
  const bits = contract.buttons.map(b => b.bit);
  const BACK = button('back'), FORWARD = button('forward');
  const buttonOf = { left: button('left'), right: button('right') };
  let held = 0;  // the mouse or pen buttons held, as `buttons` last had them

  // Where the pointer is, in canvas units; outside the canvas during a drag.
  const place = event => canvasPoint(event.clientX, event.clientY);

  // Mouse and pen, as the window gets them: a press or a release of each
  // button (a second button pressed during a drag comes as a move with
  // `button` set), and moves. A pointer the browser takes away (a cancel)
  // releases what it held, as a release outside a window does.
  function onPointer(event) {
    if (!event.isPrimary) return;
    const [x, y] = place(event);
    const buttons = event.type === 'pointercancel' ? 0 : event.buttons;
    const changed = held ^ buttons;
    if (changed === 0) hands.moveTo(x, y);
    bits.forEach((bit, index) => {
      if (!(changed & bit)) return;
      if (buttons & bit) hands.press(index, x, y);
      else hands.release(index, x, y);
    });
    held = buttons;
    if (event.button === BACK || event.button === FORWARD) event.preventDefault();  // no history step
  }

  // Fingers, through the gestures; the page's clock times them, and wakes
  // them for the long press.
  const gestures = new TouchGestures();
  let cancelWake = null;
  const TOUCH_TYPES = { pointerdown: 'down', pointermove: 'move', pointerup: 'up', pointercancel: 'cancel' };

  function perform(actions) {
    for (const action of actions) {
      if (action.type === 'press') hands.press(buttonOf[action.button], action.x, action.y);
      else if (action.type === 'release') hands.release(buttonOf[action.button], action.x, action.y);
      else if (action.type === 'move') hands.moveTo(action.x, action.y);
      else hands.key(action.key);
    }
  }

  function touch(event) {
    if (ended()) return;
    perform(gestures.handle(event));
    cancelWake?.();
    cancelWake = null;
    const wakeAt = gestures.wakeAt;
    if (wakeAt !== null) {
      cancelWake = clock.after(Math.max(0, wakeAt - clock.now()), () => touch({ type: 'time', time: clock.now() }));
    }
  }

  function onTouch(event) {
    const [x, y] = place(event);
    touch({ type: TOUCH_TYPES[event.type], id: event.pointerId, x, y, time: clock.now() });
  }

  function route(event) {
    if (ended()) return;
    if (event.pointerType === 'touch') onTouch(event);
    else onPointer(event);
  }

  canvas.addEventListener('pointerdown', event => {
    try {
      canvas.setPointerCapture(event.pointerId);  // a drag goes on outside the page
    } catch {
      // the pointer is gone already; its events come as they come
    }
    event.preventDefault();
    onFirstAction(event.pointerType);
    route(event);
  });
  for (const type of ['pointermove', 'pointerup', 'pointercancel']) canvas.addEventListener(type, route);
  canvas.addEventListener('contextmenu', event => event.preventDefault());
  canvas.addEventListener('mouseup', event => {
    if (event.button === BACK || event.button === FORWARD) event.preventDefault();
  });

  // A key that types one character gives its code, as do Enter, Tab and
  // Backspace; Esc ends the game. Shortcuts with Ctrl or Meta stay the
  // browser's; AltGr, which some systems report as Ctrl and Alt, types.
  window.addEventListener('keydown', event => {
    const shortcut = (event.ctrlKey || event.metaKey) && !event.getModifierState('AltGraph');
    if (ended() || shortcut || (event.target instanceof Node && corner.contains(event.target))) return;
    const named = contract.keys.includes(event.key);
    if (!named && [...event.key].length !== 1) return;
    event.preventDefault();
    onFirstAction(undefined);
    hands.key(event.key, event.key);
  });
}
