// The battle on a web page: the same C++ game as the desktop window, compiled
// to WebAssembly. This module only does the browser's part: the timer, the
// canvas and its size, turning pointer, touch and key events into the
// game's, the help line and the corner control, and keeping and sharing
// battles (the game records every one).

import { loadModule, readContract, readText } from './module.js';

const game = await loadModule(new URL('kestrel.wasm', import.meta.url));
// Keys the game knows by name and the pointer buttons, by their index in
// the module's list: a pointer event's `button`, with its bit in `buttons`.
const contract = readContract(game);
const NAMED_KEYS = contract.keys;
const BUTTON_BITS = contract.buttons.map(button => button.bit);
const buttonIndex = name => contract.buttons.findIndex(button => button.name === name);
const LEFT = buttonIndex('left');
const RIGHT = buttonIndex('right');
const BACK = buttonIndex('back');
const FORWARD = buttonIndex('forward');

// Touch: a finger held this long without moving is the right button; one
// that moves further than the slop is a drag with the left button; two
// fingers down and up again this quickly are a key.
const LONG_PRESS_MS = 500;
const TOUCH_SLOP = 10;
const TWO_FINGER_TAP_MS = 500;
// The help line fades after the first action, or after this long.
const HELP_MS = 6000;

const canvas = document.querySelector('canvas');
const context = canvas.getContext('2d');
const endNote = document.getElementById('end');
const help = document.getElementById('help');
const corner = document.getElementById('corner');
const more = document.getElementById('more');
const actions = document.getElementById('actions');
let image = null;  // an ImageData over the picture in the module's memory
let held = 0;  // the mouse or pen buttons held, as `buttons` last had them
let ended = false;

game.kestrel_start();
window.kestrelTicks = 0;
window.kestrelInputs = 0;  // pointer and key events handed to the game
// For tests and probes: one value of the battle record, and the picture.
window.kestrelProbe = (what, slot = 0) => game.kestrel_probe(what, slot);
window.kestrelPicture = () => new Uint8Array(picture().data);
// The battle so far as a recording (a kestrel-trace script).
const recording = () => readText(game, game.kestrel_recording(), game.kestrel_text_length());
window.kestrelRecording = recording;

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

// Shows what the game drew: only the rectangles it changed, or the whole
// picture when its size changed (a recording playing back decides the size
// until the battle is handed over; the canvas then shows it whole, in
// proportion, within the window).
function showChanges() {
  const playing = game.kestrel_playing_back() === 1;
  if (playing) holdPictureSize();
  if (playing !== canvas.classList.contains('playing')) {
    canvas.classList.toggle('playing', playing);
    if (!playing) handedOver();
  }
  if (canvas.width !== game.kestrel_device_width() || canvas.height !== game.kestrel_device_height()) {
    showWhole();
    return;
  }
  const count = game.kestrel_take_changes();
  if (count === 0) return;
  const rects = new Int32Array(game.memory.buffer, game.kestrel_changes(), count * 4);
  const shown = picture();
  for (let i = 0; i < rects.length; i += 4) {
    const [left, top, right, bottom] = rects.subarray(i, i + 4);
    context.putImageData(shown, 0, 0, left, top, right - left, bottom - top);
  }
}

// The canvas's box in CSS pixels is the game's picture in canvas units: the
// window's, but for a recording playing back and once the game has ended.
function holdPictureSize() {
  const width = `${game.kestrel_width()}px`, height = `${game.kestrel_height()}px`;
  if (canvas.style.getPropertyValue('--picture-width') !== width) canvas.style.setProperty('--picture-width', width);
  if (canvas.style.getPropertyValue('--picture-height') !== height) canvas.style.setProperty('--picture-height', height);
}

// The window's size in CSS pixels is the game's size in canvas units; the
// backing store holds as many device pixels as the screen shows, measured
// by the browser where it can (rounding CSS size times ratio may be a pixel
// off, and the whole picture would then be resampled). While a recording
// plays back the canvas is its size, and the window's is kept for later.
function fit(deviceBox) {
  const playing = canvas.classList.contains('playing');
  const width = playing ? innerWidth : canvas.clientWidth, height = playing ? innerHeight : canvas.clientHeight;
  const ratio = window.devicePixelRatio || 1;
  const near = (device, css) => Math.abs(device - css * ratio) <= 1;
  const measured = !playing && deviceBox && near(deviceBox.inlineSize, width) && near(deviceBox.blockSize, height);
  game.kestrel_resize(width, height, ratio,
                      measured ? deviceBox.inlineSize : Math.round(width * ratio),
                      measured ? deviceBox.blockSize : Math.round(height * ratio));
  showWhole();
}

