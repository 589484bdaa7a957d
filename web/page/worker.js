// SPDX-License-Identifier: BSD-2-Clause
// The codec's thread. Requests arrive one at a time as {id, op, ...}; each gets one reply
// {id, ok, ...} and, while it runs, any number of {id, progress: {stage, done, total}}. Pictures
// go back as ImageBitmaps painted strip by strip, so that neither thread holds a second copy.
// Cancelling is done by the page terminating this worker, so nothing here needs to poll.
'use strict';

// Threads need memory shared between workers, which browsers give only to a page served
// cross-origin isolated (COOP and COEP headers); elsewhere the codec runs on this thread alone.
const kThreaded = self.crossOriginIsolated === true;
const kScript = kThreaded ? 'varnic-threads.js' : 'varnic.js';
importScripts(kScript);
// The library's worker threads load the same script (the pool is started with the module).
const ready = createVarnicModule({ mainScriptUrlOrBlob: kScript });
const kThreads = kThreaded ? Math.min(navigator.hardwareConcurrency || 1, 16) : 1;
let session = null;

// --- pictures out ------------------------------------------------------------------------------

// A canvas the glue paints strips of RGBA on, made at the first strip; `bitmap()` hands the
// picture over.
function painter() {
  let canvas = null;
  let context = null;
  return {
    paint: (top, rows, rgba, width, height) => {
      if (!canvas) {
        canvas = new OffscreenCanvas(width, height);
        context = canvas.getContext('2d', { colorSpace: 'srgb' });
      }
      // A copy: the strip lies in the module's memory, which ImageData may not hold on to.
      context.putImageData(new ImageData(new Uint8ClampedArray(rgba), width, rows), 0, top);
    },
    bitmap: () => canvas.transferToImageBitmap(),
    blob: () => canvas.convertToBlob({ type: 'image/png' }),
  };
}

// --- pictures in -------------------------------------------------------------------------------

// Sides and channels from a JPEG's frame header or a WebP's first chunk, before anything is
// decoded, so that a huge picture is refused cheaply. null when the header cannot be found.
function headerFacts(kind, bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  if (kind === 'jpeg') {
    for (let at = 2; at + 9 < bytes.length;) {
      if (bytes[at] !== 0xff) return null;
      const marker = bytes[at + 1];
      if (marker === 0xff) { at++; continue; }
      const length = view.getUint16(at + 2);
      // Start of frame: every SOFn but DHT (C4), JPG (C8) and DAC (CC).
      if (marker >= 0xc0 && marker <= 0xcf && marker !== 0xc4 && marker !== 0xc8 && marker !== 0xcc) {
        return { height: view.getUint16(at + 5), width: view.getUint16(at + 7), grey: bytes[at + 9] === 1 };
      }
      at += 2 + length;
    }
    return null;
  }
  const type = String.fromCharCode(...bytes.subarray(12, 16));
  if (type === 'VP8 ' && bytes.length >= 30) return { width: view.getUint16(26, true) & 0x3fff, height: view.getUint16(28, true) & 0x3fff };
  if (type === 'VP8L' && bytes.length >= 25) {
    const bits = view.getUint32(21, true);
    return { width: (bits & 0x3fff) + 1, height: ((bits >>> 14) & 0x3fff) + 1 };
  }
  if (type === 'VP8X' && bytes.length >= 30) {
    const u24 = (at) => bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16;
    return { width: u24(24) + 1, height: u24(27) + 1 };
  }
  return null;
}

