// The cluster searches sixteen lanes at a time in AVX-512 (AVX-512F only). Like the AVX2
// file, this one alone is compiled for its instruction set (-mavx512f, no fused
// multiply-add) and exports only data; clusterSearchAvx512 checks the processor first.
// Native 64-bit builds only: the Windows builds keep to SSE2 and AVX2.
#include "dxt/cluster_search.h"

#if defined(__AVX512F__)
#include <immintrin.h>

namespace vellum::dxt {
namespace {

struct Avx512Lanes {
  using F = __m512;
  using Mask = __mmask16;
  static constexpr int kWidth = 16;
  static constexpr __mmask16 kAll = 0xFFFF;
  static F load(const float* p) { return _mm512_loadu_ps(p); }
  static void store(float* p, F v) { _mm512_storeu_ps(p, v); }
  static F splat(float v) { return _mm512_set1_ps(v); }
  static F laneOffsets() {
    return _mm512_setr_ps(0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f, 8.0f, 9.0f, 10.0f, 11.0f, 12.0f, 13.0f,
                          14.0f, 15.0f);
  }
  static F add(F a, F b) { return _mm512_add_ps(a, b); }
  static F sub(F a, F b) { return _mm512_sub_ps(a, b); }
  static F mul(F a, F b) { return _mm512_mul_ps(a, b); }
  static F div(F a, F b) { return _mm512_div_ps(a, b); }
  // vmaxps / vminps keep the SSE rule (the second operand when unordered): std::max(0, v)
  // and std::min(1, x) exactly, as in the narrower lanes. The all-lanes masked forms are
  // the same instructions; their plain forms make GCC 12 warn about its own placeholder.
  static F clampUnit(F v) {
    const F zero = _mm512_setzero_ps(), one = _mm512_set1_ps(1.0f);
    return _mm512_mask_min_ps(zero, kAll, _mm512_mask_max_ps(zero, kAll, v, zero), one);
  }
  static F truncate(F v) { return _mm512_mask_roundscale_ps(v, kAll, v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC); }
  static Mask less(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_LT_OQ); }
  static Mask both(Mask a, Mask b) { return static_cast<Mask>(a & b); }
  static F select(Mask m, F ifTrue, F ifFalse) { return _mm512_mask_blend_ps(m, ifFalse, ifTrue); }
};

const ClusterSearch kAvx512Search = {searchThreeClusters<Avx512Lanes>, searchFourClusters<Avx512Lanes>};

}  // namespace

const ClusterSearch* const kClusterSearchAvx512Built = &kAvx512Search;

}  // namespace vellum::dxt

#else

namespace vellum::dxt {
const ClusterSearch* const kClusterSearchAvx512Built = nullptr;
}  // namespace vellum::dxt

#endif
