// A live room: one battle on the server, followed on this page in
// lockstep. The room's socket brings the room's recording as it grows; the
// game (its LiveClient) plays it and hands back what this screen sends: the
// player's events, and hashes of the battle to check it against the
// server's. A lost connection comes back by itself, sooner first, then
// less often, and catches up from the join text the server sends again.
// Nothing here touches the page, so node drives it with a made-up socket.

import { readContract, readText, withText } from './module.js';

// The connection's states, and the waits before each new try, as the game
// module keeps them (game/Reconnect.h): doubling from the first to the
// longest, and the first again once a connection has worked. One room a
// page: a new one starts afresh.
export function roomConnection(game) {
  game.kestrel_room_start();
  const states = readContract(game).roomStates;
  const waitOrNull = wait => (wait < 0 ? null : wait);
  return {
    connecting: () => game.kestrel_room_connecting(),
    joined: () => game.kestrel_room_joined(),
    // The wait before the next try, or null once closed.
    lost: () => waitOrNull(game.kestrel_room_lost()),
    // The server refused the socket (refusal: refusalOf's answer): the wait
    // before the next try for a refusal that may pass, else null, closed.
    refused: refusal => waitOrNull(game.kestrel_room_refused(refusal?.index ?? -1)),
    close: () => game.kestrel_room_close(),
    state: () => states[game.kestrel_room_state()],
  };
}

// The game module's live client (web/KestrelWeb.cpp), as the room uses it.
// A watcher's client sends only its hashes.
export function liveClient(game, watching) {
  game.kestrel_live_join(watching ? 0 : 1);
  const text = at => (at ? readText(game, at, game.kestrel_text_length()) : null);
  return {
    // Null, or why the frame could not be taken.
    receive: frame => withText(game, frame, (at, length) => text(game.kestrel_live_receive(at, length))),
    reconnected: () => game.kestrel_live_reconnected(),
    people: () => game.kestrel_live_people(),
    mismatches: () => game.kestrel_live_mismatches(),
    joined: () => game.kestrel_live_joined() === 1,
    // The token that takes this screen's seat back; null while it has none.
    seatToken: () => text(game.kestrel_live_seat_token()),
    // Which tank is this screen's and the room's seats, as JSON text
    // (web/KestrelWeb.cpp); the same text while nothing changed.
    seats: () => text(game.kestrel_live_seats()),
    // The frames for the server: whole lines, each frame no longer than it takes.
    takeOutgoing: () => Array.from({ length: game.kestrel_take_outgoing() },
                                   (_, i) => text(game.kestrel_outgoing_frame(i))),
    // Whether they hold a press, a release or a key, which go at once.
    urgent: () => game.kestrel_outgoing_urgent() === 1,
  };
}

// The room's line on the page, for its state.
export function describeRoom({ state, watching, people, retryMs, reason }) {
  if (state === 'connecting') return 'Connecting to the room…';
  if (state === 'lost') {
    const why = reason ? ` (${reason})` : '';
    return `The connection to the room is lost${why}: reconnecting in ${retryMs / 1000} s.`;
  }
  if (state === 'closed') return reason ? `Out of the room: ${reason}.` : 'Out of the room.';
  return `${watching ? 'Watching' : 'Live'}: ${people} in the room.`;
}

// What a refusing answer refuses, from the game's table of the server's
// refusals: its status and its refusal header (null for none). Null when
// it refuses nothing the table knows; else { index, token, mayPass, words }.
export function refusalOf(game, status, token) {
  const header = token ?? '';
  const index = withText(game, header, (at, length) => game.kestrel_refusal(status, at, length));
  return index < 0 ? null : { index, ...readContract(game).refusals[index] };
}

// The answer's refusal, for a fetch Response.
export function refusalOfResponse(game, response) {
  return refusalOf(game, response.status, response.headers.get(readContract(game).refusalHeader));
}

// Why "Play together" opened no room, in words, from the server's answer to
// POST /rooms: its refusal (refusalOf), status, and Retry-After (seconds
// or a date; null when it sent none), read at `now` (ms since the epoch).
export function whyNoRoom({ refusal, status, retryAfter }, now = Date.now()) {
  if (!refusal) return `the server answered ${status}`;
  if (!refusal.mayPass) return refusal.words;
  const wait = secondsToWait(retryAfter, now);
  return `${refusal.words}: try again ${wait === null ? 'later' : wait === 1 ? 'in 1 second' : `in ${wait} seconds`}`;
}

// Why a refusing fetch Response refused, in words (whyNoRoom's).
export function whyRefused(game, response) {
  return whyNoRoom({ refusal: refusalOfResponse(game, response), status: response.status,
                     retryAfter: response.headers.get('retry-after') });
}

// A Retry-After's wait in whole seconds, at least one; null for none, or
// for one that is neither.
export function secondsToWait(retryAfter, now) {
  if (retryAfter === null || retryAfter === undefined) return null;
  const text = retryAfter.trim();
  const at = /^\d+$/.test(text) ? now + 1000 * Number(text) : Date.parse(text);
  return Number.isFinite(at) ? Math.max(1, Math.ceil((at - now) / 1000)) : null;
}

