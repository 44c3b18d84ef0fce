// The page as an app: help you can find, the corner control, a name for
// screen readers, a timer that stops while the page is hidden, a frozen
// picture that keeps its proportions, installable and playable offline.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import {
  PROBE, SITE, canvasPixels, launchChromium, openGame, pause, probe, readPng, serveSite, ticks, watchWipes, useSiteAndBrowser,
} from './support.mjs';

const TICK_MS = 25;
const LETTERBOX = [0xdd, 0xe3, 0xe8];


const helpState = page => page.$eval('#help', help => ({
  text: help.textContent, faded: help.classList.contains('faded'), opacity: Number(getComputedStyle(help).opacity),
}));

describe('help and the corner control', () => {
  const env = useSiteAndBrowser();
  let page, problems;
  before(async () => {
    ({ page, problems } = await openGame(env.browser, env.site.url));
  });

  test('the canvas has a name and a description for screen readers', async () => {
    const cdp = await page.createCDPSession();
    const { root } = await cdp.send('DOM.getDocument');
    const { nodeId } = await cdp.send('DOM.querySelector', { nodeId: root.nodeId, selector: 'canvas' });
    const { nodes } = await cdp.send('Accessibility.getPartialAXTree', { nodeId, fetchRelatives: false });
    const canvas = nodes[0];
    assert.equal(canvas.role.value, 'image');
    assert.match(canvas.name.value, /Kestrel.*tank battle/);
    assert.match(canvas.description?.value ?? '', /tanks .*dark blue/s);
    await cdp.detach();
  });

  test('a help line for the mouse and keys shows on load, lets clicks through and fades at the first action',
    async () => {
      const shown = await helpState(page);
      assert.equal(shown.faded, false);
      assert.equal(shown.opacity, 1);
      assert.match(shown.text, /left button.*right button.*Esc/s);
      // A click on the help line reaches the game: the line takes no pointer.
      const box = await page.$eval('#help span', span => {
        const { left, top, width, height } = span.getBoundingClientRect();
        return { x: left + width / 2, y: top + height / 2 };
      });
      await page.mouse.move(box.x, box.y);
      const inputs = await page.evaluate(() => window.kestrelInputs);
      await page.mouse.down();
      await page.mouse.up();
      assert.equal(await page.evaluate(() => window.kestrelInputs), inputs + 2, 'a press and a release');
      await page.waitForFunction(() => Number(getComputedStyle(document.getElementById('help')).opacity) === 0,
                                 { timeout: 2000 });
    });

  test('untouched, the help line fades by itself after a few seconds', async () => {
    const fresh = await env.browser.newPage();
    await fresh.goto(env.site.url, { waitUntil: 'load' });
    const start = Date.now();
    await fresh.waitForFunction(() => Number(getComputedStyle(document.getElementById('help')).opacity) === 0,
                                { timeout: 10000, polling: 100 });
    const seconds = (Date.now() - start) / 1000;
    assert.ok(seconds >= 3 && seconds <= 9, `${seconds} s`);
    await fresh.close();
  });

  test('the corner control brings the help back and keeps its pointer events from the game', async () => {
    const inputs = await page.evaluate(() => window.kestrelInputs);
    const more = await page.$('#more');
    const box = await more.boundingBox();
    // A right press on it, dragged off it and released: nothing reaches the game.
    await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
    await page.mouse.down({ button: 'right' });
    await page.mouse.move(200, 300, { steps: 3 });
    await page.mouse.up({ button: 'right' });
    await more.click();
    assert.equal(await page.evaluate(() => window.kestrelInputs), inputs);
    assert.equal(await page.$eval('#actions', actions => actions.hidden), false);
    assert.equal(await page.$eval('#more', more => more.getAttribute('aria-expanded')), 'true');
    const shown = await helpState(page);
    assert.equal(shown.faded, false);
    await pause(700);  // held while the control is open
    assert.equal((await helpState(page)).opacity, 1);
    // Keys typed on the control are its own: Enter on a button is no new battle.
    await page.focus('#more');
    await watchWipes(page);
    await page.keyboard.press('Enter');
    assert.deepEqual(await page.evaluate(() => window.wipedAfter), [['keydown', false], ['click', false]]);
    assert.equal(await page.$eval('#actions', actions => actions.hidden), true);
    assert.equal((await helpState(page)).faded, true);
  });

  test('"New battle" wipes the field and starts a new one', async () => {
    await page.click('#more');
    await watchWipes(page);
    await page.click('#new-battle');
    assert.deepEqual(await page.evaluate(() => window.wipedAfter), [['click', true]]);
    assert.equal(await page.$eval('#actions', actions => actions.hidden), true);
    await ticks(page, 1);
    assert.ok(await probe(page, PROBE.tankHits, 0) > 0, 'a new battle');
  });

  test('"End" ends the game as Esc does', async () => {
    await page.click('#more');
    await page.click('#end-game');
    const count = await page.evaluate(() => window.kestrelTicks);
    await pause(300);
    assert.equal(await page.evaluate(() => window.kestrelTicks), count);
    assert.equal(await page.$eval('#end', note => note.hidden), false);
    assert.deepEqual(problems, []);
  });
});

