// What the browser tests share: the built site served on the loopback
// address, headless Chromium, and reading the game's canvas.

import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import { after, before } from 'node:test';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';
import { fileURLToPath } from 'node:url';
import { PNG } from 'pngjs';
import puppeteer from 'puppeteer-core';
import { instantiateModule, readContract } from '../../web/module.js';

const SOURCE = fileURLToPath(new URL('../../', import.meta.url));
export const SITE = process.env.KESTREL_SITE ?? path.join(SOURCE, 'build/web');
export const README_PICTURE = process.env.KESTREL_README_PICTURE ?? path.join(SOURCE, 'docs/battle.png');
const CHROMIUM = process.env.KESTREL_CHROMIUM ?? '/usr/bin/chromium';

// The path of a program a test starts, looked up as the test runs on the
// PATH or in /usr/sbin, where Debian puts daemons; a missing one fails the
// test with the package to install.
export function installed(name, debianPackage) {
  const folders = [...(process.env.PATH ?? '').split(path.delimiter).filter(Boolean), '/usr/sbin'];
  const found = folders.map(folder => path.join(folder, name)).find(file => {
    try {
      fs.accessSync(file, fs.constants.X_OK);
      return fs.statSync(file).isFile();
    } catch {
      return false;
    }
  });
  if (!found) throw new Error(`${name} is missing: install Debian's ${debianPackage} (scripts/install-deps test)`);
  return found;
}

// The page's contract with the module, read from the built module as the
// page reads it: key names, pointer buttons, what window.kestrel.probe reads.
export const CONTRACT = readContract(await instantiateModule(fs.readFileSync(path.join(SITE, 'kestrel.wasm'))));
export const PROBE = CONTRACT.probes;
export const SLOT_COUNT = CONTRACT.slotCount;
// The height of the seats' strip under a room's field, in CSS pixels, as
// the page's style sets it: a window that shows a room whole at one unit a
// pixel is this much taller than the room.
export const LEGEND_HEIGHT = Number(/--legend-height:\s*(\d+)px/.exec(
  fs.readFileSync(path.join(SOURCE, 'web/index.html'), 'utf8'))[1]);
const TICK_MS = CONTRACT.tickMs;

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.mjs': 'text/javascript', '.wasm': 'application/wasm',
                '.svg': 'image/svg+xml', '.png': 'image/png', '.webmanifest': 'application/manifest+json' };

// A static file server for the site (or a copy of it in `site`), on a free
// port of 127.0.0.1; close() stops it at once, open connections included.
export async function serveSite(site = SITE) {
  const server = http.createServer((request, response) => {
    let name;
    try {
      name = decodeURIComponent(new URL(request.url, 'http://x').pathname);
    } catch {
      response.writeHead(400).end();
      return;
    }
    const file = path.join(site, name === '/' ? 'index.html' : name);
    if (!file.startsWith(site + path.sep) || !fs.existsSync(file) || fs.statSync(file).isDirectory()) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'content-type': TYPES[path.extname(file)] ?? 'application/octet-stream' });
    fs.createReadStream(file).pipe(response);
  });
  await new Promise(resolve => server.listen(0, '127.0.0.1', resolve));
  return {
    url: `http://127.0.0.1:${server.address().port}/`,
    close() {
      server.close();
      server.closeAllConnections();
    },
  };
}

// kestrel-server, built by a native preset (KESTREL_SERVER, or the default
// preset's), serving the built site.
export const SERVER = process.env.KESTREL_SERVER || path.join(SOURCE, 'build/default/server/kestrel-server');
const LISTENING = /^kestrel-server: listening on (http:\/\/127\.0\.0\.1:\d+\/)$/m;

// Starts the server on a free port of 127.0.0.1, serving `site`, and waits
// for the line that says where it listens: its address, and close(), which
// stops it and waits for it to go. A server that stops first, or never says
// where it listens, is an error, with what it wrote.
export async function startServer({ site = SITE, args = [] } = {}) {
  const server = spawn(SERVER, ['--port', '0', '--site', site, ...args], { stdio: ['ignore', 'pipe', 'pipe'] });
  let output = '';
  const gone = new Promise(resolve => server.once('exit', (code, signal) => resolve({ code, signal })));
  const url = await new Promise((resolve, reject) => {
    const read = chunk => {
      output += chunk;
      const listening = output.match(LISTENING);
      if (listening) resolve(listening[1]);
    };
    server.stdout.setEncoding('utf8').on('data', read);
    server.stderr.setEncoding('utf8').on('data', read);
    server.once('error', reject);
    gone.then(({ code, signal }) => reject(new Error(`kestrel-server stopped (${signal ?? code}) before it listened: ${output}`)));
  });
  return {
    url,
    output: () => output,
    // SIGSTOP freezes the wire: every screen rests on the last tick it was sent.
    pause: () => server.kill('SIGSTOP'),
    resume: () => server.kill('SIGCONT'),
    async close() {
      server.kill('SIGCONT');
      if (server.exitCode === null && server.signalCode === null) server.kill('SIGTERM');
      return gone;
    },
  };
}

