// Loads a standalone WebAssembly module of the game. It asks the page for
// little: the clock (to seed each battle), and a way out if it fails.

export async function loadModule(url) {
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
  const response = await fetch(url);
  if (!response.ok) throw new Error(`cannot load ${url}: ${response.status}`);
  const { instance } = await WebAssembly.instantiate(await response.arrayBuffer(), imports);
  memory = instance.exports.memory;
  instance.exports._initialize();
  return instance.exports;
}
