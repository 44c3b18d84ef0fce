// The page on a phone: every control by touch, with real touch events in
// Chromium's phone emulation. A finger's drag is the left button, a long
// press released over a tank the right button, a two-finger tap a key, and
// the corner control's buttons answer a finger without the game seeing it.

import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import {
  PROBE, commonTarget, launchChromium, liveSlots, openPhone, pause, probe, serveSite, targets,
  ticks, turretOnScreen, watchWipes,
} from './support.mjs';

const LONG_PRESS_MS = 500;

describe('the game page on a phone', () => {
  let site, browser, page, touch, problems;
  before(async () => {
    site = await serveSite();
    browser = await launchChromium();
    ({ page, touch, problems } = await openPhone(browser, site.url));
  });
  after(async () => {
    await browser?.close();
    site?.close();
  });

  // Waits for a battle with a live player and at least `others` other live tanks.
  async function battleWith(others) {
    for (let attempt = 0; attempt < 100; attempt++) {
      const live = await liveSlots(page);
      if (live.includes(0) && live.length > others) return live;
      await pause(100);
    }
    throw new Error('no battle with enough live tanks');
  }

  test('the help line is worded for touch', async () => {
    const text = await page.$eval('#help', help => help.textContent);
    assert.match(text, /finger.*two fingers/s);
    assert.doesNotMatch(text, /button|Esc/);
  });

  test('a finger\'s drag moves the player\'s tank as the left button does', async () => {
    let dropped = false;
    for (let attempt = 0; attempt < 10 && !dropped; attempt++) {
      await battleWith(0);
      const from = await turretOnScreen(page, 0);
      await touch('touchStart', [[from.x, from.y]]);
      const to = { x: from.x + 40, y: from.y + 30 };
      for (let step = 1; step <= 5; step++) {
        await touch('touchMove', [[from.x + (to.x - from.x) * step / 5, from.y + (to.y - from.y) * step / 5]]);
      }
      const held = { dragging: await probe(page, PROBE.dragging), slot: await probe(page, PROBE.dragSlot) };
      if (held.dragging && held.slot === 0) {
        const at = await turretOnScreen(page, 0);
        assert.ok(Math.abs(at.x - to.x) <= 9 && Math.abs(at.y - to.y) <= 9, JSON.stringify({ at, to }));
        dropped = true;
      }
      await touch('touchEnd', []);
      assert.equal(await probe(page, PROBE.dragging), 0);
    }
    assert.ok(dropped, 'the player\'s tank was picked up');
  });

  test('a short tap on a tank sends the player\'s tank after it, not every tank', async () => {
    let tapped = false;
    for (let attempt = 0; attempt < 10 && !tapped; attempt++) {
      const live = (await battleWith(2)).filter(slot => slot !== 0);
      const slot = live[attempt % live.length];
      const at = await turretOnScreen(page, slot);
      await touch('touchStart', [[at.x, at.y]]);
      await touch('touchEnd', []);
      const all = await targets(page);
      if (all[0] !== slot) continue;  // another tank lay over it, or it drove off
      assert.notEqual(commonTarget(all.slice(1)), slot);
      tapped = true;
    }
    assert.ok(tapped);
  });

  test('a long press, released over a tank, sends every tank after that tank', async () => {
    let ordered = false;
    for (let attempt = 0; attempt < 10 && !ordered; attempt++) {
      const live = await battleWith(2);
      const first = await turretOnScreen(page, live[1]);
      await touch('touchStart', [[first.x, first.y]]);
      await pause(LONG_PRESS_MS + 200);
      assert.equal(await probe(page, PROBE.dragging), 0, 'a long press drags nothing');
      // Slide to where a tank is now and let go there.
      const slot = live[live.length - 1];
      const at = await turretOnScreen(page, slot);
      await touch('touchMove', [[at.x, at.y]]);
      await touch('touchEnd', []);
      const picked = commonTarget(await targets(page));
      ordered = picked !== undefined && await probe(page, PROBE.tankHits, picked) > 0;
    }
    assert.ok(ordered, 'every tank but the picked one targets it');
  });

  test('a two-finger tap wipes the field and starts a new battle; two fingers that move do not', async () => {
    await battleWith(1);
    await watchWipes(page);
    await touch('touchStart', [[100, 300], [200, 320]]);
    await touch('touchMove', [[100, 300], [260, 380]]);  // a pinch, say
    await touch('touchEnd', []);
    assert.deepEqual(await page.evaluate(() => window.wipedAfter), [['pointerup', false], ['pointerup', false]]);

    await watchWipes(page);
    await touch('touchStart', [[100, 300], [200, 320]]);
    await touch('touchEnd', []);
    assert.deepEqual((await page.evaluate(() => window.wipedAfter)).at(-1), ['pointerup', true]);
    await ticks(page, 1);
    assert.ok(await probe(page, PROBE.tankHits, 0) > 0, 'a new battle');
  });

  // A tap on an element, by touch.
  async function tap(selector) {
    const box = await (await page.$(selector)).boundingBox();
    const at = [box.x + box.width / 2, box.y + box.height / 2];
    await touch('touchStart', [at]);
    await touch('touchEnd', []);
  }

  test('the corner control by touch: its taps never reach the game; New battle, and End as Esc', async () => {
    const inputs = await page.evaluate(() => window.kestrelInputs);
    // A long press on the control, slid over the field: no order, no drag.
    const box = await (await page.$('#more')).boundingBox();
    await touch('touchStart', [[box.x + 5, box.y + 5]]);
    await pause(LONG_PRESS_MS + 100);
    await touch('touchMove', [[150, 400]]);
    await touch('touchEnd', []);
    assert.equal(await page.evaluate(() => window.kestrelInputs), inputs);
    if (await page.$eval('#actions', actions => actions.hidden)) await tap('#more');
    await page.waitForFunction(() => !document.getElementById('actions').hidden);
    assert.equal(await page.evaluate(() => window.kestrelInputs), inputs);

    await watchWipes(page);
    await tap('#new-battle');
    assert.deepEqual((await page.evaluate(() => window.wipedAfter)).filter(([, wiped]) => wiped).length, 1);

    await tap('#more');
    await page.waitForFunction(() => !document.getElementById('actions').hidden);
    await tap('#end-game');
    await page.waitForFunction(() => !document.getElementById('end').hidden);
    const count = await page.evaluate(() => window.kestrelTicks);
    await pause(200);
    assert.equal(await page.evaluate(() => window.kestrelTicks), count);
    assert.deepEqual(problems, []);
  });
});
