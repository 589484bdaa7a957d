// SPDX-License-Identifier: BSD-2-Clause
// The page's speed in headless Chromium, for `make bench-peers` (bench/peers runs this and puts the
// rows beside varnic-cli's): each picture is opened through the file input as a person would, which
// compresses it at quality 50, then compressed again `--runs` times with the Compress button.
// Served plainly the page runs one thread; served cross-origin isolated it runs the threaded module.
// Every run's .cod must equal varnic-cli's before any time counts.
//
//   node web/bench.mjs --site build-web/page --cli build/cli/varnic-cli --runs 3 PICTURE.bmp...
// prints one JSON object: {rows: [{picture, pixels, threads, encode_s, check_s, total_s, total_cpu_s,
// ...}]}: the codec's seconds as the page reports them (wall clock in its worker), and the whole
// compress from the button to the figures shown, in wall-clock and in the browser's CPU seconds.
import { execFileSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { parseArgs } from 'node:util';

import puppeteer from 'puppeteer-core';

import { serve } from './test/server.mjs';

const { values: options, positionals: pictures } = parseArgs({
  allowPositionals: true,
  options: { site: { type: 'string' }, cli: { type: 'string' }, runs: { type: 'string', default: '3' } },
});
const runs = Number(options.runs);
const work = mkdtempSync(join(tmpdir(), 'varnic-page-bench-'));
const downloads = join(work, 'downloads');
const load = () => Number(readFileSync('/proc/loadavg', 'latin1').split(' ')[0]);
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

// CPU seconds (user and system) of the browser and every process under it: the machine is
// shared, so wall clock alone says little.
function browserCpu(browser) {
  const stats = new Map();
  for (const entry of readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const fields = readFileSync(`/proc/${entry}/stat`, 'latin1').replace(/^.*\) /, '').split(' ');
      stats.set(Number(entry), { parent: Number(fields[1]), ticks: Number(fields[11]) + Number(fields[12]) });
    } catch {
      // gone meanwhile
    }
  }
  const ours = new Set([browser.process().pid]);
  for (let grew = true; grew;) {
    grew = false;
    for (const [pid, stat] of stats) {
      if (!ours.has(pid) && ours.has(stat.parent)) {
        ours.add(pid);
        grew = true;
      }
    }
  }
  let ticks = 0;
  for (const pid of ours) ticks += stats.get(pid)?.ticks || 0;
  return ticks / 100;  // USER_HZ
}
const kTimeout = 600000;

// Wall and CPU seconds from `action` until the page is idle again.
async function idle(tab, action) {
  const done = await tab.$eval('body', (b) => Number(b.dataset.done || 0));
  const start = performance.now();
  const cpu = browserCpu(tab.browser());
  await action();
  await tab.waitForFunction((n) => Number(document.body.dataset.done || 0) > n &&
    document.getElementById('progress-row').hidden, { timeout: kTimeout, polling: 200 }, done);
  return { wall: (performance.now() - start) / 1000, cpu: browserCpu(tab.browser()) - cpu };
}

// The .cod the page offers for download, fetched from the page itself.
async function pageCod(tab, cdp) {
  for (const name of readdirSync(downloads)) rmSync(join(downloads, name), { force: true });
  const finished = new Promise((resolve) => {
    const done = (e) => {
      if (e.state !== 'completed') return;
      cdp.off('Browser.downloadProgress', done);
      resolve(e.guid);
    };
    cdp.on('Browser.downloadProgress', done);
  });
  await tab.click('#save-cod');
  return readFileSync(join(downloads, await finished));
}

async function measure(browser, url, picture, expected) {
  const tab = await browser.newPage();
  const cdp = await tab.createCDPSession();
  await cdp.send('Browser.setDownloadBehavior', { behavior: 'allowAndName', downloadPath: downloads, eventsEnabled: true });
  await tab.setViewport({ width: 1280, height: 800 });
  await tab.goto(url);
  await tab.waitForSelector('body[data-ready=true]', { timeout: kTimeout });
  const threads = await tab.evaluate(() => (crossOriginIsolated ? Math.min(navigator.hardwareConcurrency || 1, 16) : 1));
  const loadBefore = load();
  const input = await tab.$('#file');
  const open = await idle(tab, () => input.uploadFile(picture));
  const error = await tab.$eval('#error', (e) => (e.hidden ? '' : e.textContent));
  if (error) throw new Error(`${picture}: ${error}`);
  if (!(await pageCod(tab, cdp)).equals(expected)) throw new Error(`${picture}: the page's .cod is not varnic-cli's`);
  const encode = [];
  const check = [];
  const total = [];
  const cpu = [];
  for (let i = 0; i < runs; i++) {
    const spent = await idle(tab, () => tab.click('#compress'));
    total.push(spent.wall);
    cpu.push(spent.cpu);
    const timing = await tab.$eval('#timing', (e) => ({ ...e.dataset }));
    encode.push(Number(timing.encodeSeconds));
    check.push(Number(timing.checkSeconds));
  }
  const size = await tab.$eval('#fig-input', (e) => e.textContent.match(/(\d+) × (\d+)/).slice(1).map(Number));
  await tab.close();
  return {
    picture, pixels: size[0] * size[1], threads, open_s: open.wall, encode_s: median(encode), check_s: median(check),
    total_s: median(total), total_cpu_s: median(cpu), load_average_before: loadBefore, load_average_after: load(),
  };
}

mkdirSync(downloads);
const plain = await serve(options.site);
const isolated = await serve(options.site, { isolated: true });
const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', `--user-data-dir=${join(work, 'profile')}`],
});
const rows = [];
try {
  for (const picture of pictures) {
    const cod = join(work, 'expected.cod');
    execFileSync(options.cli, ['compress', picture, '-o', cod, '-f', '--quiet', '-q', '50']);
    const expected = readFileSync(cod);
    for (const server of [plain, isolated]) rows.push(await measure(browser, server.url, picture, expected));
  }
} finally {
  await browser.close();
  plain.close();
  isolated.close();
  rmSync(work, { recursive: true, force: true });
}
console.log(JSON.stringify({ rows }));
