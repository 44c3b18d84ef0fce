// The page's contract with the module (key names, pointer buttons, probes)
// is written once, in web/KestrelWeb.cpp, and read by the page and these
// tests from the module. Here it is held against the browser and the game:
// each button the contract lists is the one a real press of that button
// reports, and reaches the game as that button's code; each key name is the
// one a real key press reports, and reaches the game as that key's code.

import assert from 'node:assert/strict';
import { before, describe, test } from 'node:test';
import { CONTRACT, PROBE, openGame, useSiteAndBrowser } from './support.mjs';

// The game's codes (the replay format's `down B X Y` and `key C`).
const BUTTON_CODES = { left: 1, right: 2, middle: 4, back: 8, forward: 16 };
const KEY_CODES = { Escape: 27, Enter: 13, Tab: 9, Backspace: 8 };

const lastLine = (recording, command) => recording.trimEnd().split('\n').filter(line => line.startsWith(`${command} `)).at(-1);

describe('the page\'s contract with the module', () => {
  const env = useSiteAndBrowser();
  let page, problems;
  before(async () => {
    ({ page, problems } = await openGame(env.browser, env.site.url));
    await page.evaluate(() => {
      window.seen = [];
      const canvas = document.querySelector('canvas');
      canvas.addEventListener('pointerdown', event => window.seen.push([event.button, event.buttons]));
      window.addEventListener('keydown', event => window.seen.push(event.key));
    });
  });

  test('lists every button the game has a code for, each once', () => {
    assert.deepEqual(CONTRACT.buttons.map(button => button.name).sort(), Object.keys(BUTTON_CODES).sort());
    assert.equal(new Set(CONTRACT.buttons.map(button => button.bit)).size, CONTRACT.buttons.length);
  });

  test('each button is the one a real press reports, and reaches the game as its code', async () => {
    const cdp = await page.createCDPSession();
    for (const [index, { name, bit }] of CONTRACT.buttons.entries()) {
      await page.evaluate(() => { window.seen = []; });
      const at = { x: 40 + 20 * index, y: 600 };
      await cdp.send('Input.dispatchMouseEvent', { type: 'mouseMoved', ...at });
      await cdp.send('Input.dispatchMouseEvent', { type: 'mousePressed', button: name, buttons: bit, clickCount: 1, ...at });
      const down = lastLine(await page.evaluate(() => window.kestrel.recording()), 'down');
      await cdp.send('Input.dispatchMouseEvent', { type: 'mouseReleased', button: name, buttons: 0, clickCount: 1, ...at });
      assert.deepEqual(await page.evaluate(() => window.seen), [[index, bit]], name);
      assert.equal(down, `down ${BUTTON_CODES[name]} ${at.x} ${at.y}`, name);
    }
    await cdp.detach();
  });

  test('each key name is the one a real key reports, and reaches the game as its code', async () => {
    assert.deepEqual([...CONTRACT.keys].sort(), Object.keys(KEY_CODES).sort());
    const keys = [...CONTRACT.keys.filter(name => name !== 'Escape'), 'Escape'];  // Esc ends it: last
    for (const name of keys) {
      await page.evaluate(() => { window.seen = []; });
      await page.keyboard.press(name);
      assert.deepEqual(await page.evaluate(() => window.seen), [name]);
      assert.equal(lastLine(await page.evaluate(() => window.kestrel.recording()), 'key'), `key ${KEY_CODES[name]}`);
    }
    assert.equal(await page.$eval('#end', note => note.hidden), false, 'Esc ended the game');
  });

  test('names every probe the tests read, each its own number', () => {
    const names = ['tankX', 'tankY', 'tankHits', 'tankTarget', 'dragging', 'dragSlot', 'canvasWidth', 'canvasHeight'];
    assert.deepEqual(Object.keys(PROBE).sort(), names.sort());
    assert.equal(new Set(Object.values(PROBE)).size, names.length);
    assert.equal(CONTRACT.tickMs, 25);
    assert.deepEqual(problems, []);
  });
});
