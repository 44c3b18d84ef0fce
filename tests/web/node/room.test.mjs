// A live room on the page (web/room.js), with a made-up socket and clock,
// and a made-up game or the built one: what goes out and when (a press at
// once, before the next tick), a lost connection tried again after waits
// doubling up to their longest, catching up on the new connection, and
// what the room's line says; why no room could be opened.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { instantiateModule, readContract } from '../../../web/module.js';
import { Room, describeRoom, liveClient, refusalOf, roomConnection, whyNoRoom } from '../../../web/room.js';
import { battlesNote, describeBattle, playWithAnyone } from '../../../web/lobby.js';

const SOURCE = fileURLToPath(new URL('../../../', import.meta.url));
const SITE = process.env.KESTREL_SITE ?? path.join(SOURCE, 'build/web');
const game = await instantiateModule(fs.readFileSync(path.join(SITE, 'kestrel.wasm')));
const { firstRetryMs: FIRST_RETRY_MS, lastRetryMs: LAST_RETRY_MS, anyoneTries: ANYONE_TRIES } = readContract(game);
const CHECK_URL = 'http://127.0.0.1:1/rooms/ab/socket?key=cd';
// The server's answers to a check, as the page reads them.
const answer = (status, token = null) => refusalOf(game, status, token);
const settled = () => new Promise(resolve => setImmediate(resolve));

// A clock that moves only when told, and sockets that open, bring frames
// and close when told.
function setUp({ realGame = false, askWhy = null, addresses = null, onSeats = () => {} } = {}) {
  let now = 0;
  const timers = [];
  const clock = {
    now: () => now,
    after(ms, fn) {
      const timer = { due: now + ms, fn };
      timers.push(timer);
      return () => timers.splice(timers.indexOf(timer), 1);
    },
    advance(ms) {
      now += ms;
      for (const timer of timers.filter(t => t.due <= now)) {
        timers.splice(timers.indexOf(timer), 1);
        timer.fn();
      }
    },
  };
  const sockets = [], sent = [], calls = [];
  const openSocket = url => {
    const socket = {
      url, readyState: 0,
      send: frame => sent.push(frame),
      close() {
        socket.readyState = 3;
        socket.onclose?.({ reason: '' });
      },
      open() {
        socket.readyState = 1;
        socket.onopen?.();
      },
      frame: data => socket.onmessage({ data }),
    };
    sockets.push(socket);
    return socket;
  };
  const live = {
    outgoing: [], people: 0, mismatches: 0, joined: false,
    receive(frame) {
      calls.push(frame);
      if (frame === 'bad') return 'line 1: no such command';
      if (frame.startsWith('version')) live.joined = true;
      return null;
    },
    reconnected: () => calls.push('reconnected'),
    takeOutgoing() {
      const frames = live.outgoing;
      live.outgoing = [];
      return frames;
    },
  };
  const shown = [];
  if (realGame) game.kestrel_start();
  const room = new Room({
    url: 'ws://127.0.0.1:1/rooms/ab/socket?key=cd', watching: false, clock, openSocket, onChange: r => shown.push(describeRoom(r)),
    live: realGame ? liveClient(game, false)
      : { ...live, people: () => live.people, mismatches: () => live.mismatches, joined: () => live.joined,
          receive: live.receive, takeOutgoing: live.takeOutgoing },
    connection: roomConnection(game), addresses, onSeats,
    ...(askWhy ? { checkUrl: CHECK_URL, askWhy } : {}),
  });
  const join = socket => {
    socket.open();
    socket.frame('# joined 80');
    socket.frame('version 2\nseed 5\nsize 400 300\ntick 3\n');
  };
  return { room, clock, sockets, sent, calls, live, shown, join, timers };
}

