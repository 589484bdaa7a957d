// SPDX-License-Identifier: BSD-2-Clause
// The page in headless Chromium, driven as a person would: files go in through the file input or
// a drop, settings and the divider are moved with the mouse, keys and fingers, downloads land in a
// folder. What it shows and saves is checked against varnic-cli on the same files, and every
// request is intercepted: one that leaves the page's own origin fails the run.
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, dirname, join, resolve } from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath, pathToFileURL } from 'node:url';

import { PNG } from 'pngjs';
import puppeteer from 'puppeteer-core';

import { bitmap, bitmapHeaderOnly, iccProfile, png, pngHeaderOnly } from './pictures.mjs';
import { serve } from './server.mjs';

const root = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
const site = join(resolve(root, process.env.WEB_BUILD || 'build-web'), 'page');
const cli = resolve(root, process.env.VARNIC_CLI || 'build/cli/varnic-cli');
const conformance = join(root, 'tests/data/conformance');
const shots = join(resolve(root, process.env.WEB_BUILD || 'build-web'), 'screenshots');
const work = mkdtempSync(join(tmpdir(), 'varnic-web-'));
const kTimeout = 180000;

let server;
let browser;
let page;
const outside = [];   // requests that tried to leave the page's origin
const seen = new Set();  // paths requested from the page's origin
const downloads = new Map();  // guid -> {name, state}

// Every request of the page and of its workers pauses here (the DevTools protocol's Fetch domain
// at the page, which also holds its workers' requests): the page's origin goes on, anything else
// fails and is recorded.
async function intercept(cdp, origin) {
  cdp.on('Fetch.requestPaused', ({ requestId, request }) => {
    if (request.url.startsWith(`${origin}/`) || request.url.startsWith('data:') || request.url.startsWith('blob:')) {
      seen.add(new URL(request.url).pathname);
      cdp.send('Fetch.continueRequest', { requestId });
    } else {
      outside.push(request.url);
      cdp.send('Fetch.failRequest', { requestId, errorReason: 'BlockedByClient' });
    }
  });
  await cdp.send('Fetch.enable', { patterns: [{ urlPattern: '*' }] });
}

// A tab on `url` with the page ready, its worker messages counted (window.sentOps) and downloads
// saved by guid in `work`.
async function openPage(url, viewport = { width: 1280, height: 800 }) {
  const tab = await browser.newPage();
  tab.on('pageerror', (error) => console.error(`page error: ${error.message}`));
  const cdp = await tab.createCDPSession();
  await intercept(cdp, new URL(url).origin);
  await tab.evaluateOnNewDocument(() => {
    const post = Worker.prototype.postMessage;
    window.sentOps = [];
    Worker.prototype.postMessage = function spy(message, transfer) {
      if (message && message.op) window.sentOps.push(message.op);
      return post.call(this, message, transfer);
    };
  });
  cdp.on('Browser.downloadWillBegin', (e) => downloads.set(e.guid, { name: e.suggestedFilename, state: 'started' }));
  cdp.on('Browser.downloadProgress', (e) => {
    if (downloads.has(e.guid)) downloads.get(e.guid).state = e.state;
  });
  await cdp.send('Browser.setDownloadBehavior', { behavior: 'allowAndName', downloadPath: work, eventsEnabled: true });
  await tab.setViewport(viewport);
  await tab.goto(url);
  await tab.waitForSelector('body[data-ready=true]', { timeout: kTimeout });
  return tab;
}

before(async () => {
  mkdirSync(shots, { recursive: true });
  server = await serve(site);
  browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    // Without the networking switches Chromium waits for services this closed network lacks.
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--force-color-profile=srgb',
      `--user-data-dir=${join(work, 'profile')}`],
  });
  page = await openPage(server.url);
});

after(async () => {
  await browser?.close();
  server?.close();
  rmSync(work, { recursive: true, force: true });
});

// --- helpers ---------------------------------------------------------------------------------

// Runs `action` and waits until the page has fallen idle again.
async function settle(action, tab = page) {
  const done = await tab.$eval('body', (b) => Number(b.dataset.done || 0));
  await action();
  await tab.waitForFunction((n) => Number(document.body.dataset.done || 0) > n &&
    document.getElementById('progress-row').hidden, { timeout: kTimeout }, done);
}

const text = (selector, tab = page) => tab.$eval(selector, (e) => (e.hidden ? '' : e.textContent));
const errorText = (tab = page) => text('#error-text', tab).then((t) => t);
const shownError = (tab = page) => tab.$eval('#error', (e) => (e.hidden ? '' : e.querySelector('#error-text').textContent));

async function open(path, tab = page) {
  const input = await tab.$('#file');
  await settle(() => input.uploadFile(path), tab);
  return shownError(tab);
}

// Sets a field as a person commits it: the value, then `event` ('change' for typed fields).
async function setValue(selector, value, event = 'change', tab = page) {
  await settle(() => tab.$eval(selector, (e, v, type) => {
    e.value = v;
    e.dispatchEvent(new Event(type, { bubbles: true }));
  }, String(value), event), tab);
}

