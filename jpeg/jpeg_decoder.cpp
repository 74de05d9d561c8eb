// decodeJpeg: start, the marker scan that dispatches segments and scans, then the output
// stage and the damage report. The decoder keeps all of its state in the caller's memory.
#include "jpeg/jpeg_decoder.h"

#include <cstring>
#include <new>

#include "jpeg/jpeg_decode_internal.h"
#include "jpeg/jpeg_tables.h"

namespace vellum {

uint64_t jpegCoefficientBytes(uint32_t width, uint32_t height) {
  const uint64_t positions = ((uint64_t(width) + 7) / 8) * ((uint64_t(height) + 7) / 8);  // below 2^59
  return positions > UINT64_MAX / 512 ? 0 : positions * 512;
}

uint64_t jpegDecoderBytes(uint32_t width, uint32_t height) {
  const uint64_t positions = ((uint64_t(width) + 7) / 8) * ((uint64_t(height) + 7) / 8);
  const uint64_t limit = uint64_t(SIZE_MAX) / 2;
  if (positions > (limit - kJpegStateBytes) / 512) return 0;
  return positions * 512 + kJpegStateBytes;
}

JpegDecoder* jpegDecoderInit(void* memory, uint64_t bytes, uint32_t width, uint32_t height) {
  const uint64_t needed = jpegDecoderBytes(width, height);
  if (memory == nullptr || needed == 0 || bytes < needed) return nullptr;
  if (reinterpret_cast<uintptr_t>(memory) % kJpegDecoderAlignment != 0) return nullptr;
  auto* decoder = new (memory) JpegDecoder;
  decoder->width = width;
  decoder->height = height;
  decoder->keepCoefficients = false;
  decoder->carefulOnly = false;
  decoder->avx2 = jpegAvx2Available();
  decoder->coefficients = reinterpret_cast<int16_t*>(static_cast<uint8_t*>(memory) + kJpegStateBytes);
  return decoder;
}

namespace {

void startDecode(JpegDecoder* s) {
  s->bitBuffer = 0;
  s->bitCount = 0;
  // Tables the stream never defines have no codes: every symbol read from them is "no match".
  std::memset(s->huffCounts, 0, sizeof s->huffCounts);
  std::memset(s->huffValues, 0, sizeof s->huffValues);
  for (int t = 0; t < 8; ++t) buildHuffmanLookup(s, t);
  for (int t = 0; t < 4; ++t) {
    std::memcpy(s->dequant[t], idctScaleTable, sizeof idctScaleTable);
    s->dcLimit[t] = dcLimitFor(1);
  }
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
  s->restartInterval = 0;
  s->damage = 0;
  s->blockCut = false;
  s->frameSeen = false;
  s->endSeen = false;
  s->scanBroke = false;
  s->huffmanDefined = 0;
  s->quantDefined = 0;
  s->scans = 0;
  s->blocksDecoded = 0;
  for (int c = 0; c < 4; ++c) s->fullPrecision[c] = 0;
  s->noRestartBefore = nullptr;
  s->streaming = false;
  s->coefficientsCleared = false;
  s->outputStopped = false;
  s->nextPosition = 0;
  const uint64_t positions = blockColumns(s) * blockRows(s);
  const uint64_t budget = positions * kJpegBlockVisitsPerPosition;
  s->blockVisitsLeft = budget > kJpegMinBlockVisits ? budget : kJpegMinBlockVisits;
}

inline uint8_t takeByte(JpegDecoder* s) {
  --s->remaining;
  return *s->input++;
}

inline void skipBytes(JpegDecoder* s, uint32_t count) {
  s->input += count;
  s->remaining -= count;
}

// Tables a scan reads that the stream never defined: its Huffman tables (DC for a first
// DC pass or a sequential scan from coefficient 0, AC for a band past 0 except a DC-only
// refinement) and the quantization tables of its components.
bool scanLacksTables(const JpegDecoder* s) {
  const bool progressive = s->frameType == 0xC2;
  const bool needsDc = s->spectralStart == 0 && (!progressive || s->refineMask == 0);
  const bool needsAc = progressive ? s->spectralStart > 0 : s->spectralEnd > 0;
  for (int i = 0; i < 4 && s->scanComponents[i] != kScanListEnd; ++i) {
    const uint32_t c = s->scanComponents[i];
    if (needsDc && !(s->huffmanDefined >> s->dcTable[c] & 1)) return true;
    if (needsAc && !(s->huffmanDefined >> s->acTable[c] & 1)) return true;
    if (!(s->quantDefined >> (s->quantSelector[c] & 3) & 1)) return true;
  }
  return false;
}

// Whether nothing after the scan data starting at `p` can change the image: every marker
// there is a restart marker, fill or stuffing, up to an EOI (after which nothing is read).
bool onlyScanDataFollows(const uint8_t* p, uint32_t n) {
  const uint8_t* end = p + n;
  while (p < end) {
    p = static_cast<const uint8_t*>(std::memchr(p, 0xFF, size_t(end - p)));
    if (p == nullptr || p + 1 == end || p[1] == 0xD9) return true;
    const uint8_t code = p[1];
    if (code != 0x00 && code != 0xFF && (code & 0xF8) != 0xD0) return false;
    ++p;
  }
  return true;
}

// Where a scan's blocks go: a sequential full-resolution frame whose first scan nothing can
// change afterwards is written to the output as it is decoded; any other scan fills the
// coefficient buffer for the output stage.
void prepareScan(JpegDecoder* s) {
  if (s->coefficientsCleared) return;
  if (!s->keepCoefficients && s->nextPosition == 0 && s->frameType != 0xC2 && s->hMax == 1 && s->vMax == 1 &&
      onlyScanDataFollows(s->input, s->remaining)) {
    s->streaming = true;
    std::memset(s->mcuBlocks, 0, sizeof s->mcuBlocks);
    return;
  }
  s->streaming = false;
  clearCoefficients(s);
}

// The last few bytes, too short for a segment the marker scan would read: only an EOI
// there still tells that the stream is whole.
bool endMarkerIn(const uint8_t* bytes, uint32_t count) {
  for (uint32_t i = 0; i + 1 < count; ++i) {
    if (bytes[i] != 0xFF) continue;
    uint32_t j = i + 1;
    while (j + 1 < count && bytes[j] == 0xFF) ++j;
    if (bytes[j] == 0xD9) return true;
    i = j - 1;
  }
  return false;
}

// The marker scan. `remaining` always counts the bytes that really follow `input`: a body
// that is not skipped (a long unknown segment searched byte by byte, a DHT or DQT too short
// to read) stays part of the stream, and the scan of it does not shorten the stream's end.
void readSegments(JpegDecoder* s) {
  bool firstMarker = true;
  while (s->remaining > 4) {
    if (takeByte(s) != 0xFF) continue;
    uint8_t code = takeByte(s);
    // Fill bytes: any number of 0xFF may precede a marker code.
    while (code == 0xFF && s->remaining > 0) code = takeByte(s);
    const bool first = firstMarker;
    if (code != 0x00 && code != 0xFF) firstMarker = false;
    // Markers that stand alone, without a length: stuffing, SOI, TEM and the restart
    // markers. A restart marker met here lies outside the place a scan expects it; the rest
    // of that scan's data is searched for the next marker.
    if (code == 0x00 || code == 0xFF) continue;
    if (code == 0x01 || (code >= 0xD0 && code <= 0xD7) || (code == 0xD8 && !first)) {
      s->damage |= kJpegMisplacedMarker;
      continue;
    }
    if (code == 0xD8) continue;
    if (code == 0xD9) {  // end of image
      s->endSeen = true;
      break;
    }
    if (s->remaining < 2) break;
    const uint32_t length = uint32_t(takeByte(s)) << 8 | takeByte(s);
    // The body: what the length announces after its own two bytes, clipped to the stream.
    const uint32_t bodySize = length < 2 ? 0 : (length - 2 < s->remaining ? length - 2 : s->remaining);
    const uint32_t declared = length < 2 ? length : bodySize + 2;
    if (length >= 2 && length - 2 > s->remaining) s->damage |= kJpegDataEndedEarly;  // a segment cut short
    const SegmentBody body{s->input, bodySize};
    switch (code) {
      case 0xC0: case 0xC1: case 0xC2: case 0xC3: case 0xC9: case 0xCA:
        if (s->frameSeen) s->damage |= kJpegMisplacedMarker;  // read all the same, as always
        s->frameSeen = true;
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
        ++s->scans;
        if (!s->frameSeen) s->damage |= kJpegMissingTables;
        if (decode && scanLacksTables(s)) s->damage |= kJpegMissingTables;
        if (decode) {
          prepareScan(s);
          decodeScan(s);
        }
        break;
      }
      case 0xDD:
        // The restart interval of the scans that follow. Skipped like any short segment.
        if (declared >= 4) s->restartInterval = uint16_t(body.bytes[0] << 8 | body.bytes[1]);
        if (declared >= 2 && declared <= 255) skipBytes(s, bodySize);
        break;
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

// Whether every coefficient of every component of the frame reached its full precision.
bool imageComplete(const JpegDecoder* s) {
  const uint32_t components = s->componentCount < 4 ? s->componentCount : 4;
  if (components == 0) return false;  // a frame that names no component has nothing to show
  for (uint32_t c = 0; c < components; ++c)
    if (s->fullPrecision[c] != ~uint64_t(0)) return false;
  return true;
}

}  // namespace

JpegDecodeResult decodeJpeg(JpegDecoder* decoder, const uint8_t* stream, uint32_t length, const JpegOutput& output) {
  JpegDecodeResult result;
  if (decoder == nullptr || output.pixels == nullptr) {
    result.flags = kJpegMissingTables;
    return result;
  }
  JpegDecoder* s = decoder;
  s->input = stream;
  s->remaining = stream != nullptr ? length : 0;
  s->output = output.pixels;
  s->outputStride = output.stride;
  s->progressCallback = output.progress;
  s->progressContext = output.progressContext;
  startDecode(s);
  if (s->remaining > 4) readSegments(s);
  if (!s->endSeen && s->remaining <= 4) s->endSeen = endMarkerIn(s->input, s->remaining);
  if (!s->streaming) reconstructImage(s);

  result.blocksTotal = blockColumns(s) * blockRows(s);
  result.scans = s->scans;
  result.flags = s->damage;
  if (!s->frameSeen) result.flags |= kJpegMissingTables;
  // An image short of scans is missing data; so is a stream that stops before its EOI
  // without a whole image.
  const bool complete = s->frameSeen && imageComplete(s) && !(s->damage & kJpegDataEndedEarly);
  if (!complete && (s->frameSeen || !s->endSeen) && !(s->damage & kJpegTimeBound)) result.flags |= kJpegDataEndedEarly;
  if (!s->endSeen && complete) result.flags |= kJpegMissingEnd;
  result.blocksDecoded = s->blocksDecoded;
  return result;
}

}  // namespace vellum
