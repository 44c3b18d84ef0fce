// The battle on a web page: the same C++ game as the desktop window, compiled
// to WebAssembly. This module only does the browser's part: the timer, the
// canvas and its size, and turning pointer and key events into the game's.

import { loadModule } from './module.js';

// Keys the game knows by name, in the order the module numbers them.
const NAMED_KEYS = ['Escape', 'Enter', 'Tab', 'Backspace'];
// A pointer event's `button` index and the bit it holds in `buttons`.
const BUTTON_BITS = [1, 4, 2, 8, 16];
const BACK = 3;
const FORWARD = 4;

const game = await loadModule(new URL('kestrel.wasm', import.meta.url));
const canvas = document.querySelector('canvas');
const context = canvas.getContext('2d');
const endNote = document.getElementById('end');
let image = null;  // an ImageData over the picture in the module's memory
let held = 0;  // the pointer buttons held, as `buttons` last had them
let ended = false;

game.kestrel_start();
window.kestrelTicks = 0;
// For tests and probes: one value of the battle record, and the picture.
window.kestrelProbe = (what, slot = 0) => game.kestrel_probe(what, slot);
window.kestrelPicture = () => new Uint8Array(picture().data);

// The picture as ImageData, remade when the module's memory grew or the
// picture was resized (both move it).
function picture() {
  const width = game.kestrel_device_width(), height = game.kestrel_device_height();
  const buffer = game.memory.buffer, at = game.kestrel_pixels();
  if (!image || image.data.buffer !== buffer || image.data.byteOffset !== at ||
      image.width !== width || image.height !== height) {
    image = new ImageData(new Uint8ClampedArray(buffer, at, width * height * 4), width, height);
  }
  return image;
}

// Copies to the canvas only the rectangles the game changed.
function showChanges() {
  const count = game.kestrel_take_changes();
  if (count === 0) return;
  const rects = new Int32Array(game.memory.buffer, game.kestrel_changes(), count * 4);
  const shown = picture();
  for (let i = 0; i < rects.length; i += 4) {
    const [left, top, right, bottom] = rects.subarray(i, i + 4);
    context.putImageData(shown, 0, 0, left, top, right - left, bottom - top);
  }
}

// The canvas size in CSS pixels is the game's size in canvas units; the
// backing store holds as many device pixels as the screen shows, measured
// by the browser where it can (rounding CSS size times ratio may be a pixel
// off, and the whole picture would then be resampled).
function fit(deviceBox) {
  const width = canvas.clientWidth, height = canvas.clientHeight;
  const ratio = window.devicePixelRatio || 1;
  const near = (device, css) => Math.abs(device - css * ratio) <= 1;
  const measured = deviceBox && near(deviceBox.inlineSize, width) && near(deviceBox.blockSize, height);
  game.kestrel_resize(width, height, ratio,
                      measured ? deviceBox.inlineSize : Math.round(width * ratio),
                      measured ? deviceBox.blockSize : Math.round(height * ratio));
  canvas.width = game.kestrel_device_width();
  canvas.height = game.kestrel_device_height();
  context.putImageData(picture(), 0, 0);
  game.kestrel_take_changes();
}

// Sized now, before the first tick lays out a battle; the observer may
// report only later (a tab opened in the background, say).
fit(null);
const resizes = new ResizeObserver(entries => fit(entries[0].devicePixelContentBoxSize?.[0]));
try {
  resizes.observe(canvas, { box: 'device-pixel-content-box' });
} catch {
  resizes.observe(canvas);
}

function tick() {
  game.kestrel_tick();
  window.kestrelTicks += 1;
  showChanges();
}
const timer = setInterval(tick, game.kestrel_tick_ms());

// Where the pointer is, in canvas units; outside the canvas during a drag.
function place(event) {
  const box = canvas.getBoundingClientRect();
  return [event.clientX - box.left, event.clientY - box.top];
}

// One handler for every pointer event, as the window gets them: a press or a
// release of each button (a second button pressed during a drag comes as a
// move with `button` set), and moves. The first finger on a touch screen is
// the left button; other fingers are left alone. A pointer the browser takes
// away (a cancel) releases what it held, as a release outside a window does.
function onPointer(event) {
  if (ended || !event.isPrimary) return;
  const [x, y] = place(event);
  const buttons = event.type === 'pointercancel' ? 0 : event.buttons;
  const changed = held ^ buttons;
  if (changed === 0) game.kestrel_pointer_move(x, y);
  BUTTON_BITS.forEach((bit, index) => {
    if (!(changed & bit)) return;
    if (buttons & bit) game.kestrel_pointer_down(index, x, y);
    else game.kestrel_pointer_up(index, x, y);
  });
  held = buttons;
  showChanges();
  if (event.button === BACK || event.button === FORWARD) event.preventDefault();  // no history step
}

canvas.addEventListener('pointerdown', event => {
  try {
    canvas.setPointerCapture(event.pointerId);  // a drag goes on outside the page
  } catch {
    // the pointer is gone already; its events come as they come
  }
  event.preventDefault();
  onPointer(event);
});
for (const type of ['pointermove', 'pointerup', 'pointercancel']) canvas.addEventListener(type, onPointer);
canvas.addEventListener('contextmenu', event => event.preventDefault());
canvas.addEventListener('mouseup', event => {
  if (event.button === BACK || event.button === FORWARD) event.preventDefault();
});

// A key that types one character gives its code, as do Enter, Tab and
// Backspace; Esc ends the game. Shortcuts with Ctrl or Meta stay the
// browser's; AltGr, which some systems report as Ctrl and Alt, types.
window.addEventListener('keydown', event => {
  const shortcut = (event.ctrlKey || event.metaKey) && !event.getModifierState('AltGraph');
  if (ended || shortcut) return;
  const named = NAMED_KEYS.indexOf(event.key);
  if (named < 0 && [...event.key].length !== 1) return;
  event.preventDefault();
  const over = game.kestrel_key(named, named < 0 ? event.key.charCodeAt(0) : -1);
  showChanges();
  if (over) end();
});

// Esc: nothing moves or answers any more; the picture stays.
function end() {
  ended = true;
  clearInterval(timer);
  resizes.disconnect();
  endNote.hidden = false;
}
