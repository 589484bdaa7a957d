// SPDX-License-Identifier: BSD-2-Clause
// The page in headless Chromium, driven as a person would: files go in through the file input,
// settings and the divider are moved with the mouse and keys, downloads land in a folder. What it
// shows and saves is checked against varnic-cli on the same files.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { crc32 } from 'node:zlib';
import { basename, dirname, join, resolve } from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { PNG } from 'pngjs';
import puppeteer from 'puppeteer-core';

import { serve } from './server.mjs';

const root = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
const webBuild = resolve(root, process.env.WEB_BUILD || 'build-web');
const cli = resolve(root, process.env.VARNIC_CLI || 'build/cli/varnic-cli');
const conformance = join(root, 'tests/data/conformance');
const shots = join(webBuild, 'screenshots');
const work = mkdtempSync(join(tmpdir(), 'varnic-web-'));
const kTimeout = 60000;

let server;
let browser;
let page;
const downloads = new Map();  // guid -> {name, state}

before(async () => {
  mkdirSync(shots, { recursive: true });
  server = await serve(webBuild);
  browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    // Without the networking switches Chromium waits for services this closed network lacks.
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--force-color-profile=srgb',
      `--user-data-dir=${join(work, 'profile')}`],
  });
  page = await browser.newPage();
  page.on('pageerror', (error) => console.error(`page error: ${error.message}`));
  // Files are named by their download's guid and read once Chromium reports them complete: under
  // their own names they show up empty first, as Chromium reserves the name before writing.
  const cdp = await page.createCDPSession();
  cdp.on('Browser.downloadWillBegin', (e) => downloads.set(e.guid, { name: e.suggestedFilename, state: 'started' }));
  cdp.on('Browser.downloadProgress', (e) => {
    if (downloads.has(e.guid)) downloads.get(e.guid).state = e.state;
  });
  await cdp.send('Browser.setDownloadBehavior', { behavior: 'allowAndName', downloadPath: work, eventsEnabled: true });
  await page.setViewport({ width: 1280, height: 900 });
  await page.goto(server.url);
  await page.waitForSelector('body[data-ready=true]', { timeout: kTimeout });
});

after(async () => {
  await browser?.close();
  server?.close();
  rmSync(work, { recursive: true, force: true });
});

// --- helpers ---------------------------------------------------------------------------------

// Runs `action` and waits until the page has finished the operation it started.
async function settle(action) {
  const done = await page.$eval('body', (b) => Number(b.dataset.done || 0));
  await action();
  await page.waitForFunction((n) => Number(document.body.dataset.done || 0) > n &&
    document.getElementById('progress-row').hidden, { timeout: kTimeout }, done);
}

async function open(path) {
  const input = await page.$('#file');
  await settle(() => input.uploadFile(path));
  return page.$eval('#error', (e) => (e.hidden ? '' : e.textContent));
}

async function setValue(selector, value, event) {
  await settle(() => page.$eval(selector, (e, v, type) => {
    e.value = v;
    e.dispatchEvent(new Event(type, { bubbles: true }));
  }, String(value), event));
}

async function download(button, name) {
  downloads.clear();
  await page.click(button);
  for (let waited = 0; ; waited += 50) {
    const [guid, entry] = [...downloads][0] || [];
    if (entry?.state === 'completed') {
      assert.equal(entry.name, name);
      return readFileSync(join(work, guid));
    }
    assert.ok(entry?.state !== 'canceled', `${name} was cancelled`);
    assert.ok(waited < 10000, `${name} was not downloaded`);
    await new Promise((r) => setTimeout(r, 50));
  }
}

// A picture as RGB rows: decoded by varnic-cli to PNM, grey expanded.
function cliPixels(cod) {
  const out = join(work, 'cli.pnm');
  execFileSync(cli, ['decompress', cod, '-o', out, '-f', '--quiet']);
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
    width: canvas.width,
    pixels: withPixels ? Array.from(canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data) : [],
    x: Number(canvas.dataset.x), y: Number(canvas.dataset.y),
    scale: Number(canvas.dataset.scale), split: Number(canvas.dataset.split),
  }), withPixels);
}

