// node bench/web-live.mjs [PRESSES]: the page in a room of kestrel-server
// on the loopback (build/web and build/default/server/kestrel-server must be
// built), in headless Chromium:
// - press to picture: from a real press on a tank to the picture that shows
//   it dragged, through the server (the press goes up with the page's next
//   tick, the room applies it before its own next tick and sends it back),
//   over PRESSES presses (default 20): median and worst, in ms and ticks;
// - catching up: a page that joins a room 10,000 ticks after its last clean
//   canvas: the longest task on the page (the catch-up), and the time from
//   opening the link to playing live.

import { launchChromium, openGame, pause, startServer } from '../tests/web/support.mjs';

const TICK_MS = 25;
const presses = Number(process.argv[2] ?? 20);
const server = await startServer({ args: ['--max-room-creations', '100'] });
const browser = await launchChromium();
const live = page => page.waitForFunction(() => window.kestrel.room?.state === 'live' && window.kestrel.ticksAhead() <= 2,
                                          { polling: 10 });

// Three tanks too tough to fall, at rest until the test takes one: a battle
// that never ends, so nothing moves the tank away from the pointer but the drag.
const endless = ticks => ['version 2', 'seed 46', 'size 400 300',
  ...[[60, 80, 1], [340, 120, 2], [200, 260, 0]].flatMap(([x, y, target], s) =>
    [`set tankX ${s} ${x}`, `set tankY ${s} ${y}`, `set tankHits ${s} 32767`, `set tankTarget ${s} ${target}`]),
  `tick ${ticks}`, ''].join('\n');
async function room(recording) {
  const made = await fetch(new URL('rooms', server.url),
                           { method: 'POST', headers: { 'content-type': 'text/plain' }, body: recording });
  return made.json();
}

// Press to picture.
const { page } = await openGame(browser, (await room(endless(1))).play, { realClock: true });
await live(page);
const delays = [];
for (let i = 0; i < presses; ++i) {
  const at = await page.evaluate(() => {
    const box = document.querySelector('canvas').getBoundingClientRect();
    const { probe } = window.kestrel;
    const scale = box.width / probe('canvasWidth');
    return { x: box.left + probe('tankX', 0) * scale, y: box.top + (0.5 * probe('tankY', 0) + 0.25 * probe('canvasHeight')) * scale };
  });
  await page.mouse.move(at.x, at.y);
  const shown = page.evaluate(() => new Promise(resolve => {
    const pressed = performance.now();
    const look = () => (window.kestrel.probe('dragging') !== 0 ? resolve(performance.now() - pressed) : requestAnimationFrame(look));
    look();
  }));
  await page.mouse.down();
  delays.push(await shown);
  await page.mouse.up();
  await pause(200 + 37 * i % 50);  // presses fall at every phase of the tick
}
delays.sort((a, b) => a - b);
const median = delays[delays.length >> 1], worst = delays.at(-1);
console.log(`press to picture over ${presses} presses: median ${median.toFixed(1)} ms (${(median / TICK_MS).toFixed(2)} ticks), ` +
            `worst ${worst.toFixed(1)} ms (${(worst / TICK_MS).toFixed(2)} ticks)`);

// Catching up 10,000 ticks.
const late = await browser.newPage();
await late.evaluateOnNewDocument(() => {
  window.longestTask = 0;
  new PerformanceObserver(list => {
    for (const entry of list.getEntries()) window.longestTask = Math.max(window.longestTask, entry.duration);
  }).observe({ type: 'longtask', buffered: true });
});
const opened = Date.now();
await late.goto((await room(endless(10_000))).watch, { waitUntil: 'load' });
await live(late);
const toLive = Date.now() - opened;
const longest = await late.evaluate(() => window.longestTask);
console.log(`catching up 10,000 ticks: longest task ${longest.toFixed(0)} ms, link opened to playing live ${toLive} ms`);

await browser.close();
await server.close();
