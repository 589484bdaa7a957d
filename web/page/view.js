// SPDX-License-Identifier: BSD-2-Clause
// The picture frame: one canvas that shows one picture, or two left and right of a draggable
// divider, under one zoom and pan so that both sides stay aligned. Zoomed in, every picture pixel
// is a whole number of device pixels drawn as an even block; zoomed out, pictures are smoothed.
// Zoom percentages count CSS pixels, as the browser's own zoom does: 100 % is one picture pixel
// per CSS pixel (per device pixel rounded, so that blocks stay even on fractional screens).

// Device pixels per picture pixel the buttons and the wheel step through.
const kZoomLevels = [1 / 64, 1 / 48, 1 / 32, 1 / 24, 1 / 16, 1 / 12, 1 / 8, 1 / 6, 1 / 4, 1 / 3, 1 / 2, 2 / 3,
  1, 2, 3, 4, 6, 8, 12, 16, 24, 32, 48, 64];
const kPanStep = 40;          // CSS pixels per arrow key press
const kDividerGrab = 12;      // CSS pixels either side of the divider that start a divider drag
const kDividerStep = 0.02;    // of the frame's width per arrow key press; ten times that per page key

export class CompareView {
  constructor(frame, canvas, handle, onChange) {
    this.frame = frame;
    this.canvas = canvas;
    this.handle = handle;
    this.onChange = onChange;  // called with the zoom in CSS percent after every zoom
    this.left = null;          // ImageBitmap or canvas
    this.right = null;         // null: the left picture alone
    this.width0 = 0;           // the pictures' size
    this.height0 = 0;
    this.scale = 1;            // device pixels per picture pixel
    this.x = 0;                // device position of the picture's top-left corner in the canvas
    this.y = 0;
    this.divider = 0.5;        // fraction of the frame's width
    this.fitting = true;       // keep fitting the picture when the frame is resized
    this.pointers = new Map(); // pointer id -> last position, while pressed
    this.drag = null;
    // The canvas gets exactly as many pixels as the screen gives it, so that the browser never
    // resamples it: a frame of fractional CSS size would blur every block by a pixel.
    new ResizeObserver((entries) => {
      const device = entries[0].devicePixelContentBoxSize?.[0];
      this.resize(device ? { width: device.inlineSize, height: device.blockSize } : null);
    }).observe(canvas, { box: 'device-pixel-content-box' });
    this.listen();
  }

  get ratio() { return window.devicePixelRatio || 1; }

  // A new picture on the left, alone: fitted, the divider centred.
  setPicture(picture) {
    this.left?.close?.();
    this.right?.close?.();
    this.left = picture;
    this.right = null;
    this.width0 = picture.width;
    this.height0 = picture.height;
    this.divider = 0.5;
    this.fit();
  }

  setSides(left, right) {
    this.left = left;
    this.right = right;
    this.draw();
  }

  resize(device) {
    this.canvas.width = device ? device.width : Math.round(this.canvas.clientWidth * this.ratio);
    this.canvas.height = device ? device.height : Math.round(this.canvas.clientHeight * this.ratio);
    if (this.fitting) this.fit(); else this.zoomTo(this.scale, null);
  }

  fit() {
    this.fitting = true;
    if (!this.left) return this.draw();
    const scale = Math.min(this.canvas.width / this.width0, this.canvas.height / this.height0);
    // A picture that fits is shown at 100 %, never blown up to fill the frame.
    this.zoomTo(Math.min(this.actual(), scale), null, true);
  }

  // 100 %: one picture pixel per CSS pixel, rounded to whole device pixels.
  actual() {
    return Math.max(1, Math.round(this.ratio));
  }

  actualSize() {
    this.fitting = false;
    this.zoomTo(this.actual(), null, true);
  }

  // The next level above (direction 1) or below (-1) the present scale, kept at `at`.
  zoomStep(direction, at = null) {
    const levels = direction > 0 ? kZoomLevels : [...kZoomLevels].reverse();
    const next = levels.find((level) => (direction > 0 ? level > this.scale * 1.001 : level < this.scale / 1.001));
    if (next === undefined) return;
    this.fitting = false;
    this.zoomTo(next, at);
  }

  // Zooms keeping the picture point under `at` (device pixels in the canvas) in place, or the
  // centre's, or centring the picture.
  zoomTo(scale, at, centre = false) {
    if (!this.left) return;
    if (centre) {
      this.x = (this.canvas.width - this.width0 * scale) / 2;
      this.y = (this.canvas.height - this.height0 * scale) / 2;
    } else {
      const p = at || { x: this.canvas.width / 2, y: this.canvas.height / 2 };
      this.x = p.x - (p.x - this.x) * (scale / this.scale);
      this.y = p.y - (p.y - this.y) * (scale / this.scale);
    }
    this.scale = scale;
    this.clamp();
    this.draw();
    this.onChange(Math.round((scale / this.ratio) * 100));
  }

  // A picture smaller than the frame stays inside it; a larger one keeps covering it, so that
  // panning never loses the picture.
  clamp() {
    for (const [axis, size, room] of [['x', this.width0 * this.scale, this.canvas.width], ['y', this.height0 * this.scale, this.canvas.height]]) {
      const [low, high] = size <= room ? [0, room - size] : [room - size, 0];
      this[axis] = Math.min(high, Math.max(low, this[axis]));
    }
  }

  panBy(dx, dy) {
    if (!this.left) return;
    this.fitting = false;
    this.x += dx * this.ratio;
    this.y += dy * this.ratio;
    this.clamp();
    this.draw();
  }

  setDivider(fraction) {
    this.divider = Math.min(1, Math.max(0, fraction));
    this.draw();
  }