async function download(button, name, tab = page) {
  downloads.clear();
  await tab.click(button);
  for (let waited = 0; ; waited += 50) {
    const [guid, entry] = [...downloads][0] || [];
    if (entry?.state === 'completed') {
      assert.equal(entry.name, name);
      return readFileSync(join(work, guid));
    }
    assert.ok(entry?.state !== 'canceled', `${name} was cancelled`);
    assert.ok(waited < 30000, `${name} was not downloaded`);
    await new Promise((r) => setTimeout(r, 50));
  }
}

function runCli(...args) {
  return execFileSync(cli, args).toString();
}

// A picture as RGB rows: decoded by varnic-cli to PNM, grey expanded.
function cliPixels(cod) {
  const out = join(work, 'cli.pnm');
  runCli('decompress', cod, '-o', out, '-f', '--quiet');
  const bytes = readFileSync(out);
  const header = bytes.toString('latin1', 0, 64).match(/^P([56])\s+(\d+)\s+(\d+)\s+255\s/);
  const [, kind, width, height] = header;
  const data = bytes.subarray(header[0].length);
  const rgb = kind === '6' ? data : Buffer.from([...data].flatMap((v) => [v, v, v]));
  return { width: Number(width), height: Number(height), rgb };
}

// The geometry the page says it drew the view canvas with, and the canvas's own pixels.
async function canvasState(withPixels = false) {
  return page.$eval('#view', (canvas, withPixels) => ({
    width: canvas.width, height: canvas.height,
    pixels: withPixels ? Array.from(canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data) : [],
    x: Number(canvas.dataset.x), y: Number(canvas.dataset.y),
    scale: Number(canvas.dataset.scale), split: Number(canvas.dataset.split),
  }), withPixels);
}

async function screenshot(name, element = '#view') {
  await (await page.$(element)).screenshot({ path: join(shots, name) });
}

// SSIM of the luma planes as scikit-image computes it with the usual Gaussian-window settings.
function referenceSsim(first, second) {
  const script = `
import sys, numpy, skimage.io
from skimage.metrics import structural_similarity
def luma(path):
    a = skimage.io.imread(path).astype(numpy.float64)
    return a if a.ndim == 2 else a[..., 0] * 0.299 + a[..., 1] * 0.587 + a[..., 2] * 0.114
print(structural_similarity(luma(sys.argv[1]), luma(sys.argv[2]), gaussian_weights=True, sigma=1.5,
                            use_sample_covariance=False, data_range=255))`;
  return Number(execFileSync('/usr/bin/python3', ['-c', script, first, second]).toString());
}

// A 24-bit bitmap file as RGB rows, top row first.
function bitmapPixels(path) {
  const bytes = readFileSync(path);
  const [offset, width, height] = [bytes.readUInt32LE(10), bytes.readInt32LE(18), bytes.readInt32LE(22)];
  const stride = (3 * width + 3) & ~3;
  const rgb = Buffer.alloc(3 * width * height);
  for (let y = 0; y < height; y++) {
    for (let x = 0; x < width; x++) {
      const from = offset + (height - 1 - y) * stride + 3 * x;
      rgb.set([bytes[from + 2], bytes[from + 1], bytes[from]], 3 * (y * width + x));
    }
  }
  return { width, height, rgb };
}

const rgbaAt = (data, width, x, y) => Array.from(data.slice(4 * (y * width + x), 4 * (y * width + x) + 3));
const rgbAt = (picture, x, y) => Array.from(picture.rgb.subarray(3 * (y * picture.width + x), 3 * (y * picture.width + x) + 3));
const inside = (box, viewport) => box.top >= 0 && box.left >= 0 && box.bottom <= viewport.height + 0.5 && box.right <= viewport.width + 0.5;

// --- test pictures ---------------------------------------------------------------------------

