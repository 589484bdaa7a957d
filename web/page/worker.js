// SPDX-License-Identifier: BSD-2-Clause
// The codec's thread. Requests arrive one at a time as {id, op, ...}; each gets one reply
// {id, ok, ...} and, while it runs, any number of {id, progress: {stage, done, total}}.
// Cancelling is done by the page terminating this worker, so nothing here needs to poll.
'use strict';
importScripts('varnic.js');

const ready = createVarnicModule();
let session = null;

// Pixels the browser decodes itself (PNG, JPEG, WebP): drawn on an OffscreenCanvas as they are,
// without colour management, as a file reader would give them.
async function browserPixels(bitmap) {
  const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
  const context = canvas.getContext('2d', { willReadFrequently: true });
  context.drawImage(bitmap, 0, 0);
  bitmap.close();
  return context.getImageData(0, 0, canvas.width, canvas.height).data;
}

const handlers = {
  async openFile(module, request) {
    return session.openFile(new Uint8Array(request.bytes), request.name, request.maxPixels);
  },
  async openBitmap(module, request) {
    const rgba = await browserPixels(request.bitmap);
    return session.openRgba(rgba, request.width, request.height, request.grey, request.maxPixels);
  },
  async encode(module, request) {
    const progress = (stage, done, total) => postMessage({ id: request.id, progress: { stage, done, total } });
    return session.encode(request.settings, progress);
  },
  async derive(module, request) {
    return module.Session.derive(request.quality, request.type, request.levels);
  },
  async bitmap(module, request) {
    return session.bitmap(request.result);
  },
  async about(module) {
    return { ok: true, version: module.version(), optimiserLevels: module.Session.optimiserLevels() };
  },
};

// Buffers in a reply are transferred, not copied.
function transferables(reply) {
  return Object.values(reply).filter((v) => v instanceof Uint8Array).map((v) => v.buffer);
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
      reply = { ok: false, fatal: true, message: `internal error: ${error && error.message ? error.message : error}` };
    }
    reply.id = request.id;
    postMessage(reply, transferables(reply));
  });
};
