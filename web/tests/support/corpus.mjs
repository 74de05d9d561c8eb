// Test inputs for the web tests, made here so that every PNG colour type, bit depth and
// transparency kind is present, and BLP files of every content type written by the
// native `vellum` (the reference). PNGs are written by a small encoder of our own over
// node's zlib: no filter, one IDAT.
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, truncateSync, writeFileSync, copyFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { deflateSync, inflateSync } from 'node:zlib';

export const vellum = process.env.VELLUM;
if (!vellum) throw new Error('VELLUM (the native vellum) is not set');

export function run(...args) {
  return execFileSync(vellum, args, { stdio: ['ignore', 'pipe', 'pipe'] }).toString();
}

// `vellum` with its exit status and messages, for files it refuses.
export function runStatus(...args) {
  try {
    return { status: 0, output: run(...args) };
  } catch (error) {
    return { status: error.status, output: `${error.stdout}${error.stderr}` };
  }
}

const crcTable = new Int32Array(256).map((_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c;
});
function crc32(bytes) {
  let c = -1;
  for (const b of bytes) c = crcTable[(c ^ b) & 0xff] ^ (c >>> 8);
  return (c ^ -1) >>> 0;
}
export function chunk(type, data) {
  const out = Buffer.alloc(12 + data.length);
  out.writeUInt32BE(data.length, 0);
  out.write(type, 4, 'latin1');
  Buffer.from(data).copy(out, 8);
  out.writeUInt32BE(crc32(out.subarray(4, 8 + data.length)), 8 + data.length);
  return out;
}

// A PNG of `rows` (arrays of samples per row, each sample < 2^depth), colour type
// `colour` (0, 2, 3, 4, 6), with optional palette ([[r, g, b], ...]) and tRNS bytes.
export function makePng({ width, height, colour, depth, samples, palette, trns }) {
  const channels = { 0: 1, 2: 3, 3: 1, 4: 2, 6: 4 }[colour];
  const rowBits = width * channels * depth;
  const rowBytes = Math.ceil(rowBits / 8);
  const raw = Buffer.alloc((rowBytes + 1) * height);
  for (let y = 0; y < height; y++) {
    const row = raw.subarray(y * (rowBytes + 1) + 1);
    for (let i = 0; i < width * channels; i++) {
      const value = samples(i % channels, Math.floor(i / channels), y);
      if (depth === 16) row.writeUInt16BE(value, 2 * i);
      else if (depth === 8) row[i] = value;
      else row[(i * depth) >> 3] |= value << (8 - depth - ((i * depth) & 7));
    }
  }
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(width, 0);
  ihdr.writeUInt32BE(height, 4);
  ihdr[8] = depth;
  ihdr[9] = colour;
  const parts = [Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), chunk('IHDR', ihdr)];
  if (palette) parts.push(chunk('PLTE', Buffer.from(palette.flat())));
  if (trns) parts.push(chunk('tRNS', Buffer.from(trns)));
  parts.push(chunk('IDAT', deflateSync(raw)), chunk('IEND', Buffer.alloc(0)));
  return Buffer.concat(parts);
}

// A PNG that ends after its header (IHDR, IEND), for sizes too large to hold.
export function pngHeaderOnly(width, height) {
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(width, 0);
  ihdr.writeUInt32BE(height, 4);
  ihdr[8] = 8;
  ihdr[9] = 6;
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), chunk('IHDR', ihdr), chunk('IEND', Buffer.alloc(0))]);
}

// A deterministic hash-like value per position, for varied but repeatable pixels.
const noise = (x, y, salt) => ((x * 73856093) ^ (y * 19349663) ^ (salt * 83492791)) >>> 0;

// PNG sources: every colour type, low and high bit depths, tRNS, a palette with repeated
// entries, an odd size. `name` -> bytes.
export function pngSources() {
  const w = 37, h = 29;
  const palette = Array.from({ length: 40 }, (_, i) => [(i * 53) & 255, (i * 97) & 255, (i * 151) & 255]);
  palette[30] = palette[3];  // the same colour twice
  return {
    'rgb8.png': makePng({ width: w, height: h, colour: 2, depth: 8, samples: (c, x, y) => (x * 7 + y * 3 + c * 60) & 255 }),
    'rgb8-trns.png': makePng({ width: w, height: h, colour: 2, depth: 8, samples: (c, x, y) => ((x >> 2) * 40 + c * 9 + y) & 255, trns: [0, 0, 0, 8, 0, 2] }),
    'rgba16.png': makePng({ width: w, height: h, colour: 6, depth: 16, samples: (c, x, y) => noise(x, y, c) & 0xffff }),
    'palette8.png': makePng({ width: w, height: h, colour: 3, depth: 8, palette, samples: (c, x, y) => noise(x, y, 1) % 40 }),
    'palette4-trns.png': makePng({ width: w, height: h, colour: 3, depth: 4, palette: palette.slice(0, 16), trns: [0, 80, 160, 255, 7], samples: (c, x, y) => (x + y) & 15 }),
    'palette1.png': makePng({ width: w, height: h, colour: 3, depth: 1, palette: [[10, 20, 30], [200, 190, 180]], samples: (c, x, y) => (x ^ y) & 1 }),
    'grey8.png': makePng({ width: w, height: h, colour: 0, depth: 8, samples: (c, x, y) => (x * 6 + y * 2) & 255 }),
    'grey2.png': makePng({ width: w, height: h, colour: 0, depth: 2, samples: (c, x, y) => (x + 2 * y) & 3 }),
    'grey8-trns.png': makePng({ width: w, height: h, colour: 0, depth: 8, samples: (c, x, y) => (x * 6) & 255, trns: [0, 12] }),
    'greyalpha16.png': makePng({ width: w, height: h, colour: 4, depth: 16, samples: (c, x, y) => (c ? noise(x, y, 5) : x * 1700 + y * 90) & 0xffff }),
  };
}

