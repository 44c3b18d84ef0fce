// For the pages in live rooms: the real kestrel-server on the loopback and
// headless Chromium, each page in a browser of its own. While the server
// is stopped (SIGSTOP) every page rests on the last tick it was sent; then
// checkRestingPages compares their pictures, with one another and with what
// kestrel-trace draws from the room's own recording at that tick, and their
// records with the room's.

import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before } from 'node:test';
import { fileURLToPath } from 'node:url';
import { launchChromium, openGame, pause, picture, probe, readPng, servedUpToTick, SLOT_COUNT, startServer }
  from './support.mjs';

const NATIVE_TRACE = process.env.KESTREL_NATIVE_TRACE ||
  fileURLToPath(new URL('../../build/default/tools/kestrel-trace', import.meta.url));
// A battle of tanks too tough to fall, each at (x, y) going after its
// target: it never ends, so the room's canvas is never cleared after its
// start, and a screen that joins catches up every tick since.
const TOUGH = 32767;
export const toughBattle = ({ seed, width, height, tanks }) => ['version 2', `seed ${seed}`, `size ${width} ${height}`,
  ...tanks.flatMap(([x, y, target], s) =>
    [`set tankX ${s} ${x}`, `set tankY ${s} ${y}`, `set tankHits ${s} ${TOUGH}`, `set tankTarget ${s} ${target}`]),
].join('\n');
export const ENDLESS_BATTLE = toughBattle({ seed: 46, width: 400, height: 300,
                                            tanks: [[60, 80, 1], [340, 120, 2], [200, 260, 0]] });

// Files of the tests of one file: the server's rooms, replays, grabs.
export const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrel-live-'));
// The server and `browsers` browsers (env.browsers; env.browser and
// env.second, the first two), started before the tests of the file that
// calls it and stopped after them (a page in a background tab of a browser
// would not tick, so each page has a browser of its own).
export function useServerAndBrowsers(browsers = 2, chromiumOptions = {}) {
  const env = {};
  before(async () => {
    env.server = server = await startServer({ args: ['--data', scratch] });
    env.browsers = await Promise.all(Array.from({ length: browsers }, () => launchChromium(chromiumOptions)));
    [env.browser, env.second] = env.browsers;
  });
  after(async () => {
    await Promise.all((env.browsers ?? []).map(browser => browser.close()));
    await env.server?.close();
    fs.rmSync(scratch, { recursive: true, force: true });
  });
  return env;
}
let server;

export const status = async () => (await fetch(new URL('status', server.url))).json();
export const roomRecording = async id => (await fetch(new URL(`rooms/${id}/recording`, server.url))).text();
// Whether the room's recording holds `line`.
export const recorded = async (id, line) => (await roomRecording(id)).split('\n').includes(line);

export const roomState = page => page.evaluate(() => window.kestrel.room?.state);
export const POLL = { polling: 50, timeout: 10_000 };
export const live = page =>
  page.waitForFunction(() => window.kestrel.room?.state === 'live' && window.kestrel.ticksAhead() <= 2, POLL);

export async function openRoomPage(link, inBrowser) {
  const { page, problems } = await openGame(inBrowser, link, { realClock: true });
  await live(page);
  return { page, problems };
}

// What kestrel-trace draws and holds at the end of a script: its picture,
// its `state` lines, and of them the tanks' fields, and its `score` lines.
export function traced(script) {
  const file = path.join(scratch, 'room.trace'), png = path.join(scratch, 'room.png');
  fs.writeFileSync(file, `${script}snap ${png}\nscore\nstate\n`);
  const run = spawnSync(NATIVE_TRACE, [file], { maxBuffer: 1 << 30, encoding: 'latin1' });
  assert.equal(run.status, 0, run.stderr);
  const state = run.stdout.slice(run.stdout.lastIndexOf('\ntank 0 ') + 1);
  return { picture: readPng(png), state,
           tanks: state.split('\n').slice(0, SLOT_COUNT).map(line => line.split(' ')),
           scores: run.stdout.split('\n').filter(line => line.startsWith('score ')) };
}

// The pages at rest: every page has played all it was sent, the same three
// looks in a row. They rest on one tick unless the stop came between two
// pages' copies of one frame; then the server goes on a moment and stops
// again. A page a busy machine left far behind (its frames still in the
// server's queue) is let catch up before each stop.
const REST_TRIES = 5;
const CLOSE_TICKS = 40;
async function closeTogether(pages) {
  const deadline = Date.now() + POLL.timeout;
  while (Date.now() < deadline) {
    const ticks = await Promise.all(pages.map(page => page.evaluate(() => window.kestrel.roomTick())));
    if (Math.max(...ticks) - Math.min(...ticks) <= CLOSE_TICKS) return;
    await pause(50);
  }
}
async function restOnOneTick(pages) {
  for (let attempt = 1; ; ++attempt) {
    await closeTogether(pages);
    server.pause();
    let last = '';
    for (let same = 0; same < 3; await pause(100)) {
      const look = JSON.stringify(await Promise.all(pages.map(page =>
        page.evaluate(() => [window.kestrel.roomTick(), window.kestrel.ticksAhead()]))));
      same = look === last ? same + 1 : 0;
      last = look;
    }
    const ticks = JSON.parse(last);
    if (ticks.every(([tick, ahead]) => tick === ticks[0][0] && ahead === 0)) return ticks[0][0];
    assert.ok(attempt < REST_TRIES, `the pages rest apart: ${last}`);
    server.resume();
    await pause(50);
  }
}

// What `act` answers, done with the server stopped and every page resting
// on one tick: a page shows the room as the room stands. The server goes
// on afterwards.
export async function whileResting(pages, act) {
  try {
    await restOnOneTick(pages);
    return await act();
  } finally {
    server.resume();
  }
}

// One probe of every page's record, all resting on one tick.
export const restingProbe = (pages, name, slot = 0) =>
  whileResting(pages, () => Promise.all(pages.map(page => probe(page, name, slot))));

// Stops the server, waits for every page to rest on one tick, and checks
// the pages against one another and against the room's recording at that
// tick; the server goes on afterwards.
export async function checkRestingPages(roomId, pages) {
  try {
    const tick = await restOnOneTick(pages);
    const pictures = await Promise.all(pages.map(picture));
    const records = await Promise.all(pages.map(page => page.evaluate(count => Array.from({ length: count }, (_, s) =>
      ['tankX', 'tankY', 'tankHits', 'tankTarget'].map(name => window.kestrel.probe(name, s))), SLOT_COUNT)));
    server.resume();
    const room = traced(await servedUpToTick(() => roomRecording(roomId), tick));
    for (const [i, shown] of pictures.entries()) {
      assert.ok(shown.equals(room.picture.data), `page ${i}'s picture at tick ${tick} is the room's`);
      const tanks = room.tanks.map(([, , x, y, , , hits, , target]) => [x, y, hits, target].map(Number));
      assert.deepEqual(records[i], tanks, `page ${i}'s tanks at tick ${tick} are the room's`);
    }
    return tick;
  } finally {
    server.resume();
  }
}

// Where a tank is on a page, in the page's pixels: the view is slanted, the
// field shown whole in the canvas.
export async function onScreen(page, slot) {
  return page.evaluate(s => {
    const box = document.querySelector('canvas').getBoundingClientRect();
    const { probe } = window.kestrel;
    const scale = box.width / probe('canvasWidth');
    return { x: box.left + probe('tankX', s) * scale,
             y: box.top + (0.5 * probe('tankY', s) + 0.25 * probe('canvasHeight')) * scale };
  }, slot);
}

