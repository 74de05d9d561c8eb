// Assembles the two builds of the page from web/src, the two emscripten links and fflate:
//   --out DIR         web/dist: the files for a static server (HTML, CSS, JS, .wasm, worker)
//   --out-single DIR  web/dist-single/index.html: one file that works opened from disk;
//                     styles and scripts inline, the wasm inside the module's JS
//                     (-sSINGLE_FILE), the worker started from a Blob of its source.
import { copyFileSync, mkdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const web = dirname(here);
const src = join(web, 'src');

const args = {};
for (let i = 2; i < process.argv.length; i += 2) args[process.argv[i].replace(/^--/, '')] = process.argv[i + 1];
for (const key of ['files', 'single', 'out', 'out-single']) {
  if (!args[key]) throw new Error(`assemble.mjs: --${key} is missing`);
}

const fflate = join(web, 'node_modules', 'fflate');
const read = (path) => readFileSync(path, 'utf8');

// web/dist
rmSync(args.out, { recursive: true, force: true });
mkdirSync(args.out, { recursive: true });
for (const name of ['index.html', 'style.css', 'app.js', 'codec.js', 'worker.js']) copyFileSync(join(src, name), join(args.out, name));
copyFileSync(args.files, join(args.out, 'vellum-codec.js'));
copyFileSync(args.files.replace(/\.js$/, '.wasm'), join(args.out, 'vellum-codec.wasm'));
copyFileSync(join(fflate, 'umd', 'index.js'), join(args.out, 'fflate.js'));
copyFileSync(join(fflate, 'LICENSE'), join(args.out, 'fflate-LICENSE.txt'));

// web/dist-single/index.html
// An inline script ends at the first "</script"; none of ours may hold one.
function inlineScript(code, name) {
  if (/<\/script/i.test(code)) throw new Error(`assemble.mjs: ${name} contains "</script"`);
  return `<script>\n${code}\n</script>`;
}
const workerSource = [read(args.single), read(join(src, 'codec.js')), read(join(fflate, 'umd', 'index.js')), read(join(src, 'worker.js'))].join('\n;\n');
// A JSON string is a JavaScript string; "<\/" keeps the HTML parser out of it.
const workerLiteral = JSON.stringify(workerSource).replace(/<\//g, '<\\/');
let html = read(join(src, 'index.html'));
const replaceOnce = (from, to) => {
  if (!html.includes(from)) throw new Error(`assemble.mjs: "${from}" not found in index.html`);
  html = html.replace(from, () => to);
};
replaceOnce('<link rel="stylesheet" href="style.css">', `<style>\n${read(join(src, 'style.css'))}</style>`);
replaceOnce('<script src="codec.js"></script>', inlineScript(read(join(src, 'codec.js')), 'codec.js'));
replaceOnce('<script src="app.js"></script>',
  `<script>window.VELLUM_WORKER_SOURCE = ${workerLiteral};</script>\n${inlineScript(read(join(src, 'app.js')), 'app.js')}`);
const fflateCopyright = read(join(fflate, 'LICENSE')).split('\n').find((line) => line.startsWith('Copyright')) || '';
html = html.replace('</footer>', `  <p class="hint">The zip files are made by fflate (MIT License, ${fflateCopyright}), built into this page.</p>\n</footer>`);
rmSync(args['out-single'], { recursive: true, force: true });
mkdirSync(args['out-single'], { recursive: true });
writeFileSync(join(args['out-single'], 'index.html'), html);
