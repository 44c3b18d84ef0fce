// A page that joins a room long after its last clean canvas catches up
// every tick since, and then shows the room's picture.

import assert from 'node:assert/strict';
import { test } from 'node:test';
import { LEGEND_HEIGHT, launchChromium, openGame } from './support.mjs';
import { ENDLESS_BATTLE, checkRestingPages, live, useServerAndBrowsers } from './rooms.mjs';

const LATE_JOIN_TICKS = 10_000;
const env = useServerAndBrowsers(0);

test('a page that joins 10,000 ticks after the last clean canvas shows the room\'s picture', async () => {
  const [width, height, ticks] = [400, 300, LATE_JOIN_TICKS];
  const made = await fetch(new URL('rooms', env.server.url), {
    method: 'POST', headers: { 'content-type': 'text/plain' }, body: `${ENDLESS_BATTLE}\ntick ${ticks}\n`,
  });
  assert.equal(made.status, 201);
  const { room, watch } = await made.json();
  const small = await launchChromium({ width, height: height + LEGEND_HEIGHT });
  try {
    const { page } = await openGame(small, watch, { realClock: true });
    await live(page);
    const caughtUp = (await page.evaluate(() => window.kestrel.recording())).match(/^tick \d+$/gm)
      .reduce((sum, line) => sum + Number(line.split(' ')[1]), 0);
    assert.ok(caughtUp >= ticks, `the page caught up ${caughtUp} ticks from the last clean canvas`);
    assert.ok(await checkRestingPages(room, [page]) >= ticks);
  } finally {
    await small.close();
  }
});
