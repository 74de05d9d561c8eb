// docs/web.png: the page in headless Chromium (web/dist-single opened from disk) with a few
// converted files and a texture shown.
//   VELLUM=build/native/cli/vellum node web/tools/screenshot.mjs [OUT.png] [--dark] [--phone]
import { execFileSync } from 'node:child_process';
import { mkdtempSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const require = createRequire(import.meta.url);
const puppeteer = require('puppeteer-core');
const web = dirname(dirname(fileURLToPath(import.meta.url)));
const vellum = process.env.VELLUM || 'build/native/cli/vellum';
const out = process.argv.find((a, i) => i > 1 && !a.startsWith('--')) || join(web, '..', 'docs', 'web.png');
const dark = process.argv.includes('--dark');
const phone = process.argv.includes('--phone');

const dir = mkdtempSync(join(tmpdir(), 'vellum-shot-'));
const texture = join(dir, 'Stone.png');
execFileSync(vellum, ['generate', '--size', '256', texture]);
const files = [join(dir, 'Stone.blp'), join(dir, 'Bricks.blp'), texture];
execFileSync(vellum, ['encode', '-q', '--format', 'blp2-dxt', texture, '-o', files[0]]);
execFileSync(vellum, ['encode', '-q', '--format', 'blp1-paletted', texture, '-o', files[1]]);

const browser = await puppeteer.launch({
  executablePath: '/usr/bin/chromium', headless: true, userDataDir: mkdtempSync(join(tmpdir(), 'vellum-chromium-')),
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--disable-dev-shm-usage', '--hide-scrollbars'],
});
const page = await browser.newPage();
await page.setViewport(phone ? { width: 390, height: 1400, deviceScaleFactor: 1 } : { width: 1200, height: 1000 });
await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: dark ? 'dark' : 'light' }]);
await page.goto(pathToFileURL(join(web, 'dist-single', 'index.html')).href);
await page.evaluate(() => window.vellumPage.ready());
await (await page.$('#file-picker')).uploadFile(...files);
await page.evaluate(() => window.vellumPage.idle());
await page.click('#file-list li:nth-child(1) button.name');
await page.waitForFunction(() => document.querySelectorAll('#level-picker button').length > 0);
await page.select('#zoom', '1');
await page.click('#level-picker button:nth-child(1)');
await page.screenshot({ path: out, fullPage: !phone ? false : true });
await browser.close();
console.log(out);
