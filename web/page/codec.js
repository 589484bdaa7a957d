// The page's side of the worker protocol (see worker.js). One request runs at a time; a new
// worker replaces the old one when a request is cancelled or the module breaks, and the opened
// picture is sent to it again so that the page never notices.
export class Codec {
  constructor(onProgress) {
    this.onProgress = onProgress;
    this.nextId = 1;
    this.pending = null;   // {id, resolve}
    this.reopen = null;    // the last successful open request, replayed into a new worker
    this.start();
  }

  start() {
    this.worker = new Worker('worker.js');
    this.worker.onmessage = (event) => this.receive(event.data);
    // A worker that dies (for example out of memory while growing) reports here, not by message.
    this.worker.onerror = (event) => {
      event.preventDefault();
      this.fail(`the codec stopped: ${event.message || 'unknown error'}`);
    };
  }

  receive(message) {
    if (!this.pending || message.id !== this.pending.id) return;
    if (message.progress) {
      this.onProgress(message.progress);
      return;
    }
    const { resolve } = this.pending;
    this.pending = null;
    if (message.fatal) this.restart();
    resolve(message);
  }

  // Only a failed request restarts the worker, so a worker that cannot even load (a missing
  // .wasm) reports once instead of restarting forever.
  fail(text) {
    const pending = this.pending;
    if (!pending) return;
    this.pending = null;
    this.restart();
    pending.resolve({ ok: false, message: text });
  }

  restart() {
    this.worker.terminate();
    this.start();
    // Id 0 is never pending: the reply is dropped, and the worker's queue runs it first.
    if (this.reopen) this.worker.postMessage({ ...this.reopen, id: 0 });
  }

  post(request, resolve) {
    const id = this.nextId++;
    this.pending = { id, resolve };
    this.worker.postMessage({ ...request, id });
  }

  // Resolves with the worker's reply; {ok: false, cancelled: true} when cancel() came first.
  request(op, fields = {}) {
    if (this.pending) this.cancel();
    const request = { op, ...fields };
    return new Promise((resolve) => {
      this.post(request, (reply) => {
        if (reply.ok && (op === 'openFile' || op === 'openBitmap')) this.reopen = request;
        resolve(reply);
      });
    });
  }

  cancel() {
    const pending = this.pending;
    if (!pending) return;
    this.pending = null;
    this.restart();
    pending.resolve({ ok: false, cancelled: true, message: 'cancelled' });
  }

  get busy() {
    return this.pending !== null;
  }
}
