// Optimal Huffman tables (the code-length procedure of ITU T.81 Annex K.2 with fixed
// tie-breaks, lengths limited to 16) and the DHT segment writer.
#include <cstring>

#include "jpeg/jpeg_encode_internal.h"

namespace vellum {

namespace {

constexpr int kSymbols = 257;  // 256 symbols and the reserved one
constexpr int kReserved = 256;

// The symbol of smallest non-zero frequency, ties to the highest number; -1 when none.
// `skip` is left out of the search.
int smallestFrequency(const uint64_t* frequencies, int skip) {
  int found = -1;
  uint64_t best = ~uint64_t(0);
  for (int i = 0; i < kSymbols; ++i) {
    if (i != skip && frequencies[i] != 0 && frequencies[i] <= best) {
      best = frequencies[i];
      found = i;
    }
  }
  return found;
}

}  // namespace

void buildHuffmanTable(JpegEncodeContext* ctx, uint64_t* frequencies, int slot) {
  uint32_t* lengths = ctx->codeLengths[slot];
  int next[kSymbols];  // chain of symbols merged into a symbol's subtree; -1 ends it
  for (int i = 0; i < kSymbols; ++i) {
    lengths[i] = 0;
    next[i] = -1;
  }

  for (;;) {
    int c1 = smallestFrequency(frequencies, -1);
    int c2 = smallestFrequency(frequencies, c1);
    if (c2 < 0) break;
    frequencies[c1] += frequencies[c2];
    frequencies[c2] = 0;
    ++lengths[c1];
    while (next[c1] >= 0) {
      c1 = next[c1];
      ++lengths[c1];
    }
    next[c1] = c2;  // c1 is now the end of its chain
    ++lengths[c2];
    while (next[c2] >= 0) {
      c2 = next[c2];
      ++lengths[c2];
    }
  }

  // Symbols per code length; a tree of 257 leaves is at most 256 deep.
  int counts[kSymbols + 1];
  std::memset(counts, 0, sizeof counts);
  for (int i = 0; i < kSymbols; ++i)
    if (lengths[i] > 0) ++counts[lengths[i]];

  // Limit lengths to 16: a pair of the longest codes moves up, one of them taking the place
  // of their parent and the other becoming the sibling of a shorter code pushed down.
  for (int i = kSymbols - 1; i > 16; --i) {
    while (counts[i] > 0) {
      int j = i - 2;
      while (j > 1 && counts[j] == 0) --j;
      int first = -1, second = -1;
      for (int s = 0; s < kSymbols && second < 0; ++s) {
        if (lengths[s] != uint32_t(i)) continue;
        if (first < 0)
          first = s;
        else
          second = s;
      }
      if (second < 0) {
        // An odd count at the deepest level does not occur in a Huffman tree; move the lone
        // code up so that the loop always ends.
        lengths[first] = uint32_t(i - 1);
        --counts[i];
        ++counts[i - 1];
        continue;
      }
      lengths[first] = uint32_t(j + 1);
      lengths[second] = uint32_t(i - 1);
      for (int s = kSymbols - 1; s >= 0; --s) {
        if (lengths[s] == uint32_t(j)) {
          lengths[s] = uint32_t(j + 1);
          break;
        }
      }
      counts[i] -= 2;
      counts[i - 1] += 1;
      counts[j + 1] += 2;
      counts[j] -= 1;
    }
  }

  // The reserved symbol takes no code.
  --counts[lengths[kReserved]];
  for (int l = 1; l <= 16; ++l) ctx->huffCounts[slot][l - 1] = uint8_t(counts[l]);

  uint32_t code = 0, n = 0;
  for (uint32_t l = 1; l <= 16; ++l) {
    for (int s = 0; s < 256; ++s) {
      if (lengths[s] != l) continue;
      ctx->huffValues[slot][n++] = uint8_t(s);
      ctx->huffCodes[slot][s] = uint16_t(code++);
    }
    code <<= 1;
  }
}

void writeHuffmanTable(JpegEncodeContext* ctx, int slot, uint8_t classAndId) {
  uint32_t values = 0, escapes = 0;
  for (int l = 0; l < 16; ++l) values += ctx->huffCounts[slot][l];
  for (uint32_t i = 0; i < values; ++i) escapes += ctx->huffValues[slot][i] == 0xFF;
  const uint32_t length = 19 + values + escapes;
  const uint8_t head[] = {0xFF, 0xC4, uint8_t(length >> 8), uint8_t(length), classAndId};
  putBytes(ctx, head, sizeof head);
  putBytes(ctx, ctx->huffCounts[slot], 16);
  for (uint32_t i = 0; i < values; ++i) {
    putByte(ctx, ctx->huffValues[slot][i]);
    if (ctx->huffValues[slot][i] == 0xFF) putByte(ctx, 0x00);
  }
}

}  // namespace vellum
