// SPDX-License-Identifier: BSD-2-Clause
// The page: opening files, the settings, re-encoding after a pause, figures and downloads.
import { Codec } from './codec.js';
import { CompareView } from './view.js';

// wasm32 addresses 4 GiB, and an encode holds the picture several times over (samples, planes,
// the decoded result, RGBA copies for the canvas): 64 megapixels (8192 x 8192) stay well inside.
const kMaxPixels = 1 << 26;
const kSettleMs = 300;   // pause after the last settings change before re-encoding
const kDefaultLevels = 5;

const $ = (id) => document.getElementById(id);

const state = {
  name: '',            // opened file's name without extension
  original: null,      // {width, height, rgba}
  result: null,        // the last encode reply
  custom: false,       // the advanced fields were edited
  timer: 0,
};

const stageNames = { encode: 'Compressing plane', decode: 'Decoding', compare: 'Comparing' };
const codec = new Codec((progress) => {
  $('progress').max = Math.max(1, progress.total);
  $('progress').value = progress.done;
  $('progress-text').textContent = progress.stage === 'compare'
    ? stageNames.compare : `${stageNames[progress.stage]} ${progress.done} of ${progress.total}`;
});

const view = new CompareView($('frame'), $('view'), $('divider'), (scale) => {
  $('zoom-level').value = `${Math.round(scale * (window.devicePixelRatio || 1) * 100)}%`;
});

function showError(text) {
  $('error').textContent = text;
  $('error').hidden = !text;
}

function showNotice(text) {
  $('notice').textContent = text;
  $('notice').hidden = !text;
}

// Counts finished operations (an open with its first encode, an encode, a failure), so that a
// script driving the page can wait for the next one.
function finished() {
  document.body.dataset.done = String(Number(document.body.dataset.done || 0) + 1);
}

function busy(text) {
  $('progress-row').hidden = !text;
  $('progress-text').textContent = text || '';
  $('progress').value = 0;
}

// Runs one worker request with the progress row shown until every such request has ended;
// null when it failed or was cancelled.
let running = 0;
async function run(op, fields, text) {
  running++;
  busy(text);
  const reply = await codec.request(op, fields);
  if (--running === 0) busy('');
  if (reply.cancelled) return null;
  if (!reply.ok) {
    showError(reply.message);
    return null;
  }
  return reply;
}

// --- figures ---------------------------------------------------------------------------------

const number = (value, digits) => (Number.isFinite(value) ? value.toFixed(digits) : value === Infinity ? '∞' : '–');

function bytesText(bytes) {
  return bytes < 10000 ? `${bytes} bytes` : `${(bytes / 1024).toFixed(1)} KiB`;
}

function showFigures(result) {
  const pixels = state.original.width * state.original.height;
  const text = result ? {
    'fig-size': bytesText(result.cod.length),
    'fig-bpp': number((result.cod.length * 8) / pixels, 3),
    'fig-ratio': `${number(result.ratio, 1)} : 1`,
    'fig-psnr-rgb': `${number(result.psnrRgb, 2)} dB`,
    'fig-psnr-y': `${number(result.psnrY, 2)} dB`,
    'fig-ssim': number(result.ssim, 4),
  } : {};
  for (const id of ['fig-size', 'fig-bpp', 'fig-ratio', 'fig-psnr-rgb', 'fig-psnr-y', 'fig-ssim']) {
    $(id).textContent = text[id] || '–';
  }
}

function showResult(result) {
  state.result = result;
  view.setResult(result);
  $('label-left').hidden = $('label-right').hidden = !result;
  $('label-right').textContent = result ? `Result, quality ${$('quality').value}` : 'Result';
  $('save-cod').disabled = !result;
  showFigures(result);
}

// --- settings --------------------------------------------------------------------------------

const advancedIds = ['quant-y', 'quant-i', 'quant-q', 'thresholds', 'dropped-y', 'dropped-i', 'dropped-q'];

function levels() {
  const value = Number($('levels').value);
  return Number.isInteger(value) ? value : kDefaultLevels;
}

