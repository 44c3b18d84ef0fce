// For the window in live rooms: the real window (kestrel --join) on a
// virtual X server of the tests' own, its grabbed pixels, and screens at
// rest. While a room's server is stopped (SIGSTOP) every screen rests on
// the last tick it was sent; checkResting then compares the window's
// pixels and the pages' pictures with what kestrel-trace draws from the
// room's recording at that tick, and the battle the window recorded
// (--record) with the room's record.

import assert from 'node:assert/strict';
import { execFile, spawn } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { after, before } from 'node:test';
import { fileURLToPath } from 'node:url';
import { promisify } from 'node:util';
import { pause, picture, readPng, roomTick, servedUpToTick } from './support.mjs';
import { scratch, traced } from './rooms.mjs';

const BUILD = fileURLToPath(new URL('../../build/default/', import.meta.url));
const WINDOW = process.env.KESTREL_WINDOW || path.join(BUILD, 'app/kestrel');
const WINDOW_PIXELS = process.env.KESTREL_WINDOW_PIXELS || path.join(BUILD, 'tests/e2e/kestrel-window-pixels');
const WITH_XVFB = fileURLToPath(new URL('../screen/with-xvfb', import.meta.url));
const SCREEN = '1280x1024x24';
const run = promisify(execFile);

export const WAIT_MS = 15_000;
const START_TIMEOUT_MS = 30_000;  // a loaded two-core machine may be slow to start anything
const RESTS = 3;  // looks in a row that find every screen on one tick
const REST_TIMEOUT_MS = 8000;  // for them, the window's recording being saved once a second
const TRIES = 3;  // stops of the server, should one land between two screens' frames

// A private X server (tests/screen/with-xvfb) for the tests of the file
// that calls it: xEnv() is the environment a window is started in there
// (`extra` added to it).
export function useXServer(extra = {}) {
  let xvfb, env;
  before(async () => {
    xvfb = await startXvfb();
    const runtime = path.join(scratch, 'runtime');
    fs.mkdirSync(runtime, { mode: 0o700, recursive: true });
    env = { ...process.env, DISPLAY: xvfb.display, QT_QPA_PLATFORM: 'xcb', XDG_RUNTIME_DIR: runtime, ...extra };
    delete env.WAYLAND_DISPLAY;
    delete env.QT_SCALE_FACTOR;  // the window at one pixel per unit, as kestrel-trace draws
  });
  after(async () => {
    await xvfb?.close();
  });
  return () => env;
}

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
// null, and returns that; fails after `timeoutMs` with what it waited for.
export async function until(what, condition, timeoutMs = WAIT_MS) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = await condition();
    if (value !== false && value !== undefined && value !== null) return value;
    if (Date.now() > deadline) throw new Error(`waited ${timeoutMs} ms in vain for ${what}`);
    await pause(50);
  }
}

export const xdotool = (xEnv, ...args) => run('xdotool', args, { env: xEnv });

// kestrel with `args` on the X server, and its window's id once it shows.
export async function startWindow(xEnv, args) {
  const child = spawn(WINDOW, args, { env: xEnv, stdio: ['ignore', 'pipe', 'pipe'] });
  let output = '';
  for (const stream of [child.stdout, child.stderr]) stream.setEncoding('utf8').on('data', chunk => { output += chunk; });
  const id = await until('the window', async () => {
    assert.ok(child.exitCode === null && child.signalCode === null, `kestrel ended: ${output}`);
    return (await xdotool(xEnv, 'search', '--onlyvisible', '--name', '^3D Kestrel').catch(() => ({ stdout: '' })))
      .stdout.split('\n')[0] || null;
  }, START_TIMEOUT_MS).catch(error => {
    child.kill('SIGKILL');
    throw new Error(`${error.message}; kestrel wrote: ${output}`);
  });
  return { id, pid: child.pid, xEnv, output: () => output, exitCode: () => child.exitCode ?? child.signalCode,
           kill: () => child.kill('SIGKILL') };
}
export const title = async shell => (await xdotool(shell.xEnv, 'getwindowname', shell.id)).stdout.trim();

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
    await run(WINDOW_PIXELS, [shell.id, '--save', file], { env: shell.xEnv });
    const bytes = fs.readFileSync(file);
    if (previous?.equals(bytes)) return readPng(file);
    previous = bytes;
  }
  throw new Error('the window\'s picture does not settle');
}

// Stops `server` and waits until every screen rests on one tick: the pages
// on it with nothing ahead, looked at RESTS times in a row, and the
// window's recording there in two saves since the stop (the window plays
// dozens of ticks between two). Should the screens stay apart (the stop
// fell between two screens' frames of one tick), the server runs on a
// little and is stopped again. The tick, with the server stopped.
export async function rest(server, pages, recording) {
  let seen;
  for (let tries = 0; tries < TRIES; ++tries) {
    if (tries > 0) {
      server.resume();
      await pause(100);
    }
    server.pause();
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
  server.resume();
  throw new Error(`the screens do not come to rest on one tick: ${JSON.stringify(seen)}`);
}

// Every screen at rest against the room's recording at that tick, read
// from `server` (which holds the room `roomId`); the server goes on
// afterwards. The window shows `size` pixels.
export async function checkResting({ server, roomId, pages, shell, recording, size }) {
  const tick = await rest(server, pages, recording);
  try {
    const pictures = await Promise.all(pages.map(picture));
    const shown = await grab(shell);
    assert.equal(recordedTick(recording), tick, 'the window\'s recording reaches the tick it rests on');
    const kept = traced(fs.readFileSync(recording, 'latin1'));
    server.resume();

    const roomRecording = async () => (await fetch(new URL(`rooms/${roomId}/recording`, server.url))).text();
    const room = traced(await servedUpToTick(roomRecording, tick));
    for (const [i, shownByPage] of pictures.entries())
      assert.ok(shownByPage.equals(room.picture.data), `page ${i}'s picture at tick ${tick} is the room's`);
    assert.deepEqual([shown.width, shown.height], size);
    assert.ok(shown.data.equals(room.picture.data), `the window's pixels at tick ${tick} are the room's`);
    assert.equal(kept.state, room.state, 'the window\'s recording replays to the room\'s record');
    assert.ok(kept.picture.data.equals(room.picture.data), 'and to its picture');
    return tick;
  } finally {
    server.resume();
  }
}
