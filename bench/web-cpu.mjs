// node bench/web-cpu.mjs [SECONDS] [ROUNDS] [OTHER_SITE]: the game page's CPU in headless
// Chromium beside a bare full-window canvas that puts one 32 x 32 rectangle
// every 25 ms (bench/bare-canvas.html), in the same run: at 1280 x 800 (device
// scale 1) and at 1920 x 1080 (device scale 2). Each round opens the bare
// page and then the game page alone in the browser, lets it settle (the
// game's help line has faded by then), and counts the CPU time of every
// Chromium process (user and system, from /proc) over SECONDS (default 10);
// ROUNDS (default 3) alternate the two. The live page seeds its battles
// from the clock, and a battle of three tanks costs far less than one of
// fifty, so each round also measures the page playing back one fixed
// recording (seed 293, the window's size, ticks only) through a battle
// link: the same battles every round. The window's size is the page's own
// (innerWidth x innerHeight): at a device scale of 2 headless Chromium
// gives the page fewer rows than the window has, and a recording any
// taller would be shrunk to fit, every frame. build/web must be built. OTHER_SITE,
// another build of the site (an older one, say), is measured in each round
// too, live and with the fixed battles.

import fs from 'node:fs';
import zlib from 'node:zlib';
import os from 'node:os';
import { fileURLToPath } from 'node:url';
import { launchChromium, pause, serveSite } from '../tests/web/support.mjs';

const seconds = Number(process.argv[2] ?? 10);
const rounds = Number(process.argv[3] ?? 3);
const SETTLE_MS = 7000;
const CLOCK_TICKS = 100;  // USER_HZ on Linux

// The CPU seconds used so far by a process and each of its descendants, by
// process id (a closed page's renderer goes away; its time with it).
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
  const tree = new Map();
  const walk = pid => {
    tree.set(pid, cpu.get(pid) ?? 0);
    for (const child of children.get(pid) ?? []) walk(child);
  };
  walk(root);
  return tree;
}

// CPU seconds used between two counts, by the processes alive at the second.
function used(before, after) {
  let total = 0;
  for (const [pid, seconds] of after) total += seconds - (before.get(pid) ?? 0);
  return total;
}

// A battle link to a recording of nothing but ticks from one seed, at the
// window's size.
function fixedBattle(width, height) {
  const recording = `version 1\nseed 293\nsize ${width} ${height}\ntick 1000000\n`;
  return `#battle=${zlib.deflateRawSync(Buffer.from(recording)).toString('base64url')}`;
}

// The size a page has in the browser's window, in CSS pixels.
async function pageSize(browser) {
  const page = await browser.newPage();
  const size = await page.evaluate(() => [innerWidth, innerHeight]);
  await page.close();
  return size;
}

async function measure(browser, url) {
  const page = await browser.newPage();
  await page.goto(url, { waitUntil: 'load' });
  await pause(SETTLE_MS);
  const pid = browser.process().pid;
  const before = treeCpu(pid);
  await pause(seconds * 1000);
  const spent = used(before, treeCpu(pid));
  await page.close();
  return (100 * spent) / seconds;  // per cent of one core
}

const game = await serveSite();
const otherSite = process.argv[4] ? await serveSite(fs.realpathSync(process.argv[4])) : null;
const bench = await serveSite(fileURLToPath(new URL('.', import.meta.url)).replace(/\/$/, ''));
console.log(`machine: ${os.cpus().length} cores, load average ${os.loadavg()[0].toFixed(1)}; ${seconds} s a measurement, ${rounds} rounds`);
for (const { width, height, scale } of [{ width: 1280, height: 800, scale: 1 }, { width: 1920, height: 1080, scale: 2 }]) {
  const browser = await launchChromium({ width, height, scale });
  const [pageWidth, pageHeight] = await pageSize(browser);
  console.log(`${width} x ${height} at scale ${scale}: the page's own size ${pageWidth} x ${pageHeight}`);
  const ratios = [], fixedRatios = [], otherFixedRatios = [];
  for (let round = 1; round <= rounds; round++) {
    const bare = await measure(browser, `${bench.url}bare-canvas.html`);
    const page = await measure(browser, game.url);
    const fixed = await measure(browser, `${game.url}${fixedBattle(pageWidth, pageHeight)}`);
    fixedRatios.push(fixed / bare);
    const other = otherSite ? await measure(browser, otherSite.url) : null;
    const otherFixed = otherSite ? await measure(browser, `${otherSite.url}${fixedBattle(pageWidth, pageHeight)}`) : null;
    ratios.push(page / bare);
    if (otherSite) otherFixedRatios.push(otherFixed / bare);
    console.log(`${width} x ${height} at scale ${scale}, round ${round}: bare canvas ${bare.toFixed(1)} %, ` +
                `game page ${page.toFixed(1)} % of a core: ${(page / bare).toFixed(2)} times; ` +
                `fixed battles ${fixed.toFixed(1)} %: ${(fixed / bare).toFixed(2)} times` +
                (other === null ? '' : `; the other site ${other.toFixed(1)} %: ${(other / bare).toFixed(2)} times, ` +
                                       `its fixed battles ${otherFixed.toFixed(1)} %: ${(otherFixed / bare).toFixed(2)} times`));
  }
  const median = list => list.sort((a, b) => a - b)[list.length >> 1].toFixed(2);
  console.log(`${width} x ${height} at scale ${scale}: median ${median(ratios)} times the bare canvas live, ` +
              `${median(fixedRatios)} times with the fixed battles` +
              (otherSite ? `; the other site's fixed battles ${median(otherFixedRatios)} times` : ''));
  await browser.close();
}
game.close();
bench.close();
otherSite?.close();
