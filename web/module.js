// Loads a standalone WebAssembly module of the game. It asks the page for
// little: the clock (to seed each battle), and a way out if it fails. Node
// loads it the same way for tests (instantiateModule with the file's bytes).

export async function loadModule(url) {
  const response = await fetch(url);
  if (!response.ok) throw new Error(`cannot load ${url}: ${response.status}`);
  return instantiateModule(await response.arrayBuffer());
}

export async function instantiateModule(bytes) {
  let memory;
  const imports = {
    env: {
      // The module's memory grew: views of the old buffer are stale, which
      // the page checks for itself.
      emscripten_notify_memory_growth() {},
    },
    wasi_snapshot_preview1: {
      clock_time_get(clock, precision, result) {
        const nanoseconds = BigInt(Math.round((performance.timeOrigin + performance.now()) * 1e6));
        new DataView(memory.buffer).setBigUint64(result, nanoseconds, true);
        return 0;
      },
      proc_exit(code) {
        throw new Error(`the game stopped with status ${code}`);
      },
    },
  };
  const { instance } = await WebAssembly.instantiate(bytes, imports);
  memory = instance.exports.memory;
  instance.exports._initialize();
  return instance.exports;
}

// Text the module returned: `length` UTF-8 bytes at `at`, or up to the NUL.
export function readText(game, at, length = -1) {
  const bytes = new Uint8Array(game.memory.buffer, at);
  return new TextDecoder().decode(bytes.subarray(0, length >= 0 ? length : bytes.indexOf(0)));
}

// The page's contract with the module (web/KestrelWeb.cpp): key names,
// pointer buttons, probes and limits.
export function readContract(game) {
  return JSON.parse(readText(game, game.kestrel_contract()));
}

// Runs fn(at, length) with `text` as UTF-8 bytes in the module's memory,
// freed again after; fn's result is returned.
export function withText(game, text, fn) {
  const bytes = new TextEncoder().encode(text);
  const at = game.kestrel_alloc(bytes.length);
  try {
    new Uint8Array(game.memory.buffer, at, bytes.length).set(bytes);
    return fn(at, bytes.length);
  } finally {
    game.kestrel_free(at);
  }
}
