// Pieces shared by the baseline and the progressive encoder: quality rule and prologue
// (jpeg_quality.cpp), forward DCT with quantization (jpeg_fdct.cpp and its lane kernels),
// the optimal Huffman table builder and the DHT writer (jpeg_huffman_build.cpp), the bit
// writer and the coefficient masks below.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "jpeg/jpeg_encoder.h"
#include "jpeg/jpeg_fdct.h"

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

// Builds the optimal table of `slot` from 257 symbol frequencies (256 = the reserved
// symbol); the frequencies are consumed.
void buildHuffmanTable(JpegEncodeContext* ctx, uint64_t* frequencies, int slot);

// Writes a DHT segment of `slot` with the class/identifier byte (00 DC, 10 AC).
void writeHuffmanTable(JpegEncodeContext* ctx, int slot, uint8_t classAndId);

// --- Coefficient masks ---------------------------------------------------------------------
// Bit k of a mask describes coefficient k (zig-zag order) of a block. The coders walk the
// set bits instead of testing 63 coefficients one by one.

// nonzeroMask: bits of the coefficients that are not 0. shiftedNonzeroMask: of those with
// |v| >> shift != 0. magnitudeMasks: that, and the bits of |v| >> shift == 1 and of odd
// |v| >> shift.
struct MagnitudeMasks {
  uint64_t nonzero;
  uint64_t one;
  uint64_t odd;  // (|v| >> shift) & 1: the correction bit of a refinement scan
};

#if defined(__SSE2__)
namespace maskdetail {
// 16 bits of one byte-mask pair of 8-lane comparisons.
inline uint32_t packMask(__m128i low, __m128i high) {
  return uint32_t(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
}
// |v| >> shift for 8 coefficients; |-32768| is 32768, as the scalar code has it.
inline __m128i shiftedMagnitudes(const int16_t* c, __m128i shift) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
  const __m128i magnitude = _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
  return _mm_srl_epi16(magnitude, shift);
}
}  // namespace maskdetail

inline uint64_t nonzeroMask(const int16_t* c) {
  const __m128i zero = _mm_setzero_si128();
  uint64_t zeros = 0;
  for (int q = 0; q < 4; ++q) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 16 * q));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 16 * q + 8));
    zeros |= uint64_t(maskdetail::packMask(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero))) << (16 * q);
  }
  return ~zeros;
}

inline uint64_t shiftedNonzeroMask(const int16_t* c, uint32_t shift) {
  const __m128i count = _mm_cvtsi32_si128(int(shift));
  const __m128i zero = _mm_setzero_si128();
  uint64_t zeros = 0;
  for (int q = 0; q < 4; ++q) {
    const __m128i a = maskdetail::shiftedMagnitudes(c + 16 * q, count);
    const __m128i b = maskdetail::shiftedMagnitudes(c + 16 * q + 8, count);
    zeros |= uint64_t(maskdetail::packMask(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero))) << (16 * q);
  }
  return ~zeros;
}

inline MagnitudeMasks magnitudeMasks(const int16_t* c, uint32_t shift) {
  const __m128i count = _mm_cvtsi32_si128(int(shift));
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi16(1);
  MagnitudeMasks m{0, 0, 0};
  uint64_t zeros = 0;
  for (int q = 0; q < 4; ++q) {
    const __m128i a = maskdetail::shiftedMagnitudes(c + 16 * q, count);
    const __m128i b = maskdetail::shiftedMagnitudes(c + 16 * q + 8, count);
    zeros |= uint64_t(maskdetail::packMask(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero))) << (16 * q);
    m.one |= uint64_t(maskdetail::packMask(_mm_cmpeq_epi16(a, one), _mm_cmpeq_epi16(b, one))) << (16 * q);
    m.odd |= uint64_t(maskdetail::packMask(_mm_cmpeq_epi16(_mm_and_si128(a, one), one),
                                           _mm_cmpeq_epi16(_mm_and_si128(b, one), one)))
             << (16 * q);
  }
  m.nonzero = ~zeros;
  return m;
}
#else
inline uint64_t nonzeroMask(const int16_t* c) {
  uint64_t m = 0;
  for (int k = 0; k < 64; ++k) m |= uint64_t(c[k] != 0) << k;
  return m;
}

inline uint64_t shiftedNonzeroMask(const int16_t* c, uint32_t shift) {
  uint64_t m = 0;
  for (int k = 0; k < 64; ++k) {
    const int32_t v = c[k];
    m |= uint64_t((uint32_t(v < 0 ? -v : v) >> shift) != 0) << k;
  }
  return m;
}

inline MagnitudeMasks magnitudeMasks(const int16_t* c, uint32_t shift) {
  MagnitudeMasks m{0, 0, 0};
  for (int k = 0; k < 64; ++k) {
    const int32_t v = c[k];
    const uint32_t a = uint32_t(v < 0 ? -v : v) >> shift;
    m.nonzero |= uint64_t(a != 0) << k;
    m.one |= uint64_t(a == 1) << k;
    m.odd |= uint64_t(a & 1) << k;
  }
  return m;
}
#endif

