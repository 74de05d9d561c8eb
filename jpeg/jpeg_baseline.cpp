// The baseline encoder: SOI, DQT, SOF0, one DC and one AC table optimised for the level and
// shared by the four components, one interleaved scan, EOI.
//
// Two passes over the coefficient buffer. The first transforms one block row at a time and,
// while the row is still in cache, turns its DCs into differences and counts the symbols;
// the second codes. Both walk the set bits of each block's non-zero mask rather than its 63
// AC coefficients.
#include <cstdlib>
#include <cstring>

#include "jpeg/jpeg_encode_internal.h"

namespace vellum {

namespace {

// The DC of each block becomes its difference to the previous block's DC of the same
// component (16-bit wrap-around, as the coefficients are stored), and the block's symbols
// are counted.
void differenceAndCount(int16_t* block, int16_t* previousDc, uint64_t* dcFrequencies, uint64_t* acFrequencies) {
  const int16_t dc = block[0];
  block[0] = int16_t(uint16_t(uint16_t(dc) - uint16_t(*previousDc)));
  *previousDc = dc;
  ++dcFrequencies[significantBits(uint32_t(std::abs(int32_t(block[0]))))];
  uint64_t nonzero = nonzeroMask(block) & ~uint64_t(1);
  uint32_t previous = 0;  // position of the last coded coefficient
  while (nonzero != 0) {
    const uint32_t k = lowestBit(nonzero);
    nonzero &= nonzero - 1;
    uint32_t run = k - previous - 1;
    for (; run > 15; run -= 16) ++acFrequencies[0xF0];
    ++acFrequencies[run * 16 + significantBits(uint32_t(std::abs(int32_t(block[k]))))];
    previous = k;
  }
  if (previous != 63) ++acFrequencies[0x00];
}

void codeBlock(BitWriter& out, const int16_t* block) {
  const int32_t d = block[0];
  out.putSymbolAndBits(uint32_t(std::abs(d)), uint32_t(d < 0 ? d - 1 : d), 0, 0);
  uint64_t nonzero = nonzeroMask(block) & ~uint64_t(1);
  uint32_t previous = 0;
  while (nonzero != 0) {
    const uint32_t k = lowestBit(nonzero);
    nonzero &= nonzero - 1;
    uint32_t run = k - previous - 1;
    for (; run > 15; run -= 16) out.putSymbol(0xF0, 1);
    const int32_t v = block[k];
    out.putSymbolAndBits(uint32_t(std::abs(v)), uint32_t(v < 0 ? v - 1 : v), run, 1);
    previous = k;
  }
  if (previous != 63) out.putSymbol(0x00, 1);
}

}  // namespace

void encodeJpegBaseline(JpegEncodeContext* ctx) {
  uint8_t* const start = ctx->output;
  ctx->overflowed = false;
  writeQuantAndFrameHeader(ctx, 0xC0);

  uint64_t dcFrequencies[257], acFrequencies[257];
  std::memset(dcFrequencies, 0, sizeof dcFrequencies);
  std::memset(acFrequencies, 0, sizeof acFrequencies);
  const FdctKernel kernel = fastestFdctKernel();
  const uint64_t columns = (uint64_t(ctx->width) + 7) / 8, blockRows = (uint64_t(ctx->height) + 7) / 8;
  int16_t previousDc[4] = {0, 0, 0, 0};
  for (uint64_t row = 0; row < blockRows; ++row) {
    forwardDctQuantizeRows(ctx, kernel, row, 1);
    for (uint64_t b = row * columns; b < (row + 1) * columns; ++b)
      for (uint32_t c = 0; c < 4; ++c)
        differenceAndCount(encodeBlock(ctx, b, c), &previousDc[c], dcFrequencies, acFrequencies);
  }
  dcFrequencies[256] = 1;
  acFrequencies[256] = 1;
  buildHuffmanTable(ctx, dcFrequencies, 0);
  buildHuffmanTable(ctx, acFrequencies, 1);
  writeHuffmanTable(ctx, 0, 0x00);
  writeHuffmanTable(ctx, 1, 0x10);

  static const uint8_t kScanHeader[] = {0xFF, 0xDA, 0x00, 0x0E, 0x04, 0x00, 0x00, 0x01, 0x00,
                                        0x02, 0x00, 0x03, 0x00, 0x00, 0x3F, 0x00};
  putBytes(ctx, kScanHeader, sizeof kScanHeader);
  if (!ctx->overflowed) {
    BitWriter out(ctx);
    const uint64_t blocks = columns * blockRows;
    for (uint64_t b = 0; b < blocks && !ctx->overflowed; ++b)
      for (uint32_t c = 0; c < 4; ++c) codeBlock(out, encodeBlock(ctx, b, c));
    out.flush();
  }
  static const uint8_t kEnd[] = {0xFF, 0xD9};
  putBytes(ctx, kEnd, sizeof kEnd);
  if (!ctx->overflowed) ctx->output = start + ctx->byteCount - 2;
}

}  // namespace vellum
