// SPDX-License-Identifier: BSD-2-Clause
// The picture frame: one canvas that shows the original, or the original left of a draggable
// divider and the result right of it, under one zoom and pan so that both sides stay aligned.
// Zoomed in, pixels are drawn as nearest-neighbour blocks; zoomed out, smoothed.

const kMinScale = 1 / 64;
const kMaxScale = 64;
const kZoomStep = 1.25;      // per wheel notch
// The buttons step through these scales (device pixels per picture pixel): whole numbers when
// zoomed in, so that every picture pixel becomes an equal block.
const kZoomLevels = [1 / 64, 1 / 32, 1 / 16, 1 / 8, 1 / 4, 1 / 3, 1 / 2, 2 / 3, 1, 2, 3, 4, 6, 8, 12, 16, 24, 32, 48, 64];
const kPanStep = 40;          // CSS pixels per arrow key press
const kDividerGrab = 12;      // CSS pixels either side of the divider that start a divider drag

function pictureCanvas(picture) {
  const canvas = document.createElement('canvas');
  canvas.width = picture.width;
  canvas.height = picture.height;
  const data = new ImageData(new Uint8ClampedArray(picture.rgba.buffer), picture.width, picture.height);
  canvas.getContext('2d').putImageData(data, 0, 0);
  return canvas;
}

export class CompareView {
  constructor(frame, canvas, handle, onChange) {
    this.frame = frame;
    this.canvas = canvas;
    this.handle = handle;
    this.onChange = onChange;  // called with the scale after every zoom
    this.original = null;
    this.result = null;
    this.scale = 1;            // CSS pixels per picture pixel
    this.x = 0;                // CSS position of the picture's top-left corner in the frame
    this.y = 0;
    this.divider = 0.5;        // fraction of the frame's width
    this.fitting = true;       // keep fitting the picture when the frame is resized
    this.drag = null;
    new ResizeObserver(() => this.resize()).observe(frame);
    this.listen();
  }

  setOriginal(picture) {
    this.original = pictureCanvas(picture);
    this.result = null;
    this.divider = 0.5;
    this.fit();
  }

  // null shows the original alone.
  setResult(picture) {
    this.result = picture ? pictureCanvas(picture) : null;
    this.draw();
  }

  get width() { return this.frame.clientWidth; }
  get height() { return this.frame.clientHeight; }

  resize() {
    const ratio = window.devicePixelRatio || 1;
    this.canvas.width = Math.round(this.width * ratio);
    this.canvas.height = Math.round(this.height * ratio);
    if (this.fitting) this.fit(); else this.draw();
  }

  fit() {
    this.fitting = true;
    if (!this.original) return this.draw();
    const scale = Math.min(this.width / this.original.width, this.height / this.original.height);
    // A picture that fits is shown at 1:1, never blown up to fill the frame.
    this.zoomTo(Math.min(1, scale), null, true);
  }

  actualSize() {
    this.fitting = false;
    this.zoomTo(1 / (window.devicePixelRatio || 1), null, true);
  }

  // The next button level above (direction 1) or below (-1) the present scale.
  zoomStep(direction) {
    const ratio = window.devicePixelRatio || 1;
    const now = this.scale * ratio;
    const levels = direction > 0 ? kZoomLevels : [...kZoomLevels].reverse();
    const next = levels.find((level) => (direction > 0 ? level > now * 1.001 : level < now / 1.001));
    if (next === undefined) return;
    this.fitting = false;
    this.zoomTo(next / ratio, null, false);
  }

  zoomBy(factor, at = null) {
    this.fitting = false;
    this.zoomTo(this.scale * factor, at, false);
  }

  // Zooms keeping the picture point under `at` (frame CSS coordinates) in place, or centres it.
  zoomTo(scale, at, centre) {
    if (!this.original) return;
    scale = Math.min(kMaxScale, Math.max(kMinScale, scale));
    if (centre) {
      this.x = (this.width - this.original.width * scale) / 2;
      this.y = (this.height - this.original.height * scale) / 2;
    } else {
      const p = at || { x: this.width / 2, y: this.height / 2 };
      this.x = p.x - (p.x - this.x) * (scale / this.scale);
      this.y = p.y - (p.y - this.y) * (scale / this.scale);
    }
    this.scale = scale;
    this.draw();
    this.onChange(scale);
  }

  panBy(dx, dy) {
    this.fitting = false;
    this.x += dx;
    this.y += dy;
    this.draw();
  }

  setDivider(fraction) {
    this.divider = Math.min(1, Math.max(0, fraction));
    this.draw();
  }

  draw() {
    const ratio = window.devicePixelRatio || 1;
    const context = this.canvas.getContext('2d');
    context.setTransform(1, 0, 0, 1, 0, 0);
    context.clearRect(0, 0, this.canvas.width, this.canvas.height);
    const comparing = this.original && this.result;
    this.handle.hidden = !comparing;
    if (!this.original) return;
    // The drawn geometry in device pixels, for anyone checking what is on the canvas.
    Object.assign(this.canvas.dataset, {
      scale: this.scale * ratio, x: Math.round(this.x * ratio), y: Math.round(this.y * ratio),
      split: comparing ? Math.round(this.divider * this.canvas.width) : '',
    });
    const scale = this.scale * ratio;
    context.imageSmoothingEnabled = scale < 1;
    // Whole device pixels, so that 1:1 shows every picture pixel exactly once.
    const x = Math.round(this.x * ratio);
    const y = Math.round(this.y * ratio);
    const w = this.original.width * scale;
    const h = this.original.height * scale;
    if (!comparing) {
      context.drawImage(this.original, x, y, w, h);
      return;
    }
    const split = Math.round(this.divider * this.canvas.width);
    for (const [picture, from, to] of [[this.original, 0, split], [this.result, split, this.canvas.width]]) {
      context.save();
      context.beginPath();
      context.rect(from, 0, to - from, this.canvas.height);
      context.clip();
      context.drawImage(picture, x, y, w, h);
      context.restore();
    }
    context.fillStyle = '#fff';
    context.fillRect(split - Math.round(ratio), 0, Math.max(1, Math.round(2 * ratio)), this.canvas.height);
    this.handle.style.left = `${this.divider * 100}%`;
    this.handle.setAttribute('aria-valuenow', String(Math.round(this.divider * 100)));
  }

  point(event) {
    const box = this.frame.getBoundingClientRect();
    return { x: event.clientX - box.left, y: event.clientY - box.top };
  }

  listen() {
    this.canvas.addEventListener('wheel', (event) => {
      event.preventDefault();
      this.zoomBy(Math.pow(kZoomStep, -Math.sign(event.deltaY)), this.point(event));
    }, { passive: false });
    this.frame.addEventListener('pointerdown', (event) => {
      const p = this.point(event);
      const onDivider = this.result && Math.abs(p.x - this.divider * this.width) <= kDividerGrab;
      this.drag = { divider: onDivider, x: p.x, y: p.y };
      this.frame.setPointerCapture(event.pointerId);
    });
    this.frame.addEventListener('pointermove', (event) => {
      if (!this.drag) return;
      const p = this.point(event);
      if (this.drag.divider) this.setDivider(p.x / this.width);
      else this.panBy(p.x - this.drag.x, p.y - this.drag.y);
      this.drag.x = p.x;
      this.drag.y = p.y;
    });
    const end = () => { this.drag = null; };
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
      const step = { ArrowLeft: -0.02, ArrowRight: 0.02, PageDown: -0.1, PageUp: 0.1 }[event.key];
      if (step === undefined) return;
      event.preventDefault();
      this.setDivider(this.divider + step);
    });
  }
}
