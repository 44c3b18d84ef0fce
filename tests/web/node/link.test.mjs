// Battle links (web/link.js): `#battle=` and the recording, raw deflate in
// base64url. Checked against node's own zlib and base64url: what the page
// writes, node reads, and the other way round; a damaged, cut or overlong
// link is refused with its reason. Room links name a room and its socket.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';
import { describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { LinkError, fragmentOf, readRoomLink, recordingOf } from '../../../web/link.js';
import { instantiateModule } from '../../../web/module.js';

const SOURCE = fileURLToPath(new URL('../../../', import.meta.url));
const SITE = process.env.KESTREL_SITE ?? path.join(SOURCE, 'build/web');
const game = await instantiateModule(fs.readFileSync(path.join(SITE, 'kestrel.wasm')));

const PREFIX = '#battle=';
const nodeLink = bytes => PREFIX + Buffer.from(bytes).toString('base64url');
const nodeRead = fragment => zlib.inflateRawSync(Buffer.from(fragment.slice(PREFIX.length), 'base64url')).toString();
const LIMIT = 64 << 20;

// A recording long enough that its packed bytes take several chunks of
// characters, and with text beyond ASCII in a comment.
const long = ['version 1', 'seed 293', 'size 696 548', '# ünïcödé ✓',
  ...Array.from({ length: 20000 }, (_, i) => `tick ${i % 7 + 1}\nmove ${(i * 7919) % 696} ${(i * 104729) % 548}`)].join('\n');

describe('a battle link', () => {
  test('holds the recording, raw deflate in base64url, as node reads it', async () => {
    for (const recording of ['', 'version 1\nseed 5\ntick 40\n', long]) {
      const fragment = await fragmentOf(recording);
      assert.match(fragment, /^#battle=[A-Za-z0-9_-]*$/);
      assert.equal(nodeRead(fragment), recording);
      assert.equal(await recordingOf(fragment, LIMIT), recording);
    }
    assert.ok((await fragmentOf(long)).length > 3 * 0x8000, 'more than one chunk of characters');
  });

  test('reads links node wrote, at every length of the last base64 quad', async () => {
    const lastQuads = new Set();
    for (let seed = 1; seed <= 40; seed++) {
      const recording = `version 1\nseed ${seed ** 5}\ntick ${seed}\n`, packed = zlib.deflateRawSync(recording);
      lastQuads.add(packed.length % 3);
      assert.equal(await recordingOf(nodeLink(packed), LIMIT), recording);
    }
    assert.deepEqual([...lastQuads].sort(), [0, 1, 2]);
  });

  const refusal = async (fragment, reason, limit = LIMIT) => {
    await assert.rejects(recordingOf(fragment, limit), error => error instanceof LinkError && reason.test(error.message));
  };

  test('damaged: characters base64url lacks, or a length no base64 has', async () => {
    const good = nodeLink(zlib.deflateRawSync('version 1\nseed 5\ntick 40\n'));
    await refusal(good.replace(/.{3}$/, '*!~'), /damaged: it holds characters, or a length/);
    await refusal(`${good.slice(0, -2)}+/`, /damaged: it holds characters/);
    await refusal(`${PREFIX}${'A'.repeat(4 * 5 + 1)}`, /damaged: it holds characters, or a length/);
  });

  test('cut short, or not deflate at all: it does not unpack', async () => {
    const coded = nodeLink(zlib.deflateRawSync(long)).slice(PREFIX.length);
    await refusal(PREFIX + coded.slice(0, 4 * Math.floor(coded.length / 8)), /cut short or damaged/);
    await refusal(nodeLink(Buffer.from([0xff, 0xff, 0xff, 0xff])), /cut short or damaged/);
  });

  test('not text: bytes that are no UTF-8', async () => {
    await refusal(nodeLink(zlib.deflateRawSync(Buffer.from([0x74, 0x69, 0xc3, 0x28]))), /not text/);
  });

  test('longer than the limit once unpacked: refused as soon as it is; up to the limit, read', async () => {
    const limit = 100000;
    const packed = size => nodeLink(zlib.deflateRawSync(Buffer.alloc(size, '#')));
    assert.equal((await recordingOf(packed(limit), limit)).length, limit);
    await refusal(packed(limit + 1), /far too long/, limit);
    await refusal(packed(limit * 100), /far too long/, limit);
  });

  test('no battle link at all', async () => {
    await refusal('#other=abc', /not a battle link/);
  });
});

describe('a room link', () => {
  const ID = '0123456789abcdef0123456789abcdef', KEY = 'fedcba98765432100123456789abcdef';
  const roomOf = (fragment, page = 'http://127.0.0.1:8000/') => readRoomLink(game, page + fragment);

  test('names a room to play in, or to watch, and its socket on the page\'s own server', () => {
    const play = roomOf(`#live=${ID}.${KEY}`), watch = roomOf(`#watch=${ID}`, 'https://example.org/app/');
    assert.deepEqual([play.id, play.key], [ID, KEY]);
    assert.deepEqual([watch.id, watch.key], [ID, null]);
    assert.equal(play.socket, `ws://127.0.0.1:8000/rooms/${ID}/socket?key=${KEY}`);
    assert.equal(watch.socket, `wss://example.org/rooms/${ID}/socket`);
    assert.equal(play.check, `http://127.0.0.1:8000/rooms/${ID}/socket?key=${KEY}`, 'the socket asked over plain HTTP');
    assert.equal(watch.check, `https://example.org/rooms/${ID}/socket`);
    assert.equal(play.play, `http://127.0.0.1:8000/#live=${ID}.${KEY}`);
    assert.equal(watch.watch, `https://example.org/app/#watch=${ID}`);
    assert.equal(watch.play, undefined, 'no link to play from a link to watch');
    assert.deepEqual(readRoomLink(game, play.play), play);
    assert.deepEqual(readRoomLink(game, play.watch), { ...watch, socket: `ws://127.0.0.1:8000/rooms/${ID}/socket`,
                                                       check: `http://127.0.0.1:8000/rooms/${ID}/socket`,
                                                       watch: play.watch });
  });

  test('a player\'s seat token goes with the socket and its check; a watcher\'s, or one of no token\'s form, does not', () => {
    const TOKEN = 'ab'.repeat(16);
    const play = readRoomLink(game, `http://127.0.0.1:8000/#live=${ID}.${KEY}`, TOKEN);
    assert.equal(play.socket, `ws://127.0.0.1:8000/rooms/${ID}/socket?key=${KEY}&seat=${TOKEN}`);
    assert.equal(play.check, `http://127.0.0.1:8000/rooms/${ID}/socket?key=${KEY}&seat=${TOKEN}`);
    assert.equal(readRoomLink(game, `http://127.0.0.1:8000/#watch=${ID}`, TOKEN).socket,
                 `ws://127.0.0.1:8000/rooms/${ID}/socket`);
    for (const kept of [TOKEN.toUpperCase(), `${TOKEN}0`, `${TOKEN.slice(1)}#`, `x&key=${KEY}`]) {
      assert.equal(readRoomLink(game, `http://127.0.0.1:8000/#live=${ID}.${KEY}`, kept).socket,
                   `ws://127.0.0.1:8000/rooms/${ID}/socket?key=${KEY}`, kept);
    }
  });

  test('other fragments name none; a damaged one is refused, nothing of it reaching an address', () => {
    for (const fragment of ['', '#battle=abc', '#lived=00']) assert.equal(roomOf(fragment), null);
    for (const fragment of ['#live=', `#live=${ID}`, `#live=${ID}.`, `#live=${ID}.${KEY}.00`, `#live=${ID}.${KEY}/../x`,
                            '#watch=', '#watch=../status', `#watch=${ID}?key=1`, `#watch=${'a'.repeat(129)}`,
                            `#watch=${ID.toUpperCase()}`, `#watch=${ID}0`, `#live=${ID}.${KEY.slice(1)}`]) {
      assert.throws(() => roomOf(fragment), error => error instanceof LinkError && /room link is damaged/.test(error.message),
                    fragment);
    }
    assert.throws(() => roomOf(`#watch=${ID}`, 'http://a b/'), /room link is damaged: not a room link \(its host/);
  });
});
