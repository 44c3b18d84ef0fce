// The window in a room: the real kestrel-server on the loopback, the real
// window (kestrel --join) on a virtual X server of the test's own, and two
// headless Chromium pages, one playing and one watching. The window drags a
// tank and presses a key (real X events), the playing page presses a key.
// While the server is stopped (SIGSTOP) every screen rests on the last
// tick it was sent: then the window's grabbed pixels and the pages'
// pictures are what kestrel-trace draws from the room's recording at that
// tick, the battle the window recorded (--record) replays to the room's
// record, and no screen's hash differed from the room's. A link that opens
// no room is one line and status 2.

import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { CONTRACT, LEGEND_HEIGHT, openGame, probe, roomTick, servedUpToTick } from './support.mjs';
import { onScreen, recorded, roomRecording, scratch, status, toughBattle, traced, useServerAndBrowsers } from './rooms.mjs';
import { WAIT_MS, checkResting, rest, startWindow, title, until, useXServer, xdotool } from './window.mjs';

const BUILD = fileURLToPath(new URL('../../build/default/', import.meta.url));
const WINDOW = process.env.KESTREL_WINDOW || path.join(BUILD, 'app/kestrel');

// Three tanks too tough to fall, at places apart: the one the window
// presses on is there, alone, when the press comes.
const [WIDTH, HEIGHT] = [480, 360];
const TOUGH_BATTLE = `${toughBattle({ seed: 31, width: WIDTH, height: HEIGHT,
                                      tanks: [[80, 100, 1], [400, 140, 2], [240, 300, 0]] })}\ntick 1\n`;
const [KEY_W, KEY_Q] = [119, 113];
const MASKED_FRAME_HEADER = 6;  // a screen's short WebSocket frame: 2 bytes and the mask
// The window joins first and has the first seat, the playing page the
// second. A key leaves the tanks no tougher than others: scores may come.
const SEATED_TITLE = new RegExp('^3D Kestrel \\(playing, 3 in the room\\) — You are the dark blue tank\\. ' +
                                '1 dark blue \\(you\\): \\d+ kills?, \\d+ wins?, here; ' +
                                '2 vermilion: \\d+ kills?, \\d+ wins?, here$');

const env = useServerAndBrowsers(3, { width: WIDTH, height: HEIGHT + LEGEND_HEIGHT });
const xEnv = useXServer();

// Bytes the window sent the stopped server that it has not read yet: the
// kernel's receive queue at the server's end of the window's connection.
function unreadFromWindow(shell) {
  const serverEnd = `0100007F:${Number(new URL(env.server.url).port).toString(16).toUpperCase().padStart(4, '0')}`;
  const sockets = fs.readFileSync('/proc/net/tcp', 'utf8').split('\n').slice(1).map(line => line.trim().split(/\s+/));
  const held = new Set(fs.readdirSync(`/proc/${shell.pid}/fd`).map(fd => {
    try { return fs.readlinkSync(`/proc/${shell.pid}/fd/${fd}`); } catch { return ''; }
  }));
  const [, windowEnd] = sockets.find(fields => fields[2] === serverEnd && held.has(`socket:[${fields[9]}]`));
  const [, , , , queues] = sockets.find(([, local, remote]) => local === serverEnd && remote === windowEnd);
  return parseInt(queues.split(':')[1], 16);
}

// Where a tank shows in the window, at one pixel per unit: the view is
// slanted.
const inWindow = async (page, slot) =>
  [await probe(page, 'tankX', slot), 0.5 * await probe(page, 'tankY', slot) + 0.25 * HEIGHT].map(Math.round);

test('a link that opens no room is one line and status 2, before any window', async () => {
  const made = await (await fetch(new URL('rooms', env.server.url), { method: 'POST' })).json();
  const closed = net.createServer();
  await new Promise(resolve => closed.listen(0, '127.0.0.1', resolve));
  const closedPort = closed.address().port;
  await new Promise(resolve => closed.close(resolve));
  const madeUp = '0123456789abcdef'.repeat(2);
  for (const [link, reason] of [
    [`http://127.0.0.1:${closedPort}/#watch=${made.room}`, 'cannot reach the server (Connection refused)'],
    [`${env.server.url}#watch=${madeUp}`, 'there is no such room on that server'],
    [`${env.server.url}#live=${made.room}.${madeUp}`, 'the link\'s key does not open that room'],
  ]) {
    const started = spawnSync(WINDOW, ['--join', link], { env: xEnv(), encoding: 'utf8', timeout: WAIT_MS });
    assert.deepEqual([started.status, started.stderr, started.stdout], [2, `kestrel: ${link}: ${reason}\n`, '']);
  }
});

