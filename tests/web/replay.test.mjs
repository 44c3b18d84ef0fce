// The replay page runs kestrel-trace's scripts with the same code as the
// tool: the README picture's script gives, byte for byte, the picture the
// native tool saved as a PNG (tests/gui checks that file against the tool);
// `snap` lines give the very PNG bytes every build of the tool writes
// (tests/golden/snap); the picture shows at its size in CSS pixels (at
// device scale 2 too: scaled.test.mjs); a script comes typed, chosen as a
// file or dropped.

import assert from 'node:assert/strict';
import crypto from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { after, before, describe, test } from 'node:test';
import { assertReadmePicture, download, openReplay, shownPicture, useSiteAndBrowser } from './support.mjs';

const SNAP = fileURLToPath(new URL('../golden/snap/', import.meta.url));
const SNAP_SCRIPT = fs.readFileSync(path.join(SNAP, 'pictures.trace'), 'utf8');
// name -> SHA-256, as every build of the tool writes them.
const SNAP_HASHES = Object.fromEntries(fs.readFileSync(path.join(SNAP, 'pictures.sha256'), 'utf8')
  .trim().split('\n').map(line => line.split(/\s+/).reverse()));
const sha256 = bytes => crypto.createHash('sha256').update(bytes).digest('hex');

const env = useSiteAndBrowser();

describe('the replay page', () => {
  let page;
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrel-replay-'));
  before(async () => {
    page = await openReplay(env.browser, env.site.url);
  });
  after(() => {
    fs.rmSync(scratch, { recursive: true, force: true });
  });

  test('shows the picture of the script in its box as soon as it loads', async () => {
    assertReadmePicture(await shownPicture(page));
    assert.equal(await page.$eval('#status', status => status.textContent), 'done');
  });

  test('draws the README picture\'s battle exactly as kestrel-trace does', async () => {
    const result = await page.evaluate(() => window.kestrelReplay.run('tick 3\n'));
    assert.equal(result.status, 0);
    await page.evaluate(() => window.kestrelReplay.run('seed 293\ntick 160\n'));
    assertReadmePicture(await shownPicture(page));
  });

  test('reports a bad line as the tool does', async () => {
    const result = await page.evaluate(() => window.kestrelReplay.run('tick 2\nsize 0 10\n'));
    assert.deepEqual(result, { status: 2, errors: "kestrel-trace: line 2: width '0' is out of range 1..16384\n", snaps: [] });
  });

  test('snap lines give the PNG files every build of the tool writes, offered as downloads', async () => {
    const result = await page.evaluate(script => {
      const { status, snaps } = window.kestrelReplay.run(script);
      return { status, snaps: snaps.map(({ name, bytes }) => ({ name, bytes: Array.from(bytes) })) };
    }, SNAP_SCRIPT);
    assert.equal(result.status, 0);
    assert.deepEqual(result.snaps.map(snap => snap.name), Object.keys(SNAP_HASHES));
    for (const { name, bytes } of result.snaps) assert.equal(sha256(Buffer.from(bytes)), SNAP_HASHES[name], name);

    // A real click on the offered link saves the file.
    const file = await download(page, scratch, () => page.click('#snaps a:nth-child(2)'));
    assert.equal(path.basename(file), 'resized.png');
    assert.equal(sha256(fs.readFileSync(file)), SNAP_HASHES['resized.png']);
  });

  test('runs a script chosen as a file, or dropped on the page', async () => {
    const script = path.join(scratch, 'battle.trace');
    fs.writeFileSync(script, 'seed 293\ntick 160\n');
    await page.evaluate(() => window.kestrelReplay.run('tick 1\n'));
    // The box already holds the same script when the page opens: emptied,
    // it shows the file's only once the file has been read and run.
    await page.$eval('#script', box => { box.value = ''; });
    const input = await page.$('#file');
    await input.uploadFile(script);
    await page.waitForFunction(() => document.getElementById('script').value.startsWith('seed 293'));
    assertReadmePicture(await shownPicture(page));

    fs.writeFileSync(script, 'seed 7\ntick 40\nsize 333 222\n');
    const cdp = await page.createCDPSession();
    const drag = { x: 200, y: 100, data: { items: [], files: [script], dragOperationsMask: 1 } };
    await cdp.send('Input.dispatchDragEvent', { type: 'dragEnter', ...drag });
    await cdp.send('Input.dispatchDragEvent', { type: 'dragOver', ...drag });
    await cdp.send('Input.dispatchDragEvent', { type: 'drop', ...drag });
    await page.waitForFunction(() => document.querySelector('canvas').width === 333);
    assert.equal(await page.$eval('#script', box => box.value), 'seed 7\ntick 40\nsize 333 222\n');
    await cdp.detach();
  });
});
