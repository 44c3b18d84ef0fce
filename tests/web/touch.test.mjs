// The page on a phone: every control by touch, with real touch events in
// Chromium's phone emulation. A finger's drag is the left button, a long
// press released over a tank the right button, a two-finger tap a key, and
// the corner control's buttons answer a finger without the game seeing it.
// The page's clock stands still between steps (a long press is the clock
// moved on), and each battle is a fixed one. The gestures themselves, slop
// and timing included, are tested under node (node/gestures.test.mjs).

import assert from 'node:assert/strict';
import { before, describe, test } from 'node:test';
import {
  SLOT_COUNT, advance, fixedBattle, liveSlots, openPhone, probe, targets, ticks, turretOnScreen, useSiteAndBrowser,
  watchWipes,
} from './support.mjs';

const LONG_PRESS_MS = 500;
const RIGHT_CODE = 2;  // the right button in a recording

const env = useSiteAndBrowser();

describe('the game page on a phone', () => {
  let page, touch, problems;
  before(async () => {
    ({ page, touch, problems } = await openPhone(env.browser, env.site.url));
  });

  test('the help line is worded for touch', async () => {
    const text = await page.$eval('#help', help => help.textContent);
    assert.match(text, /finger.*two fingers/s);
    assert.doesNotMatch(text, /button|Esc/);
  });

  test('a finger\'s drag moves the player\'s tank as the left button does', async () => {
    await fixedBattle(page);
    const from = await turretOnScreen(page, 0);
    await touch('touchStart', [[from.x, from.y]]);
    const to = { x: from.x + 40, y: from.y + 30 };
    for (let step = 1; step <= 5; step++) {
      await touch('touchMove', [[from.x + (to.x - from.x) * step / 5, from.y + (to.y - from.y) * step / 5]]);
    }
    assert.deepEqual([await probe(page, 'dragging'), await probe(page, 'dragSlot')], [1, 0], 'the player\'s tank is picked up');
    // No tick since: the tank is where the last move put it.
    const at = await turretOnScreen(page, 0);
    assert.ok(Math.abs(at.x - to.x) <= 1 && Math.abs(at.y - to.y) <= 1, JSON.stringify({ at, to }));
    await touch('touchEnd', []);
    assert.equal(await probe(page, 'dragging'), 0);
  });

  test('a short tap on a tank sends the player\'s tank after it, not every tank', async () => {
    await fixedBattle(page);
    const before = await targets(page);
    const slot = (await liveSlots(page)).at(-1);  // the highest slot under a finger is the one picked
    assert.notEqual(before[0], slot);
    const at = await turretOnScreen(page, slot);
    await touch('touchStart', [[at.x, at.y]]);
    await touch('touchEnd', []);
    assert.deepEqual(await targets(page), [slot, ...before.slice(1)]);
  });

  test('a long press, released over a tank, sends every tank after that tank', async () => {
    // The last press that reached the game in this battle, as its recording
    // has it: [button, x, y].
    const lastPress = async () => (await page.evaluate(() => window.kestrel.recording()))
      .split('\n').filter(line => line.startsWith('down ')).at(-1)?.split(' ').slice(1).map(Number);
    await fixedBattle(page);
    const live = await liveSlots(page);
    const first = await turretOnScreen(page, live[1]);
    await touch('touchStart', [[first.x, first.y]]);
    await advance(page, LONG_PRESS_MS - 1);
    assert.equal(await lastPress(), undefined, 'held, not yet long');
    await advance(page, 1);
    const [button, x, y] = await lastPress();
    assert.equal(button, RIGHT_CODE);
    assert.ok(Math.abs(x - first.x) <= 1 && Math.abs(y - first.y) <= 1, 'where the finger is');
    assert.equal(await probe(page, 'dragging'), 0, 'a long press drags nothing');
    // Slide to another tank and let go there.
    const slot = live.at(-1);
    const at = await turretOnScreen(page, slot);
    await touch('touchMove', [[at.x, at.y]]);
    await touch('touchEnd', []);
    assert.deepEqual(await targets(page), Array(SLOT_COUNT).fill(slot));
  });

  test('a two-finger tap wipes the field and starts a new battle; two fingers that move do not', async () => {
    await fixedBattle(page);
    await watchWipes(page);
    await touch('touchStart', [[100, 300], [200, 320]]);
    await touch('touchMove', [[100, 300], [260, 380]]);  // a pinch, say
    await touch('touchEnd', []);
    assert.deepEqual(await page.evaluate(() => window.wipedAfter), [['pointerup', false], ['pointerup', false]]);

    await watchWipes(page);
    await touch('touchStart', [[100, 300], [200, 320]]);
    await touch('touchEnd', []);
    assert.deepEqual(await page.evaluate(() => window.wipedAfter), [['pointerup', false], ['pointerup', true]]);
    await ticks(page, 1);
    assert.equal(await probe(page, 'tankHits', 0), 2, 'a new battle');
  });

  // A tap on an element, by touch.
  async function tap(selector) {
    const box = await (await page.$(selector)).boundingBox();
    const at = [box.x + box.width / 2, box.y + box.height / 2];
    await touch('touchStart', [at]);
    await touch('touchEnd', []);
  }

  test('the corner control by touch: its taps never reach the game; New battle, and End as Esc', async () => {
    const inputs = await page.evaluate(() => window.kestrel.inputs);
    // A long press on the control, slid over the field: no order, no drag.
    const box = await (await page.$('#more')).boundingBox();
    await touch('touchStart', [[box.x + 5, box.y + 5]]);
    await advance(page, LONG_PRESS_MS + 100);
    await touch('touchMove', [[150, 400]]);
    await touch('touchEnd', []);
    assert.equal(await page.evaluate(() => window.kestrel.inputs), inputs);
    if (await page.$eval('#actions', actions => actions.hidden)) await tap('#more');
    await page.waitForFunction(() => !document.getElementById('actions').hidden);
    assert.equal(await page.evaluate(() => window.kestrel.inputs), inputs);

    await watchWipes(page);
    await tap('#new-battle');
    assert.deepEqual((await page.evaluate(() => window.wipedAfter)).filter(([, wiped]) => wiped).length, 1);

    await tap('#more');
    await page.waitForFunction(() => !document.getElementById('actions').hidden);
    await tap('#end-game');
    await page.waitForFunction(() => !document.getElementById('end').hidden);
    const count = await page.evaluate(() => window.kestrel.ticks);
    await ticks(page, 8);
    assert.equal(await page.evaluate(() => window.kestrel.ticks), count);
    assert.deepEqual(problems, []);
  });
});