const astronaut = bitmapPixels(join(conformance, 'pics/astronaut_256x192.bmp'));
const pictures = join(work, 'pictures');
mkdirSync(pictures);
const picture = (name, bytes) => {
  writeFileSync(join(pictures, name), bytes);
  return join(pictures, name);
};
{
  const { width, height } = astronaut;
  const at = (x, y, c) => astronaut.rgb[3 * (y * width + x) + c];
  // Low bytes that are not copies of the high byte: rounding and truncating to 8 bits differ.
  const wide = (x, y, c) => at(x, y, c) * 256 + ((x * 37 + y * 11 + c * 101) & 0xff);
  picture('rgb8.png', png({ width, height, sample: at }));
  picture('grey8.png', png({ width, height, colourType: 0, sample: (x, y) => at(x, y, 1) }));
  picture('rgb16.png', png({ width, height, depth: 16, sample: wide, sbit: [12, 12, 12] }));
  picture('rgba16_adam7.png', png({ width, height, depth: 16, colourType: 6, interlace: true,
    sample: (x, y, c) => (c === 3 ? ((x * 613 + y * 997) & 0xffff) : wide(x, y, c)) }));
  picture('rgba8.png', png({ width, height, colourType: 6, sample: (x, y, c) => (c === 3 ? (x * 7 + y * 3) & 0xff : at(x, y, c)) }));
  picture('grey_alpha8.png', png({ width, height, colourType: 4, sample: (x, y, c) => (c === 1 ? (x ^ y) & 0xff : at(x, y, 0)) }));
  picture('grey2_key.png', png({ width, height, depth: 2, colourType: 0, trns: [0, 1], sample: (x, y) => at(x, y, 1) >> 6 }));
  picture('palette4_trns.png', png({ width, height, depth: 4, colourType: 3,
    palette: Array.from({ length: 16 }, (_, i) => [i * 17, 255 - i * 13, (i * 71) & 0xff]),
    trns: [0, 64, 128, 200], sample: (x, y) => at(x, y, 0) >> 4 }));
  picture('rgb16_key.png', png({ width, height, depth: 16, sample: (x, y, c) => ((x >> 4) & 1 ? 0x1234 : wide(x, y, c)),
    trns: [0x12, 0x34, 0x12, 0x34, 0x12, 0x34] }));
  // JPEG and WebP made by Pillow.
  execFileSync('/usr/bin/python3', ['-c', `
import sys
from PIL import Image
src = Image.open(sys.argv[1])
src.save(sys.argv[2] + '/photo.jpg', quality=90)
src.convert('L').save(sys.argv[2] + '/photo_grey.jpg', quality=90)
rgba = src.convert('RGBA')
rgba.putalpha(Image.linear_gradient('L').resize(src.size))
rgba.save(sys.argv[2] + '/alpha.webp', lossless=True)
`, join(conformance, 'pics/astronaut_256x192.bmp'), pictures]);
  // Photographs to turn (EXIF orientation) and to convert (a wide-gamut profile made here).
  const p3 = picture('p3.icc', iccProfile('Display P3 test', [[0.5151, 0.2412, -0.0011], [0.292, 0.6922, 0.0419], [0.1571, 0.0666, 0.7841]], 2.2));
  execFileSync('/usr/bin/python3', ['-c', `
import sys
from PIL import Image
src = Image.open(sys.argv[1]).crop((0, 0, 200, 120))
exif = Image.Exif()
for orientation, name in ((6, 'turned_p3.jpg'), (3, 'turned.webp'), (8, 'turned.png')):
    exif[0x0112] = orientation
    extra = dict(icc_profile=open(sys.argv[3], 'rb').read(), quality=92) if name.endswith('.jpg') else {}
    if name.endswith('.webp'):
        extra = dict(lossless=True)
    src.save(sys.argv[2] + '/' + name, exif=exif.tobytes(), **extra)
`, join(conformance, 'pics/astronaut_256x192.bmp'), pictures, p3]);
  // Targa and PNM as varnic-cli writes them.
  for (const name of ['astronaut.tga', 'astronaut.ppm', 'camera.pgm']) {
    const cod = join(conformance, 'cod', name.startsWith('camera') ? 'camera_q90.cod' : 'astronaut_q90.cod');
    runCli('decompress', cod, '-o', join(pictures, name), '-f', '--quiet');
  }
}

// --- tests -----------------------------------------------------------------------------------

describe('opening .cod files', () => {
  for (const name of ['astronaut_q50', 'astronaut_comment_v23', 'astronaut_comment_v24', 'camera_q10', 'odd_37x21_q50']) {
    test(`${name} shows exactly the decoder's pixels`, async () => {
      const cod = join(conformance, 'cod', `${name}.cod`);
      assert.equal(await open(cod), '');
      await page.click('#zoom-actual');
      const expected = cliPixels(cod);
      const drawn = await canvasState(true);
      assert.equal(drawn.scale, 1);
      let wrong = 0;
      for (let y = 0; y < expected.height; y++) {
        for (let x = 0; x < expected.width; x++) {
          if (rgbaAt(drawn.pixels, drawn.width, drawn.x + x, drawn.y + y).join() !== rgbAt(expected, x, y).join()) wrong++;
        }
      }
      assert.equal(wrong, 0, `${wrong} pixels differ from varnic-cli's`);
    });
  }
});

// Sets a side's settings the way the form takes them. The right side is chosen at the end.
async function configure({ quality = 50, type = 0, optimiser = 0, levels = 5, advanced, aim, target } = {}) {
  if (await page.$eval('#advanced', (e) => !e.open)) await page.click('#advanced summary');
  await settle(() => page.click('#rederive'));
  await setValue('#type', type);
  await setValue('#levels', levels);
  await setValue('#optimiser', optimiser);
  await setValue('#aim', aim || 'quality');
  if (aim) await setValue(aim === 'size' ? '#target-size' : '#target-psnr', target);
  else await setValue('#quality', quality, 'input');
  for (const [field, value] of Object.entries(advanced || {})) await setValue(field, value);
}

