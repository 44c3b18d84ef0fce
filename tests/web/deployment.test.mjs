// Rooms as they are hosted for others: HAProxy from the repository's own
// configuration, terminating TLS with a certificate from a throwaway
// authority that only this test's processes trust, in front of two
// kestrel-servers on the loopback. Pages open https://kestrel.test:PORT/
// (the name mapped to the loopback for Chromium alone); the window joins
// over https too. With the room's server stopped, every screen rests on one
// tick with the picture and the record the room's recording gives.

import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { LEGEND_HEIGHT, installed, launchChromium, openGame, probe, startServer } from './support.mjs';
import { POLL, live, openRoomPage, scratch } from './rooms.mjs';
import { checkResting, startWindow, title, until, useXServer } from './window.mjs';

const CONFIG = fileURLToPath(new URL('../../data/haproxy.cfg', import.meta.url));
const HOST = 'kestrel.test';
const NAMES = ['8001', '8002'];  // as the configuration names its servers
const [WIDTH, HEIGHT] = [480, 360];

const authority = path.join(scratch, 'authority');
const caFile = path.join(authority, 'rootCA.pem');
const xEnv = useXServer({ SSL_CERT_FILE: caFile });
const env = {};

before(async () => {
  const pem = makeCertificate();
  env.servers = Object.fromEntries(await Promise.all(NAMES.map(async name => [name, await startServer({
    args: ['--name', name, '--trust-proxy', '127.0.0.1', '--data', path.join(scratch, name)] })])));
  env.balancer = await startBalancer(pem, env.servers);
  env.site = `https://${HOST}:${env.balancer.port}/`;
  env.browsers = await Promise.all([1, 2, 3].map(() => launchChromium({
    width: WIDTH, height: HEIGHT + LEGEND_HEIGHT, env: { HOME: trustingHome() },
    args: [`--host-resolver-rules=MAP ${HOST} 127.0.0.1`] })));
});
after(async () => {
  await Promise.all((env.browsers ?? []).map(browser => browser.close()));
  await env.balancer?.close();
  await Promise.all(Object.values(env.servers ?? {}).map(server => server.close()));
});

// The authority (mkcert with a CAROOT of the test's own: never installed
// anywhere) and a certificate for the name and the loopback, with its key
// in one file as HAProxy takes it.
function makeCertificate() {
  fs.mkdirSync(authority, { recursive: true });
  const [cert, key] = ['cert.pem', 'key.pem'].map(file => path.join(authority, file));
  execFileSync(installed('mkcert', 'mkcert'), ['-cert-file', cert, '-key-file', key, HOST, '127.0.0.1'],
               { env: { ...process.env, CAROOT: authority }, stdio: 'ignore' });
  const pem = path.join(authority, 'haproxy.pem');
  fs.writeFileSync(pem, Buffer.concat([fs.readFileSync(cert), fs.readFileSync(key)]));
  return pem;
}

// A HOME whose certificate store (NSS, which Chromium reads) trusts the
// authority: Chromium trusts it, nothing else does.
function trustingHome() {
  const home = fs.mkdtempSync(path.join(scratch, 'home-'));
  const store = `sql:${path.join(home, '.pki/nssdb')}`;
  fs.mkdirSync(path.join(home, '.pki/nssdb'), { recursive: true });
  const certutil = installed('certutil', 'libnss3-tools');
  execFileSync(certutil, ['-d', store, '-N', '--empty-password']);
  execFileSync(certutil, ['-d', store, '-A', '-t', 'C,,', '-n', 'kestrel test authority', '-i', caFile]);
  return home;
}

const freePort = () => new Promise(resolve => {
  const probing = net.createServer().listen(0, '127.0.0.1', () => {
    const { port } = probing.address();
    probing.close(() => resolve(port));
  });
});

// HAProxy on the repository's configuration, all but the certificate, the
// listening port and the servers' addresses as they stand.
async function startBalancer(pem, servers) {
  const port = await freePort();
  let config = fs.readFileSync(CONFIG, 'utf8')
    .replace(/^(\s*)bind :443 ssl crt \S+/m, `$1bind 127.0.0.1:${port} ssl crt ${pem}`)
    .replace(/^\s*bind :80\n/m, '');
  for (const [name, server] of Object.entries(servers))
    config = config.replace(new RegExp(`^(\\s*server ${name}) \\S+$`, 'm'), `$1 ${new URL(server.url).host}`);
  const file = path.join(scratch, 'haproxy.cfg');
  fs.writeFileSync(file, config);
  const haproxy = installed('haproxy', 'haproxy');
  execFileSync(haproxy, ['-c', '-q', '-f', file]);
  const child = spawn(haproxy, ['-db', '-f', file], { stdio: ['ignore', 'ignore', 'pipe'] });
  let output = '';
  child.stderr.setEncoding('utf8').on('data', chunk => { output += chunk; });
  const gone = new Promise(resolve => child.once('exit', resolve));
  await until(`HAProxy on port ${port}`, () => new Promise(resolve => {
    assert.equal(child.exitCode, null, `haproxy ended: ${output}`);
    const socket = net.connect(port, '127.0.0.1', () => { socket.destroy(); resolve(true); });
    socket.on('error', () => resolve(false));
  }));
  return { port, close: () => { child.kill('SIGTERM'); return gone; } };
}

test('pages from https and the window over https play one room behind the balancer', async () => {
  const [first, second, third] = env.browsers;
  const { page: a } = await openGame(first, env.site, { realClock: true });
  assert.equal(await a.evaluate(() => window.isSecureContext), true, 'the page is a secure context');
  await a.evaluate(async () => {
    await navigator.serviceWorker.ready;
    if (!navigator.serviceWorker.controller)
      await new Promise(resolve => navigator.serviceWorker.addEventListener('controllerchange', resolve, { once: true }));
  });
  await a.waitForFunction(() => !document.getElementById('play-together').hidden, POLL);
  await a.click('#more');
  await a.click('#play-together');
  await live(a);
  const play = await a.evaluate(() => location.href);
  const [, roomId, name] = /#live=((\d+)-[0-9a-f]{32})\.[0-9a-f]{32}$/.exec(play) ?? [];
  assert.ok(roomId && play.startsWith(env.site), `a play link on the page's own https site: ${play}`);
  const server = env.servers[name];

  const { page: b } = await openRoomPage(play, second);
  const { page: c } = await openRoomPage(`${env.site}#watch=${roomId}`, third);
  // The window joins through the balancer by its address, which the
  // certificate names too: the name is mapped for Chromium alone.
  const recording = path.join(scratch, 'window.rec');
  const size = [await probe(a, 'canvasWidth'), await probe(a, 'canvasHeight')];
  const shell = await startWindow(xEnv(), ['--join', play.replace(HOST, '127.0.0.1'), '--record', recording]);
  try {
    // The two playing pages came first: the window has the third seat.
    const seated = new RegExp('^3D Kestrel \\(playing, 4 in the room\\) — You are the bluish green tank\\. ' +
                              ['1 dark blue', '2 vermilion', '3 bluish green \\(you\\)']
                                .map(seat => `${seat}: \\d+ kills?, \\d+ wins?, here`).join('; ') + '$');
    await until('the window in the room', async () => seated.test(await title(shell)));
    await b.keyboard.press('w');
    await checkResting({ server, roomId, pages: [a, b, c], shell, recording, size });
    const status = await (await fetch(new URL('status', server.url))).json();
    assert.equal(status.mismatches, 0, 'every screen\'s hashes were the room\'s');
    assert.equal(status.connections, 4, 'all four screens are on the room\'s own server');
  } finally {
    shell.kill();
  }
});
