// SPDX-License-Identifier: BSD-2-Clause
// Pictures made for the page tests: PNG files of every layout the page's own reader takes (16-bit,
// palettes, transparency keys, Adam7) and plain bitmaps, written byte by byte so that each case is
// exactly what its name says.
import { crc32, deflateSync } from 'node:zlib';

function chunk(type, data) {
  const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
  const out = Buffer.alloc(body.length + 8);
  out.writeUInt32BE(data.length, 0);
  body.copy(out, 4);
  out.writeUInt32BE(crc32(body), body.length + 4);
  return out;
}

const kChannels = { 0: 1, 2: 3, 3: 1, 4: 2, 6: 4 };
const kAdam7 = [[0, 0, 8, 8], [4, 0, 8, 8], [0, 4, 4, 8], [2, 0, 4, 4], [0, 2, 2, 4], [1, 0, 2, 2], [0, 1, 1, 2]];

// `sample(x, y, c)` gives sample c of pixel (x, y) at the file's depth. Rows are filtered with
// filter `(y % 5)` (none, sub, up, average, Paeth in turn), so the reader's unfiltering is covered.
export function png({ width, height, depth = 8, colourType = 2, sample, palette, trns, sbit, interlace = false, extra = [] }) {
  const channels = kChannels[colourType];
  const bits = channels * depth;
  const step = Math.max(1, bits / 8);
  const raw = [];
  const passes = interlace ? kAdam7 : [[0, 0, 1, 1]];
  for (const [x0, y0, dx, dy] of passes) {
    const pw = width > x0 ? Math.ceil((width - x0) / dx) : 0;
    const ph = height > y0 ? Math.ceil((height - y0) / dy) : 0;
    if (pw === 0 || ph === 0) continue;
    let previous = Buffer.alloc(Math.ceil((pw * bits) / 8));
    for (let r = 0; r < ph; r++) {
      const row = Buffer.alloc(previous.length);
      for (let i = 0; i < pw; i++) {
        for (let c = 0; c < channels; c++) {
          const v = sample(x0 + i * dx, y0 + r * dy, c);
          const bit = (i * channels + c) * depth;
          if (depth === 16) row.writeUInt16BE(v, bit / 8);
          else if (depth === 8) row[bit / 8] = v;
          else row[bit >> 3] |= v << (8 - depth - (bit & 7));
        }
      }
      const filter = (y0 + r * dy) % 5;
      const out = Buffer.alloc(row.length);
      for (let i = 0; i < row.length; i++) {
        const a = i >= step ? row[i - step] : 0;
        const b = previous[i];
        const c = i >= step ? previous[i - step] : 0;
        const p = a + b - c;
        const paeth = Math.abs(p - a) <= Math.abs(p - b) && Math.abs(p - a) <= Math.abs(p - c) ? a : Math.abs(p - b) <= Math.abs(p - c) ? b : c;
        out[i] = (row[i] - [0, a, b, (a + b) >> 1, paeth][filter]) & 0xff;
      }
      raw.push(Buffer.from([filter]), out);
      previous = row;
    }
  }
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header.set([depth, colourType, 0, 0, interlace ? 1 : 0], 8);
  const chunks = [chunk('IHDR', header)];
  if (sbit) chunks.push(chunk('sBIT', Buffer.from(sbit)));
  if (palette) chunks.push(chunk('PLTE', Buffer.from(palette.flat())));
  if (trns) chunks.push(chunk('tRNS', Buffer.from(trns)));
  for (const [type, data] of extra) chunks.push(chunk(type, data));
  // Split in two data chunks: the page joins them.
  const data = deflateSync(Buffer.concat(raw));
  const half = data.length >> 1;
  chunks.push(chunk('IDAT', data.subarray(0, half)), chunk('IDAT', data.subarray(half)), chunk('IEND', Buffer.alloc(0)));
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), ...chunks]);
}

