// The page's timer: 40 frame ticks a second, as the window's.

import assert from 'node:assert/strict';
import { test } from 'node:test';
import { openGame, pause, useSiteAndBrowser } from './support.mjs';

const SECONDS = 10;

const env = useSiteAndBrowser();

test('ticks 39 to 41 times a second over ten seconds', async () => {
  const { page } = await openGame(env.browser, env.site.url);
  const count = () => page.evaluate(() => [window.kestrelTicks, performance.now()]);
  const [ticks0, t0] = await count();
  await pause(SECONDS * 1000);
  const [ticks1, t1] = await count();
  const rate = (ticks1 - ticks0) / ((t1 - t0) / 1000);
  assert.ok(rate >= 39 && rate <= 41, `${rate.toFixed(2)} ticks a second`);
});
