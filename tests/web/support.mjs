// What the browser tests share: the built site served on the loopback
// address, headless Chromium, and reading the game's canvas.

import fs from 'node:fs';
import { after, before } from 'node:test';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { PNG } from 'pngjs';
import puppeteer from 'puppeteer-core';
import { instantiateModule, readContract } from '../../web/module.js';

const SOURCE = fileURLToPath(new URL('../../', import.meta.url));
export const SITE = process.env.KESTREL_SITE ?? path.join(SOURCE, 'build/web');
export const README_PICTURE = process.env.KESTREL_README_PICTURE ?? path.join(SOURCE, 'docs/battle.png');
const CHROMIUM = process.env.KESTREL_CHROMIUM ?? '/usr/bin/chromium';

// The page's contract with the module, read from the built module as the
// page reads it: key names, pointer buttons, what window.kestrelProbe reads.
export const CONTRACT = readContract(await instantiateModule(fs.readFileSync(path.join(SITE, 'kestrel.wasm'))));
export const PROBE = CONTRACT.probes;
export const SLOT_COUNT = CONTRACT.slotCount;

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm',
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

// Headless Chromium as root on a machine with no network beyond the
// loopback: no sandbox, no background connections. A scale factor other
// than 1 is the screen's own, so the page measures device pixels as on a
// real high-density screen.
// For the tests of the enclosing block: the site served and Chromium started
// before them, both stopped after them. The result's `site` and `browser`
// are there once the block's tests run.
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

export async function launchChromium({ scale = 1, width = 900, height = 700 } = {}) {
  const userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrel-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: CHROMIUM,
    headless: true,
    userDataDir,
    defaultViewport: scale === 1 ? { width, height } : null,
    args: ['--no-sandbox', '--headless=new', '--disable-gpu', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           '--disable-quic', `--force-device-scale-factor=${scale}`, `--window-size=${width},${height}`],
  });
  const close = browser.close.bind(browser);
  browser.close = async () => {
    await close();
    fs.rmSync(userDataDir, { recursive: true, force: true });
  };
  return browser;
}

// Runs in the page, before its own scripts: window.tankPixels() counts the
// pixels of black tanks and of the dark-blue player's tank on the canvas.
export function installTankPixels() {
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
}

// Opens the game page; `problems` collects console errors and page errors.
// `setUp(page)` runs before the page is loaded (an emulated phone, say).
export async function openGame(browser, url, setUp = async () => {}) {
  const page = await browser.newPage();
  await setUp(page);
  await page.evaluateOnNewDocument(installTankPixels);
  const problems = [];
  page.on('console', message => { if (message.type() === 'error') problems.push(message.text()); });
  page.on('pageerror', error => problems.push(String(error)));
  page.on('requestfailed', request => problems.push(`failed: ${request.url()}`));
  await page.goto(url, { waitUntil: 'load' });
  await page.waitForFunction(() => window.kestrelTicks >= 2, { timeout: 5000 });
  return { page, problems };
}

// The game page on an emulated phone with a touch screen: `touch(type,
// points)` sends real touch events (type touchStart, touchMove or touchEnd;
// points [[x, y], ...] in CSS pixels, one a finger, numbered by place).
export async function openPhone(browser, url, { width = 390, height = 844, scale = 2 } = {}) {
  let cdp;
  const opened = await openGame(browser, url, async page => {
    cdp = await page.createCDPSession();
    await cdp.send('Emulation.setDeviceMetricsOverride', { width, height, deviceScaleFactor: scale, mobile: true });
    await cdp.send('Emulation.setTouchEmulationEnabled', { enabled: true, maxTouchPoints: 5 });
  });
  const touch = (type, points) => cdp.send('Input.dispatchTouchEvent', {
    type, touchPoints: points.map(([x, y], id) => ({ x, y, id })),
  });
  return { ...opened, cdp, touch };
}

// Every live tank's slot, and every slot's ground x.
export async function liveSlots(page) {
  return page.evaluate(({ tankHits }, count) => {
    const live = [];
    for (let slot = 0; slot < count; slot++) if (window.kestrelProbe(tankHits, slot) > 0) live.push(slot);
    return live;
  }, PROBE, SLOT_COUNT);
}
export async function groundXs(page) {
  return page.evaluate(({ tankX }, count) => Array.from({ length: count }, (_, slot) => window.kestrelProbe(tankX, slot)),
                       PROBE, SLOT_COUNT);
}
export async function targets(page) {
  return page.evaluate(({ tankTarget }, count) =>
    Array.from({ length: count }, (_, slot) => window.kestrelProbe(tankTarget, slot)), PROBE, SLOT_COUNT);
}

// The slot every tank but perhaps the picked one itself goes after (it may
// have chosen anew at a tick since), or undefined.
export function commonTarget(all) {
  return all.find(t => all.filter(u => u === t).length >= all.length - 1);
}

// From now on window.wipedAfter lists [type, wiped] for each click, key and
// pointer release that reaches the window: wiped when, right after the
// page's own handlers, no tank is live, which only a wipe leaves (a tick
// that finds a battle over starts the next one at once).
export async function watchWipes(page) {
  await page.evaluate(({ tankHits }, count) => {
    window.wipedAfter = [];
    if (window.watchingWipes) return;
    window.watchingWipes = true;
    const allDead = () => Array.from({ length: count }, (_, slot) => window.kestrelProbe(tankHits, slot))
      .every(hits => hits <= 0);
    for (const type of ['click', 'keydown', 'pointerup']) {
      window.addEventListener(type, () => window.wipedAfter.push([type, allDead()]));
    }
  }, PROBE, SLOT_COUNT);
}

// Waits for `count` more ticks.
export async function ticks(page, count) {
  const now = await page.evaluate(() => window.kestrelTicks);
  await page.waitForFunction(t => window.kestrelTicks >= t, { timeout: 5000 }, now + count);
}

// The canvas's pixels, RGBA, with its device size.
export function canvasPixels(page) {
  return page.evaluate(() => {
    const canvas = document.querySelector('canvas');
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    return { width: canvas.width, height: canvas.height, data: Array.from(data) };
  });
}

export const probe = (page, what, slot = 0) => page.evaluate((w, s) => window.kestrelProbe(w, s), what, slot);

// Where a tank's turret centre shows, in canvas units: its ground x, and
// half its depth pushed down by a quarter of the canvas height.
export async function turretOnScreen(page, slot) {
  const [x, y, height] = await Promise.all([probe(page, PROBE.tankX, slot), probe(page, PROBE.tankY, slot),
                                            probe(page, PROBE.canvasHeight)]);
  return { x, y: 0.5 * y + 0.25 * height };
}

export const pause = ms => new Promise(resolve => setTimeout(resolve, ms));

// The pixels of a PNG file (what kestrel-trace's snap writes), as RGBA.
export function readPng(file) {
  const { width, height, data } = PNG.sync.read(fs.readFileSync(file));
  return { width, height, data };
}
