// Entropy decoding: the bit reader, Huffman symbols, the three block decoders (sequential,
// progressive first pass, progressive refinement) and the block walk of a scan.
//
// Exhausted data end a scan; a bit pattern that matches no code reads as symbol 0 without
// consuming bits. Coefficients are stored quantized, in natural order.
#include <cstring>

#include "jpeg/jpeg_decode_internal.h"
#include "jpeg/jpeg_tables.h"

namespace vellum {

namespace {

// Bits the reader keeps topped up: after fillBits at least this many are buffered unless
// the data end. Every check "are there n bits" (n <= 16) follows a fill, so a larger
// buffer gives the same results as a 16-bit one.
constexpr uint8_t kFillTarget = 57;

inline void fill(JpegDecodeState* s) {
  if (s->bitCount < kFillTarget) fillBits(s);
}

inline void consumeBits(JpegDecodeState* s, uint32_t n) {
  s->bitBuffer <<= n;
  s->bitCount = uint8_t(s->bitCount - n);
}

// Marks the data as exhausted: no bits left in the buffer.
inline void dropBits(JpegDecodeState* s) {
  s->bitBuffer = 0;
  s->bitCount = 0;
}

// Reads n (1..16) bits as an unsigned number into *value; false when the data hold fewer.
inline bool readBits(JpegDecodeState* s, uint32_t n, uint32_t* value) {
  fill(s);
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
inline void finishDc(JpegDecodeState* s, int16_t* block) {
  const int16_t dc = int16_t(uint16_t(uint16_t(block[0]) + uint16_t(s->dcPredictor[s->currentComponent])));
  block[0] = dc;
  s->dcPredictor[s->currentComponent] = dc;
}

// The Huffman lookup step of decodeHuffmanSymbol, inlined into the block decoders.
inline HuffmanSymbol decodeSymbol(JpegDecodeState* s, int table) {
  const uint16_t entry = s->huffLookup[table][s->bitBuffer >> (64 - kJpegLookupBits)];
  if (entry == kJpegLookupNoMatch) return {0, 0, false};
  if (entry == kJpegLookupLonger) return decodeHuffmanSymbol(s, table);
  const uint32_t length = entry >> 8;
  if (s->bitCount < length) return {uint8_t(entry), uint8_t(length), true};
  consumeBits(s, length);
  return {uint8_t(entry), uint8_t(length), false};
}

void decodeBlockSequential(JpegDecodeState* s, int16_t* block) {
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
    fill(s);
    if (s->bitCount == 0) break;
    if (k > 0) {
      // A whole coefficient (code and value bits) in the lookup.
      const int32_t whole = acCoefficients[s->bitBuffer >> (64 - kJpegLookupBits)];
      const uint32_t bits = uint32_t(whole) & 0xFF;
      if (whole != 0 && s->bitCount >= bits) {
        consumeBits(s, bits);
        k += (uint32_t(whole) >> 8) & 0xFF;
        if (k <= se) local[zigzagOrder[k]] = shifted16(whole >> 16, al);
        ++k;
        // Usually a second one follows from the same fill.
        if (k > se || s->bitCount < 16) continue;
        const int32_t next = acCoefficients[s->bitBuffer >> (64 - kJpegLookupBits)];
        if (next == 0) continue;
        consumeBits(s, uint32_t(next) & 0xFF);
        k += (uint32_t(next) >> 8) & 0xFF;
        if (k <= se) local[zigzagOrder[k]] = shifted16(next >> 16, al);
        ++k;
        continue;
      }
    }
    const HuffmanSymbol sym = decodeSymbol(s, k == 0 ? dcTable : acTable);
    if (sym.exhausted) {
      codeCut = true;
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
        dropBits(s);
        break;
      }
      value = extendValue(bits, size);
    }
    if (k <= se) local[zigzagOrder[k]] = shifted16(value, al);
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

void decodeBlockFirst(JpegDecodeState* s, int16_t* block) {
  const uint32_t ss = s->spectralStart, se = s->spectralEnd, al = s->successiveLow;
  uint32_t k = ss;
  if (ss == 0) {
    fill(s);
    if (s->bitCount == 0) {
      zeroBand(block, 0, se);
      return;
    }
    const HuffmanSymbol sym = decodeSymbol(s, s->dcTable[s->currentComponent]);
    int32_t difference = 0;
    if (sym.exhausted) {
      dropBits(s);
    } else if (const uint32_t size = sym.symbol & 15; size != 0) {
      uint32_t bits;
      if (!readBits(s, size, &bits)) {
        zeroBand(block, 0, 63);
        dropBits(s);
        return;
      }
      difference = extendValue(bits, size);
    }
    const int16_t dc = int16_t(uint16_t(uint16_t(s->dcPredictor[s->currentComponent]) + uint16_t(shifted16(difference, al))));
    block[0] = dc;
    s->dcPredictor[s->currentComponent] = dc;
    if (se == 0) return;
    k = 1;
  }
  if (s->eobRun > 0) {
    --s->eobRun;
    return;
  }
  const int acTable = s->acTable[s->currentComponent];
  while (k <= se) {
    fill(s);
    if (s->bitCount == 0) {
      zeroBand(block, k, se);
      return;
    }
    const HuffmanSymbol sym = decodeSymbol(s, acTable);
    if (sym.exhausted) {
      dropBits(s);
      return;
    }
    const uint32_t run = sym.symbol >> 4, size = sym.symbol & 15;
    if (size == 0) {
      if (run == 15) {
        k += 16;
        continue;
      }
      if (run > 0) {
        uint32_t bits;
        if (!readBits(s, run, &bits)) {
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
      zeroBand(block, k, se);
      dropBits(s);
      return;
    }
    if (k <= se) block[zigzagOrder[k]] = shifted16(extendValue(bits, size), al);
    ++k;
  }
}

// One correction bit for an already significant coefficient; false when no bit is left.
inline bool refineCoefficient(JpegDecodeState* s, int16_t* coefficient, int16_t p1, int16_t m1) {
  fill(s);
  if (s->bitCount == 0) return false;
  const bool bit = (s->bitBuffer >> 63) != 0;
  consumeBits(s, 1);
  if (bit && (*coefficient & p1) == 0)
    *coefficient = int16_t(uint16_t(uint16_t(*coefficient) + uint16_t(*coefficient >= 0 ? p1 : m1)));
  return true;
}

void decodeBlockRefine(JpegDecodeState* s, int16_t* block) {
  const uint32_t ss = s->spectralStart, se = s->spectralEnd;
  const int16_t p1 = int16_t(uint16_t(1u << s->successiveLow));
  const int16_t m1 = int16_t(uint16_t(0xFFFFu << s->successiveLow));
  uint32_t k = ss;
  if (ss == 0) {
    fill(s);
    if (s->bitCount == 0) return;
    if (s->bitBuffer >> 63) block[0] = int16_t(block[0] | p1);
    consumeBits(s, 1);
    if (se == 0) return;
    k = 1;
  }
  if (s->eobRun == 0) {
    const int acTable = s->acTable[s->currentComponent];
    while (k <= se) {
      fill(s);
      if (s->bitCount == 0) return;
      const HuffmanSymbol sym = decodeSymbol(s, acTable);
      if (sym.exhausted) return;
      uint32_t run = sym.symbol >> 4;
      const uint32_t size = sym.symbol & 15;
      int16_t value = 0;
      if (size != 0) {
        fill(s);
        if (s->bitCount == 0) return;
        value = (s->bitBuffer >> 63) ? p1 : m1;
        consumeBits(s, 1);
      } else if (run != 15) {
        uint32_t extra = 0;
        if (run > 0 && !readBits(s, run, &extra)) {
          dropBits(s);
          return;
        }
        s->eobRun = (1u << run) + extra;
        break;  // on to the tail refinement from k
      }
      // Pass `run` zero coefficients (refining the non-zero ones met on the way) and stop
      // at the next zero one, which takes the new value.
      do {
        int16_t* coefficient = &block[zigzagOrder[k]];
        if (*coefficient != 0) {
          if (!refineCoefficient(s, coefficient, p1, m1)) return;
        } else {
          if (run == 0) break;
          --run;
        }
        ++k;
      } while (k <= se);
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

using BlockDecoder = void (*)(JpegDecodeState*, int16_t*);

// Decodes one block of component c at block (by, bx); false when the scan ends here
// (data exhausted, a marker reached, or the stream's block budget spent).
inline bool visitBlock(JpegDecodeState* s, BlockDecoder decode, uint32_t c, uint64_t by, uint64_t bx) {
  if (s->blockVisitsLeft == 0) return false;
  --s->blockVisitsLeft;
  s->currentComponent = uint8_t(c);
  decode(s, coefficientBlock(s, c, by, bx));
  fill(s);
  return s->bitCount != 0;
}

}  // namespace

void fillBits(JpegDecodeState* s) {
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

void buildHuffmanLookup(JpegDecodeState* s, int table) {
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

HuffmanSymbol decodeHuffmanSymbol(JpegDecodeState* s, int table) {
  const uint16_t entry = s->huffLookup[table][s->bitBuffer >> (64 - kJpegLookupBits)];
  if (entry == kJpegLookupNoMatch) return {0, 0, false};
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
    if (length == 0) return {0, 0, false};
  }
  if (s->bitCount < length) return {uint8_t(symbol), uint8_t(length), true};
  consumeBits(s, length);
  return {uint8_t(symbol), uint8_t(length), false};
}

void decodeScan(JpegDecodeState* s) {
  const BlockDecoder decode = s->frameType != 0xC2 ? decodeBlockSequential
                              : s->refineMask != 0 ? decodeBlockRefine
                                                   : decodeBlockFirst;
  const uint64_t width = s->width, height = s->height;

  if (s->scanComponents[1] == kScanListEnd) {
    // One component: every 8 x 8 position of the image, whatever the sampling factors.
    const uint32_t c = s->scanComponents[0];
    for (uint64_t y = 0; y < height; y += 8)
      for (uint64_t x = 0; x < width; x += 8)
        if (!visitBlock(s, decode, c, y / 8, x / 8)) return;
    return;
  }

  const uint64_t mcuWidth = 8u * s->hMax, mcuHeight = 8u * s->vMax;
  for (uint64_t my = 0; my < height; my += mcuHeight) {
    for (uint64_t mx = 0; mx < width; mx += mcuWidth) {
      for (int i = 0; i < 4 && s->scanComponents[i] != kScanListEnd; ++i) {
        const uint32_t c = s->scanComponents[i];
        const uint32_t h = s->hSampling[c], v = s->vSampling[c];
        const uint64_t stepX = mcuWidth / h, stepY = mcuHeight / v;
        for (uint32_t row = 0; row < v; ++row) {
          const uint64_t y = my + row * stepY;
          if (y >= height) break;
          for (uint32_t column = 0; column < h; ++column) {
            const uint64_t x = mx + column * stepX;
            if (x >= width) break;
            if (!visitBlock(s, decode, c, y / 8, x / 8)) return;
          }
        }
      }
    }
  }
}

}  // namespace vellum