describe('compressing gives varnic-cli\'s bytes', () => {
  const astronautBmp = join(conformance, 'pics/astronaut_256x192.bmp');
  const cases = [
    // The page's own PNG reader against libpng's: every layout, the tool's rounding and blend.
    ...[['rgb8'], ['grey8'], ['rgb16', /12-bit samples reduced to 8 bits/], ['rgba16_adam7', /16-bit samples reduced to 8 bits; transparency removed/],
      ['rgba8', /transparency removed by blending over white/], ['grey_alpha8'], ['grey2_key'], ['palette4_trns', /colour palette expanded/],
      ['rgb16_key']].map(([name, notice]) => ({ picture: join(pictures, `${name}.png`), args: ['-q', '40'], settings: { quality: 40 }, notice })),
    // The browser's decoders against the tool's libjpeg-turbo and libwebp.
    ...['photo.jpg', 'photo_grey.jpg', 'alpha.webp'].map((name) => ({
      picture: join(pictures, name), args: ['-q', '60'], settings: { quality: 60 },
    })),
    { picture: join(pictures, 'astronaut.tga'), args: ['-q', '50'] },
    { picture: join(pictures, 'camera.pgm'), args: ['-q', '20', '--type', 'faces'], settings: { quality: 20, type: 2 } },
    { picture: join(pictures, 'astronaut.ppm'), args: ['-q', '70', '--type', 'landscape', '--levels', '3'],
      settings: { quality: 70, type: 1, levels: 3 } },
    { picture: astronautBmp, args: ['-q', '30', '--thresholds', '40 20 10 10 5 5', '--dropped', '1,0,0'],
      settings: { quality: 30, advanced: { '#thresholds': '40, 20,10 10 5 ,5', '#dropped-y': 1, '#dropped-i': 0, '#dropped-q': 0 } } },
    { picture: astronautBmp, args: ['-q', '50', '-O', '2'], settings: { optimiser: 2 } },
    { picture: astronautBmp, args: ['--target-size', '9000'], settings: { aim: 'size', target: 9 } },
    { picture: astronautBmp, args: ['--target-psnr', '31.5'], settings: { aim: 'psnr', target: 31.5 } },
  ];
  for (const c of cases) {
    test(`${c.args.join(' ')} of ${basename(c.picture)}`, async () => {
      const error = await open(c.picture);
      assert.equal(error, '');
      await configure(c.settings);
      const expected = join(work, 'expected.cod');
      runCli('compress', c.picture, '-o', expected, '-f', '--quiet', ...c.args);
      const name = basename(c.picture).replace(/\.[a-z]+$/, '');
      assert.equal(await shownError(), '');
      assert.ok((await download('#save-cod', `${name}.cod`)).equals(readFileSync(expected)), 'the .cod differs');
      if (c.notice) assert.match(await text('#notice'), c.notice);
    });
  }

  test('downloads and figures of a result', async () => {
    assert.equal(await open(astronautBmp), '');
    await configure({ quality: 25 });
    const expected = join(work, 'figures.cod');
    runCli('compress', astronautBmp, '-o', expected, '-f', '--quiet', '-q', '25');
    const bmp = join(work, 'figures.bmp');
    runCli('decompress', expected, '-o', bmp, '-f', '--quiet');
    assert.ok((await download('#save-bmp', 'astronaut_256x192.bmp')).equals(readFileSync(bmp)), 'the BMP differs');
    const shown = PNG.sync.read(await download('#save-png', 'astronaut_256x192.png'));
    const decoded = cliPixels(expected);
    assert.ok(decoded.rgb.every((v, i) => shown.data[4 * Math.floor(i / 3) + (i % 3)] === v), 'the PNG differs');

    const bytes = readFileSync(expected).length;
    const input = readFileSync(astronautBmp).length;
    const psnr = Number(runCli('compare', astronautBmp, expected).match(/PSNR RGB ([0-9.]+) dB/)[1]);
    assert.equal(await text('#fig-size'), `${(bytes / 1000).toFixed(1)} kB`);
    assert.equal(await text('#fig-bpp'), ((8 * bytes) / (256 * 192)).toFixed(3));
    assert.equal(await text('#fig-saving'), `${(100 * (1 - bytes / input)).toFixed(1)} %`);
    assert.equal(await text('#fig-psnr'), `${psnr.toFixed(2)} dB`);
    assert.match(await text('#fig-input'), new RegExp(`256 × 192 colour, ${(input / 1000).toFixed(1)} kB`));
    const ssim = Number(await text('#fig-ssim'));
    assert.ok(Math.abs(ssim - referenceSsim(astronautBmp, bmp)) < 6e-5, `SSIM ${ssim}`);
  });

  test('the left side shows a second result with its own settings', async () => {
    assert.equal(await open(astronautBmp), '');
    await configure({ quality: 50, optimiser: 2 });
    await page.click('#side-left');
    await setValue('#left-mode', 'compressed');
    await configure({ quality: 50 });
    const expected = join(work, 'left.cod');
    runCli('compress', astronautBmp, '-o', expected, '-f', '--quiet', '-q', '50');
    assert.ok((await download('#save-cod', 'astronaut_256x192-left.cod')).equals(readFileSync(expected)));
    assert.match(await text('#label-left'), /^Left, quality 50$/);
    assert.match(await text('#label-right'), /^Right, quality 50, optimiser 2$/);
    assert.notEqual(await text('#fig-left-size'), await text('#fig-size'));
    await setValue('#left-mode', 'original');
    assert.equal(await text('#label-left'), 'Original');
    assert.equal(await page.$eval('#row-left', (e) => e.hidden), true);
    await page.click('#side-right');
  });
});

