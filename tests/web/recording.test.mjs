// Keeping and sharing a battle from the page: the page records every battle;
// its recording, replayed by the native kestrel-trace, draws the page's own
// picture byte for byte; a link to it, opened in another page, plays it back
// to the same picture and hands it over; the replay is saved as a file (a
// bad link: links.test.mjs). The pages' clocks stand still between steps.

import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { after, before, describe, test } from 'node:test';
import {
  FIXED_SEED, canvasPixels, download, installPageTools, installStoppedClock, liveSlots, openGame, picture, readPng,
  ticks, turretOnScreen, useSiteAndBrowser,
} from './support.mjs';

const NATIVE_TRACE = process.env.KESTREL_NATIVE_TRACE ||
  fileURLToPath(new URL('../../build/default/tools/kestrel-trace', import.meta.url));
const noNativeTrace = !fs.existsSync(NATIVE_TRACE) && `no native kestrel-trace at ${NATIVE_TRACE}`;

// A battle played with real events: a left drag and a right release over
// tanks, a middle click, a key that starts a new battle, a resize.
async function playWithRealEvents(page) {
  const from = await turretOnScreen(page, 0);
  await page.mouse.move(from.x, from.y);
  await page.mouse.down();
  await page.mouse.move(from.x + 50, from.y + 30, { steps: 4 });
  await page.mouse.up();
  await ticks(page, 10);
  const live = await liveSlots(page);
  const other = await turretOnScreen(page, live.at(-1));
  await page.mouse.move(other.x, other.y);
  await page.mouse.down({ button: 'right' });
  await page.mouse.up({ button: 'right' });
  await page.mouse.click(120, 90, { button: 'middle' });
  await ticks(page, 10);
  await page.keyboard.press('k');
  await ticks(page, 15);
  await page.setViewport({ width: 820, height: 640 });
  await page.waitForFunction(() => window.kestrel.probe('canvasWidth') === 820);
  await ticks(page, 20);
}

const env = useSiteAndBrowser();

describe('keeping a battle from the page', () => {
  let page, problems, recording, shown;
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrel-recording-'));
  before(async () => {
    await env.browser.defaultBrowserContext().overridePermissions(env.site.url.replace(/\/$/, ''),
                                                                 ['clipboard-read', 'clipboard-write', 'clipboard-sanitized-write']);
    ({ page, problems } = await openGame(env.browser, env.site.url, { seed: FIXED_SEED }));
    await playWithRealEvents(page);
    await page.keyboard.press('Escape');
    // The game has ended: the recording and the picture stay as they are.
    recording = await page.evaluate(() => window.kestrel.recording());
    shown = await picture(page);
  });
  after(() => {
    fs.rmSync(scratch, { recursive: true, force: true });
  });

  test('the recording holds the events as they reached the game', () => {
    const commands = recording.trimEnd().split('\n').map(line => line.split(' ')[0]);
    assert.equal(commands[0], 'version');
    for (const command of ['seed', 'size', 'reseed', 'tick', 'down', 'move', 'up', 'key']) {
      assert.ok(commands.includes(command), command);
    }
    assert.ok(recording.includes('\nsize 820 640\n'));
    assert.ok(recording.includes(`\nkey ${'k'.charCodeAt(0)}\n`));
    assert.ok(recording.trimEnd().endsWith('key 27'));
    assert.ok(/\ndown 4 120 90\n/.test(recording), 'the middle button');
  });

  test('kestrel-trace replays the recording to the page\'s own picture, byte for byte', { skip: noNativeTrace }, () => {
    const script = path.join(scratch, 'page.trace'), png = path.join(scratch, 'page.png');
    // The Esc at its end would stop the tool before the snap.
    fs.writeFileSync(script, `${recording.trimEnd().replace(/key 27$/, '')}snap ${png}\n`);
    execFileSync(NATIVE_TRACE, [script], { stdio: ['ignore', 'ignore', 'inherit'] });
    const replayed = readPng(png);
    assert.deepEqual([replayed.width, replayed.height], [820, 640]);
    assert.equal(shown.length, replayed.data.length);
    const differing = shown.findIndex((byte, i) => byte !== replayed.data[i]);
    assert.equal(differing, -1, `first differing byte ${differing}`);
  });

  test('"Save the replay" saves the recording as a .trace file, which the replay page plays to the same picture', async () => {
    const saved = await download(page, scratch, async () => {
      await page.click('#more');
      await page.click('#save-replay');
    });
    assert.match(path.basename(saved), /^kestrel-battle-.*\.trace$/);
    assert.equal(fs.readFileSync(saved, 'utf8'), recording);

    // The replay page takes the saved file and ends on the page's picture.
    const replay = await env.browser.newPage();
    await replay.setViewport({ width: 1000, height: 900 });
    await replay.evaluateOnNewDocument(installPageTools);
    await replay.goto(`${env.site.url}replay.html`, { waitUntil: 'load' });
    await replay.waitForFunction(() => window.kestrelReplay?.ready === true);
    await (await replay.$('#file')).uploadFile(saved);
    await replay.waitForFunction(() => document.getElementById('script').value.startsWith('version'));
    assert.equal(await replay.$eval('#status', status => status.textContent), 'done');
    const replayed = await canvasPixels(replay);
    assert.equal(replayed.width, 820);
    assert.equal(replayed.data.findIndex((byte, i) => byte !== shown[i]), -1);
    assert.equal(replayed.data.length, shown.length);
    await replay.close();
  });

  test('the link, opened in a new page, plays the battle back to the same picture and hands it over', async () => {
    await page.click('#more');
    await page.click('#copy-link');
    await page.waitForFunction(() => /clipboard/.test(document.getElementById('message').textContent));
    const copied = await page.evaluate(() => navigator.clipboard.readText());
    assert.ok(copied.startsWith(`${env.site.url}#battle=`), copied.slice(0, 60));
    assert.equal(await page.$eval('#link', field => field.value), copied);

    const other = await env.browser.newPage();
    await other.setViewport({ width: 820, height: 640 });
    await other.evaluateOnNewDocument(installPageTools);
    await other.evaluateOnNewDocument(installStoppedClock);
    await other.evaluateOnNewDocument(() => {
      window.addEventListener('kestrel-handover', () => {
        window.handedOver = { picture: window.kestrel.picture(), ticks: window.kestrel.ticks };
      });
    });
    await other.goto(copied, { waitUntil: 'load' });
    await other.waitForFunction(() => document.querySelector('canvas').classList.contains('playing'));
    const played = recording.match(/^tick \d+$/gm).reduce((sum, line) => sum + Number(line.slice(5)), 0);
    await ticks(other, played - 1);
    assert.equal(await other.evaluate(() => window.handedOver), undefined, 'still playing back');
    await ticks(other, 1);
    const { picture: handedOver, ticks: at } = await other.evaluate(async () => ({
      ...window.handedOver, picture: await window.asBase64(window.handedOver.picture),
    }));
    assert.equal(at, played, 'handed over at the end of the recording');
    const handed = Buffer.from(handedOver, 'base64');
    const differing = handed.findIndex((byte, i) => byte !== shown[i]);
    assert.equal(handed.length, shown.length);
    assert.equal(differing, -1, `first differing byte ${differing}`);
    // Handed over: live again, the canvas the window's.
    await ticks(other, 5);
    assert.equal(await other.evaluate(() => document.querySelector('canvas').classList.contains('playing')), false);
    await other.close();
    assert.deepEqual(problems, []);
  });
});
