// The battle on a web page: the same C++ game as the desktop window, compiled
// to WebAssembly. This module loads it and joins the page's parts: the view
// (view.js), the timer (clock.js), pointer, touch and keys (input.js,
// gestures.js), the help line and the corner control (help.js), and
// keeping and sharing battles (sharing.js, link.js; the game records every
// one), and live rooms on the server that served the page (room.js).

import { loadModule, readContract, readText } from './module.js';
import { Ticker, browserClock } from './clock.js';
import { View } from './view.js';
import { Hands, listenToPointerAndKeys } from './input.js';
import './gestures.js';  // fetched beside the rest, not after input.js
import { Help, Menu, Messages } from './help.js';
import { Sharing } from './sharing.js';
import { LinkError, readRoomLink } from './link.js';
import { Room, describeRoom, liveClient, refusalOfResponse, roomConnection, whyRefused } from './room.js';
import { BATTLES_EVERY_MS, battlesNote, describeBattle, playWithAnyone, takeSeat } from './lobby.js';

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
  room: null,  // the room followed, if any (room.js)
  ticksAhead: () => game.kestrel_ticks_ahead(),  // the room's ticks come and not yet played
  roomTick: () => game.kestrel_followed_tick(),  // the room's tick the battle here has reached
};
window.kestrel = kestrel;

const hands = new Hands(game, contract, () => {
  kestrel.inputs += 1;
  kestrel.room?.afterInput();
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
  playTogether,
  playWithAnyone: playAnyone,
  battlesNow,
  openToAnyone,
  copyWatchLink: () => sharing.offerLink(kestrel.room.watchLink, 'A link to watch this room', { asCode: true }),
});
const sharing = new Sharing({ game, contract, view, clock, recording, messages, closeMenu: () => menu.open(false) });

listenToPointerAndKeys({
  canvas, canvasPoint: (x, y) => view.canvasPoint(x, y), corner: menu.corner, contract, hands, clock, ended: () => ended,
  onFirstAction(pointerType) {
    if (pointerType !== undefined) help.byTouch = pointerType === 'touch';
    if (!menu.isOpen) help.hide();
  },
});
help.show(false);

view.followWindow();
const ticker = new Ticker(clock, game.kestrel_tick_ms(), () => {
  // A room's battle waits for the room's first frames.
  if (kestrel.room && game.kestrel_following() !== 1) return;
  game.kestrel_tick();
  kestrel.ticks += 1;
  view.showChanges();
  kestrel.room?.afterTick();
});

// Esc: nothing moves or answers any more; the picture stays as it was,
// whatever the window does next.
function end() {
  ended = true;
  kestrel.room?.close();
  roomLine.hidden = true;
  legend.hidden = true;
  ticker.stop();
  view.freeze();
  menu.ended();
  help.hide();
  document.getElementById('end').hidden = false;
}

// Live rooms, on the server that served the page: its room's battle plays
// here in lockstep, this screen's hands reaching it through the server.
const roomLine = document.getElementById('room');
const legend = document.getElementById('legend');
const pageAddress = () => `${location.origin}${location.pathname}`;

// A player's seat token, kept for the tab (session storage): a dropped
// connection or a reload takes the same seat back. Storage may be refused
// (a private window); the seat is then kept only while the page lives.
const seatStore = id => `kestrel-seat:${id}`;
function keptSeatToken(id) {
  try {
    return sessionStorage.getItem(seatStore(id)) ?? '';
  } catch {
    return '';
  }
}
function keepSeatToken(id, token) {
  try {
    if (token && sessionStorage.getItem(seatStore(id)) !== token) sessionStorage.setItem(seatStore(id), token);
  } catch {
    // kept by the game module for this page's life
  }
}