// Straight (not premultiplied) RGBA rows of a decoded bitmap, strip by strip. WebGL hands a
// texture's samples back as they are; a 2D canvas stores them premultiplied, which changes the
// colour of pixels that are partly transparent, so it is the fallback only.
function pixelReader(bitmap, stripRows) {
  const { width } = bitmap;
  const gl = new OffscreenCanvas(1, 1).getContext('webgl2', { premultipliedAlpha: false });
  if (gl && width <= gl.getParameter(gl.MAX_TEXTURE_SIZE)) {
    const texture = gl.createTexture();
    gl.bindTexture(gl.TEXTURE_2D, texture);
    gl.pixelStorei(gl.UNPACK_PREMULTIPLY_ALPHA_WEBGL, false);
    gl.pixelStorei(gl.UNPACK_FLIP_Y_WEBGL, false);
    const framebuffer = gl.createFramebuffer();
    return (top, rows, out) => {
      gl.bindTexture(gl.TEXTURE_2D, texture);
      gl.pixelStorei(gl.UNPACK_SKIP_ROWS, top);
      gl.texImage2D(gl.TEXTURE_2D, 0, gl.RGBA8, width, rows, 0, gl.RGBA, gl.UNSIGNED_BYTE, bitmap);
      gl.bindFramebuffer(gl.FRAMEBUFFER, framebuffer);
      gl.framebufferTexture2D(gl.FRAMEBUFFER, gl.COLOR_ATTACHMENT0, gl.TEXTURE_2D, texture, 0);
      gl.readPixels(0, 0, width, rows, gl.RGBA, gl.UNSIGNED_BYTE, out);
    };
  }
  const context = new OffscreenCanvas(width, stripRows).getContext('2d', { willReadFrequently: true, colorSpace: 'srgb' });
  return (top, rows, out) => {
    context.clearRect(0, 0, width, rows);
    context.drawImage(bitmap, 0, top, width, rows, 0, 0, width, rows);
    out.set(context.getImageData(0, 0, width, rows).data);
  };
}

// Inflated through the browser's DecompressionStream, piece by piece into `take(piece)`.
async function inflate(pieces, take) {
  const queue = [...pieces];
  const source = new ReadableStream({
    pull(controller) {
      if (queue.length) controller.enqueue(queue.shift()); else controller.close();
    },
  });
  const reader = source.pipeThrough(new DecompressionStream('deflate')).getReader();
  for (;;) {
    const { value, done } = await reader.read();
    if (done) return;
    take(value);
  }
}

// The inflated ICC profile of a PNG's iCCP chunk (a name, a NUL, a method byte, then the data).
async function pngProfile(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  for (let at = 8; at + 12 <= bytes.length;) {
    const length = view.getUint32(at);
    const type = String.fromCharCode(...bytes.subarray(at + 4, at + 8));
    if (type === 'iCCP') {
      const data = bytes.subarray(at + 8, at + 8 + length);
      const start = data.indexOf(0) + 2;
      const parts = [];
      try {
        await inflate([data.subarray(start)], (piece) => parts.push(piece));
      } catch {
        return null;  // a damaged profile: the notice names none
      }
      return new Uint8Array(await new Blob(parts).arrayBuffer());
    }
    if (type === 'IDAT') return null;
    at += 12 + length;
  }
  return null;
}

// JPEG, WebP and colour-tagged PNG: the browser decodes and converts the colours to sRGB (and
// turns JPEG and PNG pictures as their EXIF orientation says); the glue blends, turns what the
// browser did not, and gives the tool's notices.
async function openWithBrowser(module, request, bytes, grey = false) {
  const facts = request.kind === 'png' ? null : headerFacts(request.kind, bytes);
  if (facts && facts.width * facts.height > module.Session.about().maxPixels) {
    return { ok: false, message: module.Session.limitMessage(facts.width, facts.height) };
  }
  let bitmap;
  try {
    bitmap = await createImageBitmap(new Blob([bytes]), {
      imageOrientation: 'from-image', colorSpaceConversion: 'default', premultiplyAlpha: 'none',
    });
  } catch {
    return { ok: false, message: `the browser cannot decode this ${request.kind.toUpperCase()} picture` };
  }
  const profile = request.kind === 'png' ? await pngProfile(bytes) : null;
  if (profile) session.profile(profile.length).set(profile);
  session.input(bytes.length).set(bytes);
  const { width, height } = bitmap;
  const begun = session.rgbaBegin(width, height, grey || Boolean(facts && facts.grey), request.kind);
  if (!begun.ok) return begun;
  const stripRows = Math.max(1, Math.min(height, Math.floor((4 << 20) / (4 * width))));
  const read = pixelReader(bitmap, stripRows);
  for (let top = 0; top < height; top += stripRows) {
    const rows = Math.min(stripRows, height - top);
    read(top, rows, session.rgbaBuffer(rows));
    const put = session.rgbaPut(top, rows);
    if (!put.ok) return put;
  }
  bitmap.close();
  const out = painter();
  const reply = session.rgbaFinish(out.paint);
  if (reply.ok) reply.bitmap = out.bitmap();
  return reply;
}

