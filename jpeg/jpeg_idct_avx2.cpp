// The inverse DCT and range clamp of one block on eight AVX2 lanes. The same float
// operations in the same order as the scalar flow graph (jpeg_idct.cpp), per lane, so every
// sample is bit-identical; -mavx2 brings no fused multiply-add, and contraction is off.
// This file alone is compiled with -mavx2 (jpeg/CMakeLists.txt); the decoder calls it only
// on processors that run AVX2 (jpegDecoderInit). In the Windows builds the assembler turns
// aligned vector moves into unaligned ones: GCC cannot align the stack to 32 bytes there
// and may spill to a misaligned slot.
#include "jpeg/jpeg_idct_avx2.h"

#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace vellum {

#if defined(__AVX2__)

namespace {

// inverseAan of jpeg_idct.cpp on eight lanes.
inline void inverseAan8(__m256* v) {
  const __m256 sqrt2 = _mm256_set1_ps(1.4142135f), c1 = _mm256_set1_ps(1.847759f);
  const __m256 c2 = _mm256_set1_ps(1.0823922f), c3 = _mm256_set1_ps(2.613126f);
  const __m256 d0 = v[0], d1 = v[1], d2 = v[2], d3 = v[3], d4 = v[4], d5 = v[5], d6 = v[6], d7 = v[7];
  const __m256 a0 = _mm256_add_ps(d0, d4), a1 = _mm256_sub_ps(d0, d4);
  const __m256 a3 = _mm256_add_ps(d2, d6);
  const __m256 a2 = _mm256_sub_ps(_mm256_mul_ps(_mm256_sub_ps(d2, d6), sqrt2), a3);
  const __m256 e0 = _mm256_add_ps(a0, a3), e3 = _mm256_sub_ps(a0, a3);
  const __m256 e1 = _mm256_add_ps(a1, a2), e2 = _mm256_sub_ps(a1, a2);
  const __m256 z13 = _mm256_add_ps(d5, d3), z10 = _mm256_sub_ps(d5, d3);
  const __m256 z11 = _mm256_add_ps(d1, d7), z12 = _mm256_sub_ps(d1, d7);
  const __m256 o7 = _mm256_add_ps(z11, z13);
  const __m256 t11 = _mm256_mul_ps(_mm256_sub_ps(z11, z13), sqrt2);
  const __m256 z5 = _mm256_mul_ps(_mm256_add_ps(z10, z12), c1);
  const __m256 t10 = _mm256_sub_ps(z5, _mm256_mul_ps(z12, c2));
  const __m256 t12 = _mm256_sub_ps(z5, _mm256_mul_ps(z10, c3));
  const __m256 o6 = _mm256_sub_ps(t12, o7), o5 = _mm256_sub_ps(t11, o6), o4 = _mm256_sub_ps(t10, o5);
  v[0] = _mm256_add_ps(e0, o7);
  v[1] = _mm256_add_ps(e1, o6);
  v[2] = _mm256_add_ps(e2, o5);
  v[3] = _mm256_add_ps(e3, o4);
  v[4] = _mm256_sub_ps(e3, o4);
  v[5] = _mm256_sub_ps(e2, o5);
  v[6] = _mm256_sub_ps(e1, o6);
  v[7] = _mm256_sub_ps(e0, o7);
}

// v[i] lane j <- v[j] lane i.
inline void transpose8(__m256* v) {
  const __m256 t0 = _mm256_unpacklo_ps(v[0], v[1]), t1 = _mm256_unpackhi_ps(v[0], v[1]);
  const __m256 t2 = _mm256_unpacklo_ps(v[2], v[3]), t3 = _mm256_unpackhi_ps(v[2], v[3]);
  const __m256 t4 = _mm256_unpacklo_ps(v[4], v[5]), t5 = _mm256_unpackhi_ps(v[4], v[5]);
  const __m256 t6 = _mm256_unpacklo_ps(v[6], v[7]), t7 = _mm256_unpackhi_ps(v[6], v[7]);
  const __m256 u0 = _mm256_shuffle_ps(t0, t2, 0x44), u1 = _mm256_shuffle_ps(t0, t2, 0xEE);
  const __m256 u2 = _mm256_shuffle_ps(t1, t3, 0x44), u3 = _mm256_shuffle_ps(t1, t3, 0xEE);
  const __m256 u4 = _mm256_shuffle_ps(t4, t6, 0x44), u5 = _mm256_shuffle_ps(t4, t6, 0xEE);
  const __m256 u6 = _mm256_shuffle_ps(t5, t7, 0x44), u7 = _mm256_shuffle_ps(t5, t7, 0xEE);
  v[0] = _mm256_permute2f128_ps(u0, u4, 0x20);
  v[1] = _mm256_permute2f128_ps(u1, u5, 0x20);
  v[2] = _mm256_permute2f128_ps(u2, u6, 0x20);
  v[3] = _mm256_permute2f128_ps(u3, u7, 0x20);
  v[4] = _mm256_permute2f128_ps(u0, u4, 0x31);
  v[5] = _mm256_permute2f128_ps(u1, u5, 0x31);
  v[6] = _mm256_permute2f128_ps(u2, u6, 0x31);
  v[7] = _mm256_permute2f128_ps(u3, u7, 0x31);
}

}  // namespace

