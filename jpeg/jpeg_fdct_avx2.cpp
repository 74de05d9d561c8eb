// The AVX2 forward DCT kernel: two adjacent block positions at a time, one in each 128-bit
// half, the 4 components of a position in its 4 lanes. This file alone is compiled with
// -mavx2 (jpeg/CMakeLists.txt); fastestFdctKernel() calls it only on processors that run
// AVX2. In the Windows builds the assembler turns aligned vector moves into unaligned ones:
// GCC cannot align the stack to 32 bytes there and may spill to a misaligned slot.
#include "jpeg/jpeg_fdct.h"

#if defined(__AVX2__)
#include <immintrin.h>

#include "jpeg/jpeg_fdct_lanes.h"

namespace vellum {
namespace {

struct Avx2Lanes {
  using F = __m256;
  using I = __m256i;
  static constexpr uint32_t kPositions = 2;

  static F add(F a, F b) { return _mm256_add_ps(a, b); }
  static F sub(F a, F b) { return _mm256_sub_ps(a, b); }
  static F mul(F a, F b) { return _mm256_mul_ps(a, b); }
  static F set1(float v) { return _mm256_set1_ps(v); }
  static F toFloat(I v) { return _mm256_cvtepi32_ps(v); }
  static I truncate(F v) { return _mm256_cvttps_epi32(v); }
  static I zero() { return _mm256_setzero_si256(); }
  static I load(const uint8_t* p, uint32_t second) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + second));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
  }
  static void store(int16_t* a, int16_t* b, I v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(a), _mm256_castsi256_si128(v));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(b), _mm256_extracti128_si256(v, 1));
  }
  // Unpacks, shuffles and packs act on each 128-bit half separately: each half is the
  // SSE2 kernel's vector of one position.
  static I unpackLo8(I a, I b) { return _mm256_unpacklo_epi8(a, b); }
  static I unpackHi8(I a, I b) { return _mm256_unpackhi_epi8(a, b); }
  static I unpackLo16(I a, I b) { return _mm256_unpacklo_epi16(a, b); }
  static I unpackHi16(I a, I b) { return _mm256_unpackhi_epi16(a, b); }
  static I unpackLo32(I a, I b) { return _mm256_unpacklo_epi32(a, b); }
  static I unpackHi32(I a, I b) { return _mm256_unpackhi_epi32(a, b); }
  static I swapHalves(I v) { return _mm256_shuffle_epi32(v, 0x4E); }
  static I add16(I a, I b) { return _mm256_add_epi16(a, b); }
  static I sub16(I a, I b) { return _mm256_sub_epi16(a, b); }
  static I srai32(I v, int n) { return _mm256_srai_epi32(v, n); }
  static I packs32(I a, I b) { return _mm256_packs_epi32(a, b); }
};

}  // namespace

FdctKernel avx2FdctKernel() { return &FdctLanes<Avx2Lanes>::run; }

}  // namespace vellum

#else

namespace vellum {
FdctKernel avx2FdctKernel() { return nullptr; }
}  // namespace vellum

#endif