describe('photographs', () => {
  // What varnic-cli says of a file it compresses, one notice a line on its standard error.
  const cliNotices = (path, ...args) => {
    const run = spawnSync(cli, ['compress', path, '-o', join(work, 'photo.cod'), '-f', ...args]);
    assert.equal(run.status, 0, run.stderr.toString());
    return run.stderr.toString().split('\n').filter((line) => line.includes(': ')).map((line) => line.split(': ').slice(2).join(': '));
  };
  const meanDifference = (a, b) => a.rgb.reduce((sum, v, i) => sum + Math.abs(v - b.rgb[i]), 0) / a.rgb.length;

  for (const name of ['turned.webp', 'turned.png', 'turned_p3.jpg']) {
    test(`${name} is turned${name.includes('p3') ? ' and converted to sRGB' : ''} with the tool's notices`, async () => {
      const path = join(pictures, name);
      assert.equal(await open(path), '');
      await configure({ quality: 90 });
      const notices = cliNotices(path, '-q', '90');
      assert.ok(notices.some((n) => /^rotated .* as its EXIF orientation says$/.test(n)), notices.join('; '));
      for (const notice of notices) assert.ok((await text('#notice')).includes(notice), `no "${notice}"`);
      const page = join(work, 'page_photo.cod');
      writeFileSync(page, await download('#save-cod', `${name.replace(/\.[a-z]+$/, '')}.cod`));
      if (!name.includes('p3')) {
        assert.ok(readFileSync(page).equals(readFileSync(join(work, 'photo.cod'))), 'the .cod differs');
        return;
      }
      // The browser's colour conversion against Little CMS's: close, and far from none at all.
      const [shown, converted] = [cliPixels(page), cliPixels(join(work, 'photo.cod'))];
      assert.deepEqual([shown.width, shown.height], [converted.width, converted.height]);
      assert.ok(meanDifference(shown, converted) < 2, `mean difference ${meanDifference(shown, converted)}`);
      cliNotices(path, '-q', '90', '--no-colour-conversion');
      assert.ok(meanDifference(shown, cliPixels(join(work, 'photo.cod'))) > 2, 'the profile made no difference');
    });
  }
});

describe('settings', () => {
  test('an error marks the result out of date until the field is fixed; typing alone checks nothing', async () => {
    assert.equal(await open(join(conformance, 'pics/astronaut_256x192.bmp')), '');
    await configure({ quality: 40 });
    const before = await text('#fig-size');
    // Typing fires input events only: nothing is checked or encoded until the value is committed.
    const ops = await page.evaluate(() => window.sentOps.length);
    await page.$eval('#quant-y', (e) => { e.value = '1 2 x'; e.dispatchEvent(new Event('input', { bubbles: true })); });
    await new Promise((r) => setTimeout(r, 600));
    assert.equal(await page.evaluate(() => window.sentOps.length), ops);
    assert.equal(await shownError(), '');

    await setValue('#quant-y', '1 2 x');
    const message = await shownError();
    assert.match(message, /^Y quantization vector: /);
    assert.doesNotMatch(message, /!!!|--|qvec|Vector A/);
    assert.equal(await page.$eval('#quant-y', (e) => e.getAttribute('aria-invalid')), 'true');
    assert.equal(await text('#quant-y-error'), message);
    assert.match(await text('#label-right'), /\(out of date\)$/);
    assert.equal(await page.$eval('#row-right', (e) => e.classList.contains('stale')), true);
    assert.equal(await page.$eval('#save-cod', (e) => e.disabled), true);
    assert.equal(await text('#fig-size'), before);

    await setValue('#quant-y', Array(16).fill(200).join(' '));
    assert.equal(await shownError(), 'Y quantization vector, number 1: 200 is above the largest allowed, 125');
    await settle(() => page.click('#rederive'));
    assert.equal(await shownError(), '');
    assert.equal(await page.$eval('#quant-y', (e) => e.getAttribute('aria-invalid')), 'false');
    assert.doesNotMatch(await text('#label-right'), /out of date/);
    assert.equal(await page.$eval('#save-cod', (e) => e.disabled), false);
  });

  test('moving the quality after an advanced edit derives the settings again', async () => {
    const bmp = join(conformance, 'pics/astronaut_256x192.bmp');
    assert.equal(await open(bmp), '');
    await configure({ quality: 40, advanced: { '#thresholds': '90 90 90 90 90 90' } });
    await setValue('#quality', 60, 'input');
    assert.match(await text('#notice'), /derived again from quality 60/);
    const expected = join(work, 'q60.cod');
    runCli('compress', bmp, '-o', expected, '-f', '--quiet', '-q', '60');
    assert.ok((await download('#save-cod', 'astronaut_256x192.cod')).equals(readFileSync(expected)));
    assert.equal(await text('#label-right'), 'Right, quality 60');
  });

  test('the image type says where it has no effect; an unreachable target says why', async () => {
    assert.equal(await open(join(conformance, 'pics/astronaut_256x192.bmp')), '');
    await configure({ quality: 50 });
    assert.equal(await page.$eval('#type-hint', (e) => e.hidden), false);
    await setValue('#quality', 5, 'input');
    assert.equal(await page.$eval('#type-hint', (e) => e.hidden), true);
    await configure({ aim: 'size', target: 0.1 });
    assert.match(await shownError(), /^no quality gives a file of at most 100 bytes: the smallest, at quality 0, has \d+ bytes$/);
    await configure({ quality: 50 });
  });
});