// Which tank is this screen's, in words and in its colour, and each seat's
// colour, number, kills, wins and whether its player is here.
function showSeats({ yours, colour, colourName, seats }) {
  const yourTank = document.getElementById('your-tank');
  yourTank.replaceChildren(...(colour ? [swatch(colour)] : []), yours);
  help.tank = colourName ?? null;
  document.getElementById('seats').replaceChildren(...seats.map(seat => {
    const entry = document.createElement('li');
    entry.className = seat.yours ? 'yours' : '';
    entry.append(swatch(seat.colour), seat.text);
    return entry;
  }));
}
function swatch(colour) {
  const box = document.createElement('span');
  box.className = 'swatch';
  box.style.background = colour;
  return box;
}

function enterRoom(named) {
  const watching = named.key === null;
  const live = liveClient(game, watching);
  const link = named.play ?? named.watch;
  const room = new Room({
    url: named.socket, watching, live,
    checkUrl: named.check,
    addresses() {
      const again = readRoomLink(game, link, live.seatToken() ?? keptSeatToken(named.id));
      return { url: again.socket, checkUrl: again.check };
    },
    askWhy: url => fetch(url, { cache: 'no-store' }).then(response => refusalOfResponse(game, response), () => null),
    connection: roomConnection(game), clock,
    openSocket: url => new WebSocket(url),
    onChange: shown => {
      roomLine.textContent = describeRoom(shown);
      roomLine.hidden = false;
    },
    onMismatch: () => messages.say('This screen\'s battle has gone out of step with the room\'s.'),
    onFrame: () => view.showChanges(),
    onSeats: shown => {
      keepSeatToken(named.id, live.seatToken());
      showSeats(shown);
    },
  });
  kestrel.room = Object.assign(room, { id: named.id, key: named.key, watchLink: named.watch });
  roomLine.textContent = describeRoom(room);
  roomLine.hidden = false;
  legend.hidden = false;
  help.tank = watching ? null : help.tank;
  menu.inRoom();
  if (!watching) offerToOpen(named.id);
}

// A player of a private room may open it to anyone.
async function offerToOpen(id) {
  try {
    const response = await fetch(`/rooms/${id}`, { cache: 'no-store' });
    const listed = response.ok && (await response.json()).listed;
    document.getElementById('open-to-anyone').hidden = listed !== false;
  } catch {
    // the button stays hidden
  }
}

async function openToAnyone() {
  const { id, key } = kestrel.room;
  let response;
  try {
    response = await fetch(`/rooms/${id}/listed?key=${key}`, { method: 'POST' });
  } catch {
    messages.say('The room could not be opened to anyone: the server cannot be reached.');
    return;
  }
  if (!response.ok) {
    messages.say(`The room could not be opened to anyone: ${whyRefused(game, response)}.`);
    return;
  }
  document.getElementById('open-to-anyone').hidden = true;
  messages.say('This room is open to anyone now: it is listed under "Battles now".');
}

// A new room on the server, the size of this page's field: the page plays
// in it, and the link to play along goes to the clipboard (or the field to
// copy it by hand), and shows as a QR code for a phone.
async function playTogether() {
  // The room is the size this page shows whole, above the seats' strip.
  const [width, height] = view.roomSize();
  let named;
  try {
    const response = await fetch('/rooms', {
      method: 'POST', headers: { 'content-type': 'application/json' }, body: JSON.stringify({ width, height }),
    });
    if (!response.ok) {
      throw new Error(whyRefused(game, response));
    }
    named = playLinkOf((await response.json()).play);
  } catch (error) {
    messages.say(`No room could be opened: ${error.message}.`);
    return;
  }
  await playIn(named);
}

// The room a server's play link names, on this page.
function playLinkOf(play) {
  const named = readRoomLink(game, pageAddress() + new URL(play, location.href).hash);
  if (!named?.key) throw new Error('the server sent no link to play');
  return named;
}

// The page plays in the room; its link goes to the clipboard and shows as
// a QR code, to bring a friend.
async function playIn(named) {
  const link = named.play;
  await sharing.offerLink(link, 'A link to play in this room', { asCode: true });
  location.hash = new URL(link).hash;
}

