// Keeping and sharing a battle from the page: the page records every battle;
// its recording, replayed by the native kestrel-trace, draws the page's own
// picture byte for byte; a link to it, opened in another page, plays it back
// to the same picture and hands it over; the replay is saved as a file; and
// a bad link says what is wrong with it and starts a fresh battle.

import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';
import { fileURLToPath } from 'node:url';
import { after, before, describe, test } from 'node:test';
import {
  CONTRACT, PROBE, launchChromium, liveSlots, openGame, pause, probe, readPng, serveSite, ticks,
  turretOnScreen, useSiteAndBrowser,
} from './support.mjs';

const NATIVE_TRACE = process.env.KESTREL_NATIVE_TRACE ||
  fileURLToPath(new URL('../../build/default/tools/kestrel-trace', import.meta.url));
const noNativeTrace = !fs.existsSync(NATIVE_TRACE) && `no native kestrel-trace at ${NATIVE_TRACE}`;

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrel-recording-'));
const link = bytes => `#battle=${Buffer.from(bytes).toString('base64url')}`;
const packed = text => zlib.deflateRawSync(Buffer.from(text));

// A battle played with real events: a left drag and a right release over
// tanks, a middle click, a key that starts a new battle, a resize.
async function playWithRealEvents(page) {
  await page.waitForFunction(tankHits => window.kestrelProbe(tankHits, 0) > 0, {}, PROBE.tankHits);
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
  await page.waitForFunction(width => window.kestrelProbe(width) === 820, {}, PROBE.canvasWidth);
  await ticks(page, 20);
}

describe('keeping a battle from the page', () => {
  let site, browser, page, problems, recording, picture;
  before(async () => {
    site = await serveSite();
    browser = await launchChromium();
    await browser.defaultBrowserContext().overridePermissions(site.url.replace(/\/$/, ''),
                                                             ['clipboard-read', 'clipboard-write', 'clipboard-sanitized-write']);
    ({ page, problems } = await openGame(browser, site.url));
    await playWithRealEvents(page);
    await page.keyboard.press('Escape');
    // The game has ended: the recording and the picture stay as they are.
    ({ recording, picture } = await page.evaluate(() => ({
      recording: window.kestrelRecording(), picture: Array.from(window.kestrelPicture()),
    })));
  });
  after(async () => {
    await browser?.close();
    site?.close();
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
    assert.equal(picture.length, replayed.data.length);
    const differing = picture.findIndex((byte, i) => byte !== replayed.data[i]);
    assert.equal(differing, -1, `first differing byte ${differing}`);
  });

  test('"Save the replay" saves the recording as a .trace file, which the replay page plays to the same picture', async () => {
    const cdp = await page.createCDPSession();
    await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: scratch });
    await page.click('#more');
    await page.click('#save-replay');
    let saved;
    for (let wait = 0; wait < 50 && !saved; wait++) {
      saved = fs.readdirSync(scratch).find(name => /^kestrel-battle-.*\.trace$/.test(name));
      if (!saved) await pause(100);
    }
    assert.ok(saved, 'a .trace file');
    await pause(200);
    assert.equal(fs.readFileSync(path.join(scratch, saved), 'utf8'), recording);
    await cdp.detach();

    // The replay page takes the saved file and ends on the page's picture.
    const replay = await browser.newPage();
    await replay.setViewport({ width: 1000, height: 900 });
    await replay.goto(`${site.url}replay.html`, { waitUntil: 'load' });
    await replay.waitForFunction(() => window.kestrelReplayReady === true);
    await (await replay.$('#file')).uploadFile(path.join(scratch, saved));
    await replay.waitForFunction(() => document.getElementById('script').value.startsWith('version'));
    const shown = await replay.evaluate(() => {
      const canvas = document.querySelector('canvas');
      return { status: document.getElementById('status').textContent, width: canvas.width,
               data: Array.from(canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data) };
    });
    assert.equal(shown.status, 'done');
    assert.equal(shown.width, 820);
    assert.equal(shown.data.findIndex((byte, i) => byte !== picture[i]), -1);
    assert.equal(shown.data.length, picture.length);
    await replay.close();
  });

  test('the link, opened in a new page, plays the battle back to the same picture and hands it over', async () => {
    await page.click('#more');
    await page.click('#copy-link');
    await page.waitForFunction(() => /clipboard/.test(document.getElementById('message').textContent));
    const copied = await page.evaluate(() => navigator.clipboard.readText());
    assert.ok(copied.startsWith(`${site.url}#battle=`), copied.slice(0, 60));
    assert.equal(await page.$eval('#link', field => field.value), copied);

    const other = await browser.newPage();
    await other.setViewport({ width: 820, height: 640 });
    await other.evaluateOnNewDocument(() => {
      window.addEventListener('kestrel-handover', () => {
        window.handedOver = { picture: Array.from(window.kestrelPicture()), ticks: window.kestrelTicks };
      });
    });
    await other.goto(copied, { waitUntil: 'load' });
    await other.waitForFunction(() => document.querySelector('canvas').classList.contains('playing'));
    const played = recording.match(/^tick \d+$/gm).reduce((sum, line) => sum + Number(line.slice(5)), 0);
    await other.waitForFunction(() => window.handedOver, { timeout: 30000, polling: 100 });
    const { picture: shown, ticks: at } = await other.evaluate(() => window.handedOver);
    assert.ok(at >= played && at <= played + 5, `handed over at tick ${at} of ${played}`);
    const differing = shown.findIndex((byte, i) => byte !== picture[i]);
    assert.equal(shown.length, picture.length);
    assert.equal(differing, -1, `first differing byte ${differing}`);
    // Handed over: live again, the canvas the window's.
    await ticks(other, 5);
    assert.equal(await other.evaluate(() => document.querySelector('canvas').classList.contains('playing')), false);
    await other.close();
    assert.deepEqual(problems, []);
  });
});

