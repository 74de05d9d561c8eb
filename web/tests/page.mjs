// The page in Debian's Chromium (headless, driven by puppeteer-core), against the native
// `vellum` of the same sources:
//   node web/tests/page.mjs served   web/dist on a server of ours at 127.0.0.1
//   node web/tests/page.mjs file     web/dist-single/index.html opened from disk
// Checks: every BLP content type decodes to the R, G, B, A `vellum decode` gives (read from
// the page's own buffers, not a canvas); PNGs downloaded as BLP equal `vellum encode`'s
// bytes per option set; a batch of 20 files downloads as a zip of 20 entries; damaged
// files show their message and the page goes on; a 2048 x 2048 DXT encode leaves the
// page's timers running.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { createReadStream, existsSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { dirname, extname, join } from 'node:path';
import test from 'node:test';
import { fileURLToPath, pathToFileURL } from 'node:url';

import { blpCorpus, optionSets, pngSources, run, wordText } from './support/corpus.mjs';

const require = createRequire(import.meta.url);
const puppeteer = require('puppeteer-core');
const { unzipSync } = require('fflate');

const mode = process.argv[2];
if (mode !== 'served' && mode !== 'file') throw new Error('usage: page.mjs served|file');
const web = dirname(dirname(fileURLToPath(import.meta.url)));

// ---------------------------------------------------------------------------------------
// Inputs and references

const corpus = blpCorpus(96);
const sources = pngSources();
const inputs = join(corpus.dir, 'inputs');
mkdirSync(inputs);
for (const [name, bytes] of Object.entries(sources)) writeFileSync(join(inputs, name), bytes);
writeFileSync(join(inputs, 'texture.png'), readFileSync(corpus.texture));

// R, G, B, A of a PNG that `vellum decode` wrote, through ImageMagick (an independent reader).
function pngRgba(path) {
  return execFileSync('convert', [path, '-depth', '8', 'rgba:-'], { maxBuffer: 1 << 28 });
}

// ---------------------------------------------------------------------------------------
// The page

let server = null;
let url;
if (mode === 'served') {
  const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm', '.txt': 'text/plain' };
  const root = join(web, 'dist');
  server = createServer((request, response) => {
    const path = join(root, decodeURIComponent(new URL(request.url, 'http://x').pathname).replace(/^\/+/, '') || 'index.html');
    if (!path.startsWith(root) || !existsSync(path) || !statSync(path).isFile()) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'Content-Type': types[extname(path)] || 'application/octet-stream' });
    createReadStream(path).pipe(response);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  url = `http://127.0.0.1:${server.address().port}/index.html`;
} else {
  url = pathToFileURL(join(web, 'dist-single', 'index.html')).href;
}

const profile = mkdtempSync(join(tmpdir(), 'vellum-chromium-'));
const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  userDataDir: profile,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--disable-dev-shm-usage'],
});
const page = await browser.newPage();
const problems = [];
page.on('pageerror', (error) => problems.push(String(error)));
page.on('requestfailed', (request) => problems.push(`request failed: ${request.url()}`));
page.on('request', (request) => {
  // Nothing but the page's own files, blob: and data: URLs.
  const target = request.url();
  if (!target.startsWith(mode === 'served' ? url.replace(/index\.html$/, '') : 'file:') && !/^(blob|data):/.test(target)) problems.push(`request to ${target}`);
});

const downloads = join(corpus.dir, 'downloads');
mkdirSync(downloads);
const cdp = await page.createCDPSession();
await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads, eventsEnabled: true });
await page.goto(url);
await page.evaluate(() => window.vellumPage.ready());

