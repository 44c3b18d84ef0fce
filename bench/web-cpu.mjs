// node bench/web-cpu.mjs [SECONDS] [ROUNDS]: the game page's CPU in headless
// Chromium beside a bare full-window canvas that puts one 32 x 32 rectangle
// every 25 ms (bench/bare-canvas.html), in the same run: at 1280 x 800 (device
// scale 1) and at 1920 x 1080 (device scale 2). Each round opens the bare
// page and then the game page alone in the browser, lets it settle (the
// game's help line has faded by then), and counts the CPU time of every
// Chromium process (user and system, from /proc) over SECONDS (default 10);
// ROUNDS (default 3) alternate the two. build/web must be built.

import fs from 'node:fs';
import { fileURLToPath } from 'node:url';
import { launchChromium, pause, serveSite } from '../tests/web/support.mjs';

const seconds = Number(process.argv[2] ?? 10);
const rounds = Number(process.argv[3] ?? 3);
const SETTLE_MS = 7000;
const CLOCK_TICKS = 100;  // USER_HZ on Linux

// The CPU seconds used so far by a process and all its descendants.
function treeCpu(root) {
  const children = new Map();
  const cpu = new Map();
  for (const name of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(name)) continue;
    let stat;
    try {
      stat = fs.readFileSync(`/proc/${name}/stat`, 'utf8');
    } catch {
      continue;  // gone
    }
    const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
    const parent = Number(fields[1]);
    if (!children.has(parent)) children.set(parent, []);
    children.get(parent).push(Number(name));
    cpu.set(Number(name), (Number(fields[11]) + Number(fields[12])) / CLOCK_TICKS);
  }
  let total = 0;
  const walk = pid => {
    total += cpu.get(pid) ?? 0;
    for (const child of children.get(pid) ?? []) walk(child);
  };
  walk(root);
  return total;
}

async function measure(browser, url) {
  const page = await browser.newPage();
  await page.goto(url, { waitUntil: 'load' });
  await pause(SETTLE_MS);
  const pid = browser.process().pid;
  const before = treeCpu(pid);
  await pause(seconds * 1000);
  const used = treeCpu(pid) - before;
  await page.close();
  return (100 * used) / seconds;  // per cent of one core
}

const game = await serveSite();
const bench = await serveSite(fileURLToPath(new URL('.', import.meta.url)).replace(/\/$/, ''));
console.log(`machine: ${(await import('node:os')).cpus().length} cores; ${seconds} s a measurement, ${rounds} rounds`);
for (const { width, height, scale } of [{ width: 1280, height: 800, scale: 1 }, { width: 1920, height: 1080, scale: 2 }]) {
  const browser = await launchChromium({ width, height, scale });
  const ratios = [];
  for (let round = 1; round <= rounds; round++) {
    const bare = await measure(browser, `${bench.url}bare-canvas.html`);
    const page = await measure(browser, game.url);
    ratios.push(page / bare);
    console.log(`${width} x ${height} at scale ${scale}, round ${round}: bare canvas ${bare.toFixed(1)} %, ` +
                `game page ${page.toFixed(1)} % of a core: ${(page / bare).toFixed(2)} times`);
  }
  ratios.sort((a, b) => a - b);
  console.log(`${width} x ${height} at scale ${scale}: median ${ratios[ratios.length >> 1].toFixed(2)} times the bare canvas`);
  await browser.close();
}
game.close();
bench.close();