function showWhole() {
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

// The timer runs only while the page is seen: a hidden page's timers are
// slowed by the browser, and the battle would crawl on unseen. Shown again,
// it goes on at its own pace; nothing is caught up.
let timer = null;
function tick() {
  game.kestrel_tick();
  window.kestrelTicks += 1;
  showChanges();
}
function runTimer() {
  if (timer === null && !ended && !document.hidden) timer = setInterval(tick, game.kestrel_tick_ms());
}
function stopTimer() {
  clearInterval(timer);
  timer = null;
}
document.addEventListener('visibilitychange', () => (document.hidden ? stopTimer() : runTimer()));
runTimer();

// What the game is handed, each followed by showing what it drew.
function press(button, x, y) {
  game.kestrel_pointer_down(button, x, y);
  handed();
}
function release(button, x, y) {
  game.kestrel_pointer_up(button, x, y);
  handed();
}
function moveTo(x, y) {
  game.kestrel_pointer_move(x, y);
  handed();
}
function handed() {
  window.kestrelInputs += 1;
  showChanges();
}

// A key by its name (NAMED_KEYS) or the text it types; Esc ends the game.
function pressKey(name, text = '') {
  const named = NAMED_KEYS.indexOf(name);
  const over = game.kestrel_key(named, named < 0 ? text.charCodeAt(0) : -1);
  handed();
  if (over) end();
}
const newBattle = () => pressKey('Enter');

// Where the pointer is, in canvas units; outside the canvas during a drag.
function place(event) {
  const box = canvas.getBoundingClientRect();
  return [event.clientX - box.left, event.clientY - box.top];
}

// Mouse and pen, as the window gets them: a press or a release of each
// button (a second button pressed during a drag comes as a move with
// `button` set), and moves. A pointer the browser takes away (a cancel)
// releases what it held, as a release outside a window does.
function onPointer(event) {
  if (ended || !event.isPrimary) return;
  const [x, y] = place(event);
  const buttons = event.type === 'pointercancel' ? 0 : event.buttons;
  const changed = held ^ buttons;
  if (changed === 0) moveTo(x, y);
  BUTTON_BITS.forEach((bit, index) => {
    if (!(changed & bit)) return;
    if (buttons & bit) press(index, x, y);
    else release(index, x, y);
  });
  held = buttons;
  if (event.button === BACK || event.button === FORWARD) event.preventDefault();  // no history step
}

// Fingers. One finger that moves is the left button's drag, pressed where it
// first touched; one lifted before moving or the long press is a click of
// the left button; one held still for the long press is the right button,
// released wherever it is lifted. Two fingers that touch and lift together
// without moving are a key: the field is wiped and a new battle starts.
// Any further finger, and fingers that move apart, are left to themselves.
let touch = null;  // the gesture under way: { mode, first, fingers, start, timer }

function onTouch(event) {
  if (ended) return;
  const [x, y] = place(event);
  const id = event.pointerId;
  if (event.type === 'pointerdown') touchDown(id, x, y);
  else if (touch?.fingers.has(id)) {
    if (event.type === 'pointermove') touchMove(id, x, y);
    else touchUp(id, x, y, event.type === 'pointercancel');
  }
}

function touchDown(id, x, y) {
  if (touch === null) {
    touch = { mode: 'pending', first: id, fingers: new Map([[id, { x, y, moved: false }]]),
              start: performance.now(), timer: setTimeout(longPress, LONG_PRESS_MS) };
    return;
  }
  touch.fingers.set(id, { x, y, moved: false });
  if (touch.mode === 'pending' && touch.fingers.size === 2) {
    clearTimeout(touch.timer);
    touch.mode = 'two';
  } else if (touch.mode === 'two') {
    touch.mode = 'none';
  }
}

function longPress() {
  if (touch?.mode !== 'pending') return;
  touch.mode = 'order';
  const { x, y } = touch.fingers.get(touch.first);
  press(RIGHT, x, y);
}

function touchMove(id, x, y) {
  const finger = touch.fingers.get(id);
  finger.moved ||= Math.hypot(x - finger.x, y - finger.y) > TOUCH_SLOP;
  if (id !== touch.first) {
    if (finger.moved && touch.mode === 'two') touch.mode = 'none';
    return;
  }
  if (touch.mode === 'pending' && finger.moved) {
    clearTimeout(touch.timer);
    touch.mode = 'drag';
    press(LEFT, finger.x, finger.y);
  }
  if (touch.mode === 'drag' || touch.mode === 'order') moveTo(x, y);
  else if (touch.mode === 'two' && finger.moved) touch.mode = 'none';
}

function touchUp(id, x, y, cancelled) {
  if (id === touch.first) {
    const { x: x0, y: y0 } = touch.fingers.get(id);
    if (touch.mode === 'pending' && !cancelled) {
      press(LEFT, x0, y0);
      release(LEFT, x, y);
    } else if (touch.mode === 'drag') {
      release(LEFT, x, y);
    } else if (touch.mode === 'order') {
      release(RIGHT, x, y);
    }
    if (touch.mode !== 'two') touch.mode = 'none';
  }
  clearTimeout(touch.timer);
  touch.fingers.delete(id);
  if (touch.fingers.size > 0) return;
  const quick = performance.now() - touch.start <= TWO_FINGER_TAP_MS;
  if (touch.mode === 'two' && quick && !cancelled) newBattle();
  touch = null;
}

function route(event) {
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
  firstAction();
  route(event);
});
for (const type of ['pointermove', 'pointerup', 'pointercancel']) canvas.addEventListener(type, route);
canvas.addEventListener('contextmenu', event => event.preventDefault());
canvas.addEventListener('mouseup', event => {
  if (event.button === BACK || event.button === FORWARD) event.preventDefault();
});

