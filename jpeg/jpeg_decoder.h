// A compact, tolerant JPEG decoder for the four-component streams of BLP levels.
//
// It never reports an error: every input yields a width x height image of 4 bytes a
// pixel (byte k = component k, no colour transform), written bottom row first. The image
// size comes from the caller, not from the stream. Baseline and progressive Huffman
// streams are read; the whole image's coefficients are held so that progressive scans may
// come in any order.
//
// Bytes of components the stream lacks: a one-component stream repeats its samples in
// bytes 0, 1 and 2; any other missing colour byte (0 to 2) is 128, the flat sample of a
// block without data; byte 3 is 255 (opaque) whenever the stream has fewer than four
// components.
#pragma once

#include <cstdint>

namespace vellum {

// Called after each MCU row of the output stage with the percentage done; returning 0
// stops the output stage (rows not yet written keep their previous content).
using JpegProgressCallback = int (*)(void* context, uint32_t percent);

// Entries of the fast Huffman lookup (see huffLookup).
constexpr int kJpegLookupBits = 9;

// The decoder's state. The caller allocates it together with the coefficient buffer as
// one block (see jpegDecodeStoreBytes), sets the inputs marked "caller" and calls
// decodeJpeg; every other field is the decoder's and needs no initialisation.
struct JpegDecodeState {
  uint64_t bitBuffer;            // entropy-coded bits not yet consumed, next bit in bit 63
  uint8_t bitCount;              // valid bits in bitBuffer (0..64); the bits below are 0
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
  uint8_t quantSelector[4];      // as read from the frame header; tables are selector & 3
  uint8_t precision;
  uint8_t spectralStart, spectralEnd;
  uint8_t successiveLow;
  uint16_t refineMask;           // 2^Ah - 1; non-zero marks a refinement scan
  uint32_t eobRun;
  JpegProgressCallback progressCallback;  // caller: null for no progress
  void* progressContext;                  // caller: handed back to progressCallback
  uint64_t blockVisitsLeft;               // block decodes still allowed (time bound, below)
  // Per table, indexed by the next kJpegLookupBits bits: (length << 8) | symbol for a code
  // of at most kJpegLookupBits bits, kJpegLookupLonger when a longer code may match, or
  // kJpegLookupNoMatch when no code can match those bits. Rebuilt with each DHT; it gives
  // exactly the result of the canonical search over huffCounts.
  uint16_t huffLookup[8][1 << kJpegLookupBits];
  // For the AC tables (4..7), by the same bits: a coefficient whose code and value bits
  // together fit in kJpegLookupBits, as (value << 16) | (run << 8) | (code + value bits);
  // 0 when the bits start no such coefficient.
  int32_t acCoefficientLookup[4][1 << kJpegLookupBits];
  uint8_t rangeLimit[1024];      // 0..255 identity, 256..511 -> 255, 512..1023 -> 0
};

constexpr uint16_t kJpegLookupLonger = 0;
constexpr uint16_t kJpegLookupNoMatch = 0xFFFF;

// Bytes of the coefficient buffer for an image: 512 per 8 x 8 block position
// (4 components x 64 coefficients x 2 bytes). Returns 0 when it overflows 64 bits.
uint64_t jpegCoefficientBytes(uint32_t width, uint32_t height);

// Bytes of one block holding the state record followed by its coefficient buffer, or 0
// when that does not fit this build's address space.
uint64_t jpegDecodeStoreBytes(uint32_t width, uint32_t height);

// Time bound: one stream may decode at most kJpegBlockVisitsPerPosition block decodes per
// 8 x 8 block position of the image (but never fewer than kJpegMinBlockVisits). A complete
// four-component progressive stream of our encoder or of libjpeg's standard script needs 24
// per position, a baseline stream 4. When the budget is spent, the scan in progress ends
// there and later scans are passed over; the image is reconstructed from what was decoded.
// This keeps a small hostile stream (for instance thousands of scans whose bits match no
// code, each of which would walk every block of a 32768 x 32768 image) from keeping the
// decoder busy for minutes.
constexpr uint32_t kJpegBlockVisitsPerPosition = 32;
constexpr uint64_t kJpegMinBlockVisits = uint64_t(1) << 20;

void decodeJpeg(JpegDecodeState* state);

}  // namespace vellum
