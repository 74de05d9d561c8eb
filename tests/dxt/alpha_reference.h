// The DXT5 alpha encoder written the plain way: every candidate pair of both searches
// evaluated in order against every level, nothing skipped, no vector code. The tests (and
// the alpha benchmark) hold compressAlphaBlockDxt5 to these bytes.
#pragma once

#include <cstdint>
#include <cstdlib>

namespace vellum::testing {

struct ReferenceAlphaCounts {
  uint64_t candidates = 0;  // pairs evaluated
};

// Sum over the sixteen entries of the squared distance to the nearest of `count` levels.
inline uint32_t referenceLevelError(const int entry[16], const int* level, int count) {
  uint32_t sum = 0;
  for (int j = 0; j < 16; ++j) {
    int nearest = 1 << 20;
    for (int k = 0; k < count; ++k) {
      int d = std::abs(entry[j] - level[k]);
      if (d < nearest) nearest = d;
    }
    sum += uint32_t(nearest * nearest);
  }
  return sum;
}

inline void referenceAlphaBlockDxt5(const uint8_t pixels[64], uint32_t mask, uint8_t out[8],
                                    ReferenceAlphaCounts* counts = nullptr) {
  // 1. Samples, extremes.
  int list[16];
  int n = 0;
  const int first = pixels[3];
  list[n++] = first;
  int mn = first, mx = first, loEx = first, hiEx = first;
  for (int k = 1; k < 16; ++k) {
    if (!((mask >> k) & 1)) continue;
    int a = pixels[4 * k + 3];
    list[n++] = a;
    if (a < mn) mn = a;
    if (a > mx) mx = a;
    if (a < loEx && (a > 8 || loEx <= 8)) loEx = a;
    if (a > hiEx && (a < 247 || hiEx >= 247)) hiEx = a;
  }
  // 2. Cyclic fill to sixteen entries.
  for (int j = 0; n + j < 16; ++j) list[n + j] = list[j];

  // 3. Best so far.
  uint32_t bestErr = 0xFFFFFFFFu;
  int alpha0 = -1, alpha1 = -1;

  // 4. Eight-level search.
  if (!(mn <= 3 && mx >= 251)) {
    int lo0 = mn + 16;
    if (mn + 24 > mx) {
      int p = ((mn + 16) ^ mx) & 1;
      lo0 = mx - p - 8;
      if (mx < p + 8) lo0 = mn;
    }
    int hi0 = mx - 16;
    if (mx < mn + 32 || mx < 16) {
      hi0 = mn + 16 + ((lo0 ^ mx) & 1);
      if (hi0 > mx) hi0 = mx;
    }
    for (int lo = lo0; lo >= 0; lo -= 2) {
      for (int hi = hi0; hi <= 255; hi += 2) {
        if (hi < lo) continue;
        int level[8];
        for (int k = 0; k < 8; ++k) level[k] = lo + k * (hi - lo) / 7;
        uint32_t err = referenceLevelError(list, level, 8);
        if (counts) ++counts->candidates;
        if (err < bestErr) {
          bestErr = err;
          alpha0 = hi;
          alpha1 = lo;
        }
      }
    }
  }

  // 5. Six-level search.
  if (!(mn >= 9 && mx <= 246)) {
    int l = loEx < hiEx ? loEx : hiEx;
    int h = loEx < hiEx ? hiEx : loEx;
    int lo0 = l + 18;
    if (l + 24 > h) {
      int p = ((l + 18) ^ h) & 1;
      lo0 = h - p - 6;
      if (h < p + 6) lo0 = l;
    }
    int hi0 = h - 18;
    if (h < l + 34 || h < 18) {
      hi0 = l + 16 + ((lo0 ^ h) & 1);
      if (hi0 > h) hi0 = h;
    }
    for (int lo = lo0; lo >= 0; lo -= 2) {
      for (int hi = hi0; hi <= 255; hi += 2) {
        if (hi < lo) continue;
        int level[8];
        for (int k = 0; k < 6; ++k) level[k] = lo + k * (hi - lo) / 5;
        level[6] = 0;
        level[7] = 255;
        uint32_t err = referenceLevelError(list, level, 8);
        if (counts) ++counts->candidates;
        if (err < bestErr) {
          bestErr = err;
          alpha0 = lo;
          alpha1 = hi;
        }
      }
    }
  }

  // 6. The decoder's table.
  int level[8];
  level[0] = alpha0;
  level[1] = alpha1;
  if (alpha0 > alpha1) {
    for (int i = 2; i < 8; ++i) level[i] = alpha1 + (8 - i) * (alpha0 - alpha1) / 7;
  } else {
    for (int i = 2; i < 6; ++i) level[i] = alpha0 + (i - 1) * (alpha1 - alpha0) / 5;
    level[6] = 0;
    level[7] = 255;
  }

  // 7. Indices.
  uint64_t bits = 0;
  for (int k = 0; k < 16; ++k) {
    int index = 0;
    if ((mask >> k) & 1) {
      int nearest = 1 << 20;
      for (int i = 0; i < 8; ++i) {
        int d = std::abs(int(pixels[4 * k + 3]) - level[i]);
        if (d < nearest) {
          nearest = d;
          index = i;
        }
      }
    }
    bits |= uint64_t(index) << (3 * k);
  }
  out[0] = uint8_t(alpha0);
  out[1] = uint8_t(alpha1);
  for (int b = 0; b < 6; ++b) out[2 + b] = uint8_t(bits >> (8 * b));
}

}  // namespace vellum::testing