test('the window, a playing page and a watching page show one battle, the room\'s', async () => {
  const made = await fetch(new URL('rooms', env.server.url), {
    method: 'POST', headers: { 'content-type': 'text/plain' }, body: TOUGH_BATTLE,
  });
  assert.equal(made.status, 201);
  const { room: roomId, play, watch } = await made.json();
  const recording = path.join(scratch, 'window.rec');
  const shell = await startWindow(xEnv(), ['--join', play, '--record', recording]);
  try {
    const pages = [];
    for (const [link, browser] of [[play, env.browsers[0]], [watch, env.browsers[1]]]) {
      const { page } = await openGame(browser, link, { realClock: true });
      await page.waitForFunction(() => window.kestrel.room?.state === 'live', { polling: 50, timeout: WAIT_MS });
      pages.push(page);
    }
    const [player] = pages;
    await until('the window\'s title', async () => SEATED_TITLE.test(await title(shell)));
    assert.match(shell.output(), /^You are the dark blue tank\.$/m, 'kestrel --join names the window\'s tank');
    const geometry = (await xdotool(xEnv(), 'getwindowgeometry', '--shell', shell.id)).stdout;
    assert.deepEqual(['WIDTH', 'HEIGHT'].map(side => Number(new RegExp(`^${side}=(\\d+)$`, 'm').exec(geometry)?.[1])),
                     [WIDTH, HEIGHT], 'the window takes the room\'s size');

    // The press lands where the resting screens show a tank, and reaches
    // the stopped server before it goes on: it takes the press before its
    // next tick, or the one after, the tank not far off.
    await rest(env.server, pages, recording);
    const [x, y] = await inWindow(player, 0);
    const unread = unreadFromWindow(shell);
    await xdotool(xEnv(), 'mousemove', '--window', shell.id, x, y, 'mousedown', '1');
    // (A move that goes before the press, in a frame of its own, is shorter.)
    const press = MASKED_FRAME_HEADER + `down 1 ${x} ${y}\n`.length;
    await until('the press at the server', () => unreadFromWindow(shell) >= unread + press - 1);
    env.server.resume();
    await player.waitForFunction(() => window.kestrel.probe('dragging') !== 0, { polling: 50, timeout: WAIT_MS });
    for (let step = 1; step <= 8; ++step) await xdotool(xEnv(), 'mousemove', '--window', shell.id, x + 10 * step, y + 5 * step);
    await xdotool(xEnv(), 'mouseup', '1');
    await player.waitForFunction(() => window.kestrel.probe('dragging') === 0, { polling: 50, timeout: WAIT_MS });

    await xdotool(xEnv(), 'windowfocus', shell.id);
    await xdotool(xEnv(), 'key', 'w');
    await until('the window\'s key in the room', () => recorded(roomId, `key ${KEY_W}`));
    await player.keyboard.press('q');
    await until('the page\'s key in the room', () => recorded(roomId, `key ${KEY_Q}`));
    // Past two of the ticks at which the screens hash their battles.
    const since = await roomTick(player);
    await player.waitForFunction(tick => window.kestrel.roomTick() > tick, { polling: 50, timeout: WAIT_MS },
                                 since + 2 * CONTRACT.hashEveryTicks);

    await checkResting({ server: env.server, roomId, pages, shell, recording, size: [WIDTH, HEIGHT] });
    const { mismatches, hashes_checked: checked } = await status();
    assert.equal(mismatches, 0, 'every screen\'s hashes were the room\'s');
    assert.ok(checked > 0, 'the screens\' hashes were checked');
    assert.match(await title(shell), SEATED_TITLE);

    // Esc takes the window out of the room and ends it.
    await xdotool(xEnv(), 'key', 'Escape');
    assert.equal(await until('the window to end', () => shell.exitCode()), 0);
    await player.waitForFunction(() => /2 in the room/.test(document.getElementById('room').textContent),
                                 { polling: 50, timeout: WAIT_MS });
  } finally {
    shell.kill();
  }
});

