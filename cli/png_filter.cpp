#include "cli/png_filter.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vellum::cli {

namespace {

// The magnitude of a filtered byte read as a signed value (128 for 0x80).
inline uint32_t magnitude(uint8_t v) { return v < 128 ? v : 256u - v; }

enum FilterType { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };

// The predictor of one byte from its left (a), upper (b) and upper-left (c) neighbours.
template <int Type>
inline uint8_t predict(uint8_t a, uint8_t b, uint8_t c) {
  if (Type == kNone) return 0;
  if (Type == kSub) return a;
  if (Type == kUp) return b;
  if (Type == kAverage) return uint8_t((unsigned(a) + unsigned(b)) >> 1);
  const int p = int(a) + int(b) - int(c);
  const int pa = p > a ? p - a : a - p, pb = p > b ? p - b : b - p, pc = p > c ? p - c : c - p;
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

#if defined(__SSE2__)
// The same predictors on 16 bytes at once, integer operations giving the scalar's bytes.
template <int Type>
inline __m128i predict16(__m128i a, __m128i b, __m128i c) {
  if (Type == kNone) return _mm_setzero_si128();
  if (Type == kSub) return a;
  if (Type == kUp) return b;
  if (Type == kAverage) {
    // _mm_avg_epu8 rounds up; take off the carried half where a + b is odd.
    return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
  }
  // Paeth in 16-bit lanes: pa = |b - c|, pb = |a - c|, pc = |a + b - 2c|.
  const __m128i zero = _mm_setzero_si128();
  __m128i notA[2], notB[2];
  for (int half = 0; half < 2; ++half) {
    const __m128i a16 = half == 0 ? _mm_unpacklo_epi8(a, zero) : _mm_unpackhi_epi8(a, zero);
    const __m128i b16 = half == 0 ? _mm_unpacklo_epi8(b, zero) : _mm_unpackhi_epi8(b, zero);
    const __m128i c16 = half == 0 ? _mm_unpacklo_epi8(c, zero) : _mm_unpackhi_epi8(c, zero);
    const __m128i bc = _mm_sub_epi16(b16, c16), ac = _mm_sub_epi16(a16, c16);
    const __m128i sum = _mm_add_epi16(bc, ac);
    const __m128i pa = _mm_max_epi16(bc, _mm_sub_epi16(zero, bc));
    const __m128i pb = _mm_max_epi16(ac, _mm_sub_epi16(zero, ac));
    const __m128i pc = _mm_max_epi16(sum, _mm_sub_epi16(zero, sum));
    notA[half] = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
    notB[half] = _mm_cmpgt_epi16(pb, pc);
  }
  // Masks of 0 or -1 keep their value through the signed narrowing.
  const __m128i maskA = _mm_packs_epi16(notA[0], notA[1]), maskB = _mm_packs_epi16(notB[0], notB[1]);
  const __m128i bOrC = _mm_or_si128(_mm_and_si128(maskB, c), _mm_andnot_si128(maskB, b));
  return _mm_or_si128(_mm_and_si128(maskA, bOrC), _mm_andnot_si128(maskA, a));
}
#endif

// One filter over the row: returns its cost, and writes its bytes to `out` when Store. The
// first `bpp` bytes have no left neighbours (a = c = 0) and are done apart, so that the
// loop after them reads its neighbours without a test.
template <int Type, bool Store>
uint64_t runFilter(const uint8_t* row, const uint8_t* above, uint64_t n, uint32_t bpp, uint8_t* out) {
  uint64_t cost = 0;
  const uint64_t head = std::min<uint64_t>(bpp, n);
  for (uint64_t i = 0; i < head; ++i) {
    const uint8_t v = uint8_t(row[i] - predict<Type>(0, above[i], 0));
    if (Store) out[i] = v;
    cost += magnitude(v);
  }
  uint64_t i = head;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  __m128i sums = zero;
  for (; i + 16 <= n; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i - bpp));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + i));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + i - bpp));
    const __m128i v = _mm_sub_epi8(x, predict16<Type>(a, b, c));
    if (Store) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), v);
    // min(v, 256 - v) is the magnitude of v as a signed byte; the sums of absolute
    // differences from zero add them up in two 64-bit lanes.
    sums = _mm_add_epi64(sums, _mm_sad_epu8(_mm_min_epu8(v, _mm_sub_epi8(zero, v)), zero));
  }
  uint64_t lanes[2];
  std::memcpy(lanes, &sums, sizeof lanes);
  cost += lanes[0] + lanes[1];
#endif
  for (; i < n; ++i) {
    const uint8_t v = uint8_t(row[i] - predict<Type>(row[i - bpp], above[i], above[i - bpp]));
    if (Store) out[i] = v;
    cost += magnitude(v);
  }
  return cost;
}

}  // namespace

int filterPngRow(const uint8_t* row, const uint8_t* above, uint64_t n, uint32_t bpp, uint8_t* out) {
  // The costs first, each in one pass that stores nothing; then the winner, once, straight
  // into the output.
  const uint64_t costs[5] = {
      runFilter<kNone, false>(row, above, n, bpp, nullptr),  runFilter<kSub, false>(row, above, n, bpp, nullptr),
      runFilter<kUp, false>(row, above, n, bpp, nullptr),    runFilter<kAverage, false>(row, above, n, bpp, nullptr),
      runFilter<kPaeth, false>(row, above, n, bpp, nullptr),
  };
  int best = 0;
  for (int type = 1; type <= 4; ++type)
    if (costs[type] < costs[best]) best = type;
  out[0] = uint8_t(best);
  uint8_t* bytes = out + 1;
  switch (best) {
    case kNone: if (n > 0) std::memcpy(bytes, row, size_t(n)); break;
    case kSub: runFilter<kSub, true>(row, above, n, bpp, bytes); break;
    case kUp: runFilter<kUp, true>(row, above, n, bpp, bytes); break;
    case kAverage: runFilter<kAverage, true>(row, above, n, bpp, bytes); break;
    default: runFilter<kPaeth, true>(row, above, n, bpp, bytes); break;
  }
  return best;
}

}  // namespace vellum::cli