// A 24-bit bitmap file of `pixel(x, y)` = [r, g, b], rows bottom-up as the format stores them.
export function bitmap(width, height, pixel) {
  const stride = (3 * width + 3) & ~3;
  const out = Buffer.alloc(54 + stride * height);
  out.write('BM', 0, 'latin1');
  [[2, out.length], [10, 54], [14, 40], [18, width], [22, height]].forEach(([at, v]) => out.writeUInt32LE(v, at));
  out.writeUInt16LE(1, 26);
  out.writeUInt16LE(24, 28);
  for (let y = 0; y < height; y++) {
    let at = 54 + (height - 1 - y) * stride;
    for (let x = 0; x < width; x++, at += 3) {
      const [r, g, b] = pixel(x, y);
      out[at] = b;
      out[at + 1] = g;
      out[at + 2] = r;
    }
  }
  return out;
}

// A bitmap file whose header declares `width` x `height` and which holds no pixels.
export function bitmapHeaderOnly(width, height) {
  const out = bitmap(1, 1, () => [0, 0, 0]);
  out.writeInt32LE(width, 18);
  out.writeInt32LE(height, 22);
  return out;
}

// A PNG file whose header declares `width` x `height` and whose data is one empty block.
export function pngHeaderOnly(width, height) {
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header.set([8, 2, 0, 0, 0], 8);
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), chunk('IHDR', header),
    chunk('IDAT', deflateSync(Buffer.alloc(0))), chunk('IEND', Buffer.alloc(0))]);
}

// An ICC profile (version 2, a display's matrix and power curves) named `name`, with the D50
// primaries `colorants` ([[X, Y, Z] of red, green, blue]) and the curves' `gamma`.
export function iccProfile(name, colorants, gamma) {
  const fixed = (v) => { const b = Buffer.alloc(4); b.writeInt32BE(Math.round(v * 65536)); return b; };
  const xyz = ([x, y, z]) => Buffer.concat([Buffer.from('XYZ \0\0\0\0', 'latin1'), fixed(x), fixed(y), fixed(z)]);
  const curve = Buffer.from([...Buffer.from('curv\0\0\0\0', 'latin1'), 0, 0, 0, 1, Math.floor(gamma), Math.round((gamma % 1) * 256), 0, 0]);
  const ascii = Buffer.from(`${name}\0`, 'latin1');
  const count = Buffer.alloc(4);
  count.writeUInt32BE(ascii.length);
  const desc = Buffer.concat([Buffer.from('desc\0\0\0\0', 'latin1'), count, ascii, Buffer.alloc(8 + 3 + 67)]);
  const text = Buffer.concat([Buffer.from('text\0\0\0\0', 'latin1'), Buffer.from('no copyright\0', 'latin1')]);
  const tags = [['desc', desc], ['wtpt', xyz([0.9642, 1, 0.8249])], ['rXYZ', xyz(colorants[0])], ['gXYZ', xyz(colorants[1])],
    ['bXYZ', xyz(colorants[2])], ['rTRC', curve], ['gTRC', curve], ['bTRC', curve], ['cprt', text]];
  const pad = (b) => Buffer.concat([b, Buffer.alloc((4 - (b.length % 4)) % 4)]);
  let at = 128 + 4 + 12 * tags.length;
  const table = Buffer.alloc(4 + 12 * tags.length);
  table.writeUInt32BE(tags.length);
  const bodies = tags.map(([sig, body], i) => {
    table.write(sig, 4 + 12 * i, 'latin1');
    table.writeUInt32BE(at, 8 + 12 * i);
    table.writeUInt32BE(body.length, 12 + 12 * i);
    at += pad(body).length;
    return pad(body);
  });
  const header = Buffer.alloc(128);
  header.writeUInt32BE(at, 0);
  header.writeUInt32BE(0x02100000, 8);
  header.write('mntrRGB XYZ ', 12, 'latin1');
  header.write('acsp', 36, 'latin1');
  [0.9642, 1, 0.8249].forEach((v, i) => fixed(v).copy(header, 68 + 4 * i));
  return Buffer.concat([header, table, ...bodies]);
}
