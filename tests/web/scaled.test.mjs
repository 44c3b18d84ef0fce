// The pages on a screen of two device pixels per CSS pixel: the game's lines
// two pixels wide, and its canvas always exactly the game's picture, so
// that erasing leaves no trace; the replay page's picture at its size in
// CSS pixels. The game page's clock stands still between the steps.

import assert from 'node:assert/strict';
import { before, describe, test } from 'node:test';
import {
  FIXED_SEED, assertReadmePicture, openGame, openReplay, probe, shownPicture, ticks, useSiteAndBrowser,
} from './support.mjs';

const env = useSiteAndBrowser({ scale: 2 });

describe('the game page at device scale factor 2', () => {
  let page, problems;
  before(async () => {
    ({ page, problems } = await openGame(env.browser, env.site.url, { seed: FIXED_SEED }));
  });

  test('draws two device pixels per canvas unit, lines two pixels wide', async () => {
    const sizes = await page.evaluate(() => {
      const canvas = document.querySelector('canvas');
      return { ratio: devicePixelRatio, device: [canvas.width, canvas.height], css: [innerWidth, innerHeight] };
    });
    assert.equal(sizes.ratio, 2);
    assert.deepEqual(sizes.device, sizes.css.map(side => 2 * side));
    assert.deepEqual([await probe(page, 'canvasWidth'), await probe(page, 'canvasHeight')], sizes.css);

    await ticks(page, 20);
    // Every pixel of a two-pixel pen lies in a 2 x 2 block of its colour,
    // unless a later stroke cut into it. Counted in the page: the canvas is
    // millions of bytes.
    const { inBlock, all } = await page.evaluate(() => {
      const canvas = document.querySelector('canvas'), width = canvas.width;
      const { data } = canvas.getContext('2d').getImageData(0, 0, width, canvas.height);
      const black = (x, y) => {
        const i = (y * width + x) * 4;
        return data[i] === 0 && data[i + 1] === 0 && data[i + 2] === 0 && data[i + 3] === 255;
      };
      let inBlock = 0, all = 0;
      for (let y = 0; y < canvas.height; y++) {
        for (let x = 0; x < width; x++) {
          if (!black(x, y)) continue;
          ++all;
          inBlock += [[-1, -1], [0, -1], [-1, 0], [0, 0]].some(([dx, dy]) =>
            black(x + dx, y + dy) && black(x + dx + 1, y + dy) && black(x + dx, y + dy + 1) && black(x + dx + 1, y + dy + 1));
        }
      }
      return { inBlock, all };
    });
    assert.ok(all > 100, `black pixels: ${all}`);
    assert.ok(inBlock >= 0.9 * all, `${inBlock} of ${all} black pixels in 2 x 2 blocks`);
  });

  test('shows exactly the game\'s picture: every erase reached the canvas', async () => {
    for (let round = 0; round < 5; round++) {
      await ticks(page, 7);
      const same = await page.evaluate(() => {
        const canvas = document.querySelector('canvas');
        const shown = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
        const drawn = window.kestrel.picture();
        if (shown.length !== drawn.length) return 'sizes differ';
        for (let i = 0; i < shown.length; i++) if (shown[i] !== drawn[i]) return `byte ${i} differs`;
        return 'same';
      });
      assert.equal(same, 'same', `round ${round}`);
    }
    assert.deepEqual(problems, []);
  });
});

describe('the replay page at device scale factor 2', () => {
  test('shows the picture at its size in CSS pixels, each pixel two device pixels wide', async () => {
    const page = await openReplay(env.browser, env.site.url);
    const shown = await shownPicture(page);
    assert.equal(await page.evaluate(() => devicePixelRatio), 2);
    assert.deepEqual(shown.css, [shown.width, shown.height]);
    assertReadmePicture(shown);
    await page.close();
  });
});