// The room's recording up to its `ticks`-th tick: what a screen resting on
// that tick has been sent.
function upToTick(recording, ticks) {
  const lines = [];
  let played = 0;
  for (const line of recording.split('\n')) {
    const [command, count] = line.split(' ');
    if (command === 'tick') {
      const run = Number(count ?? 1);
      lines.push(`tick ${Math.min(run, ticks - played)}`);
      played += run;
      if (played >= ticks) break;
    } else if (line !== '') {
      lines.push(line);
    }
  }
  assert.ok(played >= ticks, `the room's recording holds ${played} ticks, not ${ticks}`);
  return `${lines.join('\n')}\n`;
}

// The ticks a recording holds.
const ticksIn = recording => recording.split('\n').reduce((sum, line) => {
  const [command, count] = line.split(' ');
  return command === 'tick' ? sum + Number(count ?? 1) : sum;
}, 0);

// A playing room's recording as served, up to its `ticks`-th tick: its file
// is brought up to date once a room second, so it is fetched (`fetchText`)
// until it holds that tick.
const SERVED_WITHIN_MS = 10_000;
export async function servedUpToTick(fetchText, ticks) {
  const deadline = Date.now() + SERVED_WITHIN_MS;
  for (;;) {
    const recording = await fetchText();
    if (ticksIn(recording) >= ticks || Date.now() > deadline) return upToTick(recording, ticks);
    await pause(50);
  }
}

// For the tests of the enclosing block (or of the whole file, called at its
// top): the site served and Chromium started before them, both stopped
// after them. The result's `site` and `browser` are there once the tests
// run.
export function useSiteAndBrowser(chromiumOptions) {
  const env = {};
  before(async () => {
    env.site = await serveSite();
    env.browser = await launchChromium(chromiumOptions);
  });
  after(async () => {
    await env.browser?.close();
    env.site?.close();
  });
  return env;
}

// Headless Chromium as root on a machine with no network beyond the
// loopback: no sandbox, no background connections. A scale factor other
// than 1 is the screen's own, so the page measures device pixels as on a
// real high-density screen. `args` are Chromium's switches beyond these,
// `env` variables of its environment beyond this process's (a HOME with a
// certificate store of its own, say).
export async function launchChromium({ scale = 1, width = 900, height = 700, args = [], env = {} } = {}) {
  const userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrel-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: CHROMIUM,
    headless: true,
    userDataDir,
    env: { ...process.env, ...env },
    defaultViewport: scale === 1 ? { width, height } : null,
    args: ['--no-sandbox', '--headless=new', '--disable-gpu', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           '--disable-quic', `--force-device-scale-factor=${scale}`, `--window-size=${width},${height}`, ...args],
  });
  const close = browser.close.bind(browser);
  browser.close = async () => {
    await close();
    fs.rmSync(userDataDir, { recursive: true, force: true });
  };
  return browser;
}

// Runs in the page, before its own scripts: window.tankPixels() counts the
// pixels of black tanks and of the dark-blue player's tank on the canvas,
// window.asBase64(bytes) passes bytes out of the page far faster than an
// array does.
export function installPageTools() {
  window.tankPixels = () => {
    const canvas = document.querySelector('canvas');
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let black = 0, blue = 0;
    for (let i = 0; i < data.length; i += 4) {
      black += data[i] === 0 && data[i + 1] === 0 && data[i + 2] === 0;
      blue += data[i] === 0 && data[i + 1] === 0 && data[i + 2] === 150;
    }
    return { black, blue };
  };
  window.asBase64 = bytes => new Promise(resolve => {
    const reader = new FileReader();
    reader.onload = () => resolve(reader.result.slice(reader.result.indexOf(',') + 1));
    reader.readAsDataURL(new Blob([bytes]));
  });
}