// The save options the tests go through: every content type with the dialog's defaults,
// and the other quantizers, qualities, progressive and level counts.
export const optionSets = [
  { contentType: 0 }, { contentType: 1 }, { contentType: 2 }, { contentType: 3 },
  { contentType: 4 }, { contentType: 5 }, { contentType: 6 },
  { contentType: 0, quality: 60, progressive: true, maxLevels: 3 },
  { contentType: 2, quality: 85, progressive: true },
  { contentType: 1, quantizer: 1, maxLevels: 1 },
  { contentType: 3, quantizer: 2 },
  { contentType: 5, quantizer: 3 },
  { contentType: 6, quantizer: 4, maxLevels: 2 },
];

export const optionsWord = (o) => {
  const full = Object.assign({ contentType: 0, quantizer: 0, quality: 100, progressive: false, maxLevels: 16 }, o);
  const jpeg = full.contentType === 0 || full.contentType === 2;
  return ((full.quality) | (full.contentType << 8) | ((full.progressive && jpeg ? 1 : 0) << 12) |
    (full.quantizer << 16) | (full.maxLevels << 24)) >>> 0;
};

export const wordText = (o) => `0x${optionsWord(o).toString(16).padStart(8, '0')}`;

export const FORMATS = ['blp1-jpeg', 'blp1-paletted', 'blp2-jpeg', 'blp2-paletted8', 'blp2-dxt', 'blp2-paletted4', 'blp2-paletted1'];

// A scratch folder with the generated texture (RGBA, `size` square) and its BLP file in
// every content type, plus damaged copies. Returns { dir, texture, blps: {name: path}, damaged: {name: path} }.
export function blpCorpus(size) {
  const dir = mkdtempSync(join(tmpdir(), 'vellum-web-'));
  const texture = join(dir, 'texture.png');
  run('generate', '--size', String(size), texture);
  run('generate', '--size', '512', join(dir, 'texture512.png'));
  const blps = {};
  for (const format of FORMATS) {
    const out = join(dir, `texture-${format}.blp`);
    run('encode', '-q', '--format', format, texture, '-o', out);
    blps[`texture-${format}.blp`] = out;
  }
  // Paletted from an opaque paletted source: decodes to indices (a paletted PNG).
  const opaque = join(dir, 'palette8.png');
  writeFileSync(opaque, pngSources()['palette8.png']);
  blps['palette8-blp1-paletted.blp'] = join(dir, 'palette8-blp1-paletted.blp');
  run('encode', '-q', '--format', 'blp1-paletted', opaque, '-o', blps['palette8-blp1-paletted.blp']);

  const damaged = {};
  // Cut inside the last stored levels' data: a JPEG level ends early, a DXT level runs
  // past the end; a file cut inside its header is not a BLP any more.
  for (const [name, from, keep] of [
    ['cut-jpeg.blp', 'texture-blp2-jpeg.blp', 0.6], ['cut-dxt.blp', 'texture-blp2-dxt.blp', 0.5],
    ['cut-header.blp', 'texture-blp1-paletted.blp', 0]]) {
    const path = join(dir, name);
    copyFileSync(blps[from], path);
    const length = readFileSync(path).length;
    truncateSync(path, keep ? Math.floor(length * keep) : 100);
    damaged[name] = path;
  }
  const garbage = join(dir, 'garbage.blp');
  writeFileSync(garbage, Buffer.from('this is not a texture at all, only words that fill more than one hundred and sixty bytes of a file so that only the signature is wrong; more words follow here to be sure of it.'));
  damaged['garbage.blp'] = garbage;
  return { dir, texture, blps, damaged };
}

// What an 8-bit PNG holds, whatever compressor and filters wrote it: the header, the palette
// and the unfiltered rows. `vellum decode` compresses with libdeflate and the page with
// zlib, so their bytes differ while this must not.
export function pngContent(bytes) {
  const png = Buffer.from(bytes);
  let at = 8, ihdr = null, plte = Buffer.alloc(0);
  const idat = [];
  while (at + 8 <= png.length) {
    const length = png.readUInt32BE(at), type = png.toString('latin1', at + 4, at + 8);
    const data = png.subarray(at + 8, at + 8 + length);
    if (type === 'IHDR') ihdr = data;
    else if (type === 'PLTE') plte = data;
    else if (type === 'IDAT') idat.push(data);
    at += 12 + length;
  }
  if (!ihdr || ihdr[8] !== 8) throw new Error('not an 8-bit PNG');
  const width = ihdr.readUInt32BE(0), height = ihdr.readUInt32BE(4);
  const channels = { 0: 1, 2: 3, 3: 1, 4: 2, 6: 4 }[ihdr[9]];
  const stride = width * channels, filtered = inflateSync(Buffer.concat(idat));
  const rows = Buffer.alloc(stride * height);
  for (let y = 0; y < height; ++y) {
    const type = filtered[y * (stride + 1)], line = filtered.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let x = 0; x < stride; ++x) {
      const a = x >= channels ? rows[y * stride + x - channels] : 0;
      const b = y > 0 ? rows[(y - 1) * stride + x] : 0;
      const c = x >= channels && y > 0 ? rows[(y - 1) * stride + x - channels] : 0;
      const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
      const predictor = [0, a, b, (a + b) >> 1, pa <= pb && pa <= pc ? a : pb <= pc ? b : c][type];
      rows[y * stride + x] = (line[x] + predictor) & 255;
    }
  }
  return { header: ihdr, palette: plte, rows };
}