inline uint32_t lowestBit(uint64_t mask) { return uint32_t(__builtin_ctzll(mask)); }
inline uint32_t highestBit(uint64_t mask) { return 63 - uint32_t(__builtin_clzll(mask)); }
// Without a popcnt instruction in the baseline instruction set, __builtin_popcountll is a
// library call; this inline count costs a dozen instructions.
inline uint32_t bitCount(uint64_t mask) {
  mask = mask - ((mask >> 1) & 0x5555555555555555ull);
  mask = (mask & 0x3333333333333333ull) + ((mask >> 2) & 0x3333333333333333ull);
  mask = (mask + (mask >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return uint32_t((mask * 0x0101010101010101ull) >> 56);
}
// Bits first..63 set (first <= 63).
inline uint64_t bitsFrom(uint32_t first) { return ~uint64_t(0) << first; }
// Bits 0..last set (last <= 63).
inline uint64_t bitsUpTo(uint32_t last) { return ~uint64_t(0) >> (63 - last); }

// --- Bit writer ----------------------------------------------------------------------------

// Entropy-coded bits, oldest first. Pending bits sit in the low end of a 64-bit word; a full
// word goes out as 8 bytes at once when none of them is 0xFF (one store), otherwise byte by
// byte with a 00 stuffed after each 0xFF. The bytes are those of a writer that emits each
// byte as soon as it is complete. The writer keeps its own output position and hands it
// back to the context in flush(), which ends every scan.
struct BitWriter {
  JpegEncodeContext* ctx;
  uint8_t* out;
  uint8_t* const start;
  uint8_t* const end;
  uint64_t buffer = 0;  // the low (64 - free) bits are pending; bits above them are stale
  uint32_t free = 64;

  explicit BitWriter(JpegEncodeContext* context)
      : ctx(context), out(context->output), start(context->output), end(context->outputEnd) {}

  // Appends n (0..32) bits; value has no bit at or above n.
  inline void putBits(uint64_t value, uint32_t n) {
    if (n < free) {
      buffer = (buffer << n) | value;
      free -= n;
      return;
    }
    const uint32_t rest = n - free;  // free <= n <= 32, so both shifts are below 64
    writeWord((buffer << free) | (value >> rest));
    buffer = value;
    free = 64 - rest;
  }

  // Appends the low n (0..32) bits of value.
  inline void put(uint32_t value, uint32_t n) { putBits(uint64_t(value) & ((uint64_t(1) << n) - 1), n); }

  // The code of `symbol` in `slot`.
  inline void putSymbol(uint32_t symbol, int slot) {
    putBits(ctx->huffCodes[slot][symbol], ctx->codeLengths[slot][symbol]);
  }

  // Symbol run * 16 + s (s = significant bits of magnitude), then the low s bits of
  // valueBits, as one append (a code is at most 16 bits, s at most 16).
  inline void putSymbolAndBits(uint32_t magnitude, uint32_t valueBits, uint32_t run, int slot) {
    const uint32_t s = significantBits(magnitude);
    const uint32_t symbol = run * 16 + s;
    const uint64_t value = uint64_t(valueBits) & ((uint64_t(1) << s) - 1);
    putBits((uint64_t(ctx->huffCodes[slot][symbol]) << s) | value, ctx->codeLengths[slot][symbol] + s);
  }

  // Pending bits padded with 1 bits to a whole byte, written out; the context's output and
  // byteCount then cover everything this writer wrote.
  inline void flush() {
    const uint32_t partial = (64 - free) % 8;
    if (partial != 0) putBits((uint64_t(1) << (8 - partial)) - 1, 8 - partial);
    if (free < 64) {
      // The pending bits are now whole bytes: free is a multiple of 8, at least 8.
      const uint64_t word = buffer << free;
      for (int shift = 56; shift >= int(free); shift -= 8) putStuffed(uint8_t(word >> shift));
    }
    buffer = 0;
    free = 64;
    ctx->byteCount += uint32_t(out - start);
    ctx->output = out;
  }

 private:
  inline void putChecked(uint8_t byte) {
    if (out >= end) {
      ctx->overflowed = true;
      return;
    }
    *out++ = byte;
  }
  inline void putStuffed(uint8_t byte) {
    putChecked(byte);
    if (byte == 0xFF) putChecked(0x00);
  }
  inline void writeWord(uint64_t word) {
    // A byte is 0xFF exactly when the same byte of ~word is zero.
    const uint64_t inverted = ~word;
    const bool hasFF = ((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) != 0;
    if (!hasFF && end - out >= 8) {
      const uint64_t bigEndian = __builtin_bswap64(word);
      std::memcpy(out, &bigEndian, 8);
      out += 8;
      return;
    }
    for (int shift = 56; shift >= 0; shift -= 8) putStuffed(uint8_t(word >> shift));
  }
};

}  // namespace vellum
