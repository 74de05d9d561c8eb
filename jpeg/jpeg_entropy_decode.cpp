// Entropy decoding: the bit reader, Huffman symbols, the three block decoders (sequential,
// progressive first pass, progressive refinement) and the block walk of a scan with its
// restart intervals.
//
// Exhausted data end a scan (or its restart interval); a bit pattern that matches no code
// reads as symbol 0 without consuming bits. Coefficients are stored quantized, in natural
// order. What does not fit a sound stream is recorded in the decoder's damage flags; it
// never changes what is decoded.
#include <algorithm>
#include <cstring>

#include "jpeg/jpeg_decode_internal.h"
#include "jpeg/jpeg_tables.h"

namespace vellum {

namespace {

// Bits the reader keeps topped up: after fillBits at least this many are buffered unless
// the data end. Every check "are there n bits" (n <= 16) follows a fill for at least n
// bits, so a larger buffer gives the same results as a 16-bit one; filling only when fewer
// than n bits are buffered gives the same answers with far fewer refills.
constexpr uint8_t kFillTarget = 57;

inline void fill(JpegDecoder* s, uint32_t needed) {
  if (s->bitCount < needed) fillBits(s);
}

inline void consumeBits(JpegDecoder* s, uint32_t n) {
  s->bitBuffer <<= n;
  s->bitCount = uint8_t(s->bitCount - n);
}

// A bit pattern that matches no code. With fewer bits than the longest code left (the
// reader was filled, so the data end or a marker follows) the code may simply be cut off:
// the data ended. With more, the data are corrupt.
inline void noMatch(JpegDecoder* s) {
  if (s->bitCount < 16) {
    s->damage |= kJpegDataEndedEarly;
    s->ranOut = true;
  } else {
    s->damage |= kJpegCorruptData;
  }
}

// Marks the data as exhausted: no bits left in the buffer.
inline void dropBits(JpegDecoder* s) {
  s->bitBuffer = 0;
  s->bitCount = 0;
}

// Reads n (1..16) bits as an unsigned number into *value; false when the data hold fewer.
inline bool readBits(JpegDecoder* s, uint32_t n, uint32_t* value) {
  fill(s, n);
  if (s->bitCount < n) return false;
  *value = uint32_t(s->bitBuffer >> (64 - n));
  consumeBits(s, n);
  return true;
}

// The JPEG sign extension of an s-bit magnitude category value.
inline int32_t extendValue(uint32_t bits, uint32_t s) {
  return (bits >> (s - 1)) ? int32_t(bits) : int32_t(bits) - int32_t((1u << s) - 1);
}

// value << shift in 16 bits (the coefficient store wraps like the 16-bit arithmetic it models).
inline int16_t shifted16(int32_t value, uint32_t shift) { return int16_t(uint16_t(uint32_t(value) << shift)); }

inline void zeroBand(int16_t* block, uint32_t from, uint32_t to) {
  for (uint32_t k = from; k <= to && k < 64; ++k) block[zigzagOrder[k]] = 0;
}

// Adds the component's predictor to the DC just decoded and keeps the sum as the predictor.
// Flags a DC that 8-bit samples cannot give (see dcLimit).
inline void checkDc(JpegDecoder* s, int32_t dc) {
  const int32_t limit = s->dcLimit[s->quantSelector[s->currentComponent] & 3];
  if ((dc > limit || dc < -limit) && s->precision == 8) s->damage |= kJpegCorruptData;
}

inline void finishDc(JpegDecoder* s, int16_t* block) {
  const int16_t dc = int16_t(uint16_t(uint16_t(block[0]) + uint16_t(s->dcPredictor[s->currentComponent])));
  block[0] = dc;
  s->dcPredictor[s->currentComponent] = dc;
  checkDc(s, dc);
}

// The Huffman lookup step of decodeHuffmanSymbol, inlined into the block decoders.
inline HuffmanSymbol decodeSymbol(JpegDecoder* s, int table) {
  const uint16_t entry = s->huffLookup[table][s->bitBuffer >> (64 - kJpegLookupBits)];
  if (entry == kJpegLookupNoMatch) {
    noMatch(s);
    return {0, 0, false};
  }
  if (entry == kJpegLookupLonger) return decodeHuffmanSymbol(s, table);
  const uint32_t length = entry >> 8;
  if (s->bitCount < length) return {uint8_t(entry), uint8_t(length), true};
  consumeBits(s, length);
  return {uint8_t(entry), uint8_t(length), false};
}

void decodeBlockSequential(JpegDecoder* s, int16_t* block) {
  const uint32_t ss = s->spectralStart, se = s->spectralEnd, al = s->successiveLow;
  const int dcTable = s->dcTable[s->currentComponent];
  const int acTable = s->acTable[s->currentComponent];
  const int32_t* acCoefficients = s->acCoefficientLookup[acTable - 4];
  // The band is decoded into a zeroed block, natural order, and then stored: every
  // position of the band is written (its value or 0) except when a code runs past the end
  // of the data, which stores what came before it and zeroes only the band's last position.
  int16_t local[64];
  std::memset(local, 0, sizeof local);
  uint32_t zeroFrom = 64;  // value bits missing: positions from here to 63 are zeroed too
  bool codeCut = false;
  uint32_t k = ss;
  while (k <= se) {
    fill(s, 16);
    if (s->bitCount == 0) {
      s->blockCut = true;
      break;
    }
    if (k > 0) {
      // A whole coefficient (code and value bits) in the lookup.
      const int32_t whole = acCoefficients[s->bitBuffer >> (64 - kJpegLookupBits)];
      const uint32_t bits = uint32_t(whole) & 0xFF;
      if (whole != 0 && s->bitCount >= bits) {
        consumeBits(s, bits);
        k += (uint32_t(whole) >> 8) & 0xFF;
        if (k <= se)
          local[zigzagOrder[k]] = shifted16(whole >> 16, al);
        else
          s->damage |= kJpegCorruptData;  // a run past the end of the block
        ++k;
        // Usually a second one follows from the same fill.
        if (k > se || s->bitCount < 16) continue;
        const int32_t next = acCoefficients[s->bitBuffer >> (64 - kJpegLookupBits)];
        if (next == 0) continue;
        consumeBits(s, uint32_t(next) & 0xFF);
        k += (uint32_t(next) >> 8) & 0xFF;
        if (k <= se)
          local[zigzagOrder[k]] = shifted16(next >> 16, al);
        else
          s->damage |= kJpegCorruptData;
        ++k;
        continue;
      }
    }
    const HuffmanSymbol sym = decodeSymbol(s, k == 0 ? dcTable : acTable);
    if (sym.exhausted) {
      codeCut = true;
      s->blockCut = true;
      dropBits(s);
      break;
    }
    if (k > 0) {
      k += sym.symbol >> 4;  // zero run
      if (sym.symbol == 0) break;  // end of block
    }
    const uint32_t size = sym.symbol & 15;
    int32_t value = 0;
    if (size != 0) {
      uint32_t bits;
      if (!readBits(s, size, &bits)) {
        zeroFrom = k;
        s->blockCut = true;
        dropBits(s);
        break;
      }
      value = extendValue(bits, size);
    }
    if (k <= se)
      local[zigzagOrder[k]] = shifted16(value, al);
    else
      s->damage |= kJpegCorruptData;
    ++k;
  }
  if (codeCut) {
    for (uint32_t j = ss; j < k && j <= se; ++j) block[zigzagOrder[j]] = local[zigzagOrder[j]];
    block[zigzagOrder[se]] = 0;
  } else if (ss == 0 && (se == 63 || zeroFrom <= se + 1)) {
    std::memcpy(block, local, sizeof local);
  } else {
    for (uint32_t j = ss; j <= se; ++j) block[zigzagOrder[j]] = local[zigzagOrder[j]];
    for (uint32_t j = zeroFrom > se ? zeroFrom : se + 1; j < 64; ++j) block[zigzagOrder[j]] = 0;
  }
  if (ss == 0) finishDc(s, block);
}

// Bytes a sequential block can read at most: 64 codes and 64 values of at most 16 bits each
// (2048 bits), doubled for stuffing, plus a refill's 8 bytes and some room.
constexpr uint32_t kBlockReach = 2 * 2048 / 8 + 16;

// The next marker at or after p: a 0xFF followed by anything but 0x00 (a 0xFF that ends the
// data counts), or the end.
const uint8_t* nextMarker(const uint8_t* p, const uint8_t* end) {
  while (p < end) {
    p = static_cast<const uint8_t*>(std::memchr(p, 0xFF, size_t(end - p)));
    if (p == nullptr) return end;
    if (p + 1 == end || p[1] != 0x00) return p;
    p += 2;
  }
  return end;
}

// Whether the block that starts at the input lies wholly before the next marker and the
// data's end: then no check for exhausted data can fail inside it.
inline bool blockInsideData(JpegDecoder* s) {
  if (s->markerAhead == nullptr || s->markerAhead < s->input)
    s->markerAhead = nextMarker(s->input, s->input + s->remaining);
  return uint64_t(s->markerAhead - s->input) >= kBlockReach;
}

// n (1..16) bits that the buffer holds, as an unsigned number.
inline uint32_t takeBits(JpegDecoder* s, uint32_t n) {
  const uint32_t bits = uint32_t(s->bitBuffer >> (64 - n));
  consumeBits(s, n);
  return bits;
}

// decodeBlockSequential for a full band (0..63) whose bytes lie before the next marker: the
// same symbols and values without the checks for data running out, written straight into
// the block (zeroed first, unless it is a streaming block, which is zero already).
void decodeBlockSequentialWhole(JpegDecoder* s, int16_t* block) {
  const uint32_t al = s->successiveLow, c = s->currentComponent;
  const int acTable = s->acTable[c];
  const int32_t* acCoefficients = s->acCoefficientLookup[acTable - 4];
  if (!s->streaming) std::memset(block, 0, 64 * sizeof(int16_t));
  // At least 32 bits before every symbol: a code (16) and its value bits (15) at most.
  if (s->bitCount < 32) fillBits(s);
  const HuffmanSymbol dc = decodeSymbol(s, s->dcTable[c]);
  const uint32_t dcSize = dc.symbol & 15;
  block[0] = shifted16(dcSize != 0 ? extendValue(takeBits(s, dcSize), dcSize) : 0, al);
  uint32_t k = 1;
  while (k <= 63) {
    if (s->bitCount < 32) fillBits(s);
    const int32_t whole = acCoefficients[s->bitBuffer >> (64 - kJpegLookupBits)];
    int32_t value;
    if (whole != 0) {
      consumeBits(s, uint32_t(whole) & 0xFF);
      k += (uint32_t(whole) >> 8) & 0xFF;
      value = whole >> 16;
    } else {
      const HuffmanSymbol sym = decodeSymbol(s, acTable);
      if (sym.symbol == 0) break;  // end of block
      k += sym.symbol >> 4;
      const uint32_t size = sym.symbol & 15;
      value = size != 0 ? extendValue(takeBits(s, size), size) : 0;
    }
    if (k <= 63)
      block[zigzagOrder[k]] = shifted16(value, al);
    else
      s->damage |= kJpegCorruptData;  // a run past the end of the block
    ++k;
  }
  finishDc(s, block);
}

// The sequential block decoder of a scan: the fast one where it gives the same result.
void decodeBlockSequentialAny(JpegDecoder* s, int16_t* block) {
  if (s->spectralStart == 0 && s->spectralEnd == 63 && !s->carefulOnly && blockInsideData(s))
    decodeBlockSequentialWhole(s, block);
  else
    decodeBlockSequential(s, block);
}

void decodeBlockFirst(JpegDecoder* s, int16_t* block) {
  const uint32_t ss = s->spectralStart, se = s->spectralEnd, al = s->successiveLow;
  uint32_t k = ss;
  if (ss == 0) {
    fill(s, 16);
    if (s->bitCount == 0) {
      s->blockCut = true;
      zeroBand(block, 0, se);
      return;
    }
    const HuffmanSymbol sym = decodeSymbol(s, s->dcTable[s->currentComponent]);
    int32_t difference = 0;
    if (sym.exhausted) {
      s->blockCut = true;
      dropBits(s);
    } else if (const uint32_t size = sym.symbol & 15; size != 0) {
      uint32_t bits;
      if (!readBits(s, size, &bits)) {
        s->blockCut = true;
        zeroBand(block, 0, 63);
        dropBits(s);
        return;
      }
      difference = extendValue(bits, size);
    }
    const int16_t dc = int16_t(uint16_t(uint16_t(s->dcPredictor[s->currentComponent]) + uint16_t(shifted16(difference, al))));
    block[0] = dc;
    s->dcPredictor[s->currentComponent] = dc;
    checkDc(s, dc);
    if (se == 0) return;
    k = 1;
  }
  if (s->eobRun > 0) {
    --s->eobRun;
    return;
  }
  const int acTable = s->acTable[s->currentComponent];
  while (k <= se) {
    fill(s, 16);
    if (s->bitCount == 0) {
      s->blockCut = true;
      zeroBand(block, k, se);
      return;
    }
    const HuffmanSymbol sym = decodeSymbol(s, acTable);
    if (sym.exhausted) {
      s->blockCut = true;
      dropBits(s);
      return;
    }
    const uint32_t run = sym.symbol >> 4, size = sym.symbol & 15;
    if (size == 0) {
      if (run == 15) {
        k += 16;
        if (k > se + 1) s->damage |= kJpegCorruptData;
        continue;
      }
      if (run > 0) {
        uint32_t bits;
        if (!readBits(s, run, &bits)) {
          s->blockCut = true;
          dropBits(s);
          return;
        }
        s->eobRun = (1u << run) - 1 + bits;
      }
      return;
    }
    k += run;
    uint32_t bits;
    if (!readBits(s, size, &bits)) {
      s->blockCut = true;
      zeroBand(block, k, se);
      dropBits(s);
      return;
    }
    if (k <= se)
      block[zigzagOrder[k]] = shifted16(extendValue(bits, size), al);
    else
      s->damage |= kJpegCorruptData;
    ++k;
  }
}

// One correction bit for an already significant coefficient; false when no bit is left.
inline bool refineCoefficient(JpegDecoder* s, int16_t* coefficient, int16_t p1, int16_t m1) {
  fill(s, 1);
  if (s->bitCount == 0) {
    s->blockCut = true;
    return false;
  }
  const bool bit = (s->bitBuffer >> 63) != 0;
  consumeBits(s, 1);
  if (bit && (*coefficient & p1) == 0)
    *coefficient = int16_t(uint16_t(uint16_t(*coefficient) + uint16_t(*coefficient >= 0 ? p1 : m1)));
  return true;
}

void decodeBlockRefine(JpegDecoder* s, int16_t* block) {
  const uint32_t ss = s->spectralStart, se = s->spectralEnd;
  const int16_t p1 = int16_t(uint16_t(1u << s->successiveLow));
  const int16_t m1 = int16_t(uint16_t(0xFFFFu << s->successiveLow));
  uint32_t k = ss;
  if (ss == 0) {
    fill(s, 1);
    if (s->bitCount == 0) {
      s->blockCut = true;
      return;
    }
    if (s->bitBuffer >> 63) block[0] = int16_t(block[0] | p1);
    consumeBits(s, 1);
    if (se == 0) return;
    k = 1;
  }
  if (s->eobRun == 0) {
    const int acTable = s->acTable[s->currentComponent];
    while (k <= se) {
      fill(s, 16);
      if (s->bitCount == 0) {
        s->blockCut = true;
        return;
      }
      const HuffmanSymbol sym = decodeSymbol(s, acTable);
      if (sym.exhausted) {
        s->blockCut = true;
        return;
      }
      uint32_t run = sym.symbol >> 4;
      const uint32_t size = sym.symbol & 15;
      int16_t value = 0;
      if (size != 0) {
        fill(s, 1);
        if (s->bitCount == 0) {
          s->blockCut = true;
          return;
        }
        value = (s->bitBuffer >> 63) ? p1 : m1;
        consumeBits(s, 1);
      } else if (run != 15) {
        uint32_t extra = 0;
        if (run > 0 && !readBits(s, run, &extra)) {
          s->blockCut = true;
          dropBits(s);
          return;
        }
        s->eobRun = (1u << run) + extra;
        break;  // on to the tail refinement from k
      }
      // Pass `run` zero coefficients (refining the non-zero ones met on the way) and stop
      // at the next zero one, which takes the new value.
      bool stopped = false;
      do {
        int16_t* coefficient = &block[zigzagOrder[k]];
        if (*coefficient != 0) {
          if (!refineCoefficient(s, coefficient, p1, m1)) return;
        } else {
          if (run == 0) {
            stopped = true;
            break;
          }
          --run;
        }
        ++k;
      } while (k <= se);
      if (!stopped && (value != 0 || run > 0)) s->damage |= kJpegCorruptData;  // past the band's end
      if (value != 0 && k <= se) block[zigzagOrder[k]] = value;
      ++k;
    }
    if (s->eobRun == 0) return;
  }
  // Inside an end-of-band run: only correction bits for the non-zero coefficients. A block
  // whose AC coefficients are all zero has none to read (checked 16 at a time).
  if (k == 1 && se == 63) {
    uint64_t any = uint64_t(uint16_t(block[1])) | uint16_t(block[2]) | uint16_t(block[3]);
    for (int i = 4; i < 64; i += 4) {
      uint64_t word;
      std::memcpy(&word, block + i, sizeof word);
      any |= word;
    }
    if (any == 0) {
      --s->eobRun;
      return;
    }
  }
  for (; k <= se; ++k) {
    int16_t* coefficient = &block[zigzagOrder[k]];
    if (*coefficient != 0 && !refineCoefficient(s, coefficient, p1, m1)) return;
  }
  --s->eobRun;
}

using BlockDecoder = void (*)(JpegDecoder*, int16_t*);

// The MCU grid of a scan. A one-component scan has one block per MCU and walks every 8 x 8
// position of the image, whatever the sampling factors; an interleaved scan walks MCUs of
// hMax x vMax blocks.
struct ScanGeometry {
  bool single;
  uint64_t mcuWidth, mcuHeight;  // pixels
  uint64_t mcuColumns, mcuRows;
};

ScanGeometry scanGeometry(const JpegDecoder* s) {
  ScanGeometry g;
  g.single = s->scanComponents[1] == kScanListEnd;
  g.mcuWidth = g.single ? 8 : 8u * s->hMax;
  g.mcuHeight = g.single ? 8 : 8u * s->vMax;
  g.mcuColumns = (uint64_t(s->width) + g.mcuWidth - 1) / g.mcuWidth;
  g.mcuRows = (uint64_t(s->height) + g.mcuHeight - 1) / g.mcuHeight;
  return g;
}

// 8 x 8 positions of the image that MCU m covers.
uint64_t mcuPositions(const JpegDecoder* s, const ScanGeometry& g, uint64_t m) {
  if (g.single) return 1;
  const uint64_t x = m % g.mcuColumns * g.mcuWidth, y = m / g.mcuColumns * g.mcuHeight;
  const uint64_t w = std::min<uint64_t>(g.mcuWidth, s->width - x), h = std::min<uint64_t>(g.mcuHeight, s->height - y);
  return ((w + 7) / 8) * ((h + 7) / 8);
}

enum class McuEnd {
  Complete,   // every block decoded (the data may be exhausted after the last one)
  Exhausted,  // no bits left after a block that was not the MCU's last: the rest not visited
  Cut,        // a block ran out of data inside
  Budget,     // the block-decode budget is spent
};

// Decodes one block of component c at block (by, bx).
inline McuEnd visitBlock(JpegDecoder* s, BlockDecoder decode, uint32_t c, uint64_t by, uint64_t bx, bool last) {
  if (s->blockVisitsLeft == 0) return McuEnd::Budget;
  --s->blockVisitsLeft;
  s->currentComponent = uint8_t(c);
  decode(s, s->streaming ? s->mcuBlocks[c] : coefficientBlock(s, c, by, bx));
  if (s->blockCut) return McuEnd::Cut;
  fill(s, 1);
  return s->bitCount != 0 || last ? McuEnd::Complete : McuEnd::Exhausted;
}

McuEnd decodeMcu(JpegDecoder* s, BlockDecoder decode, const ScanGeometry& g, uint64_t m) {
  const uint64_t column = m % g.mcuColumns, row = m / g.mcuColumns;
  if (g.single) return visitBlock(s, decode, s->scanComponents[0], row, column, true);
  // The blocks of the MCU in stream order: per component, v rows of h blocks, each inside
  // the image.
  struct Block {
    uint32_t c;
    uint64_t by, bx;
  } blocks[4 * 64];
  uint32_t count = 0;
  const uint64_t mx = column * g.mcuWidth, my = row * g.mcuHeight;
  for (int i = 0; i < 4 && s->scanComponents[i] != kScanListEnd; ++i) {
    const uint32_t c = s->scanComponents[i];
    const uint32_t h = s->hSampling[c], v = s->vSampling[c];
    const uint64_t stepX = g.mcuWidth / h, stepY = g.mcuHeight / v;
    for (uint32_t r = 0; r < v; ++r) {
      const uint64_t y = my + r * stepY;
      if (y >= s->height) break;
      for (uint32_t k = 0; k < h; ++k) {
        const uint64_t x = mx + k * stepX;
        if (x >= s->width) break;
        blocks[count++] = {c, y / 8, x / 8};
      }
    }
  }
  for (uint32_t i = 0; i < count; ++i) {
    const McuEnd end = visitBlock(s, decode, blocks[i].c, blocks[i].by, blocks[i].bx, i + 1 == count);
    if (end != McuEnd::Complete) return end;
  }
  return McuEnd::Complete;
}

// Whether the `count` MCUs after MCU m would read no bits: in a one-component AC scan of a
// progressive frame, blocks inside the end-of-band run that have (for a refinement) no
// coefficient to correct. A scan whose data end there is whole.
bool restReadsNoBits(JpegDecoder* s, const ScanGeometry& g, uint64_t m, uint64_t count) {
  if (count == 0) return true;
  if (!g.single || s->frameType != 0xC2 || s->spectralStart == 0 || s->eobRun < count) return false;
  if (s->refineMask == 0) return true;
  const uint32_t c = s->scanComponents[0];
  for (uint64_t n = m + 1; n <= m + count; ++n) {
    const int16_t* block = coefficientBlock(s, c, n / g.mcuColumns, n % g.mcuColumns);
    for (uint32_t k = s->spectralStart; k <= s->spectralEnd; ++k)
      if (block[zigzagOrder[k]] != 0) return false;
  }
  return true;
}

// Entropy-coded bytes from `p` up to the next marker (a stuffed 0xFF 0x00 counts as one);
// *marker receives the marker's position (or the end).
uint64_t dataBytesBeforeMarker(const uint8_t* p, uint32_t n, const uint8_t** marker) {
  uint64_t bytes = 0;
  uint32_t i = 0;
  while (i < n) {
    // A final lone 0xFF is the start of a marker the data lack, not a data byte.
    if (p[i] == 0xFF && (i + 1 == n || p[i + 1] != 0x00)) break;
    i += p[i] == 0xFF && i + 1 < n ? 2 : 1;
    ++bytes;
  }
  *marker = p + i;
  return bytes;
}

// The number of the restart marker at `p` (fill bytes before it passed over), or -1.
int restartMarkerAt(const uint8_t* p, uint32_t n, uint32_t* length) {
  uint32_t i = 0;
  while (i + 1 < n && p[i] == 0xFF && p[i + 1] == 0xFF) ++i;
  if (i + 1 >= n || p[i] != 0xFF || p[i + 1] < 0xD0 || p[i + 1] > 0xD7) return -1;
  *length = i + 2;
  return p[i + 1] - 0xD0;
}

// Takes the restart marker at the input (`length` bytes) and starts the next interval
// afresh: bit reader, DC predictions and end-of-band run.
void restart(JpegDecoder* s, int number, uint32_t length, uint32_t* expected) {
  if (uint32_t(number) != *expected) s->damage |= kJpegMisplacedMarker;
  *expected = (uint32_t(number) + 1) & 7;
  if (s->eobRun != 0) s->damage |= kJpegCorruptData;  // a run across the interval's end
  s->input += length;
  s->remaining -= length;
  dropBits(s);
  for (int c = 0; c < 4; ++c) s->dcPredictor[c] = 0;
  s->eobRun = 0;
}

// At the end of a restart interval. The bits left should be the padding of the interval's
// last byte, followed by the restart marker. Data left before the marker are skipped; a
// marker missing where the interval needs one leaves the data as they are (a stream that
// declares an interval but has no markers decodes as if it declared none). Returns false
// when the scan can go no further.
bool restartAtIntervalEnd(JpegDecoder* s, uint32_t* expected) {
  fill(s, kFillTarget);
  uint32_t length = 0;
  if (s->bitCount < 8) {
    const int number = restartMarkerAt(s->input, s->remaining, &length);
    if (number >= 0) {
      restart(s, number, length, expected);
      return true;
    }
    if (s->remaining > 0) s->damage |= kJpegCorruptData;  // another marker where the restart belongs
    return s->bitCount != 0;
  }
  s->damage |= kJpegCorruptData;  // data left in the interval, or its marker missing
  if (s->noRestartBefore != nullptr && s->input < s->noRestartBefore) return true;
  const uint8_t* marker;
  dataBytesBeforeMarker(s->input, s->remaining, &marker);
  const uint32_t skipped = uint32_t(marker - s->input);
  const int number = restartMarkerAt(marker, s->remaining - skipped, &length);
  if (number < 0) {
    s->noRestartBefore = marker;
    return true;
  }
  s->input = marker;
  s->remaining -= skipped;
  restart(s, number, length, expected);
  return true;
}

// A scan's data ended, or its walk stopped, before its end: record how far it went (the
// first such scan of the stream gives the count).
void noteScanEnd(JpegDecoder* s, uint32_t flag, uint64_t positions) {
  s->damage |= flag;
  if (s->scanBroke) return;
  s->scanBroke = true;
  s->blocksDecoded = positions;
}

}  // namespace

void fillBits(JpegDecoder* s) {
  // Fast path: eight bytes ahead without a 0xFF among them go in as whole bytes at once.
  if (s->remaining >= 8 && s->bitCount < kFillTarget) {
    uint64_t word = 0;
    for (int i = 0; i < 8; ++i) word = word << 8 | s->input[i];
    const uint64_t inverted = ~word;
    if (((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) == 0) {
      const uint32_t bytes = (64u - s->bitCount) / 8;
      s->bitBuffer |= (word >> (64 - 8 * bytes)) << (64 - s->bitCount - 8 * bytes);
      s->bitCount = uint8_t(s->bitCount + 8 * bytes);
      s->input += bytes;
      s->remaining -= bytes;
      return;
    }
  }
  while (s->bitCount < kFillTarget && s->remaining > 0) {
    const uint8_t byte = s->input[0];
    if (byte == 0xFF && s->remaining > 1) {
      if (s->input[1] != 0) return;  // a marker: leave it for the marker scan
      s->input += 2;
      s->remaining -= 2;
    } else {
      s->input += 1;
      s->remaining -= 1;
    }
    s->bitBuffer |= uint64_t(byte) << (56 - s->bitCount);
    s->bitCount = uint8_t(s->bitCount + 8);
  }
}

void buildHuffmanLookup(JpegDecoder* s, int table) {
  const uint8_t* counts = s->huffCounts[table];
  for (uint32_t prefix = 0; prefix < (1u << kJpegLookupBits); ++prefix) {
    uint16_t entry = kJpegLookupNoMatch;
    uint32_t code = 0, index = 0;
    for (uint32_t length = 1; length <= 16; ++length) {
      const uint32_t c = counts[length - 1];
      if (c > 0) {
        if (length <= uint32_t(kJpegLookupBits)) {
          const uint32_t top = prefix >> (kJpegLookupBits - length);
          if (top - code < c) {
            entry = uint16_t(length << 8 | s->huffValues[table][index + top - code]);
            break;
          }
        } else {
          // Codes of this length whose first bits are `prefix` span [low, high].
          const uint32_t shift = length - kJpegLookupBits;
          const uint32_t low = prefix << shift, high = ((prefix + 1) << shift) - 1;
          if (code <= high && low <= code + c - 1) {
            entry = kJpegLookupLonger;
            break;
          }
        }
      }
      index += c;
      code = (code + c) * 2;
    }
    s->huffLookup[table][prefix] = entry;
    if (table < 4) continue;
    int32_t whole = 0;
    if (entry != kJpegLookupNoMatch && entry != kJpegLookupLonger) {
      const uint32_t length = entry >> 8, run = (entry >> 4) & 15, size = entry & 15;
      if (size > 0 && length + size <= uint32_t(kJpegLookupBits)) {
        const uint32_t bits = (prefix >> (kJpegLookupBits - length - size)) & ((1u << size) - 1);
        whole = int32_t(uint32_t(extendValue(bits, size)) << 16 | run << 8 | (length + size));
      }
    }
    s->acCoefficientLookup[table - 4][prefix] = whole;
  }
}

HuffmanSymbol decodeHuffmanSymbol(JpegDecoder* s, int table) {
  const uint16_t entry = s->huffLookup[table][s->bitBuffer >> (64 - kJpegLookupBits)];
  if (entry == kJpegLookupNoMatch) {
    noMatch(s);
    return {0, 0, false};
  }
  uint32_t length, symbol;
  if (entry != kJpegLookupLonger) {
    length = entry >> 8;
    symbol = entry & 0xFF;
  } else {
    // Canonical search over the code lengths (the lookup already ruled out the short ones).
    const uint8_t* counts = s->huffCounts[table];
    uint32_t code = 0, index = 0;
    length = 0;
    symbol = 0;
    for (uint32_t l = 1; l <= 16; ++l) {
      const uint32_t c = counts[l - 1];
      const uint32_t top = uint32_t(s->bitBuffer >> (64 - l));
      if (c > 0 && top - code < c) {
        length = l;
        symbol = s->huffValues[table][index + top - code];
        break;
      }
      index += c;
      code = (code + c) * 2;
    }
    if (length == 0) {
      noMatch(s);
      return {0, 0, false};
    }
  }
  if (s->bitCount < length) return {uint8_t(symbol), uint8_t(length), true};
  consumeBits(s, length);
  return {uint8_t(symbol), uint8_t(length), false};
}

void decodeScan(JpegDecoder* s) {
  s->markerAhead = nullptr;
  const BlockDecoder decode = s->frameType != 0xC2 ? decodeBlockSequentialAny
                              : s->refineMask != 0 ? decodeBlockRefine
                                                   : decodeBlockFirst;
  const ScanGeometry g = scanGeometry(s);
  const uint64_t mcus = g.mcuColumns * g.mcuRows;
  const uint32_t interval = s->restartInterval;
  uint32_t intervalLeft = interval;  // MCUs of the current interval not yet decoded
  uint32_t expectedRestart = 0;
  uint64_t positions = 0;            // 8 x 8 positions of the MCUs decoded
  s->blockCut = false;
  s->ranOut = false;

  // Streaming: the MCU just decoded (whole or not) goes to the output, and whatever the walk
  // leaves at its end is written as positions without coefficients.
  struct StreamRest {
    JpegDecoder* s;
    uint64_t total;
    ~StreamRest() {
      if (s->streaming) streamPositionsUpTo(s, total, nullptr);
    }
  } streamRest{s, mcus};
  for (uint64_t m = 0; m < mcus; ++m) {
    const McuEnd end = decodeMcu(s, decode, g, m);
    if (s->streaming) {
      streamPositionsUpTo(s, m, s->mcuBlocks[0]);
      std::memset(s->mcuBlocks, 0, sizeof s->mcuBlocks);
    }
    if (end == McuEnd::Budget) {
      noteScanEnd(s, kJpegTimeBound, positions);
      return;
    }
    if (interval != 0) --intervalLeft;
    if (s->ranOut) {
      // Codes cut off by the end of the data read as "no match" and the walk goes on as it
      // always has; the count stops here.
      noteScanEnd(s, kJpegDataEndedEarly, positions);
      s->ranOut = false;
    }
    if (end == McuEnd::Complete) {
      positions += mcuPositions(s, g, m);
      if (m + 1 == mcus) break;
      if (interval != 0 && intervalLeft == 0) {
        if (!restartAtIntervalEnd(s, &expectedRestart)) {
          noteScanEnd(s, kJpegDataEndedEarly, positions);
          return;
        }
        intervalLeft = interval;
        continue;
      }
      if (s->bitCount != 0) continue;
    }
    // The data ran out before the scan's last MCU: inside a block, between the blocks of an
    // MCU, or after one. The walk stops here, or at the end of the restart interval when its
    // marker follows. Blocks inside an end-of-band run read no bits: when all the MCUs
    // still to come are such, nothing is missing.
    const uint64_t toIntervalEnd = interval != 0 ? intervalLeft : mcus - m - 1;
    const uint64_t rest = std::min<uint64_t>(toIntervalEnd, mcus - m - 1);
    const bool whole = end == McuEnd::Complete && restReadsNoBits(s, g, m, rest);
    if (whole && m + 1 + rest == mcus) {
      if (s->eobRun > rest) s->damage |= kJpegCorruptData;  // a run past the scan's end
      s->eobRun = 0;
      positions += rest * mcuPositions(s, g, m);
      break;
    }
    uint32_t length = 0;
    const int number = interval != 0 && m + 1 + rest < mcus ? restartMarkerAt(s->input, s->remaining, &length) : -1;
    if (number < 0) {
      noteScanEnd(s, kJpegDataEndedEarly, positions);
      return;
    }
    if (!whole) s->damage |= kJpegCorruptData;  // the interval's data ended early
    if (whole) s->eobRun -= uint32_t(rest);
    s->blockCut = false;
    m += rest;
    restart(s, number, length, &expectedRestart);
    intervalLeft = interval;
  }

  // The walk went through: the data should end with the last block, and the scan's
  // coefficients now have the precision it brings.
  if (!s->scanBroke) s->blocksDecoded = blockColumns(s) * blockRows(s);
  if (s->eobRun != 0) s->damage |= kJpegCorruptData;
  const uint8_t* marker;
  uint64_t left = s->bitCount / 8 + dataBytesBeforeMarker(s->input, s->remaining, &marker);
  // A lone 0xFF at the very end went into the bits as data; it is a marker cut short.
  if (s->remaining == 0 && left > 0 && s->input[-1] == 0xFF) --left;
  if (left > 0) s->damage |= kJpegCorruptData;
  if (s->successiveLow == 0) {
    const uint64_t band = (~uint64_t(0) >> (63 - s->spectralEnd)) & (~uint64_t(0) << s->spectralStart);
    for (int i = 0; i < 4 && s->scanComponents[i] != kScanListEnd; ++i) s->fullPrecision[s->scanComponents[i]] |= band;
  }
}

}  // namespace vellum
