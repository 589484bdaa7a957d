// SPDX-License-Identifier: BSD-2-Clause
// The page's side of the worker protocol (see worker.js). Requests run one at a time in the order
// they were made. Cancelling replaces the worker with a new one; the opened picture is sent to it
// again only when a request needs it, so that opening another file right away costs nothing more.
const kNeedsPicture = new Set(['encode', 'png', 'bitmap']);

export class Codec {
  constructor(onProgress) {
    this.onProgress = onProgress;
    this.nextId = 1;
    this.pending = null;   // the running request: {id, op, fields, resolve}
    this.tail = Promise.resolve();
    this.picture = null;   // the last successful open request's fields
    this.hasPicture = false;  // the present worker has it
    this.start();
  }

  start() {
    this.worker = new Worker('worker.js');
    this.worker.onmessage = (event) => this.receive(event.data);
    // A worker that dies (out of memory while growing, a failed load) reports here, not by message.
    this.worker.onerror = (event) => {
      event.preventDefault();
      this.stop({ ok: false, message: `the codec stopped (${event.message || 'it could not start'})` });
    };
    this.hasPicture = false;
  }

  receive(message) {
    if (!this.pending || message.id !== this.pending.id) return;
    if (message.progress) {
      this.onProgress(message.progress);
      return;
    }
    if (message.fatal) {
      this.stop(message);
      return;
    }
    const { resolve } = this.pending;
    this.pending = null;
    resolve(message);
  }

  // Ends the running request with `reply` and starts a new worker. Without a running request
  // nothing restarts, so a worker that cannot even load reports once instead of looping.
  stop(reply) {
    const pending = this.pending;
    if (!pending) return;
    this.pending = null;
    this.worker.terminate();
    this.start();
    pending.resolve(reply);
  }

  send(op, fields) {
    return new Promise((resolve) => {
      const id = this.nextId++;
      this.pending = { id, op, fields, resolve };
      this.worker.postMessage({ ...fields, op, id });
    });
  }

  // Resolves with the worker's reply; {ok: false, cancelled: true} when cancelled while running.
  request(op, fields = {}) {
    const reply = this.tail.then(async () => {
      if (kNeedsPicture.has(op) && !this.hasPicture && this.picture) {
        const reopened = await this.send('open', this.picture);
        if (!reopened.ok) return reopened;
        reopened.bitmap?.close();
        this.hasPicture = true;
      }
      const message = await this.send(op, fields);
      // A refused file leaves the worker's picture as it was.
      if (op === 'open' && message.ok) {
        this.hasPicture = true;
        this.picture = fields;
      }
      return message;
    });
    this.tail = reply;
    return reply;
  }

  // Cancels the running request when `which(op, fields)` says so (any request by default).
  cancel(which = () => true) {
    if (this.pending && which(this.pending.op, this.pending.fields)) {
      this.stop({ ok: false, cancelled: true, message: 'cancelled' });
    }
  }

  get busy() {
    return this.pending !== null;
  }
}
