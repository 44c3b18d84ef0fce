// The battle on a web page: the same C++ game as the desktop window, compiled
// to WebAssembly. This module loads it and joins the page's parts: the view
// (view.js), the timer (clock.js), pointer, touch and keys (input.js,
// gestures.js), the help line and the corner control (help.js), and
// keeping and sharing battles (sharing.js, link.js; the game records every
// one).

import { loadModule, readContract, readText } from './module.js';
import { Ticker, browserClock } from './clock.js';
import { View } from './view.js';
import { Hands, listenToPointerAndKeys } from './input.js';
import './gestures.js';  // fetched beside the rest, not after input.js
import { Help, Menu, Messages } from './help.js';
import { Sharing } from './sharing.js';
import './link.js';

const game = await loadModule(new URL('kestrel.wasm', import.meta.url));
const contract = readContract(game);
// A clock handed to the page before it loaded (window.kestrel.clock), or the
// browser's.
const clock = window.kestrel?.clock ?? browserClock;
const canvas = document.querySelector('canvas');
let ended = false;

game.kestrel_start();
const recording = () => readText(game, game.kestrel_recording(), game.kestrel_text_length());
const view = new View(game, canvas, () => sharing.handedOver());

// What tests and probes read of the page: ticks so far, pointer and key
// events handed to the game, one value of the battle record by its name in
// the contract, the picture, and the battle so far as a recording (a
// kestrel-trace script).
const kestrel = {
  clock,
  ticks: 0,
  inputs: 0,
  probe(name, slot = 0) {
    if (!Object.hasOwn(contract.probes, name)) throw new RangeError(`no probe named ${name}`);
    return game.kestrel_probe(contract.probes[name], slot);
  },
  picture: () => new Uint8Array(view.picture().data),
  recording,
};
window.kestrel = kestrel;

const hands = new Hands(game, contract, () => {
  kestrel.inputs += 1;
  view.showChanges();
}, end);
const help = new Help(document.getElementById('help'), clock, matchMedia('(pointer: coarse)').matches);
const messages = new Messages(document.getElementById('message'), clock);
const menu = new Menu(document, help, {
  // After the end, afresh: not a link's battle again.
  newBattle: () => (ended ? location.assign(location.pathname + location.search) : hands.key('Enter')),
  end: () => ended || hands.key('Escape'),
  copyLink: () => sharing.copyLink(),
  saveReplay: () => sharing.saveReplay(),
});
const sharing = new Sharing({ game, contract, view, clock, recording, messages, closeMenu: () => menu.open(false) });

listenToPointerAndKeys({
  canvas, corner: menu.corner, contract, hands, clock, ended: () => ended,
  onFirstAction(pointerType) {
    if (pointerType !== undefined) help.byTouch = pointerType === 'touch';
    if (!menu.isOpen) help.hide();
  },
});
help.show(false);

view.followWindow();
const ticker = new Ticker(clock, game.kestrel_tick_ms(), () => {
  game.kestrel_tick();
  kestrel.ticks += 1;
  view.showChanges();
});

// Esc: nothing moves or answers any more; the picture stays as it was,
// whatever the window does next.
function end() {
  ended = true;
  ticker.stop();
  view.freeze();
  menu.ended();
  help.hide();
  document.getElementById('end').hidden = false;
}

const openLink = () => ended || sharing.openLink();
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
