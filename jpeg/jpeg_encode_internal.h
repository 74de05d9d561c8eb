// Pieces shared by the baseline and the progressive encoder: quality rule and prologue
// (jpeg_quality.cpp), forward DCT with quantization (jpeg_fdct.cpp), the optimal Huffman
// table builder and the DHT writer (jpeg_huffman_build.cpp), and the bit writer below.
#pragma once

#include <cstdint>

#include "jpeg/jpeg_encoder.h"

namespace vellum {

// Coefficient buffer layout: block b (raster order), component c, 64 coefficients in
// zig-zag order.
inline int16_t* encodeBlock(JpegEncodeContext* ctx, uint64_t block, uint32_t component) {
  return ctx->coefficients + (block * 4 + component) * 64;
}

inline uint64_t encodeBlockCount(const JpegEncodeContext* ctx) {
  return ((uint64_t(ctx->width) + 7) / 8) * ((uint64_t(ctx->height) + 7) / 8);
}

// Number of significant bits of a magnitude (0 for 0).
inline uint32_t significantBits(uint32_t magnitude) {
  return magnitude == 0 ? 0 : 32 - uint32_t(__builtin_clz(magnitude));
}

// Writes one byte at output unless the area is full, in which case overflowed is set.
inline void putByte(JpegEncodeContext* ctx, uint8_t byte) {
  if (ctx->output >= ctx->outputEnd) {
    ctx->overflowed = true;
    return;
  }
  *ctx->output++ = byte;
  ++ctx->byteCount;
}

void putBytes(JpegEncodeContext* ctx, const uint8_t* bytes, uint32_t count);

// Clamps quality to 100, fills quantMultiplier and writes SOI, DQT and the frame header with
// the given code (0xC0 baseline, 0xC2 progressive); byteCount becomes 93.
void writeQuantAndFrameHeader(JpegEncodeContext* ctx, uint8_t frameCode);

// The 8-bit quantization table of a quality (0..100), zig-zag order, as written in the DQT.
void quantTableForQuality(uint32_t quality, uint8_t table[64]);

// Fills the coefficient buffer from the pixels with the forward DCT and quantization.
void forwardDctQuantize(JpegEncodeContext* ctx);

// Forward DCT and quantization of one 8 x 8 block of samples (row-major) into 64
// coefficients in zig-zag order.
void forwardDctBlock(const int32_t* samples, const float* quantMultiplier, int16_t* out);

// Builds the optimal table of `slot` from 257 symbol frequencies (256 = the reserved
// symbol); the frequencies are consumed.
void buildHuffmanTable(JpegEncodeContext* ctx, uint64_t* frequencies, int slot);

// Writes a DHT segment of `slot` with the class/identifier byte (00 DC, 10 AC).
void writeHuffmanTable(JpegEncodeContext* ctx, int slot, uint8_t classAndId);

// Entropy-coded bits, oldest first from bit 63 of `bits`; whole bytes go out as soon as
// they are complete, each 0xFF followed by a stuffed 00. The stream of bytes is the same
// as that of a writer that keeps up to 8 bits pending.
struct BitWriter {
  JpegEncodeContext* ctx;
  uint64_t bits = 0;
  uint32_t count = 0;

  explicit BitWriter(JpegEncodeContext* context) : ctx(context) {}

  // Appends the low n (0..32) bits of value.
  inline void put(uint32_t value, uint32_t n) {
    if (n == 0) return;
    bits |= (uint64_t(value) & ((uint64_t(1) << n) - 1)) << (64 - count - n);
    count += n;
    if (count >= 32) drain();
  }

  inline void drain() {
    while (count >= 8) {
      const uint8_t byte = uint8_t(bits >> 56);
      putByte(ctx, byte);
      if (byte == 0xFF) putByte(ctx, 0x00);
      bits <<= 8;
      count -= 8;
    }
  }

  // putHuffmanSymbol: the code of `symbol` in `slot`.
  inline void putSymbol(uint32_t symbol, int slot) {
    put(ctx->huffCodes[slot][symbol], ctx->codeLengths[slot][symbol]);
  }

  // putSymbolAndBits: symbol run * 16 + s (s = significant bits of magnitude), then the low
  // s bits of valueBits.
  inline void putSymbolAndBits(uint32_t magnitude, uint32_t valueBits, uint32_t run, int slot) {
    const uint32_t s = significantBits(magnitude);
    putSymbol(run * 16 + s, slot);
    put(valueBits, s);
  }

  // The final flush: pending bits padded with 1 bits to a whole byte.
  inline void flush() {
    drain();
    if (count > 0) put(0xFF, 8 - count);
    drain();
    bits = 0;
    count = 0;
  }
};

}  // namespace vellum
