// The game page on a screen of two device pixels per CSS pixel: lines two
// pixels wide, and the canvas always exactly the game's picture, so that
// erasing leaves no trace.

import assert from 'node:assert/strict';
import { before, describe, test } from 'node:test';
import { PROBE, canvasPixels, openGame, probe, useSiteAndBrowser } from './support.mjs';

describe('the game page at device scale factor 2', () => {
  const env = useSiteAndBrowser({ scale: 2 });
  let page, problems;
  before(async () => {
    ({ page, problems } = await openGame(env.browser, env.site.url));
  });

  test('draws two device pixels per canvas unit, lines two pixels wide', async () => {
    const sizes = await page.evaluate(() => {
      const canvas = document.querySelector('canvas');
      return { ratio: devicePixelRatio, device: [canvas.width, canvas.height], css: [innerWidth, innerHeight] };
    });
    assert.equal(sizes.ratio, 2);
    assert.deepEqual(sizes.device, sizes.css.map(side => 2 * side));
    assert.deepEqual([await probe(page, PROBE.canvasWidth), await probe(page, PROBE.canvasHeight)], sizes.css);

    await page.waitForFunction(t => window.kestrelTicks > t + 20, {}, await page.evaluate(() => window.kestrelTicks));
    const shown = await canvasPixels(page);
    const black = (x, y) => {
      const i = (y * shown.width + x) * 4;
      return shown.data[i] === 0 && shown.data[i + 1] === 0 && shown.data[i + 2] === 0;
    };
    // Every pixel of a two-pixel pen lies in a 2 x 2 block of its colour,
    // unless a later stroke cut into it.
    let inBlock = 0, all = 0;
    for (let y = 0; y < shown.height; y++) {
      for (let x = 0; x < shown.width; x++) {
        if (!black(x, y)) continue;
        ++all;
        inBlock += [[-1, -1], [0, -1], [-1, 0], [0, 0]].some(([dx, dy]) =>
          black(x + dx, y + dy) && black(x + dx + 1, y + dy) && black(x + dx, y + dy + 1) && black(x + dx + 1, y + dy + 1));
      }
    }
    assert.ok(all > 100, `black pixels: ${all}`);
    assert.ok(inBlock >= 0.9 * all, `${inBlock} of ${all} black pixels in 2 x 2 blocks`);
  });

  test('shows exactly the game\'s picture: every erase reached the canvas', async () => {
    for (let round = 0; round < 5; round++) {
      await page.waitForFunction(t => window.kestrelTicks > t + 7, {}, await page.evaluate(() => window.kestrelTicks));
      // Read both within one task, between two ticks.
      const same = await page.evaluate(() => {
        const canvas = document.querySelector('canvas');
        const shown = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
        const picture = window.kestrelPicture();
        if (shown.length !== picture.length) return 'sizes differ';
        for (let i = 0; i < shown.length; i++) if (shown[i] !== picture[i]) return `byte ${i} differs`;
        return 'same';
      });
      assert.equal(same, 'same');
    }
    assert.deepEqual(problems, []);
  });
});