// Runs in the page, before its own scripts: the page's clock
// (window.kestrel.clock) stands still until advance(ms) moves it, and runs
// each timer due by then in the order they come due.
export function installStoppedClock() {
  let now = 0, nextId = 0;
  const timers = new Map();  // id -> { due, fn, period }
  const add = (ms, fn, period) => {
    const id = nextId++;
    timers.set(id, { due: now + Math.max(0, ms), fn, period });
    return () => timers.delete(id);
  };
  const clock = {
    now: () => now,
    every: (ms, fn) => add(ms, fn, Math.max(1, ms)),
    after: (ms, fn) => add(ms, fn, 0),
    advance(ms) {
      const end = now + ms;
      for (;;) {
        let first = null;  // [id, timer], the earliest set first among timers due together
        for (const entry of timers) if (entry[1].due <= end && (!first || entry[1].due < first[1].due)) first = entry;
        if (!first) break;
        const [id, timer] = first;
        now = timer.due;
        if (timer.period) timer.due += timer.period;
        else timers.delete(id);
        timer.fn();
      }
      now = end;
    },
  };
  window.kestrel = { clock };
}

// Moves the page's stopped clock on by `ms`, or by `count` ticks.
export const advance = (page, ms) => page.evaluate(ms => window.kestrel.clock.advance(ms), ms);
export const ticks = (page, count) => advance(page, count * TICK_MS);

// A battle link to a fixed battle: the first battle from `seed`, on a
// canvas of width x height (the window's, so that nothing changes at the
// hand-over), handed over at its first tick.
export const fixedBattleLink = (seed, width, height) =>
  `#battle=${zlib.deflateRawSync(Buffer.from(`version 1\nseed ${seed}\nsize ${width} ${height}\ntick 1\n`)).toString('base64url')}`;
// The seed of the battles the tests play: six tanks, the player's clear of
// the others, at the desktop's size and the phone's.
export const FIXED_SEED = 16;

// Starts the fixed battle afresh in an open page with a stopped clock, at
// the canvas's size, and lets it draw once: the battle is live then.
export async function fixedBattle(page, seed = FIXED_SEED) {
  const [width, height] = [await probe(page, 'canvasWidth'), await probe(page, 'canvasHeight')];
  await page.evaluate(hash => {
    history.replaceState(null, '', location.pathname);
    location.hash = hash;
  }, fixedBattleLink(seed, width, height));
  await page.waitForFunction(() => document.querySelector('canvas').classList.contains('playing'));
  await ticks(page, 2);
  if (await probe(page, 'tankHits', 0) <= 0) throw new Error('the fixed battle has no live player');
}

// The page asks every host whether it keeps rooms (/status); a static host
// or none at all says no with an error, which is no problem of the page's.
const isServerProbe = url => url !== undefined && new URL(url).pathname === '/status';

// Opens the game page; `problems` collects console errors and page errors.
// `setUp(page)` runs before the page is loaded (an emulated phone, say).
// The page's clock stands still unless `realClock` (then the browser's
// timers run it); either way the page is open once it has ticked twice:
// the first battle is on the canvas. With `seed`, that battle is the fixed
// one of that seed (stopped clock only).
export async function openGame(browser, url, { setUp = async () => {}, realClock = false, seed } = {}) {
  const page = await browser.newPage();
  await setUp(page);
  await page.evaluateOnNewDocument(installPageTools);
  if (!realClock) await page.evaluateOnNewDocument(installStoppedClock);
  const problems = [];
  page.on('console', message => {
    if (message.type() === 'error' && !isServerProbe(message.location()?.url)) problems.push(message.text());
  });
  page.on('pageerror', error => problems.push(String(error)));
  page.on('requestfailed', request => isServerProbe(request.url()) || problems.push(`failed: ${request.url()}`));
  await page.goto(url, { waitUntil: 'load' });
  if (realClock) {
    await page.waitForFunction(() => window.kestrel?.ticks >= 2);
  } else {
    await page.waitForFunction(() => window.kestrel?.ticks === 0);
    if (seed === undefined) await ticks(page, 2);
    else await fixedBattle(page, seed);
  }
  return { page, problems };
}

// Chromium hands moves of a finger to the page with its next frame (a
// press or a release at once, after any move before it): two frames, and
// they have been handed over.
export const nextFrames = page =>
  page.evaluate(() => new Promise(resolve => requestAnimationFrame(() => requestAnimationFrame(resolve))));

// The game page on an emulated phone with a touch screen: `touch(type,
// points)` sends real touch events (type touchStart, touchMove or touchEnd;
// points [[x, y], ...] in CSS pixels, one a finger, numbered by place), and
// returns once the page has them.
export async function openPhone(browser, url, { width = 390, height = 844, scale = 2, seed } = {}) {
  let cdp;
  const setUp = async page => {
    cdp = await page.createCDPSession();
    await cdp.send('Emulation.setDeviceMetricsOverride', { width, height, deviceScaleFactor: scale, mobile: true });
    await cdp.send('Emulation.setTouchEmulationEnabled', { enabled: true, maxTouchPoints: 5 });
  };
  const opened = await openGame(browser, url, { setUp, seed });
  const touch = async (type, points) => {
    await cdp.send('Input.dispatchTouchEvent', { type, touchPoints: points.map(([x, y], id) => ({ x, y, id })) });
    if (type === 'touchMove') await nextFrames(opened.page);
  };
  return { ...opened, cdp, touch };
}

