// The game page in headless Chromium at one device pixel per CSS pixel: it
// loads cleanly, shows a battle, and answers the mouse and the keyboard as
// the desktop window does.

import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { PROBE, SLOT_COUNT, canvasPixels, openGame, pause, probe, turretOnScreen, useSiteAndBrowser } from './support.mjs';

const TICK_MS = 25;

describe('the game page', () => {
  const env = useSiteAndBrowser();
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
    assert.deepEqual([await probe(page, PROBE.canvasWidth), await probe(page, PROBE.canvasHeight)], layout.window);
    const icon = await fetch(layout.icon);
    assert.equal(icon.status, 200);
    assert.match(await icon.text(), /<svg/);
    assert.deepEqual(problems, []);
  });

  test('shows black tanks and the dark-blue player within a second', async () => {
    await page.reload({ waitUntil: 'load' });
    const shown = await page.waitForFunction(() => {
      const { black, blue } = window.tankPixels();
      return black > 0 && blue > 0;
    }, { timeout: 1000, polling: 10 });
    assert.ok(await shown.jsonValue());
  });

  test('a left drag moves the player\'s tank under the pointer', async () => {
    let dropped = false;
    for (let attempt = 0; attempt < 5 && !dropped; attempt++) {
      if (await probe(page, PROBE.tankHits, 0) <= 0) {  // wait for a battle with a live player
        await pause(200);
        continue;
      }
      const from = await turretOnScreen(page, 0);
      await page.mouse.move(from.x, from.y);
      await page.mouse.down({ button: 'left' });
      if (!await probe(page, PROBE.dragging) || await probe(page, PROBE.dragSlot) !== 0) {
        await page.mouse.up({ button: 'left' });  // another tank lay over it; try again
        continue;
      }
      const to = { x: from.x + 60, y: from.y + 25 };
      await page.mouse.move(to.x, to.y, { steps: 5 });
      // The move put it there; the ticks since may have driven it on by up
      // to 3 units each.
      const at = await turretOnScreen(page, 0);
      assert.ok(Math.abs(at.x - to.x) <= 9 && Math.abs(at.y - to.y) <= 9, JSON.stringify({ at, to }));
      await page.mouse.up({ button: 'left' });
      assert.equal(await probe(page, PROBE.dragging), 0);
      dropped = true;
    }
    assert.ok(dropped, 'the player\'s tank was picked up');
  });

  test('a pointer the env.browser cancels ends the drag; a second finger is left alone', async () => {
    await page.waitForFunction(tankHits => window.kestrelProbe(tankHits, 0) > 0, {}, PROBE.tankHits);
    const at = await turretOnScreen(page, 0);
    const seen = await page.evaluate(({ x, y }, { dragging }) => {
      const canvas = document.querySelector('canvas');
      const send = (type, init) => canvas.dispatchEvent(new PointerEvent(type, {
        clientX: x, clientY: y, pointerId: 7, isPrimary: true, button: -1, buttons: 0, ...init }));
      send('pointerdown', { button: 0, buttons: 1 });
      const picked = window.kestrelProbe(dragging);
      send('pointerdown', { pointerId: 8, isPrimary: false, button: 0, buttons: 1, clientX: x + 200 });
      send('pointerup', { pointerId: 8, isPrimary: false, button: 0, buttons: 0, clientX: x + 200 });
      const stillPicked = window.kestrelProbe(dragging);
      send('pointercancel', {});
      return { picked, stillPicked, afterCancel: window.kestrelProbe(dragging) };
    }, at, PROBE);
    assert.deepEqual(seen, { picked: 1, stillPicked: 1, afterCancel: 0 });
  });

  test('a right release over a tank sends every tank after it, with no context menu', async () => {
    await page.evaluate(() => document.addEventListener('contextmenu', event => {
      window.menuPrevented = event.defaultPrevented;
    }));
    let ordered = false;
    for (let attempt = 0; attempt < 10 && !ordered; attempt++) {
      const live = [];
      for (let slot = 1; slot < SLOT_COUNT; slot++) if (await probe(page, PROBE.tankHits, slot) === 2) live.push(slot);
      if (live.length === 0) {
        await pause(200);
        continue;
      }
      const at = await turretOnScreen(page, live[0]);
      await page.mouse.move(at.x, at.y);
      await page.mouse.down({ button: 'right' });
      await page.mouse.up({ button: 'right' });
      const targets = [];
      for (let slot = 0; slot < SLOT_COUNT; slot++) targets.push(await probe(page, PROBE.tankTarget, slot));
      // The picked tank itself may have chosen anew at a tick since.
      const picked = targets.find(t => targets.filter(u => u === t).length >= SLOT_COUNT - 1);
      ordered = picked !== undefined && await probe(page, PROBE.tankHits, picked) > 0;
    }
    assert.ok(ordered, 'every tank but the picked one targets it');
    assert.equal(await page.evaluate(() => window.menuPrevented), true);
  });

  test('a character key wipes the field; keys that type nothing, or with Ctrl, do not', async () => {
    // Dispatched and read within one task, so no tick comes between.
    const wiped = await page.evaluate(tankHits => {
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
      return { before, ignored, afterIgnored, taken, after: read(), hits: window.kestrelProbe(tankHits, 0) };
    }, PROBE.tankHits);
    assert.ok(wiped.before > 0);
    assert.deepEqual(wiped.ignored, [false, false, false]);
    assert.equal(wiped.afterIgnored, wiped.before);
    assert.equal(wiped.taken, true);
    assert.equal(wiped.after, 0, 'no tank left on the canvas');
    assert.equal(wiped.hits, 0);

    // A real key press, through the env.browser: the next tick starts a battle.
    await pause(4 * TICK_MS);
    const ticks = await page.evaluate(() => window.kestrelTicks);
    await page.keyboard.press('Enter');
    const seen = await page.evaluate(tankHits => ({ ticks: window.kestrelTicks, hits: window.kestrelProbe(tankHits, 0) }),
                                     PROBE.tankHits);
    if (seen.ticks === ticks) assert.equal(seen.hits, 0);
    await page.waitForFunction(tankHits => window.kestrelProbe(tankHits, 0) === 2, { timeout: 2000 }, PROBE.tankHits);
  });

  test('follows the window when it is resized', async () => {
    await page.setViewport({ width: 500, height: 380 });
    await page.waitForFunction(({ canvasWidth, canvasHeight }) =>
      window.kestrelProbe(canvasWidth) === 500 && window.kestrelProbe(canvasHeight) === 380, {}, PROBE);
    const ticks = await page.evaluate(() => window.kestrelTicks);
    await page.waitForFunction(t => window.kestrelTicks > t + 10, {}, ticks);
    const shown = await canvasPixels(page);
    assert.deepEqual([shown.width, shown.height], [500, 380]);
    await page.setViewport({ width: 900, height: 700 });
    await page.waitForFunction(({ canvasWidth }) => window.kestrelProbe(canvasWidth) === 900, {}, PROBE);
  });

  test('Esc ends the game: no more ticks, the picture stays, a line says how to play again', async () => {
    assert.equal(await page.$eval('#end', note => note.hidden), true);
    await page.keyboard.press('Escape');
    const ticks = await page.evaluate(() => window.kestrelTicks);
    const picture = await canvasPixels(page);
    await pause(300);
    await page.keyboard.press('a');
    await page.mouse.click(100, 100);
    assert.equal(await page.evaluate(() => window.kestrelTicks), ticks);
    assert.deepEqual(await canvasPixels(page), picture);
    assert.equal(await page.$eval('#end', note => note.hidden), false);
    assert.match(await page.$eval('#end', note => note.textContent), /[Rr]eload/);
    assert.deepEqual(problems, []);
  });
});
