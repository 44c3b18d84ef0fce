// The window in a room: the real kestrel-server on the loopback, the real
// window (kestrel --join) on a virtual X server of the test's own, and two
// headless Chromium pages, one playing and one watching. The window drags a
// tank and presses a key (real X events), the playing page presses a key.
// While the server is stopped (SIGSTOP) every screen rests on the last
// tick it was sent: then the window's grabbed pixels and the pages'
// pictures are what kestrel-trace draws from the room's recording at that
// tick, the battle the window recorded (--record) replays to the room's
// record, and no screen's hash differed from the room's. A link that opens
// no room is one line and status 2.

import assert from 'node:assert/strict';
import { execFile, spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { promisify } from 'node:util';
import { CONTRACT, openGame, pause, picture, probe, readPng, roomTick, upToTick } from './support.mjs';
import { recorded, roomRecording, scratch, status, toughBattle, traced, useServerAndBrowsers } from './rooms.mjs';

const BUILD = fileURLToPath(new URL('../../build/default/', import.meta.url));
const WINDOW = process.env.KESTREL_WINDOW || path.join(BUILD, 'app/kestrel');
const WINDOW_PIXELS = process.env.KESTREL_WINDOW_PIXELS || path.join(BUILD, 'tests/e2e/kestrel-window-pixels');
const WITH_XVFB = fileURLToPath(new URL('../screen/with-xvfb', import.meta.url));
const SCREEN = '1280x1024x24';
const run = promisify(execFile);

// Three tanks too tough to fall, at places apart: the one the window
// presses on is there, alone, when the press comes.
const [WIDTH, HEIGHT] = [480, 360];
const TOUGH_BATTLE = `${toughBattle({ seed: 31, width: WIDTH, height: HEIGHT,
                                      tanks: [[80, 100, 1], [400, 140, 2], [240, 300, 0]] })}\ntick 1\n`;
const [KEY_W, KEY_Q] = [119, 113];
const MASKED_FRAME_HEADER = 6;  // a screen's short WebSocket frame: 2 bytes and the mask
const WAIT_MS = 15_000;
const START_TIMEOUT_MS = 30_000;  // a loaded two-core machine may be slow to start anything
const RESTS = 3;  // looks in a row that find every screen on one tick
const REST_TIMEOUT_MS = 8000;  // for them, the window's recording being saved once a second
const TRIES = 3;  // stops of the server, should one land between two screens' frames

const env = useServerAndBrowsers(2, { width: WIDTH, height: HEIGHT });
let xvfb, xEnv;
before(async () => {
  xvfb = await startXvfb();
  const runtime = path.join(scratch, 'runtime');
  fs.mkdirSync(runtime, { mode: 0o700 });
  xEnv = { ...process.env, DISPLAY: xvfb.display, QT_QPA_PLATFORM: 'xcb', XDG_RUNTIME_DIR: runtime };
  delete xEnv.WAYLAND_DISPLAY;
  delete xEnv.QT_SCALE_FACTOR;  // the window at one pixel per unit, as kestrel-trace draws
});
after(async () => {
  await xvfb?.close();
});

// A private X server (tests/screen/with-xvfb) for as long as the tests run.
async function startXvfb() {
  const child = spawn(WITH_XVFB, ['--screen', SCREEN, 'sleep', 'infinity'], { stdio: ['ignore', 'pipe', 'inherit'] });
  const gone = new Promise(resolve => child.once('exit', resolve));
  const display = await new Promise((resolve, reject) => {
    let output = '';
    child.stdout.setEncoding('utf8').on('data', chunk => {
      output += chunk;
      const started = /^X server on (:\d+) /m.exec(output);
      if (started) resolve(started[1]);
    });
    gone.then(code => reject(new Error(`with-xvfb ended (${code}): ${output}`)));
  });
  return { display, close: () => { child.kill('SIGTERM'); return gone; } };
}

// Polls `condition` until it gives something other than false, undefined or
// null, and returns that; fails after WAIT_MS with what it waited for.
async function until(what, condition, timeoutMs = WAIT_MS) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = await condition();
    if (value !== false && value !== undefined && value !== null) return value;
    if (Date.now() > deadline) throw new Error(`waited ${timeoutMs} ms in vain for ${what}`);
    await pause(50);
  }
}

const xdotool = (...args) => run('xdotool', args, { env: xEnv });

// kestrel --join LINK on the X server, and its window's id once it shows.
async function startWindow(args) {
  const child = spawn(WINDOW, args, { env: xEnv, stdio: ['ignore', 'pipe', 'pipe'] });
  let output = '';
  for (const stream of [child.stdout, child.stderr]) stream.setEncoding('utf8').on('data', chunk => { output += chunk; });
  const id = await until('the window', async () => {
    assert.equal(child.exitCode, null, `kestrel ended: ${output}`);
    return (await xdotool('search', '--onlyvisible', '--name', '^3D Kestrel').catch(() => ({ stdout: '' })))
      .stdout.split('\n')[0] || null;
  }, START_TIMEOUT_MS).catch(error => {
    child.kill('SIGKILL');
    throw new Error(`${error.message}; kestrel wrote: ${output}`);
  });
  return { id, pid: child.pid, exitCode: () => child.exitCode ?? child.signalCode, kill: () => child.kill('SIGKILL') };
}
const title = async shell => (await xdotool('getwindowname', shell.id)).stdout.trim();