// Every live tank's slot, and every slot's target.
const everySlot = (page, name) => page.evaluate((name, count) =>
  Array.from({ length: count }, (_, slot) => window.kestrel.probe(name, slot)), name, SLOT_COUNT);
export const liveSlots = async page =>
  (await everySlot(page, 'tankHits')).flatMap((hits, slot) => (hits > 0 ? [slot] : []));
export const targets = page => everySlot(page, 'tankTarget');

// From now on window.wipedAfter lists [type, wiped] for each click, key and
// pointer release that reaches the window: wiped when, right after the
// page's own handlers, no tank is live, which only a wipe leaves (a tick
// that finds a battle over starts the next one at once).
export async function watchWipes(page) {
  await page.evaluate(count => {
    window.wipedAfter = [];
    if (window.watchingWipes) return;
    window.watchingWipes = true;
    const allDead = () => Array.from({ length: count }, (_, slot) => window.kestrel.probe('tankHits', slot))
      .every(hits => hits <= 0);
    for (const type of ['click', 'keydown', 'pointerup']) {
      window.addEventListener(type, () => window.wipedAfter.push([type, allDead()]));
    }
  }, SLOT_COUNT);
}

// The canvas's pixels, RGBA (a Buffer), with its device size.
export async function canvasPixels(page) {
  const { width, height, data } = await page.evaluate(async () => {
    const canvas = document.querySelector('canvas');
    const { data } = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height);
    return { width: canvas.width, height: canvas.height, data: await window.asBase64(data) };
  });
  return { width, height, data: Buffer.from(data, 'base64') };
}

// The game's own picture (window.kestrel.picture()), RGBA, as a Buffer.
export const picture = async page =>
  Buffer.from(await page.evaluate(() => window.asBase64(window.kestrel.picture())), 'base64');

// The room's tick a page's battle has reached.
export const roomTick = page => page.evaluate(() => window.kestrel.roomTick());

// One value of the battle record, by its probe's name.
export const probe = (page, name, slot = 0) => page.evaluate((n, s) => window.kestrel.probe(n, s), name, slot);

// Where a tank's turret centre shows, in canvas units: its ground x, and
// half its depth pushed down by a quarter of the canvas height.
export async function turretOnScreen(page, slot) {
  const [x, y, height] = await Promise.all([probe(page, 'tankX', slot), probe(page, 'tankY', slot),
                                            probe(page, 'canvasHeight')]);
  return { x, y: 0.5 * y + 0.25 * height };
}

// For the benchmarks, which measure the browser's own pace.
export const pause = ms => new Promise(resolve => setTimeout(resolve, ms));

// Runs `action` in `page` and waits for the file it downloads into `dir`:
// its path, once the browser has written it whole.
export async function download(page, dir, action) {
  const cdp = await page.createCDPSession();
  try {
    await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: dir, eventsEnabled: true });
    let name;
    cdp.on('Browser.downloadWillBegin', event => { name = event.suggestedFilename; });
    const done = new Promise((resolve, reject) => cdp.on('Browser.downloadProgress', event => {
      if (event.state === 'completed') resolve();
      else if (event.state === 'canceled') reject(new Error('the download was cancelled'));
    }));
    await action();
    await done;
    return path.join(dir, name);
  } finally {
    await cdp.detach();
  }
}

// The pixels of a PNG file (what kestrel-trace's snap writes), as RGBA.
export function readPng(file) {
  const { width, height, data } = PNG.sync.read(fs.readFileSync(file));
  return { width, height, data };
}

// The replay page, once it has shown the script it starts with.
export async function openReplay(browser, url) {
  const page = await browser.newPage();
  await page.evaluateOnNewDocument(installPageTools);
  await page.goto(`${url}replay.html`, { waitUntil: 'load' });
  await page.waitForFunction(() => window.kestrelReplay?.ready === true);
  return page;
}

// The canvas's pixels and its size in CSS pixels.
export async function shownPicture(page) {
  const css = await page.$eval('canvas', canvas => [canvas.getBoundingClientRect().width, canvas.getBoundingClientRect().height]);
  return { ...await canvasPixels(page), css };
}

export function assertReadmePicture(shown) {
  const png = readPng(README_PICTURE);
  assert.deepEqual([shown.width, shown.height], [png.width, png.height]);
  const differing = shown.data.findIndex((byte, i) => byte !== png.data[i]);
  assert.equal(differing, -1, `first differing byte ${differing}`);
}
