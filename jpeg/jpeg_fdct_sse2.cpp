// The SSE2 forward DCT kernel: one block position at a time, its 4 components in the 4
// lanes of each vector. SSE2 is the baseline of every x86 build (x86_64, and i686 with
// -msse2), so this kernel runs wherever AVX2 does not.
#include "jpeg/jpeg_fdct.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include "jpeg/jpeg_fdct_lanes.h"

namespace vellum {
namespace {

struct Sse2Lanes {
  using F = __m128;
  using I = __m128i;
  static constexpr uint32_t kPositions = 1;

  static F add(F a, F b) { return _mm_add_ps(a, b); }
  static F sub(F a, F b) { return _mm_sub_ps(a, b); }
  static F mul(F a, F b) { return _mm_mul_ps(a, b); }
  static F set1(float v) { return _mm_set1_ps(v); }
  static F toFloat(I v) { return _mm_cvtepi32_ps(v); }
  static I truncate(F v) { return _mm_cvttps_epi32(v); }
  static I zero() { return _mm_setzero_si128(); }
  static I load(const uint8_t* p, uint32_t) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static void store(int16_t* a, int16_t*, I v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(a), v); }
  static I unpackLo8(I a, I b) { return _mm_unpacklo_epi8(a, b); }
  static I unpackHi8(I a, I b) { return _mm_unpackhi_epi8(a, b); }
  static I unpackLo16(I a, I b) { return _mm_unpacklo_epi16(a, b); }
  static I unpackHi16(I a, I b) { return _mm_unpackhi_epi16(a, b); }
  static I unpackLo32(I a, I b) { return _mm_unpacklo_epi32(a, b); }
  static I unpackHi32(I a, I b) { return _mm_unpackhi_epi32(a, b); }
  static I swapHalves(I v) { return _mm_shuffle_epi32(v, 0x4E); }
  static I add16(I a, I b) { return _mm_add_epi16(a, b); }
  static I sub16(I a, I b) { return _mm_sub_epi16(a, b); }
  static I srai32(I v, int n) { return _mm_srai_epi32(v, n); }
  static I packs32(I a, I b) { return _mm_packs_epi32(a, b); }
};

}  // namespace

FdctKernel sse2FdctKernel() { return &FdctLanes<Sse2Lanes>::run; }

}  // namespace vellum

#else

namespace vellum {
FdctKernel sse2FdctKernel() { return nullptr; }
}  // namespace vellum

#endif
