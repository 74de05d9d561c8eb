// decodeJpeg: start, the marker scan that dispatches segments and scans, then the output
// stage. The decoder keeps all of its state in the caller's JpegDecodeState.
#include "jpeg/jpeg_decoder.h"

#include <cstring>

#include "jpeg/jpeg_decode_internal.h"
#include "jpeg/jpeg_tables.h"

namespace vellum {

uint64_t jpegCoefficientBytes(uint32_t width, uint32_t height) {
  return ((uint64_t(width) + 7) / 8) * ((uint64_t(height) + 7) / 8) * 512;
}

uint64_t jpegDecodeStoreBytes(uint32_t width, uint32_t height) {
  uint64_t bytes = jpegCoefficientBytes(width, height) + sizeof(JpegDecodeState);
  return bytes > uint64_t(SIZE_MAX) / 2 ? 0 : bytes;
}

namespace {

void startDecode(JpegDecodeState* s) {
  s->bitBuffer = 0;
  s->bitCount = 0;
  // Tables the stream never defines have no codes: every symbol read from them is "no match".
  std::memset(s->huffCounts, 0, sizeof s->huffCounts);
  std::memset(s->huffValues, 0, sizeof s->huffValues);
  for (int t = 0; t < 8; ++t) buildHuffmanLookup(s, t);
  for (int t = 0; t < 4; ++t) std::memcpy(s->dequant[t], idctScaleTable, sizeof idctScaleTable);
  for (int i = 0; i < 1024; ++i) s->rangeLimit[i] = uint8_t(i < 256 ? i : i < 512 ? 255 : 0);
  for (int c = 0; c < 4; ++c) {
    s->hSampling[c] = 1;
    s->vSampling[c] = 1;
    s->quantSelector[c] = 0;
    s->componentId[c] = uint8_t(c);
    s->scanComponents[c] = kScanListEnd;
    s->dcTable[c] = 0;
    s->acTable[c] = 4;
    s->dcPredictor[c] = 0;
  }
  std::memset(s->workspace, 0, sizeof s->workspace);
  s->hMax = 1;
  s->vMax = 1;
  s->componentCount = 3;
  s->frameType = 0;
  s->currentComponent = 0;
  s->precision = 0;
  s->spectralStart = 0;
  s->spectralEnd = 0;
  s->successiveLow = 0;
  s->refineMask = 0;
  s->eobRun = 0;
  const uint64_t positions = blockColumns(s) * blockRows(s);
  const uint64_t budget = positions * kJpegBlockVisitsPerPosition;
  s->blockVisitsLeft = budget > kJpegMinBlockVisits ? budget : kJpegMinBlockVisits;
  std::memset(s->coefficients, 0, size_t(jpegCoefficientBytes(s->width, s->height)));
}

inline uint8_t takeByte(JpegDecodeState* s) {
  --s->remaining;
  return *s->input++;
}

inline void skipBytes(JpegDecodeState* s, uint32_t count) {
  s->input += count;
  s->remaining -= count;
}

// The marker scan. `remaining` always counts the bytes that really follow `input`: a body
// that is not skipped (a long unknown segment searched byte by byte, a DHT or DQT too short
// to read) stays part of the stream, and the scan of it does not shorten the stream's end.
void readSegments(JpegDecodeState* s) {
  while (s->remaining > 4) {
    if (takeByte(s) != 0xFF) continue;
    uint8_t code = takeByte(s);
    // Fill bytes: any number of 0xFF may precede a marker code.
    while (code == 0xFF && s->remaining > 0) code = takeByte(s);
    // Markers that stand alone, without a length: stuffing, SOI, TEM and the restart
    // markers. A restart marker ends the scan's decoding where it stands; the rest of that
    // scan's data is searched for the next marker.
    if (code == 0x00 || code == 0xD8 || code == 0x01 || (code >= 0xD0 && code <= 0xD7) || code == 0xFF) continue;
    if (code == 0xD9) break;  // end of image
    if (s->remaining < 2) break;
    const uint32_t length = uint32_t(takeByte(s)) << 8 | takeByte(s);
    // The body: what the length announces after its own two bytes, clipped to the stream.
    const uint32_t bodySize = length < 2 ? 0 : (length - 2 < s->remaining ? length - 2 : s->remaining);
    const uint32_t declared = length < 2 ? length : bodySize + 2;
    const SegmentBody body{s->input, bodySize};
    switch (code) {
      case 0xC0: case 0xC1: case 0xC2: case 0xC3: case 0xC9: case 0xCA:
        readFrameHeader(s, code, declared, body);
        skipBytes(s, bodySize);
        break;
      case 0xC4:
        if (declared <= 3) break;
        readHuffmanTables(s, body);
        skipBytes(s, bodySize);
        break;
      case 0xDB:
        if (declared <= 3) break;
        readQuantizationTables(s, body);
        skipBytes(s, bodySize);
        break;
      case 0xDA: {
        const bool decode = readScanHeader(s, declared, body);
        skipBytes(s, bodySize);
        if (decode) decodeScan(s);
        break;
      }
      case 0xDC: case 0xFE:
        skipBytes(s, bodySize);
        break;
      default:
        // DRI, APPn and the like. A segment of 256 bytes or more (length field included) is
        // not skipped: the scan searches its body byte by byte.
        if (declared >= 2 && declared <= 255) skipBytes(s, bodySize);
        break;
    }
  }
}

}  // namespace

void decodeJpeg(JpegDecodeState* state) {
  startDecode(state);
  if (state->remaining > 4) readSegments(state);
  reconstructImage(state);
}

}  // namespace vellum