// A key that types one character gives its code, as do Enter, Tab and
// Backspace; Esc ends the game. Shortcuts with Ctrl or Meta stay the
// browser's; AltGr, which some systems report as Ctrl and Alt, types. Keys
// aimed at the corner control are its own.
window.addEventListener('keydown', event => {
  const shortcut = (event.ctrlKey || event.metaKey) && !event.getModifierState('AltGraph');
  if (ended || shortcut || (event.target instanceof Node && corner.contains(event.target))) return;
  const named = NAMED_KEYS.includes(event.key);
  if (!named && [...event.key].length !== 1) return;
  event.preventDefault();
  firstAction();
  pressKey(event.key, event.key);
});

// Esc: nothing moves or answers any more; the picture stays as it was,
// whatever the window does next.
function end() {
  ended = true;
  stopTimer();
  resizes.disconnect();
  holdPictureSize();
  canvas.classList.add('ended');
  document.getElementById('end-game').disabled = true;
  hideHelp();
  endNote.hidden = false;
}

// The help line, worded for the device: shown on load and whenever the
// corner control opens, gone after the first action or a few seconds. It
// never takes a pointer event (CSS), so nothing is in its way.
const HELP = {
  mouse: 'Drag a tank with the left button. Release the left button over a tank: your blue tank ' +
         'goes after it; the right button: every tank does. Any letter: new battle. Esc: end.',
  touch: 'Drag a tank with a finger. Tap a tank: your blue tank goes after it. Hold a tank, then let ' +
         'go over a tank: every tank goes after it. Tap with two fingers: new battle.',
};
let byTouch = matchMedia('(pointer: coarse)').matches;
let helpTimer = null;
function showHelp(lasting) {
  help.firstElementChild.textContent = HELP[byTouch ? 'touch' : 'mouse'];
  help.classList.remove('faded');
  clearTimeout(helpTimer);
  if (!lasting) helpTimer = setTimeout(hideHelp, HELP_MS);
}
function hideHelp() {
  clearTimeout(helpTimer);
  help.classList.add('faded');
}
function firstAction() {
  if (actions.hidden) hideHelp();
}
canvas.addEventListener('pointerdown', event => { byTouch = event.pointerType === 'touch'; }, true);
showHelp(false);

// The corner control: help again, and what the keyboard and the right
// button do, by touch too. Its pointer events stay its own.
function openActions(open) {
  actions.hidden = !open;
  more.setAttribute('aria-expanded', String(open));
  if (open) showHelp(true);
  else hideHelp();
}
more.addEventListener('click', () => openActions(actions.hidden));
// A press on the control keeps its pointer until the release, so that a
// drag off it never reaches the canvas.
corner.addEventListener('pointerdown', event => {
  try {
    event.target.setPointerCapture(event.pointerId);
  } catch {
    // gone already
  }
});
for (const type of ['pointerdown', 'pointermove', 'pointerup', 'pointercancel', 'contextmenu']) {
  corner.addEventListener(type, event => event.stopPropagation());
}
corner.addEventListener('keydown', event => {
  if (event.key === 'Escape') openActions(false);
});
document.getElementById('new-battle').addEventListener('click', () => {
  openActions(false);
  if (ended) location.assign(location.pathname + location.search);  // afresh, not a link's battle again
  else newBattle();
});
document.getElementById('end-game').addEventListener('click', () => {
  openActions(false);
  if (!ended) pressKey('Escape');
});

// Keeping and sharing a battle. A link carries the recording in its
// fragment (never sent to a server), compressed and in base64url; opening
// it plays the battle back at the game's pace and then hands it over. A
// recording can also be saved as a file, which kestrel-trace and the replay
// page take.
const LINK_PREFIX = '#battle=';
const message = document.getElementById('message');
const linkField = document.getElementById('link');
let messageTimer = null;
const MESSAGE_MS = 10000;