// A free seat in a public room on any server, or a new public room.
async function playAnyone() {
  const [width, height] = view.roomSize();
  let named;
  try {
    named = playLinkOf((await playWithAnyone(game, { size: { width, height }, fetch: window.fetch.bind(window) })).play);
  } catch (error) {
    messages.say(`No room could be found: ${error.message}.`);
    return;
  }
  await playIn(named);
}

// "Battles now": the public rooms playing, asked for again every few
// seconds while the list is open.
const battles = { element: document.getElementById('battles'), button: document.getElementById('battles-now'),
                  cancel: null };
function battlesNow() {
  showBattles(battles.element.hidden);
}
function showBattles(open) {
  battles.element.hidden = !open;
  battles.button.setAttribute('aria-expanded', String(open));
  battles.cancel?.();
  battles.cancel = null;
  if (open) refreshBattles();
}
menu.onClose = () => showBattles(false);

async function refreshBattles() {
  const note = document.getElementById('battles-note');
  try {
    const response = await fetch('/rooms', { cache: 'no-store' });
    if (!response.ok) {
      note.textContent = `The list cannot be had just now: ${whyRefused(game, response)}.`;
    } else {
      const list = await response.json();
      note.textContent = battlesNote(list);
      document.getElementById('battles-list').replaceChildren(...list.rooms.map(battleEntry));
    }
  } catch {
    note.textContent = 'The list cannot be had just now: the server cannot be reached.';
  }
  if (!battles.element.hidden && !battles.cancel) {
    battles.cancel = clock.after(BATTLES_EVERY_MS, () => {
      battles.cancel = null;
      refreshBattles();
    });
  }
}

// A room of the list: its watch link (a new tab, and a link to pass on),
// and a button that takes a free seat in it.
function battleEntry(entry, index) {
  const item = document.createElement('li');
  const watch = Object.assign(document.createElement('a'), { href: entry.watch, target: '_blank', rel: 'noopener',
                                                             textContent: describeBattle(entry, index) });
  item.append(watch);
  if (entry.seats_free > 0) {
    const seat = Object.assign(document.createElement('button'), { type: 'button', textContent: 'Take a seat' });
    seat.addEventListener('click', () => seatIn(entry.room));
    item.append(seat);
  }
  return item;
}

async function seatIn(room) {
  let seated;
  try {
    seated = await takeSeat(game, `/rooms/${room}/seat`, window.fetch.bind(window));
  } catch {
    seated = { why: 'the server cannot be reached' };
  }
  if (!seated.links) {
    messages.say(`No seat could be taken: ${seated.why}.`);
    refreshBattles();
    return;
  }
  showBattles(false);
  await playIn(playLinkOf(seated.links.play));
}

// The page's link: a battle to play back, or a room. A room once entered
// is the page's for the visit: another link starts the page afresh.
function openLink() {
  if (ended) return;
  if (kestrel.room) {
    location.reload();
    return;
  }
  let named = null;
  try {
    named = readRoomLink(game, pageAddress() + location.hash);
  } catch (error) {
    if (!(error instanceof LinkError)) throw error;
    history.replaceState(null, '', location.pathname + location.search);
    messages.say(error.message);
  }
  if (named) enterRoom(named);
  else sharing.openLink();
}
window.addEventListener('hashchange', openLink);
openLink();

// Rooms are offered only by a server that keeps them: it answers /status
// with the count of its rooms. A static host, or no network, offers none.
async function servedWithRooms() {
  try {
    const response = await fetch('/status', { cache: 'no-store' });
    const body = await response.text();  // read whole either way: the request ends, not cancelled
    return response.ok && Number.isInteger(JSON.parse(body)?.rooms);
  } catch {
    return false;
  }
}
servedWithRooms().then(yes => yes && menu.offerRooms());

// Kept for playing with no network, once the page has been seen (browsers
// allow it on secure origins only: https, and the loopback address).
function keepForOffline() {
  navigator.serviceWorker.register('sw.js').catch(() => {});
}
if ('serviceWorker' in navigator) {
  if (document.readyState === 'complete') keepForOffline();
  else window.addEventListener('load', keepForOffline);
}
