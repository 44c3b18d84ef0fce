// The game's picture on the canvas: the picture lives in the module's
// memory, and the canvas shows the rectangles the game changed; the canvas
// follows the window's size and the screen's density.

export class View {
  #image = null;  // an ImageData over the picture in the module's memory
  #words = null;  // the module's memory as 32-bit words, where the changed rectangles lie
  #resizes = null;
  #frozen = false;
  #roomSize = null;  // [width, height] of the room's field the canvas was last fitted to

  // `onHandOver` runs when a recording playing back has handed the battle over.
  constructor(game, canvas, onHandOver) {
    this.game = game;
    this.canvas = canvas;
    // The picture is opaque, and so is the canvas: the browser then copies
    // its changed part onto the screen rather than blending it with the
    // page behind it, which at a high density costs as much again.
    this.context = canvas.getContext('2d', { alpha: false });
    this.onHandOver = onHandOver;
  }

  // The picture as ImageData, remade when the module's memory grew or the
  // picture was resized (both move it).
  picture() {
    const { game } = this;
    const width = game.kestrel_device_width(), height = game.kestrel_device_height();
    const buffer = game.memory.buffer, at = game.kestrel_pixels();
    const image = this.#image;
    if (!image || image.data.buffer !== buffer || image.data.byteOffset !== at ||
        image.width !== width || image.height !== height) {
      this.#image = new ImageData(new Uint8ClampedArray(buffer, at, width * height * 4), width, height);
    }
    return this.#image;
  }

