// The page as an installed app: Chromium finds nothing missing to install
// it, it loads and plays with no network once seen, and a new build, whose
// service worker names its cache after its files, is taken at the next
// visit. These pages run on the browser's own timers, as an installed page
// does.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { describe, test } from 'node:test';
import { SITE, openGame, probe, serveSite, useSiteAndBrowser } from './support.mjs';
import { readServiceWorker, writeServiceWorker } from './service-worker.mjs';

const env = useSiteAndBrowser();

describe('installed and offline', () => {
  const workerReady = page => page.evaluate(async () => {
    await navigator.serviceWorker.ready;
    if (!navigator.serviceWorker.controller) {
      await new Promise(resolve => navigator.serviceWorker.addEventListener('controllerchange', resolve, { once: true }));
    }
    return caches.keys();
  });
  const playing = page => page.waitForFunction(() => window.kestrel?.ticks >= 20);

  test('Chromium finds nothing missing to install it; the manifest names it and its icons', async () => {
    const { site } = env;
    const { page } = await openGame(env.browser, site.url, { realClock: true });
    await workerReady(page);
    const cdp = await page.createCDPSession();
    const { installabilityErrors } = await cdp.send('Page.getInstallabilityErrors');
    assert.deepEqual(installabilityErrors, []);
    const manifest = await cdp.send('Page.getAppManifest');
    assert.deepEqual(manifest.errors, []);
    const data = JSON.parse(manifest.data);
    assert.equal(data.name, '3D Kestrel');
    assert.ok(['standalone', 'fullscreen'].includes(data.display));
    assert.equal(data.background_color, '#ffffff');
    const sizes = [];
    for (const icon of data.icons.filter(i => i.type === 'image/png')) {
      const bytes = Buffer.from(await (await fetch(new URL(icon.src, site.url))).arrayBuffer());
      const [width, height] = [bytes.readUInt32BE(16), bytes.readUInt32BE(20)];
      assert.equal(icon.sizes, `${width}x${height}`);
      assert.deepEqual(bytes, fs.readFileSync(path.join(SITE, icon.src)));
      sizes.push(`${icon.purpose} ${width}`);
    }
    assert.deepEqual(sizes.sort(), ['any 192', 'any 512', 'maskable 512']);
    await page.close();
  });

  test('after a first visit the page loads and plays with the server gone, on the browser\'s timers', async () => {
    const site = await serveSite();
    const { page, problems } = await openGame(env.browser, site.url, { realClock: true });
    await workerReady(page);
    site.close();
    await page.reload({ waitUntil: 'load' });
    await playing(page);
    const { black, blue } = await page.evaluate(() => window.tankPixels());
    assert.ok(black > 0 && blue > 0);
    assert.equal(await probe(page, 'canvasWidth'), 900);
    assert.deepEqual(problems, []);
    await page.close();
  });

  test('a new build, its cache named after its files, is taken at the next visit; the old build\'s files are deleted',
    async () => {
      const copy = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrel-site-'));
      fs.cpSync(SITE, copy, { recursive: true });
      const site = await serveSite(copy);
      try {
        const { page } = await openGame(env.browser, site.url, { realClock: true });
        const old = readServiceWorker(copy);
        assert.deepEqual(await workerReady(page), [old.cache]);
        // The next build: another page, and the service worker the build writes for it.
        const index = path.join(copy, 'index.html');
        fs.writeFileSync(index, fs.readFileSync(index, 'utf8').replace('<body>', '<body data-build="next">'));
        const next = writeServiceWorker(copy, old.files);
        assert.notEqual(next.cache, old.cache);
        await page.reload({ waitUntil: 'load' });
        await page.waitForFunction(async name => (await caches.keys()).join() === name, {}, next.cache);
        await page.reload({ waitUntil: 'load' });
        assert.equal(await page.evaluate(() => document.body.dataset.build), 'next');
        await playing(page);
        await page.close();
      } finally {
        site.close();
        fs.rmSync(copy, { recursive: true, force: true });
      }
    });
});
