// The service worker's cache name follows the files it keeps: the build
// (web/ServiceWorker.cmake) names it after their contents, so a build whose
// files differ in any byte gets a new cache and the page is fetched afresh,
// and one whose files are the same keeps the cache. The built site's worker
// keeps every file the page loads.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { readServiceWorker, writeServiceWorker } from '../service-worker.mjs';

const SOURCE = fileURLToPath(new URL('../../../', import.meta.url));
const SITE = process.env.KESTREL_SITE ?? path.join(SOURCE, 'build/web');
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrel-worker-'));
after(() => fs.rmSync(scratch, { recursive: true, force: true }));

describe('the cache name', () => {
  const site = path.join(scratch, 'site');
  const FILES = { 'index.html': '<p>page</p>', 'kestrel.js': 'export {};', 'kestrel.wasm': '\0asm', 'icon.png': 'png' };
  const write = contents => {
    fs.rmSync(site, { recursive: true, force: true });
    fs.mkdirSync(site);
    for (const [name, text] of Object.entries(contents)) fs.writeFileSync(path.join(site, name), text);
    return writeServiceWorker(site, Object.keys(contents));
  };

  test('stays while no file changes, and keeps the files named', () => {
    const first = write(FILES);
    assert.match(first.cache, /^kestrel-[0-9a-f]{16}$/);
    assert.deepEqual(first.files, Object.keys(FILES));
    assert.deepEqual(write(FILES), first);
  });

  test('changes when any one file changes, by a byte or by its name, or a file is added', () => {
    const names = new Set([write(FILES).cache]);
    for (const name of Object.keys(FILES)) names.add(write({ ...FILES, [name]: `${FILES[name]} ` }).cache);
    const [last, ...others] = Object.keys(FILES).reverse();
    names.add(write({ ...Object.fromEntries(others.map(name => [name, FILES[name]])), [`new-${last}`]: FILES[last] }).cache);
    names.add(write({ ...FILES, 'help.js': '' }).cache);
    assert.equal(names.size, Object.keys(FILES).length + 3, 'a name of its own for each');
  });
});

describe('the built site\'s service worker', () => {
  const built = readServiceWorker(SITE);

  test('is named after the site\'s files as they are now', () => {
    const copy = path.join(scratch, 'built');
    fs.cpSync(SITE, copy, { recursive: true });
    assert.equal(writeServiceWorker(copy, built.files).cache, built.cache);
  });

  // What the page fetches: from index.html its script, icons and manifest,
  // the manifest's icons, every module the script imports, and the game.
  function pageFiles() {
    const read = name => fs.readFileSync(path.join(SITE, name), 'utf8');
    const found = new Set(['index.html', 'kestrel.wasm']);
    const html = read('index.html');
    for (const [, name] of html.matchAll(/<(?:script|link)[^>]* (?:src|href)="([^"]+)"/g)) found.add(name);
    for (const icon of JSON.parse(read('manifest.webmanifest')).icons) found.add(icon.src);
    const modules = [...found].filter(name => name.endsWith('.js'));
    while (modules.length > 0) {
      for (const [, name] of read(modules.pop()).matchAll(/^import (?:[^'"]* from )?'\.\/([^']+)';$/gm)) {
        if (!found.has(name)) modules.push(name);
        found.add(name);
      }
    }
    return found;
  }

  test('keeps every file the page loads, each there', () => {
    const kept = new Set(built.files);
    const loaded = pageFiles();
    assert.ok(loaded.size > 10, [...loaded].join());
    for (const name of loaded) assert.ok(kept.has(name), `${name} is kept`);
    for (const name of kept) assert.ok(fs.existsSync(path.join(SITE, name)), `${name} is in the site`);
  });
});
