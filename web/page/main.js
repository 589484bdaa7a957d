// SPDX-License-Identifier: BSD-2-Clause
// The page: opening files, each side's settings, re-encoding after a pause, figures and downloads.
// The right side always shows a result; the left shows the original or a second result with its
// own settings. The form shows the settings of the side chosen above the quality slider.
import { Codec } from './codec.js';
import { CompareView } from './view.js';

const kSettleMs = 300;   // pause after the last settings change before re-encoding
const LEFT = 0;
const RIGHT = 1;
const kSideNames = ['left', 'right'];

const $ = (id) => document.getElementById(id);

// The library's ranges and defaults (the worker's "about" reply).
let limits = null;

function newSettings() {
  return {
    quality: limits.defaultQuality, type: 0, optimizer: 0, aim: 'quality', targetKb: 50, targetDb: 35,
    levels: limits.defaultLevels, custom: false, quantY: '', quantI: '', quantQ: '', thresholds: '',
    dropped: [0, 0, 0], comment: '',
  };
}

const state = {
  file: null,        // {name, size, notice}
  picture: null,     // the open reply: {width, height, grey, info?}
  original: null,    // ImageBitmap
  active: RIGHT,     // the side the form shows
  sides: [],         // {compressed, settings, result, stale, timer, generation}
};

// --- progress and messages ---------------------------------------------------------------------

const codec = new Codec((progress) => {
  const texts = {
    encode: () => `Compressing: step ${progress.done} of ${progress.total}`,
    search: () => `Looking for the quality: trial ${progress.done}`,
    decode: () => `Checking the result: ${Math.round((100 * progress.done) / progress.total)} %`,
  };
  $('progress').max = Math.max(1, progress.total);
  $('progress').value = progress.total ? progress.done : 0;
  $('progress-text').textContent = (texts[progress.stage] || (() => ''))();
});

const view = new CompareView($('frame'), $('view'), $('divider'), (percent) => {
  $('zoom-level').value = `${percent}%`;
});

function showError(text) {
  $('error-text').textContent = text;
  $('error').hidden = !text;
}

// The open file's notices stay while it is open; a note about the last action ("Cancelled.")
// replaces them until the next action.
function showNotice(text) {
  $('notice').textContent = text;
  $('notice').hidden = !text;
}

// Counts the moments the page falls idle (nothing running, nothing waiting for its pause), so
// that a script driving the page can wait for the work an action started.
function finished() {
  if (running > 0 || state.sides.some((side) => side.timer)) return;
  document.body.dataset.done = String(Number(document.body.dataset.done || 0) + 1);
}

// Runs one worker request with the progress row shown until every request has ended.
let running = 0;
async function run(op, fields, text) {
  running++;
  $('progress-row').hidden = false;
  $('progress-text').textContent = text;
  $('progress').removeAttribute('value');
  const reply = await codec.request(op, fields);
  if (--running === 0) $('progress-row').hidden = true;
  return reply;
}

// --- figures and labels ------------------------------------------------------------------------

function bytesText(bytes) {
  if (bytes < 1000) return `${bytes} B`;
  if (bytes < 1e6) return `${(bytes / 1e3).toFixed(1)} kB`;
  return `${(bytes / 1e6).toFixed(2)} MB`;
}

const fixed = (value, digits) => (Number.isFinite(value) ? value.toFixed(digits) : value === Infinity ? '∞' : '–');

// What a result was made with, for its label.
function describe(settings, result) {
  if (result.note) return result.note;
  if (settings.custom) return 'advanced settings';
  return `quality ${result.quality}` + (settings.optimizer > 0 ? `, optimizer ${settings.optimizer}` : '');
}