// One room, followed through sockets made by `openSocket(url)` (the
// browser's WebSocket), its states and waits kept by `connection`
// (roomConnection), waits timed by `clock`. A browser is not told why an
// upgrade was refused: `askWhy(checkUrl)` asks the server (a plain GET of
// the socket's address) and resolves to the refusal (refusalOf) or null.
// `addresses()`, if given, answers { url, checkUrl } afresh for each
// connection (a player's socket carries its seat token once it has one).
// `onChange(room)` runs when what describeRoom shows has changed,
// `onMismatch(count)` when the server found this screen's battle differing
// from its own once more, `onFrame()` after each frame the game took,
// `onSeats(legend)` when the seats or this screen's tank changed (the
// parsed liveClient seats()).
export class Room {
  #socket = null;
  #cancelRetry = null;
  #everJoined = false;
  #seatsShown = null;

  constructor({ url, checkUrl = null, addresses = null, askWhy = async () => null, watching, live, connection, clock,
                openSocket, onChange = () => {}, onMismatch = () => {}, onFrame = () => {}, onSeats = () => {} }) {
    Object.assign(this, { url, checkUrl, addresses, askWhy, watching, live, connection, clock, openSocket, onChange,
                          onMismatch, onFrame, onSeats });
    this.state = connection.state();
    this.people = 0;
    this.mismatches = 0;
    this.retryMs = 0;
    this.reason = '';
    this.#connect();
  }

  // After each tick of the game: what it has for the server goes out (lost
  // while there is no connection), and what it learnt is shown.
  afterTick() {
    this.#sendOutgoing();
    this.#noticeChanges();
  }

  // After each pointer event or key: a press, a release or a key goes out
  // at once, a tick sooner than with the tick; moves still wait for it, so
  // that the room gets one a tick at most.
  afterInput() {
    if (this.live.urgent()) this.#sendOutgoing();
  }

  #sendOutgoing() {
    const frames = this.live.takeOutgoing();
    const socket = this.#socket;
    if (socket?.readyState === 1) for (const frame of frames) socket.send(frame);
  }

  // Out of the room for good (Esc): no more frames, no more tries.
  close() {
    this.#cancelRetry?.();
    this.#cancelRetry = null;
    this.#drop();
    this.connection.close();
    this.#set({ state: this.connection.state() });
  }

  // For tests: the connection goes as if the network had dropped it.
  dropConnection() {
    this.#socket?.close();
  }

  #connect() {
    this.#cancelRetry = null;
    if (this.addresses) Object.assign(this, this.addresses());
    const socket = this.openSocket(this.url);
    this.#socket = socket;
    this.connection.connecting();
    this.#set({ state: this.connection.state() });
    let opened = false;
    socket.onopen = () => {
      opened = true;
      // A join text follows, from which the game catches up.
      if (this.#everJoined) this.live.reconnected();
    };
    socket.onmessage = event => this.#receive(event.data);
    socket.onclose = event => {
      if (this.#socket !== socket) return;
      if (opened || !this.checkUrl) this.#lost(event.reason);
      else this.#askWhyRefused();
    };
  }

  // A socket that never opened: refused, or the server not reached.
  async #askWhyRefused() {
    this.#socket = null;
    const refusal = await this.askWhy(this.checkUrl);
    if (this.connection.state() === 'closed') return;  // left meanwhile
    if (!refusal) {
      this.#lost('');
      return;
    }
    const retryMs = this.connection.refused(refusal);
    this.#set({ state: this.connection.state(), retryMs: retryMs ?? 0, reason: refusal.words });
    if (retryMs !== null) this.#cancelRetry = this.clock.after(retryMs, () => this.#connect());
  }

  #receive(frame) {
    if (typeof frame !== 'string') return;
    const refused = this.live.receive(frame);
    if (refused !== null) {
      this.#drop();
      this.#lost(`the room sent what this page cannot read: ${refused}`);
      return;
    }
    if (this.state !== 'live' && this.live.joined()) {
      this.#everJoined = true;
      this.connection.joined();
      this.#set({ state: this.connection.state(), reason: '' });
    }
    this.#noticeChanges();
    this.onFrame();
  }

  #lost(reason) {
    this.#socket = null;
    const retryMs = this.connection.lost();
    if (retryMs === null) return;
    this.#set({ state: this.connection.state(), retryMs, reason });
    this.#cancelRetry = this.clock.after(retryMs, () => this.#connect());
  }

  #drop() {
    const socket = this.#socket;
    this.#socket = null;
    if (socket) {
      socket.onopen = socket.onmessage = socket.onclose = null;
      socket.close(1000);
    }
  }

  #noticeChanges() {
    const mismatches = this.live.mismatches();
    if (mismatches > this.mismatches) {
      this.mismatches = mismatches;
      this.onMismatch(mismatches);
    }
    const people = this.live.people();
    if (people !== this.people) this.#set({ people });
    const seats = this.live.seats?.() ?? null;
    if (seats !== this.#seatsShown) {
      this.#seatsShown = seats;
      if (seats !== null) this.onSeats(JSON.parse(seats));
    }
  }

  #set(changes) {
    const before = describeRoom(this);
    Object.assign(this, changes);
    if (describeRoom(this) !== before) this.onChange(this);
  }
}