// The room's tick a recording from the window has reached: the tick of its
// "# joined T" line and the ticks after it.
function recordedTick(file) {
  const text = fs.readFileSync(file, 'latin1');
  const joined = /^# joined (\d+)\n/.exec(text);
  if (!joined) return undefined;
  let tick = Number(joined[1]);
  for (const [, count] of text.matchAll(/^tick(?: (\d+))? *$/gm)) tick += Number(count ?? 1);
  return tick;
}

// The window's picture, once the X server shows all it was sent: two grabs
// alike.
async function grab(shell) {
  let previous;
  for (let look = 0; look < 50; ++look) {
    const file = path.join(scratch, `grab${look % 2}.png`);
    await run(WINDOW_PIXELS, [shell.id, '--save', file], { env: xEnv });
    const bytes = fs.readFileSync(file);
    if (previous?.equals(bytes)) return readPng(file);
    previous = bytes;
  }
  throw new Error('the window\'s picture does not settle');
}

// Stops the server and waits until every screen rests on one tick: the
// pages on it with nothing ahead, looked at RESTS times in a row, and the
// window's recording there in two saves since the stop (the window plays
// dozens of ticks between two). Should the screens stay apart (the stop fell
// between two screens' frames of one tick), the server runs on a little
// and is stopped again. The tick, with the server stopped.
async function rest(pages, recording) {
  let seen;
  for (let tries = 0; tries < TRIES; ++tries) {
    if (tries > 0) {
      env.server.resume();
      await pause(100);
    }
    env.server.pause();
    const stopped = Date.now();
    const saves = [];
    let tick, rests = 0;
    for (const deadline = stopped + REST_TIMEOUT_MS; Date.now() < deadline;) {
      await pause(100);
      const ticks = await Promise.all(pages.map(roomTick));
      const ahead = await Promise.all(pages.map(page => page.evaluate(() => window.kestrel.ticksAhead())));
      const { mtimeMs } = fs.statSync(recording);
      if (mtimeMs > stopped && mtimeMs !== saves.at(-1)?.at) saves.push({ at: mtimeMs, tick: recordedTick(recording) });
      seen = { pages: ticks, ahead, window: saves.map(save => save.tick) };
      rests = ticks.every(t => t === ticks[0]) && ahead.every(a => a === 0) && ticks[0] === tick ? rests + 1 : 0;
      tick = ticks[0];
      if (rests >= RESTS && saves.length >= 2 && saves.slice(-2).every(save => save.tick === tick)) return tick;
    }
  }
  env.server.resume();
  throw new Error(`the screens do not come to rest on one tick: ${JSON.stringify(seen)}`);
}

// Every screen at rest against the room's recording at that tick; the
// server goes on afterwards.
async function checkResting(roomId, pages, shell, recording) {
  const tick = await rest(pages, recording);
  try {
    const pictures = await Promise.all(pages.map(picture));
    const shown = await grab(shell);
    assert.equal(recordedTick(recording), tick, 'the window\'s recording reaches the tick it rests on');
    const kept = traced(fs.readFileSync(recording, 'latin1'));
    env.server.resume();

    const room = traced(upToTick(await roomRecording(roomId), tick));
    for (const [i, shownByPage] of pictures.entries())
      assert.ok(shownByPage.equals(room.picture.data), `page ${i}'s picture at tick ${tick} is the room's`);
    assert.deepEqual([shown.width, shown.height], [WIDTH, HEIGHT]);
    assert.ok(shown.data.equals(room.picture.data), `the window's pixels at tick ${tick} are the room's`);
    assert.equal(kept.state, room.state, 'the window\'s recording replays to the room\'s record');
    assert.ok(kept.picture.data.equals(room.picture.data), 'and to its picture');
    return tick;
  } finally {
    env.server.resume();
  }
}

// Bytes the window sent the stopped server that it has not read yet: the
// kernel's receive queue at the server's end of the window's connection.
function unreadFromWindow(shell) {
  const serverEnd = `0100007F:${Number(new URL(env.server.url).port).toString(16).toUpperCase().padStart(4, '0')}`;
  const sockets = fs.readFileSync('/proc/net/tcp', 'utf8').split('\n').slice(1).map(line => line.trim().split(/\s+/));
  const held = new Set(fs.readdirSync(`/proc/${shell.pid}/fd`).map(fd => {
    try { return fs.readlinkSync(`/proc/${shell.pid}/fd/${fd}`); } catch { return ''; }
  }));
  const [, windowEnd] = sockets.find(fields => fields[2] === serverEnd && held.has(`socket:[${fields[9]}]`));
  const [, , , , queues] = sockets.find(([, local, remote]) => local === serverEnd && remote === windowEnd);
  return parseInt(queues.split(':')[1], 16);
}

