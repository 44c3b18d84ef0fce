// The page as an app: help you can find, the corner control, a name for
// screen readers, a timer of 40 ticks a second that stops while the page
// is hidden, a frozen picture that keeps its proportions (installable and
// playable offline: offline.test.mjs). The page's clock stands still
// unless a test moves it, and says when the help line fades and each tick
// comes.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { before, describe, test } from 'node:test';
import {
  advance, canvasPixels, nextFrames, openGame, probe, readPng, ticks, useSiteAndBrowser, watchWipes,
} from './support.mjs';

const TICK_MS = 25;
const LETTERBOX = [0xdd, 0xe3, 0xe8];

const env = useSiteAndBrowser();

const helpState = page => page.$eval('#help', help => ({
  text: help.textContent, faded: help.classList.contains('faded'), opacity: Number(getComputedStyle(help).opacity),
}));
// The help line's fading is the browser's (CSS): it ends invisible.
const helpGone = page => page.waitForFunction(() => Number(getComputedStyle(document.getElementById('help')).opacity) === 0);
const helpShown = page => page.waitForFunction(() => Number(getComputedStyle(document.getElementById('help')).opacity) === 1);
const tickCount = page => page.evaluate(() => window.kestrel.ticks);

describe('help and the corner control', () => {
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
      const inputs = await page.evaluate(() => window.kestrel.inputs);
      await page.mouse.down();
      assert.equal((await helpState(page)).faded, true, 'faded at the press');
      await page.mouse.up();
      assert.equal(await page.evaluate(() => window.kestrel.inputs), inputs + 2, 'a press and a release');
      await helpGone(page);
    });

  test('the corner control brings the help back and keeps its pointer events from the game', async () => {
    const inputs = await page.evaluate(() => window.kestrel.inputs);
    const more = await page.$('#more');
    const box = await more.boundingBox();
    // A right press on it, dragged off it and released: nothing reaches the game.
    await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
    await page.mouse.down({ button: 'right' });
    await page.mouse.move(200, 300, { steps: 3 });
    await page.mouse.up({ button: 'right' });
    await more.click();
    assert.equal(await page.evaluate(() => window.kestrel.inputs), inputs);
    assert.equal(await page.$eval('#actions', actions => actions.hidden), false);
    assert.equal(await page.$eval('#more', more => more.getAttribute('aria-expanded')), 'true');
    assert.equal((await helpState(page)).faded, false);
    await advance(page, 20000);  // held while the control is open, however long
    assert.equal((await helpState(page)).faded, false);
    await helpShown(page);
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
    assert.equal(await probe(page, 'tankHits', 0), 2, 'a new battle');
  });

  test('"End" ends the game as Esc does', async () => {
    await page.click('#more');
    await page.click('#end-game');
    const count = await tickCount(page);
    await advance(page, 300);
    assert.equal(await tickCount(page), count);
    assert.equal(await page.$eval('#end', note => note.hidden), false);
    assert.deepEqual(problems, []);
  });
});

describe('the clock: the help line\'s few seconds, and the timer', () => {
  // An untouched page, opened at its second tick: 50 ms.
  let page, problems;
  before(async () => {
    ({ page, problems } = await openGame(env.browser, env.site.url));
  });

  test('untouched, the help line fades by itself after a few seconds', async () => {
    await advance(page, 3000);
    assert.equal((await helpState(page)).faded, false, 'there at 3 s');
    await advance(page, 6000);
    assert.equal((await helpState(page)).faded, true, 'gone by 9 s');
    await helpGone(page);
  });

  test('ticks 40 times a second: one tick every 25 ms of the page\'s clock, counted from its start', async () => {
    const start = await tickCount(page);  // at a tick: 9 050 ms, the 362nd
    assert.equal(start, 362);
    await advance(page, TICK_MS - 1);
    assert.equal(await tickCount(page), start);
    await advance(page, 1);
    assert.equal(await tickCount(page), start + 1);
    await advance(page, 10000);
    assert.equal(await tickCount(page), start + 401);
    assert.deepEqual(problems, []);
  });

  test('a hidden page stops its timer, and goes on at 40 ticks a second with no catching up when shown', async () => {
    const other = await env.browser.newPage();
    await other.bringToFront();
    assert.equal(await page.evaluate(() => document.visibilityState), 'hidden');
    const hidden = await tickCount(page);
    await advance(page, 2500);
    assert.equal(await tickCount(page), hidden, 'nothing runs while hidden');
    await page.bringToFront();
    await page.waitForFunction(() => document.visibilityState === 'visible', { polling: 50 });
    assert.equal(await tickCount(page), hidden, 'nothing caught up');
    await advance(page, 1000);
    assert.equal(await tickCount(page), hidden + 40);
    // A second "shown" must not double the timer.
    await page.evaluate(() => document.dispatchEvent(new Event('visibilitychange')));
    await advance(page, 10 * TICK_MS);
    assert.equal(await tickCount(page), hidden + 50);
    await other.close();
    assert.deepEqual(problems, []);
  });
});

describe('after the game has ended', () => {
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
  // A new window size, laid out and painted.
  async function resize(page, size) {
    await page.setViewport(size);
    await page.waitForFunction(({ width, height }) => innerWidth === width && innerHeight === height, {}, size);
    await nextFrames(page);
  }

  test('the frozen picture keeps its proportions whatever the window does', async () => {
    const { page } = await openGame(env.browser, env.site.url);
    await ticks(page, 10);
    await page.keyboard.press('Escape');
    const picture = await canvasPixels(page);
    await helpGone(page);
    assert.deepEqual([picture.width, picture.height], [900, 700]);

    // Wider and taller: the picture as it was, pixel for pixel, at the top left.
    await resize(page, { width: 1200, height: 800 });
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
    await resize(page, { width: 450, height: 700 });
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
    await page.close();
  });
});
