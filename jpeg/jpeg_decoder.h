// A compact, tolerant JPEG decoder for the four-component streams of BLP levels.
//
// It never reports an error: every input yields a width x height image of 4 bytes a
// pixel (byte k = component k, no colour transform), written bottom row first. The image
// size comes from the caller, not from the stream. Baseline and progressive Huffman
// streams are read; the whole image's coefficients are held so that progressive scans may
// come in any order.
#pragma once

#include <cstdint>

namespace vellum {

// Called after each MCU row of the output stage with the percentage done; returning 0
// stops the output stage (rows not yet written keep their previous content).
using JpegProgressCallback = int (*)(void* context, uint32_t percent);

// The decoder's state. The caller allocates it together with the coefficient buffer as
// one block (see jpegDecodeStoreBytes), sets the inputs marked "caller" and calls
// decodeJpeg; every other field is the decoder's.
struct JpegDecodeState {
  uint32_t bitBuffer;            // entropy-coded bits not yet consumed, next bit in bit 31
  uint8_t bitCount;              // valid bits in bitBuffer
  uint8_t huffCounts[8][16];     // codes of length 1..16; tables 0-3 DC, 4-7 AC
  uint8_t huffValues[8][256];    // symbols in code order
  int16_t* coefficients;         // caller: the coefficient buffer (after this record)
  float workspace[4][64];        // one reconstructed 8 x 8 block per component
  int32_t dcPredictor[4];
  float dequant[4][64];          // dequantization multipliers, natural order
  const uint8_t* input;          // caller: first byte of the stream
  uint32_t remaining;            // caller: bytes of the stream
  uint8_t* output;               // caller: width * height * 4 bytes
  uint8_t frameType;             // code of the last frame header (0xC0 ...)
  uint32_t height;               // caller
  uint32_t width;                // caller
  uint8_t currentComponent;
  uint8_t scanComponents[4];     // component indexes of the scan; 14 ends a short list
  uint8_t hSampling[4];
  uint8_t vSampling[4];
  uint8_t hMax, vMax;
  uint32_t componentCount;
  uint8_t componentId[4];
  uint8_t acTable[4];            // 4..7
  uint8_t dcTable[4];            // 0..3
  uint8_t quantSelector[4];
  uint8_t precision;
  uint8_t spectralStart, spectralEnd;
  uint8_t successiveLow;
  uint16_t refineMask;           // 2^Ah - 1; non-zero marks a refinement scan
  uint32_t eobRun;
  JpegProgressCallback progressCallback;  // caller: null for no progress
  void* progressContext;                  // caller: handed back to progressCallback
  uint32_t scansDecoded;                  // scans read so far (bounded, see below)
  uint8_t definedTables;                  // bit t set once Huffman table t was defined
  uint8_t rangeLimit[1024];      // 0..255 identity, 256..511 -> 255, 512..1023 -> 0
};

// Bytes of the coefficient buffer for an image: 512 per 8 x 8 block position
// (4 components x 64 coefficients x 2 bytes). Returns 0 when it overflows 64 bits.
uint64_t jpegCoefficientBytes(uint32_t width, uint32_t height);

// Bytes of one block holding the state record followed by its coefficient buffer, or 0
// when that does not fit this build's address space.
uint64_t jpegDecodeStoreBytes(uint32_t width, uint32_t height);

// At most this many scans of one stream are decoded; later scans are skipped like unknown
// segments. Real encoders write at most a few dozen; the bound keeps a small hostile
// stream from keeping the decoder busy for minutes.
constexpr uint32_t kJpegMaxScans = 256;

void decodeJpeg(JpegDecodeState* state);

}  // namespace vellum
