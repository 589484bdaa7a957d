// SPDX-License-Identifier: BSD-2-Clause
// The page's side of the worker protocol (see worker.js). Requests run one at a time in the order
// they were made. Cancelling replaces the worker with a new one, to which the opened picture is
// sent again first, so that the requests after it never notice.
export class Codec {
  constructor(onProgress) {
    this.onProgress = onProgress;
    this.nextId = 1;
    this.pending = null;   // the running request: {id, op, resolve}
    this.tail = Promise.resolve();
    this.reopen = null;    // the last successful open request
    this.start();
  }

  start() {
    this.worker = new Worker('worker.js');
    this.worker.onmessage = (event) => this.receive(event.data);
    // A worker that dies (out of memory while growing, a failed load) reports here, not by message.
    this.worker.onerror = (event) => {
      event.preventDefault();
      this.stop({ ok: false, message: `the codec stopped: ${event.message || 'unknown error'}` });
    };
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
    // Id 0 is never pending: its reply is dropped, and the worker runs it before anything else.
    if (this.reopen) this.worker.postMessage({ ...this.reopen, id: 0 });
    pending.resolve(reply);
  }

  // Resolves with the worker's reply; {ok: false, cancelled: true} when cancelled while running.
  request(op, fields = {}) {
    const request = { op, ...fields };
    const reply = this.tail.then(() => new Promise((resolve) => {
      const id = this.nextId++;
      this.pending = { id, op, resolve };
      this.worker.postMessage({ ...request, id });
    }));
    this.tail = reply;
    return reply.then((message) => {
      if (message.ok && (op === 'openFile' || op === 'openBitmap')) this.reopen = request;
      return message;
    });
  }

  // Cancels the running request, or only one of the operation `op` when given.
  cancel(op = null) {
    if (this.pending && (op === null || this.pending.op === op)) {
      this.stop({ ok: false, cancelled: true, message: 'cancelled' });
    }
  }

  get busy() {
    return this.pending !== null;
  }
}
