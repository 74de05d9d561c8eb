// Pieces of the JPEG decoder shared between its files: segment parsing (jpeg_markers.cpp),
// entropy decoding (jpeg_entropy_decode.cpp) and reconstruction (jpeg_idct.cpp). Exposed
// for the tests, which compare the fast paths with plain reference implementations.
#pragma once

#include <cstdint>

#include "jpeg/jpeg_decoder.h"

namespace vellum {

// The value a scan component list ends with when the scan has fewer than four components.
constexpr uint8_t kScanListEnd = 14;

// Result of decodeHuffmanSymbol.
struct HuffmanSymbol {
  uint8_t symbol;   // 0 when nothing matched
  uint8_t length;   // code length 1..16, or 0 when nothing matched (no bits consumed)
  bool exhausted;   // a code matched but is longer than the bits left in the stream
};

// A segment body: the bytes after a marker's length field, clipped to the stream.
struct SegmentBody {
  const uint8_t* bytes;
  uint32_t size;
};

// Segment handlers (jpeg_segments.cpp). `declaredLength` is the segment length as the
// stream gives it, limited to the bytes the stream still holds (so it counts the two
// length bytes; below 2 when the stream's length field is).
void readFrameHeader(JpegDecodeState* state, uint8_t code, uint32_t declaredLength, SegmentBody body);
void readHuffmanTables(JpegDecodeState* state, SegmentBody body);
void readQuantizationTables(JpegDecodeState* state, SegmentBody body);
// Returns true when the scan names at least one component and its blocks are to be decoded.
bool readScanHeader(JpegDecodeState* state, uint32_t declaredLength, SegmentBody body);

// Rebuilds huffLookup[table] from huffCounts[table].
void buildHuffmanLookup(JpegDecodeState* state, int table);

// Adds stream bytes below the valid bits of bitBuffer until it holds at least 57 bits, the
// data end, or a marker is reached (the input is then left at the marker's 0xFF).
void fillBits(JpegDecodeState* state);

// The canonical Huffman search of `table` on the top bits of bitBuffer (through the
// lookup); consumes the code's bits on a match that the buffer holds. Call fillBits first.
HuffmanSymbol decodeHuffmanSymbol(JpegDecodeState* state, int table);

// Decodes the blocks of the scan whose header was just read.
void decodeScan(JpegDecodeState* state);

// Inverse DCT of one block: `coefficients` quantized, natural order; `dequant` the
// multipliers; `out` receives 64 samples (level-shifted, plus 0.5 for rounding) row-major.
void inverseDctBlock(const int16_t* coefficients, const float* dequant, float* out);

// The output stage: inverse DCT of every block, upsampling by replication, bottom-up rows.
void reconstructImage(JpegDecodeState* state);

// Block rows and columns of the coefficient buffer.
inline uint64_t blockColumns(const JpegDecodeState* state) { return (uint64_t(state->width) + 7) / 8; }
inline uint64_t blockRows(const JpegDecodeState* state) { return (uint64_t(state->height) + 7) / 8; }

// The 64 coefficients of component c at block row by, block column bx.
inline int16_t* coefficientBlock(JpegDecodeState* state, uint32_t c, uint64_t by, uint64_t bx) {
  return state->coefficients + ((uint64_t(c) * blockRows(state) + by) * blockColumns(state) + bx) * 64;
}

}  // namespace vellum
