// The page's codec in JavaScript: a thin layer over the WebAssembly module's exports
// (web/wasm/web_exports.cpp). The worker uses it, and so do the node tests, so that both
// go through the same calls. A classic script (importScripts) and a CommonJS module.
(function (root) {
  'use strict';

  // vellum_status values the page tells apart.
  const Status = Object.freeze({
    OK: 0, WARNING: 1, DAMAGED: -1, ARGUMENT: -2, NOT_BLP: -3, TRUNCATED: -4, DIMENSIONS: -5,
    UNSUPPORTED: -6, NO_LEVEL: -7, MALFORMED: -8, TOO_LARGE: -9, NO_MEMORY: -10, CANCELLED: -14,
  });

  // The Save Options dialog's choices, in its list order.
  const CONTENT_TYPES = ['BLP1 JPEG', 'BLP1 Paletted', 'BLP2 JPEG', 'BLP2 Paletted 8-bit alpha',
    'BLP2 DirX Compress', 'BLP2 Paletted 4-bit alpha', 'BLP2 Paletted 1-bit alpha'];
  const QUANTIZERS = ['NeuQuant 100', 'NeuQuant 128', 'Dennis Lee3 fast', 'Dennis Lee3 slow', 'Mediancut'];
  const DEFAULT_OPTIONS = Object.freeze({ contentType: 0, quantizer: 0, quality: 100, progressive: false, maxLevels: 16 });

  // The dialog's packed word: bits 0-7 quality, 8-11 content type, 12 progressive (JPEG
  // types only, as the dialog sets it), 16-23 quantizer, 24-31 level count.
  function optionsWord(options) {
    const o = Object.assign({}, DEFAULT_OPTIONS, options);
    const jpeg = o.contentType === 0 || o.contentType === 2;
    return ((o.quality & 0xff) | ((o.contentType & 0xf) << 8) | ((o.progressive && jpeg ? 1 : 0) << 12) |
      ((o.quantizer & 0xff) << 16) | ((o.maxLevels & 0xff) << 24)) >>> 0;
  }

  const RESULT_BYTES = 256;

  class Codec {
    constructor(module) {
      this.module = module;
      this.result = module._malloc(RESULT_BYTES);
      this.maxPixels = module._web_max_pixels() >>> 0;
      this.version = module.UTF8ToString(module._web_version());
    }

    // Instantiates the module made by emscripten's factory (createVellumCodec).
    static async load(factory, moduleOptions) {
      return new Codec(await factory(Object.assign({}, moduleOptions)));
    }

    // Copies bytes into the module's memory; the caller frees the pointer.
    copyIn(bytes) {
      const view = bytes instanceof Uint8Array ? bytes : new Uint8Array(bytes);
      const pointer = this.module._malloc(Math.max(1, view.length));
      if (!pointer) return 0;
      this.module.HEAPU8.set(view, pointer);
      return pointer;
    }

    // Reads the WebResult record; `take` copies its bytes out and releases them.
    readResult(take) {
      const m = this.module;
      const base = this.result >>> 2;
      const u32 = m.HEAPU32;
      const data = u32[base], size = u32[base + 1];
      const out = {
        status: m.HEAP32[base + 2],
        damageFlags: u32[base + 3],
        width: u32[base + 4],
        height: u32[base + 5],
        blocksDecoded: u32[base + 6],
        blocksTotal: u32[base + 7],
        message: m.UTF8ToString(this.result + 32, 224),
        bytes: null,
      };
      if (data) {
        if (take) out.bytes = m.HEAPU8.slice(data, data + size);
        m._web_free(data);
      }
      return out;
    }

    // Opens BLP bytes; returns { status, message, file } with file null on failure.
    openBlp(bytes) {
      const pointer = this.copyIn(bytes);
      if (!pointer) return { status: Status.NO_MEMORY, message: 'not enough memory', file: null };
      const handle = this.module._web_open(pointer, bytes.byteLength, this.result);
      const opened = this.readResult(false);
      if (!handle) {
        this.module._free(pointer);
        return { status: opened.status, message: opened.message, file: null };
      }
      return { status: opened.status, message: '', file: new BlpFile(this, handle, pointer) };
    }

    // Encodes a PNG file (its bytes) with the options (see optionsWord); onProgress(percent)
    // may return false to stop. Returns { status, message, bytes (the BLP file), width, height }.
    encodePng(bytes, options, onProgress) {
      const pointer = this.copyIn(bytes);
      if (!pointer) return { status: Status.NO_MEMORY, message: 'not enough memory', bytes: null };
      try {
        return this.withProgress(onProgress, () =>
          this.module._web_encode_png(pointer, bytes.byteLength, optionsWord(options), this.result));
      } finally {
        this.module._free(pointer);
      }
    }

    // Encodes R, G, B, A pixels (a JPEG the browser decoded).
    encodeRgba(rgba, width, height, hasAlpha, options, onProgress) {
      const pointer = this.copyIn(rgba);
      if (!pointer) return { status: Status.NO_MEMORY, message: 'not enough memory', bytes: null };
      try {
        return this.withProgress(onProgress, () =>
          this.module._web_encode_rgba(pointer, width, height, hasAlpha ? 1 : 0, optionsWord(options), this.result));
      } finally {
        this.module._free(pointer);
      }
    }

    withProgress(onProgress, run) {
      this.module.onProgress = onProgress || null;
      try {
        run();
      } finally {
        this.module.onProgress = null;
      }
      return this.readResult(true);
    }
  }

  // An open BLP file; its bytes stay in the module's memory until close().
  class BlpFile {
    constructor(codec, handle, pointer) {
      this.codec = codec;
      this.handle = handle;
      this.pointer = pointer;
      const m = codec.module;
      const text = m._web_describe(handle);
      this.description = JSON.parse(m.UTF8ToString(text));
      m._web_free(text);
    }

    // Level k as R, G, B, A: { status, message, bytes, width, height, damageFlags, ... }.
    // A damaged level (status DAMAGED) still has the recovered pixels.
    decodeLevel(level) {
      this.codec.module._web_decode_level(this.handle, level, this.codec.result);
      return this.codec.readResult(true);
    }

    // Level k as the PNG file `vellum decode` writes (salvage: `--salvage`).
    levelPng(level, salvage) {
      this.codec.module._web_level_png(this.handle, level, salvage ? 1 : 0, this.codec.result);
      return this.codec.readResult(true);
    }

    close() {
      if (!this.handle) return;
      this.codec.module._web_close(this.handle);
      this.codec.module._free(this.pointer);
      this.handle = 0;
    }
  }

  const api = { Codec, BlpFile, Status, CONTENT_TYPES, QUANTIZERS, DEFAULT_OPTIONS, optionsWord };
  root.VellumCodec = api;
  if (typeof module === 'object' && module.exports) module.exports = api;
})(typeof self !== 'undefined' ? self : globalThis);