// Clears the list and downloads, sets the options through the form, then drops the files
// on the page (a drop event carrying them) or picks them with the file picker.
async function startBatch(files, options, how = 'pick') {
  await page.evaluate(() => window.vellumPage.idle());
  if (!(await page.$eval('#clear', (b) => b.disabled))) await page.click('#clear');
  for (const name of readdirSync(downloads)) rmSync(join(downloads, name));
  if (options) {
    const o = Object.assign({ contentType: 0, quantizer: 0, quality: 100, progressive: false, maxLevels: 16 }, options);
    await page.click('#reset-options');
    await page.select('#opt-format', String(o.contentType));
    await page.select('#opt-quantizer', String(o.quantizer));
    await page.$eval('#opt-quality', (input, value) => { input.value = String(value); input.dispatchEvent(new Event('input')); }, o.quality);
    if (o.progressive) await page.click('#opt-progressive');
    await page.$eval('#opt-mips', (input, value) => { input.value = String(value); input.dispatchEvent(new Event('change')); }, o.maxLevels);
  }
  if (how === 'drop') {
    const payload = files.map((path) => ({ name: path.split('/').pop(), bytes: readFileSync(path).toString('base64') }));
    await page.evaluate((payload) => {
      const transfer = new DataTransfer();
      for (const file of payload) {
        transfer.items.add(new File([Uint8Array.from(atob(file.bytes), (c) => c.charCodeAt(0))], file.name));
      }
      document.getElementById('drop-zone').dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
    }, payload);
  } else {
    const picker = await page.$('#file-picker');
    await picker.uploadFile(...files);
  }
  await page.evaluate(() => window.vellumPage.idle());
  return page.evaluate(() => window.vellumPage.entries());
}

// Clicks a row's download button (or the zip button) and waits for the file.
async function downloadVia(selector, name) {
  const path = join(downloads, name);
  await page.click(selector);
  for (let i = 0; i < 400 && !existsSync(path); i++) await new Promise((r) => setTimeout(r, 25));
  assert.ok(existsSync(path), `no download ${name}`);
  await new Promise((r) => setTimeout(r, 50));
  return readFileSync(path);
}

// ---------------------------------------------------------------------------------------
// Tests

test('every BLP content type decodes to the R, G, B, A vellum decode gives', async () => {
  const files = Object.values(corpus.blps);
  const rows = await startBatch(files, null, 'drop');
  assert.equal(rows.length, files.length);
  for (const [name, path] of Object.entries(corpus.blps)) {
    const row = rows.find((r) => r.name === name);
    assert.equal(row.state, 'done', `${name}: ${row.message}`);
    const out = join(corpus.dir, `page-ref-${name}.png`);
    run('decode', '-q', '--force', '--all-levels', path, '-o', out);
    const description = await page.evaluate((n) => window.vellumPage.description(n), name);
    let levels = 0;
    for (const level of description.levels) {
      if (level.state !== 'stored' || level.beyondChain) continue;
      const held = await page.evaluate((n, k) => window.vellumPage.levelRgba(n, k), name, level.level);
      const expected = pngRgba(out.replace(/\.png$/, `.mip${level.level}.png`));
      assert.equal(held.width * held.height * 4, expected.length, `${name} level ${level.level}: size`);
      assert.ok(Buffer.from(held.rgba, 'base64').equals(expected), `${name} level ${level.level}: pixels differ from vellum decode`);
      levels++;
    }
    assert.ok(levels >= 5, `${name}: only ${levels} levels compared`);
  }
});

test('PNGs download as the BLP bytes vellum encode writes, per option set', async () => {
  const kinds = ['texture.png', 'palette4-trns.png', 'greyalpha16.png'];
  for (const options of optionSets) {
    const rows = await startBatch(kinds.map((k) => join(inputs, k)), options);
    for (const [i, kind] of kinds.entries()) {
      assert.equal(rows[i].state, 'done', `${kind} ${wordText(options)}: ${rows[i].message}`);
      const got = await downloadVia(`#file-list li:nth-child(${i + 1}) button.save`, kind.replace(/\.png$/, '.blp'));
      const expected = join(corpus.dir, `page-${kind}-${wordText(options)}.blp`);
      run('encode', '-q', '--force', '--options', wordText(options), join(inputs, kind), '-o', expected);
      assert.ok(got.equals(readFileSync(expected)), `${kind} with ${wordText(options)}: bytes differ from vellum encode`);
    }
  }
});

