// node same-battles.mjs NATIVE_TRACE OTHER_TRACE: long random battles, and
// recordings of battles played with random input (made by the native soak
// driver beside the native tool), replayed by two builds of kestrel-trace
// (the native one, and the one compiled to WebAssembly for node) must draw
// the very same calls, tick for tick, and end in the very same battle
// record, every double to the last bit: both take musl's sine, cosine,
// arctangent and power (model/MathFunctions.h).
// Exits 77 (skipped) when the native tool is not built.

import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

const SEEDS = [1, 293, 2026];
const TICKS = 2000;
const RECORDED = [{ seed: 5, ticks: 3000 }, { seed: 77, ticks: 3000 }];
// The record is printed this often (and at the end of a recording), so
// that a difference shows near the tick it began at.
const STATE_EVERY = 250;

const [native, other] = process.argv.slice(2);
if (!other) {
  console.error('usage: node same-battles.mjs NATIVE_TRACE OTHER_TRACE');
  process.exit(2);
}
if (!native || !fs.existsSync(native)) {
  console.log(`skipped: no native kestrel-trace at ${native}`);
  process.exit(77);
}

const replay = (tool, script) => execFileSync(tool, [], { input: script, maxBuffer: 1 << 30 })
  .toString().split('\n');

// A recording of a battle the soak driver played with random drags,
// orders, keys and resizes, battle starts reseeded from the clock.
function recorded({ seed, ticks }) {
  const soak = path.join(path.dirname(native), 'soak', 'kestrel-soak');
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrel-'));
  try {
    const file = path.join(dir, 'battle.trace');
    execFileSync(soak, [String(ticks), '--seed', String(seed), '--record', file]);
    return fs.readFileSync(file, 'utf8');
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

// The script with a state line after every STATE_EVERY ticks: its runs of
// ticks are cut where one falls due.
function withStates(script) {
  let done = 0;
  return script.split('\n').flatMap(line => {
    const run = /^tick(?:\s+(\d+))?\s*$/.exec(line);
    if (!run) return [line];
    const lines = [];
    for (let left = Number(run[1] ?? 1); left > 0;) {
      const step = Math.min(left, STATE_EVERY - done % STATE_EVERY);
      lines.push(`tick ${step}`);
      done += step;
      left -= step;
      if (done % STATE_EVERY === 0) lines.push('state');
    }
    return lines;
  }).join('\n');
}

const battles = [
  ...SEEDS.map(seed => ({ name: `seed ${seed}`, script: withStates(`seed ${seed}\ntick ${TICKS}\n`) })),
  ...RECORDED.map(r => ({ name: `recording ${r.seed}`, script: withStates(recorded(r)) + 'state\n' })),
];
let failures = 0;
for (const { name, script } of battles) {
  const [expected, actual] = [replay(native, script), replay(other, script)];
  if (expected.length !== actual.length) {
    console.log(`${name}: ${expected.length} lines, but ${actual.length}`);
    ++failures;
    continue;
  }
  const first = expected.findIndex((line, i) => line !== actual[i]);
  if (first >= 0) {
    const tick = expected.slice(0, first).findLast(line => line.startsWith('tick ')) ?? 'before the first tick';
    console.log(`${name}, line ${first + 1} (${tick}):\n  native: ${expected[first]}\n  other:  ${actual[first]}`);
    ++failures;
  }
}
console.log(`${SEEDS.length} battles of ${TICKS} ticks and ${RECORDED.length} recorded ones: ` +
            (failures ? `${failures} differ` : 'every drawing call and every state line the same'));
process.exit(failures ? 1 : 0);
