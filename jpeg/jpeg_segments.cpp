// Segment bodies of the decoder: frame header (SOF), Huffman tables (DHT), quantization
// tables (DQT) and scan header (SOS). Every read stays inside the body; a body too short
// for its content is handled by the tolerant rules of each segment.
#include <algorithm>

#include "jpeg/jpeg_decode_internal.h"
#include "jpeg/jpeg_tables.h"

namespace vellum {

namespace {

// Reads a segment body front to back. Callers keep their reads within the body's size;
// a read past it yields 0 rather than touching memory beyond the stream.
struct BodyReader {
  const uint8_t* bytes;
  uint32_t left;

  uint8_t next() {
    if (left == 0) return 0;
    --left;
    return *bytes++;
  }
};

// Sampling factor byte nibble -> 1, 2, 4 or 8 (rounded down to a power of two; 0 counts as 1).
uint8_t horizontalFactor(uint8_t hv) { return hv >= 0x80 ? 8 : hv >= 0x40 ? 4 : hv >= 0x20 ? 2 : 1; }
uint8_t verticalFactor(uint8_t hv) { return (hv & 8) ? 8 : (hv & 4) ? 4 : (hv & 2) ? 2 : 1; }

}  // namespace

void readFrameHeader(JpegDecoder* state, uint8_t code, uint32_t declaredLength, SegmentBody body) {
  state->frameType = code;
  state->currentComponent = 0;
  if (declaredLength < 8) return;
  BodyReader in{body.bytes, body.size};
  state->precision = in.next();
  for (int i = 0; i < 4; ++i) in.next();  // the stream's height and width: the caller's size rules
  const uint32_t declaredComponents = in.next();
  state->componentCount = std::min<uint32_t>({declaredComponents, (declaredLength - 8) / 3, 4});
  state->hMax = 0;
  state->vMax = 0;
  for (uint32_t i = 0; i < state->componentCount; ++i) {
    state->componentId[i] = in.next();
    const uint8_t hv = in.next();
    state->hSampling[i] = horizontalFactor(hv);
    state->vSampling[i] = verticalFactor(hv);
    state->quantSelector[i] = in.next();
    state->hMax = std::max(state->hMax, state->hSampling[i]);
    state->vMax = std::max(state->vMax, state->vSampling[i]);
  }
  // A frame that names no component still needs an MCU of at least one block: with a
  // zero-sized MCU the block walk would never advance.
  if (state->hMax == 0) state->hMax = 1;
  if (state->vMax == 0) state->vMax = 1;
}

void readHuffmanTables(JpegDecoder* state, SegmentBody body) {
  BodyReader in{body.bytes, body.size};
  uint32_t r = body.size;
  if (r <= 17) return;
  do {
    const uint8_t b = in.next();
    int t = b & 0x13;
    if (t > 3) t -= 12;  // class 1 (AC) tables are 4..7
    state->huffmanDefined = uint8_t(state->huffmanDefined | 1u << t);
    uint8_t counts[16];
    uint32_t total = 0;
    for (int i = 0; i < 16; ++i) {
      counts[i] = in.next();
      total += counts[i];
    }
    r -= 17;
    uint32_t valuesLeft = std::min(total, r);
    r -= valuesLeft;
    uint32_t stored = 0;
    while (valuesLeft > 0) {
      const uint8_t value = in.next();
      --valuesLeft;
      if (value == 0xFF) {
        // Our encoders escape a value 0xFF with a 00 byte counted in the segment length.
        if (r > 0) {
          in.next();
          --r;
        } else if (valuesLeft > 0) {
          in.next();
          --valuesLeft;
        } else {
          break;  // the last value, with nothing after it: not stored
        }
      }
      // A table has room for 256 values; the bytes of any surplus are read and dropped.
      if (stored < 256) state->huffValues[t][stored] = value;
      ++stored;
    }
    // Keep only the first 256 codes in canonical order, so that every code that can match
    // has a value; the surplus codes (a table summing past 256) match nothing. The kept
    // codes are the same as in the table as written, since canonical codes are assigned in
    // order of length.
    uint32_t room = 256;
    for (int i = 0; i < 16; ++i) {
      const uint32_t kept = std::min<uint32_t>(counts[i], room);
      state->huffCounts[t][i] = uint8_t(kept);
      room -= kept;
    }
    buildHuffmanLookup(state, t);
  } while (r > 17);
}

void readQuantizationTables(JpegDecoder* state, SegmentBody body) {
  BodyReader in{body.bytes, body.size};
  uint32_t r = body.size;
  if (r <= 3) return;
  do {
    const uint8_t b = in.next();
    --r;
    const int t = b & 3;
    state->quantDefined = uint8_t(state->quantDefined | 1u << t);
    const bool wide = (b >> 4) != 0;
    const uint32_t width = wide ? 2 : 1;
    const uint32_t n = std::min<uint32_t>(r / width, 64);
    for (uint32_t k = 0; k < n; ++k) {
      uint32_t value = in.next();
      if (wide) value = (value << 8) | in.next();
      const uint8_t natural = zigzagOrder[k];
      if (k == 0) state->dcLimit[t] = dcLimitFor(value);
      state->dequant[t][natural] = float(value) * idctScaleTable[natural];
    }
    r -= n * width;
  } while (r > 3);
}

bool readScanHeader(JpegDecoder* state, uint32_t declaredLength, SegmentBody body) {
  BodyReader in{body.bytes, body.size};
  const uint32_t declaredComponents = in.next();
  const uint32_t n = std::min<uint32_t>(declaredComponents, 4);
  if (declaredLength < 2 * n + 6) return false;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t selector = in.next();
    uint8_t index = uint8_t(i);
    for (uint8_t j = 0; j < 4; ++j) {
      if (state->componentId[j] == selector) {
        index = j;
        break;
      }
    }
    state->scanComponents[i] = index;
    const uint8_t tables = in.next() & 0x33;
    state->dcTable[index] = tables >> 4;
    state->acTable[index] = uint8_t((tables & 3) + 4);
  }
  if (n < 4) state->scanComponents[n] = kScanListEnd;
  state->spectralStart = in.next() & 63;
  state->spectralEnd = in.next() & 63;
  const uint8_t approximation = in.next();
  state->successiveLow = approximation & 15;
  state->refineMask = uint16_t((1u << (approximation >> 4)) - 1);
  // A scan that names no component has nothing to decode; its entropy-coded bytes are
  // passed over by the marker scan like the body of an unknown segment.
  state->currentComponent = n > 0 ? state->scanComponents[0] : 0;
  state->bitBuffer = 0;
  state->bitCount = 0;
  for (int c = 0; c < 4; ++c) state->dcPredictor[c] = 0;
  state->eobRun = 0;
  return n > 0;
}

}  // namespace vellum