describe('a live room', () => {
  test('sends the game\'s frames after each tick, once connected', () => {
    const { room, sockets, sent, live, join } = setUp();
    live.outgoing = ['down 1 10 20\n'];
    room.afterTick();
    assert.deepEqual(sent, [], 'nothing before the connection is open');
    join(sockets[0]);
    live.outgoing = ['down 1 10 20\nhash 40 00000000000000ff\n', 'up 1 10 20\n'];
    room.afterTick();
    room.afterTick();
    assert.deepEqual(sent, ['down 1 10 20\nhash 40 00000000000000ff\n', 'up 1 10 20\n']);
  });

  test('a press, a release or a key goes out at once, before the next tick; a move waits for it', () => {
    const { room, sockets, sent, join } = setUp({ realGame: true });
    join(sockets[0]);
    assert.equal(room.state, 'live');
    const LEFT = 0;
    game.kestrel_pointer_move(5, 6);
    room.afterInput();
    assert.deepEqual(sent, [], 'a move waits for the tick');
    game.kestrel_pointer_down(LEFT, 10, 20);
    room.afterInput();
    assert.deepEqual(sent, ['move 5 6\ndown 1 10 20\n'], 'the press at once, the move before it with it');
    game.kestrel_pointer_up(LEFT, 10, 20);
    room.afterInput();
    game.kestrel_key(-1, 'a'.charCodeAt(0));
    room.afterInput();
    game.kestrel_pointer_move(7, 8);
    room.afterInput();
    assert.deepEqual(sent.slice(1), ['up 1 10 20\n', 'key 97\n']);
    assert.equal(room.live.urgent(), false);
    game.kestrel_tick();
    room.afterTick();
    assert.deepEqual(sent.slice(3), ['move 7 8\n']);
  });

  test('a lost connection is tried again after 0.5 s, doubling to 8 s, and catches up once back', () => {
    const { room, clock, sockets, calls, shown, join } = setUp();
    join(sockets[0]);
    assert.equal(room.state, 'live');
    assert.deepEqual(calls, ['# joined 80', 'version 2\nseed 5\nsize 400 300\ntick 3\n']);

    const waits = [];
    for (let attempt = 0; attempt < 6; attempt++) {
      sockets.at(-1).close();  // dropped, or refused before it opened
      assert.equal(room.state, 'lost');
      waits.push(room.retryMs);
      const before = sockets.length;
      clock.advance(room.retryMs - 1);
      assert.equal(sockets.length, before, 'not before its time');
      clock.advance(1);
      assert.equal(sockets.length, before + 1);
      assert.equal(room.state, 'connecting');
    }
    assert.deepEqual(waits, [FIRST_RETRY_MS, 1000, 2000, 4000, LAST_RETRY_MS, LAST_RETRY_MS]);
    assert.ok(shown.includes('The connection to the room is lost: reconnecting in 8 s.'));

    calls.length = 0;
    join(sockets.at(-1));
    assert.deepEqual(calls, ['reconnected', '# joined 80', 'version 2\nseed 5\nsize 400 300\ntick 3\n'],
                     'told of the new connection before its join text');
    sockets.at(-1).close();
    assert.equal(room.retryMs, FIRST_RETRY_MS, 'the waits start again once a connection has worked');
  });

  test('a frame the game refuses drops the connection to catch up afresh; Esc leaves for good', () => {
    const { room, clock, sockets, join, timers } = setUp();
    join(sockets[0]);
    sockets[0].frame('bad');
    assert.equal(sockets[0].readyState, 3);
    assert.equal(room.state, 'lost');
    assert.match(describeRoom(room), /cannot read: line 1: no such command/);
    clock.advance(FIRST_RETRY_MS);
    join(sockets[1]);
    room.close();
    assert.equal(sockets[1].readyState, 3);
    assert.equal(room.state, 'closed');
    assert.equal(timers.length, 0, 'no try left');
  });

  test('a socket refused before it opened asks why: what may pass is tried again, what may not ends the room', async () => {
    const answers = [answer(503, 'room-full'), answer(503), answer(426), null, answer(404, 'other-server')];
    const asked = [];
    const { room, clock, sockets, timers, join } = setUp({ askWhy: async url => (asked.push(url), answers.shift()) });
    const refuse = async () => {
      sockets.at(-1).close();
      await settled();
    };
    await refuse();
    assert.equal(describeRoom(room), 'The connection to the room is lost (the room has as many screens as it takes): ' +
                                     `reconnecting in ${FIRST_RETRY_MS / 1000} s.`);
    for (const words of ['the server holds as many rooms and screens as it takes', '', '']) {
      clock.advance(room.retryMs);
      await refuse();
      assert.deepEqual([room.state, room.reason], ['lost', words],
                       'a proxy\'s 503, a room that would take it now, a server not reached: tried again');
    }
    clock.advance(room.retryMs);
    await refuse();
    assert.equal(room.state, 'closed');
    assert.equal(describeRoom(room), 'Out of the room: the room lives on another server than the one the link reached.');
    assert.equal(timers.length, 0, 'no try left');
    assert.deepEqual(asked, Array(5).fill(CHECK_URL));
    join(sockets.at(-1));
    assert.equal(room.state, 'closed', 'nor does a late frame bring it back');
  });

  test('the words for what may not pass: an ended room, a wrong key, a full disk for a new room', async () => {
    for (const [status, token, words] of [[410, 'room-ended', 'the room has ended'],
                                          [403, 'wrong-key', 'the link\'s key does not open that room']]) {
      const { room, sockets, timers } = setUp({ askWhy: async () => answer(status, token) });
      sockets[0].close();
      await settled();
      assert.equal(describeRoom(room), `Out of the room: ${words}.`);
      assert.equal(timers.length, 0);
    }
    assert.equal(whyNoRoom({ refusal: answer(503, 'disk-full'), status: 503, retryAfter: '5' }, 0),
                 'the server\'s disk is full: it cannot keep a new room now: try again in 5 seconds');
  });

  test('the room\'s line: its state, and how many are in it; a mismatch is told once each', () => {
    const { room, sockets, join, live, shown } = setUp();
    const mismatches = [];
    room.onMismatch = count => mismatches.push(count);
    assert.equal(describeRoom(room), 'Connecting to the room…');
    join(sockets[0]);
    live.people = 3;
    room.afterTick();
    live.mismatches = 1;
    room.afterTick();
    room.afterTick();
    assert.deepEqual(shown.slice(-2), ['Live: 0 in the room.', 'Live: 3 in the room.']);
    assert.deepEqual(mismatches, [1]);
    assert.equal(describeRoom({ ...room, watching: true }), 'Watching: 3 in the room.');
  });
});