describe('opening pictures', () => {
  test('refused files give a message and keep the open picture and its name', async () => {
    assert.equal(await open(join(conformance, 'cod/astronaut_q50.cod')), '');
    const shown = { info: await text('#fig-input'), name: await text('#file-name') };
    const cod = readFileSync(join(conformance, 'cod/astronaut_q50.cod'));
    const files = {
      'truncated.cod': [cod.subarray(0, cod.length / 3)],
      'header_only.cod': [cod.subarray(0, 12)],
      'huge.bmp': [bitmapHeaderOnly(30000, 30000), /more than the limit/],
      'noise.tga': [Buffer.from(Array.from({ length: 5000 }, (_, i) => (i * 7919 + 13) % 251))],
      'huge.png': [pngHeaderOnly(9000, 9000), /more than the limit/],
      'empty.bmp': [Buffer.alloc(0), /^empty\.bmp: the file is empty$/],
      'notes.txt': [Buffer.from('not a picture'), /JPEG or WebP/],
    };
    for (const [name, [bytes, words]] of Object.entries(files)) {
      const error = await open(picture(name, bytes));
      assert.ok(error.startsWith(`${name}: `) && error.length > name.length + 5, `no message for ${name}`);
      if (words) assert.match(error, words);
      assert.deepEqual({ info: await text('#fig-input'), name: await text('#file-name') }, shown, `${name} replaced the open picture`);
    }
  });

  test('a dropped file opens', async () => {
    const bytes = readFileSync(join(conformance, 'pics/astronaut_37x21.bmp'));
    await settle(() => page.evaluate((data) => {
      const transfer = new DataTransfer();
      transfer.items.add(new File([new Uint8Array(data)], 'dropped.bmp'));
      document.dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
    }, [...bytes]));
    assert.equal(await shownError(), '');
    assert.equal(await text('#file-name'), 'dropped.bmp');
    assert.match(await text('#fig-input'), /37 × 21 colour/);
  });

  test('the largest picture the page takes compresses; one pixel more is refused before any work', async () => {
    const side = 8192;
    const limit = await page.evaluate(() => document.getElementById('empty').textContent);
    assert.match(limit, /up to 67\.1 megapixels \(8192 × 8192\)/);
    const big = picture('big.bmp', bitmap(side, side, (x, y) => [(x >> 5) & 0xff, (y >> 5) & 0xff, ((x ^ y) >> 3) & 0xff]));
    assert.equal(await open(big), '');
    assert.match(await text('#fig-input'), /8192 × 8192 colour/);
    assert.match(await text('#fig-psnr'), /dB$/);
    rmSync(big);
    const ops = await page.evaluate(() => window.sentOps.length);
    const over = await open(picture('over.bmp', bitmapHeaderOnly(side, side + 1)));
    assert.match(over, /more than the limit/);
    assert.deepEqual(await page.evaluate((n) => window.sentOps.slice(n), ops), ['open']);
  });
});