// PNG through the page's own reader: exactly the tool's pixels. The compressed data are
// inflated by the browser and fed in as they come.
async function openPng(module, request, bytes) {
  session.input(bytes.length).set(bytes);
  const begun = session.pngBegin();
  if (!begun.ok) return begun;
  if (begun.colourTagged) return openWithBrowser(module, request, bytes, begun.grey);
  let fed = { ok: true };
  try {
    await inflate(begun.data.map(([offset, length]) => bytes.subarray(offset, offset + length)), (piece) => {
      if (!fed.ok) return;
      session.pngBuffer(piece.length).set(piece);
      fed = session.pngFeed(piece.length);
    });
  } catch {
    // Missing rows are reported by pngFinish; damaged data end the stream here.
  }
  if (!fed.ok) return fed;
  const out = painter();
  const reply = session.pngFinish(out.paint);
  if (reply.ok) reply.bitmap = out.bitmap();
  return reply;
}

// --- requests ----------------------------------------------------------------------------------

function progressOf(request) {
  return (stage, done, total) => postMessage({ id: request.id, progress: { stage, done, total } });
}

async function blobOfPieces(write) {
  const pieces = [];
  const reply = write((piece) => pieces.push(piece));
  if (reply.ok) reply.blob = new Blob(pieces, { type: 'image/bmp' });
  return reply;
}

const handlers = {
  async about(module) {
    return { ...module.Session.about(), threads: kThreads };
  },
  async open(module, request) {
    const bytes = new Uint8Array(await request.file.arrayBuffer());
    if (request.kind === 'png') return openPng(module, request, bytes);
    if (request.kind) return openWithBrowser(module, request, bytes);
    session.input(bytes.length).set(bytes);
    const out = painter();
    const reply = session.openFile(request.name, out.paint);
    if (reply.ok) reply.bitmap = out.bitmap();
    return reply;
  },
  async encode(module, request) {
    const out = painter();
    const reply = session.encode({ ...request.settings, threads: kThreads }, progressOf(request), out.paint);
    if (reply.ok) reply.bitmap = out.bitmap();
    return reply;
  },
  async check(module, request) {
    return module.Session.check(request.settings);
  },
  async derive(module, request) {
    return module.Session.derive(request.quality, request.type, request.levels);
  },
  async png(module, request) {
    const out = painter();
    let reply;
    if (request.cod) {
      session.input(request.cod.length).set(request.cod);
      reply = session.paintFile(out.paint);
    } else {
      reply = session.paintSource(out.paint);
    }
    if (reply.ok) reply.blob = await out.blob();
    return reply;
  },
  async bitmap(module, request) {
    if (!request.cod) return blobOfPieces((write) => session.bitmapSource(write));
    session.input(request.cod.length).set(request.cod);
    return blobOfPieces((write) => session.bitmapFile(write));
  },
};

// Transferred, not copied: buffers and bitmaps in a reply.
function transferables(reply) {
  return Object.values(reply).flatMap((v) => {
    if (v instanceof Uint8Array) return [v.buffer];
    if (typeof ImageBitmap !== 'undefined' && v instanceof ImageBitmap) return [v];
    return [];
  });
}

let queue = Promise.resolve();
onmessage = (event) => {
  const request = event.data;
  queue = queue.then(async () => {
    let reply;
    try {
      const module = await ready;
      session = session || new module.Session();
      reply = await handlers[request.op](module, request);
    } catch (error) {
      // The module may be left broken (an abort, a failed growth): the page starts a new worker.
      reply = { ok: false, fatal: true, message: `the codec stopped (${error && error.message ? error.message : error})` };
    }
    reply.id = request.id;
    postMessage(reply, transferables(reply));
  });
};
