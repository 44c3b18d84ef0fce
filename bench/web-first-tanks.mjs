// node bench/web-first-tanks.mjs [RUNS]: how long after the page's load event
// the first tanks are on the canvas, in headless Chromium (build/web must be
// built). The first tick starts a battle and the second draws it, so the
// time is taken when the second tick has put its pixels on the canvas, and
// the canvas is checked for black tanks and the dark-blue player then.

import { installPageTools, launchChromium, pause, serveSite } from '../tests/web/support.mjs';

const runs = Number(process.argv[2] ?? 7);

// Runs before the page's own scripts: watches the page's tick count
// (window.kestrel.ticks, on the object the page puts there).
function watchTicks() {
  let api;
  Object.defineProperty(window, 'kestrel', {
    get: () => api,
    set(value) {
      api = value;
      let ticks = value.ticks;
      Object.defineProperty(value, 'ticks', {
        get: () => ticks,
        set(count) {
          ticks = count;
          if (count !== 2) return;
          queueMicrotask(() => {  // after this tick has drawn
            window.firstTanks = { at: performance.now(), ...window.tankPixels() };
          });
        },
      });
    },
  });
}

const site = await serveSite();
const browser = await launchChromium();
const times = [];
for (let run = 0; run < runs; run++) {
  const page = await browser.newPage();
  await page.evaluateOnNewDocument(installPageTools);
  await page.evaluateOnNewDocument(watchTicks);
  await page.goto(site.url, { waitUntil: 'load' });
  await page.waitForFunction(() => window.firstTanks, { timeout: 5000 });
  const seen = await page.evaluate(() => ({
    ...window.firstTanks, load: performance.getEntriesByType('navigation')[0].loadEventStart,
  }));
  if (!seen.black || !seen.blue) throw new Error(`no tanks on the canvas at the second tick: ${JSON.stringify(seen)}`);
  times.push(seen.at - seen.load);
  await page.close();
  await pause(200);
}
await browser.close();
site.close();
times.sort((a, b) => a - b);
console.log(`first tanks after the load event: median ${times[runs >> 1].toFixed(0)} ms ` +
            `(${times[0].toFixed(0)} to ${times[runs - 1].toFixed(0)} ms over ${runs} loads)`);