  draw() {
    const context = this.canvas.getContext('2d');
    context.setTransform(1, 0, 0, 1, 0, 0);
    context.clearRect(0, 0, this.canvas.width, this.canvas.height);
    const comparing = Boolean(this.left && this.right);
    this.handle.hidden = !comparing;
    if (!this.left) return;
    // Whole device pixels, so that 100 % at 1:1 shows every picture pixel exactly once.
    const x = Math.round(this.x);
    const y = Math.round(this.y);
    const split = comparing ? Math.round(this.divider * this.canvas.width) : this.canvas.width;
    // The drawn geometry in device pixels, for anyone checking what is on the canvas.
    Object.assign(this.canvas.dataset, { scale: this.scale, x, y, split: comparing ? split : '' });
    context.imageSmoothingEnabled = this.scale < 1;
    const w = this.width0 * this.scale;
    const h = this.height0 * this.scale;
    for (const [picture, from, to] of [[this.left, 0, split], [this.right, split, this.canvas.width]]) {
      if (!picture || to <= from) continue;
      context.save();
      context.beginPath();
      context.rect(from, 0, to - from, this.canvas.height);
      context.clip();
      context.drawImage(picture, x, y, w, h);
      context.restore();
    }
    if (!comparing) return;
    context.fillStyle = '#fff';
    context.fillRect(split - Math.round(this.ratio), 0, Math.max(1, Math.round(2 * this.ratio)), this.canvas.height);
    this.handle.style.left = `${this.divider * 100}%`;
    this.handle.setAttribute('aria-valuenow', String(Math.round(this.divider * 100)));
  }

  // Device pixels in the canvas under a pointer or wheel event.
  point(event) {
    const box = this.frame.getBoundingClientRect();
    return { x: (event.clientX - box.left) * this.ratio, y: (event.clientY - box.top) * this.ratio };
  }

  listen() {
    // On the whole frame, divider and labels included: the wheel never scrolls the page here.
    this.frame.addEventListener('wheel', (event) => {
      if (!this.left) return;
      event.preventDefault();
      if (event.deltaY !== 0) this.zoomStep(-Math.sign(event.deltaY), this.point(event));
    }, { passive: false });

    this.frame.addEventListener('pointerdown', (event) => {
      if (!this.left || event.target.closest('.toolbar, .banner')) return;
      this.pointers.set(event.pointerId, this.point(event));
      this.frame.setPointerCapture(event.pointerId);
      const p = this.point(event);
      const onDivider = this.right && (event.target === this.handle ||
        Math.abs(p.x - this.divider * this.canvas.width) <= kDividerGrab * this.ratio);
      this.drag = this.pointers.size === 2 ? { pinch: this.pinch() } : { divider: onDivider };
    });
    this.frame.addEventListener('pointermove', (event) => {
      if (!this.pointers.has(event.pointerId)) return;
      const last = this.pointers.get(event.pointerId);
      const p = this.point(event);
      this.pointers.set(event.pointerId, p);
      if (this.drag?.pinch) {
        // Two fingers: the picture follows their middle and scales with their spread, freely
        // while they move and to the nearest whole step when they lift.
        const now = this.pinch();
        this.fitting = false;
        this.x += now.middle.x - this.drag.pinch.middle.x;
        this.y += now.middle.y - this.drag.pinch.middle.y;
        if (this.drag.pinch.spread > 0) this.zoomTo(this.scale * (now.spread / this.drag.pinch.spread), now.middle);
        this.drag.pinch = now;
      } else if (this.drag?.divider) {
        this.setDivider(p.x / this.canvas.width);
      } else if (this.drag) {
        this.panBy((p.x - last.x) / this.ratio, (p.y - last.y) / this.ratio);
      }
    });
    const end = (event) => {
      this.pointers.delete(event.pointerId);
      if (this.drag?.pinch && this.pointers.size < 2) {
        const nearest = kZoomLevels.reduce((a, b) => (Math.abs(Math.log(b / this.scale)) < Math.abs(Math.log(a / this.scale)) ? b : a));
        this.zoomTo(nearest, this.drag.pinch.middle);
      }
      if (this.pointers.size === 0) this.drag = null;
      else if (this.drag?.pinch) this.drag = {};
    };
    this.frame.addEventListener('pointerup', end);
    this.frame.addEventListener('pointercancel', end);

    this.canvas.addEventListener('keydown', (event) => {
      const actions = {
        ArrowLeft: () => this.panBy(kPanStep, 0),
        ArrowRight: () => this.panBy(-kPanStep, 0),
        ArrowUp: () => this.panBy(0, kPanStep),
        ArrowDown: () => this.panBy(0, -kPanStep),
        '+': () => this.zoomStep(1),
        '=': () => this.zoomStep(1),
        '-': () => this.zoomStep(-1),
        '1': () => this.actualSize(),
        f: () => this.fit(),
      };
      if (!actions[event.key]) return;
      event.preventDefault();
      actions[event.key]();
    });
    this.handle.addEventListener('keydown', (event) => {
      const to = {
        ArrowLeft: this.divider - kDividerStep, ArrowDown: this.divider - kDividerStep,
        ArrowRight: this.divider + kDividerStep, ArrowUp: this.divider + kDividerStep,
        PageDown: this.divider - 10 * kDividerStep, PageUp: this.divider + 10 * kDividerStep,
        Home: 0, End: 1,
      }[event.key];
      if (to === undefined) return;
      event.preventDefault();
      this.setDivider(to);
    });
  }

  // The middle of the two pressed pointers and their distance.
  pinch() {
    const [a, b] = [...this.pointers.values()];
    return { middle: { x: (a.x + b.x) / 2, y: (a.y + b.y) / 2 }, spread: Math.hypot(a.x - b.x, a.y - b.y) };
  }
}
