// One battle on two screens: two pages in one room of the real
// kestrel-server, with real pointer and key events on both, a cut
// connection and an Esc; whenever the server is stopped both pages rest on
// one tick, with one picture and one record, the room's.

import assert from 'node:assert/strict';
import { before, describe, test } from 'node:test';
import { openGame, probe } from './support.mjs';
import { POLL, checkRestingPages, live, onScreen, openRoomPage, restingProbe, roomState, status, useServerAndBrowsers,
  whileResting } from './rooms.mjs';

const LEFT = 'left', RIGHT = 'right';
const env = useServerAndBrowsers();

// A press on a tank of the page's battle that starts a drag; answers where
// it pressed. The page looks and presses with the server stopped, resting
// on the room's tick: a page a busy machine kept behind the room would
// press where the tank was. The room takes the press a tick later, and a
// tank may have fallen or lie under another: the press is let go and tried
// on the next tank until one takes it.
const TANKS_TRIED = 8;
const PRESS_TAKEN = { polling: 50, timeout: 3_000 };
async function pressOnATank(page) {
  for (let slot = 0; slot < TANKS_TRIED; ++slot) {
    const tank = await whileResting([page], async () => {
      const at = await onScreen(page, slot);
      await page.mouse.move(at.x, at.y);
      await page.mouse.down({ button: LEFT });
      return at;
    });
    const taken = await page.waitForFunction(() => window.kestrel.probe('dragging') !== 0, PRESS_TAKEN)
      .then(() => true, () => false);
    if (taken) return tank;
    await page.mouse.up({ button: LEFT });
  }
  throw new Error(`none of ${TANKS_TRIED} tanks took a press`);
}

describe('two pages in one room', () => {
  let a, b, roomId;
  before(async () => {
    ({ page: a } = await openGame(env.browser, env.server.url, { realClock: true }));
    await a.waitForFunction(() => !document.getElementById('play-together').hidden, POLL);
    await a.click('#more');
    await a.click('#play-together');
    await live(a);
    const link = await a.evaluate(() => location.href);
    roomId = /#live=([0-9a-f]+)\./.exec(link)[1];
    ({ page: b } = await openRoomPage(link, env.second));
  });

  test('"Play together" opens a room of the page\'s size, which a play link opens on another page', async () => {
    assert.equal((await status()).rooms, 1);
    for (const page of [a, b]) {
      assert.equal(await probe(page, 'canvasWidth'), await a.evaluate(() => innerWidth));
      assert.match(await page.$eval('#room', line => line.textContent), /2 in the room/);
    }
  });

  test('events from both pages make one battle, which both pages show as the room plays it', async () => {
    const tank = await pressOnATank(a);
    await a.mouse.move(tank.x + 60, tank.y + 40, { steps: 8 });
    // Resting on one tick, both pages hold the room's drag. The rest waits
    // for a page that a busy machine left far behind the room, where a
    // live look gave up after its timeout.
    assert.deepEqual(await restingProbe([a, b], 'dragging'), [1, 1]);
    await a.mouse.up({ button: LEFT });
    const target = await onScreen(b, 1);
    await b.mouse.click(target.x, target.y, { button: RIGHT });
    await b.keyboard.press('w');
    // Past two of the ticks at which the pages hash their battles.
    await a.waitForFunction(() => window.kestrel.roomTick() > 100, POLL);
    await checkRestingPages(roomId, [a, b]);
    const { mismatches, hashes_checked: checked } = await status();
    assert.equal(mismatches, 0);
    assert.ok(checked > 0, 'the pages\' hashes were checked');
  });

  test('a page whose connection is cut reconnects by itself and catches up', async () => {
    await b.evaluate(() => window.kestrel.room.dropConnection());
    await b.waitForFunction(() => window.kestrel.room.state !== 'live', POLL);
    await live(b);
    await checkRestingPages(roomId, [a, b]);
    assert.equal((await status()).mismatches, 0);
  });

  test('Esc takes a page out of the room; the room plays on for the other', async () => {
    await b.keyboard.press('Escape');
    await a.waitForFunction(() => /1 in the room/.test(document.getElementById('room').textContent), POLL);
    assert.equal(await roomState(b), 'closed');
    await checkRestingPages(roomId, [a]);
  });

  test('a link whose key is wrong: the page says so, in the server\'s words, and tries no more', async () => {
    const wrong = `${env.server.url}#live=${roomId}.${'0'.repeat(32)}`;
    const page = await env.second.newPage();  // beside the page that left, after the rest
    await page.goto(wrong, { waitUntil: 'load' });
    await page.waitForFunction(() => window.kestrel.room?.state === 'closed', POLL);
    assert.equal(await page.$eval('#room', line => line.textContent),
                 'Out of the room: the link\'s key does not open that room.');
    await page.close();
  });
});

