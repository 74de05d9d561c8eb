// The page's speed against the native `vellum` on the same machine, in one run: a 1024 x
// 1024 texture (`vellum generate`) encoded from PNG and decoded to PNG, best of 5, in
// Debian's Chromium (web/dist served on 127.0.0.1, the work in the page's worker) and by
// the native tool (whole process runs, PNG in and out).
//   VELLUM=build/native/cli/vellum node web/tools/bench.mjs
import { execFileSync } from 'node:child_process';
import { createReadStream, mkdtempSync, readFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { dirname, extname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const require = createRequire(import.meta.url);
const puppeteer = require('puppeteer-core');
const web = dirname(dirname(fileURLToPath(import.meta.url)));
const vellum = process.env.VELLUM || 'build/native/cli/vellum';
const repeats = 5;
const dir = mkdtempSync(join(tmpdir(), 'vellum-bench-'));
const texture = join(dir, 'texture.png');
execFileSync(vellum, ['generate', '--size', '1024', texture]);

const formats = [['blp1-jpeg', { contentType: 0 }], ['blp1-paletted', { contentType: 1 }], ['blp2-dxt', { contentType: 4 }]];

function best(run) {
  let fastest = Infinity;
  for (let i = 0; i < repeats; i++) {
    const start = process.hrtime.bigint();
    run();
    fastest = Math.min(fastest, Number(process.hrtime.bigint() - start) / 1e6);
  }
  return fastest;
}

const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm' };
const server = createServer((request, response) => {
  const path = join(web, 'dist', new URL(request.url, 'http://x').pathname.replace(/^\/+/, '') || 'index.html');
  response.writeHead(200, { 'Content-Type': types[extname(path)] || 'application/octet-stream' });
  createReadStream(path).on('error', () => response.end()).pipe(response);
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const browser = await puppeteer.launch({
  executablePath: '/usr/bin/chromium', headless: true, userDataDir: mkdtempSync(join(tmpdir(), 'vellum-chromium-')),
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--disable-dev-shm-usage'],
});
const page = await browser.newPage();
await page.goto(`http://127.0.0.1:${server.address().port}/index.html`);
await page.evaluate(() => window.vellumPage.ready());

async function pageBest(op, payloads) {
  return page.evaluate(async (op, payloads, repeats) => {
    const decode = (b64) => Uint8Array.from(atob(b64), (c) => c.charCodeAt(0));
    let fastest = Infinity;
    for (let i = 0; i < repeats; i++) {
      let ms = 0;
      for (const p of payloads) {
        const payload = Object.assign({}, p);
        if (payload.bytes) payload.bytes = decode(payload.bytes).buffer;
        const result = await window.vellumPage.timed(payload.op || op, payload);
        if (result.status < 0) throw new Error(`${op}: status ${result.status}`);
        ms += result.ms;
      }
      fastest = Math.min(fastest, ms);
    }
    return fastest;
  }, op, payloads, repeats);
}

const png = readFileSync(texture).toString('base64');
console.log(`1024 x 1024 texture, best of ${repeats}; Chromium ${(await browser.version()).replace(/^\D*/, '')}, web/dist; native ${vellum}`);
console.log('| | page (wasm, Chromium) | vellum (native) | page / native |');
console.log('|---|---|---|---|');
for (const [format, options] of formats) {
  const blp = join(dir, `t-${format}.blp`);
  const nativeEncode = best(() => execFileSync(vellum, ['encode', '-q', '--force', '--format', format, texture, '-o', blp]));
  const pageEncode = await pageBest('encode', [{ kind: 'png', bytes: png, options }]);
  const nativeDecode = best(() => execFileSync(vellum, ['decode', '-q', '--force', blp, '-o', join(dir, 'out.png')]));
  const bytes = readFileSync(blp).toString('base64');
  const pageDecode = await pageBest('decode', [{ op: 'open', key: 'bench', bytes }, { op: 'png', key: 'bench', level: 0 }, { op: 'close', key: 'bench' }]);
  for (const [what, p, n] of [[`encode PNG -> ${format}`, pageEncode, nativeEncode], [`decode ${format} -> PNG`, pageDecode, nativeDecode]]) {
    console.log(`| ${what} | ${p.toFixed(0)} ms | ${n.toFixed(0)} ms | ${(p / n).toFixed(2)} x |`);
  }
}
await browser.close();
server.close();