function showFigures() {
  const picture = state.picture;
  $('fig-input').textContent = picture
    ? `Input: ${state.file.name}, ${picture.width} × ${picture.height} ${picture.grey ? 'grey' : 'colour'}, ${bytesText(state.file.size)}`
    : 'Input: –';
  for (const [index, prefix] of [[LEFT, 'fig-left-'], [RIGHT, 'fig-']]) {
    const side = state.sides[index];
    const r = side.result;
    const pixels = picture ? picture.width * picture.height : 0;
    const text = r ? {
      size: bytesText(r.cod.length),
      saving: `${fixed(100 * (1 - r.cod.length / state.file.size), 1)} %`,
      bpp: fixed((8 * r.cod.length) / pixels, 3),
      psnr: `${fixed(r.psnrRgb, 2)} dB`,
      ssim: fixed(r.ssim, 4),
    } : {};
    for (const key of ['size', 'saving', 'bpp', 'psnr', 'ssim']) $(prefix + key).textContent = text[key] || '–';
    $(`${prefix}saving`).title = r ? `${fixed(state.file.size / r.cod.length, 1)} : 1 against the input file` : '';
    $(`${prefix}psnr`).title = r ? `over luma: ${fixed(r.psnrY, 2)} dB` : '';
    $(`row-${kSideNames[index]}`).classList.toggle('stale', side.stale);
  }
  $('row-left').hidden = !state.sides[LEFT].compressed;
}

function showPictures() {
  const [left, right] = state.sides;
  if (!state.original) return;
  const leftPicture = left.compressed ? left.result?.bitmap : state.original;
  view.setSides(leftPicture || state.original, right.result?.bitmap || null);
  const label = (side, fallback) => {
    const element = $(`label-${side === left ? 'left' : 'right'}`);
    const text = side.result ? `${side === left ? 'Left' : 'Right'}, ${side.result.label}` : fallback;
    element.textContent = side.stale ? `${text} (out of date)` : text;
    element.classList.toggle('stale', side.stale);
    element.hidden = !right.result;
  };
  label(left, 'Original');
  label(right, 'Result');
}

function showDownloads() {
  const side = state.sides[state.active];
  const fresh = Boolean(side.result) && !side.stale;
  $('download-heading').textContent = `Download the ${kSideNames[state.active]} side`;
  $('save-cod').disabled = !(side.compressed && fresh);
  $('save-png').disabled = $('save-bmp').disabled = !state.picture || (side.compressed && !fresh);
  $('compress').disabled = !state.picture;
}

function refresh() {
  showPictures();
  showFigures();
  showDownloads();
}

// --- the form ------------------------------------------------------------------------------------

// Fields of a side's settings and the form element each lives in.
const kFields = {
  quality: 'quality', type: 'type', optimizer: 'optimizer', aim: 'aim', targetKb: 'target-size',
  targetDb: 'target-psnr', levels: 'levels', quantY: 'quant-y', quantI: 'quant-i', quantQ: 'quant-q',
  thresholds: 'thresholds', comment: 'comment',
};
// The glue's names for the fields it checks.
const kProblemFields = {
  quality: 'quality', type: 'type', optimizer: 'optimizer', levels: 'levels', quantY: 'quant-y', quantI: 'quant-i',
  quantQ: 'quant-q', thresholds: 'thresholds', dropped: 'dropped', comment: 'comment', targetSize: 'target-size',
  targetPsnr: 'target-psnr',
};
const kAdvanced = ['levels', 'quant-y', 'quant-i', 'quant-q', 'thresholds', 'dropped', 'comment'];

function active() {
  return state.sides[state.active];
}

// Shows the active side's settings in the form.
function loadForm() {
  const side = active();
  const s = side.settings;
  for (const [key, id] of Object.entries(kFields)) $(id).value = String(s[key]);
  [$('dropped-y').value, $('dropped-i').value, $('dropped-q').value] = s.dropped.map(String);
  $('quality-value').textContent = String(s.quality);
  $('side-left').checked = state.active === LEFT;
  $('side-right').checked = state.active === RIGHT;
  $('left-mode').hidden = state.active !== LEFT;
  $('left-mode').value = state.sides[LEFT].compressed ? 'compressed' : 'original';
  const off = !side.compressed;
  $('quality').disabled = off || s.aim !== 'quality';
  $('side-settings').disabled = off;
  $('quality-label').textContent = off ? 'Quality (the left side shows the original)'
    : s.aim !== 'quality' ? 'Quality (the target chooses it)' : 'Quality';
  $('target-size-row').hidden = s.aim !== 'size';
  $('target-psnr-row').hidden = s.aim !== 'psnr';
  markProblem(side.problem);
  showDownloads();
}