describe('a hidden page', () => {
  const env = useSiteAndBrowser();

  test('stops its timer, and goes on at 40 ticks a second with no catching up when shown', async () => {
    const { page, problems } = await openGame(env.browser, env.site.url);
    await page.evaluate(() => {
      window.shownAgain = null;
      document.addEventListener('visibilitychange', () => {
        if (!document.hidden) window.shownAgain = { ticks: window.kestrelTicks, at: performance.now() };
      });
    });
    const other = await env.browser.newPage();
    await other.bringToFront();
    assert.equal(await page.evaluate(() => document.visibilityState), 'hidden');
    const hidden = await page.evaluate(() => window.kestrelTicks);
    await pause(2500);  // a throttled timer would tick about twice by now
    assert.equal(await page.evaluate(() => window.kestrelTicks), hidden);
    await page.bringToFront();
    await page.waitForFunction(() => window.shownAgain !== null);
    await pause(1000);
    const seen = await page.evaluate(() => ({ ...window.shownAgain, ticks1: window.kestrelTicks, at1: performance.now() }));
    assert.equal(seen.ticks, hidden, 'nothing ran while hidden');
    const rate = (seen.ticks1 - seen.ticks) / ((seen.at1 - seen.at) / 1000);
    assert.ok(rate >= 30 && rate <= 42, `${rate.toFixed(1)} ticks a second after showing`);
    // The first ticks come one period apart, not in a burst.
    const early = await page.evaluate(async period => {
      const start = window.kestrelTicks;
      document.dispatchEvent(new Event('visibilitychange'));  // a second "shown" must not double the timer
      await new Promise(resolve => setTimeout(resolve, 10 * period));
      return window.kestrelTicks - start;
    }, TICK_MS);
    assert.ok(early <= 11, `${early} ticks in ten periods`);
    await other.close();
    assert.deepEqual(problems, []);
  });
});

describe('after the game has ended', () => {
  const env = useSiteAndBrowser({ width: 900, height: 700 });

  // The screenshot's pixels, RGBA.
  async function screen(page) {
    const file = path.join(os.tmpdir(), `kestrel-shot-${process.pid}.png`);
    await page.screenshot({ path: file });
    try {
      return readPng(file);
    } finally {
      fs.rmSync(file, { force: true });
    }
  }
  const isLetterbox = (shot, x, y) => {
    const i = (y * shot.width + x) * 4;
    return LETTERBOX.every((value, c) => shot.data[i + c] === value);
  };

  test('the frozen picture keeps its proportions whatever the window does', async () => {
    const { page } = await openGame(env.browser, env.site.url);
    await ticks(page, 10);
    await page.keyboard.press('Escape');
    const picture = await canvasPixels(page);
    await page.waitForFunction(() => Number(getComputedStyle(document.getElementById('help')).opacity) === 0);
    assert.deepEqual([picture.width, picture.height], [900, 700]);

    // Wider and taller: the picture as it was, pixel for pixel, at the top left.
    await page.setViewport({ width: 1200, height: 800 });
    await pause(200);
    let shot = await screen(page);
    let differing = 0;
    for (let y = 0; y < 700; y++) {
      for (let x = 0; x < 900; x++) {
        const i = (y * shot.width + x) * 4, j = (y * 900 + x) * 4;
        for (let c = 0; c < 4; c++) differing += shot.data[i + c] !== picture.data[j + c];
      }
    }
    assert.equal(differing, 0);

    // Half as wide: the whole picture at half its size, the rest shaded.
    await page.setViewport({ width: 450, height: 700 });
    await pause(200);
    shot = await screen(page);
    const note = await page.$eval('#end', note => note.getBoundingClientRect().top);
    let inPicture = 0, below = 0;
    for (let y = 0; y < note; y++) {
      for (let x = 0; x < 450; x++) {
        if (y < 349) inPicture += isLetterbox(shot, x, y);
        else if (y > 351) below += !isLetterbox(shot, x, y);
      }
    }
    assert.equal(inPicture, 0, 'the picture fills 450 x 350');
    assert.equal(below, 0, 'shaded below it, down to the note');
    assert.ok(note > 600);
    // The canvas still holds the picture as it was.
    assert.deepEqual(await canvasPixels(page), picture);
  });
});