async function derive() {
  const reply = await codec.request('derive', {
    quality: Number($('quality').value), type: Number($('type').value), levels: levels(),
  });
  // Out-of-range levels are left to the encoder's validator, which says what is wrong.
  if (!reply.ok || state.custom) return;
  $('quant-y').value = reply.quantY.join(' ');
  $('quant-i').value = reply.quantI.join(' ');
  $('quant-q').value = reply.quantQ.join(' ');
  $('thresholds').value = reply.thresholds.join(' ');
  [$('dropped-y').value, $('dropped-i').value, $('dropped-q').value] = reply.dropped;
}

// Until a field is edited only quality, type and levels are sent, as `varnic-cli compress -q Q
// --type T --levels L` has them; the encoder derives the rest itself, so a derive still on its
// way to the panel cannot leave stale numbers in the file.
function settings() {
  const out = { quality: Number($('quality').value), type: Number($('type').value), optimiser: null };
  if (!$('optimiser-row').hidden) out.optimiser = Number($('optimiser').value);
  if (!state.custom && levels() !== kDefaultLevels) out.full = { levels: levels() };
  if (state.custom) {
    out.full = {
      levels: Number($('levels').value),
      quantY: $('quant-y').value, quantI: $('quant-i').value, quantQ: $('quant-q').value,
      thresholds: $('thresholds').value,
      dropped: [$('dropped-y').value, $('dropped-i').value, $('dropped-q').value].map(Number),
    };
  }
  return out;
}

async function compress() {
  clearTimeout(state.timer);
  if (!state.original) return;
  codec.cancel('encode');  // a running encode has the old settings
  showError('');
  const reply = await run('encode', { settings: settings() }, 'Compressing…');
  if (reply) showResult(reply);
  finished();
}

// Every change waits for a pause, so dragging the slider does not queue one encode per step.
function settingsChanged() {
  $('quality-value').value = $('quality').value;
  clearTimeout(state.timer);
  if (state.original) state.timer = setTimeout(compress, kSettleMs);
}

// --- opening ---------------------------------------------------------------------------------

function startsWith(bytes, ...values) {
  return values.every((v, i) => v === null || bytes[i] === v);
}

// Formats the browser decodes for us; ours (BMP, Targa, PNM, .cod) go to the worker as bytes.
function browserKind(bytes) {
  if (startsWith(bytes, 0x89, 0x50, 0x4e, 0x47)) return 'png';
  if (startsWith(bytes, 0xff, 0xd8, 0xff)) return 'jpeg';
  if (startsWith(bytes, 0x52, 0x49, 0x46, 0x46, null, null, null, null, 0x57, 0x45, 0x42, 0x50)) return 'webp';
  return null;
}

// The size from the header, before anything is decoded, so a huge picture is refused cheaply.
function headerSize(file) {
  return new Promise((resolve, reject) => {
    const image = new Image();
    const url = URL.createObjectURL(file);
    image.onload = () => { URL.revokeObjectURL(url); resolve({ width: image.naturalWidth, height: image.naturalHeight }); };
    image.onerror = () => { URL.revokeObjectURL(url); reject(new Error('the browser cannot decode this picture')); };
    image.src = url;
  });
}

async function openWithBrowser(file, bytes) {
  const size = await headerSize(file);
  if (size.width * size.height > kMaxPixels) {
    throw new Error(`the picture has ${size.width * size.height} pixels, more than the limit of ${kMaxPixels}`);
  }
  const bitmap = await createImageBitmap(file, { colorSpaceConversion: 'none', premultiplyAlpha: 'none' });
  // PNG colour types 0 and 4 are grey: kept as one channel, as the command-line tool reads them.
  const grey = browserKind(bytes) === 'png' && (bytes[25] === 0 || bytes[25] === 4);
  return run('openBitmap', { bitmap, width: bitmap.width, height: bitmap.height, grey, maxPixels: kMaxPixels },
    'Reading…');
}

