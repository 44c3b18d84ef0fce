// node bench/web-tick-rate.mjs [SECONDS]: the game page's tick rate on the
// browser's own timer in headless Chromium (build/web must be built): ticks
// a second over SECONDS (default 10) while the page is seen, and over the
// first second after it was hidden for two seconds and shown again (no
// catching up: about 40 then too). The page's tests drive its clock
// themselves; this is the real timer's pace.

import { launchChromium, openGame, pause, serveSite } from '../tests/web/support.mjs';

const seconds = Number(process.argv[2] ?? 10);
const count = page => page.evaluate(() => [window.kestrel.ticks, performance.now()]);
const rate = ([ticks0, t0], [ticks1, t1]) => (ticks1 - ticks0) / ((t1 - t0) / 1000);

const site = await serveSite();
const browser = await launchChromium();
const { page } = await openGame(browser, site.url, { realClock: true });
const start = await count(page);
await pause(seconds * 1000);
const seen = rate(start, await count(page));

const other = await browser.newPage();
await other.bringToFront();
const hidden = await count(page);
await pause(2000);
const whileHidden = rate(hidden, await count(page));
await page.bringToFront();
await page.waitForFunction(() => document.visibilityState === 'visible', { polling: 10 });
const shown = await count(page);
await pause(1000);
const afterShown = rate(shown, await count(page));

await browser.close();
site.close();
console.log(`ticks a second: ${seen.toFixed(2)} over ${seconds} s seen, ${whileHidden.toFixed(2)} while hidden, ` +
            `${afterShown.toFixed(1)} in the first second shown again (the window's: 40)`);
