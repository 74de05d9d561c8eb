// The decoder's state and the pieces of the JPEG decoder shared between its files: segment
// parsing (jpeg_segments.cpp), entropy decoding and the scan walk (jpeg_entropy_decode.cpp)
// and reconstruction (jpeg_idct.cpp). Exposed for the tests, which compare the fast paths
// with plain reference implementations and look at the decoder's tables.
#pragma once

#include <cstdint>
#include <climits>

#include "jpeg/jpeg_decoder.h"

namespace vellum {

// Entries of the fast Huffman lookup (see huffLookup).
constexpr int kJpegLookupBits = 9;

// The decoder's state, at the start of the caller's working memory; the coefficient buffer
// follows it. jpegDecoderInit sets the fields marked "init"; decodeJpeg sets every other
// one before it reads it.
struct alignas(16) JpegDecoder {
  uint64_t bitBuffer;            // entropy-coded bits not yet consumed, next bit in bit 63
  uint8_t bitCount;              // valid bits in bitBuffer (0..64); the bits below are 0
  uint8_t huffCounts[8][16];     // codes of length 1..16; tables 0-3 DC, 4-7 AC
  uint8_t huffValues[8][256];    // symbols in code order
  int16_t* coefficients;         // init: the coefficient buffer (after this record)
  float workspace[4][64];        // one reconstructed 8 x 8 block per component
  int32_t dcPredictor[4];
  float dequant[4][64];          // dequantization multipliers, natural order
  // Per quantization table: the largest DC magnitude that 8-bit samples can give (1024 / q,
  // rounded up, plus one for the quantizer's rounding). A DC beyond it comes from corrupt
  // data: a flipped bit that shifts every DC prediction after it.
  int32_t dcLimit[4];
  const uint8_t* input;          // next byte of the stream
  uint32_t remaining;            // bytes of the stream from `input` on
  uint8_t* output;               // the top row of the image
  int64_t outputStride;          // bytes from one output row to the next
  uint8_t frameType;             // code of the last frame header (0xC0 ...)
  uint32_t height;               // init
  uint32_t width;                // init
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
  uint16_t restartInterval;      // MCUs between restart markers (DRI); 0: none
  JpegProgressCallback progressCallback;  // null for no progress
  void* progressContext;                  // handed back to progressCallback
  uint64_t blockVisitsLeft;               // block decodes still allowed (time bound)
  // What the decode found (see JpegDecodeResult).
  uint32_t damage;               // JpegDamage bits
  bool blockCut;                 // the block just decoded ran out of data before its end
  bool ranOut;                   // a code met the end of the scan's data (and read as no match)
  bool frameSeen;                // a frame header was read
  bool endSeen;                  // the EOI marker was reached
  bool scanBroke;                // a scan ended early: blocksDecoded is that scan's count
  uint8_t huffmanDefined;        // bit t: a DHT defined table t
  uint8_t quantDefined;          // bit t: a DQT defined table t
  uint32_t scans;
  uint64_t blocksDecoded;        // that of the first scan that broke, else of a whole scan
  uint64_t fullPrecision[4];     // per component, bit k: coefficient k complete (Al = 0)
  // Restart handling: no restart marker lies before this position (found by a look-ahead
  // that met another marker first), so later look-aheads up to it are answered at once.
  const uint8_t* noRestartBefore;
  // The next marker (or the end) at or after the input, as far as found: blocks whose bytes
  // all lie before it take the fast sequential decoder. Null: not looked for in this scan.
  const uint8_t* markerAhead;
  // Output straight from the entropy decoder: a sequential full-resolution stream whose first
  // scan is followed by nothing that could change it is decoded MCU by MCU into the output,
  // without the whole-image coefficient buffer (same arithmetic, same bytes).
  bool keepCoefficients;         // init: false; set to always fill the coefficient buffer
  bool carefulOnly;              // init: false; set to decode every block with the careful
                                 // decoders (the reference of the fast paths)
  bool avx2;                     // init: the processor has AVX2 (and this build its paths);
                                 // cleared, the SSE2 or scalar reference runs
  bool streaming;                // the scan being decoded writes the output as it goes
  bool coefficientsCleared;      // the coefficient buffer is zeroed for this stream
  bool outputStopped;            // the progress callback asked to stop the output
  uint64_t nextPosition;         // streaming: the next 8 x 8 position to write
  alignas(16) int16_t mcuBlocks[4][64];   // streaming: the blocks of the MCU being decoded
  alignas(16) uint8_t samples[4][64];     // output: one position's samples per component
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

// The DC limit of a quantization table whose DC value is q.
inline int32_t dcLimitFor(uint32_t q) { return q == 0 ? INT32_MAX : int32_t((1024 + q - 1) / q + 1); }

// Bytes of the state record in the working memory (the coefficient buffer follows).
constexpr uint64_t kJpegStateBytes = (sizeof(JpegDecoder) + 63) / 64 * 64;

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
void readFrameHeader(JpegDecoder* state, uint8_t code, uint32_t declaredLength, SegmentBody body);
void readHuffmanTables(JpegDecoder* state, SegmentBody body);
void readQuantizationTables(JpegDecoder* state, SegmentBody body);
// Returns true when the scan names at least one component and its blocks are to be decoded.
bool readScanHeader(JpegDecoder* state, uint32_t declaredLength, SegmentBody body);

// Rebuilds huffLookup[table] from huffCounts[table].
void buildHuffmanLookup(JpegDecoder* state, int table);

// Adds stream bytes below the valid bits of bitBuffer until it holds at least 57 bits, the
// data end, or a marker is reached (the input is then left at the marker's 0xFF).
void fillBits(JpegDecoder* state);

// The canonical Huffman search of `table` on the top bits of bitBuffer (through the
// lookup); consumes the code's bits on a match that the buffer holds. Call fillBits first.
HuffmanSymbol decodeHuffmanSymbol(JpegDecoder* state, int table);

// Decodes the blocks of the scan whose header was just read, resynchronising at restart
// markers, and records what it found in `damage`, `blocksDecoded` and `fullPrecision`.
void decodeScan(JpegDecoder* state);

// Inverse DCT of one block: `coefficients` quantized, natural order; `dequant` the
// multipliers; `out` receives 64 samples (level-shifted, plus 0.5 for rounding) row-major.
void inverseDctBlock(const int16_t* coefficients, const float* dequant, float* out);

// Whether this processor runs AVX2 and this build has the AVX2 paths (jpeg_idct_avx2.h).
bool jpegAvx2Available();

// The output stage: inverse DCT of every block, upsampling by replication, rows top-down
// into the output with its stride.
void reconstructImage(JpegDecoder* state);

// Streaming output: writes the 8 x 8 positions from nextPosition up to `position`, the one
// at `position` from `blocks` (4 x 64 coefficients) and those before it as blocks without
// coefficients (passed over by the scan). With position = the number of positions, writes
// the rest of the image that way.
void streamPositionsUpTo(JpegDecoder* state, uint64_t position, const int16_t* blocks);

// Bytes of the coefficient buffer zeroed, once per stream, before a scan or the output
// stage reads it.
void clearCoefficients(JpegDecoder* state);

// Block rows and columns of the coefficient buffer.
inline uint64_t blockColumns(const JpegDecoder* state) { return (uint64_t(state->width) + 7) / 8; }
inline uint64_t blockRows(const JpegDecoder* state) { return (uint64_t(state->height) + 7) / 8; }

// The 64 coefficients of component c at block row by, block column bx.
inline int16_t* coefficientBlock(JpegDecoder* state, uint32_t c, uint64_t by, uint64_t bx) {
  return state->coefficients + ((uint64_t(c) * blockRows(state) + by) * blockColumns(state) + bx) * 64;
}

}  // namespace vellum
