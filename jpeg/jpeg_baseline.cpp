// The baseline encoder: SOI, DQT, SOF0, one DC and one AC table optimised for the level and
// shared by the four components, one interleaved scan, EOI.
#include <cstdlib>
#include <cstring>

#include "jpeg/jpeg_encode_internal.h"

namespace vellum {

namespace {

// Replaces every DC by its difference to the previous block's DC of the same component.
void differenceDc(JpegEncodeContext* ctx, uint64_t blocks) {
  for (uint32_t c = 0; c < 4; ++c) {
    int16_t previous = 0;
    for (uint64_t b = 0; b < blocks; ++b) {
      int16_t* dc = encodeBlock(ctx, b, c);
      const int16_t value = *dc;
      if (b > 0) *dc = int16_t(uint16_t(uint16_t(value) - uint16_t(previous)));
      previous = value;
    }
  }
}

void countSymbols(JpegEncodeContext* ctx, uint64_t blocks, uint64_t* dcFrequencies, uint64_t* acFrequencies) {
  for (uint64_t b = 0; b < blocks; ++b) {
    for (uint32_t c = 0; c < 4; ++c) {
      const int16_t* coefficients = encodeBlock(ctx, b, c);
      ++dcFrequencies[significantBits(uint32_t(std::abs(int32_t(coefficients[0]))))];
      uint32_t run = 0;
      for (int k = 1; k < 64; ++k) {
        const int32_t v = coefficients[k];
        if (v == 0) {
          ++run;
          continue;
        }
        while (run > 15) {
          ++acFrequencies[0xF0];
          run -= 16;
        }
        ++acFrequencies[run * 16 + significantBits(uint32_t(std::abs(v)))];
        run = 0;
      }
      if (run > 0) ++acFrequencies[0x00];
    }
  }
  dcFrequencies[256] = 1;
  acFrequencies[256] = 1;
}

void codeBlocks(JpegEncodeContext* ctx, uint64_t blocks) {
  BitWriter out(ctx);
  for (uint64_t b = 0; b < blocks && !ctx->overflowed; ++b) {
    for (uint32_t c = 0; c < 4; ++c) {
      const int16_t* coefficients = encodeBlock(ctx, b, c);
      const int32_t d = coefficients[0];
      if (d == 0)
        out.putSymbol(0, 0);
      else
        out.putSymbolAndBits(uint32_t(std::abs(d)), uint32_t(d < 0 ? d - 1 : d), 0, 0);
      uint32_t run = 0;
      for (int k = 1; k < 64; ++k) {
        const int32_t v = coefficients[k];
        if (v == 0) {
          ++run;
          continue;
        }
        while (run > 15) {
          out.putSymbol(0xF0, 1);
          run -= 16;
        }
        out.putSymbolAndBits(uint32_t(std::abs(v)), uint32_t(v < 0 ? v - 1 : v), run, 1);
        run = 0;
      }
      if (run > 0) out.putSymbol(0x00, 1);
    }
  }
  out.flush();
}

}  // namespace

void encodeJpegBaseline(JpegEncodeContext* ctx) {
  uint8_t* const start = ctx->output;
  ctx->overflowed = false;
  writeQuantAndFrameHeader(ctx, 0xC0);
  forwardDctQuantize(ctx);
  const uint64_t blocks = encodeBlockCount(ctx);
  differenceDc(ctx, blocks);

  uint64_t dcFrequencies[257], acFrequencies[257];
  std::memset(dcFrequencies, 0, sizeof dcFrequencies);
  std::memset(acFrequencies, 0, sizeof acFrequencies);
  countSymbols(ctx, blocks, dcFrequencies, acFrequencies);
  buildHuffmanTable(ctx, dcFrequencies, 0);
  buildHuffmanTable(ctx, acFrequencies, 1);
  writeHuffmanTable(ctx, 0, 0x00);
  writeHuffmanTable(ctx, 1, 0x10);

  static const uint8_t kScanHeader[] = {0xFF, 0xDA, 0x00, 0x0E, 0x04, 0x00, 0x00, 0x01, 0x00,
                                        0x02, 0x00, 0x03, 0x00, 0x00, 0x3F, 0x00};
  putBytes(ctx, kScanHeader, sizeof kScanHeader);
  if (!ctx->overflowed) codeBlocks(ctx, blocks);
  static const uint8_t kEnd[] = {0xFF, 0xD9};
  putBytes(ctx, kEnd, sizeof kEnd);
  if (!ctx->overflowed) ctx->output = start + ctx->byteCount - 2;
}

}  // namespace vellum
