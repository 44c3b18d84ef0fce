// Runs a kestrel-trace script in the browser and shows its picture, one
// picture pixel to one CSS pixel (as the tool draws it, at ratio 1), crisp
// at any device scale. A script comes from the text box, a chosen file or a
// dropped one; each `snap` line's PNG is offered as a download.

import createReplayModule from './kestrel-replay.js';

const replayer = await createReplayModule();
const canvas = document.querySelector('canvas');
const status = document.getElementById('status');
const scriptBox = document.getElementById('script');
const snapLinks = document.getElementById('snaps');
const snapUrls = [];

// The last run's snaps: [{ name, bytes }], bytes as the tool writes them.
function takeSnaps() {
  const snaps = [];
  for (let i = 0; i < replayer._kestrel_snap_count(); i++) {
    const at = replayer._kestrel_snap_bytes(i), length = replayer._kestrel_snap_length(i);
    snaps.push({ name: replayer.UTF8ToString(replayer._kestrel_snap_name(i)),
                 bytes: replayer.HEAPU8.slice(at, at + length) });
  }
  return snaps;
}

// Offers each snap as a link to its PNG file, named as the script named it.
function offer(snaps) {
  snapUrls.splice(0).forEach(url => URL.revokeObjectURL(url));
  snapLinks.replaceChildren(...snaps.map(({ name, bytes }) => {
    const url = URL.createObjectURL(new Blob([bytes], { type: 'image/png' }));
    snapUrls.push(url);
    return Object.assign(document.createElement('a'), {
      href: url, download: name.split('/').pop() || 'snap.png', textContent: `Save ${name}`,
    });
  }));
}

// Returns { status, errors, snaps }: status 0 for a script run to its end,
// 2 for a bad line (errors says which).
function run(script) {
  const size = replayer.lengthBytesUTF8(script) + 1;
  const text = replayer._malloc(size);
  replayer.stringToUTF8(script, text, size);
  const result = replayer._kestrel_replay(text);
  replayer._free(text);
  const width = replayer._kestrel_replay_width(), height = replayer._kestrel_replay_height();
  const pixels = new Uint8ClampedArray(replayer.HEAPU8.buffer, replayer._kestrel_replay_pixels(), width * height * 4);
  canvas.width = width;
  canvas.height = height;
  canvas.style.width = `${width}px`;
  canvas.style.height = `${height}px`;
  canvas.getContext('2d').putImageData(new ImageData(pixels, width, height), 0, 0);
  const errors = replayer.UTF8ToString(replayer._kestrel_replay_errors());
  const snaps = takeSnaps();
  offer(snaps);
  status.textContent = result === 0 ? 'done' : errors;
  return { status: result, errors, snaps };
}

// For tests: run(script), and whether the page has shown its first script.
window.kestrelReplay = { run, ready: false };

const replayBox = () => run(scriptBox.value);

async function replayFile(file) {
  if (!file) return;
  scriptBox.value = await file.text();
  replayBox();
}

document.getElementById('replay').addEventListener('click', replayBox);
document.getElementById('file').addEventListener('change', event => replayFile(event.target.files[0]));
document.addEventListener('dragover', event => {
  event.preventDefault();
  document.body.classList.add('dropping');
});
document.addEventListener('dragleave', () => document.body.classList.remove('dropping'));
document.addEventListener('drop', event => {
  event.preventDefault();
  document.body.classList.remove('dropping');
  replayFile(event.dataTransfer.files[0]);
});

replayBox();
window.kestrelReplay.ready = true;