bool inverseDctSamplesAvx2(const int16_t* coefficients, const float* dequant, uint8_t* samples) {
  // Columns: lane c of v[row] is column c, so the flow graph across v[0..7] is the column
  // pass of all eight columns at once. A column whose AC terms are all zero takes its DC
  // in every row (the shortcut), selected per lane.
  __m256 v[8];
  __m128i acBits = _mm_setzero_si128();
  for (int row = 0; row < 8; ++row) {
    const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients + 8 * row));
    if (row > 0) acBits = _mm_or_si128(acBits, raw);
    v[row] = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(raw)), _mm256_loadu_ps(dequant + 8 * row));
  }
  const __m256 acZero = _mm256_castsi256_ps(_mm256_cvtepi16_epi32(_mm_cmpeq_epi16(acBits, _mm_setzero_si128())));
  const __m256 dc = v[0];
  inverseAan8(v);
  for (int row = 0; row < 8; ++row) v[row] = _mm256_blendv_ps(v[row], dc, acZero);
  // Rows: transposed, lane r of v[i] is row r.
  transpose8(v);
  v[0] = _mm256_add_ps(v[0], _mm256_set1_ps(128.5f));  // level shift, plus one half so that truncation rounds
  inverseAan8(v);
  transpose8(v);
  // The range table, computed as in samplesOfBlock: i = truncation & 1023; 0..255 -> i,
  // 256..511 -> 255, 512..1023 -> 0.
  const __m256i low10 = _mm256_set1_epi32(1023), half = _mm256_set1_epi32(511);
  const __m256i indefinite = _mm256_set1_epi32(int32_t(0x80000000u));
  __m256i index[8];
  __m256i outside = _mm256_setzero_si256();
  for (int row = 0; row < 8; ++row) {
    const __m256i t = _mm256_cvttps_epi32(v[row]);
    outside = _mm256_or_si256(outside, _mm256_cmpeq_epi32(t, indefinite));
    const __m256i i = _mm256_and_si256(t, low10);
    index[row] = _mm256_andnot_si256(_mm256_cmpgt_epi32(i, half), i);  // 0..511
  }
  // Values outside the 32-bit range convert to 0x80000000: the caller takes the scalar path.
  if (!_mm256_testz_si256(outside, outside)) return false;
  // Packs work within 128-bit halves: rows 0-3 come out as [r0 0-3, r1 0-3, r2 0-3, r3 0-3 |
  // r0 4-7, ...], put back in order by one dword permutation.
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  for (int row = 0; row < 8; row += 4) {
    const __m256i words01 = _mm256_packs_epi32(index[row], index[row + 1]);
    const __m256i words23 = _mm256_packs_epi32(index[row + 2], index[row + 3]);
    const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(words01, words23), order);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(samples + 8 * row), bytes);
  }
  return true;
}

bool inverseDctAvx2Built() { return true; }

#else

bool inverseDctAvx2Built() { return false; }

bool inverseDctSamplesAvx2(const int16_t*, const float*, uint8_t*) { return false; }

#endif

}  // namespace vellum
