// The progressive encoder: SOF2 and a fixed script of 18 scans (spectral selection and
// successive approximation), each AC scan with its own optimal Huffman table.
//
//   #      components        Ss  Se  Ah  Al   table
//   1      0-3 interleaved    0   0   0   1   DC table 0 (always written)
//   2-5    0, 1, 2, 3         1   5   0   2   AC table 0
//   6-9    0, 1, 2, 3         6  63   0   2   AC table 0
//   10-13  0, 1, 2, 3         1  63   2   1   AC table 0
//   14     0-3 interleaved    0   0   1   0   none (raw bits)
//   15-18  0, 1, 2, 3         1  63   1   0   AC table 0
//
// End-of-band runs of the refinement scans are planned in their statistics pass and their
// lengths stored in the DC entries of the coefficient buffer (bits 1-15 of the first block
// of each run; bit 0, the DC's lowest bit, is kept for scan 14), so that the coding pass
// writes each block's correction bits as it visits it.
//
// Every pass walks the set bits of per-block coefficient masks (coefficients that are
// significant in the scan, newly significant, with an odd correction bit) instead of
// testing the 63 coefficients of a block one by one.
#include <cstdlib>
#include <cstring>

#include "jpeg/jpeg_encode_internal.h"

namespace vellum {

namespace {

constexpr uint32_t kMaxEobRun = 32767;

// floor(log2(run)) for run >= 1: the n of end-of-band symbol 16n.
inline uint32_t eobBits(uint32_t run) { return run > 1 ? significantBits(run) - 1 : 0; }

// Slot 0 holds the DC table during scan 1 and the AC table written last afterwards.
bool sameAsRemembered(const JpegEncodeContext* ctx) {
  uint32_t values = 0;
  for (int l = 0; l < 16; ++l) {
    if (ctx->huffCounts[0][l] != ctx->huffCounts[1][l]) return false;
    values += ctx->huffCounts[1][l];
  }
  return std::memcmp(ctx->huffValues[0], ctx->huffValues[1], values) == 0;
}

// Writes the DHT of slot 1 unless it equals the AC table written last.
void writeAcTableIfNew(JpegEncodeContext* ctx) {
  if (sameAsRemembered(ctx)) return;
  std::memcpy(ctx->huffCounts[0], ctx->huffCounts[1], sizeof ctx->huffCounts[0]);
  std::memcpy(ctx->huffValues[0], ctx->huffValues[1], sizeof ctx->huffValues[0]);
  writeHuffmanTable(ctx, 1, 0x10);
}

void writeInterleavedScanHeader(JpegEncodeContext* ctx, uint8_t approximation) {
  const uint8_t header[] = {0xFF, 0xDA, 0x00, 0x0E, 0x04, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00,
                            0x03, 0x00, 0x00, 0x00, approximation};
  putBytes(ctx, header, sizeof header);
}

void writeComponentScanHeader(JpegEncodeContext* ctx, uint32_t component, uint8_t ss, uint8_t se,
                              uint8_t approximation) {
  const uint8_t header[] = {0xFF, 0xDA, 0x00, 0x08, 0x01, uint8_t(component), 0x00, ss, se, approximation};
  putBytes(ctx, header, sizeof header);
}

// Step 3: DC entries become the point-transformed differences (bits 1-15) with the DC's
// lowest bit kept in bit 0.
void prepareDc(JpegEncodeContext* ctx, uint64_t blocks) {
  for (uint32_t c = 0; c < 4; ++c) {
    uint16_t previous = 0;
    for (uint64_t b = 0; b < blocks; ++b) {
      int16_t* entry = encodeBlock(ctx, b, c);
      const uint16_t dc = uint16_t(*entry);
      if (b > 0) *entry = int16_t(uint16_t(((dc & 0xFFFE) - previous) & 0xFFFF) | (dc & 1));
      previous = dc & 0xFFFE;
    }
  }
}

// Magnitude of the DC difference coded in scan 1 for a prepared entry.
inline uint32_t dcMagnitude(int16_t v) { return v >= 0 ? uint32_t(v >> 1) : uint32_t((1 - int32_t(v)) >> 1); }

void encodeDcFirst(JpegEncodeContext* ctx, uint64_t blocks) {
  uint64_t frequencies[257];
  std::memset(frequencies, 0, sizeof frequencies);
  for (uint64_t b = 0; b < blocks; ++b)
    for (uint32_t c = 0; c < 4; ++c) ++frequencies[significantBits(dcMagnitude(encodeBlock(ctx, b, c)[0]))];
  frequencies[256] = 1;
  buildHuffmanTable(ctx, frequencies, 0);
  writeHuffmanTable(ctx, 0, 0x00);
  writeInterleavedScanHeader(ctx, 0x01);

  BitWriter out(ctx);
  for (uint64_t b = 0; b < blocks && !ctx->overflowed; ++b) {
    for (uint32_t c = 0; c < 4; ++c) {
      const int16_t v = encodeBlock(ctx, b, c)[0];
      const uint32_t m = dcMagnitude(v);
      out.putSymbolAndBits(m, v >= 0 ? m : ~m, 0, 0);
    }
  }
  out.flush();
  // No AC table is remembered yet: the first AC table never matches.
  std::memset(ctx->huffCounts[0], 0, sizeof ctx->huffCounts[0]);
}

// An end-of-band run: symbol 16n (n = eobBits(run)), then the low n bits of the run.
inline void putEobRun(BitWriter& out, uint32_t run) {
  const uint32_t n = eobBits(run);
  const uint32_t symbol = 16 * n;
  const uint64_t low = uint64_t(run) & ((uint64_t(1) << n) - 1);
  out.putBits((uint64_t(out.ctx->huffCodes[1][symbol]) << n) | low, out.ctx->codeLengths[1][symbol] + n);
}

// Scans 2-9: first pass over the band ss..se of one component with Al = 2.
void encodeAcFirst(JpegEncodeContext* ctx, uint64_t blocks, uint32_t c, uint32_t ss, uint32_t se) {
  constexpr uint32_t al = 2;
  const uint64_t band = bitsFrom(ss) & bitsUpTo(se);
  uint64_t frequencies[257];
  std::memset(frequencies, 0, sizeof frequencies);
  uint32_t run = 0;
  for (uint64_t b = 0; b < blocks; ++b) {
    const int16_t* coefficients = encodeBlock(ctx, b, c);
    uint64_t significant = shiftedNonzeroMask(coefficients, al) & band;
    uint32_t previous = ss - 1;  // position of the last coded coefficient
    while (significant != 0) {
      const uint32_t k = lowestBit(significant);
      significant &= significant - 1;
      if (run > 0) {
        ++frequencies[16 * eobBits(run)];
        run = 0;
      }
      uint32_t r = k - previous - 1;
      for (; r > 15; r -= 16) ++frequencies[0xF0];
      ++frequencies[16 * r + significantBits(uint32_t(std::abs(int32_t(coefficients[k]))) >> al)];
      previous = k;
    }
    if (previous != se && ++run == kMaxEobRun) {
      ++frequencies[0xE0];
      run = 0;
    }
  }
  if (run > 0) ++frequencies[16 * eobBits(run)];
  frequencies[256] = 1;
  buildHuffmanTable(ctx, frequencies, 1);
  writeAcTableIfNew(ctx);
  writeComponentScanHeader(ctx, c, uint8_t(ss), uint8_t(se), 0x02);

  BitWriter out(ctx);
  run = 0;
  for (uint64_t b = 0; b < blocks && !ctx->overflowed; ++b) {
    const int16_t* coefficients = encodeBlock(ctx, b, c);
    uint64_t significant = shiftedNonzeroMask(coefficients, al) & band;
    uint32_t previous = ss - 1;
    while (significant != 0) {
      const uint32_t k = lowestBit(significant);
      significant &= significant - 1;
      if (run > 0) {
        putEobRun(out, run);
        run = 0;
      }
      uint32_t r = k - previous - 1;
      for (; r > 15; r -= 16) out.putSymbol(0xF0, 1);
      const int32_t v = coefficients[k];
      const uint32_t m = uint32_t(std::abs(v)) >> al;
      out.putSymbolAndBits(m, v >= 0 ? m : ~m, r, 1);
      previous = k;
    }
    if (previous != se && ++run == kMaxEobRun) {
      putEobRun(out, kMaxEobRun);
      run = 0;
    }
  }
  if (run > 0) putEobRun(out, run);
  out.flush();
}

// Stores a run length in bits 1-15 of a block's DC entry, keeping bit 0.
inline void storeRun(int16_t* entry, uint32_t run) {
  *entry = int16_t(uint16_t((run << 1) | (uint16_t(*entry) & 1)));
}

// Correction bits, oldest in the highest of the low `count` bits (count below 64).
struct CorrectionBits {
  uint64_t bits = 0;
  uint32_t count = 0;