// Marks the field a refused setting is in, with its message beside it; null clears every mark.
function markProblem(problem) {
  for (const id of Object.values(kProblemFields)) {
    const field = $(id);
    const message = $(`${id}-error`);
    const wrong = Boolean(problem) && kProblemFields[problem.field] === id;
    if (field.tagName !== 'FIELDSET') field.setAttribute('aria-invalid', String(wrong));
    if (message) {
      message.hidden = !wrong;
      message.textContent = wrong ? problem.message : '';
    }
    if (wrong && kAdvanced.includes(id)) $('advanced').open = true;
  }
  for (const id of ['dropped-y', 'dropped-i', 'dropped-q']) {
    $(id).setAttribute('aria-invalid', String(Boolean(problem) && problem.field === 'dropped'));
  }
}

// The settings as the glue takes them; quality, type and levels alone until an advanced field is
// edited, as `varnic-cli compress -q Q --type T --levels L` has them.
function wire(s) {
  const out = { quality: s.quality, type: s.type, optimizer: s.optimizer };
  if (s.levels !== limits.defaultLevels || s.custom) out.levels = s.levels;
  if (s.custom) {
    Object.assign(out, { quantY: s.quantY, quantI: s.quantI, quantQ: s.quantQ, thresholds: s.thresholds, dropped: s.dropped });
  }
  if (s.comment) out.comment = s.comment;
  if (s.aim === 'size') out.targetSize = Math.round(s.targetKb * 1000);
  if (s.aim === 'psnr') out.targetPsnr = s.targetDb;
  return out;
}

// The advanced fields as quality, type and levels derive them, unless the side's own numbers
// were typed there.
async function derive() {
  const side = active();
  const s = side.settings;
  const reply = await codec.request('derive', { quality: s.quality, type: s.type, levels: s.levels });
  if (!reply.ok) return;
  $('type-hint').hidden = reply.typeMatters;
  if (s.custom) return;
  Object.assign(s, {
    quantY: reply.quantY.join(' '), quantI: reply.quantI.join(' '), quantQ: reply.quantQ.join(' '),
    thresholds: reply.thresholds.join(' '), dropped: reply.dropped,
  });
  if (side === active()) loadForm();
}

// --- compressing ---------------------------------------------------------------------------------

async function compress(index) {
  const side = state.sides[index];
  clearTimeout(side.timer);
  side.timer = 0;
  if (!state.picture || !side.compressed) return finished();
  // A running encode of this side has the old settings.
  codec.cancel((op, fields) => op === 'encode' && fields.side === index);
  const generation = ++side.generation;
  const settings = structuredClone(side.settings);
  const reply = await run('encode', { side: index, settings: wire(settings) }, 'Compressing…');
  if (generation !== side.generation) {
    reply.bitmap?.close();
    return finished();
  }
  if (reply.ok) {
    side.result?.bitmap?.close?.();
    side.result = { ...reply, label: describe(settings, reply) };
    // Seconds in the codec: the encode (every trial of a search) and the decode that checks it.
    Object.assign($('timing').dataset, { encodeSeconds: reply.encodeSeconds, checkSeconds: reply.decodeSeconds });
    $('timing').textContent = `The ${kSideNames[index]} side took ${reply.encodeSeconds.toFixed(2)} s to compress ` +
      `and ${reply.decodeSeconds.toFixed(2)} s to decode and compare.`;
    side.stale = false;
    side.problem = null;
    if (!$('error').hidden && !state.sides.some((s) => s.problem)) showError('');
    if (settings.aim !== 'quality') {
      // The quality the search picked is the one the slider shows.
      side.settings.quality = reply.quality;
      if (state.active === index) loadForm();
    }
  } else {
    side.stale = Boolean(side.result);
    if (!reply.cancelled) {
      side.problem = reply.field ? { field: reply.field, message: reply.message } : null;
      showError(reply.message);
    }
  }
  if (state.active === index) markProblem(side.problem);
  refresh();
  finished();
}

// Every change waits for a pause, so that dragging the slider does not queue one encode per step.
function schedule(index = state.active) {
  const side = state.sides[index];
  clearTimeout(side.timer);
  side.timer = 0;
  if (!state.picture || !side.compressed) return finished();
  side.timer = setTimeout(() => compress(index), kSettleMs);
}

// A setting of the active side changed; `rederive` when quality, type or levels changed.
function changed(update, { rederive = false } = {}) {
  const side = active();
  const before = JSON.stringify(side.settings);
  update(side.settings);
  if (JSON.stringify(side.settings) === before) return finished();
  showNotice(state.file?.notice || '');
  if (rederive) {
    if (side.settings.custom) {
      side.settings.custom = false;
      showNotice(`Advanced settings derived again from quality ${side.settings.quality}.`);
    }
    derive();
  }
  $('quality-value').textContent = String(side.settings.quality);
  schedule();
}

