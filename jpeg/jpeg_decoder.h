// A compact, tolerant JPEG decoder for the four-component streams of BLP levels.
//
// Every input yields a width x height image of 4 bytes a pixel (byte k = component k, no
// colour transform), written top row first into the caller's memory with the caller's
// stride. The image size comes from the caller, not from the stream. Baseline and
// progressive Huffman streams are read, with or without restart intervals; the whole
// image's coefficients are held so that progressive scans may come in any order.
//
// The decoder repairs what it can and always writes every pixel; what it found on the way
// comes back as damage flags (errors: pixels are missing or wrong; warnings: repaired
// without loss of pixels). Hosts that are tolerant by design ignore them.
//
// Bytes of components the stream lacks: a one-component stream repeats its samples in
// bytes 0, 1 and 2; any other missing colour byte (0 to 2) is 128, the flat sample of a
// block without data; byte 3 is 255 (opaque) whenever the stream has fewer than four
// components.
//
// The decoder allocates nothing and has no process-wide state: the host hands in the
// working memory, and distinct decoders may run on distinct threads.
#pragma once

#include <cstdint>

namespace vellum {

struct JpegDecoder;  // opaque (jpeg/jpeg_decode_internal.h)

// Called after each MCU row of the output stage with the percentage done; returning 0
// stops the output stage (rows not yet written keep their previous content).
using JpegProgressCallback = int (*)(void* context, uint32_t percent);

// The working memory's alignment, in bytes.
constexpr uint64_t kJpegDecoderAlignment = 16;

// Bytes of working memory a decoder for a width x height image needs (state + coefficient
// buffer), 0 when that does not fit this build's address space.
uint64_t jpegDecoderBytes(uint32_t width, uint32_t height);

// Turns `memory` (at least jpegDecoderBytes bytes, kJpegDecoderAlignment-aligned) into a
// decoder for a width x height image; null when the memory is missing, too small or
// misaligned. Nothing else is allocated: hosts hand in memory from their own allocators.
// The memory needs no initialisation, and one decoder may decode any number of streams.
JpegDecoder* jpegDecoderInit(void* memory, uint64_t bytes, uint32_t width, uint32_t height);

struct JpegOutput {
  uint8_t* pixels = nullptr;   // the top row of the image, 4 bytes a pixel (byte k = component k)
  int64_t stride = 0;          // bytes from one row to the next; negative for bottom-up memory
  JpegProgressCallback progress = nullptr;
  void* progressContext = nullptr;
};

enum JpegDamage : uint32_t {
  kJpegDataEndedEarly = 1u << 0,   // the data ended inside a scan (or a scan's data ended at a
                                   // marker before its last block), or the image's scans end
                                   // before every coefficient has its full precision
  kJpegCorruptData = 1u << 1,      // codes that match no table entry, runs past the end of a
                                   // block or of a scan, data left over in a scan after its
                                   // last block, restart markers missing where the interval
                                   // needs one
  kJpegMissingTables = 1u << 2,    // no frame header, or a scan needs a Huffman or
                                   // quantization table the stream never defined
  kJpegTimeBound = 1u << 3,        // the block-decode budget (the time bound) ran out
  kJpegMisplacedMarker = 1u << 8,  // warning: markers out of place, skipped (a second frame
                                   // header or SOI, restart markers out of sequence or outside
                                   // a scan, TEM)
  kJpegMissingEnd = 1u << 9,       // warning: a complete image without its EOI
};
constexpr uint32_t kJpegErrors = 0xFF, kJpegWarnings = 0xFF00;

struct JpegDecodeResult {
  uint32_t flags = 0;          // JpegDamage bits
  uint64_t blocksDecoded = 0;  // 8 x 8 block positions decoded; when the data ended or broke
                               // inside a scan: those of that scan before it did
  uint64_t blocksTotal = 0;    // 8 x 8 block positions of the image
  uint32_t scans = 0;          // scans read
};

// Decodes `length` bytes of `stream` into `output`. Every pixel of the decoder's
// width x height image is written (unless the progress callback stops the output), and
// nothing outside it. A null decoder or output writes nothing and reports
// kJpegMissingTables.
JpegDecodeResult decodeJpeg(JpegDecoder* decoder, const uint8_t* stream, uint32_t length, const JpegOutput& output);

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

}  // namespace vellum