  // Appends the bits of `odd` at the set positions of `where`, lowest position first.
  inline void take(uint64_t where, uint64_t odd) {
    while (where != 0) {
      bits = bits << 1 | ((odd >> lowestBit(where)) & 1);
      ++count;
      where &= where - 1;
    }
  }
  inline void putAndClear(BitWriter& out) {
    while (count > 32) {
      count -= 32;
      out.putBits((bits >> count) & 0xFFFFFFFFu, 32);
    }
    out.putBits(bits & ((uint64_t(1) << count) - 1), count);
    bits = 0;
    count = 0;
  }
};

// Positions 0..k-1.
inline uint64_t bitsBelow(uint32_t k) { return (uint64_t(1) << k) - 1; }

// Scans 10-13 (Al = 1) and 15-18 (Al = 0): refinement of band 1..63 of one component. Per
// block, `one` marks the newly significant coefficients (|v| >> Al == 1), `zero` those
// still insignificant, `old` the already significant ones, which send a correction bit.
void encodeAcRefine(JpegEncodeContext* ctx, uint64_t blocks, uint32_t c, uint32_t al) {
  const uint64_t acBand = ~uint64_t(1);
  // Statistics and run planning.
  uint64_t frequencies[257];
  std::memset(frequencies, 0, sizeof frequencies);
  uint32_t run = 0;
  int16_t* runStart = nullptr;
  for (uint64_t b = 0; b < blocks; ++b) {
    int16_t* coefficients = encodeBlock(ctx, b, c);
    const MagnitudeMasks masks = magnitudeMasks(coefficients, al);
    uint64_t one = masks.one & acBand;
    uint64_t zero = ~masks.nonzero & acBand;
    const bool lastNew = (one >> 63) != 0;
    while (one != 0) {
      const uint32_t e = lowestBit(one);
      one &= one - 1;
      if (run > 0) {
        storeRun(runStart, run);
        ++frequencies[16 * eobBits(run)];
        run = 0;
      }
      // The zeros since the previous new coefficient: a ZRL per 16, then the symbol.
      const uint32_t zeros = bitCount(zero & bitsBelow(e));
      zero &= ~bitsBelow(e);
      frequencies[0xF0] += zeros / 16;
      ++frequencies[16 * (zeros % 16) + 1];
    }
    if (!lastNew) {
      if (run == 0) runStart = coefficients;
      if (++run == kMaxEobRun) {
        ++frequencies[0xE0];
        storeRun(runStart, kMaxEobRun);
        run = 0;
      }
    }
  }
  if (run > 0) {
    storeRun(runStart, run);
    ++frequencies[16 * eobBits(run)];
  }
  frequencies[256] = 1;
  buildHuffmanTable(ctx, frequencies, 1);
  writeAcTableIfNew(ctx);
  writeComponentScanHeader(ctx, c, 1, 63, uint8_t((al + 1) << 4 | al));

  // Coding.
  BitWriter out(ctx);
  uint32_t left = 0;  // blocks still to go in the current end-of-band run
  for (uint64_t b = 0; b < blocks && !ctx->overflowed; ++b) {
    const int16_t* coefficients = encodeBlock(ctx, b, c);
    const MagnitudeMasks masks = magnitudeMasks(coefficients, al);
    const uint64_t nonzero = masks.nonzero & acBand;
    uint64_t tail = nonzero;  // the coefficients whose correction bits follow the last symbol
    if (left == 0) {
      uint64_t one = masks.one & acBand;
      const uint64_t zero = ~masks.nonzero & acBand;
      const uint64_t old = nonzero & ~one;
      const uint32_t last = one != 0 ? highestBit(one) : 0;
      CorrectionBits correction;
      uint32_t previous = 0;  // the last new coefficient
      while (one != 0) {
        const uint32_t e = lowestBit(one);
        one &= one - 1;
        const uint64_t between = bitsBelow(e) & ~bitsBelow(previous + 1);
        uint32_t r = bitCount(zero & between);
        if (r < 16) {
          correction.take(old & between, masks.odd);
        } else {
          // A ZRL at every 16th zero, with the correction bits gathered before it.
          r = 0;
          for (uint32_t k = previous + 1; k < e; ++k) {
            if ((old >> k) & 1) {
              correction.take(uint64_t(1) << k, masks.odd);
            } else if (++r == 16) {
              out.putSymbol(0xF0, 1);
              correction.putAndClear(out);
              r = 0;
            }
          }
        }
        const uint32_t symbol = 16 * r + 1;
        const uint64_t sign = coefficients[e] > 0 ? 1 : 0;
        out.putBits((uint64_t(ctx->huffCodes[1][symbol]) << 1) | sign, ctx->codeLengths[1][symbol] + 1);
        correction.putAndClear(out);
        previous = e;
      }
      if (last == 63) continue;
      const uint32_t runLength = uint16_t(coefficients[0]) >> 1;
      putEobRun(out, runLength);
      left = runLength;
      tail = nonzero & ~bitsBelow(last + 1);
    }
    CorrectionBits correction;
    correction.take(tail, masks.odd);
    correction.putAndClear(out);
    --left;
  }
  out.flush();
}

// Scan 14: the DC's lowest bit of every block and component, as raw bits.
void encodeDcRefine(JpegEncodeContext* ctx, uint64_t blocks) {
  writeInterleavedScanHeader(ctx, 0x10);
  BitWriter out(ctx);
  for (uint64_t b = 0; b < blocks && !ctx->overflowed; ++b)
    for (uint32_t c = 0; c < 4; ++c) out.put(uint16_t(encodeBlock(ctx, b, c)[0]) & 1, 1);
  out.flush();
}

}  // namespace

void encodeJpegProgressive(JpegEncodeContext* ctx) {
  uint8_t* const start = ctx->output;
  ctx->overflowed = false;
  writeQuantAndFrameHeader(ctx, 0xC2);
  forwardDctQuantize(ctx);
  const uint64_t blocks = encodeBlockCount(ctx);
  prepareDc(ctx, blocks);

  encodeDcFirst(ctx, blocks);
  for (uint32_t c = 0; c < 4 && !ctx->overflowed; ++c) encodeAcFirst(ctx, blocks, c, 1, 5);
  for (uint32_t c = 0; c < 4 && !ctx->overflowed; ++c) encodeAcFirst(ctx, blocks, c, 6, 63);
  for (uint32_t c = 0; c < 4 && !ctx->overflowed; ++c) encodeAcRefine(ctx, blocks, c, 1);
  if (!ctx->overflowed) encodeDcRefine(ctx, blocks);
  for (uint32_t c = 0; c < 4 && !ctx->overflowed; ++c) encodeAcRefine(ctx, blocks, c, 0);
  static const uint8_t kEnd[] = {0xFF, 0xD9};
  putBytes(ctx, kEnd, sizeof kEnd);
  if (!ctx->overflowed) ctx->output = start + ctx->byteCount - 2;
}

}  // namespace vellum