async function screenshot(name, element = '#view') {
  const png = await (await page.$(element)).screenshot({ path: join(shots, name) });
  return PNG.sync.read(Buffer.from(png));
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

// A PNG whose header declares `width` x `height` and whose data is one empty block.
function pngHeaderOnly(width, height) {
  const chunk = (type, data) => {
    const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
    const out = Buffer.alloc(body.length + 8);
    out.writeUInt32BE(data.length, 0);
    body.copy(out, 4);
    out.writeUInt32BE(crc32(body), body.length + 4);
    return out;
  };
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(width, 0);
  ihdr.writeUInt32BE(height, 4);
  ihdr.set([8, 2, 0, 0, 0], 8);
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), chunk('IHDR', ihdr),
    chunk('IDAT', Buffer.from([0x78, 0x9c, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01])), chunk('IEND', Buffer.alloc(0))]);
}

const rgbaAt = (data, width, x, y) => Array.from(data.slice(4 * (y * width + x), 4 * (y * width + x) + 3));
const rgbAt = (picture, x, y) => Array.from(picture.rgb.subarray(3 * (y * picture.width + x), 3 * (y * picture.width + x) + 3));

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
          const got = rgbaAt(drawn.pixels, drawn.width, drawn.x + x, drawn.y + y);
          if (got.join() !== rgbAt(expected, x, y).join()) wrong++;
        }
      }
      assert.equal(wrong, 0, `${wrong} pixels differ from varnic-cli's`);
      await screenshot(`open_${name}.png`);
    });
  }
});

describe('compressing', () => {
  // PNG goes through the browser's decoder on the page and through libpng in varnic-cli.
  const source = bitmapPixels(join(conformance, 'pics/astronaut_256x192.bmp'));
  const rgba = Buffer.alloc(4 * source.width * source.height, 255);
  for (let i = 0; i < source.width * source.height; i++) source.rgb.copy(rgba, 4 * i, 3 * i, 3 * i + 3);
  mkdirSync(join(work, 'png'));
  for (const [name, colorType] of [['astronaut.png', 2], ['astronaut_grey.png', 0]]) {
    writeFileSync(join(work, 'png', name), PNG.sync.write({ width: source.width, height: source.height, data: rgba }, { colorType }));
  }
  const cases = [
    { picture: join(work, 'png/astronaut.png'), quality: 40, type: 0, args: ['-q', '40'] },
    { picture: join(work, 'png/astronaut_grey.png'), quality: 40, type: 0, args: ['-q', '40'] },
    { picture: 'tests/data/astronaut_512.bmp', quality: 50, type: 0, args: ['-q', '50'] },
    { picture: 'tests/data/camera_512_grey.bmp', quality: 20, type: 2, args: ['-q', '20', '--type', 'faces'] },
    { picture: 'tests/data/conformance/pics/astronaut_37x21.bmp', quality: 70, type: 1, levels: 3,
      args: ['-q', '70', '--type', 'landscape', '--levels', '3'] },
    { picture: 'tests/data/conformance/pics/astronaut_256x192.bmp', quality: 30, type: 0, levels: 5,
      advanced: { '#thresholds': '40 20 10 10 5 5', '#dropped-y': 1, '#dropped-i': 0, '#dropped-q': 0 },
      args: ['-q', '30', '--thresholds', '40 20 10 10 5 5', '--dropped', '1,0,0'] },
    { picture: 'tests/data/conformance/pics/astronaut_256x192.bmp', quality: 50, type: 0, optimiser: 2,
      args: ['-q', '50', '-O', '2'] },
  ];
  for (const c of cases) {
    test(`${c.args.join(' ')} of ${basename(c.picture)} downloads varnic-cli's bytes`, async () => {
      assert.equal(await open(resolve(root, c.picture)), '');
      await setValue('#type', c.type, 'change');
      await setValue('#quality', c.quality, 'input');
      await setValue('#optimiser', c.optimiser || 0, 'change');
      if (c.levels) await setValue('#levels', c.levels, 'change');
      if (c.advanced) await page.click('#advanced summary');
      for (const [field, value] of Object.entries(c.advanced || {})) await setValue(field, value, 'input');
      const expected = join(work, 'expected.cod');
      execFileSync(cli, ['compress', resolve(root, c.picture), '-o', expected, '-f', '--quiet', ...c.args]);
      const name = basename(c.picture).replace(/\.[a-z]+$/, '');
      assert.equal(await page.$eval('#error', (e) => (e.hidden ? '' : e.textContent)), '');
      assert.ok((await download('#save-cod', `${name}.cod`)).equals(readFileSync(expected)), 'the .cod differs');
      const bitmap = join(work, 'expected.bmp');
      execFileSync(cli, ['decompress', expected, '-o', bitmap, '-f', '--quiet']);
      assert.ok((await download('#save-bmp', `${name}.bmp`)).equals(readFileSync(bitmap)), 'the BMP differs');
      const png = PNG.sync.read(await download('#save-png', `${name}.png`));
      const decoded = cliPixels(expected);
      assert.ok(decoded.rgb.every((v, i) => png.data[4 * Math.floor(i / 3) + (i % 3)] === v), 'the PNG differs');
      const shown = Number(await page.$eval('#fig-ssim', (e) => e.textContent));
      assert.ok(Math.abs(shown - referenceSsim(resolve(root, c.picture), bitmap)) < 6e-5, `SSIM ${shown}`);
      if (!c.advanced) return;
      await setValue('#quant-y', '1 2 x', 'input');
      assert.ok(await page.$eval('#error', (e) => !e.hidden && e.textContent.length > 0), 'a bad vector gave no message');
      await settle(() => page.click('#rederive'));
      assert.ok(await page.$eval('#error', (e) => e.hidden));
    });
  }
});