describe('battle links', () => {
  const env = useSiteAndBrowser();

  const good = 'version 1\nseed 5\nsize 696 548\ntick 40\n';

  test('a battle played at another size shows at that size, then the window\'s once handed over', async () => {
    const page = await env.browser.newPage();
    await page.goto(`${env.site.url}${link(packed('version 1\nseed 5\nsize 400 300\ntick 60\n'))}`, { waitUntil: 'load' });
    await page.waitForFunction(() => document.querySelector('canvas').classList.contains('playing'));
    const box = () => page.evaluate(() => {
      const canvas = document.querySelector('canvas'), { width, height } = canvas.getBoundingClientRect();
      return [width, height, canvas.width, canvas.height];
    });
    assert.deepEqual(await box(), [400, 300, 400, 300]);
    await page.waitForFunction(() => !document.querySelector('canvas').classList.contains('playing'), { timeout: 10000 });
    await page.waitForFunction(width => window.kestrelProbe(width) === 900, {}, PROBE.canvasWidth);
    assert.deepEqual(await box(), [900, 700, 900, 700]);
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
    ['a newer format', () => link(packed('version 2\nseed 5\ntick 4\n')), /line 1: .*version 2 is newer/],
  ];
  for (const [kind, fragment, reason] of kinds) {
    test(`${kind}: says so on the page and starts a fresh battle`, async () => {
      const page = await env.browser.newPage();
      const problems = [];
      page.on('pageerror', error => problems.push(String(error)));
      await page.goto(`${env.site.url}${fragment()}`, { waitUntil: 'load' });
      await page.waitForFunction(() => !document.getElementById('message').hidden, { timeout: 10000 });
      const text = await page.$eval('#message', note => note.textContent);
      assert.match(text, reason);
      assert.match(text, /battle link.*new battle has begun/s);
      await page.waitForFunction(() => window.kestrelTicks >= 5);
      assert.equal(await page.evaluate(() => document.querySelector('canvas').classList.contains('playing')), false);
      assert.equal(await page.evaluate(() => location.hash), '');
      assert.ok(await probe(page, PROBE.tankHits, 0) >= 0);
      assert.deepEqual(problems, []);
      await page.close();
    });
  }
});