test('a batch of 20 files downloads as one zip of 20 entries', async () => {
  const jpeg = join(inputs, 'photo.jpg');
  execFileSync('convert', [corpus.texture, '-background', 'white', '-flatten', '-quality', '90', jpeg]);
  // Two files of the same name: the zip keeps both.
  mkdirSync(join(inputs, 'again'));
  writeFileSync(join(inputs, 'again', 'texture.png'), readFileSync(corpus.texture));
  const blps = Object.entries(corpus.blps).filter(([n]) => n.startsWith('texture-')).map(([, p]) => p);
  const files = [...Object.keys(sources).map((n) => join(inputs, n)), ...blps, jpeg, join(inputs, 'texture.png'), join(inputs, 'again', 'texture.png')];
  assert.equal(files.length, 20);
  const rows = await startBatch(files, { contentType: 4 });
  assert.deepEqual(rows.filter((r) => r.state !== 'done').map((r) => `${r.name}: ${r.message}`), []);
  const overall = await page.$eval('#overall-progress', (p) => p.value);
  assert.equal(overall, 100);
  const zip = unzipSync(new Uint8Array(await downloadVia('#download-all', 'vellum-converted.zip')));
  const names = Object.keys(zip);
  assert.equal(names.length, 20, names.join(', '));
  assert.equal(new Set(names).size, 20);
  const expected = join(corpus.dir, 'zip-texture.blp');
  run('encode', '-q', '--force', '--options', wordText({ contentType: 4 }), corpus.texture, '-o', expected);
  assert.ok(Buffer.from(zip['texture.blp']).equals(readFileSync(expected)), 'zip entry texture.blp differs from vellum encode');
  assert.ok(names.includes('photo.blp') && names.includes('texture (2).blp'));
});

test('damaged files show what was wrong and the page keeps working', async () => {
  const files = [...Object.values(corpus.damaged), join(inputs, 'rgb8.png'), join(inputs, 'notes.txt')];
  writeFileSync(join(inputs, 'notes.txt'), 'text');
  const rows = await startBatch(files, { contentType: 1 }, 'drop');
  const byName = Object.fromEntries(rows.map((r) => [r.name, r]));
  const expectations = [
    ['cut-jpeg.blp', 'warning', /JPEG data ends after \d+ of \d+ blocks|runs past the end/],
    ['cut-dxt.blp', 'warning', /runs past the end of the file/],
    ['cut-header.blp', 'failed', /too short|not a BLP|truncated/i],
    ['garbage.blp', 'failed', /not a BLP file/],
    ['rgb8.png', 'done', /BLP ready/],
    ['notes.txt', 'failed', /not a \.blp, \.png or \.jpg file/],
  ];
  for (const [name, state, message] of expectations) {
    assert.equal(byName[name].state, state, `${name}: ${byName[name].message}`);
    assert.match(byName[name].message, message, name);
  }
  // The viewer shows the damage too, and what was recovered.
  await page.click('#file-list li:nth-child(2) button.name');
  await page.waitForFunction(() => document.querySelector('#levels tbody tr.damaged') !== null);
  const shown = await page.$eval('#viewer-message', (m) => m.textContent);
  assert.match(shown, /runs past the end of the file/);
  assert.ok(await page.$eval('#save-level', (b) => !b.disabled), 'the recovered level 0 cannot be saved');
});

test('the page stays responsive during a 2048 x 2048 DXT encode', async () => {
  // The texture at 512 blown up to 2048 x 2048: a real DXT5 encode of 262144 blocks, quick
  // because each block is one colour.
  const big = join(inputs, 'big.png');
  execFileSync('convert', [corpus.texture.replace(/texture\.png$/, 'texture512.png'), '-filter', 'point', '-resize', '2048x2048', `PNG32:${big}`]);
  await page.evaluate(() => {
    window.ticks = { last: performance.now(), worst: 0, count: 0 };
    window.tickTimer = setInterval(() => {
      const now = performance.now();
      window.ticks.worst = Math.max(window.ticks.worst, now - window.ticks.last);
      window.ticks.last = now;
      window.ticks.count++;
    }, 10);
  });
  const started = Date.now();
  const rows = await startBatch([big], { contentType: 4, maxLevels: 1 });
  const took = Date.now() - started;
  const ticks = await page.evaluate(() => { clearInterval(window.tickTimer); return window.ticks; });
  assert.equal(rows[0].state, 'done', rows[0].message);
  // Run on the page's thread, the encode would stall the timer for its whole length; a
  // machine busy with other work delays single ticks (up to 0.75 s seen at load 15).
  assert.ok(took > 300, `the encode took only ${took} ms: too short to tell`);
  assert.ok(ticks.worst < took / 4, `the main thread stalled for ${Math.round(ticks.worst)} ms of ${took} ms`);
  assert.ok(ticks.count > took / 50, `only ${ticks.count} timer ticks in ${took} ms`);
});

test('no page errors and no request outside the page', () => {
  assert.deepEqual(problems, []);
});

test.after(async () => {
  await browser.close();
  if (server) server.close();
  rmSync(profile, { recursive: true, force: true });
});