// Where a tank shows in the window, at one pixel per unit: the view is
// slanted.
const inWindow = async (page, slot) =>
  [await probe(page, 'tankX', slot), 0.5 * await probe(page, 'tankY', slot) + 0.25 * HEIGHT].map(Math.round);

test('a link that opens no room is one line and status 2, before any window', async () => {
  const made = await (await fetch(new URL('rooms', env.server.url), { method: 'POST' })).json();
  const closed = net.createServer();
  await new Promise(resolve => closed.listen(0, '127.0.0.1', resolve));
  const closedPort = closed.address().port;
  await new Promise(resolve => closed.close(resolve));
  const madeUp = '0123456789abcdef'.repeat(2);
  for (const [link, reason] of [
    [`http://127.0.0.1:${closedPort}/#watch=${made.room}`, 'cannot reach the server (Connection refused)'],
    [`${env.server.url}#watch=${madeUp}`, 'there is no such room on that server'],
    [`${env.server.url}#live=${made.room}.${madeUp}`, 'the link\'s key does not open that room'],
  ]) {
    const started = spawnSync(WINDOW, ['--join', link], { env: xEnv, encoding: 'utf8', timeout: WAIT_MS });
    assert.deepEqual([started.status, started.stderr, started.stdout], [2, `kestrel: ${link}: ${reason}\n`, '']);
  }
});

test('the window, a playing page and a watching page show one battle, the room\'s', async () => {
  const made = await fetch(new URL('rooms', env.server.url), {
    method: 'POST', headers: { 'content-type': 'text/plain' }, body: TOUGH_BATTLE,
  });
  assert.equal(made.status, 201);
  const { room: roomId, play, watch } = await made.json();
  const recording = path.join(scratch, 'window.rec');
  const shell = await startWindow(['--join', play, '--record', recording]);
  try {
    const pages = [];
    for (const [link, browser] of [[play, env.browsers[0]], [watch, env.browsers[1]]]) {
      const { page } = await openGame(browser, link, { realClock: true });
      await page.waitForFunction(() => window.kestrel.room?.state === 'live', { polling: 50, timeout: WAIT_MS });
      pages.push(page);
    }
    const [player] = pages;
    await until('the window\'s title', async () => await title(shell) === '3D Kestrel (playing, 3 in the room)');
    const geometry = (await xdotool('getwindowgeometry', '--shell', shell.id)).stdout;
    assert.deepEqual(['WIDTH', 'HEIGHT'].map(side => Number(new RegExp(`^${side}=(\\d+)$`, 'm').exec(geometry)?.[1])),
                     [WIDTH, HEIGHT], 'the window takes the room\'s size');

    // The press lands where the resting screens show a tank, and reaches
    // the stopped server before it goes on: it takes the press before its
    // next tick, or the one after, the tank not far off.
    await rest(pages, recording);
    const [x, y] = await inWindow(player, 0);
    const unread = unreadFromWindow(shell);
    await xdotool('mousemove', '--window', shell.id, x, y, 'mousedown', '1');
    // (A move that goes before the press, in a frame of its own, is shorter.)
    const press = MASKED_FRAME_HEADER + `down 1 ${x} ${y}\n`.length;
    await until('the press at the server', () => unreadFromWindow(shell) >= unread + press - 1);
    env.server.resume();
    await player.waitForFunction(() => window.kestrel.probe('dragging') !== 0, { polling: 50, timeout: WAIT_MS });
    for (let step = 1; step <= 8; ++step) await xdotool('mousemove', '--window', shell.id, x + 10 * step, y + 5 * step);
    await xdotool('mouseup', '1');
    await player.waitForFunction(() => window.kestrel.probe('dragging') === 0, { polling: 50, timeout: WAIT_MS });

    await xdotool('windowfocus', shell.id);
    await xdotool('key', 'w');
    await until('the window\'s key in the room', () => recorded(roomId, `key ${KEY_W}`));
    await player.keyboard.press('q');
    await until('the page\'s key in the room', () => recorded(roomId, `key ${KEY_Q}`));
    // Past two of the ticks at which the screens hash their battles.
    const since = await roomTick(player);
    await player.waitForFunction(tick => window.kestrel.roomTick() > tick, { polling: 50, timeout: WAIT_MS },
                                 since + 2 * CONTRACT.hashEveryTicks);

    await checkResting(roomId, pages, shell, recording);
    const { mismatches, hashes_checked: checked } = await status();
    assert.equal(mismatches, 0, 'every screen\'s hashes were the room\'s');
    assert.ok(checked > 0, 'the screens\' hashes were checked');
    assert.match(await title(shell), /^3D Kestrel \(playing, 3 in the room\)$/);

    // Esc takes the window out of the room and ends it.
    await xdotool('key', 'Escape');
    assert.equal(await until('the window to end', () => shell.exitCode()), 0);
    await player.waitForFunction(() => /2 in the room/.test(document.getElementById('room').textContent),
                                 { polling: 50, timeout: WAIT_MS });
  } finally {
    shell.kill();
  }
});