describe('the view', () => {
  test('the divider and the zoom change what is drawn, both sides locked together', async () => {
    const source = join(conformance, 'pics/astronaut_256x192.bmp');
    assert.equal(await open(source), '');
    await configure({ quality: 0 });
    await page.click('#zoom-actual');
    const cod = join(work, 'q0.cod');
    runCli('compress', source, '-o', cod, '-f', '--quiet', '-q', '0');
    const result = cliPixels(cod);

    // Every sampled canvas pixel must be the original's left of the divider and the result's
    // right of it, at the position the view's scale and offset give; returns the columns checked
    // per side. (The canvas has as many pixels as the screen gives it, so they are what is seen.)
    const check = async (name) => {
      const view = await canvasState(true);
      await screenshot(name);
      const sides = [0, 0];
      for (const row of [5, 60, 180]) {
        const Y = view.y + Math.floor(row * view.scale);
        if (Y < 0 || Y >= view.height) continue;
        for (let X = 0; X < view.width; X++) {
          const [px, py] = [Math.floor((X - view.x) / view.scale), Math.floor((Y - view.y) / view.scale)];
          if (px < 0 || px >= astronaut.width || py < 0 || Math.abs(X - view.split) < 3) continue;
          const side = X < view.split ? 0 : 1;
          assert.deepEqual(rgbaAt(view.pixels, view.width, X, Y), rgbAt(side === 0 ? astronaut : result, px, py), `${name}: pixel ${X},${Y}`);
          sides[side]++;
        }
      }
      return { view, sides };
    };

    const start = await check('compare_divider_50.png');
    const box = await (await page.$('#view')).boundingBox();
    await page.mouse.move(box.x + start.view.split, box.y + box.height / 2);
    await page.mouse.down();
    await page.mouse.move(box.x + box.width * 0.85, box.y + box.height / 2, { steps: 5 });
    await page.mouse.up();
    const moved = await check('compare_divider_85.png');
    assert.ok(moved.view.split > start.view.split + 100, 'the divider did not follow the mouse');
    assert.ok(moved.sides[0] > start.sides[0] && moved.sides[1] < start.sides[1]);

    await page.click('#zoom-in');
    await page.click('#zoom-in');
    const zoomed = await check('compare_zoom_3.png');
    assert.equal(zoomed.view.scale, 3);
    assert.equal(await page.$eval('#zoom-level', (e) => e.value), '300%');

    // The divider's keys, and the wheel over it: it zooms the picture, never scrolls the page.
    await page.focus('#divider');
    await page.keyboard.press('Home');
    assert.equal((await canvasState()).split, 0);
    await page.keyboard.press('End');
    assert.equal((await canvasState()).split, (await canvasState()).width);
    await page.keyboard.press('PageDown');
    const handle = await (await page.$('#divider')).boundingBox();
    await page.mouse.move(handle.x + handle.width / 2, handle.y + handle.height / 2);
    await page.mouse.wheel({ deltaY: 120 });
    await page.waitForFunction(() => Number(document.getElementById('view').dataset.scale) === 2);

    // Panning far in every direction keeps a picture larger than the frame covering it, and one
    // smaller inside it.
    const kept = (at, size, room) => (size <= room ? at >= 0 && at + size <= room : at <= 0 && at + size >= room);
    for (const clicks of [0, 2]) {
      for (let i = 0; i < clicks; i++) await page.click('#zoom-in');
      for (const [dx, dy] of [[4000, 3000], [-4000, -3000]]) {
        await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
        await page.mouse.down();
        await page.mouse.move(box.x + box.width / 2 + dx, box.y + box.height / 2 + dy, { steps: 4 });
        await page.mouse.up();
        const view = await canvasState();
        assert.ok(kept(view.x, astronaut.width * view.scale, view.width), `x ${view.x} at scale ${view.scale}`);
        assert.ok(kept(view.y, astronaut.height * view.scale, view.height), `y ${view.y} at scale ${view.scale}`);
      }
    }
  });

  test('a long encode shows progress over the picture and can be cancelled; an open right away does not wait', async () => {
    const large = picture('large.bmp', bitmap(2048, 2048, (x, y) => [x % 251, y % 256, (x * 3 + y) % 241]));
    assert.equal(await open(large), '');
    const frame = await page.$eval('#frame', (e) => JSON.stringify(e.getBoundingClientRect()));
    await page.click('#compress');
    await page.waitForSelector('#progress-row:not([hidden])', { timeout: kTimeout });
    assert.equal(await page.$eval('#frame', (e) => JSON.stringify(e.getBoundingClientRect())), frame, 'the picture moved');
    await settle(() => page.click('#cancel'));
    assert.equal(await text('#notice'), 'Cancelled.');
    assert.match(await text('#label-right'), /out of date/);
    // The worker was replaced: it gets the picture again with the next encode.
    const ops = await page.evaluate(() => window.sentOps.length);
    await settle(() => page.click('#compress'));
    assert.deepEqual(await page.evaluate((n) => window.sentOps.slice(n), ops), ['open', 'encode']);
    assert.equal(await text('#notice'), '');
    assert.equal(await shownError(), '');
    assert.equal(await page.$eval('#save-cod', (e) => e.disabled), false);

    // Opening another file while an encode runs sends only the new file to the new worker.
    await page.click('#compress');
    await page.waitForSelector('#progress-row:not([hidden])', { timeout: kTimeout });
    const before = await page.evaluate(() => window.sentOps.length);
    assert.equal(await open(join(conformance, 'pics/astronaut_64x48.bmp')), '');
    assert.deepEqual(await page.evaluate((n) => window.sentOps.slice(n), before), ['open', 'encode']);
  });
});