describe('a player\'s seat', () => {
  const TOKEN = '5e'.repeat(16);
  test('its token goes with the next socket; its tank and the seats are shown when they change, and only then', () => {
    const legends = [];
    let room;
    const addresses = () => ({ url: `ws://127.0.0.1:1/socket?seat=${room?.live.seatToken() ?? ''}` });
    const made = setUp({ realGame: true, addresses, onSeats: legend => legends.push(legend) });
    room = made.room;
    const { sockets } = made;
    assert.equal(sockets[0].url, 'ws://127.0.0.1:1/socket?seat=');
    sockets[0].open();
    for (const frame of ['# joined 80', `# seat 1 ${TOKEN}`, '# roster here here',
                         'version 3\nseed 5\nsize 400 300\nseats 2\ntick 3\n']) sockets[0].frame(frame);
    const shown = legends.length;
    room.afterTick();
    assert.equal(legends.length, shown, 'not shown again while nothing changed');
    const { yours, colourName, seats } = legends.at(-1);
    assert.deepEqual([yours, colourName], ['You are the vermilion tank.', 'vermilion']);
    assert.deepEqual(seats.map(seat => [seat.label, seat.yours, seat.presence]), [['1', false, 'here'], ['2', true, 'here']]);
    sockets[0].close();
    made.clock.advance(FIRST_RETRY_MS);
    assert.equal(sockets[1].url, `ws://127.0.0.1:1/socket?seat=${TOKEN}`);
  });
});