test('hostile files give a message and keep the open picture', async () => {
  assert.equal(await open(join(conformance, 'cod/astronaut_q50.cod')), '');
  const shown = await page.$eval('#file-info', (e) => e.textContent);
  const cod = readFileSync(join(conformance, 'cod/astronaut_q50.cod'));
  const huge = Buffer.from(readFileSync(join(conformance, 'pics/astronaut_37x21.bmp')));
  huge.writeInt32LE(30000, 18);
  huge.writeInt32LE(30000, 22);
  const files = {
    'truncated.cod': cod.subarray(0, cod.length / 3),
    'header_only.cod': cod.subarray(0, 12),
    'huge.bmp': huge,
    'noise.tga': Buffer.from(Array.from({ length: 5000 }, (_, i) => (i * 7919 + 13) % 251)),
    'huge.png': pngHeaderOnly(9000, 9000),
  };
  for (const [name, bytes] of Object.entries(files)) {
    writeFileSync(join(work, name), bytes);
    const error = await open(join(work, name));
    assert.ok(error.startsWith(`${name}: `) && error.length > name.length + 5, `no message for ${name}`);
    assert.equal(await page.$eval('#file-info', (e) => e.textContent), shown, `${name} replaced the open picture`);
  }
  await screenshot('error_truncated.png', 'main');
});

