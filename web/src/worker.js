// The page's worker: every decode, encode and zip runs here, so that the page stays
// responsive. In web/dist it loads its scripts beside it; in the single-file page they
// come before this code in the same Blob.
'use strict';

if (typeof createVellumCodec === 'undefined') {
  importScripts('vellum-codec.js', 'codec.js', 'fflate.js');
}

const { Codec, Status } = self.VellumCodec;
const ready = Codec.load(createVellumCodec, {});
const openFiles = new Map();  // request key -> BlpFile

function reply(message, transfer) {
  self.postMessage(message, transfer || []);
}

// JPEG files: decoded by the browser, pixels as stored (no colour conversion).
async function browserPixels(bytes, type) {
  const bitmap = await createImageBitmap(new Blob([bytes], { type }),
    { premultiplyAlpha: 'none', colorSpaceConversion: 'none' });
  const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
  const context = canvas.getContext('2d', { willReadFrequently: true });
  context.drawImage(bitmap, 0, 0);
  const image = context.getImageData(0, 0, bitmap.width, bitmap.height);
  bitmap.close();
  return image;
}

const handlers = {
  async open(codec, request) {
    const opened = codec.openBlp(new Uint8Array(request.bytes));
    if (!opened.file) return { status: opened.status, message: opened.message };
    openFiles.set(request.key, opened.file);
    return { status: Status.OK, description: opened.file.description };
  },

  async decode(codec, request) {
    const file = openFiles.get(request.key);
    const level = file.decodeLevel(request.level);
    return { level, transfer: level.bytes ? [level.bytes.buffer] : [] };
  },

  async png(codec, request) {
    const file = openFiles.get(request.key);
    const result = file.levelPng(request.level, request.salvage);
    return { result, transfer: result.bytes ? [result.bytes.buffer] : [] };
  },

  async close(codec, request) {
    const file = openFiles.get(request.key);
    if (file) file.close();
    openFiles.delete(request.key);
    return {};
  },

  async encode(codec, request) {
    const progress = (percent) => { reply({ id: request.id, progress: percent }); return true; };
    let result;
    if (request.kind === 'png') {
      result = codec.encodePng(new Uint8Array(request.bytes), request.options, progress);
    } else {
      let image;
      try {
        image = await browserPixels(request.bytes, request.type);
      } catch (error) {
        return { result: { status: Status.ARGUMENT, message: 'the browser could not decode this image', bytes: null } };
      }
      if (image.width * image.height > codec.maxPixels) {
        return { result: { status: Status.TOO_LARGE, bytes: null,
          message: `image of ${image.width} x ${image.height} pixels is over the page's limit of ${codec.maxPixels} pixels` } };
      }
      result = codec.encodeRgba(image.data, image.width, image.height, false, request.options, progress);
    }
    return { result, transfer: result.bytes ? [result.bytes.buffer] : [] };
  },

  async zip(codec, request) {
    const files = {};
    for (const entry of request.entries) files[entry.name] = [new Uint8Array(entry.bytes), { level: entry.store ? 0 : 6 }];
    const zipped = self.fflate.zipSync(files, { mtime: new Date('2024-01-01T00:00:00') });
    return { bytes: zipped, transfer: [zipped.buffer] };
  },
};

self.onmessage = async (event) => {
  const request = event.data;
  let answer;
  try {
    const codec = await ready;
    answer = await handlers[request.op](codec, request);
  } catch (error) {
    answer = { error: String(error && error.message ? error.message : error) };
  }
  const transfer = answer.transfer || [];
  delete answer.transfer;
  reply(Object.assign({ id: request.id }, answer), transfer);
};

ready.then((codec) => reply({ ready: true, version: codec.version, maxPixels: codec.maxPixels }),
  (error) => reply({ ready: false, error: String(error) }));