  // Shows what the game drew: only the rectangles it changed, or the whole
  // picture when its size changed (a recording playing back decides the
  // size until the battle is handed over; the canvas then shows it whole,
  // in proportion, within the window).
  showChanges() {
    const { game, canvas } = this;
    if (this.#roomSizeChanged()) this.fit(null);
    // A room's battle plays as a recording that never ends, in a box of its own.
    const playing = game.kestrel_playing_back() === 1 && game.kestrel_following() !== 1;
    if (playing) this.holdPictureSize();
    if (playing !== canvas.classList.contains('playing')) {
      canvas.classList.toggle('playing', playing);
      if (!playing) this.onHandOver();
    }
    if (canvas.width !== game.kestrel_device_width() || canvas.height !== game.kestrel_device_height()) {
      this.showWhole();
      return;
    }
    const count = game.kestrel_take_changes();
    if (count === 0) return;
    const rects = this.#memoryWords();
    const shown = this.picture();
    for (let i = game.kestrel_changes() >> 2, end = i + 4 * count; i < end; i += 4) {
      const left = rects[i], top = rects[i + 1];
      this.context.putImageData(shown, 0, 0, left, top, rects[i + 2] - left, rects[i + 3] - top);
    }
  }

  // Made again only when the memory grew: nothing is made anew each tick.
  #memoryWords() {
    const buffer = this.game.memory.buffer;
    if (this.#words?.buffer !== buffer) this.#words = new Int32Array(buffer);
    return this.#words;
  }

  showWhole() {
    const { game, canvas } = this;
    canvas.width = game.kestrel_device_width();
    canvas.height = game.kestrel_device_height();
    this.context.putImageData(this.picture(), 0, 0);
    game.kestrel_take_changes();
  }

  // The canvas's box in CSS pixels is the game's picture in canvas units:
  // the window's, but for a recording playing back and once the game has
  // ended.
  holdPictureSize() {
    const { game, canvas } = this;
    const width = `${game.kestrel_width()}px`, height = `${game.kestrel_height()}px`;
    if (canvas.style.getPropertyValue('--picture-width') !== width) canvas.style.setProperty('--picture-width', width);
    if (canvas.style.getPropertyValue('--picture-height') !== height) canvas.style.setProperty('--picture-height', height);
  }

  // The window's size in CSS pixels is the game's size in canvas units; the
  // backing store holds as many device pixels as the screen shows, measured
  // by the browser where it can (rounding CSS size times ratio may be a
  // pixel off, and the whole picture would then be resampled). While a
  // recording plays back the canvas is its size, and the window's is kept
  // for later.
  fit(deviceBox) {
    const { canvas } = this;
    if (this.#frozen) return;
    if (canvas.classList.contains('room')) return this.#fitRoom();
    const playing = canvas.classList.contains('playing');
    const width = playing ? innerWidth : canvas.clientWidth, height = playing ? innerHeight : canvas.clientHeight;
    const ratio = window.devicePixelRatio || 1;
    const near = (device, css) => Math.abs(device - css * ratio) <= 1;
    const measured = !playing && deviceBox && near(deviceBox.inlineSize, width) && near(deviceBox.blockSize, height);
    this.game.kestrel_resize(width, height, ratio,
                             measured ? deviceBox.inlineSize : Math.round(width * ratio),
                             measured ? deviceBox.blockSize : Math.round(height * ratio));
    this.showWhole();
  }

  // A room's field has the room's size, shown whole and as large as the
  // window lets it be: the picture is drawn at as many device pixels as
  // its box on the screen holds, so that it stays sharp at any scale.
  #fitRoom() {
    const { game, canvas } = this;
    const width = game.kestrel_width(), height = game.kestrel_height();
    const ratio = window.devicePixelRatio || 1;
    const scale = Math.min(innerWidth / width, roomHeight() / height);
    const deviceWidth = Math.max(1, Math.floor(width * scale * ratio));
    const pixelRatio = deviceWidth / width;
    game.kestrel_resize(innerWidth, innerHeight, pixelRatio, deviceWidth, Math.round(height * pixelRatio));
    // The box holds the picture's device pixels exactly, as the game made them.
    canvas.style.setProperty('--room-width', `${game.kestrel_device_width() / ratio}px`);
    canvas.style.setProperty('--room-height', `${game.kestrel_device_height() / ratio}px`);
    document.documentElement.style.setProperty('--room-bottom', `${game.kestrel_device_height() / ratio}px`);
    this.#roomSize = [width, height];
    this.showWhole();
  }

  // The game has begun or stopped following a room, or the room's field
  // has another size: the canvas is sized again.
  #roomSizeChanged() {
    if (this.#frozen) return false;
    const { game, canvas } = this;
    const following = game.kestrel_following() === 1;
    if (following !== canvas.classList.contains('room')) {
      canvas.classList.toggle('room', following);
      document.body.classList.toggle('room', following);
      return true;
    }
    const [width, height] = this.#roomSize ?? [];
    return following && (width !== game.kestrel_width() || height !== game.kestrel_height());
  }

  // Where a pointer event's point is, in canvas units; a room's field is
  // scaled on the screen.
  canvasPoint(clientX, clientY) {
    const { game, canvas } = this;
    const box = canvas.getBoundingClientRect();
    const [x, y] = [clientX - box.left, clientY - box.top];
    if (!canvas.classList.contains('room') || box.width === 0 || box.height === 0) return [x, y];
    return [x * game.kestrel_width() / box.width, y * game.kestrel_height() / box.height];
  }

  // The size the page would give a game of its own: the window's, in CSS
  // pixels.
  windowSize() {
    const { canvas } = this;
    const own = !['room', 'playing', 'ended'].some(name => canvas.classList.contains(name));
    return own ? [canvas.clientWidth, canvas.clientHeight] : [innerWidth, innerHeight];
  }

  // The size of a room that this page would show whole at one unit a CSS
  // pixel: the window's, less the seats' strip under the field.
  roomSize() {
    const [width] = this.windowSize();
    return [width, roomHeight()];
  }

  // Sized now, before the first tick lays out a battle; the observer may
  // report only later (a tab opened in the background, say). A room's box
  // is the page's own, so the window's size is followed too.
  followWindow() {
    window.addEventListener('resize', () => this.canvas.classList.contains('room') && this.fit(null));
    this.fit(null);
    this.#resizes = new ResizeObserver(entries => this.fit(entries[0].devicePixelContentBoxSize?.[0]));
    try {
      this.#resizes.observe(this.canvas, { box: 'device-pixel-content-box' });
    } catch {
      this.#resizes.observe(this.canvas);
    }
  }

  // The game has ended: the picture stays as it was, whatever the window
  // does next.
  freeze() {
    this.#frozen = true;
    this.#resizes?.disconnect();
    if (!this.canvas.classList.contains('room')) this.holdPictureSize();
    this.canvas.classList.add('ended');
  }
}

// The height a room's field may take: the window's, less the seats' strip
// under it (its height is the page's, in CSS pixels).
function roomHeight() {
  const strip = parseFloat(getComputedStyle(document.documentElement).getPropertyValue('--legend-height')) || 0;
  return Math.max(1, innerHeight - strip);
}