test('the divider and the zoom change what is drawn, both sides locked together', async () => {
  const picture = join(conformance, 'pics/astronaut_256x192.bmp');
  assert.equal(await open(picture), '');
  await setValue('#levels', 5, 'change');
  await setValue('#type', 0, 'change');
  await setValue('#optimiser', 0, 'change');
  await setValue('#quality', 0, 'input');
  await page.click('#zoom-actual');
  const original = bitmapPixels(picture);
  const cod = join(work, 'q0.cod');
  execFileSync(cli, ['compress', picture, '-o', cod, '-f', '--quiet', '-q', '0']);
  const result = cliPixels(cod);

  // Every sampled screen pixel must be the original's left of the divider and the result's right
  // of it, at the position the view's scale and offset give; returns the columns checked per side.
  const check = async (name) => {
    const view = await canvasState();
    const shot = await screenshot(name);
    const sides = [0, 0];
    for (const row of [5, 60, 180]) {
      const Y = view.y + Math.floor(row * view.scale);
      for (let X = 0; X < shot.width; X++) {
        const [px, py] = [Math.floor((X - view.x) / view.scale), Math.floor((Y - view.y) / view.scale)];
        if (px < 0 || px >= original.width || py < 0 || Math.abs(X - view.split) < 3) continue;
        const side = X < view.split ? 0 : 1;
        const expected = rgbAt(side === 0 ? original : result, px, py);
        assert.deepEqual(rgbaAt(shot.data, shot.width, X, Y), expected, `${name}: screen pixel ${X},${Y}`);
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
  assert.ok(zoomed.sides[0] > 0 && zoomed.sides[1] > 0, 'one side vanished when zoomed in');
});

test('a long encode shows progress and can be cancelled', async () => {
  // 2048 x 2048 of smooth gradients: long enough in the worker to be caught running.
  const side = 2048;
  const header = Buffer.alloc(54);
  header.write('BM', 0, 'latin1');
  [[2, 54 + 3 * side * side], [10, 54], [14, 40], [18, side], [22, side]].forEach(([at, v]) => header.writeUInt32LE(v, at));
  header.writeUInt16LE(1, 26);
  header.writeUInt16LE(24, 28);
  const pixels = Buffer.alloc(3 * side * side);
  for (let i = 0; i < side * side; i++) pixels.set([i % 251, (i >> 11) % 256, (i * 3) % 241], 3 * i);
  writeFileSync(join(work, 'large.bmp'), Buffer.concat([header, pixels]));
  assert.equal(await open(join(work, 'large.bmp')), '');

  await page.click('#compress');
  await page.waitForSelector('#progress-row:not([hidden])', { timeout: kTimeout });
  await page.click('#cancel');
  assert.ok(await page.$eval('#progress-row', (e) => e.hidden));
  // The worker was replaced; the new one must have the picture again and encode it.
  await settle(() => page.click('#compress'));
  assert.ok(await page.$eval('#error', (e) => e.hidden));
  assert.equal(await page.$eval('#save-cod', (e) => e.disabled), false);
});

describe('layout', () => {
  test('compare view screenshot', async () => {
    assert.equal(await open(join(root, 'tests/data/astronaut_512.bmp')), '');
    await setValue('#quality', 10, 'input');
    await page.click('#zoom-actual');
    await page.click('#zoom-in');
    await page.evaluate(() => window.scrollTo(0, 0));
    await page.screenshot({ path: join(shots, 'compare.png') });
  });

  const viewports = [
    { name: 'phone', width: 390, height: 844, deviceScaleFactor: 1 },
    { name: 'zoom_200', width: 640, height: 450, deviceScaleFactor: 2 },  // a 1280 x 900 window at 200%
  ];
  for (const viewport of viewports) {
    test(`${viewport.name}: no sideways scrolling, every control reachable by keyboard`, async () => {
      await page.setViewport(viewport);
      await page.click('#zoom-fit');
      assert.ok(await page.$eval('html', (e) => e.scrollWidth <= window.innerWidth), 'the page scrolls sideways');
      const seen = new Set();
      await page.focus('body');
      for (let i = 0; i < 40; i++) {
        await page.keyboard.press('Tab');
        seen.add(await page.evaluate(() => document.activeElement.id));
      }
      for (const id of ['file', 'view', 'divider', 'zoom-in', 'zoom-fit', 'quality', 'type', 'compress', 'save-cod', 'save-png', 'save-bmp']) {
        assert.ok(seen.has(id), `${id} is not reachable with Tab`);
      }
      await page.screenshot({ path: join(shots, `layout_${viewport.name}.png`), fullPage: true });
    });
  }
});
