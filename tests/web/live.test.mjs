// One battle on many screens: the real kestrel-server on the loopback and
// headless Chromium pages in its rooms, with real pointer and key events.
// While the server is stopped (SIGSTOP) every page rests on the last tick
// it was sent; then the pages' pictures are the same bytes, the same as
// kestrel-trace draws from the room's own recording at that tick, and
// their records are the room's.

import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { launchChromium, openGame, pause, picture, probe, readPng, roomTick, SLOT_COUNT, startServer, upToTick }
  from './support.mjs';

const NATIVE_TRACE = process.env.KESTREL_NATIVE_TRACE ||
  fileURLToPath(new URL('../../build/default/tools/kestrel-trace', import.meta.url));
const LEFT = 'left', RIGHT = 'right';
// Three tanks too tough to fall: their battle never ends, so the room's
// canvas is never cleared after its start, and a page that joins catches up
// every tick since.
const TOUGH = 32767;
const ENDLESS_BATTLE = ['version 2', 'seed 46', 'size 400 300',
  ...[[60, 80, 1], [340, 120, 2], [200, 260, 0]].flatMap(([x, y, target], s) =>
    [`set tankX ${s} ${x}`, `set tankY ${s} ${y}`, `set tankHits ${s} ${TOUGH}`, `set tankTarget ${s} ${target}`]),
].join('\n');
const LATE_JOIN_TICKS = 10_000;

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrel-live-'));
// Each page in a browser of its own: a page in a background tab of a
// browser would not tick.
let server, browser, second;
before(async () => {
  server = await startServer({ args: ['--data', scratch] });
  [browser, second] = await Promise.all([launchChromium(), launchChromium()]);
});
after(async () => {
  await browser?.close();
  await second?.close();
  await server?.close();
  fs.rmSync(scratch, { recursive: true, force: true });
});

const status = async () => (await fetch(new URL('status', server.url))).json();
const roomState = page => page.evaluate(() => window.kestrel.room?.state);
const POLL = { polling: 50, timeout: 10_000 };
const live = page =>
  page.waitForFunction(() => window.kestrel.room?.state === 'live' && window.kestrel.ticksAhead() <= 2, POLL);

async function openRoomPage(link, inBrowser = browser) {
  const { page, problems } = await openGame(inBrowser, link, { realClock: true });
  await live(page);
  return { page, problems };
}

// kestrel-trace's picture and record at the end of a script.
function traced(script) {
  const file = path.join(scratch, 'room.trace'), png = path.join(scratch, 'room.png');
  fs.writeFileSync(file, `${script}snap ${png}\nstate\n`);
  const run = spawnSync(NATIVE_TRACE, [file], { maxBuffer: 1 << 30, encoding: 'latin1' });
  assert.equal(run.status, 0, run.stderr);
  const state = run.stdout.trimEnd().split('\n').slice(-104);
  return { picture: readPng(png), tanks: state.slice(0, SLOT_COUNT).map(line => line.split(' ')) };
}

