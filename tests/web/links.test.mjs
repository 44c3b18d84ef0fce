// Battle links opened in the page: one played at another size shows at that
// size until the hand-over; a bad link says what is wrong with it and
// starts a fresh battle. The pages' clocks stand still between steps. (The
// link's format itself is tested under node: node/link.test.mjs.)

import assert from 'node:assert/strict';
import zlib from 'node:zlib';
import { describe, test } from 'node:test';
import { CONTRACT, installStoppedClock, liveSlots, ticks, useSiteAndBrowser } from './support.mjs';

const link = bytes => `#battle=${Buffer.from(bytes).toString('base64url')}`;
const packed = text => zlib.deflateRawSync(Buffer.from(text));

const env = useSiteAndBrowser();

describe('battle links', () => {
  const good = 'version 1\nseed 5\nsize 696 548\ntick 40\n';

  // A page opened at a link, its clock stopped; `problems` collects its errors.
  async function openLink(fragment) {
    const page = await env.browser.newPage();
    const problems = [];
    page.on('pageerror', error => problems.push(String(error)));
    await page.evaluateOnNewDocument(installStoppedClock);
    await page.goto(`${env.site.url}${fragment}`, { waitUntil: 'load' });
    await page.waitForFunction(() => window.kestrel?.ticks === 0);
    return { page, problems };
  }

  test('a battle played at another size shows at that size, then the window\'s once handed over', async () => {
    const { page, problems } = await openLink(link(packed('version 1\nseed 5\nsize 400 300\ntick 60\n')));
    await page.waitForFunction(() => document.querySelector('canvas').classList.contains('playing'));
    const box = () => page.evaluate(() => {
      const canvas = document.querySelector('canvas'), { width, height } = canvas.getBoundingClientRect();
      return [width, height, canvas.width, canvas.height];
    });
    assert.deepEqual(await box(), [400, 300, 400, 300]);
    await ticks(page, 59);
    assert.deepEqual(await box(), [400, 300, 400, 300], 'playing back to its last tick');
    await ticks(page, 1);
    assert.equal(await page.evaluate(() => document.querySelector('canvas').classList.contains('playing')), false);
    await page.waitForFunction(() => window.kestrel.probe('canvasWidth') === 900);
    assert.deepEqual(await box(), [900, 700, 900, 700]);
    assert.deepEqual(problems, []);
    await page.close();
  });
  const kinds = [
    ['cut short', () => {
      const coded = link(packed(good)).slice('#battle='.length);
      return `#battle=${coded.slice(0, 4 * Math.floor(coded.length / 8))}`;  // whole base64 quads, half of them
    }, /cut short or damaged/],
    ['damaged base64', () => link(packed(good)).replace(/.{3}$/, '*!~'), /damaged/],
    ['a bad line', () => link(packed('version 1\nseed 5\nsize 696 548\ntick 4\nsize 0 10\n')),
      /line 5: width '0' is out of range 1\.\.16384/],
    ['far too long', () => link(zlib.deflateRawSync(Buffer.alloc(CONTRACT.maxRecordingBytes + 1024, '#'))),
      /far too long/],
    ['a newer format', () => link(packed('version 4\nseed 5\ntick 4\n')), /line 1: .*version 4 is newer/],
  ];
  for (const [kind, fragment, reason] of kinds) {
    test(`${kind}: says so on the page and starts a fresh battle`, async () => {
      const { page, problems } = await openLink(fragment());
      await page.waitForFunction(() => !document.getElementById('message').hidden);
      const text = await page.$eval('#message', note => note.textContent);
      assert.match(text, reason);
      assert.match(text, /battle link.*new battle has begun/s);
      await ticks(page, 5);
      assert.equal(await page.evaluate(() => document.querySelector('canvas').classList.contains('playing')), false);
      assert.equal(await page.evaluate(() => location.hash), '');
      assert.ok((await liveSlots(page)).length > 0, 'a battle');
      assert.deepEqual(problems, []);
      await page.close();
    });
  }
});
