// The game page in headless Chromium at one device pixel per CSS pixel: it
// loads cleanly, shows a battle, and answers the mouse and the keyboard as
// the desktop window does. The page's clock stands still between the
// tests' steps, and the battles are fixed ones, so that each step finds the
// tanks where the last one left them.

import assert from 'node:assert/strict';
import { before, describe, test } from 'node:test';
import {
  FIXED_SEED, SLOT_COUNT, canvasPixels, fixedBattle, fixedBattleLink, liveSlots, openGame, probe, targets, ticks, turretOnScreen, useSiteAndBrowser,
} from './support.mjs';

const env = useSiteAndBrowser();

describe('the game page', () => {
  let page, problems;
  before(async () => {
    ({ page, problems } = await openGame(env.browser, env.site.url));
  });

  test('loads with no console errors, titled, its icon the tank, its canvas filling the window', async () => {
    assert.equal(await page.title(), '3D Kestrel');
    const layout = await page.evaluate(() => {
      const canvas = document.querySelector('canvas'), box = canvas.getBoundingClientRect();
      return { box: [box.left, box.top, box.width, box.height], window: [innerWidth, innerHeight],
               device: [canvas.width, canvas.height], icon: document.querySelector('link[rel=icon]').href };
    });
    assert.deepEqual(layout.box, [0, 0, ...layout.window]);
    assert.deepEqual(layout.device, layout.window);
    assert.deepEqual([await probe(page, 'canvasWidth'), await probe(page, 'canvasHeight')], layout.window);
    const icon = await fetch(layout.icon);
    assert.equal(icon.status, 200);
    assert.match(await icon.text(), /<svg/);
    assert.deepEqual(problems, []);
  });

  test('shows black tanks and the dark-blue player at the second tick, which draws the first battle', async () => {
    await page.goto(`${env.site.url}${fixedBattleLink(FIXED_SEED, 900, 700)}`, { waitUntil: 'load' });
    await page.waitForFunction(() => document.querySelector('canvas')?.classList.contains('playing'));
    const shown = [];
    for (let tick = 1; tick <= 2; tick++) {
      await ticks(page, 1);
      shown.push(await page.evaluate(() => window.tankPixels()));
    }
    assert.equal(shown[0].blue, 0, 'the first tick lays the battle out');
    assert.ok(shown[1].black > 0 && shown[1].blue > 0, JSON.stringify(shown[1]));
  });

  test('a left drag moves the player\'s tank under the pointer', async () => {
    await fixedBattle(page);
    const from = await turretOnScreen(page, 0);
    await page.mouse.move(from.x, from.y);
    await page.mouse.down({ button: 'left' });
    assert.deepEqual([await probe(page, 'dragging'), await probe(page, 'dragSlot')], [1, 0], 'the player\'s tank is picked up');
    const to = { x: from.x + 60, y: from.y + 25 };
    await page.mouse.move(to.x, to.y, { steps: 5 });
    // No tick since: the tank is where the last move put it.
    const at = await turretOnScreen(page, 0);
    assert.ok(Math.abs(at.x - to.x) <= 1 && Math.abs(at.y - to.y) <= 1, JSON.stringify({ at, to }));
    await page.mouse.up({ button: 'left' });
    assert.equal(await probe(page, 'dragging'), 0);
  });

  test('a pointer the browser cancels ends the drag; a second finger is left alone', async () => {
    await fixedBattle(page);
    const at = await turretOnScreen(page, 0);
    const seen = await page.evaluate(({ x, y }) => {
      const canvas = document.querySelector('canvas');
      const send = (type, init) => canvas.dispatchEvent(new PointerEvent(type, {
        clientX: x, clientY: y, pointerId: 7, isPrimary: true, button: -1, buttons: 0, ...init }));
      send('pointerdown', { button: 0, buttons: 1 });
      const picked = window.kestrel.probe('dragging');
      send('pointerdown', { pointerId: 8, isPrimary: false, button: 0, buttons: 1, clientX: x + 200 });
      send('pointerup', { pointerId: 8, isPrimary: false, button: 0, buttons: 0, clientX: x + 200 });
      const stillPicked = window.kestrel.probe('dragging');
      send('pointercancel', {});
      return { picked, stillPicked, afterCancel: window.kestrel.probe('dragging') };
    }, at);
    assert.deepEqual(seen, { picked: 1, stillPicked: 1, afterCancel: 0 });
  });

  test('a right release over a tank sends every tank after it, with no context menu', async () => {
    await page.evaluate(() => document.addEventListener('contextmenu', event => {
      window.menuPrevented = event.defaultPrevented;
    }));
    await fixedBattle(page);
    // The highest slot under the pointer is the one picked: the last live
    // tank, wherever the others are.
    const slot = (await liveSlots(page)).at(-1);
    assert.notDeepEqual(await targets(page), Array(SLOT_COUNT).fill(slot));
    const at = await turretOnScreen(page, slot);
    await page.mouse.move(at.x, at.y);
    await page.mouse.down({ button: 'right' });
    await page.mouse.up({ button: 'right' });
    assert.deepEqual(await targets(page), Array(SLOT_COUNT).fill(slot));
    assert.equal(await page.evaluate(() => window.menuPrevented), true);
  });

  test('a character key wipes the field; keys that type nothing, or with Ctrl, do not', async () => {
    const wiped = await page.evaluate(() => {
      const read = () => {
        const { black, blue } = window.tankPixels();
        return black + blue;
      };
      const press = init => {
        const event = new KeyboardEvent('keydown', { cancelable: true, ...init });
        window.dispatchEvent(event);
        return event.defaultPrevented;
      };
      const before = read();
      const ignored = [press({ key: 'Shift' }), press({ key: 'ArrowLeft' }), press({ key: 'a', ctrlKey: true })];
      const afterIgnored = read();
      const taken = press({ key: 'x' });
      return { before, ignored, afterIgnored, taken, after: read(), hits: window.kestrel.probe('tankHits', 0) };
    });
    assert.ok(wiped.before > 0);
    assert.deepEqual(wiped.ignored, [false, false, false]);
    assert.equal(wiped.afterIgnored, wiped.before);
    assert.equal(wiped.taken, true);
    assert.equal(wiped.after, 0, 'no tank left on the canvas');
    assert.equal(wiped.hits, 0);

    // A real key press, through the browser: the field is wiped, and the
    // next tick starts a battle.
    await fixedBattle(page);
    await page.keyboard.press('Enter');
    assert.equal(await probe(page, 'tankHits', 0), 0);
    await ticks(page, 1);
    assert.equal(await probe(page, 'tankHits', 0), 2);
  });

  test('follows the window when it is resized', async () => {
    await page.setViewport({ width: 500, height: 380 });
    await page.waitForFunction(() =>
      window.kestrel.probe('canvasWidth') === 500 && window.kestrel.probe('canvasHeight') === 380);
    await ticks(page, 10);
    const shown = await canvasPixels(page);
    assert.deepEqual([shown.width, shown.height], [500, 380]);
    await page.setViewport({ width: 900, height: 700 });
    await page.waitForFunction(() => window.kestrel.probe('canvasWidth') === 900);
  });

  test('Esc ends the game: no more ticks, the picture stays, a line says how to play again', async () => {
    assert.equal(await page.$eval('#end', note => note.hidden), true);
    await page.keyboard.press('Escape');
    const count = await page.evaluate(() => window.kestrel.ticks);
    const shown = await canvasPixels(page);
    await ticks(page, 12);
    await page.keyboard.press('a');
    await page.mouse.click(100, 100);
    assert.equal(await page.evaluate(() => window.kestrel.ticks), count);
    assert.deepEqual(await canvasPixels(page), shown);
    assert.equal(await page.$eval('#end', note => note.hidden), false);
    assert.match(await page.$eval('#end', note => note.textContent), /[Rr]eload/);
    assert.deepEqual(problems, []);
  });
});