// Each seat's kills and wins as a screen shows them, in kestrel-trace's
// words: "score K KILLS WINS".
const scoreLines = entries => entries.map((entry, seat) => {
  const [, kills, wins] = /: (\d+) kills?, (\d+) wins?,/.exec(entry);
  return `score ${seat} ${kills} ${wins}`;
});
const pageLegend = page => page.$$eval('#seats li', entries => entries.map(entry => entry.textContent));
const windowLegend = async shell => (await title(shell)).split(' — ')[1].split('; ');

test('three players and a watcher: each player\'s release orders their own tank, and every screen shows the room\'s seats', async () => {
  const made = await fetch(new URL('rooms', env.server.url), {
    method: 'POST', headers: { 'content-type': 'text/plain' }, body: TOUGH_BATTLE,
  });
  const { room: roomId, play, watch } = await made.json();
  const recording = path.join(scratch, 'seated.rec');
  const shell = await startWindow(xEnv(), ['--join', play, '--record', recording]);
  const pages = [];
  try {
    await until('the window\'s seat', async () => /You are the dark blue tank/.test(await title(shell)));
    for (const [link, browser] of [[play, env.browsers[2]], [play, env.browsers[1]], [watch, env.browsers[0]]]) {
      const { page } = await openGame(browser, link, { realClock: true });
      await page.waitForFunction(() => window.kestrel.room?.state === 'live', { polling: 50, timeout: WAIT_MS });
      pages.push(page);
    }
    const [first, second, watcher] = pages;
    const yourTank = page => page.$eval('#your-tank', line => line.textContent);
    assert.deepEqual(await Promise.all(pages.map(yourTank)),
                     ['You are the vermilion tank.', 'You are the bluish green tank.', 'You are watching.']);

    // Each player in turn releases the left button over another tank, while
    // the server is stopped (one hand at a time: a press while another
    // player's is down is let go): the window over tank 2, the pages over
    // tanks 0 and 1.
    const releases = async () => (await roomRecording(roomId)).match(/^up 1 /gm)?.length ?? 0;
    const clicks = [
      async () => {
        const [x, y] = await inWindow(first, 2);
        await xdotool(xEnv(), 'mousemove', '--window', shell.id, x, y, 'click', '1');
      },
      ...[[first, 0], [second, 1]].map(([page, slot]) => async () => {
        const tank = await onScreen(page, slot);
        await page.mouse.click(tank.x, tank.y);
      }),
    ];
    for (const [i, click] of clicks.entries()) {
      await rest(env.server, pages, recording);
      await click();
      env.server.resume();
      await until(`release ${i + 1} in the room`, async () => await releases() === i + 1);
    }
    const targets = traced(await roomRecording(roomId)).tanks.slice(0, 3).map(fields => Number(fields[8]));
    assert.deepEqual(targets, [2, 0, 1], 'each seat\'s release set its own tank\'s target, and no other');

    // A page whose connection drops comes back to its own seat and score.
    await first.evaluate(() => window.kestrel.room.dropConnection());
    await first.waitForFunction(() => window.kestrel.room.state !== 'live', { polling: 50, timeout: WAIT_MS });
    await first.waitForFunction(() => window.kestrel.room.state === 'live', { polling: 50, timeout: WAIT_MS });
    assert.equal(await yourTank(first), 'You are the vermilion tank.');
    assert.equal((await pageLegend(first)).length, 3, 'and no fourth seat');
    assert.ok(!(await roomRecording(roomId)).includes('\njoin '), 'no seat changed hands');

    // At rest, every screen shows the scores kestrel-trace finds in the
    // room's recording, with the pictures and records checkResting holds.
    const tick = await rest(env.server, pages, recording);
    const legends = [...await Promise.all(pages.map(pageLegend)), await windowLegend(shell)];
    env.server.resume();
    const room = traced(await servedUpToTick(() => roomRecording(roomId), tick));
    for (const [i, legend] of legends.entries()) assert.deepEqual(scoreLines(legend), room.scores, `screen ${i}'s scores`);
    assert.equal(legends[0][1], '2 vermilion (you): 0 kills, 0 wins, here');
    await checkResting({ server: env.server, roomId, pages, shell, recording, size: [WIDTH, HEIGHT] });
    assert.equal((await status()).mismatches, 0);
  } finally {
    shell.kill();
    await Promise.all(pages.map(page => page.close()));
  }
});
