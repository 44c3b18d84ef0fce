// Rooms open to anyone, on the real kestrel-server alone (its directory in
// its own memory): "Play with anyone" on one page opens a public room;
// "Battles now" on another lists it with its seats and a watch link, and
// its "Take a seat" plays there in the next seat.

import assert from 'node:assert/strict';
import { test } from 'node:test';
import { openGame } from './support.mjs';
import { POLL, live, useServerAndBrowsers } from './rooms.mjs';

const env = useServerAndBrowsers();

test('"Play with anyone" opens a public room, which "Battles now" lists elsewhere and seats the next player in', async () => {
  const ready = async browser => {
    const { page } = await openGame(browser, env.server.url, { realClock: true });
    await page.waitForFunction(() => !document.getElementById('play-anyone').hidden, POLL);
    await page.click('#more');
    return page;
  };
  const first = await ready(env.browser);
  await first.click('#play-anyone');
  await live(first);
  const id = await first.evaluate(() => window.kestrel.room.id);
  assert.equal(await first.$eval('#open-to-anyone', button => button.hidden), true, 'it is open to anyone already');

  const second = await ready(env.second);
  await second.click('#battles-now');
  await second.waitForFunction(() => /1 of 6 seats taken/.test(document.getElementById('battles-list').textContent), POLL);
  const [entry] = await second.$$eval('#battles-list li', items => items.map(item =>
    ({ text: item.querySelector('a').textContent, href: item.querySelector('a').href, target: item.querySelector('a').target })));
  assert.match(entry.text, /^Battle 1: 1 of 6 seats taken, 0 watching, /);
  assert.deepEqual([entry.href, entry.target], [`${env.server.url}#watch=${id}`, '_blank']);
  await second.click('#battles-list button');
  await live(second);
  assert.equal(await second.evaluate(() => window.kestrel.room.id), id);
  assert.equal(await second.$eval('#your-tank', line => line.textContent), 'You are the vermilion tank.');
});