describe('installed and offline', () => {
  let browser;
  before(async () => {
    browser = await launchChromium();
  });
  after(async () => {
    await browser?.close();
  });

  const workerReady = page => page.evaluate(async () => {
    await navigator.serviceWorker.ready;
    if (!navigator.serviceWorker.controller) {
      await new Promise(resolve => navigator.serviceWorker.addEventListener('controllerchange', resolve, { once: true }));
    }
    return caches.keys();
  });

  test('Chromium finds nothing missing to install it; the manifest names it and its icons', async () => {
    const site = await serveSite();
    const { page } = await openGame(browser, site.url);
    await workerReady(page);
    const cdp = await page.createCDPSession();
    const { installabilityErrors } = await cdp.send('Page.getInstallabilityErrors');
    assert.deepEqual(installabilityErrors, []);
    const manifest = await cdp.send('Page.getAppManifest');
    assert.deepEqual(manifest.errors, []);
    const data = JSON.parse(manifest.data);
    assert.equal(data.name, '3D Kestrel');
    assert.ok(['standalone', 'fullscreen'].includes(data.display));
    assert.equal(data.background_color, '#ffffff');
    const sizes = [];
    for (const icon of data.icons.filter(i => i.type === 'image/png')) {
      const bytes = Buffer.from(await (await fetch(new URL(icon.src, site.url))).arrayBuffer());
      const [width, height] = [bytes.readUInt32BE(16), bytes.readUInt32BE(20)];
      assert.equal(icon.sizes, `${width}x${height}`);
      assert.deepEqual(bytes, fs.readFileSync(path.join(SITE, icon.src)));
      sizes.push(`${icon.purpose} ${width}`);
    }
    assert.deepEqual(sizes.sort(), ['any 192', 'any 512', 'maskable 512']);
    await page.close();
    site.close();
  });

  test('after a first visit the page loads and plays with the server gone', async () => {
    const site = await serveSite();
    const { page, problems } = await openGame(browser, site.url);
    await workerReady(page);
    site.close();
    await page.reload({ waitUntil: 'load' });
    await page.waitForFunction(() => window.kestrelTicks >= 20, { timeout: 5000 });
    const { black, blue } = await page.evaluate(() => window.tankPixels());
    assert.ok(black > 0 && blue > 0);
    assert.equal(await probe(page, PROBE.canvasWidth), 900);
    assert.deepEqual(problems, []);
    await page.close();
  });

  test('a new build is taken at the next visit, and the old build\'s files are deleted', async () => {
    const copy = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrel-site-'));
    fs.cpSync(SITE, copy, { recursive: true });
    const site = await serveSite(copy);
    try {
      const { page } = await openGame(browser, site.url);
      const [oldCache] = await workerReady(page);
      // The next build: another page, and its service worker another cache name.
      const index = path.join(copy, 'index.html'), worker = path.join(copy, 'sw.js');
      fs.writeFileSync(index, fs.readFileSync(index, 'utf8').replace('<body>', '<body data-build="next">'));
      fs.writeFileSync(worker, fs.readFileSync(worker, 'utf8').replace(oldCache, 'kestrel-next'));
      await page.reload({ waitUntil: 'load' });
      await page.waitForFunction(async () => (await caches.keys()).join() === 'kestrel-next', { timeout: 10000 });
      await page.reload({ waitUntil: 'load' });
      assert.equal(await page.evaluate(() => document.body.dataset.build), 'next');
      await page.waitForFunction(() => window.kestrelTicks >= 2);
      await page.close();
    } finally {
      site.close();
      fs.rmSync(copy, { recursive: true, force: true });
    }
  });
});