// --- opening -------------------------------------------------------------------------------------

function startsWith(bytes, ...values) {
  return values.every((v, i) => v === null || bytes[i] === v);
}

// PNG goes to the page's own reader; JPEG and WebP to the browser's decoder; the rest (BMP,
// Targa, PNM, .cod) to the library's readers.
function kindOf(bytes) {
  if (startsWith(bytes, 0x89, 0x50, 0x4e, 0x47)) return 'png';
  if (startsWith(bytes, 0xff, 0xd8, 0xff)) return 'jpeg';
  if (startsWith(bytes, 0x52, 0x49, 0x46, 0x46, null, null, null, null, 0x57, 0x45, 0x42, 0x50)) return 'webp';
  return null;
}

async function openFile(file) {
  // Everything running or waiting belongs to the picture being replaced.
  for (const side of state.sides) {
    clearTimeout(side.timer);
    side.timer = 0;
    side.generation++;
  }
  codec.cancel();
  showError('');
  showNotice('');
  if (file.size === 0) {
    showError(`${file.name}: the file is empty`);
    return finished();
  }
  const kind = kindOf(new Uint8Array(await file.slice(0, 16).arrayBuffer()));
  const reply = await run('open', { file, name: file.name, kind }, 'Reading…');
  if (!reply.ok) {
    // The previous picture stays, and so does its name.
    if (!reply.cancelled) showError(`${file.name}: ${reply.message}`);
    return finished();
  }
  state.file = { name: file.name, size: file.size, notice: reply.notices.length ? `${file.name}: ${reply.notices.join('; ')}.` : '' };
  state.picture = reply;
  state.original = reply.bitmap;
  $('file-name').textContent = file.name;
  $('empty').hidden = true;
  for (const side of state.sides) {
    side.result?.bitmap?.close?.();
    side.result = null;
    side.stale = false;
  }
  view.setPicture(reply.bitmap);
  showNotice(state.file.notice);
  refresh();
  if (reply.info) {
    // A .cod file is shown as it decodes; compressing it again is one click or setting away.
    const info = reply.info;
    $('fig-input').textContent += `, format ${info.version}, ${info.levels} levels` + (info.comment ? `, comment: ${info.comment}` : '');
    return finished();
  }
  await Promise.all(state.sides.map((side, index) => (side.compressed ? compress(index) : null)));
}

// --- downloads -------------------------------------------------------------------------------------

function download(blob, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 10000);
}

// The active side's picture: its result, or the original.
function downloadName(extension) {
  const base = state.file.name.replace(/\.[^.]*$/, '') || 'picture';
  return `${base}${state.active === LEFT ? '-left' : ''}.${extension}`;
}

async function save(op, extension) {
  const side = active();
  const reply = await run(op, side.compressed ? { cod: side.result.cod } : {}, 'Writing…');
  if (reply.ok) download(reply.blob, downloadName(extension));
  else if (!reply.cancelled) showError(reply.message);
  finished();
}

// --- wiring --------------------------------------------------------------------------------------