describe('why "Play together" opened no room', () => {
  const NOW = Date.UTC(2025, 0, 1, 12, 0, 0);
  const inHalfAMinute = new Date(NOW + 30_000).toUTCString();

  test('too many rooms from this address: when to try again, from Retry-After in seconds or as a date', () => {
    for (const [retryAfter, when] of [['12', 'in 12 seconds'], ['1', 'in 1 second'], [inHalfAMinute, 'in 30 seconds'],
                                      [' 7 ', 'in 7 seconds'], [null, 'later'], ['soon', 'later']]) {
      assert.equal(whyNoRoom({ refusal: answer(429, 'too-many-rooms'), status: 429, retryAfter }, NOW),
                   `this address has opened as many rooms as the server allows in a minute: try again ${when}`,
                   String(retryAfter));
    }
  });

  test('a full server: try later, or when it says', () => {
    assert.equal(whyNoRoom({ refusal: answer(503), status: 503, retryAfter: null }, NOW), 'the server holds as many rooms and screens as it takes: try again later');
    assert.equal(whyNoRoom({ refusal: answer(503), status: 503, retryAfter: '0' }, NOW), 'the server holds as many rooms and screens as it takes: try again in 1 second');
    assert.equal(whyNoRoom({ refusal: answer(503), status: 503, retryAfter: inHalfAMinute }, NOW),
                 'the server holds as many rooms and screens as it takes: try again in 30 seconds');
  });

  test('an answer that names no refusal, by its status', () => {
    for (const status of [500, 502]) {
      assert.equal(whyNoRoom({ refusal: answer(status), status, retryAfter: '5' }, NOW), `the server answered ${status}`);
    }
  });
});

describe('rooms open to anyone', () => {
  // A server's answers, in the order given, and the requests it was sent.
  const server = answers => {
    const asked = [];
    const fetch = async (path, { body }) => {
      asked.push([path, JSON.parse(body)]);
      const [status, json, refusal = null] = answers.shift();
      return { ok: status < 300, status, json: async () => json, text: async () => JSON.stringify(json),
               headers: { get: name => (name === readContract(game).refusalHeader ? refusal : null) } };
    };
    return { fetch, asked };
  };
  const ROOM = 'b1-0123456789abcdef0123456789abcdef', SEAT = `/rooms/${ROOM}/seat`;
  const PAGE = 'http://b1.example/';
  const PLAY = { room: ROOM, play: `${PAGE}#live=${ROOM}.fedcba98765432100123456789abcdef`,
                 watch: `${PAGE}#watch=${ROOM}` };
  const size = { width: 300, height: 200 };

  test('a room found full on another server is tried again, then the page opens its own', async () => {
    const elsewhere = [200, { room: ROOM, seat: SEAT }];
    const full = [409, {}, 'seats-taken'];
    const { fetch, asked } = server([...Array.from({ length: ANYONE_TRIES }, () => [elsewhere, full]).flat(),
                                     [201, PLAY]]);
    assert.deepEqual(await playWithAnyone(game, { size, fetch }), PLAY);
    assert.deepEqual(asked.map(([path]) => path), [
      ...Array.from({ length: ANYONE_TRIES }, () => ['/rooms/anyone', SEAT]).flat(), '/rooms/anyone?new=1']);
    assert.deepEqual(asked[0][1], size, 'the size of a room the page would open');
  });

  test('a seat given is played in; a refusal that is not a full room ends the search, in words', async () => {
    const seated = server([[200, { room: ROOM, seat: SEAT }], [200, PLAY]]);
    assert.deepEqual(await playWithAnyone(game, { size, fetch: seated.fetch }), PLAY);
    const limited = server([[429, {}, 'too-many-queries']]);
    await assert.rejects(playWithAnyone(game, { size, fetch: limited.fetch }),
                         /asked for the open rooms as often as the server allows in a minute: try again later/);
  });

  test('an entry and the list in words, and a list that may lack other servers\' rooms', () => {
    assert.equal(describeBattle({ seats_taken: 4, seats_free: 2, watchers: 1, leader: { kills: 3, wins: 1 },
                                  seconds: 3725 }, 1), 'Battle 2: 4 of 6 seats taken, 1 watching, leading 1 win, 3 kills, 1 h 2 min');
    assert.equal(describeBattle({ seats_taken: 1, seats_free: 5, watchers: 0, leader: { kills: 0, wins: 0 },
                                  seconds: 30 }, 0), 'Battle 1: 1 of 6 seats taken, 0 watching, no score yet, just begun');
    assert.match(battlesNote({ whole: false, rooms: [] }), /may be incomplete/);
    assert.equal(battlesNote({ whole: true, rooms: [{}] }), '');
  });
});