function say(text, lasting = false) {
  message.textContent = text;
  message.hidden = false;
  clearTimeout(messageTimer);
  if (!lasting) messageTimer = setTimeout(() => { message.hidden = true; }, MESSAGE_MS);
}

function toBase64Url(bytes) {
  let binary = '';
  for (let i = 0; i < bytes.length; i += 0x8000) binary += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  return btoa(binary).replaceAll('+', '-').replaceAll('/', '_').replace(/=+$/, '');
}

class LinkError extends Error {}

function fromBase64Url(text) {
  if (!/^[A-Za-z0-9_-]*$/.test(text) || text.length % 4 === 1) {
    throw new LinkError('This battle link is damaged: it holds characters, or a length, that no battle link has.');
  }
  const binary = atob(text.replaceAll('-', '+').replaceAll('_', '/').padEnd(Math.ceil(text.length / 4) * 4, '='));
  return Uint8Array.from(binary, c => c.charCodeAt(0));
}

async function battleLink() {
  const packed = new Blob([recording()]).stream().pipeThrough(new CompressionStream('deflate-raw'));
  const bytes = new Uint8Array(await new Response(packed).arrayBuffer());
  return `${location.origin}${location.pathname}${LINK_PREFIX}${toBase64Url(bytes)}`;
}

// The recording a link's fragment holds; unpacking stops as soon as it is
// longer than any the game reads.
async function recordingOfLink(fragment) {
  const bytes = fromBase64Url(fragment.slice(LINK_PREFIX.length));
  const reader = new Blob([bytes]).stream().pipeThrough(new DecompressionStream('deflate-raw')).getReader();
  const parts = [];
  let length = 0;
  try {
    for (;;) {
      const { done, value } = await reader.read();
      if (done) break;
      parts.push(value);
      length += value.length;
      if (length > contract.maxRecordingBytes) {
        reader.cancel().catch(() => {});
        throw new LinkError('This battle link is far too long: no recording the game plays back is that long.');
      }
    }
  } catch (error) {
    if (error instanceof LinkError) throw error;
    throw new LinkError('This battle link is cut short or damaged: its recording does not unpack.');
  }
  try {
    return new TextDecoder('utf-8', { fatal: true }).decode(await new Blob(parts).arrayBuffer());
  } catch {
    throw new LinkError('This battle link is damaged: its recording is not text.');
  }
}

// Starts playing a recording back: null, or why it cannot be played.
function playBack(text) {
  const bytes = new TextEncoder().encode(text);
  const at = game.kestrel_alloc(bytes.length);
  new Uint8Array(game.memory.buffer, at, bytes.length).set(bytes);
  const refused = game.kestrel_play_back(at, bytes.length);
  game.kestrel_free(at);
  showChanges();
  return refused ? readText(game, refused) : null;
}

async function openLink() {
  if (ended || !location.hash.startsWith(LINK_PREFIX)) return;
  try {
    const refused = playBack(await recordingOfLink(location.hash));
    if (refused) throw new LinkError(`This battle link cannot be played: ${refused}.`);
    say('Playing back the battle from the link: it is yours when it ends, or as soon as you press, tap or type.', true);
  } catch (error) {
    if (!(error instanceof LinkError)) throw error;
    history.replaceState(null, '', location.pathname + location.search);
    say(`${error.message} A new battle has begun instead.`);
  }
}

// The end of a playback: the battle is the user's.
function handedOver() {
  if (message.textContent.startsWith('Playing back')) message.hidden = true;
  window.dispatchEvent(new Event('kestrel-handover'));
}

async function copyLink() {
  const link = await battleLink();
  linkField.value = link;
  try {
    await navigator.clipboard.writeText(link);
    openActions(false);
    say('A link to this battle is on the clipboard.');
  } catch {
    linkField.hidden = false;
    linkField.select();
    say('Copy the link to this battle from the field under the buttons.');
  }
}

function saveReplay() {
  const file = new Blob([recording()], { type: 'text/plain' });
  const stamp = new Date().toISOString().slice(0, 19).replaceAll(':', '-');
  const save = Object.assign(document.createElement('a'), {
    href: URL.createObjectURL(file), download: `kestrel-battle-${stamp}.trace`,
  });
  save.click();
  setTimeout(() => URL.revokeObjectURL(save.href), 10000);
}

document.getElementById('copy-link').addEventListener('click', () => {
  copyLink();
});
document.getElementById('save-replay').addEventListener('click', () => {
  openActions(false);
  saveReplay();
});
window.addEventListener('hashchange', openLink);
openLink();

// Kept for playing with no network, once the page has been seen (browsers
// allow it on secure origins only: https, and the loopback address).
function keepForOffline() {
  navigator.serviceWorker.register('sw.js').catch(() => {});
}
if ('serviceWorker' in navigator) {
  if (document.readyState === 'complete') keepForOffline();
  else window.addEventListener('load', keepForOffline);
}
