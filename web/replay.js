// Runs a kestrel-trace script in the browser and shows its picture, one
// canvas pixel to one device pixel.

import createReplayModule from './kestrel-replay.js';

const replayer = await createReplayModule();
const canvas = document.querySelector('canvas');
const status = document.getElementById('status');

// Returns { status, errors }: status 0 for a script run to its end, 2 for a
// bad line (errors says which).
window.kestrelReplay = script => {
  const size = replayer.lengthBytesUTF8(script) + 1;
  const text = replayer._malloc(size);
  replayer.stringToUTF8(script, text, size);
  const result = replayer._kestrel_replay(text);
  replayer._free(text);
  const width = replayer._kestrel_replay_width(), height = replayer._kestrel_replay_height();
  const pixels = new Uint8ClampedArray(replayer.HEAPU8.buffer, replayer._kestrel_replay_pixels(), width * height * 4);
  canvas.width = width;
  canvas.height = height;
  canvas.style.width = `${width / window.devicePixelRatio}px`;
  canvas.style.height = `${height / window.devicePixelRatio}px`;
  canvas.getContext('2d').putImageData(new ImageData(pixels, width, height), 0, 0);
  const errors = replayer.UTF8ToString(replayer._kestrel_replay_errors());
  status.textContent = result === 0 ? 'done' : errors;
  return { status: result, errors };
};

document.getElementById('replay').addEventListener('click', () => {
  window.kestrelReplay(document.getElementById('script').value);
});
window.kestrelReplayReady = true;