// Stops the server, waits for every page to rest on one tick, and checks
// the pages against one another and against the room's recording at that
// tick; the server goes on afterwards.
async function checkRestingPages(roomId, pages) {
  server.pause();
  try {
    let tick;
    for (let settled = 0; settled < 3; await pause(100)) {
      const ticks = await Promise.all(pages.map(roomTick));
      const waiting = await Promise.all(pages.map(page => page.evaluate(() => window.kestrel.ticksAhead())));
      const same = ticks.every(t => t === ticks[0]) && waiting.every(w => w === 0);
      settled = same && ticks[0] === tick ? settled + 1 : 0;
      tick = ticks[0];
    }
    const pictures = await Promise.all(pages.map(picture));
    const records = await Promise.all(pages.map(page => page.evaluate(count => Array.from({ length: count }, (_, s) =>
      ['tankX', 'tankY', 'tankHits', 'tankTarget'].map(name => window.kestrel.probe(name, s))), SLOT_COUNT)));
    server.resume();
    const recording = await (await fetch(new URL(`rooms/${roomId}/recording`, server.url))).text();
    const room = traced(upToTick(recording, tick));
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
async function onScreen(page, slot) {
  return page.evaluate(s => {
    const box = document.querySelector('canvas').getBoundingClientRect();
    const { probe } = window.kestrel;
    const scale = box.width / probe('canvasWidth');
    return { x: box.left + probe('tankX', s) * scale,
             y: box.top + (0.5 * probe('tankY', s) + 0.25 * probe('canvasHeight')) * scale };
  }, slot);
}

describe('two pages in one room', () => {
  let a, b, roomId;
  before(async () => {
    ({ page: a } = await openGame(browser, server.url, { realClock: true }));
    await a.waitForFunction(() => !document.getElementById('play-together').hidden, POLL);
    await a.click('#more');
    await a.click('#play-together');
    await live(a);
    const link = await a.evaluate(() => location.href);
    roomId = /#live=([0-9a-f]+)\./.exec(link)[1];
    ({ page: b } = await openRoomPage(link, second));
  });

  test('"Play together" opens a room of the page\'s size, which a play link opens on another page', async () => {
    assert.equal((await status()).rooms, 1);
    for (const page of [a, b]) {
      assert.equal(await probe(page, 'canvasWidth'), await a.evaluate(() => innerWidth));
      assert.match(await page.$eval('#room', line => line.textContent), /2 in the room/);
    }
  });

  test('events from both pages make one battle, which both pages show as the room plays it', async () => {
    const tank = await onScreen(a, 0);
    await a.mouse.move(tank.x, tank.y);
    await a.mouse.down({ button: LEFT });
    await a.mouse.move(tank.x + 60, tank.y + 40, { steps: 8 });
    await a.waitForFunction(() => window.kestrel.probe('dragging') !== 0, POLL);
    await b.waitForFunction(() => window.kestrel.probe('dragging') !== 0, POLL);
    await a.mouse.up({ button: LEFT });
    const target = await onScreen(b, 1);
    await b.mouse.click(target.x, target.y, { button: RIGHT });
    await b.keyboard.press('w');
    // Past two of the ticks at which the pages hash their battles.
    await a.waitForFunction(() => window.kestrel.roomTick() > 100, POLL);
    await checkRestingPages(roomId, [a, b]);
    const { mismatches, hashes_checked: checked } = await status();
    assert.equal(mismatches, 0);
    assert.ok(checked > 0, 'the pages\' hashes were checked');
  });

  test('a page whose connection is cut reconnects by itself and catches up', async () => {
    await b.evaluate(() => window.kestrel.room.dropConnection());
    await b.waitForFunction(() => window.kestrel.room.state !== 'live', POLL);
    await live(b);
    await checkRestingPages(roomId, [a, b]);
    assert.equal((await status()).mismatches, 0);
  });

  test('Esc takes a page out of the room; the room plays on for the other', async () => {
    await b.keyboard.press('Escape');
    await a.waitForFunction(() => /1 in the room/.test(document.getElementById('room').textContent), POLL);
    assert.equal(await roomState(b), 'closed');
    await checkRestingPages(roomId, [a]);
  });
});

test('a page that joins 10,000 ticks after the last clean canvas shows the room\'s picture', async () => {
  const [width, height, ticks] = [400, 300, LATE_JOIN_TICKS];
  const made = await fetch(new URL('rooms', server.url), {
    method: 'POST', headers: { 'content-type': 'text/plain' }, body: `${ENDLESS_BATTLE}\ntick ${ticks}\n`,
  });
  assert.equal(made.status, 201);
  const { room, watch } = await made.json();
  const small = await launchChromium({ width, height });
  try {
    const { page } = await openGame(small, watch, { realClock: true });
    await live(page);
    const caughtUp = (await page.evaluate(() => window.kestrel.recording())).match(/^tick \d+$/gm)
      .reduce((sum, line) => sum + Number(line.split(' ')[1]), 0);
    assert.ok(caughtUp >= ticks, `the page caught up ${caughtUp} ticks from the last clean canvas`);
    assert.ok(await checkRestingPages(room, [page]) >= ticks);
  } finally {
    await small.close();
  }
});
