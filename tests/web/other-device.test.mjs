// The page from another device on plain http: at http://kestrel.test:PORT/
// (a name mapped to the loopback), which is not a secure context, the page
// has no clipboard and no service worker, yet "Play together" opens a
// room. Its link is offered in the field, to copy by hand, and as a QR
// code that an independent reader (zbarimg) reads back to the link; a
// second screen opens what it read and plays in the room. The watch link's
// QR code reads back to it too.

import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import path from 'node:path';
import { test } from 'node:test';
import { POLL, live, openRoomPage, scratch, useServerAndBrowsers } from './rooms.mjs';
import { openGame } from './support.mjs';

const NAME = 'kestrel.test';
const env = useServerAndBrowsers(2, { args: [`--host-resolver-rules=MAP ${NAME} 127.0.0.1`] });

// What the QR code beside the buttons says, as zbarimg reads a grab of it.
async function readCode(page) {
  await page.waitForFunction(() => {
    const code = document.getElementById('link-code');
    return !code.hidden && code.complete && code.naturalWidth > 0;
  }, POLL);
  const file = path.join(scratch, 'code.png');
  await (await page.$('#link-code')).screenshot({ path: file });
  const read = spawnSync('zbarimg', ['--quiet', '--raw', file], { encoding: 'utf8' });
  assert.equal(read.status, 0, `zbarimg: ${read.stderr}`);
  return read.stdout.replace(/\n$/, '');
}

test('on plain http from another device, "Play together" opens a room; its links go by hand and by QR code', async () => {
  const url = env.server.url.replace('127.0.0.1', NAME);
  const { page, problems } = await openGame(env.browser, url, { realClock: true });
  assert.deepEqual(await page.evaluate(() => [isSecureContext, 'clipboard' in navigator, 'serviceWorker' in navigator]),
                   [false, false, false]);
  await page.waitForFunction(() => !document.getElementById('play-together').hidden, POLL);
  await page.click('#more');
  await page.click('#play-together');
  await live(page);

  const link = await page.evaluate(() => location.href);
  assert.match(link, new RegExp(`^http://${NAME.replace('.', '\\.')}:\\d+/#live=[0-9a-f]{32}\\.[0-9a-f]{32}$`));
  assert.deepEqual(await page.$eval('#link', field => [field.hidden, field.value]), [false, link]);
  assert.equal(await page.$eval('#message', message => message.textContent),
               'Copy a link to play in this room from the field under the buttons, or read its QR code with a phone.');
  assert.equal(await readCode(page), link);
  const { page: other } = await openRoomPage(await readCode(page), env.second);
  for (const screen of [page, other])
    await screen.waitForFunction(() => /2 in the room/.test(document.getElementById('room').textContent), POLL);

  await page.click('#copy-watch-link');
  const watch = link.replace(/#live=([0-9a-f]+)\.[0-9a-f]+$/, '#watch=$1');
  await page.waitForFunction(watch => document.getElementById('link').value === watch, POLL, watch);
  assert.equal(await readCode(page), watch);
  assert.deepEqual(problems, []);
});
