// Baseline and progressive JPEG encoders for BLP levels: four components (the pixel bytes,
// no colour transform), all sampled 1 x 1, one quantization table, Huffman tables
// optimised for each level (and each progressive scan).
#pragma once

#include <cstdint>

namespace vellum {

// One per save, reused for every level. The writer sets quality once, and for each level
// output, outputEnd, coefficients, pixels, width and height, then calls an encoder.
struct JpegEncodeContext {
  float quantMultiplier[64];     // fdctScaleTable[n] / q[n], natural order
  uint32_t quality;              // 1..100; above 100 is replaced by 100 in place
  uint8_t* output;               // next byte of the stream; advanced by the encoder
  uint8_t* outputEnd;            // the encoder never writes at or beyond this address
  int16_t* coefficients;         // jpegEncodeCoefficientBytes(width0, height0) bytes
  const uint8_t* pixels;         // 4 bytes a pixel, row-major, row 0 first
  uint32_t height;
  uint32_t width;
  uint32_t byteCount;            // bytes of the stream written by the last call
  bool overflowed;               // set when the stream did not fit before outputEnd
  uint8_t huffCounts[2][16];     // slot 0 DC, slot 1 AC
  uint8_t huffValues[2][256];
  uint16_t huffCodes[2][256];
  uint32_t codeLengths[2][257];
};

// Coefficient room for a level: ceil(w/8) * ceil(h/8) * 512 bytes.
uint64_t jpegEncodeCoefficientBytes(uint32_t width, uint32_t height);

// Each writes one complete stream (SOI to EOI) at ctx->output and sets byteCount; output
// is left at the stream's final FF D9 pair. When the stream would pass outputEnd, nothing
// is written at or beyond outputEnd, overflowed is set, the encoder stops early and
// byteCount is not meaningful: the caller gives more room and calls again. Both encoders
// clear overflowed on entry.
//
// Room: a stream never needs more than jpegEncodeStreamBound(width, height) bytes, so an
// area of that size always succeeds on the first call. Typical levels need far less (about
// a byte a pixel at quality 100 for texture-like images), hence the retry design.
void encodeJpegBaseline(JpegEncodeContext* ctx);
void encodeJpegProgressive(JpegEncodeContext* ctx);

// An upper bound of the bytes of either encoder's stream for a level of this size.
uint64_t jpegEncodeStreamBound(uint32_t width, uint32_t height);

}  // namespace vellum