function wire_() {
  $('file').addEventListener('change', () => {
    if ($('file').files.length) openFile($('file').files[0]);
    $('file').value = '';
  });
  let depth = 0;
  document.addEventListener('dragenter', (event) => { event.preventDefault(); depth++; $('drop-overlay').hidden = false; });
  document.addEventListener('dragleave', () => { if (--depth <= 0) { depth = 0; $('drop-overlay').hidden = true; } });
  document.addEventListener('dragover', (event) => event.preventDefault());
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    depth = 0;
    $('drop-overlay').hidden = true;
    if (event.dataTransfer.files.length) openFile(event.dataTransfer.files[0]);
  });

  $('cancel').addEventListener('click', () => {
    codec.cancel();
    showNotice('Cancelled.');
  });
  $('error-close').addEventListener('click', () => showError(''));

  for (const radio of [$('side-left'), $('side-right')]) {
    radio.addEventListener('change', () => {
      state.active = Number(radio.value);
      loadForm();
      derive();
    });
  }
  $('left-mode').addEventListener('change', () => {
    const left = state.sides[LEFT];
    left.compressed = $('left-mode').value === 'compressed';
    if (!left.compressed) {
      left.result?.bitmap?.close?.();
      left.result = null;
      left.stale = false;
      left.problem = null;
    }
    loadForm();
    refresh();
    schedule(LEFT);
  });

  // The slider re-encodes after a pause; every other field when its value is committed (a change
  // event: Enter, leaving the field, or a choice made), never at every key.
  $('quality').addEventListener('input', () => changed((s) => { s.quality = Number($('quality').value); }, { rederive: true }));
  $('type').addEventListener('change', () => changed((s) => { s.type = Number($('type').value); }, { rederive: true }));
  $('levels').addEventListener('change', () => changed((s) => { s.levels = Number($('levels').value); }, { rederive: !active().settings.custom }));
  $('optimizer').addEventListener('change', () => changed((s) => { s.optimizer = Number($('optimizer').value); }));
  $('aim').addEventListener('change', () => {
    changed((s) => { s.aim = $('aim').value; });
    loadForm();
  });
  $('target-size').addEventListener('change', () => changed((s) => { s.targetKb = Number($('target-size').value); }));
  $('target-psnr').addEventListener('change', () => changed((s) => { s.targetDb = Number($('target-psnr').value); }));
  $('comment').addEventListener('change', () => changed((s) => { s.comment = $('comment').value; }));
  const typed = { 'quant-y': 'quantY', 'quant-i': 'quantI', 'quant-q': 'quantQ', thresholds: 'thresholds' };
  for (const [id, key] of Object.entries(typed)) {
    $(id).addEventListener('change', () => changed((s) => { s[key] = $(id).value; s.custom = true; }));
  }
  for (const [c, id] of ['dropped-y', 'dropped-i', 'dropped-q'].entries()) {
    $(id).addEventListener('change', () => changed((s) => {
      s.dropped = [...s.dropped];
      s.dropped[c] = $(id).value === '' ? NaN : Number($(id).value);
      s.custom = true;
    }));
  }
  $('rederive').addEventListener('click', () => {
    active().settings.custom = false;
    derive();
    schedule();
  });
  $('compress').addEventListener('click', () => {
    showNotice(state.file?.notice || '');
    for (const [index, side] of state.sides.entries()) if (side.compressed) compress(index);
  });
  $('save-cod').addEventListener('click', () => download(new Blob([active().result.cod], { type: 'application/octet-stream' }), downloadName('cod')));
  $('save-png').addEventListener('click', () => save('png', 'png'));
  $('save-bmp').addEventListener('click', () => save('bitmap', 'bmp'));
  $('zoom-in').addEventListener('click', () => view.zoomStep(1));
  $('zoom-out').addEventListener('click', () => view.zoomStep(-1));
  $('zoom-actual').addEventListener('click', () => view.actualSize());
  $('zoom-fit').addEventListener('click', () => view.fit());
}

async function start() {
  const about = await codec.request('about');
  if (!about.ok) {
    showError(`The codec did not start: ${about.message}`);
    return;
  }
  limits = about;
  state.sides = [0, 1].map((index) => ({
    compressed: index === RIGHT, settings: newSettings(), result: null, stale: false, problem: null, timer: 0, generation: 0,
  }));
  $('quality').min = String(about.minQuality);
  $('quality').max = String(about.maxQuality);
  $('levels').min = String(about.minLevels);
  $('levels').max = String(about.maxLevels);
  for (let level = 0; level <= about.maxOptimizer; level++) {
    $('optimizer').add(new Option(level === 0 ? '0 (none)' : String(level), String(level)));
  }
  $('optimizer-row').hidden = about.maxOptimizer === 0;
  for (const id of ['dropped-y', 'dropped-i', 'dropped-q']) $(id).max = String(about.maxLevels - 1);
  const megapixels = (about.maxPixels / 1e6).toFixed(1);
  const side = Math.floor(Math.sqrt(about.maxPixels));
  $('empty').textContent += ` Pictures of up to ${megapixels} megapixels (${side} × ${side}).`;
  $('version').textContent = `varnic ${about.version} in WebAssembly, ${about.threads === 1 ? 'one thread' : `${about.threads} threads`}`;
  wire_();
  loadForm();
  await derive();
  document.body.dataset.ready = 'true';
}

start();