describe('layout', () => {
  const viewports = [
    { name: 'desktop', width: 1280, height: 800, deviceScaleFactor: 1 },
    { name: 'phone', width: 390, height: 844, deviceScaleFactor: 1, isMobile: true, hasTouch: true },
    { name: 'zoom_200', width: 640, height: 400, deviceScaleFactor: 2 },  // a 1280 x 800 window at 200 %
  ];
  for (const viewport of viewports) {
    test(`${viewport.name}: picture, figures and quality slider on screen; every control reachable by keyboard`, async () => {
      const tab = await openPage(server.url, viewport);
      assert.equal(await open(join(root, 'tests/data/astronaut_512.bmp'), tab), '');
      await tab.evaluate(() => window.scrollTo(0, 0));
      const boxes = await tab.evaluate(() => Object.fromEntries(['frame', 'fig-size', 'fig-saving', 'fig-bpp', 'fig-psnr', 'fig-ssim', 'quality']
        .map((id) => [id, document.getElementById(id).getBoundingClientRect().toJSON()])));
      for (const [id, box] of Object.entries(boxes)) assert.ok(inside(box, viewport), `${id} is outside the viewport: ${JSON.stringify(box)}`);
      assert.ok(boxes.frame.height >= 150, `the picture is ${boxes.frame.height} px high`);
      assert.ok(await tab.$eval('html', (e) => e.scrollWidth <= window.innerWidth), 'the page scrolls sideways');
      // 100 % is one picture pixel per CSS pixel at any device pixel ratio.
      await tab.click('#zoom-actual');
      assert.equal(await tab.$eval('#zoom-level', (e) => e.value), '100%');
      assert.equal(await tab.$eval('#view', (e) => Number(e.dataset.scale)), viewport.deviceScaleFactor);

      const reached = new Set();
      await tab.focus('body');
      for (let i = 0; i < 40; i++) {
        await tab.keyboard.press('Tab');
        reached.add(await tab.evaluate(() => document.activeElement.id));
      }
      for (const id of ['file', 'view', 'divider', 'zoom-in', 'zoom-fit', 'quality', 'type', 'compress', 'save-cod', 'save-png', 'save-bmp']) {
        assert.ok(reached.has(id), `${id} is not reachable with Tab`);
      }
      // The quality is announced once: as the slider's value, not again in its name or a live text.
      const nodes = [];
      const walk = (node) => { nodes.push(node); (node.children || []).forEach(walk); };
      walk(await tab.accessibility.snapshot({ interestingOnly: false }));
      const slider = nodes.find((node) => node.role === 'slider' && /Quality/.test(node.name));
      assert.equal(slider?.name, 'Quality');
      assert.deepEqual(nodes.filter((node) => node !== slider && String(node.name).trim() === '50').map((node) => node.role), []);

      if (viewport.name !== 'zoom_200') {
        // The README's pictures: quality 10, where the difference shows.
        await setValue('#quality', 10, 'input', tab);
        await tab.click(viewport.name === 'phone' ? '#zoom-fit' : '#zoom-in');
        await tab.evaluate(() => window.scrollTo(0, 0));
        await tab.screenshot({ path: join(shots, `${viewport.name}.png`) });
      }
      if (viewport.hasTouch) {
        // A finger's swipe over the picture scrolls the page; two fingers spreading zoom in.
        await tab.evaluate(() => window.scrollTo(0, 0));
        const frame = await (await tab.$('#frame')).boundingBox();
        const cdp = await tab.createCDPSession();
        const touch = (type, points) => cdp.send('Input.dispatchTouchEvent', { type, touchPoints: points.map(([x, y], id) => ({ x, y, id })) });
        // Off the divider's handle, which takes every touch for itself.
        const [x, y] = [frame.x + frame.width / 4, frame.y + frame.height / 2];
        await touch('touchStart', [[x, y]]);
        for (let i = 1; i <= 10; i++) await touch('touchMove', [[x, y - 20 * i]]);
        await touch('touchEnd', []);
        assert.ok(await tab.evaluate(() => window.scrollY) > 50, 'the swipe did not scroll the page');
        await tab.evaluate(() => window.scrollTo(0, 0));
        const scale = await tab.$eval('#view', (e) => Number(e.dataset.scale));
        const pinch = (type, spread) => touch(type, type === 'touchEnd' ? [] : [[x - spread, y / 2], [x + spread, y / 2]]);
        await pinch('touchStart', 20);
        for (const spread of [40, 60, 80]) await pinch('touchMove', spread);
        await pinch('touchEnd', 80);
        const pinched = await tab.$eval('#view', (e) => Number(e.dataset.scale));
        assert.ok(pinched > scale, `the pinch left the scale at ${pinched}`);
      }
      await tab.close();
    });
  }
});

test('opened from file:// the page says how to serve it', async () => {
  const tab = await browser.newPage();
  await tab.goto(pathToFileURL(join(site, 'index.html')).href);
  assert.equal(await tab.$eval('#file-hint', (e) => e.hidden), false);
  assert.match(await tab.$eval('#file-hint', (e) => e.textContent), /served by a web server/);
  await tab.close();
});

test('served cross-origin isolated, the page runs threads and gives the same bytes', async () => {
  const isolated = await serve(site, { isolated: true });
  try {
    const tab = await openPage(isolated.url);
    assert.equal(await tab.evaluate(() => crossOriginIsolated), true);
    const source = join(conformance, 'pics/astronaut_256x192.bmp');
    assert.equal(await open(source, tab), '');
    const expected = join(work, 'threads.cod');
    runCli('compress', source, '-o', expected, '-f', '--quiet', '-q', '50');
    assert.ok((await download('#save-cod', 'astronaut_256x192.cod', tab)).equals(readFileSync(expected)));
    await tab.close();
  } finally {
    isolated.close();
  }
});

test('no request left the page\'s origin', () => {
  assert.deepEqual(outside, []);
  // The interception saw the worker's own loads too, so it covered them.
  for (const path of ['/worker.js', '/varnic.js', '/varnic.wasm', '/varnic-threads.js']) assert.ok(seen.has(path), `${path} was not seen`);
});
