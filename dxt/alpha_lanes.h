// Sixteen unsigned 8-bit lanes: the sixteen alpha samples of one block, or their distances
// to the nearest level of a candidate table. The endpoint search does all its per-sample
// work in these lanes; every operation is exact integer arithmetic, so the SSE2 form and
// the portable form give the same numbers (the DXT tests run both).
//
// Internal to the DXT compressor.
#pragma once

#include <cstdint>

#if defined(__SSE2__) && !defined(VELLUM_DXT_PORTABLE_LANES)
#define VELLUM_DXT_SSE2_LANES 1
#include <emmintrin.h>
#else
#define VELLUM_DXT_SSE2_LANES 0
#endif

namespace vellum::dxt_lanes {

#if VELLUM_DXT_SSE2_LANES

using Lanes = __m128i;

inline Lanes load(const uint8_t v[16]) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(v)); }
inline Lanes splat(uint32_t v) { return _mm_set1_epi8(static_cast<char>(v)); }
// max(a - b, 0) in every lane.
inline Lanes subSat(Lanes a, Lanes b) { return _mm_subs_epu8(a, b); }
inline Lanes minOf(Lanes a, Lanes b) { return _mm_min_epu8(a, b); }
// Callers guarantee that no lane exceeds 255.
inline Lanes add(Lanes a, Lanes b) { return _mm_add_epi8(a, b); }
inline Lanes absDiff(Lanes a, Lanes b) { return _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a)); }

// Sum of the squares of the sixteen lanes (at most 16 * 255^2, well inside 32 bits):
// widened to 16 bits and squared-and-paired by pmaddwd, four 32-bit sums at a time.
inline uint32_t sumOfSquares(Lanes d) {
  const __m128i zero = _mm_setzero_si128();
  __m128i low = _mm_unpacklo_epi8(d, zero), high = _mm_unpackhi_epi8(d, zero);
  __m128i sums = _mm_add_epi32(_mm_madd_epi16(low, low), _mm_madd_epi16(high, high));
  sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0x4E));
  sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0xB1));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(sums));
}

#else

struct Lanes {
  uint8_t v[16];
};

inline Lanes load(const uint8_t v[16]) {
  Lanes r;
  for (int i = 0; i < 16; ++i) r.v[i] = v[i];
  return r;
}
inline Lanes splat(uint32_t v) {
  Lanes r;
  for (auto& lane : r.v) lane = static_cast<uint8_t>(v);
  return r;
}
inline Lanes subSat(Lanes a, Lanes b) {
  Lanes r;
  for (int i = 0; i < 16; ++i) r.v[i] = static_cast<uint8_t>(a.v[i] > b.v[i] ? a.v[i] - b.v[i] : 0);
  return r;
}
inline Lanes minOf(Lanes a, Lanes b) {
  Lanes r;
  for (int i = 0; i < 16; ++i) r.v[i] = a.v[i] < b.v[i] ? a.v[i] : b.v[i];
  return r;
}
inline Lanes add(Lanes a, Lanes b) {
  Lanes r;
  for (int i = 0; i < 16; ++i) r.v[i] = static_cast<uint8_t>(a.v[i] + b.v[i]);
  return r;
}
inline Lanes absDiff(Lanes a, Lanes b) {
  Lanes r;
  for (int i = 0; i < 16; ++i) r.v[i] = static_cast<uint8_t>(a.v[i] > b.v[i] ? a.v[i] - b.v[i] : b.v[i] - a.v[i]);
  return r;
}
inline uint32_t sumOfSquares(Lanes d) {
  uint32_t sum = 0;
  for (uint32_t x : d.v) sum += x * x;
  return sum;
}

#endif

}  // namespace vellum::dxt_lanes
