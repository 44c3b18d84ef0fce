// The replay page runs kestrel-trace's scripts with the same code as the
// tool: the README picture's script gives, byte for byte, the picture the
// native tool saved as a PNG (tests/gui checks that file against the tool).

import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { README_PICTURE, launchChromium, readPng, serveSite } from './support.mjs';

describe('the replay page', () => {
  let site, browser, page;
  before(async () => {
    site = await serveSite();
    browser = await launchChromium();
    page = await browser.newPage();
    await page.goto(`${site.url}replay.html`, { waitUntil: 'load' });
    await page.waitForFunction(() => window.kestrelReplayReady === true);
  });
  after(async () => {
    await browser?.close();
    site?.close();
  });

  test('draws the README picture\'s battle exactly as kestrel-trace does', async () => {
    const shown = await page.evaluate(() => {
      const result = window.kestrelReplay('seed 293\ntick 160\n');
      const canvas = document.querySelector('canvas');
      const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
      return { result, width: canvas.width, height: canvas.height, data: Array.from(data) };
    });
    assert.deepEqual(shown.result, { status: 0, errors: '' });
    const png = readPng(README_PICTURE);
    assert.deepEqual([shown.width, shown.height], [png.width, png.height]);
    const differing = shown.data.findIndex((byte, i) => byte !== png.data[i]);
    assert.equal(differing, -1, `first differing byte ${differing}`);
  });

  test('reports a bad line as the tool does', async () => {
    const result = await page.evaluate(() => window.kestrelReplay('tick 2\nsize 0 10\n'));
    assert.deepEqual(result, { status: 2, errors: "kestrel-trace: line 2: width '0' is out of range 1..16384\n" });
  });
});