async function openFile(file) {
  clearTimeout(state.timer);
  codec.cancel('encode');
  showError('');
  showNotice('');
  $('file-name').textContent = file.name;
  let reply;
  try {
    const bytes = new Uint8Array(await file.arrayBuffer());
    reply = browserKind(bytes)
      ? await openWithBrowser(file, bytes)
      : await run('openFile', { bytes: bytes.buffer, name: file.name, maxPixels: kMaxPixels }, 'Reading…');
  } catch (error) {
    busy('');
    showError(`${file.name}: ${error.message}`);
    finished();
    return;
  }
  if (!reply) {
    $('error').textContent = `${file.name}: ${$('error').textContent}`;
    finished();
    return;
  }
  state.name = file.name.replace(/\.[^.]*$/, '') || 'picture';
  state.original = reply;
  $('empty').hidden = true;
  view.setOriginal(reply);
  showResult(null);
  $('compress').disabled = $('save-png').disabled = $('save-bmp').disabled = false;
  showNotice(reply.notices.join('; '));
  const kind = reply.grey ? 'grey' : 'colour';
  if (reply.info) {
    // A .cod file is shown as it decodes; compressing it again is one click or setting away.
    const info = reply.info;
    $('file-info').textContent = `${reply.width} × ${reply.height} ${kind}, format ${info.version}, ` +
      `${info.levels} levels, ${bytesText(info.fileBytes)}, ${number(info.ratio, 1)} : 1` +
      (info.comment ? `, comment: ${info.comment}` : '');
    finished();
  } else {
    $('file-info').textContent = `${reply.width} × ${reply.height} ${kind}`;
    await compress();
  }
}

// --- downloads -------------------------------------------------------------------------------

function download(blob, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 10000);
}

// The result when there is one, else the opened picture.
function shownPicture() {
  return state.result || state.original;
}

function savePng() {
  const picture = shownPicture();
  const canvas = document.createElement('canvas');
  canvas.width = picture.width;
  canvas.height = picture.height;
  canvas.getContext('2d').putImageData(
    new ImageData(new Uint8ClampedArray(picture.rgba.buffer), picture.width, picture.height), 0, 0);
  canvas.toBlob((blob) => download(blob, `${state.name}.png`), 'image/png');
}

async function saveBmp() {
  const reply = await run('bitmap', { result: Boolean(state.result) }, 'Writing bitmap…');
  if (reply) download(new Blob([reply.bytes], { type: 'image/bmp' }), `${state.name}.bmp`);
}

// --- wiring ----------------------------------------------------------------------------------

function wire() {
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

  $('cancel').addEventListener('click', () => { codec.cancel(); busy(''); showNotice('Cancelled.'); });
  $('quality').addEventListener('input', () => { derive(); settingsChanged(); });
  $('type').addEventListener('change', () => { derive(); settingsChanged(); });
  $('levels').addEventListener('change', () => { derive(); settingsChanged(); });
  $('optimiser').addEventListener('change', settingsChanged);
  for (const id of advancedIds) {
    $(id).addEventListener('input', () => { state.custom = true; settingsChanged(); });
  }
  $('rederive').addEventListener('click', () => { state.custom = false; derive(); settingsChanged(); });
  $('compress').addEventListener('click', compress);
  $('save-cod').addEventListener('click', () => {
    download(new Blob([state.result.cod], { type: 'application/octet-stream' }), `${state.name}.cod`);
  });
  $('save-png').addEventListener('click', savePng);
  $('save-bmp').addEventListener('click', saveBmp);
  $('zoom-in').addEventListener('click', () => view.zoomStep(1));
  $('zoom-out').addEventListener('click', () => view.zoomStep(-1));
  $('zoom-actual').addEventListener('click', () => view.actualSize());
  $('zoom-fit').addEventListener('click', () => view.fit());
}

async function start() {
  wire();
  const about = await codec.request('about');
  if (!about.ok) {
    showError(`The codec did not start: ${about.message}`);
    return;
  }
  $('version').textContent = `varnic ${about.version}, in WebAssembly`;
  if (about.optimiserLevels > 0) {
    for (let level = 0; level <= about.optimiserLevels; level++) $('optimiser').add(new Option(String(level), String(level)));
    $('optimiser-row').hidden = false;
  }
  await derive();
  document.body.dataset.ready = 'true';
}

start();
